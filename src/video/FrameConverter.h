// Converts one camera frame into the format the host asked for, on the thread that
// delivers it. A camera offers a fixed list of modes (YUY2, UYVY, NV12, I420, YV12,
// some RGB); the host wants RGB24, RGB32, RGB555 or I420.
//
// Layouts. YUV is BT.601 limited range and always top-down. An RGB source is a DIB:
// rows padded to 4 bytes, bottom-up unless `topDown` (a negative biHeight). RGB
// output is a bottom-up DIB whose rows are exactly width * bytesPerPixel bytes, no
// padding, since the host's frame length is width * height * bits / 8; RGB32 output
// is always opaque (fourth byte 0xFF), RGB555 has its top bit 0. I420 output
// is the Y plane, then U, then V, at even sizes only: the host's length
// width * height * 3 / 2 has no room for the rounded-up chroma of an odd size, so
// Configure refuses an odd I420 target.
//
// Each conversion is a row function applied by a plane loop; the common camera pairs
// (YUY2, UYVY, NV12, I420, YV12 into RGB and I420) have SSE2 rows, checked against
// the plain C++ rows that give the same bytes.
//
// Threads: configured once per Open; Convert is const, keeps no state and may be
// called from the delivery thread while nobody reconfigures the object.
#pragma once

#include <cstdint>

namespace tesmo {

enum class PixelFormat { Yuy2, Uyvy, Nv12, I420, Yv12, Rgb24, Rgb32, Rgb555, Rgb565 };

// One frame as it arrives from a camera.
struct FrameFormat {
  PixelFormat format;
  int32_t width;
  int32_t height;  // > 0
  bool topDown;    // RGB only: rows top to bottom; YUV is always top-down
};

// Bytes of one source frame: RGB rows padded to 4 bytes, packed YUV rows of width
// rounded up to even times 2, planar a Y plane of width * height then chroma planes
// of ((width + 1) / 2) * ((height + 1) / 2) each (NV12: one plane of twice that).
// -1 when a size is not positive or the length does not fit in 32 bits.
int32_t SourceFrameBytes(const FrameFormat& format);

// Bytes of one converted frame (see the layouts above); -1 for a format that is no
// target, a size that is not positive, an odd I420 size or a length beyond 32 bits.
int32_t TargetFrameBytes(PixelFormat target, int32_t width, int32_t height);

class FrameConverter {
public:
  // Prepares source -> target (Rgb24, Rgb32, Rgb555 or I420). False, leaving the
  // converter unconfigured, when either side is refused.
  bool Configure(const FrameFormat& source, PixelFormat target);
  bool IsConfigured() const { return sourceBytes > 0; }
  int32_t SourceBytes() const { return sourceBytes; }
  int32_t TargetBytes() const { return targetBytes; }
  int32_t Width() const { return from.width; }
  int32_t Height() const { return from.height; }

  // Reads SourceBytes() from `source`, writes TargetBytes() to `target`; the two
  // must not overlap. Does nothing while unconfigured.
  void Convert(const unsigned char* source, unsigned char* target) const;

private:
  FrameFormat from{PixelFormat::Yuy2, 0, 0, false};
  PixelFormat to = PixelFormat::Rgb24;
  int32_t sourceBytes = -1;
  int32_t targetBytes = -1;
};

}  // namespace tesmo
