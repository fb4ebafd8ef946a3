// The user-space V4L2 camera's answers, driven directly with chosen clock times.
#include <gtest/gtest.h>

#include <linux/videodev2.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <map>
#include <string>
#include <thread>
#include <vector>

#include "FramePicture.h"
#include "SampleContent.h"
#include "VirtualCamera.h"
#include "support/PictureReader.h"

using namespace v4l2camera;
using namespace std::chrono_literals;

namespace {

constexpr int kFd = 7, kOtherFd = 8;

v4l2_format Format(uint32_t pixelFormat, uint32_t width, uint32_t height) {
  v4l2_format format{};
  format.type = V4L2_BUF_TYPE_VIDEO_CAPTURE;
  format.fmt.pix.pixelformat = pixelFormat;
  format.fmt.pix.width = width;
  format.fmt.pix.height = height;
  return format;
}

// The frame number a top-down BGR24 frame of 320x240 shows in its cells.
long ShownNumber(const std::vector<uint8_t>& frame) {
  return testpicture::ReadFrameNumber(
      {testdevices::PixelFormat::Rgb24, 320, -240, frame.data(), frame.size(), 320 * 3});
}

CameraOptions FromTable(const std::map<std::string, std::string>& table) {
  static const std::map<std::string, std::string>* current;
  current = &table;
  return ReadCameraOptions([](const char* name) -> const char* {
    auto found = current->find(name);
    return found == current->end() ? nullptr : found->second.c_str();
  });
}

}  // namespace

