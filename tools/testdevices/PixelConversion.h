// The colour space converter's pixel work: whole pictures from one layout into another.
// No COM here, only memory.
#pragma once
#include <windows.h>

namespace testdevices {

enum class PictureFormat { I420, Yuy2, Rgb555, Rgb565, Rgb24, Rgb32 };

struct PictureShape {
  PictureFormat format;
  int width;
  // For RGB a positive height is a bottom-up DIB; the YUV layouts are always top-down.
  int height;
};

// Bytes from one row to the next of an RGB or packed YUV picture (DIB rows are DWORD aligned),
// and bytes of the whole picture.
long RowBytes(const PictureShape& shape);
long PictureBytes(const PictureShape& shape);

// Converts `from` into `to` (same width and |height|; `to` RGB24 or RGB32). YUV is BT.601
// studio range. False, with `to` untouched, when a buffer is too small or the pair is unknown.
bool ConvertPicture(const PictureShape& fromShape, const BYTE* from, long fromSize,
                    const PictureShape& toShape, BYTE* to, long toSize);

}  // namespace testdevices
