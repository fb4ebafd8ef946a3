// The video object through the DLL against the test camera, in real DirectShow
// graphs (the builder's video renderer needs an X display: run under Xvfb).
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "TestDeviceControl.h"
#include "support/TestDevices.h"
#include "Tesmo.h"

namespace {

using tesmo::test::LiveObjects;

// Keeps the frame number, length and ticks of every frame it is handed.
class FrameSink : public VideoSink {
public:
  struct Frame {
    uint32_t number;
    int length;
    unsigned long arrivalTick;
    DWORD deliveryTick;
  };
  void OnData(const unsigned char* data, int length, unsigned long tickMs) override {
    uint32_t number = 0;
    if (length >= 4) std::memcpy(&number, data, 4);
    std::lock_guard<std::mutex> hold(mutex);
    frames.push_back({number, length, tickMs, GetTickCount()});
    arrived.notify_all();
  }
  bool WaitFor(size_t count, int timeoutMs = 5000) {
    std::unique_lock<std::mutex> hold(mutex);
    return arrived.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                            [&] { return frames.size() >= count; });
  }
  std::vector<Frame> Frames() {
    std::lock_guard<std::mutex> hold(mutex);
    return frames;
  }

private:
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<Frame> frames;
};

// The renderer's window lives on the thread that opened the graph; a host thread
// with windows pumps its messages.
void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

class VideoCapture : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    UseDevices({L"kind=video;name=Tesmo Test Camera"});
    capture = CreateVSC();
    ASSERT_NE(capture, nullptr);
  }
  void TearDown() override {
    if (capture) EXPECT_EQ(capture->Destroy(), kCaptureDone);
    EXPECT_EQ(TestDevices_GetLiveObjectCount(), 0) << LiveObjects();
    EXPECT_EQ(TestDevices_GetOutstandingReferences(), 0) << LiveObjects();
    TestDevices_UseDefaultDevices();
    CoUninitialize();
  }
  void UseDevices(const std::vector<std::wstring>& descriptions) {
    tesmo::test::UseTestDevices(descriptions);
  }
  TestDeviceRecord Record(int device = 0) { return tesmo::test::DeviceRecord(device); }
  // Captures until `count` frames arrived; checks their length, numbers and ticks.
  void CaptureFrames(FrameSink& sink, size_t count, int expectedLength) {
    ASSERT_EQ(capture->Start(), kCaptureDone);
    ASSERT_TRUE(sink.WaitFor(count)) << "frames: " << sink.Frames().size();
    ASSERT_EQ(capture->Stop(), kCaptureDone);
    auto frames = sink.Frames();
    for (size_t i = 0; i < frames.size(); ++i) {
      EXPECT_EQ(frames[i].length, expectedLength);
      EXPECT_LE(frames[i].arrivalTick, frames[i].deliveryTick);
      if (i) EXPECT_GT(frames[i].number, frames[i - 1].number);
    }
  }
  VideoSourceCapture* capture = nullptr;
};

}  // namespace

TEST_F(VideoCapture, DeliversWholeFramesInEachPixelFormat) {
  FrameSink sink;
  capture->SetSink(&sink);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  char name[kNameEntryBytes] = {};
  capture->GetDeviceName(name);
  EXPECT_STREQ(name, "Tesmo Test Camera");
  EXPECT_EQ(Record().setFormatAccepted, 1);
  EXPECT_EQ(Record().lastVideoInfo.AvgTimePerFrame, 333333);
  CaptureFrames(sink, 5, 320 * 240 * 3);

  const struct {
    int width, height, code, length;
  } formats[] = {{320, 240, kVideoRgb32, 307200}, {320, 240, kVideoRgb555, 153600},
                 {640, 480, kVideoI420, 460800}};
  for (const auto& format : formats) {
    SCOPED_TRACE(format.code);
    ASSERT_EQ(capture->Close(), kCaptureDone);
    EXPECT_STREQ((capture->GetDeviceName(name), name), "");
    ASSERT_EQ(capture->SetFormat(format.width, format.height, format.code), kCaptureDone);
    FrameSink formatSink;
    capture->SetSink(&formatSink);
    CaptureResult opened = capture->Open(0);
    TestDeviceRecord record = Record();
    EXPECT_EQ(record.lastVideoInfo.bmiHeader.biWidth, format.width);
    EXPECT_EQ(record.lastVideoInfo.bmiHeader.biHeight, format.height);
    EXPECT_EQ(record.lastVideoInfo.AvgTimePerFrame, 333333);
    if (format.code == kVideoI420) {
      EXPECT_EQ(record.lastVideoInfo.bmiHeader.biBitCount, 12);
      EXPECT_EQ(record.lastVideoInfo.bmiHeader.biCompression, MAKEFOURCC('I', '4', '2', '0'));
      EXPECT_EQ(record.lastFormatType.lSampleSize, 460800u);
    }
    // Wine's video renderer takes only RGB24 and RGB32 from the grabber; on Windows
    // the builder inserts a converter for the others.
    if (opened != kCaptureDone) {
      EXPECT_NE(format.code, kVideoRgb32);
      continue;
    }
    CaptureFrames(formatSink, 3, format.length);
    capture->SetSink(nullptr);
  }
}