TEST(VirtualCamera, AnswersWhatACaptureProgramAsks) {
  VirtualCamera camera{CameraOptions{}};
  ASSERT_EQ(camera.Open(kFd), 0);
  EXPECT_TRUE(camera.IsCamera(kFd));
  EXPECT_FALSE(camera.IsCamera(kOtherFd));

  v4l2_capability caps{};
  // As a caller that passes the request as an int hands it over.
  ASSERT_EQ(camera.Ioctl(kFd, (unsigned long)(long)int(VIDIOC_QUERYCAP), &caps), 0);
  EXPECT_STREQ(reinterpret_cast<char*>(caps.card), "Tesmo V4L2 camera");
  EXPECT_TRUE(caps.capabilities & V4L2_CAP_DEVICE_CAPS);
  EXPECT_EQ(caps.device_caps, uint32_t(V4L2_CAP_VIDEO_CAPTURE | V4L2_CAP_READWRITE));

  // Sizes for both formats, one interval each; nothing for a format not offered.
  for (uint32_t pixelFormat : {V4L2_PIX_FMT_BGR24, V4L2_PIX_FMT_YUYV}) {
    v4l2_frmsizeenum size{};
    size.pixel_format = pixelFormat;
    std::vector<std::pair<uint32_t, uint32_t>> sizes;
    for (; camera.Ioctl(kFd, VIDIOC_ENUM_FRAMESIZES, &size) == 0; ++size.index) {
      EXPECT_EQ(size.type, uint32_t(V4L2_FRMSIZE_TYPE_DISCRETE));
      sizes.emplace_back(size.discrete.width, size.discrete.height);
    }
    EXPECT_EQ(sizes, (std::vector<std::pair<uint32_t, uint32_t>>{{640, 480}, {320, 240}}));
    v4l2_frmivalenum interval{};
    interval.pixel_format = pixelFormat;
    interval.width = 320;
    interval.height = 240;
    ASSERT_EQ(camera.Ioctl(kFd, VIDIOC_ENUM_FRAMEINTERVALS, &interval), 0);
    EXPECT_EQ(interval.discrete.numerator, 1u);
    EXPECT_EQ(interval.discrete.denominator, 30u);
    interval.index = 1;
    EXPECT_EQ(camera.Ioctl(kFd, VIDIOC_ENUM_FRAMEINTERVALS, &interval), -EINVAL);
  }
  v4l2_frmsizeenum mjpeg{};
  mjpeg.pixel_format = V4L2_PIX_FMT_MJPEG;
  EXPECT_EQ(camera.Ioctl(kFd, VIDIOC_ENUM_FRAMESIZES, &mjpeg), -EINVAL);

  // Formats come back adjusted: BGR24 as asked, an unknown one as the first offered, a
  // size not offered as the nearest.
  v4l2_format format = Format(V4L2_PIX_FMT_BGR24, 320, 240);
  ASSERT_EQ(camera.Ioctl(kFd, VIDIOC_TRY_FMT, &format), 0);
  EXPECT_EQ(format.fmt.pix.pixelformat, uint32_t(V4L2_PIX_FMT_BGR24));
  EXPECT_EQ(format.fmt.pix.sizeimage, 320u * 240 * 3);
  EXPECT_EQ(format.fmt.pix.bytesperline, 320u * 3);
  format = Format(V4L2_PIX_FMT_MJPEG, 600, 450);
  ASSERT_EQ(camera.Ioctl(kFd, VIDIOC_S_FMT, &format), 0);
  EXPECT_EQ(format.fmt.pix.pixelformat, uint32_t(V4L2_PIX_FMT_BGR24));
  EXPECT_EQ(format.fmt.pix.width, 640u);
  format = Format(V4L2_PIX_FMT_YUYV, 320, 240);
  ASSERT_EQ(camera.Ioctl(kFd, VIDIOC_S_FMT, &format), 0);
  v4l2_format current = Format(0, 0, 0);
  ASSERT_EQ(camera.Ioctl(kFd, VIDIOC_G_FMT, &current), 0);
  EXPECT_EQ(current.fmt.pix.pixelformat, uint32_t(V4L2_PIX_FMT_YUYV));
  EXPECT_EQ(current.fmt.pix.sizeimage, 320u * 240 * 2);

  // The picture controls: their ranges, a value kept, one out of range refused, one
  // between two steps put on the nearer.
  struct Range {
    uint32_t id;
    int32_t minimum, maximum, step, defaultValue;
  };
  for (const Range& range : {Range{V4L2_CID_BRIGHTNESS, -64, 64, 1, 0},
                             Range{V4L2_CID_CONTRAST, 0, 100, 5, 50},
                             Range{V4L2_CID_SATURATION, 0, 200, 10, 100},
                             Range{V4L2_CID_HUE, -90, 90, 1, 0}}) {
    v4l2_queryctrl query{};
    query.id = range.id;
    ASSERT_EQ(camera.Ioctl(kFd, VIDIOC_QUERYCTRL, &query), 0) << range.id;
    EXPECT_EQ(query.type, uint32_t(V4L2_CTRL_TYPE_INTEGER));
    EXPECT_EQ(query.minimum, range.minimum);
    EXPECT_EQ(query.maximum, range.maximum);
    EXPECT_EQ(query.step, range.step);
    EXPECT_EQ(query.default_value, range.defaultValue);
    v4l2_control control{range.id, 12345};
    ASSERT_EQ(camera.Ioctl(kFd, VIDIOC_G_CTRL, &control), 0);
    EXPECT_EQ(control.value, range.defaultValue);
  }
  v4l2_control control{V4L2_CID_BRIGHTNESS, -40};
  ASSERT_EQ(camera.Ioctl(kFd, VIDIOC_S_CTRL, &control), 0);
  control.value = 0;
  ASSERT_EQ(camera.Ioctl(kFd, VIDIOC_G_CTRL, &control), 0);
  EXPECT_EQ(control.value, -40);
  control.value = 65;
  EXPECT_EQ(camera.Ioctl(kFd, VIDIOC_S_CTRL, &control), -ERANGE);
  control.value = 0;
  ASSERT_EQ(camera.Ioctl(kFd, VIDIOC_G_CTRL, &control), 0);
  EXPECT_EQ(control.value, -40);
  control = {V4L2_CID_CONTRAST, 63};
  ASSERT_EQ(camera.Ioctl(kFd, VIDIOC_S_CTRL, &control), 0);
  EXPECT_EQ(control.value, 65);
  EXPECT_STREQ(VirtualCamera::ControlName(V4L2_CID_CONTRAST), "Contrast");
  v4l2_queryctrl query{};
  query.id = V4L2_CID_EXPOSURE;
  EXPECT_EQ(camera.Ioctl(kFd, VIDIOC_QUERYCTRL, &query), -EINVAL);
  uint32_t ignored = 0;
  EXPECT_EQ(camera.Ioctl(kFd, VIDIOC_REQBUFS, &ignored), -ENOTTY);
  EXPECT_EQ(camera.Ioctl(kOtherFd, VIDIOC_QUERYCAP, &caps), -EBADF);
  EXPECT_EQ(camera.Close(kFd), "");  // it never streamed
  EXPECT_FALSE(camera.IsCamera(kFd));
}

