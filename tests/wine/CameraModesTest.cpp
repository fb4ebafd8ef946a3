// Cameras laid out like the ones people own: a fixed list of modes, each size in
// YUY2, UYVY, NV12, YV12 or I420 (some RGB, some top-down), listed as VideoInfo,
// VideoInfo2 or both, some slower than 30 frames a second. For every layout, every
// host format at two sizes the camera offers: Open succeeds, the frames arrive at
// the camera's rate, whole, with the camera's frame numbers in order and its colour
// bars where it drew them. A size it lacks: the frames are the camera's picture,
// cropped about the centre to the host's aspect ratio and scaled.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdlib>
#include <mutex>
#include <string>
#include <vector>

#include "support/FrameGaps.h"
#include "support/FrameLog.h"
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
     {{320, 240}, {640, 480}},
     30},
    {L"kind=video;name=NV12 webcam;formats=NV12:1280x720,NV12:320x240,NV12:640x480;caps=vi2",
     {{640, 480}, {320, 240}},
     30},
    {L"kind=video;name=UYVY camera;formats=UYVY:640x480,UYVY:320x240;caps=pairs",
     {{320, 240}, {640, 480}},
     30},
    {L"kind=video;name=YV12 camera;formats=YV12:640x480,YV12:320x240",
     {{320, 240}, {640, 480}},
     30},
    {L"kind=video;name=I420 webcam;formats=I420:640x480,I420:320x240;format=I420:640x480",
     {{320, 240}, {640, 480}},
     30},
    {L"kind=video;name=Top-down RGB;formats=RGB24:640x-480,RGB565:320x-240",
     {{320, 240}, {640, 480}},
     30},
    {L"kind=video;name=RGB camera;formats=RGB32:320x240,RGB555:640x480,RGB24:640x480",
     {{640, 480}, {320, 240}},
     30},
    {L"kind=video;name=Slow webcam;formats=YUY2:640x480,YUY2:320x240;fpsrange=5-15",
     {{320, 240}, {640, 480}},
     15},
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

class CameraModes : public tesmo::test::TestDevicesTest<::testing::TestWithParam<size_t>> {};

class MotionJpegCameras : public CameraModes {};

// Reads each frame as the camera's picture cropped and scaled to the host's size.
class ScaledSink : public VideoSink {
public:
  struct Frame {
    int length;
    std::string bars;
  };
  ScaledSink(testdevices::PixelFormat format, int width, int height, int cameraWidth,
             int cameraHeight)
      : format(format), width(width), height(height), cameraWidth(cameraWidth),
        cameraHeight(cameraHeight) {}
  void OnData(const unsigned char* data, int length, unsigned long) override {
    const auto view = testpicture::HostFrame(format, width, height, data, size_t(length));
    log.Add({length, testpicture::CheckScaledBars(view, cameraWidth, cameraHeight)});
  }
  bool WaitFor(size_t count, int timeoutMs) { return log.WaitFor(count, timeoutMs); }
  std::vector<Frame> Frames() { return log.Frames(); }

private:
  const testdevices::PixelFormat format;
  const int width, height, cameraWidth, cameraHeight;
  tesmo::test::FrameLog<Frame> log;
};

const wchar_t kHdWebcam[] =
    L"kind=video;name=HD webcam;caps=both;formats=MJPG:1280x720@5-30,MJPG:1920x1080@5-30,"
    L"YUY2:1280x720@5-5,YUY2:1920x1080@5-5,MJPG:640x480@5-30,YUY2:640x480@5-30";

}  // namespace

