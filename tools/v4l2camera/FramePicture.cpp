#include "FramePicture.h"

#include <linux/videodev2.h>

#include "SampleContent.h"

namespace v4l2camera {

namespace {

int Luma(int r, int g, int b) { return (66 * r + 129 * g + 25 * b + 128) / 256 + 16; }
int ChromaU(int r, int g, int b) { return (-38 * r - 74 * g + 112 * b + 128) / 256 + 128; }
int ChromaV(int r, int g, int b) { return (112 * r - 94 * g - 18 * b + 128) / 256 + 128; }

}  // namespace

size_t FrameBytes(uint32_t pixelFormat, uint32_t width, uint32_t height) {
  switch (pixelFormat) {
    case V4L2_PIX_FMT_BGR24: return size_t(width) * height * 3;
    case V4L2_PIX_FMT_YUYV: return size_t(width) * height * 2;
    default: return 0;
  }
}

void BgrRowToYuyv(const uint8_t* bgr, uint32_t width, uint8_t* yuyv) {
  for (uint32_t x = 0; x + 1 < width; x += 2, bgr += 6, yuyv += 4) {
    const int b0 = bgr[0], g0 = bgr[1], r0 = bgr[2], b1 = bgr[3], g1 = bgr[4], r1 = bgr[5];
    yuyv[0] = uint8_t(Luma(r0, g0, b0));
    yuyv[1] = uint8_t((ChromaU(r0, g0, b0) + ChromaU(r1, g1, b1) + 1) / 2);
    yuyv[2] = uint8_t(Luma(r1, g1, b1));
    yuyv[3] = uint8_t((ChromaV(r0, g0, b0) + ChromaV(r1, g1, b1) + 1) / 2);
  }
}

void DrawFrame(uint32_t pixelFormat, uint32_t width, uint32_t height, uint32_t number, uint8_t* out,
               std::vector<uint8_t>& scratch) {
  const size_t bgrBytes = size_t(width) * height * 3;
  // A negative height asks the test camera's drawing for a top-down picture.
  if (pixelFormat == V4L2_PIX_FMT_BGR24) {
    testdevices::FillVideoFrame(testdevices::PixelFormat::Rgb24, int(width), -int(height), number,
                                out, long(bgrBytes));
    return;
  }
  scratch.resize(bgrBytes);
  testdevices::FillVideoFrame(testdevices::PixelFormat::Rgb24, int(width), -int(height), number,
                              scratch.data(), long(bgrBytes));
  for (uint32_t row = 0; row < height; ++row)
    BgrRowToYuyv(scratch.data() + size_t(row) * width * 3, width, out + size_t(row) * width * 2);
}

}  // namespace v4l2camera
