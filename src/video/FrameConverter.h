// Converts one camera frame into the format and size the host asked for, on the
// thread that delivers it. A camera offers a fixed list of modes (YUY2, UYVY, NV12,
// I420, YV12, some RGB, MJPG); the host wants RGB24, RGB32, RGB555 or I420 at its
// own size, which the camera may lack.
//
// Size. Where the camera's picture is not the host's size, it is cropped about its
// centre to the host's aspect ratio and then scaled with a filter to the host's
// size: a 16:9 camera gives a 4:3 host an undistorted picture, neither stretched nor
// bordered. The work is libyuv's, in as few passes as it allows.
//
// Layouts. Camera YUV is BT.601 limited range and always top-down; the JPEG
// decoder's planes (Jpeg420/422/444) are full range (JFIF). An RGB source is a DIB:
// rows padded to 4 bytes, bottom-up unless `topDown` (a negative biHeight). RGB
// output is a bottom-up DIB whose rows are exactly width * bytesPerPixel bytes, no
// padding, since the host's frame length is width * height * bits / 8; RGB32 output
// is always opaque (fourth byte 0xFF), RGB555 has its top bit 0. I420 output is
// limited range, the Y plane, then U, then V, at even sizes only: the host's length
// width * height * 3 / 2 has no room for the rounded-up chroma of an odd size, so
// Configure refuses an odd I420 target.
//
// Threads: configured once per Open; Convert uses the converter's own scratch
// pictures, so one converter serves one thread (the delivery thread) at a time.
#pragma once

#include <cstdint>
#include <vector>

namespace tesmo {

// A picture's planes in memory, as the converter hands them to libyuv.
struct FramePlanes;

enum class PixelFormat {
  Yuy2, Uyvy, Nv12, I420, Yv12, Rgb24, Rgb32, Rgb555, Rgb565,
  // Full-range planes as a JPEG decoder writes them: Y, then U, then V, each tight.
  Jpeg420, Jpeg422, Jpeg444
};

bool IsRgb(PixelFormat format);

// One frame as it arrives from a camera (or from the JPEG decoder).
struct FrameFormat {
  PixelFormat format;
  int32_t width;
  int32_t height;  // > 0
  bool topDown;    // RGB only: rows top to bottom; YUV is always top-down
};

// The part of a picture that is kept: x, y from its top-left corner.
struct CropRect {
  int32_t x = 0, y = 0, width = 0, height = 0;
  bool operator==(const CropRect& other) const {
    return x == other.x && y == other.y && width == other.width && height == other.height;
  }
};

// The largest rectangle of the target's aspect ratio inside a source picture, about
// its centre. Where it cuts a side, that side's offset and length are made even, so
// that 4:2:x chroma stays aligned; an uncut side is kept whole, odd or not. The whole
// picture for sizes that are not positive.
CropRect CentreCrop(int32_t sourceWidth, int32_t sourceHeight, int32_t targetWidth,
                    int32_t targetHeight);

// Bytes of one source frame: RGB rows padded to 4 bytes, packed YUV rows of width
// rounded up to even times 2, planar a Y plane of width * height then two chroma
// planes, each ((width + 1) / 2) * ((height + 1) / 2) for 4:2:0 (NV12: one plane of
// twice that), ((width + 1) / 2) * height for 4:2:2, width * height for 4:4:4.
// -1 when a size is not positive or the length does not fit in 32 bits.
int32_t SourceFrameBytes(const FrameFormat& format);

// Bytes of one converted frame (see the layouts above); -1 for a format that is no
// target, a size that is not positive, an odd I420 size or a length beyond 32 bits.
int32_t TargetFrameBytes(PixelFormat target, int32_t width, int32_t height);

class FrameConverter {
public:
  // Prepares source -> target (Rgb24, Rgb32, Rgb555 or I420) at the source's size.
  bool Configure(const FrameFormat& source, PixelFormat target);
  // The same at the host's size: the source is cropped to the target's aspect ratio
  // and scaled where the sizes differ. False, leaving the converter unconfigured,
  // when either side is refused.
  bool Configure(const FrameFormat& source, PixelFormat target, int32_t targetWidth,
                 int32_t targetHeight);
  bool IsConfigured() const { return sourceBytes > 0; }
  int32_t SourceBytes() const { return sourceBytes; }
  int32_t TargetBytes() const { return targetBytes; }
  // The host's size.
  int32_t Width() const { return toWidth; }
  int32_t Height() const { return toHeight; }
  const CropRect& Crop() const { return crop; }
  bool Scales() const { return crop.width != toWidth || crop.height != toHeight; }

  // Reads SourceBytes() from `source`, writes TargetBytes() to `target`; the two
  // must not overlap. Does nothing while unconfigured.
  void Convert(const unsigned char* source, unsigned char* target);

private:
  // Rows of the last step go through ARGB (or get their second pass) this many at a time.
  static constexpr int kStripRows = 16;
  // The format the last step starts from: the source's, or the scaler's.
  PixelFormat LastStepSource() const;
  // Whether the scaler writes the host's frame itself.
  bool ScalesIntoTarget() const;
  // Same-size conversion from `format` into the host's format.
  void ConvertRows(PixelFormat format, const struct FramePlanes& in, const FramePlanes& out);

  FrameFormat from{PixelFormat::Yuy2, 0, 0, false};
  PixelFormat to = PixelFormat::Rgb24;
  int32_t toWidth = 0, toHeight = 0;
  CropRect crop;
  int32_t sourceBytes = -1;
  int32_t targetBytes = -1;
  // Pictures between the steps: the cropped source in the scaler's format, and the
  // scaled one where it is not yet the host's.
  std::vector<unsigned char> cropped;
  std::vector<unsigned char> scaled;
  std::vector<unsigned char> strip;  // ARGB rows of the last step
};

}  // namespace tesmo