namespace {

// Opens the first camera at this size and host format, captures `count` frames and
// checks them: the host's length, the camera's numbers rising, its bars in place and
// its rate, with no frame lost but those `skipped` says the camera never sent whole.
struct Expected {
  double framesPerSecond;
  size_t count = 12;
  // Numbers the camera never sends whole (corrupt frames).
  bool (*skipped)(long number) = nullptr;
  // A camera that encodes each frame may fall behind its rate on a loaded machine.
  bool cameraMayLag = false;
};

void CaptureAndCheck(VideoSourceCapture* capture, int width, int height, const HostFormat& host,
                     const Expected& expected) {
  const double framesPerSecond = expected.framesPerSecond;
  const size_t count = expected.count;
  const auto skipped = expected.skipped;
  SCOPED_TRACE(testing::Message() << width << "x" << height << " host format " << host.code);
  tesmo::test::PictureSink sink(host.format, width, height);
  ASSERT_EQ(capture->SetFormat(width, height, host.code), kCaptureDone);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  capture->SetSink(&sink);
  ASSERT_EQ(capture->Start(), kCaptureDone);
  sink.WaitFor(count, 8000 + int(count) * 100);
  capture->SetSink(nullptr);
  EXPECT_EQ(capture->IsOpened(), kCaptureYes) << "closed itself";
  ASSERT_EQ(capture->Close(), kCaptureDone);
  const auto frames = sink.Frames();
  ASSERT_GE(frames.size(), count);
  const int length = width * height * host.bits / 8;
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].length, length);
    EXPECT_GE(frames[i].number, 0) << "frame " << i;
    EXPECT_EQ(frames[i].bars, "") << "frame " << i;
    if (i) {
      EXPECT_GT(frames[i].number, frames[i - 1].number) << "frame " << i;
    }
    if (skipped) {
      EXPECT_FALSE(skipped(frames[i].number)) << "frame " << i;
    }
  }
  // The camera's rate: from the third frame on (the first may have waited for the
  // graph's start), numbers and time advance alike; the mode it was given says which
  // rate was chosen.
  const auto& first = frames[2];
  const auto& last = frames.back();
  const double seconds = (last.tick - first.tick) / 1000.0;
  const double rate = seconds > 0 ? (last.number - first.number) / seconds : 0;
  if (!expected.cameraMayLag) {
    EXPECT_GT(rate, framesPerSecond * 0.7);
  }
  EXPECT_LT(rate, framesPerSecond * 1.3);
  const TestDeviceRecord record = tesmo::test::DeviceRecord(0);
  EXPECT_NEAR(double(record.lastVideoInfo.AvgTimePerFrame), 1e7 / framesPerSecond, 1000);
  // Every frame the camera sent whole reached the host, but where the delivery thread
  // fell behind; from the third frame on, as the camera may send the first ones in a
  // burst while the graph starts its clock.
  std::vector<tesmo::test::DeliveredFrame> delivered;
  for (size_t i = 2; i < frames.size(); ++i)
    delivered.push_back({frames[i].number, frames[i].tick, frames[i].deliveredAt - frames[i].tick});
  EXPECT_EQ(tesmo::test::UnexplainedGaps(delivered, 1000 / framesPerSecond, skipped), "");
}

// Opens the first camera at a size it lacks, captures `count` frames and checks each
// is the host's length and shows the camera's picture of the mode it was asked for
// (cameraWidth x cameraHeight, as its record says), cropped to the host's aspect
// ratio and scaled; the object stays open.
void CaptureScaledAndCheck(VideoSourceCapture* capture, int width, int height,
                           const HostFormat& host, int cameraWidth, int cameraHeight,
                           size_t count = 6) {
  SCOPED_TRACE(testing::Message() << width << "x" << height << " host format " << host.code
                                  << " from " << cameraWidth << "x" << cameraHeight);
  ScaledSink sink(host.format, width, height, cameraWidth, cameraHeight);
  ASSERT_EQ(capture->SetFormat(width, height, host.code), kCaptureDone);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  const TestDeviceRecord record = tesmo::test::DeviceRecord(0);
  EXPECT_EQ(record.lastVideoInfo.bmiHeader.biWidth, cameraWidth);
  EXPECT_EQ(std::abs(record.lastVideoInfo.bmiHeader.biHeight), cameraHeight);
  capture->SetSink(&sink);
  ASSERT_EQ(capture->Start(), kCaptureDone);
  EXPECT_TRUE(sink.WaitFor(count, 15000)) << "frames: " << sink.Frames().size();
  capture->SetSink(nullptr);
  EXPECT_EQ(capture->IsOpened(), kCaptureYes) << "closed itself";
  ASSERT_EQ(capture->Close(), kCaptureDone);
  const int length = width * height * host.bits / 8;
  const auto frames = sink.Frames();
  for (size_t i = 0; i < frames.size(); ++i) {
    EXPECT_EQ(frames[i].length, length) << "frame " << i;
    EXPECT_EQ(frames[i].bars, "") << "frame " << i;
  }
}

}  // namespace

