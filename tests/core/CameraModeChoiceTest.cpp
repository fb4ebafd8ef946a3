#include "video/CameraModeChoice.h"

#include <gtest/gtest.h>

using tesmo::CameraMode;
using tesmo::ChooseCameraMode;
using tesmo::PixelFormat;

namespace {

CameraMode Mode(std::optional<PixelFormat> format, int32_t width, int32_t height,
                int64_t minInterval = 333333, int64_t maxInterval = 2000000, bool videoInfo2 = false) {
  CameraMode mode;
  mode.format = format;
  mode.minWidth = mode.maxWidth = width;
  mode.minHeight = mode.maxHeight = height;
  mode.minInterval = minInterval;
  mode.maxInterval = maxInterval;
  mode.videoInfo2 = videoInfo2;
  return mode;
}

CameraMode Mjpg(int32_t width, int32_t height, int64_t minInterval = 333333) {
  CameraMode mode = Mode(std::nullopt, width, height, minInterval);
  mode.motionJpeg = true;
  return mode;
}

}  // namespace

// A USB webcam's list: each size in YUY2 and MJPG, each twice (VideoInfo, then
// VideoInfo2), the host's size not first. The choice is the exact size, a mode that
// reaches 30 fps before a slower one, then the format, then VideoInfo.
TEST(CameraModeChoice, PicksTheExactSizeAtThirtyFramesThenByFormat) {
  const std::optional<PixelFormat> h264;  // compressed, and not decoded
  std::vector<CameraMode> webcam = {
      Mode(PixelFormat::Yuy2, 640, 480), Mode(PixelFormat::Yuy2, 640, 480, 333333, 2000000, true),
      Mjpg(640, 480),
      Mode(PixelFormat::Yuy2, 1280, 720, 2000000, 2000000),  // 5 fps
      Mjpg(1280, 720),
      Mode(PixelFormat::Nv12, 320, 240, 333333, 2000000, true),  // VideoInfo2 only
      Mode(PixelFormat::Yuy2, 320, 240, 666666, 2000000),      // 15 fps at best
  };
  EXPECT_EQ(ChooseCameraMode(webcam, 640, 480, PixelFormat::Rgb24), 0);
  EXPECT_EQ(ChooseCameraMode(webcam, 640, 480, PixelFormat::I420), 0);
  // At 1280 x 720 only MJPG reaches 30 fps: it wins over 5 fps YUY2, but not for a
  // host that takes the camera's frames as they come.
  EXPECT_EQ(ChooseCameraMode(webcam, 1280, 720, PixelFormat::Rgb32), 4);
  EXPECT_EQ(ChooseCameraMode(webcam, 1280, 720, PixelFormat::I420), 4);
  EXPECT_EQ(ChooseCameraMode(webcam, 1280, 720, std::nullopt), 3);
  // At one rate, uncompressed before MJPG: a 5 fps MJPG mode loses to 5 fps YUY2.
  EXPECT_EQ(ChooseCameraMode({Mjpg(1280, 720, 2000000), webcam[3]}, 1280, 720, PixelFormat::Rgb24), 1);
  // An MJPG-only camera works for the host's formats, not for its own.
  EXPECT_EQ(ChooseCameraMode({Mjpg(640, 480), Mjpg(1920, 1080)}, 1920, 1080, PixelFormat::Rgb555), 1);
  EXPECT_EQ(ChooseCameraMode({Mjpg(640, 480)}, 640, 480, std::nullopt), -1);
  // 30 fps NV12 (VideoInfo2) before 15 fps YUY2 (VideoInfo).
  EXPECT_EQ(ChooseCameraMode(webcam, 320, 240, PixelFormat::Rgb555), 5);
  // A size it lacks: the smallest 30 fps mode that covers it once cropped to 4:3
  // (1280 x 720 cut to 960 x 720), to be scaled; but no frames of another size for a
  // host that takes the camera's own. Only compressed modes: none.
  EXPECT_EQ(ChooseCameraMode(webcam, 800, 600, PixelFormat::Rgb24), 4);
  EXPECT_EQ(ChooseCameraMode(webcam, 800, 600, std::nullopt), -1);
  EXPECT_EQ(ChooseCameraMode({Mode(h264, 640, 480)}, 640, 480, PixelFormat::Rgb24), -1);
  EXPECT_EQ(ChooseCameraMode({}, 640, 480, PixelFormat::Rgb24), -1);
  // An odd size cannot become I420 frames.
  EXPECT_EQ(ChooseCameraMode({Mode(PixelFormat::Yuy2, 321, 240)}, 321, 240, PixelFormat::I420), -1);
  EXPECT_EQ(ChooseCameraMode({Mode(PixelFormat::Yuy2, 321, 240)}, 321, 240, PixelFormat::Rgb24), 0);

  // The wanted format first, then YUV, then another RGB, all at 30 fps.
  std::vector<CameraMode> mixed = {Mode(PixelFormat::Rgb32, 320, 240), Mode(PixelFormat::Uyvy, 320, 240),
                                   Mode(PixelFormat::Rgb24, 320, 240)};
  EXPECT_EQ(ChooseCameraMode(mixed, 320, 240, PixelFormat::Rgb24), 2);
  EXPECT_EQ(ChooseCameraMode(mixed, 320, 240, PixelFormat::I420), 1);
  EXPECT_EQ(ChooseCameraMode(mixed, 320, 240, PixelFormat::Rgb32), 0);
  // The device's own format as it comes: the first uncompressed mode of the size.
  EXPECT_EQ(ChooseCameraMode(mixed, 320, 240, std::nullopt), 1);
}

