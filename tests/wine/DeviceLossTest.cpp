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
#include "support/CaptureSides.h"
#include "support/Messages.h"
#include "support/TestDevices.h"

namespace {

using tesmo::test::LiveObjects;
using tesmo::test::PumpUntil;

class CountingSink : public tesmo::test::AnySink {
public:
  void OnData(const unsigned char*, int, unsigned long) override { ++calls; }
  std::atomic<int> calls{0};
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
  // A new object on the test device with these keys, opened and running.
  void OpenAndStart(const wchar_t* keys, typename Side::Object*& capture, CountingSink& sink) {
    tesmo::test::UseTestDevices({Side::Device(keys)});
    capture = Side::Create();
    ASSERT_NE(capture, nullptr);
    capture->SetSink(static_cast<typename Side::Sink*>(&sink));
    ASSERT_EQ(capture->Open(0), kCaptureDone);
    ASSERT_EQ(capture->Start(), kCaptureDone);
  }
};

TYPED_TEST_SUITE(DeviceLoss, tesmo::test::CaptureSides, tesmo::test::CaptureSideNames);

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
    SCOPED_TRACE(testing::Message() << fault.fault);
    typename TypeParam::Object* capture = nullptr;
    CountingSink sink;
    this->OpenAndStart(fault.fault, capture, sink);
    if (this->HasFatalFailure()) return;

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
    tesmo::test::UseTestDevices({TypeParam::Device()});
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
  typename TypeParam::Object* capture = nullptr;
  CountingSink sink;
  this->OpenAndStart(L";unplugafter=5", capture, sink);
  if (this->HasFatalFailure()) return;
  ASSERT_TRUE(PumpUntil([&] { return capture->IsOpened() == kCaptureNo; }, 5000));
  EXPECT_EQ(capture->Stop(), kCaptureFailed);
  EXPECT_EQ(capture->Close(), kCaptureDone);
  EXPECT_EQ(capture->Close(), kCaptureDone);
  EXPECT_EQ(capture->Destroy(), kCaptureDone);
}