TEST_P(CameraModes, EveryHostFormatAtTwoSizesAndASizeItLacksScaled) {
  const Layout& layout = kLayouts[GetParam()];
  tesmo::test::UseTestDevices({layout.description});
  VideoSourceCapture* capture = CreateVSC();
  ASSERT_NE(capture, nullptr);
  for (const auto& size : layout.sizes)
    for (const HostFormat& host : kHostFormats)
      CaptureAndCheck(capture, size[0], size[1], host, {layout.framesPerSecond});
  // A size it lacks: a 1280 x 720 mode covers it cropped to 960 x 720; else none
  // does, and the largest, 640 x 480, is scaled up.
  const bool hd = std::wstring(layout.description).find(L"1280x720") != std::wstring::npos;
  CaptureScaledAndCheck(capture, 800, 600, kHostFormats[0], hd ? 1280 : 640, hd ? 720 : 480, 4);
  // A host that takes the camera's own frames gets no other size than the camera's.
  ASSERT_EQ(capture->SetFormat(800, 600, 7), kCaptureDone);
  EXPECT_EQ(capture->Open(0), kCaptureFailed);
  EXPECT_EQ(capture->IsOpened(), kCaptureNo);
  EXPECT_EQ(TestDevices_GetLiveObjectCount(), 0) << tesmo::test::LiveObjects();
  EXPECT_EQ(capture->Destroy(), kCaptureDone);
}

INSTANTIATE_TEST_SUITE_P(Layouts, CameraModes,
                         ::testing::Range<size_t>(0, sizeof kLayouts / sizeof kLayouts[0]));

// An HD webcam reaches 30 frames a second above 640 x 480 only in MJPG (YUY2 there
// gives 5): the library picks MJPG and decodes it into each host format, every other
// frame sent without Huffman tables as many webcams send them. At 640 x 480, where
// both reach 30, the uncompressed mode.
TEST_F(MotionJpegCameras, AnHdWebcamGivesEveryHostFormatAtThirtyFrames) {
  tesmo::test::UseTestDevices({std::wstring(kHdWebcam) + L";nodht=2"});
  VideoSourceCapture* capture = CreateVSC();
  ASSERT_NE(capture, nullptr);
  for (const auto& size : {std::make_pair(1920, 1080), std::make_pair(1280, 720)})
    for (const HostFormat& host : kHostFormats)
      CaptureAndCheck(capture, size.first, size.second, host, {30, 30, nullptr, true});
  EXPECT_EQ(tesmo::test::DeviceRecord(0).lastVideoInfo.bmiHeader.biCompression,
            MAKEFOURCC('M', 'J', 'P', 'G'));
  CaptureAndCheck(capture, 640, 480, kHostFormats[0], {30});
  EXPECT_EQ(tesmo::test::DeviceRecord(0).lastVideoInfo.bmiHeader.biCompression,
            MAKEFOURCC('Y', 'U', 'Y', '2'));
  EXPECT_EQ(capture->Destroy(), kCaptureDone);
}

// A camera that offers MJPG alone works for the host's four formats, also at sizes it
// lacks (320 x 240 decoded at half scale from 640 x 480; 800 x 600 from 1280 x 720
// cropped to 4:3); not for a host that takes the camera's own frames (they vary in
// length).
TEST_F(MotionJpegCameras, AnMjpgOnlyCameraWorksAtEverySizeForTheHostsFormats) {
  tesmo::test::UseTestDevices(
      {L"kind=video;name=MJPG camera;caps=vi;formats=MJPG:1280x720@5-30,MJPG:640x480@5-30"});
  VideoSourceCapture* capture = CreateVSC();
  ASSERT_NE(capture, nullptr);
  for (const HostFormat& host : kHostFormats)
    CaptureAndCheck(capture, 640, 480, host, {30, 12, nullptr, true});
  CaptureScaledAndCheck(capture, 320, 240, kHostFormats[0], 640, 480);
  CaptureScaledAndCheck(capture, 320, 240, kHostFormats[1], 640, 480);
  CaptureScaledAndCheck(capture, 800, 600, kHostFormats[3], 1280, 720);
  ASSERT_EQ(capture->SetFormat(640, 480, 7), kCaptureDone);  // the device's own format
  EXPECT_EQ(capture->Open(0), kCaptureFailed);
  EXPECT_EQ(TestDevices_GetLiveObjectCount(), 0) << tesmo::test::LiveObjects();
  EXPECT_EQ(capture->Destroy(), kCaptureDone);
}

// A bad cable: every fourth frame is corrupt. Those are dropped, every good one is
// delivered, and the capture goes on.
TEST_F(MotionJpegCameras, CorruptFramesAreDroppedAndEveryGoodOneDelivered) {
  tesmo::test::UseTestDevices(
      {L"kind=video;name=Bad cable;formats=MJPG:640x480@5-30;corruptevery=4"});
  VideoSourceCapture* capture = CreateVSC();
  ASSERT_NE(capture, nullptr);
  CaptureAndCheck(capture, 640, 480, kHostFormats[1],
                  {30, 40, [](long number) { return number % 4 == 3; }, true});
  EXPECT_EQ(capture->Destroy(), kCaptureDone);
}

