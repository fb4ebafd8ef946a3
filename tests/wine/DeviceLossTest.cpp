// Both capture objects when their device goes away while running: the test devices
// end their stream with EC_DEVICE_LOST, EC_ERRORABORT or EC_STREAM_ERROR_STOPPED, as
// a driver's filter does. The object closes itself, calls the sink no more, releases
// the device, and the same index opens again.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "TestDeviceControl.h"
#include "Tesmo.h"
#include "support/TestDevices.h"

namespace {

using tesmo::test::LiveObjects;

class CountingSink : public AudioSink, public VideoSink {
public:
  void OnData(const unsigned char*, int, unsigned long) override {
    lastTick = GetTickCount();
    ++calls;
  }
  std::atomic<int> calls{0};
  std::atomic<DWORD> lastTick{0};
};

template <class Condition>
bool PumpUntil(Condition condition, DWORD ms) {
  for (DWORD start = GetTickCount(); !condition(); Sleep(2)) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    if (GetTickCount() - start > ms) return false;
  }
  return true;
}

struct AudioSide {
  using Object = AudioSourceCapture;
  using Sink = AudioSink;
  static Object* Create() { return CreateASC(); }
  static const wchar_t* Kind() { return L"kind=audio;name=Going Microphone"; }
};

struct VideoSide {
  using Object = VideoSourceCapture;
  using Sink = VideoSink;
  static Object* Create() { return CreateVSC(); }
  static const wchar_t* Kind() { return L"kind=video;name=Going Camera"; }
};

template <class Side>
class DeviceLoss : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
  void TearDown() override {
    EXPECT_EQ(TestDevices_GetLiveObjectCount(), 0) << LiveObjects();
    TestDevices_UseDefaultDevices();
    CoUninitialize();
  }
};

using Sides = ::testing::Types<AudioSide, VideoSide>;
class SideNames {
public:
  template <class T>
  static std::string GetName(int) {
    return std::is_same<T, AudioSide>::value ? "Audio" : "Video";
  }
};
TYPED_TEST_SUITE(DeviceLoss, Sides, SideNames);

}  // namespace

TYPED_TEST(DeviceLoss, TheObjectClosesReleasesTheDeviceAndOpensAgain) {
  const struct {
    const wchar_t* fault;
    long code;
  } faults[] = {{L";unplugafter=12", EC_DEVICE_LOST},
                {L";streamerror=12", EC_ERRORABORT},
                {L";streamstopped=12", EC_STREAM_ERROR_STOPPED},
                {L";pins=capture;unplugafter=12", EC_DEVICE_LOST}};
  for (const auto& fault : faults) {
    SCOPED_TRACE(testing::Message() << TypeParam::Kind() << fault.fault);
    tesmo::test::UseTestDevices({std::wstring(TypeParam::Kind()) + fault.fault});
    auto* capture = TypeParam::Create();
    ASSERT_NE(capture, nullptr);
    CountingSink sink;
    capture->SetSink(static_cast<typename TypeParam::Sink*>(&sink));
    ASSERT_EQ(capture->Open(0), kCaptureDone);
    ASSERT_EQ(capture->Start(), kCaptureDone);

    // The device ends its stream after 12 samples and tells the graph.
    ASSERT_TRUE(PumpUntil([] { return tesmo::test::DeviceRecord(0).streamEndEvents > 0; }, 5000));
    const DWORD lostAt = GetTickCount();
    EXPECT_EQ(tesmo::test::DeviceRecord(0).lastStreamEndEvent, fault.code);
    ASSERT_TRUE(PumpUntil([&] { return capture->IsOpened() == kCaptureNo; }, 2000))
        << "the object never noticed";
    // Closed within a delivery cycle of the event, not after some long timeout.
    EXPECT_LT(GetTickCount() - lostAt, 250u);
    EXPECT_EQ(capture->IsRunning(), kCaptureFailed);
    EXPECT_EQ(capture->Start(), kCaptureFailed);
    EXPECT_GT(sink.calls, 0);
    const int calls = sink.calls;
    EXPECT_FALSE(PumpUntil([&] { return sink.calls > calls; }, 300)) << "OnData after the loss";
    // Nothing of the device is held any more, though the object still exists.
    EXPECT_TRUE(PumpUntil([] { return TestDevices_GetOutstandingReferences() == 0; }, 2000))
        << LiveObjects();

    // The device is back (a fresh filter object streams again): the same index opens.
    tesmo::test::UseTestDevices({TypeParam::Kind()});
    ASSERT_EQ(capture->Open(0), kCaptureDone);
    ASSERT_EQ(capture->Start(), kCaptureDone);
    EXPECT_TRUE(PumpUntil([&] { return sink.calls > calls + 3; }, 5000));
    EXPECT_EQ(capture->IsOpened(), kCaptureYes);
    EXPECT_EQ(capture->Destroy(), kCaptureDone);
    EXPECT_EQ(TestDevices_GetOutstandingReferences(), 0) << LiveObjects();
  }
}

// Once closed by the loss, the object stays quiet and whole until the host acts:
// stopping, closing and destroying it then are as for any closed object.
TYPED_TEST(DeviceLoss, HostOperationsAfterTheLossAreThoseOfAClosedObject) {
  tesmo::test::UseTestDevices({std::wstring(TypeParam::Kind()) + L";unplugafter=5"});
  auto* capture = TypeParam::Create();
  ASSERT_NE(capture, nullptr);
  CountingSink sink;
  capture->SetSink(static_cast<typename TypeParam::Sink*>(&sink));
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  ASSERT_EQ(capture->Start(), kCaptureDone);
  ASSERT_TRUE(PumpUntil([&] { return capture->IsOpened() == kCaptureNo; }, 5000));
  EXPECT_EQ(capture->Stop(), kCaptureFailed);
  EXPECT_EQ(capture->Close(), kCaptureDone);
  EXPECT_EQ(capture->Close(), kCaptureDone);
  EXPECT_EQ(capture->Destroy(), kCaptureDone);
}
