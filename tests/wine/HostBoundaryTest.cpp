// Both capture objects against hosts that behave as real ones do: an OnData that
// takes its time, calls back into the object, or waits for the host's own UI
// thread while that thread calls the object's operations.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "TestDeviceControl.h"
#include "Tesmo.h"
#include "support/CaptureSides.h"
#include "support/Messages.h"
#include "support/TestDevices.h"

namespace {

using tesmo::test::AudioSide;
using tesmo::test::LiveObjects;
using tesmo::test::PumpUntil;
using tesmo::test::VideoSide;
using tesmo::test::WaitWithoutPumping;

// A sink for either object that runs the test's action inside OnData. Entering is
// signalled on a Win32 event, so the host thread can wait for it without pumping
// messages.
class HostSink : public tesmo::test::AnySink {
public:
  HostSink() : entered(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~HostSink() { CloseHandle(entered); }

  void OnData(const unsigned char*, int, unsigned long) override {
    const int call = ++calls;
    SetEvent(entered);
    if (action) action(call);
    ++returned;
  }
  bool WaitUntilEntered(DWORD ms = 5000) {
    return WaitForSingleObject(entered, ms) == WAIT_OBJECT_0;
  }

  std::function<void(int call)> action;  // set before the object runs
  std::atomic<int> calls{0};
  std::atomic<int> returned{0};

private:
  HANDLE entered;
};

// Turns a hang into a failure with a message: a deadlock between OnData and the
// host's thread would otherwise wait for ctest's timeout.
class Watchdog {
public:
  explicit Watchdog(DWORD ms) : done(CreateEventW(nullptr, TRUE, FALSE, nullptr)), ms(ms) {
    thread = CreateThread(nullptr, 0, &Watch, this, 0, nullptr);
  }
  ~Watchdog() {
    SetEvent(done);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(done);
  }

private:
  static DWORD WINAPI Watch(void* raw) {
    auto* self = static_cast<Watchdog*>(raw);
    if (WaitForSingleObject(self->done, self->ms) == WAIT_TIMEOUT) {
      std::fprintf(stderr, "HANG: an operation did not return within %lu ms\n", self->ms);
      std::fflush(stderr);
      TerminateProcess(GetCurrentProcess(), 3);
    }
    return 0;
  }
  HANDLE done;
  HANDLE thread;
  DWORD ms;
};

// A window of the host's UI thread that counts the messages OnData sends it.
std::atomic<int> windowMessages{0};

LRESULT CALLBACK CountingWindowProc(HWND window, UINT message, WPARAM w, LPARAM l) {
  if (message == WM_APP) {
    ++windowMessages;
    return 0;
  }
  return DefWindowProcW(window, message, w, l);
}

HWND MakeUiWindow() {
  WNDCLASSW windowClass = {};
  windowClass.lpfnWndProc = CountingWindowProc;
  windowClass.hInstance = GetModuleHandleW(nullptr);
  windowClass.lpszClassName = L"TesmoHostBoundary";
  RegisterClassW(&windowClass);  // a second registration fails harmlessly
  return CreateWindowW(L"TesmoHostBoundary", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 400, 300, nullptr,
                       nullptr, windowClass.hInstance, nullptr);
}

template <class Side>
class HostBoundary : public ::testing::Test {
protected:
  using Object = typename Side::Object;

  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    tesmo::test::UseTestDevices({Side::Device()});
    capture = Side::Create();
    ASSERT_NE(capture, nullptr);
  }
  void TearDown() override {
    if (capture) {
      EXPECT_EQ(capture->Destroy(), kCaptureDone);
    }
    tesmo::test::ExpectDevicesReleasedThenUseDefaults();
    CoUninitialize();
  }
  void SetSink(HostSink& sink) { capture->SetSink(static_cast<typename Side::Sink*>(&sink)); }
  void ClearSink() { capture->SetSink(static_cast<typename Side::Sink*>(nullptr)); }

  Object* capture = nullptr;
};

TYPED_TEST_SUITE(HostBoundary, tesmo::test::CaptureSides, tesmo::test::CaptureSideNames);

}  // namespace

