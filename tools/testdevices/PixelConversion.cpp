#include "PixelConversion.h"

#include <vector>

namespace testdevices {

bool ConvertPicture(const PictureShape& fromShape, const uint8_t* from, long fromSize,
                    const PictureShape& toShape, uint8_t* to, long toSize) {
  const int width = fromShape.width, rows = std::abs(fromShape.height);
  if (width <= 0 || rows <= 0 || toShape.width != width || std::abs(toShape.height) != rows)
    return false;
  if (toShape.format != PixelFormat::Rgb24 && toShape.format != PixelFormat::Rgb32) return false;
  const PictureView source{fromShape.format, width, fromShape.height, from, size_t(fromSize)};
  if (fromSize < 0 || !source.Complete() || toSize < PictureBytes(toShape)) return false;
  const int outPixel = toShape.format == PixelFormat::Rgb32 ? 4 : 3;
  const long outStride = RowBytes(toShape);
  std::vector<Rgb> line(static_cast<size_t>(width));
  for (int y = 0; y < rows; ++y) {
    ReadColours(source, 0, y, width, line.data());
    uint8_t* out = to + (toShape.height > 0 ? rows - 1 - y : y) * outStride;
    for (const Rgb& c : line) {
      out[0] = c.b;
      out[1] = c.g;
      out[2] = c.r;
      if (outPixel == 4) out[3] = 0;
      out += outPixel;
    }
  }
  return true;
}

}  // namespace testdevices
