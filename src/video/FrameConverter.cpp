#include "video/FrameConverter.h"

#include <libyuv.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <new>

namespace tesmo {

// One picture in memory as libyuv takes it: each plane at its top row, with the step
// to the next row (negative for a bottom-up DIB).
struct FramePlanes {
  unsigned char* plane[3] = {};
  int stride[3] = {};
  int width = 0, height = 0;
};

namespace {

using Byte = unsigned char;

// 65535 keeps every row and plane offset far from overflow; no camera comes close.
constexpr int32_t kMaxSide = 65535;

bool IsFullRange(PixelFormat format) {
  return format == PixelFormat::Jpeg420 || format == PixelFormat::Jpeg422 ||
         format == PixelFormat::Jpeg444;
}

// Planar formats whose planes libyuv's I420 functions take as they lie.
bool IsI420Planes(PixelFormat format) {
  return format == PixelFormat::I420 || format == PixelFormat::Yv12 ||
         format == PixelFormat::Jpeg420;
}

int BytesPerPixel(PixelFormat rgb) {
  switch (rgb) {
    case PixelFormat::Rgb24: return 3;
    case PixelFormat::Rgb32: return 4;
    default: return 2;
  }
}

int64_t RgbStride(PixelFormat format, int64_t width) {
  return (width * BytesPerPixel(format) * 8 + 31) / 32 * 4;
}

// The chroma planes' size of a planar format.
int64_t ChromaWidth(PixelFormat format, int64_t width) {
  return format == PixelFormat::Jpeg444 ? width : (width + 1) / 2;
}
int64_t ChromaHeight(PixelFormat format, int64_t height) {
  return format == PixelFormat::Jpeg422 || format == PixelFormat::Jpeg444 ? height
                                                                          : (height + 1) / 2;
}
int ChromaShiftX(PixelFormat format) { return format == PixelFormat::Jpeg444 ? 0 : 1; }
int ChromaShiftY(PixelFormat format) {
  return format == PixelFormat::Jpeg422 || format == PixelFormat::Jpeg444 ? 0 : 1;
}

int64_t FrameBytes64(const FrameFormat& f) {
  const int64_t width = f.width, height = f.height;
  if (IsRgb(f.format)) return RgbStride(f.format, f.width) * height;
  switch (f.format) {
    case PixelFormat::Yuy2:
    case PixelFormat::Uyvy: return ((width + 1) / 2) * 4 * height;
    default:
      return width * height + 2 * ChromaWidth(f.format, width) * ChromaHeight(f.format, height);
  }
}

int32_t I420Bytes(int32_t width, int32_t height) {
  return width * height + 2 * ((width + 1) / 2) * ((height + 1) / 2);
}


// A tight I420 picture at `data`: Y, then U, then V.
FramePlanes I420At(Byte* data, int width, int height) {
  FramePlanes p;
  const int chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
  p.plane[0] = data;
  p.plane[1] = data + width * height;
  p.plane[2] = p.plane[1] + chromaWidth * chromaHeight;
  p.stride[0] = width;
  p.stride[1] = p.stride[2] = chromaWidth;
  p.width = width;
  p.height = height;
  return p;
}

// A tight ARGB picture at `data`.
FramePlanes ArgbAt(Byte* data, int width, int height) {
  FramePlanes p;
  p.plane[0] = data;
  p.stride[0] = width * 4;
  p.width = width;
  p.height = height;
  return p;
}

// The part `crop` of a camera frame, with U before V whatever the frame's order.
FramePlanes SourcePicture(const FrameFormat& f, const Byte* frame, const CropRect& crop) {
  Byte* base = const_cast<Byte*>(frame);  // libyuv's sources are const; ours too
  FramePlanes p;
  p.width = crop.width;
  p.height = crop.height;
  const int width = f.width, height = f.height;
  if (IsRgb(f.format)) {
    const int stride = static_cast<int>(RgbStride(f.format, width));
    Byte* top = f.topDown ? base : base + static_cast<int64_t>(height - 1) * stride;
    p.stride[0] = f.topDown ? stride : -stride;
    p.plane[0] = top + static_cast<int64_t>(crop.y) * p.stride[0] +
                 static_cast<int64_t>(crop.x) * BytesPerPixel(f.format);
    return p;
  }
  switch (f.format) {
    case PixelFormat::Yuy2:
    case PixelFormat::Uyvy:
      p.stride[0] = (width + 1) / 2 * 4;
      p.plane[0] = base + static_cast<int64_t>(crop.y) * p.stride[0] + crop.x * 2;
      return p;
    case PixelFormat::Nv12:
      p.stride[0] = width;
      p.stride[1] = (width + 1) / 2 * 2;
      p.plane[0] = base + static_cast<int64_t>(crop.y) * width + crop.x;
      p.plane[1] = base + static_cast<int64_t>(width) * height +
                   static_cast<int64_t>(crop.y / 2) * p.stride[1] + crop.x;
      return p;
    default: {
      const int chromaWidth = static_cast<int>(ChromaWidth(f.format, width));
      const int64_t chromaPlane = chromaWidth * ChromaHeight(f.format, height);
      Byte* first = base + static_cast<int64_t>(width) * height;
      Byte* second = first + chromaPlane;
      if (f.format == PixelFormat::Yv12) std::swap(first, second);
      const int64_t chromaOffset =
          static_cast<int64_t>(crop.y >> ChromaShiftY(f.format)) * chromaWidth +
          (crop.x >> ChromaShiftX(f.format));
      p.stride[0] = width;
      p.stride[1] = p.stride[2] = chromaWidth;
      p.plane[0] = base + static_cast<int64_t>(crop.y) * width + crop.x;
      p.plane[1] = first + chromaOffset;
      p.plane[2] = second + chromaOffset;
      return p;
    }
  }
}

// The host's frame: RGB as a bottom-up DIB of tight rows, I420 as tight planes.
FramePlanes TargetPicture(PixelFormat target, Byte* frame, int width, int height) {
  if (target == PixelFormat::I420) return I420At(frame, width, height);
  FramePlanes p;
  const int rowBytes = width * BytesPerPixel(target);
  p.plane[0] = frame + static_cast<int64_t>(height - 1) * rowBytes;
  p.stride[0] = -rowBytes;
  p.width = width;
  p.height = height;
  return p;
}

// Applies `mask` (OR, or AND) to every pixel of a picture, eight bytes at a time:
// two RGB32 or four RGB555 pixels per step, then the row's rest.
template <bool Or>
void MaskRows(const FramePlanes& picture, int bytesPerPixel, uint64_t mask) {
  const size_t rowBytes = static_cast<size_t>(picture.width) * bytesPerPixel;
  for (int y = 0; y < picture.height; ++y) {
    Byte* row = picture.plane[0] + static_cast<int64_t>(y) * picture.stride[0];
    size_t x = 0;
    for (; x + 8 <= rowBytes; x += 8) {
      uint64_t word;
      std::memcpy(&word, row + x, 8);
      word = Or ? word | mask : word & mask;
      std::memcpy(row + x, &word, 8);
    }
    for (; x < rowBytes; ++x) {
      const Byte part = static_cast<Byte>(mask >> (8 * (x % 8)));
      row[x] = Or ? row[x] | part : row[x] & part;
    }
  }
}

// Sets every pixel's fourth byte: an RGB32 host frame is opaque.
void MakeOpaque(const FramePlanes& argb) { MaskRows<true>(argb, 4, 0xFF000000FF000000ull); }

// libyuv's 1555 keeps an alpha bit where RGB555 has an unused one, kept 0.
void ClearTopBits(const FramePlanes& rgb555) { MaskRows<false>(rgb555, 2, 0x7FFF7FFF7FFF7FFFull); }

// Full range (JPEG) into limited range, one plane: luma 0..255 into 16..235, chroma
// into 16..240 about 128, rounded; in fixed point, which the compiler vectorises.
void LimitRange(const Byte* from, int fromStride, Byte* to, int toStride, int width, int height,
                bool luma) {
  const uint32_t scale = luma ? 56284 : 57569;      // 219/255 or 224/255, << 16
  const uint32_t offset = luma ? 1081344 : 1052544;  // the offset and a half, << 16
  for (int y = 0; y < height; ++y) {
    const Byte* in = from + static_cast<int64_t>(y) * fromStride;
    Byte* out = to + static_cast<int64_t>(y) * toStride;
    for (int x = 0; x < width; ++x) out[x] = static_cast<Byte>((in[x] * scale + offset) >> 16);
  }
}

void LimitRange(const FramePlanes& from, const FramePlanes& to) {
  const int chromaWidth = (to.width + 1) / 2, chromaHeight = (to.height + 1) / 2;
  LimitRange(from.plane[0], from.stride[0], to.plane[0], to.stride[0], to.width, to.height, true);
  for (int i = 1; i < 3; ++i)
    LimitRange(from.plane[i], from.stride[i], to.plane[i], to.stride[i], chromaWidth, chromaHeight,
               false);
}

// Any source into an opaque ARGB picture of the same size.
void ToArgb(PixelFormat format, const FramePlanes& in, const FramePlanes& out) {
  const int w = in.width, h = in.height;
  Byte* d = out.plane[0];
  const int ds = out.stride[0];
  switch (format) {
    case PixelFormat::Yuy2: libyuv::YUY2ToARGB(in.plane[0], in.stride[0], d, ds, w, h); break;
    case PixelFormat::Uyvy: libyuv::UYVYToARGB(in.plane[0], in.stride[0], d, ds, w, h); break;
    case PixelFormat::Nv12:
      libyuv::NV12ToARGB(in.plane[0], in.stride[0], in.plane[1], in.stride[1], d, ds, w, h);
      break;
    case PixelFormat::I420:
    case PixelFormat::Yv12:
      libyuv::I420ToARGB(in.plane[0], in.stride[0], in.plane[1], in.stride[1], in.plane[2],
                         in.stride[2], d, ds, w, h);
      break;
    case PixelFormat::Jpeg420:
      libyuv::J420ToARGB(in.plane[0], in.stride[0], in.plane[1], in.stride[1], in.plane[2],
                         in.stride[2], d, ds, w, h);
      break;
    case PixelFormat::Jpeg422:
      libyuv::J422ToARGB(in.plane[0], in.stride[0], in.plane[1], in.stride[1], in.plane[2],
                         in.stride[2], d, ds, w, h);
      break;
    case PixelFormat::Jpeg444:
      libyuv::J444ToARGB(in.plane[0], in.stride[0], in.plane[1], in.stride[1], in.plane[2],
                         in.stride[2], d, ds, w, h);
      break;
    case PixelFormat::Rgb24: libyuv::RGB24ToARGB(in.plane[0], in.stride[0], d, ds, w, h); break;
    case PixelFormat::Rgb32:
      libyuv::ARGBCopy(in.plane[0], in.stride[0], d, ds, w, h);
      MakeOpaque(out);
      break;
    case PixelFormat::Rgb555:
      libyuv::ARGB1555ToARGB(in.plane[0], in.stride[0], d, ds, w, h);
      MakeOpaque(out);  // the unused top bit would become the alpha
      break;
    case PixelFormat::Rgb565: libyuv::RGB565ToARGB(in.plane[0], in.stride[0], d, ds, w, h); break;
  }
}

// Any source into an I420 picture of the same size, in the source's own range.
void ToI420(PixelFormat format, const FramePlanes& in, const FramePlanes& out) {
  const int w = in.width, h = in.height;
  Byte* const* d = out.plane;
  const int* ds = out.stride;
  switch (format) {
    case PixelFormat::Yuy2:
      libyuv::YUY2ToI420(in.plane[0], in.stride[0], d[0], ds[0], d[1], ds[1], d[2], ds[2], w, h);
      break;
    case PixelFormat::Uyvy:
      libyuv::UYVYToI420(in.plane[0], in.stride[0], d[0], ds[0], d[1], ds[1], d[2], ds[2], w, h);
      break;
    case PixelFormat::Nv12:
      libyuv::NV12ToI420(in.plane[0], in.stride[0], in.plane[1], in.stride[1], d[0], ds[0], d[1],
                         ds[1], d[2], ds[2], w, h);
      break;
    case PixelFormat::I420:
    case PixelFormat::Yv12:
    case PixelFormat::Jpeg420:
      libyuv::I420Copy(in.plane[0], in.stride[0], in.plane[1], in.stride[1], in.plane[2],
                       in.stride[2], d[0], ds[0], d[1], ds[1], d[2], ds[2], w, h);
      break;
    case PixelFormat::Jpeg422:
      libyuv::I422ToI420(in.plane[0], in.stride[0], in.plane[1], in.stride[1], in.plane[2],
                         in.stride[2], d[0], ds[0], d[1], ds[1], d[2], ds[2], w, h);
      break;
    case PixelFormat::Jpeg444:
      libyuv::I444ToI420(in.plane[0], in.stride[0], in.plane[1], in.stride[1], in.plane[2],
                         in.stride[2], d[0], ds[0], d[1], ds[1], d[2], ds[2], w, h);
      break;
    case PixelFormat::Rgb24:
      libyuv::RGB24ToI420(in.plane[0], in.stride[0], d[0], ds[0], d[1], ds[1], d[2], ds[2], w, h);
      break;
    case PixelFormat::Rgb32:
      libyuv::ARGBToI420(in.plane[0], in.stride[0], d[0], ds[0], d[1], ds[1], d[2], ds[2], w, h);
      break;
    case PixelFormat::Rgb555:
      libyuv::ARGB1555ToI420(in.plane[0], in.stride[0], d[0], ds[0], d[1], ds[1], d[2], ds[2], w,
                             h);
      break;
    case PixelFormat::Rgb565:
      libyuv::RGB565ToI420(in.plane[0], in.stride[0], d[0], ds[0], d[1], ds[1], d[2], ds[2], w, h);
      break;
  }
}

// An opaque ARGB picture into the host's RGB24, RGB555 or I420 (RGB32 is the picture).
void FromArgb(const FramePlanes& in, PixelFormat target, const FramePlanes& out) {
  const int w = in.width, h = in.height;
  Byte* const* d = out.plane;
  const int* ds = out.stride;
  switch (target) {
    case PixelFormat::Rgb24: libyuv::ARGBToRGB24(in.plane[0], in.stride[0], d[0], ds[0], w, h); break;
    case PixelFormat::Rgb555:
      libyuv::ARGBToARGB1555(in.plane[0], in.stride[0], d[0], ds[0], w, h);
      ClearTopBits(out);
      break;
    case PixelFormat::I420:
      libyuv::ARGBToI420(in.plane[0], in.stride[0], d[0], ds[0], d[1], ds[1], d[2], ds[2], w, h);
      break;
    default: libyuv::ARGBCopy(in.plane[0], in.stride[0], d[0], ds[0], w, h); break;
  }
}

// Whether libyuv turns this source into this target of the same size in one call
// (for RGB555 with the top bits cleared after). The other pairs go through ARGB.
bool ConvertsDirectly(PixelFormat source, PixelFormat target) {
  if (target == PixelFormat::I420 || target == PixelFormat::Rgb32) return true;
  if (source == target) return true;
  switch (source) {
    case PixelFormat::I420:
    case PixelFormat::Yv12: return true;  // to RGB24 and RGB555
    case PixelFormat::Nv12:
    case PixelFormat::Jpeg420:
    case PixelFormat::Jpeg422:
    case PixelFormat::Jpeg444: return target == PixelFormat::Rgb24;
    default: return false;
  }
}

// The one-call conversions ConvertsDirectly names, at the same size.
void ConvertDirectly(PixelFormat source, const FramePlanes& in, PixelFormat target,
                     const FramePlanes& out) {
  const int w = in.width, h = in.height;
  Byte* const* d = out.plane;
  const int* ds = out.stride;
  if (target == PixelFormat::I420) {
    ToI420(source, in, out);
    if (IsFullRange(source)) LimitRange(out, out);
    return;
  }
  if (target == PixelFormat::Rgb32) {
    ToArgb(source, in, out);
    return;
  }
  if (source == target) {
    // Both bottom-up: copied in memory order, so that tight rows go in one copy.
    const int rowBytes = w * BytesPerPixel(target);
    if (in.stride[0] < 0 && ds[0] < 0)
      libyuv::CopyPlane(in.plane[0] + static_cast<int64_t>(h - 1) * in.stride[0], -in.stride[0],
                        d[0] + static_cast<int64_t>(h - 1) * ds[0], -ds[0], rowBytes, h);
    else
      libyuv::CopyPlane(in.plane[0], in.stride[0], d[0], ds[0], rowBytes, h);
    if (target == PixelFormat::Rgb555) ClearTopBits(out);
    return;
  }
  const libyuv::YuvConstants* full = &libyuv::kYuvJPEGConstants;
  switch (source) {
    case PixelFormat::I420:
    case PixelFormat::Yv12:
      if (target == PixelFormat::Rgb24) {
        libyuv::I420ToRGB24(in.plane[0], in.stride[0], in.plane[1], in.stride[1], in.plane[2],
                            in.stride[2], d[0], ds[0], w, h);
      } else {
        libyuv::I420ToARGB1555(in.plane[0], in.stride[0], in.plane[1], in.stride[1], in.plane[2],
                               in.stride[2], d[0], ds[0], w, h);
        ClearTopBits(out);
      }
      break;
    case PixelFormat::Nv12:
      libyuv::NV12ToRGB24(in.plane[0], in.stride[0], in.plane[1], in.stride[1], d[0], ds[0], w, h);
      break;
    case PixelFormat::Jpeg420:
      libyuv::I420ToRGB24Matrix(in.plane[0], in.stride[0], in.plane[1], in.stride[1], in.plane[2],
                                in.stride[2], d[0], ds[0], full, w, h);
      break;
    case PixelFormat::Jpeg422:
      libyuv::I422ToRGB24Matrix(in.plane[0], in.stride[0], in.plane[1], in.stride[1], in.plane[2],
                                in.stride[2], d[0], ds[0], full, w, h);
      break;
    case PixelFormat::Jpeg444:
      libyuv::I444ToRGB24Matrix(in.plane[0], in.stride[0], in.plane[1], in.stride[1], in.plane[2],
                                in.stride[2], d[0], ds[0], full, w, h);
      break;
    default: break;
  }
}

// Rows top .. top + rows of a picture in `format`; its chroma planes, where it has
// them, from their own row of that height. `top` is even, so 4:2:0 chroma starts
// on its own row.
FramePlanes RowsOf(const FramePlanes& picture, PixelFormat format, int top, int rows) {
  FramePlanes part = picture;
  part.height = rows;
  part.plane[0] += static_cast<int64_t>(top) * picture.stride[0];
  for (int i = 1; i < 3; ++i)
    if (part.plane[i])
      part.plane[i] += static_cast<int64_t>(top >> ChromaShiftY(format)) * picture.stride[i];
  return part;
}

}  // namespace

bool IsRgb(PixelFormat format) {
  return format == PixelFormat::Rgb24 || format == PixelFormat::Rgb32 ||
         format == PixelFormat::Rgb555 || format == PixelFormat::Rgb565;
}

CropRect CentreCrop(int32_t sourceWidth, int32_t sourceHeight, int32_t targetWidth,
                    int32_t targetHeight) {
  CropRect crop{0, 0, sourceWidth, sourceHeight};
  if (sourceWidth <= 0 || sourceHeight <= 0 || targetWidth <= 0 || targetHeight <= 0) return crop;
  const int64_t across = int64_t{sourceWidth} * targetHeight;
  const int64_t down = int64_t{sourceHeight} * targetWidth;
  // Rounded to the nearest even length, and never to nothing.
  auto evenPart = [](int64_t numerator, int64_t denominator) {
    const int64_t even = (numerator + denominator) / (2 * denominator) * 2;
    return static_cast<int32_t>(std::max<int64_t>(even, 2));
  };
  if (across > down) {  // wider than the target: the sides go
    const int32_t width = evenPart(down, targetHeight);
    if (width < sourceWidth) {
      crop.width = width;
      crop.x = (sourceWidth - width) / 2 / 2 * 2;
    }
  } else if (across < down) {  // taller: the top and bottom go
    const int32_t height = evenPart(across, targetWidth);
    if (height < sourceHeight) {
      crop.height = height;
      crop.y = (sourceHeight - height) / 2 / 2 * 2;
    }
  }
  return crop;
}

int32_t SourceFrameBytes(const FrameFormat& format) {
  if (format.width <= 0 || format.height <= 0 || format.width > kMaxSide ||
      format.height > kMaxSide)
    return -1;
  const int64_t bytes = FrameBytes64(format);
  return bytes > INT32_MAX ? -1 : static_cast<int32_t>(bytes);
}

int32_t TargetFrameBytes(PixelFormat target, int32_t width, int32_t height) {
  if (width <= 0 || height <= 0 || width > kMaxSide || height > kMaxSide) return -1;
  int64_t bytes;
  switch (target) {
    case PixelFormat::Rgb24:
    case PixelFormat::Rgb32:
    case PixelFormat::Rgb555: bytes = int64_t{width} * height * BytesPerPixel(target); break;
    case PixelFormat::I420:
      if (width % 2 != 0 || height % 2 != 0) return -1;
      bytes = int64_t{width} * height * 3 / 2;
      break;
    default: return -1;
  }
  return bytes > INT32_MAX ? -1 : static_cast<int32_t>(bytes);
}

bool FrameConverter::Configure(const FrameFormat& source, PixelFormat target) {
  return Configure(source, target, source.width, source.height);
}

bool FrameConverter::Configure(const FrameFormat& source, PixelFormat target,
                               int32_t targetWidth, int32_t targetHeight) {
  sourceBytes = targetBytes = -1;
  cropped.clear();
  scaled.clear();
  strip.clear();
  const int32_t fromBytes = SourceFrameBytes(source);
  const int32_t toBytes = TargetFrameBytes(target, targetWidth, targetHeight);
  if (fromBytes < 0 || toBytes < 0) return false;
  from = source;
  if (!IsRgb(from.format)) from.topDown = true;
  to = target;
  toWidth = targetWidth;
  toHeight = targetHeight;
  crop = CentreCrop(source.width, source.height, targetWidth, targetHeight);
  // Every scratch picture is sized here, once per Open: Convert never allocates.
  // The sizes are reckoned in 64 bits: the ARGB picture of a large I420 target passes
  // 4 GiB, which a 32-bit size_t would wrap into a buffer too small for it. A picture
  // the address space cannot hold, or the heap cannot give, refuses the setting.
  const bool rgbScaler = IsRgb(from.format);
  int64_t croppedBytes = 0, scaledBytes = 0, stripBytes = 0;
  if (Scales()) {
    // The scaler takes ARGB (RGB sources) or I420 (YUV sources); a source already in
    // that layout is scaled where it lies.
    if (rgbScaler && from.format != PixelFormat::Rgb32)
      croppedBytes = int64_t{crop.width} * crop.height * 4;
    else if (!rgbScaler && !IsI420Planes(from.format))
      croppedBytes = I420Bytes(crop.width, crop.height);
    if (!ScalesIntoTarget())
      scaledBytes = rgbScaler ? int64_t{toWidth} * toHeight * 4 : I420Bytes(toWidth, toHeight);
  }
  // The last step through ARGB goes strip by strip.
  if (!ConvertsDirectly(LastStepSource(), target)) stripBytes = int64_t{toWidth} * kStripRows * 4;
  constexpr int64_t kLargest = PTRDIFF_MAX;
  if (croppedBytes > kLargest || scaledBytes > kLargest || stripBytes > kLargest) return false;
  try {
    cropped.resize(static_cast<size_t>(croppedBytes));
    scaled.resize(static_cast<size_t>(scaledBytes));
    strip.resize(static_cast<size_t>(stripBytes));
  } catch (const std::bad_alloc&) {
    cropped = {};
    scaled = {};
    strip = {};
    return false;
  }
  sourceBytes = fromBytes;
  targetBytes = toBytes;
  return true;
}

PixelFormat FrameConverter::LastStepSource() const {
  if (!Scales()) return from.format;
  // After the scale: ARGB, or I420 in the source's range.
  if (IsRgb(from.format)) return PixelFormat::Rgb32;
  return IsFullRange(from.format) ? PixelFormat::Jpeg420 : PixelFormat::I420;
}

bool FrameConverter::ScalesIntoTarget() const {
  return IsRgb(from.format) ? to == PixelFormat::Rgb32
                            : to == PixelFormat::I420 && !IsFullRange(from.format);
}

void FrameConverter::ConvertRows(PixelFormat format, const FramePlanes& in, const FramePlanes& out) {
  // One call where libyuv has one and nothing follows it. Otherwise a strip of rows
  // at a time, so that the second pass (through ARGB, or the mask of RGB555's top
  // bit or RGB32's fourth byte) finds the rows still in the cache.
  const bool secondPass = !ConvertsDirectly(format, to) || to == PixelFormat::Rgb555 ||
                          (to == PixelFormat::Rgb32 &&
                           (format == PixelFormat::Rgb32 || format == PixelFormat::Rgb555)) ||
                          (to == PixelFormat::I420 && IsFullRange(format));
  if (!secondPass) {
    ConvertDirectly(format, in, to, out);
    return;
  }
  for (int top = 0; top < in.height; top += kStripRows) {
    const int rows = std::min(kStripRows, in.height - top);
    const FramePlanes inRows = RowsOf(in, format, top, rows);
    const FramePlanes outRows = RowsOf(out, to, top, rows);
    if (ConvertsDirectly(format, to)) {
      ConvertDirectly(format, inRows, to, outRows);
    } else {
      const FramePlanes argb = ArgbAt(strip.data(), in.width, rows);
      ToArgb(format, inRows, argb);
      FromArgb(argb, to, outRows);
    }
  }
}

void FrameConverter::Convert(const unsigned char* source, unsigned char* target) {
  if (!IsConfigured()) return;
  const FramePlanes in = SourcePicture(from, source, crop);
  const FramePlanes out = TargetPicture(to, target, toWidth, toHeight);
  if (!Scales()) {
    ConvertRows(from.format, in, out);
    return;
  }
  if (IsRgb(from.format)) {
    FramePlanes argbIn = in;
    if (from.format != PixelFormat::Rgb32) {
      argbIn = ArgbAt(cropped.data(), crop.width, crop.height);
      ToArgb(from.format, in, argbIn);
    }
    const FramePlanes argbOut = ScalesIntoTarget() ? out : ArgbAt(scaled.data(), toWidth, toHeight);
    libyuv::ARGBScale(argbIn.plane[0], argbIn.stride[0], crop.width, crop.height,
                      argbOut.plane[0], argbOut.stride[0], toWidth, toHeight, libyuv::kFilterBox);
    if (ScalesIntoTarget()) {
      MakeOpaque(out);  // an RGB32 camera's fourth byte came along
    } else {
      FromArgb(argbOut, to, out);
    }
    return;
  }
  FramePlanes yuvIn = in;
  if (!IsI420Planes(from.format)) {
    yuvIn = I420At(cropped.data(), crop.width, crop.height);
    ToI420(from.format, in, yuvIn);
  }
  const FramePlanes yuvOut = ScalesIntoTarget() ? out : I420At(scaled.data(), toWidth, toHeight);
  libyuv::I420Scale(yuvIn.plane[0], yuvIn.stride[0], yuvIn.plane[1], yuvIn.stride[1],
                    yuvIn.plane[2], yuvIn.stride[2], crop.width, crop.height, yuvOut.plane[0],
                    yuvOut.stride[0], yuvOut.plane[1], yuvOut.stride[1], yuvOut.plane[2],
                    yuvOut.stride[2], toWidth, toHeight, libyuv::kFilterBox);
  if (!ScalesIntoTarget()) ConvertRows(LastStepSource(), yuvOut, out);
}

}  // namespace tesmo