TEST(VirtualCamera, ProducesFramesAtItsOwnPaceWhetherReadOrNot) {
  VirtualCamera camera{CameraOptions{}};
  ASSERT_EQ(camera.Open(kFd), 0);
  v4l2_format format = Format(V4L2_PIX_FMT_BGR24, 320, 240);
  ASSERT_EQ(camera.Ioctl(kFd, VIDIOC_S_FMT, &format), 0);
  std::vector<uint8_t> frame(320 * 240 * 3), expected(frame.size());
  const auto t0 = VirtualCamera::Clock::time_point{} + 1h;

  ASSERT_EQ(camera.Read(kFd, frame.data(), frame.size(), t0), long(frame.size()));
  DrawFrame(V4L2_PIX_FMT_BGR24, 320, 240, 0, expected.data());
  EXPECT_EQ(frame, expected);
  EXPECT_EQ(camera.Read(kFd, frame.data(), frame.size(), t0 + 20ms), -EAGAIN);
  EXPECT_GT(camera.UntilNextFrame(kFd, t0 + 20ms), 13ms);
  EXPECT_LE(camera.UntilNextFrame(kFd, t0 + 20ms), 14ms);
  ASSERT_EQ(camera.Read(kFd, frame.data(), frame.size(), t0 + 34ms), long(frame.size()));
  EXPECT_EQ(ShownNumber(frame), 1);
  // A reader late by three intervals gets the newest frame; the two before it are gone.
  ASSERT_EQ(camera.Read(kFd, frame.data(), frame.size(), t0 + 134ms), long(frame.size()));
  EXPECT_EQ(ShownNumber(frame), 4);
  DrawFrame(V4L2_PIX_FMT_BGR24, 320, 240, 4, expected.data());
  EXPECT_EQ(frame, expected);
  // A short buffer gets the start of the frame.
  std::vector<uint8_t> start(100);
  ASSERT_EQ(camera.Read(kFd, start.data(), start.size(), t0 + 167ms), 100);
  DrawFrame(V4L2_PIX_FMT_BGR24, 320, 240, 5, expected.data());
  EXPECT_TRUE(std::equal(start.begin(), start.end(), expected.begin()));
  // Nobody reads for a second (a stopped graph): the stream resumes with the next number.
  ASSERT_EQ(camera.Read(kFd, frame.data(), frame.size(), t0 + 1200ms), long(frame.size()));
  EXPECT_EQ(ShownNumber(frame), 6);
  EXPECT_EQ(camera.Read(kFd, frame.data(), frame.size(), t0 + 1210ms), -EAGAIN);
  EXPECT_EQ(camera.Close(kFd),
            "v4l2 camera stream 320x240 BGR24: frames read 5 of 7 produced, numbers 0..6, "
            "pauses 1");
}

TEST(VirtualCamera, OneProgramStreamsTheOthersAreTurnedAway) {
  VirtualCamera camera{CameraOptions{}};
  ASSERT_EQ(camera.Open(kFd), 0);
  ASSERT_EQ(camera.Open(kOtherFd), 0);
  std::vector<uint8_t> frame(640 * 480 * 3);
  const auto t0 = VirtualCamera::Clock::time_point{} + 1h;
  v4l2_format format = Format(V4L2_PIX_FMT_BGR24, 640, 480);
  ASSERT_EQ(camera.Ioctl(kFd, VIDIOC_S_FMT, &format), 0);
  EXPECT_EQ(camera.Ioctl(kOtherFd, VIDIOC_TRY_FMT, &format), 0);  // asking is allowed
  EXPECT_EQ(camera.Ioctl(kOtherFd, VIDIOC_S_FMT, &format), -EBUSY);
  EXPECT_EQ(camera.Read(kOtherFd, frame.data(), frame.size(), t0), -EBUSY);
  ASSERT_EQ(camera.Read(kFd, frame.data(), frame.size(), t0), long(frame.size()));
  format = Format(V4L2_PIX_FMT_BGR24, 320, 240);
  EXPECT_EQ(camera.Ioctl(kFd, VIDIOC_S_FMT, &format), -EBUSY);  // not while it streams
  EXPECT_NE(camera.Close(kFd), "");
  EXPECT_EQ(camera.Ioctl(kOtherFd, VIDIOC_S_FMT, &format), 0);
  EXPECT_EQ(camera.Read(kOtherFd, frame.data(), frame.size(), t0 + 1s), 320 * 240 * 3);

  VirtualCamera busy{FromTable({{"TESMO_V4L2_BUSY", "1"}})};
  ASSERT_EQ(busy.Open(kFd), 0);
  EXPECT_EQ(busy.Ioctl(kFd, VIDIOC_TRY_FMT, &format), 0);
  EXPECT_EQ(busy.Ioctl(kFd, VIDIOC_S_FMT, &format), -EBUSY);
  EXPECT_EQ(busy.Read(kFd, frame.data(), frame.size(), t0), -EBUSY);
}

