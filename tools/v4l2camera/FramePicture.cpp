#include "FramePicture.h"

#include <linux/videodev2.h>

#include "SampleContent.h"

namespace v4l2camera {

size_t FrameBytes(uint32_t pixelFormat, uint32_t width, uint32_t height) {
  switch (pixelFormat) {
    case V4L2_PIX_FMT_BGR24: return size_t(width) * height * 3;
    case V4L2_PIX_FMT_YUYV: return size_t(width) * height * 2;
    default: return 0;
  }
}

void DrawFrame(uint32_t pixelFormat, uint32_t width, uint32_t height, uint32_t number,
               uint8_t* out, int brightness) {
  const long size = long(FrameBytes(pixelFormat, width, height));
  testdevices::PictureAdjustment adjustment;
  adjustment.brightness = brightness;
  // V4L2 rows are top-down and packed: a negative height asks for a top-down RGB picture
  // (YUV layouts are top-down anyway), and the row length is given, not DIB-aligned.
  if (pixelFormat == V4L2_PIX_FMT_BGR24)
    testdevices::FillVideoFrame(testdevices::PixelFormat::Rgb24, int(width), -int(height), number,
                                out, size, long(width) * 3, adjustment);
  else if (pixelFormat == V4L2_PIX_FMT_YUYV)
    testdevices::FillVideoFrame(testdevices::PixelFormat::Yuy2, int(width), int(height), number,
                                out, size, long(width) * 2, adjustment);
}

}  // namespace v4l2camera