TEST_F(VideoCapture, FormatsTheCameraRefusesOrDoesNotName) {
  UseDevices({L"kind=video;name=Picky;formats=RGB24", L"kind=video;name=Plain"});
  // Code 7 names no pixel format: the camera keeps RGB24 at the new size.
  ASSERT_EQ(capture->SetFormat(352, 288, 7), kCaptureDone);
  ASSERT_EQ(capture->Open(1), kCaptureDone);
  TestDeviceRecord record = Record(1);
  EXPECT_EQ(record.lastVideoInfo.bmiHeader.biBitCount, 24);
  EXPECT_EQ(record.lastVideoInfo.bmiHeader.biWidth, 352);
  EXPECT_TRUE(IsEqualGUID(record.lastFormatType.subtype, MEDIASUBTYPE_RGB24));
  ASSERT_EQ(capture->Close(), kCaptureDone);
  // A camera refusing I420: the format goes to the grabber, and without a converter
  // that can make I420 the stream cannot be rendered.
  ASSERT_EQ(capture->SetFormat(640, 480, kVideoI420), kCaptureDone);
  CaptureResult opened = capture->Open(0);
  EXPECT_EQ(Record(0).setFormatRefused, 1);
  if (opened == kCaptureDone) {
    FrameSink sink;
    capture->SetSink(&sink);
    CaptureFrames(sink, 2, 460800);  // the builder converted to the imposed type
    capture->SetSink(nullptr);
  }
  EXPECT_EQ(capture->Close(), kCaptureDone);
}

TEST_F(VideoCapture, WrongSizeFrameClosesTheObjectWithoutCallingTheSink) {
  UseDevices({L"kind=video;name=Faulty;wrongsizeafter=3"});
  FrameSink sink;
  capture->SetSink(&sink);
  ASSERT_EQ(capture->SetFrameRate(600), kCaptureDone);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  ASSERT_EQ(capture->Start(), kCaptureDone);
  const DWORD start = GetTickCount();
  while (capture->IsOpened() == kCaptureYes && GetTickCount() - start < 5000) Sleep(10);
  EXPECT_EQ(capture->IsOpened(), kCaptureNo);
  EXPECT_EQ(capture->IsRunning(), kCaptureFailed);
  for (const auto& frame : sink.Frames()) {
    EXPECT_EQ(frame.length, 230400);
    EXPECT_LT(frame.number, 3u);
  }
}

TEST_F(VideoCapture, PalDIsSelectedOnlyWhenOfferedAndNotSet) {
  UseDevices({L"kind=video;name=Ntsc;tvformats=0x21;tvformat=0x1",
              L"kind=video;name=Pal;tvformats=0x21;tvformat=0x20",
              L"kind=video;name=NoPal;tvformats=0x1;tvformat=0x1"});
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  EXPECT_EQ(Record(0).putTvFormatCalls, 1);
  EXPECT_EQ(Record(0).tvFormat, AnalogVideo_PAL_D);
  ASSERT_EQ(capture->Open(1), kCaptureDone);
  EXPECT_EQ(Record(1).putTvFormatCalls, 0);
  ASSERT_EQ(capture->Open(2), kCaptureDone);
  EXPECT_EQ(Record(2).putTvFormatCalls, 0);
}

TEST_F(VideoCapture, DeviceListAndIndexes) {
  UseDevices({L"kind=video;name=First", L"kind=video;noname", L"kind=video;name=Third"});
  std::vector<char> names(4 * kNameEntryBytes);
  int count = -1;
  ASSERT_EQ(capture->ListDevices(names.data(), &count), kCaptureYes);
  ASSERT_EQ(count, 2);
  EXPECT_STREQ(names.data(), "First");
  EXPECT_STREQ(names.data() + kNameEntryBytes, "Third");
  EXPECT_EQ(capture->Open(1), kCaptureFailed);  // its name cannot be read
  EXPECT_EQ(capture->Close(), kCaptureDone);
  ASSERT_EQ(capture->Open(2), kCaptureDone);
  char name[kNameEntryBytes] = {};
  capture->GetDeviceName(name);
  EXPECT_STREQ(name, "Third");
  EXPECT_EQ(capture->Open(3), kCaptureFailed);
  EXPECT_EQ(capture->Start(), kCaptureFailed);

  UseDevices({});
  EXPECT_EQ(capture->ListDevices(names.data(), &count), kCaptureNo);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(capture->Open(0), kCaptureFailed);
}

TEST_F(VideoCapture, FailingStepsOfOpenLeaveNothingHeld) {
  for (const char* fault : {"IClassFactory::CreateInstance", "IKsPropertySet::Get",
                            "IPin::EnumMediaTypes", "IBaseFilter::EnumPins"}) {
    SCOPED_TRACE(fault);
    std::wstring description = L"kind=video;name=Cam;fail=";
    for (const char* c = fault; *c; ++c) description += static_cast<wchar_t>(*c);
    UseDevices({description});
    EXPECT_EQ(capture->Open(0), kCaptureFailed);
    EXPECT_EQ(capture->IsOpened(), kCaptureNo);
    EXPECT_EQ(capture->Close(), kCaptureDone);
    EXPECT_EQ(TestDevices_GetLiveObjectCount(), 0) << LiveObjects();
  }
}

// Disabled: under Wine an Open in a long run of cycles sometimes never returns.
TEST_F(VideoCapture, DISABLED_ManyCyclesLeaveNothingHeld) {
  // A device whose format cannot be read keeps its own and still opens.
  UseDevices({L"kind=video;name=Cam;fail=IAMStreamConfig::GetFormat"});
  EXPECT_EQ(capture->Open(0), kCaptureDone);
  UseDevices({L"kind=video;name=Cam"});
  FrameSink sink;
  capture->SetSink(&sink);
  for (int i = 0; i < 20; ++i) {
    ASSERT_EQ(capture->Open(0), kCaptureDone) << i;
    ASSERT_EQ(capture->Start(), kCaptureDone);
    ASSERT_EQ(capture->Stop(), kCaptureDone);
    ASSERT_EQ(capture->Close(), kCaptureDone);
  }
  EXPECT_EQ(TestDevices_GetLiveObjectCount(), 0) << LiveObjects();
}