TEST(VirtualCamera, VanishesAfterItsFramesLikeAnUnpluggedCamera) {
  VirtualCamera camera{FromTable({{"TESMO_V4L2_VANISH_AFTER", "3"}, {"TESMO_V4L2_FPS", "10"}})};
  ASSERT_EQ(camera.Open(kFd), 0);
  std::vector<uint8_t> frame(640 * 480 * 3);
  const auto t0 = VirtualCamera::Clock::time_point{} + 1h;
  for (int n = 0; n < 3; ++n)
    ASSERT_EQ(camera.Read(kFd, frame.data(), frame.size(), t0 + n * 100ms), long(frame.size()));
  EXPECT_FALSE(camera.Present(t0 + 1h));
  EXPECT_EQ(camera.Read(kFd, frame.data(), frame.size(), t0 + 300ms), -ENODEV);
  v4l2_capability caps{};
  EXPECT_EQ(camera.Ioctl(kFd, VIDIOC_QUERYCAP, &caps), -ENODEV);
  EXPECT_EQ(camera.Open(kOtherFd, t0 + 1h), -ENOENT);
  EXPECT_EQ(
      camera.Close(kFd),
      "v4l2 camera stream 640x480 BGR24: frames read 3 of 3 produced, numbers 0..2, pauses 0");
}

TEST(VirtualCamera, PluggedBackItOpensAgainWhileTheOldDescriptorStaysDead) {
  VirtualCamera camera{FromTable({{"TESMO_V4L2_VANISH_AFTER", "3"},
                                  {"TESMO_V4L2_BACK_AFTER_MS", "500"},
                                  {"TESMO_V4L2_FPS", "10"}})};
  const auto t0 = VirtualCamera::Clock::time_point{} + 1h;
  ASSERT_EQ(camera.Open(kFd, t0), 0);
  std::vector<uint8_t> frame(640 * 480 * 3);
  for (int n = 0; n < 3; ++n)
    ASSERT_EQ(camera.Read(kFd, frame.data(), frame.size(), t0 + n * 100ms), long(frame.size()));
  // Gone from the third frame's read (t0 + 200 ms) for half a second.
  EXPECT_FALSE(camera.Present(t0 + 600ms));
  EXPECT_EQ(camera.Open(kOtherFd, t0 + 600ms), -ENOENT);
  EXPECT_TRUE(camera.Present(t0 + 750ms));
  ASSERT_EQ(camera.Open(kOtherFd, t0 + 750ms), 0);
  EXPECT_EQ(camera.Read(kFd, frame.data(), frame.size(), t0 + 800ms), -ENODEV);
  // The new descriptor streams, and the camera does not vanish a second time.
  for (int n = 0; n < 5; ++n)
    EXPECT_EQ(camera.Read(kOtherFd, frame.data(), frame.size(), t0 + 800ms + n * 100ms),
              long(frame.size()))
        << n;
  EXPECT_TRUE(camera.Present(t0 + 2s));
}

TEST(VirtualCamera, OptionsAndTheSlowDevice) {
  CameraOptions options = FromTable({{"TESMO_V4L2_SIZES", "320x240,bad,15x9,1280x720"},
                                     {"TESMO_V4L2_FORMATS", "yuyv,mjpeg"},
                                     {"TESMO_V4L2_FPS", "0"},
                                     {"TESMO_V4L2_SLOW_MS", "67"},
                                     {"TESMO_V4L2_NAME", "Other camera"}});
  ASSERT_EQ(options.sizes.size(), 2u);
  EXPECT_EQ(options.sizes[1].width, 1280u);
  EXPECT_EQ(options.formats, std::vector<uint32_t>{V4L2_PIX_FMT_YUYV});
  EXPECT_EQ(options.framesPerSecond, 30u);  // 0 is no rate: the default stays
  VirtualCamera camera{options};
  ASSERT_EQ(camera.Open(kFd), 0);
  v4l2_format format = Format(V4L2_PIX_FMT_BGR24, 320, 240);
  ASSERT_EQ(camera.Ioctl(kFd, VIDIOC_S_FMT, &format), 0);
  EXPECT_EQ(format.fmt.pix.pixelformat, uint32_t(V4L2_PIX_FMT_YUYV));  // what Wine must refuse
  std::vector<uint8_t> frame(320 * 240 * 2);
  const auto t0 = VirtualCamera::Clock::time_point{} + 1h;
  ASSERT_EQ(camera.Read(kFd, frame.data(), frame.size(), t0), long(frame.size()));
  // 33.3 ms advertised, 100.3 ms real.
  EXPECT_EQ(camera.Read(kFd, frame.data(), frame.size(), t0 + 90ms), -EAGAIN);
  EXPECT_EQ(camera.Read(kFd, frame.data(), frame.size(), t0 + 101ms), long(frame.size()));
}