// Open, Close and Destroy are refused inside OnData and the object goes on
// delivering; the other operations work there, and Stop, after an OnData longer
// than a camera frame, stops it.
TYPED_TEST(HostBoundary, OnDataMayStopButNotOpenCloseOrDestroy) {
  auto* capture = this->capture;
  HWND owner = MakeUiWindow();  // pumped by this thread while it waits below
  HostSink sink;
  struct Inside {
    CaptureResult open = 77, close = 77, destroy = 77, opened = 77;
    CaptureResult list = 77, preview = 77, pace = 77;
    int devices = -1;
    CaptureResult stop = 77, runningAfterStop = 77;
  } inside;
  sink.action = [&](int call) {
    if (call == 1) {
      inside.open = capture->Open(0);
      inside.close = capture->Close();
      inside.destroy = capture->Destroy();
      inside.opened = capture->IsOpened();
    } else if (call == 2) {
      std::vector<char> names(8 * kNameEntryBytes);
      inside.list = capture->ListDevices(names.data(), &inside.devices);
      inside.preview = TypeParam::SetPreviewWindow(capture, owner);
      inside.pace = TypeParam::SetPace(capture);
    } else if (call == 3) {
      Sleep(150);  // longer than a camera frame, and than a device buffer
      inside.stop = capture->Stop();
      inside.runningAfterStop = capture->IsRunning();
    }
  };
  this->SetSink(sink);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  Watchdog watchdog(30000);
  ASSERT_EQ(capture->Start(), kCaptureDone);
  ASSERT_TRUE(PumpUntil([&] { return sink.returned >= 3; }, 5000)) << sink.calls;
  EXPECT_EQ(inside.open, kCaptureFailed);
  EXPECT_EQ(inside.close, kCaptureFailed);
  EXPECT_EQ(inside.destroy, kCaptureFailed);
  EXPECT_EQ(inside.opened, kCaptureYes);
  EXPECT_EQ(inside.list, kCaptureYes);
  EXPECT_EQ(inside.devices, 1);
  EXPECT_EQ(inside.preview, kCaptureDone);
  EXPECT_EQ(inside.pace, kCaptureDone);
  EXPECT_EQ(inside.stop, kCaptureDone);
  EXPECT_EQ(inside.runningAfterStop, kCaptureNo);
  EXPECT_EQ(capture->IsRunning(), kCaptureNo);
  // Stopped from inside its own OnData: no further call follows it.
  EXPECT_FALSE(PumpUntil([&] { return sink.calls > 3; }, 300));
  EXPECT_EQ(capture->Close(), kCaptureDone);
  this->ClearSink();
  DestroyWindow(owner);
}

// The GUI host: OnData hands its data to the UI thread with SendMessage and waits,
// while that UI thread, not pumping messages, calls the object's operations.
TYPED_TEST(HostBoundary, OnDataWaitingForTheUiThreadNeverBlocksItsOperations) {
  auto* capture = this->capture;
  HWND ui = MakeUiWindow();
  ASSERT_NE(ui, nullptr);
  windowMessages = 0;
  HostSink sink;
  sink.action = [&](int) { SendMessageW(ui, WM_APP, 0, 0); };
  this->SetSink(sink);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  ASSERT_EQ(capture->Start(), kCaptureDone);
  ASSERT_TRUE(sink.WaitUntilEntered());
  {
    Watchdog watchdog(20000);
    // None of these may wait for the OnData that waits for this thread.
    EXPECT_EQ(capture->Stop(), kCaptureDone);
    EXPECT_EQ(capture->IsRunning(), kCaptureNo);
    EXPECT_EQ(capture->Start(), kCaptureDone);
    EXPECT_EQ(TypeParam::SetPreviewWindow(capture, ui), kCaptureDone);
    EXPECT_EQ(capture->Close(), kCaptureDone);
    EXPECT_EQ(capture->IsOpened(), kCaptureNo);
    const DWORD start = GetTickCount();
    EXPECT_EQ(capture->Destroy(), kCaptureDone);
    this->capture = nullptr;
    EXPECT_LT(GetTickCount() - start, 1500u);
  }
  EXPECT_EQ(sink.returned, 0);  // all of it happened while OnData was waiting
  // Now the UI thread pumps: OnData gets its answer and returns, and none follows.
  ASSERT_TRUE(PumpUntil([&] { return sink.returned == 1; }, 5000));
  EXPECT_EQ(windowMessages, 1);
  EXPECT_FALSE(PumpUntil([&] { return sink.calls > 1; }, 300));
  DestroyWindow(ui);
}

