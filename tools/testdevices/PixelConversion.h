// The colour space converter's pixel work: whole pictures from one layout into another.
// No COM here, only memory.
#pragma once
#include <cstdint>

#include "PictureLayout.h"

namespace testdevices {

struct PictureShape {
  PixelFormat format;
  int width;
  // For RGB a positive height is a bottom-up DIB; the YUV layouts are always top-down.
  int height;
};

// Bytes from one row to the next (DIB rows are DWORD aligned; planar: the luma plane's rows),
// and bytes of the whole picture.
inline long RowBytes(const PictureShape& shape) { return RowBytes(shape.format, shape.width); }
inline long PictureBytes(const PictureShape& shape) {
  return FrameBytes(shape.format, shape.width, shape.height);
}

// Converts `from` (any layout) into `to` (same width and |height|; RGB24 or RGB32). YUV is
// BT.601 studio range. False, with `to` untouched, when a buffer is too small or `to` is not
// RGB24/RGB32.
bool ConvertPicture(const PictureShape& fromShape, const uint8_t* from, long fromSize,
                    const PictureShape& toShape, uint8_t* to, long toSize);

}  // namespace testdevices