TEST(FramePicture, TheTestCamerasPictureTopDownInBothFormats) {
  // Read back as the test camera's picture: the number from the cells, the bars in place,
  // and top-down (read bottom-up, the cells are not where they belong).
  for (uint32_t number : {0u, 77u, 123456u}) {
    std::vector<uint8_t> bgr(FrameBytes(V4L2_PIX_FMT_BGR24, 640, 480));
    DrawFrame(V4L2_PIX_FMT_BGR24, 640, 480, number, bgr.data());
    const testdevices::PictureView topDown{
        testdevices::PixelFormat::Rgb24, 640, -480, bgr.data(), bgr.size(), 640 * 3};
    EXPECT_EQ(testpicture::ReadFrameNumber(topDown), long(number));
    EXPECT_EQ(testpicture::CheckColourBars(topDown, number), "");
    testdevices::PictureView bottomUp = topDown;
    bottomUp.height = 480;
    EXPECT_EQ(testpicture::ReadFrameNumber(bottomUp), -1);

    std::vector<uint8_t> yuyv(FrameBytes(V4L2_PIX_FMT_YUYV, 320, 240));
    DrawFrame(V4L2_PIX_FMT_YUYV, 320, 240, number, yuyv.data());
    const testdevices::PictureView packed{
        testdevices::PixelFormat::Yuy2, 320, 240, yuyv.data(), yuyv.size(), 320 * 2};
    EXPECT_EQ(testpicture::ReadFrameNumber(packed), long(number));
    EXPECT_EQ(testpicture::CheckColourBars(packed, number), "");
  }
  EXPECT_EQ(FrameBytes(V4L2_PIX_FMT_MJPEG, 640, 480), 0u);
}

TEST(VirtualCamera, OneThreadStreamsWhileAnotherOpensAsksAndCloses) {
  // Wine's streaming thread reads while a host thread lists the camera and a second filter
  // tries it: the stream's numbers keep increasing, and the other descriptor never gets
  // the device.
  VirtualCamera camera{CameraOptions{}};
  ASSERT_EQ(camera.Open(kFd), 0);
  v4l2_format small = Format(V4L2_PIX_FMT_BGR24, 320, 240);
  ASSERT_EQ(camera.Ioctl(kFd, VIDIOC_S_FMT, &small), 0);
  const auto t0 = VirtualCamera::Clock::time_point{} + 1h;
  std::vector<uint8_t> first(320 * 240 * 3);
  ASSERT_EQ(camera.Read(kFd, first.data(), first.size(), t0), long(first.size()));
  std::atomic<int> otherGotTheDevice{0};
  std::thread other([&] {
    for (int i = 0; i < 200; ++i) {
      if (camera.Open(kOtherFd) != 0) continue;
      v4l2_capability caps{};
      v4l2_format format = Format(V4L2_PIX_FMT_BGR24, 320, 240);
      if (camera.Ioctl(kOtherFd, VIDIOC_QUERYCAP, &caps) != 0 ||
          camera.Ioctl(kOtherFd, VIDIOC_S_FMT, &format) != -EBUSY)
        ++otherGotTheDevice;
      camera.Close(kOtherFd);
    }
  });
  std::vector<uint8_t> frame(first.size());
  long last = 0, frames = 1;
  for (int i = 1; i <= 200; ++i) {
    const long got = camera.Read(kFd, frame.data(), frame.size(), t0 + i * 20ms);
    if (got == -EAGAIN) continue;
    ASSERT_EQ(got, long(frame.size()));
    const long number = testpicture::ReadFrameNumber(
        {testdevices::PixelFormat::Rgb24, 320, -240, frame.data(), frame.size(), 320 * 3});
    ASSERT_GT(number, last);
    last = number;
    ++frames;
  }
  other.join();
  EXPECT_EQ(otherGotTheDevice.load(), 0);
  EXPECT_EQ(last, 120);  // 4 s at 30 frames a second, frame 0 at the start
  EXPECT_EQ(camera.Close(kFd), "v4l2 camera stream 320x240 BGR24: frames read " +
                                   std::to_string(frames) +
                                   " of 121 produced, numbers 0..120, pauses 0");
}

