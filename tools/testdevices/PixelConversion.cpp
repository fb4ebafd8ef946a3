#include "PixelConversion.h"

#include <vector>

#include "SampleContent.h"

namespace testdevices {

bool ConvertPicture(const PictureShape& fromShape, const uint8_t* from, long fromSize,
                    const PictureShape& toShape, uint8_t* to, long toSize) {
  const int width = fromShape.width, rows = std::abs(fromShape.height);
  if (width <= 0 || rows <= 0 || toShape.width != width || std::abs(toShape.height) != rows)
    return false;
  if (toShape.format != PixelFormat::Rgb24 && toShape.format != PixelFormat::Rgb32) return false;
  const PictureView source{fromShape.format, width, fromShape.height, from, size_t(fromSize)};
  if (fromSize < 0 || !source.Complete() || toSize < PictureBytes(toShape)) return false;
  std::vector<Rgb> line(static_cast<size_t>(width));
  for (int y = 0; y < rows; ++y) {
    ReadColours(source, 0, y, width, line.data());
    DrawRow(toShape.format, width, toShape.height, y, line, to, RowBytes(toShape));
  }
  return true;
}

}  // namespace testdevices
