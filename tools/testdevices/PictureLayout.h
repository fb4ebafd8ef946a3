// The test camera's picture and the pixel layouts it is stored in: one rule that the camera
// draws from, the colour converter reads with, and a test reads a delivered frame back with.
// Portable (no platform headers), so a camera on another platform can draw the same picture.
#pragma once
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace testdevices {

enum class PixelFormat { Rgb24, Rgb32, Rgb555, Rgb565, I420, Yv12, Nv12, Yuy2, Uyvy };

inline int BitsPerPixel(PixelFormat format) {
  switch (format) {
    case PixelFormat::Rgb24: return 24;
    case PixelFormat::Rgb32: return 32;
    case PixelFormat::I420:
    case PixelFormat::Yv12:
    case PixelFormat::Nv12: return 12;
    default: return 16;
  }
}

inline bool IsRgb(PixelFormat format) {
  return format == PixelFormat::Rgb24 || format == PixelFormat::Rgb32 ||
         format == PixelFormat::Rgb555 || format == PixelFormat::Rgb565;
}

inline bool IsPlanar(PixelFormat format) {
  return format == PixelFormat::I420 || format == PixelFormat::Yv12 || format == PixelFormat::Nv12;
}

// Bytes from one row to the next as a device stores it: DIB rows are DWORD aligned, packed
// YUV rows are two bytes a pixel, planar layouts give the luma plane's rows (one byte a pixel).
inline long RowBytes(PixelFormat format, int width) {
  if (IsPlanar(format)) return width;
  if (!IsRgb(format)) return 2L * width;
  return (long(width) * BitsPerPixel(format) + 31) / 32 * 4;
}

// A whole frame; planar chroma is subsampled 2x2 (rounded down, as the layouts' users do).
inline long FrameBytes(PixelFormat format, int width, int height, long rowBytes = 0) {
  const long rows = std::labs(height);
  if (rowBytes <= 0) rowBytes = RowBytes(format, width);
  if (IsPlanar(format)) return rowBytes * rows + 2 * (rowBytes / 2) * (rows / 2);
  return rowBytes * rows;
}

struct Rgb {
  uint8_t r, g, b;
};

// BT.601, studio range: Y 16..235, U and V 16..240 around 128.
inline uint8_t LumaOf(Rgb c) { return uint8_t((66 * c.r + 129 * c.g + 25 * c.b + 128) / 256 + 16); }
inline uint8_t ChromaUOf(Rgb c) {
  return uint8_t((-38 * c.r - 74 * c.g + 112 * c.b + 128) / 256 + 128);
}
inline uint8_t ChromaVOf(Rgb c) {
  return uint8_t((112 * c.r - 94 * c.g - 18 * c.b + 128) / 256 + 128);
}
inline Rgb RgbOfYuv(int y, int u, int v) {
  auto clamp = [](int value) { return uint8_t(std::min(255, std::max(0, value))); };
  const int c = 298 * (y - 16), d = u - 128, e = v - 128;
  return {clamp((c + 409 * e + 128) >> 8), clamp((c - 100 * d - 208 * e + 128) >> 8),
          clamp((c + 516 * d + 128) >> 8)};
}

// ---- The picture ----
// Eight colour bars scrolling left kBarShift pixels a frame, a white band of kBandRows rows
// moving down kBandStep rows a frame, and the frame number in black (0) and white (1) cells.
constexpr Rgb kBarColours[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                                {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
constexpr int kBarShift = 4, kBandRows = 8, kBandStep = 2;

// The cells: kCellRows rows of kCellColumns, starting one cell in from the top-left corner, so
// neither the stamp in a frame's first bytes (top-left or, bottom-up, bottom-left) nor a
// picture edge touches one. Cell i (row by row) is bit i: bits 0..23 the frame number's low
// 24 bits, bits 24..31 a check byte, so an all-black or all-white area reads as no number.
// Cells are 16 pixels square from 160x96 up, 8 pixels from 80x48 up, absent below that;
// both sizes sit on multiples of 8 so 4:2:0 chroma and JPEG blocks never straddle two cells.
constexpr int kCellColumns = 8, kCellRows = 4, kNumberBits = 24;

inline int CellSize(int width, int height) {
  const int rows = std::abs(height);
  for (int size : {16, 8})
    if (width >= (kCellColumns + 2) * size && rows >= (kCellRows + 2) * size) return size;
  return 0;
}

inline uint32_t CellBits(uint32_t frameNumber) {
  const uint32_t number = frameNumber & 0xffffff;
  const uint32_t check = ~(number ^ (number >> 8) ^ (number >> 16)) & 0xff;
  return number | check << 24;
}

// The cell that covers picture pixel (x, y), or -1.
inline int CellAt(int x, int y, int cellSize) {
  if (cellSize == 0 || x < cellSize || y < cellSize) return -1;
  const int column = x / cellSize - 1, row = y / cellSize - 1;
  if (column >= kCellColumns || row >= kCellRows) return -1;
  return row * kCellColumns + column;
}

inline int BandTop(int height, uint32_t frameNumber) {
  const int rows = std::abs(height);
  return rows > 0 ? int(uint64_t(frameNumber) * kBandStep % uint64_t(rows)) : 0;
}

inline int BarWidth(int width) { return width >= 8 ? width / 8 : 1; }

// The bar under picture column x.
inline int BarAt(int x, int width, uint32_t frameNumber) {
  const int barWidth = BarWidth(width);
  const uint64_t period = uint64_t(barWidth) * 8;
  return int((uint64_t(x) + uint64_t(frameNumber) * kBarShift % period) % period) / barWidth;
}

// The picture column at the middle of bar `bar`.
inline int BarCentre(int bar, int width, uint32_t frameNumber) {
  const int barWidth = BarWidth(width);
  const uint64_t period = uint64_t(barWidth) * 8;
  const uint64_t shift = uint64_t(frameNumber) * kBarShift % period;
  return int((uint64_t(bar) * barWidth + barWidth / 2 + period - shift) % period);
}

// What a camera's picture controls do to the picture: `brightness` is added to every
// channel of every bar (clamped to 0..255), and the bars and the band are magnified
// zoomNumerator / zoomDenominator times about the picture's centre (a crop of the centre,
// scaled up by repeating pixels). The cells and the stamp stay as they are, so the frame
// number reads the same whatever the controls.
struct PictureAdjustment {
  int brightness = 0;
  int zoomNumerator = 1, zoomDenominator = 1;  // numerator >= denominator > 0
};

inline Rgb AdjustedColour(Rgb colour, const PictureAdjustment& adjustment) {
  auto shift = [&](int channel) {
    return uint8_t(std::min(255, std::max(0, channel + adjustment.brightness)));
  };
  return {shift(colour.r), shift(colour.g), shift(colour.b)};
}

// The position along a side of `size` pixels whose content zoom shows at `position`.
inline int ZoomedFrom(int position, int size, const PictureAdjustment& adjustment) {
  const int64_t num = std::max(adjustment.zoomNumerator, 1),
                den = std::max(std::min(adjustment.zoomDenominator, int(num)), 1);
  // size/2 + (position + 1/2 - size/2) * den / num, never negative, so / is floor.
  const int64_t from = (int64_t(2 * position + 1 - size) * den + int64_t(size) * num) / (2 * num);
  return int(std::min<int64_t>(std::max<int64_t>(from, 0), size - 1));
}

// Whether picture row y of frame `frameNumber` is the moving band.
inline bool InBand(int y, int height, uint32_t frameNumber,
                   const PictureAdjustment& adjustment = {}) {
  const int rows = std::abs(height);
  const int from = ZoomedFrom(y, rows, adjustment), band = BandTop(height, frameNumber);
  return from >= band && from < band + kBandRows;
}

// The bar colour at picture column x, controls applied.
inline Rgb BarColourAt(int x, int width, uint32_t frameNumber,
                       const PictureAdjustment& adjustment = {}) {
  return AdjustedColour(kBarColours[BarAt(ZoomedFrom(x, width, adjustment), width, frameNumber)],
                        adjustment);
}

// Picture pixel (x, y), counted from the top-left corner, of frame `frameNumber`.
inline Rgb PictureColourAt(int x, int y, int width, int height, uint32_t frameNumber,
                           const PictureAdjustment& adjustment = {}) {
  const int cell = CellAt(x, y, CellSize(width, height));
  if (cell >= 0) return (CellBits(frameNumber) >> cell & 1) ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
  if (InBand(y, height, frameNumber, adjustment)) return {255, 255, 255};
  return BarColourAt(x, width, frameNumber, adjustment);
}

// ---- Reading a stored picture ----
// A frame in memory. RGB: a positive height is a bottom-up DIB. YUV layouts are top-down
// whatever the sign. rowBytes 0: RowBytes(format, width).
struct PictureView {
  PixelFormat format;
  int width, height;
  const uint8_t* data;
  size_t size;
  long rowBytes = 0;

  long Stride() const { return rowBytes > 0 ? rowBytes : RowBytes(format, width); }
  int Rows() const { return std::abs(height); }
  bool Complete() const {
    return data && width > 0 && height != 0 &&
           size >= size_t(FrameBytes(format, width, height, Stride()));
  }
};

// The colours stored for `count` pixels of picture row y from column x (counted from the
// top-left); the caller keeps them inside a Complete() view. One pass per row, so that a
// converter reading whole pictures stays cheap.
inline void ReadColours(const PictureView& view, int x, int y, int count, Rgb* out) {
  const long stride = view.Stride();
  const int rows = view.Rows();
  const uint8_t* data = view.data;
  const int end = x + count;
  if (IsRgb(view.format)) {
    const uint8_t* row = data + long(view.height > 0 ? rows - 1 - y : y) * stride;
    const int bytesPerPixel = BitsPerPixel(view.format) / 8;
    auto widen5 = [](unsigned v) { return uint8_t(v << 3 | v >> 2); };
    for (int px = x; px < end; ++px, ++out) {
      const uint8_t* p = row + long(px) * bytesPerPixel;
      if (bytesPerPixel >= 3) {
        *out = {p[2], p[1], p[0]};
        continue;
      }
      const unsigned word = unsigned(p[0]) | unsigned(p[1]) << 8;
      if (view.format == PixelFormat::Rgb555) {
        *out = {widen5(word >> 10 & 31), widen5(word >> 5 & 31), widen5(word & 31)};
      } else {
        const unsigned g = word >> 5 & 63;
        *out = {widen5(word >> 11), uint8_t(g << 2 | g >> 4), widen5(word & 31)};
      }
    }
    return;
  }
  if (view.format == PixelFormat::Yuy2 || view.format == PixelFormat::Uyvy) {
    const uint8_t* row = data + long(y) * stride;
    const int luma = view.format == PixelFormat::Yuy2 ? 0 : 1, chroma = 1 - luma;
    for (int px = x; px < end; ++px, ++out) {
      const uint8_t* pair = row + long(px / 2) * 4;
      *out = RgbOfYuv(pair[luma + (px & 1) * 2], pair[chroma], pair[chroma + 2]);
    }
    return;
  }
  const uint8_t* luma = data + long(y) * stride;
  const uint8_t* chroma = data + stride * rows;
  const long chromaRow = long(y / 2), chromaRows = rows / 2;
  if (view.format == PixelFormat::Nv12) {
    const uint8_t* uv = chroma + chromaRow * stride;
    for (int px = x; px < end; ++px, ++out)
      *out = RgbOfYuv(luma[px], uv[px / 2 * 2], uv[px / 2 * 2 + 1]);
    return;
  }
  const long chromaStride = stride / 2;
  const uint8_t* first = chroma + chromaRow * chromaStride;
  const uint8_t* second = first + chromaStride * chromaRows;
  // I420 stores U then V; YV12 V then U.
  const uint8_t* u = view.format == PixelFormat::I420 ? first : second;
  const uint8_t* v = view.format == PixelFormat::I420 ? second : first;
  for (int px = x; px < end; ++px, ++out) *out = RgbOfYuv(luma[px], u[px / 2], v[px / 2]);
}

inline Rgb ReadColourAt(const PictureView& view, int x, int y) {
  Rgb colour;
  ReadColours(view, x, y, 1, &colour);
  return colour;
}

// The brightness of picture pixel (x, y): stored luma for YUV, computed for RGB.
inline int ReadLumaAt(const PictureView& view, int x, int y) {
  if (IsPlanar(view.format)) return view.data[long(y) * view.Stride() + x];
  if (view.format == PixelFormat::Yuy2) return view.data[long(y) * view.Stride() + long(x) * 2];
  if (view.format == PixelFormat::Uyvy) return view.data[long(y) * view.Stride() + long(x) * 2 + 1];
  return LumaOf(ReadColourAt(view, x, y));
}

}  // namespace testdevices