// Destroy gives up on an OnData blocked for 3 s after about a second, and no OnData
// starts after it returned.
TYPED_TEST(HostBoundary, DestroyReturnsSoonWhileOnDataIsBlocked) {
  auto* capture = this->capture;
  HostSink sink;
  sink.action = [](int call) {
    if (call == 1) Sleep(3000);
  };
  this->SetSink(sink);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  ASSERT_EQ(capture->Start(), kCaptureDone);
  ASSERT_TRUE(sink.WaitUntilEntered());
  const DWORD start = GetTickCount();
  {
    Watchdog watchdog(20000);
    EXPECT_EQ(capture->Destroy(), kCaptureDone);
  }
  this->capture = nullptr;
  const DWORD took = GetTickCount() - start;
  EXPECT_LT(took, 1500u);
  EXPECT_GE(took, 900u);  // it did wait its bound for the call in progress
  EXPECT_EQ(sink.returned, 0);
  ASSERT_TRUE(WaitWithoutPumping([&] { return sink.returned == 1; }, 5000));
  EXPECT_FALSE(WaitWithoutPumping([&] { return sink.calls > 1; }, 300));
}

namespace {

// Video only: what happens after a frame of the wrong size.
class WrongSizeFrames : public HostBoundary<VideoSide> {
protected:
  // Waits, pumping messages, until the object closed itself.
  bool WaitUntilClosedByItself(VideoSourceCapture* object) {
    return PumpUntil([&] { return object->IsOpened() == kCaptureNo; }, 5000);
  }
};

}  // namespace

// The wrong-size frame is pending while the host closes and opens another camera;
// the request belongs to the old graph and must not close the new one.
TEST_F(WrongSizeFrames, APendingResetDoesNotCloseTheCameraOpenedSince) {
  tesmo::test::UseTestDevices(
      {VideoSide::Device(L";wrongsizeafter=3"), L"kind=video;name=Second Camera"});
  HANDLE release = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  HostSink sink;
  sink.action = [&](int call) {
    if (call == 1) WaitForSingleObject(release, 10000);
  };
  SetSink(sink);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  ASSERT_EQ(capture->Start(), kCaptureDone);
  ASSERT_TRUE(sink.WaitUntilEntered());
  // The wrong frame has reached the object while the delivery thread is busy.
  ASSERT_TRUE(PumpUntil([] { return tesmo::test::DeviceRecord(0).wrongSizeSamples > 0; }, 5000));
  EXPECT_EQ(capture->Close(), kCaptureDone);
  ASSERT_EQ(capture->Open(1), kCaptureDone);
  ASSERT_EQ(capture->Start(), kCaptureDone);
  SetEvent(release);
  // The second camera stays open and delivers.
  ASSERT_TRUE(PumpUntil([&] { return sink.returned >= 5; }, 5000)) << sink.returned;
  EXPECT_EQ(capture->IsOpened(), kCaptureYes);
  EXPECT_EQ(capture->IsRunning(), kCaptureYes);
  EXPECT_GE(tesmo::test::DeviceRecord(1).samplesDelivered, 3);
  EXPECT_EQ(capture->Close(), kCaptureDone);
  ClearSink();
  CloseHandle(release);
}

// After a frame of the wrong size closed the object, the camera itself is free:
// nothing of it is held, and a second object opens and captures from it.
TEST_F(WrongSizeFrames, TheClosedObjectReleasesTheCamera) {
  tesmo::test::UseTestDevices({VideoSide::Device(L";wrongsizeafter=20")});
  HostSink sink;
  SetSink(sink);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  ASSERT_EQ(capture->Start(), kCaptureDone);
  ASSERT_TRUE(WaitUntilClosedByItself(capture));
  EXPECT_GT(sink.calls, 0);
  // The camera's filter, pins and enumerators are all gone, while this thread
  // still holds the rest of the graph (its renderer window is this thread's).
  EXPECT_TRUE(PumpUntil([] { return TestDevices_GetLiveObjectCount() == 0; }, 2000))
      << LiveObjects();

  VideoSourceCapture* second = CreateVSC();
  ASSERT_NE(second, nullptr);
  HostSink secondSink;
  second->SetSink(&secondSink);
  ASSERT_EQ(second->Open(0), kCaptureDone);
  ASSERT_EQ(second->Start(), kCaptureDone);
  EXPECT_TRUE(PumpUntil([&] { return secondSink.calls >= 3; }, 5000));
  EXPECT_EQ(second->Destroy(), kCaptureDone);
  // The first object, closed by itself, still ends cleanly.
  EXPECT_EQ(capture->IsOpened(), kCaptureNo);
  EXPECT_EQ(capture->Open(0), kCaptureDone);
  EXPECT_EQ(capture->Close(), kCaptureDone);
  ClearSink();
}