// A camera gone bad (every frame corrupt from the 20th on), and one whose pictures
// are another size than its mode: after a second of frames that do not decode the
// object closes itself, as for a frame of the wrong size, and releases the device.
TEST_F(MotionJpegCameras, ASecondOfFramesThatDoNotDecodeClosesTheObject) {
  for (const wchar_t* fault : {L"corruptfrom=20", L"jpegsize=320x240"}) {
    SCOPED_TRACE(testing::Message() << fault);
    tesmo::test::UseTestDevices(
        {std::wstring(L"kind=video;name=Failing camera;formats=MJPG:640x480@5-30;") + fault});
    VideoSourceCapture* capture = CreateVSC();
    ASSERT_NE(capture, nullptr);
    tesmo::test::PictureSink sink(testdevices::PixelFormat::Rgb24, 640, 480);
    ASSERT_EQ(capture->SetFormat(640, 480, kVideoRgb24), kCaptureDone);
    ASSERT_EQ(capture->Open(0), kCaptureDone);
    capture->SetSink(&sink);
    ASSERT_EQ(capture->Start(), kCaptureDone);
    const DWORD deadline = GetTickCount() + 15000;
    while (capture->IsOpened() == kCaptureYes && GetTickCount() < deadline) Sleep(50);
    EXPECT_EQ(capture->IsOpened(), kCaptureNo) << "still open after 15 s";
    EXPECT_EQ(capture->IsRunning(), kCaptureFailed);
    const auto frames = sink.Frames();
    for (const auto& frame : frames) EXPECT_LT(frame.number, 20) << "a corrupt frame delivered";
    if (std::wstring(fault) == L"corruptfrom=20") {
      EXPECT_GE(frames.size(), 15u);
    } else {
      EXPECT_EQ(frames.size(), 0u);
    }
    capture->SetSink(nullptr);
    EXPECT_EQ(capture->Destroy(), kCaptureDone);
    EXPECT_EQ(TestDevices_GetLiveObjectCount(), 0) << tesmo::test::LiveObjects();
  }
}

// Cameras without the host's size, as common ones are laid out: a virtual camera with
// one HD mode, a laptop camera with 16:9 modes only, a capture card with two HD modes,
// and an MJPG camera with 1080p only. The defaults (320 x 240) and 640 x 480 open in
// every host format, from the smallest mode that covers the size once cropped to
// 4:3, and the frames show that mode's picture cropped about the centre and scaled.
TEST_F(CameraModes, CamerasThatLackTheHostsSizeServeItCroppedAndScaled) {
  struct Case {
    const wchar_t* description;
    int modes[2][2];  // the mode asked for at 320 x 240 and at 640 x 480
  };
  const Case cases[] = {
      {L"kind=video;name=Virtual camera;formats=NV12:1920x1080,YUY2:1920x1080;caps=both",
       {{1920, 1080}, {1920, 1080}}},
      {L"kind=video;name=Laptop camera;formats=YUY2:1280x720,YUY2:640x360,YUY2:424x240,"
       L"YUY2:320x180",
       {{424, 240}, {1280, 720}}},
      {L"kind=video;name=Capture card;formats=YUY2:1920x1080,YUY2:1280x720",
       {{1280, 720}, {1280, 720}}},
      {L"kind=video;name=MJPG HD camera;formats=MJPG:1920x1080@5-30", {{1920, 1080}, {1920, 1080}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << "camera " << testing::PrintToString(std::wstring(c.description)));
    tesmo::test::UseTestDevices({c.description});
    VideoSourceCapture* capture = CreateVSC();
    ASSERT_NE(capture, nullptr);
    const int sizes[2][2] = {{320, 240}, {640, 480}};
    for (int i = 0; i < 2; ++i)
      for (const HostFormat& host : kHostFormats)
        CaptureScaledAndCheck(capture, sizes[i][0], sizes[i][1], host, c.modes[i][0],
                              c.modes[i][1], 4);
    EXPECT_EQ(capture->Destroy(), kCaptureDone);
    EXPECT_EQ(TestDevices_GetLiveObjectCount(), 0) << tesmo::test::LiveObjects();
  }
}
