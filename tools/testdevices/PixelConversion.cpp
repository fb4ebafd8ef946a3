#include "PixelConversion.h"

#include <algorithm>
#include <cstdlib>

namespace testdevices {
namespace {

int BitsOf(PictureFormat format) {
  switch (format) {
    case PictureFormat::I420: return 12;
    case PictureFormat::Yuy2:
    case PictureFormat::Rgb555:
    case PictureFormat::Rgb565: return 16;
    case PictureFormat::Rgb24: return 24;
    case PictureFormat::Rgb32: return 32;
  }
  return 0;
}

bool IsRgb(PictureFormat format) {
  return format != PictureFormat::I420 && format != PictureFormat::Yuy2;
}

BYTE Clamp(int value) { return BYTE(std::min(255, std::max(0, value))); }

// BT.601, studio range: Y 16..235, U and V 16..240 around 128.
void YuvToRgb(int y, int u, int v, BYTE* bgr) {
  const int c = 298 * (y - 16), d = u - 128, e = v - 128;
  bgr[0] = Clamp((c + 516 * d + 128) >> 8);
  bgr[1] = Clamp((c - 100 * d - 208 * e + 128) >> 8);
  bgr[2] = Clamp((c + 409 * e + 128) >> 8);
}

BYTE Expand5(unsigned v) { return BYTE((v << 3) | (v >> 2)); }
BYTE Expand6(unsigned v) { return BYTE((v << 2) | (v >> 4)); }

}  // namespace

long RowBytes(const PictureShape& shape) {
  if (shape.format == PictureFormat::I420) return shape.width;  // the luma plane's rows
  return (long(shape.width) * BitsOf(shape.format) + 31) / 32 * 4;
}

long PictureBytes(const PictureShape& shape) {
  const long rows = std::abs(shape.height);
  if (shape.format == PictureFormat::I420)
    return long(shape.width) * rows + 2 * long(shape.width / 2) * (rows / 2);
  return RowBytes(shape) * rows;
}

bool ConvertPicture(const PictureShape& fromShape, const BYTE* from, long fromSize,
                    const PictureShape& toShape, BYTE* to, long toSize) {
  const int width = fromShape.width, rows = std::abs(fromShape.height);
  if (width <= 0 || rows <= 0 || toShape.width != width || std::abs(toShape.height) != rows)
    return false;
  if (toShape.format != PictureFormat::Rgb24 && toShape.format != PictureFormat::Rgb32)
    return false;
  if (fromSize < PictureBytes(fromShape) || toSize < PictureBytes(toShape)) return false;
  const int outPixel = toShape.format == PictureFormat::Rgb32 ? 4 : 3;
  const long outStride = RowBytes(toShape);
  // Memory row of picture row y (counted from the top).
  auto memoryRow = [rows](const PictureShape& shape, int y) {
    return IsRgb(shape.format) && shape.height > 0 ? rows - 1 - y : y;
  };
  auto outRow = [&](int y) { return to + memoryRow(toShape, y) * outStride; };

  switch (fromShape.format) {
    case PictureFormat::I420: {
      if (width % 2 || rows % 2) return false;
      const BYTE* planeU = from + long(width) * rows;
      const BYTE* planeV = planeU + long(width / 2) * (rows / 2);
      for (int y = 0; y < rows; ++y) {
        const BYTE* luma = from + long(y) * width;
        const BYTE* u = planeU + long(y / 2) * (width / 2);
        const BYTE* v = planeV + long(y / 2) * (width / 2);
        BYTE* out = outRow(y);
        for (int x = 0; x < width; ++x, out += outPixel) {
          YuvToRgb(luma[x], u[x / 2], v[x / 2], out);
          if (outPixel == 4) out[3] = 0;
        }
      }
      return true;
    }
    case PictureFormat::Yuy2: {
      if (width % 2) return false;
      const long inStride = RowBytes(fromShape);
      for (int y = 0; y < rows; ++y) {
        const BYTE* in = from + y * inStride;
        BYTE* out = outRow(y);
        for (int x = 0; x < width; x += 2, in += 4) {
          YuvToRgb(in[0], in[1], in[3], out);
          if (outPixel == 4) out[3] = 0;
          out += outPixel;
          YuvToRgb(in[2], in[1], in[3], out);
          if (outPixel == 4) out[3] = 0;
          out += outPixel;
        }
      }
      return true;
    }
    case PictureFormat::Rgb555:
    case PictureFormat::Rgb565: {
      const bool is565 = fromShape.format == PictureFormat::Rgb565;
      const long inStride = RowBytes(fromShape);
      for (int y = 0; y < rows; ++y) {
        const BYTE* in = from + memoryRow(fromShape, y) * inStride;
        BYTE* out = outRow(y);
        for (int x = 0; x < width; ++x, in += 2, out += outPixel) {
          const unsigned word = unsigned(in[0]) | (unsigned(in[1]) << 8);
          out[0] = Expand5(word & 0x1f);
          out[1] = is565 ? Expand6((word >> 5) & 0x3f) : Expand5((word >> 5) & 0x1f);
          out[2] = Expand5(is565 ? word >> 11 : (word >> 10) & 0x1f);
          if (outPixel == 4) out[3] = 0;
        }
      }
      return true;
    }
    default: return false;
  }
}

}  // namespace testdevices