TEST(FramePicture, ControlsMoveTheBarsAndKeepTheNumber) {
  // The picture both cameras draw: brightness moves every bar's level, clamped; zoom
  // magnifies the centre; the cells read the same number either way.
  const uint32_t number = 4242;
  std::vector<uint8_t> frame(320 * 240 * 3);
  auto draw = [&](const testdevices::PictureAdjustment& adjustment) {
    testdevices::FillVideoFrame(testdevices::PixelFormat::Rgb24, 320, -240, number, frame.data(),
                                long(frame.size()), 320 * 3, adjustment);
    return testdevices::PictureView{testdevices::PixelFormat::Rgb24, 320, -240, frame.data(),
                                    frame.size(), 320 * 3};
  };
  const testdevices::PictureAdjustment none, brighter{40, 1, 1}, darker{-24, 1, 1},
      zoomed{0, 200, 100}, both{30, 300, 100};
  for (const auto& adjustment : {none, brighter, darker, zoomed, both}) {
    const auto view = draw(adjustment);
    EXPECT_EQ(testpicture::ReadFrameNumber(view), long(number));
    EXPECT_EQ(testpicture::CheckAdjustedBars(view, number, adjustment), "");
    if (adjustment.brightness || adjustment.zoomNumerator != adjustment.zoomDenominator) {
      EXPECT_NE(testpicture::CheckAdjustedBars(view, number, none), "");
    }
  }
  // The black bar rises by 40, the white one stays at the top.
  const auto view = draw(brighter);
  const auto black = testdevices::ReadColourAt(view, testdevices::BarCentre(7, 320, number), 200);
  const auto white = testdevices::ReadColourAt(view, testdevices::BarCentre(0, 320, number), 200);
  EXPECT_EQ(black.r, 40);
  EXPECT_EQ(black.b, 40);
  EXPECT_EQ(white.g, 255);
  // Twice the zoom: the column at the centre keeps its colour, a bar is twice as wide.
  EXPECT_EQ(testdevices::ZoomedFrom(160, 320, zoomed), 160);
  EXPECT_EQ(testdevices::ZoomedFrom(0, 320, zoomed), 80);
  EXPECT_EQ(testdevices::ZoomedFrom(319, 320, zoomed), 239);
  EXPECT_EQ(testdevices::ZoomedFrom(17, 320, none), 17);
}

TEST(VirtualCamera, BrightnessShowsFromTheNextFrame) {
  VirtualCamera camera{CameraOptions{}};
  ASSERT_EQ(camera.Open(kFd), 0);
  v4l2_format format = Format(V4L2_PIX_FMT_BGR24, 320, 240);
  ASSERT_EQ(camera.Ioctl(kFd, VIDIOC_S_FMT, &format), 0);
  std::vector<uint8_t> frame(320 * 240 * 3);
  auto picture = [&] {
    return testdevices::PictureView{testdevices::PixelFormat::Rgb24, 320, -240, frame.data(),
                                    frame.size(), 320 * 3};
  };
  const auto t0 = VirtualCamera::Clock::time_point{} + 1h;
  ASSERT_EQ(camera.Read(kFd, frame.data(), frame.size(), t0), long(frame.size()));
  EXPECT_EQ(testpicture::CheckAdjustedBars(picture(), 0, {}), "");
  v4l2_control control{V4L2_CID_BRIGHTNESS, 48};
  ASSERT_EQ(camera.Ioctl(kFd, VIDIOC_S_CTRL, &control), 0);
  ASSERT_EQ(camera.Read(kFd, frame.data(), frame.size(), t0 + 34ms), long(frame.size()));
  EXPECT_EQ(ShownNumber(frame), 1);
  EXPECT_EQ(testpicture::CheckAdjustedBars(picture(), 1, {48, 1, 1}), "");
  EXPECT_NE(testpicture::CheckAdjustedBars(picture(), 1, {}), "");
  // The setting belongs to the device: a new descriptor finds it.
  camera.Close(kFd);
  ASSERT_EQ(camera.Open(kOtherFd), 0);
  control.value = 0;
  ASSERT_EQ(camera.Ioctl(kOtherFd, VIDIOC_G_CTRL, &control), 0);
  EXPECT_EQ(control.value, 48);
}