// An analog card lists one mode with a range of sizes; the frame interval asked for
// is 30 fps where the range allows it, else the bound nearest to it.
TEST(CameraModeChoice, RangesOfSizesAndIntervals) {
  CameraMode card = Mode(PixelFormat::Rgb24, 320, 240);
  card.minWidth = 160;
  card.maxWidth = 720;
  card.widthStep = 8;
  card.minHeight = 120;
  card.maxHeight = 576;
  card.heightStep = 2;
  EXPECT_EQ(ChooseCameraMode({card}, 640, 480, PixelFormat::I420), 0);
  // Off the step or past the range: the nearest size the card has, to be scaled.
  int32_t w = 0, h = 0;
  EXPECT_EQ(ChooseCameraMode({card}, 644, 480, PixelFormat::I420), 0);
  card.PictureFor(644, 480, w, h);
  EXPECT_EQ(w, 640);
  EXPECT_EQ(h, 480);
  EXPECT_EQ(ChooseCameraMode({card}, 800, 480, PixelFormat::I420), 0);
  card.PictureFor(800, 100, w, h);
  EXPECT_EQ(w, 720);
  EXPECT_EQ(h, 120);
  EXPECT_EQ(ChooseCameraMode({card}, 800, 480, std::nullopt), -1);

  EXPECT_EQ(Mode(PixelFormat::Yuy2, 1, 1, 166666, 2000000).IntervalFor30(), 333333);
  EXPECT_EQ(Mode(PixelFormat::Yuy2, 1, 1, 666666, 2000000).IntervalFor30(), 666666);
  EXPECT_EQ(Mode(PixelFormat::Yuy2, 1, 1, 100000, 200000).IntervalFor30(), 200000);
  EXPECT_EQ(Mode(PixelFormat::Yuy2, 1, 1, 0, 0).IntervalFor30(), 0);
  EXPECT_TRUE(Mode(PixelFormat::Yuy2, 1, 1, 333667, 2000000).ReachesThirtyFrames());  // 29.97
  EXPECT_FALSE(Mode(PixelFormat::Yuy2, 1, 1, 400000, 2000000).ReachesThirtyFrames());
}
