// Cameras laid out like the ones people own: a fixed list of modes, each size in
// YUY2, UYVY, NV12, YV12 or I420 (some RGB, some top-down), listed as VideoInfo,
// VideoInfo2 or both, some slower than 30 frames a second. For every layout, every
// host format at two sizes the camera offers: Open succeeds, the frames arrive at
// the camera's rate, whole, with the camera's frame numbers in order and its colour
// bars where it drew them. A size it lacks: Open fails and nothing is held.
#include <gtest/gtest.h>

#include <windows.h>

#include <mutex>
#include <string>
#include <vector>

#include "support/PictureSink.h"
#include "support/TestDevices.h"
#include "Tesmo.h"

namespace {

struct Layout {
  const wchar_t* description;
  int sizes[2][2];
  double framesPerSecond;
};

const Layout kLayouts[] = {
    {L"kind=video;name=USB webcam;formats=YUY2:640x480,YUY2:320x240;format=YUY2:640x480;caps=both",
     {{320, 240}, {640, 480}}, 30},
    {L"kind=video;name=NV12 webcam;formats=NV12:1280x720,NV12:320x240,NV12:640x480;caps=vi2",
     {{640, 480}, {320, 240}}, 30},
    {L"kind=video;name=UYVY camera;formats=UYVY:640x480,UYVY:320x240;caps=pairs",
     {{320, 240}, {640, 480}}, 30},
    {L"kind=video;name=YV12 camera;formats=YV12:640x480,YV12:320x240", {{320, 240}, {640, 480}}, 30},
    {L"kind=video;name=I420 webcam;formats=I420:640x480,I420:320x240;format=I420:640x480",
     {{320, 240}, {640, 480}}, 30},
    {L"kind=video;name=Top-down RGB;formats=RGB24:640x-480,RGB565:320x-240",
     {{320, 240}, {640, 480}}, 30},
    {L"kind=video;name=RGB camera;formats=RGB32:320x240,RGB555:640x480,RGB24:640x480",
     {{640, 480}, {320, 240}}, 30},
    {L"kind=video;name=Slow webcam;formats=YUY2:640x480,YUY2:320x240;fpsrange=5-15",
     {{320, 240}, {640, 480}}, 15},
};

struct HostFormat {
  int code;
  testdevices::PixelFormat format;
  int bits;
};

const HostFormat kHostFormats[] = {{kVideoRgb24, testdevices::PixelFormat::Rgb24, 24},
                                   {kVideoI420, testdevices::PixelFormat::I420, 12},
                                   {kVideoRgb555, testdevices::PixelFormat::Rgb555, 16},
                                   {kVideoRgb32, testdevices::PixelFormat::Rgb32, 32}};

class CameraModes : public ::testing::TestWithParam<size_t> {
protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
  void TearDown() override {
    tesmo::test::ExpectDevicesReleasedThenUseDefaults();
    CoUninitialize();
  }
};

}  // namespace

TEST_P(CameraModes, EveryHostFormatAtTwoSizesAndNoneAtASizeItLacks) {
  const Layout& layout = kLayouts[GetParam()];
  tesmo::test::UseTestDevices({layout.description});
  VideoSourceCapture* capture = CreateVSC();
  ASSERT_NE(capture, nullptr);
  for (const auto& size : layout.sizes) {
    for (const HostFormat& host : kHostFormats) {
      const int width = size[0], height = size[1];
      SCOPED_TRACE(testing::Message() << width << "x" << height << " host format " << host.code);
      tesmo::test::PictureSink sink(host.format, width, height);
      ASSERT_EQ(capture->SetFormat(width, height, host.code), kCaptureDone);
      ASSERT_EQ(capture->Open(0), kCaptureDone);
      capture->SetSink(&sink);
      ASSERT_EQ(capture->Start(), kCaptureDone);
      sink.WaitFor(12, 8000);
      capture->SetSink(nullptr);
      EXPECT_EQ(capture->IsOpened(), kCaptureYes) << "closed itself";
      ASSERT_EQ(capture->Close(), kCaptureDone);
      const auto frames = sink.Frames();
      ASSERT_GE(frames.size(), 12u);
      const int length = width * height * host.bits / 8;
      for (size_t i = 0; i < frames.size(); ++i) {
        EXPECT_EQ(frames[i].length, length);
        EXPECT_GE(frames[i].number, 0) << "frame " << i;
        EXPECT_EQ(frames[i].bars, "") << "frame " << i;
        if (i) EXPECT_GT(frames[i].number, frames[i - 1].number) << "frame " << i;
      }
      // The camera's rate: from the third frame on (the first may have waited for the
      // graph's start), numbers and time advance alike.
      const auto& first = frames[2];
      const auto& last = frames.back();
      const double seconds = (last.tick - first.tick) / 1000.0;
      const double rate = seconds > 0 ? (last.number - first.number) / seconds : 0;
      EXPECT_GT(rate, layout.framesPerSecond * 0.7);
      EXPECT_LT(rate, layout.framesPerSecond * 1.3);
      // Every frame the camera sent reached the host: the pace is the camera's.
      EXPECT_LE(last.number - first.number, static_cast<long>(frames.size() - 3) + 1)
          << "frames lost between numbers " << first.number << " and " << last.number;
    }
  }
  // A size the camera does not offer.
  ASSERT_EQ(capture->SetFormat(800, 600, kVideoRgb24), kCaptureDone);
  EXPECT_EQ(capture->Open(0), kCaptureFailed);
  EXPECT_EQ(capture->IsOpened(), kCaptureNo);
  EXPECT_EQ(TestDevices_GetLiveObjectCount(), 0) << tesmo::test::LiveObjects();
  EXPECT_EQ(capture->Destroy(), kCaptureDone);
}

INSTANTIATE_TEST_SUITE_P(Layouts, CameraModes,
                         ::testing::Range<size_t>(0, sizeof kLayouts / sizeof kLayouts[0]));
