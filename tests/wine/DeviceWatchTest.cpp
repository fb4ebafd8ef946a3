// The device watch as a host meets it: test devices registered and unregistered in
// this process and from another, reported once each with their identity and name; two
// sinks over a hundred plugs; StopWatchingDevices against a call that is running; and
// open objects whose device leaves the list without a word.
#include <windows.h>
#include <dbt.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "TestDeviceControl.h"
#include "Tesmo.h"
#include "support/Messages.h"
#include "support/ProcessCounts.h"
#include "support/TestDevices.h"

namespace {

using tesmo::test::TestDevicesTest;
using tesmo::test::WaitWithoutPumping;

const wchar_t kMicrophone[] = L"kind=audio;name=Tesmo Test Microphone";
const wchar_t kCamera[] = L"kind=video;name=Tesmo Test Camera";
const wchar_t kPluggedCamera[] = L"kind=video;name=Plugged Camera";
const wchar_t kPluggedMicrophone[] = L"kind=audio;name=Plugged Microphone";

// Generous bounds: the watch lists once a second on a low-priority thread, which a
// loaded machine may keep waiting.
constexpr DWORD kReportBoundMs = 6000;

struct Change {
  int kind = -1;
  int change = 0;
  std::string identity;
  std::string name;
  DWORD tick = 0;
};

// A host's sink: keeps every change it is told of.
class ChangeLog : public DeviceWatchSink {
public:
  void OnDeviceChange(int kind, int change, const char* identity, const char* name) override {
    std::lock_guard<std::mutex> hold(lock);
    changes.push_back({kind, change, identity ? identity : "(null)", name ? name : "(null)",
                       GetTickCount()});
  }
  std::vector<Change> Changes() {
    std::lock_guard<std::mutex> hold(lock);
    return changes;
  }
  size_t Count() { return Changes().size(); }
  bool WaitForCount(size_t count) {
    return WaitWithoutPumping([&] { return Count() >= count; }, kReportBoundMs);
  }

private:
  std::mutex lock;
  std::vector<Change> changes;
};

std::string Identity(int kind, int index) {
  char text[1024] = {};
  int length = 0;
  const CaptureResult result = kind == kDeviceVideo
                                   ? GetVideoDeviceIdentity(index, text, sizeof text, &length)
                                   : GetAudioDeviceIdentity(index, text, sizeof text, &length);
  EXPECT_EQ(result, kCaptureYes) << "device " << index;
  return text;
}

void SetDevices(const std::vector<const wchar_t*>& descriptions) {
  ASSERT_EQ(TestDevices_SetDevices(descriptions.data(), static_cast<int>(descriptions.size())),
            S_OK);
}

// What Windows sends the watch's window when a device interface comes (Wine sends
// nothing): the watch lists at once instead of at its next second. Sent, not posted,
// as the system does: the message carries a pointer.
void AnnounceDeviceChange() {
  HWND window = FindWindowExW(HWND_MESSAGE, nullptr, L"TesmoDeviceAnnouncements", nullptr);
  ASSERT_NE(window, nullptr) << "the watch's window";
  DEV_BROADCAST_DEVICEINTERFACE_W announcement{};
  announcement.dbcc_size = sizeof announcement;
  announcement.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
  DWORD_PTR answer = 0;
  EXPECT_NE(SendMessageTimeoutW(window, WM_DEVICECHANGE, DBT_DEVICEARRIVAL,
                                reinterpret_cast<LPARAM>(&announcement), SMTO_ABORTIFHUNG,
                                kReportBoundMs, &answer),
            0);
}

// Another process registers this device set, as a driver's installer or a plugged
// device does: the set goes where regsvr32 of the test devices reads it.
void RegisterFromAnotherProcess(const std::vector<std::wstring>& descriptions) {
  HKEY key = nullptr;
  ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, L"Software\\Tesmo\\TestDevices", 0, nullptr, 0,
                            KEY_WRITE, nullptr, &key, nullptr),
            ERROR_SUCCESS);
  for (size_t i = 0; i < descriptions.size(); ++i) {
    const std::wstring name = L"Device" + std::to_wstring(i);
    RegSetValueExW(key, name.c_str(), 0, REG_SZ,
                   reinterpret_cast<const BYTE*>(descriptions[i].c_str()),
                   static_cast<DWORD>((descriptions[i].size() + 1) * sizeof(wchar_t)));
  }
  const DWORD count = static_cast<DWORD>(descriptions.size());
  RegSetValueExW(key, L"DeviceCount", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count),
                 sizeof count);
  RegCloseKey(key);
  wchar_t path[MAX_PATH] = {};
  ASSERT_GT(GetModuleFileNameW(GetModuleHandleW(L"TesmoTestDevices.dll"), path, MAX_PATH), 0u);
  std::wstring command = L"regsvr32.exe /s \"" + std::wstring(path) + L"\"";
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  ASSERT_TRUE(CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &process));
  EXPECT_EQ(WaitForSingleObject(process.hProcess, 30000), WAIT_OBJECT_0);
  DWORD exitCode = 1;
  GetExitCodeProcess(process.hProcess, &exitCode);
  EXPECT_EQ(exitCode, 0u) << "regsvr32";
  CloseHandle(process.hThread);
  CloseHandle(process.hProcess);
}

class DeviceWatch : public TestDevicesTest<> {};

}  // namespace

TEST_F(DeviceWatch, ArrivalsAndRemovalsComeOnceWithTheirIdentityAndName) {
  SetDevices({kMicrophone, kCamera});
  ChangeLog log;
  EXPECT_EQ(WatchDevices(nullptr), kCaptureFailed);
  ASSERT_EQ(WatchDevices(&log), kCaptureDone);
  EXPECT_EQ(WatchDevices(&log), kCaptureFailed) << "already watching";

  // Plugged in this process: a camera, then a microphone.
  DWORD plugged = GetTickCount();
  SetDevices({kMicrophone, kCamera, kPluggedCamera});
  ASSERT_TRUE(log.WaitForCount(1)) << "no arrival reported";
  const std::string cameraIdentity = Identity(kDeviceVideo, 1);
  Change change = log.Changes()[0];
  EXPECT_EQ(change.kind, kDeviceVideo);
  EXPECT_EQ(change.change, kDeviceArrived);
  EXPECT_EQ(change.identity, cameraIdentity);
  EXPECT_EQ(change.name, "Plugged Camera");
  std::printf("a camera's arrival came %lu ms after its registration\n", change.tick - plugged);

  SetDevices({kMicrophone, kCamera, kPluggedCamera, kPluggedMicrophone});
  ASSERT_TRUE(log.WaitForCount(2));
  const std::string microphoneIdentity = Identity(kDeviceAudio, 1);
  change = log.Changes()[1];
  EXPECT_EQ(change.kind, kDeviceAudio);
  EXPECT_EQ(change.change, kDeviceArrived);
  EXPECT_EQ(change.identity, microphoneIdentity);
  EXPECT_EQ(change.name, "Plugged Microphone");

  // Both unplugged at once: two removals, each with the identity it arrived with.
  plugged = GetTickCount();
  SetDevices({kMicrophone, kCamera});
  ASSERT_TRUE(log.WaitForCount(4));
  std::vector<Change> changes = log.Changes();
  EXPECT_EQ(changes[2].change, kDeviceRemoved);
  EXPECT_EQ(changes[3].change, kDeviceRemoved);
  EXPECT_EQ(changes[2].identity, microphoneIdentity) << "the list's order: audio first";
  EXPECT_EQ(changes[3].identity, cameraIdentity);
  EXPECT_EQ(changes[3].name, "Plugged Camera");
  std::printf("two removals came %lu ms after the unregistration\n", changes[3].tick - plugged);

  // From another process: regsvr32 with a changed set, then with the first set again.
  RegisterFromAnotherProcess({kMicrophone, kCamera, L"kind=video;name=Camera Of Another"});
  ASSERT_TRUE(log.WaitForCount(5)) << "an arrival from another process";
  change = log.Changes()[4];
  EXPECT_EQ(change.change, kDeviceArrived);
  EXPECT_EQ(change.name, "Camera Of Another");
  EXPECT_EQ(change.identity, Identity(kDeviceVideo, 1));
  RegisterFromAnotherProcess({kMicrophone, kCamera});
  ASSERT_TRUE(log.WaitForCount(6)) << "a removal from another process";
  EXPECT_EQ(log.Changes()[5].change, kDeviceRemoved);
  EXPECT_EQ(log.Changes()[5].identity, change.identity);

  // Each once: two more listings bring nothing.
  Sleep(2500);
  EXPECT_EQ(log.Count(), 6u);
  EXPECT_EQ(StopWatchingDevices(&log), kCaptureDone);
  EXPECT_EQ(StopWatchingDevices(&log), kCaptureFailed) << "no longer watching";
  EXPECT_EQ(StopWatchingDevices(nullptr), kCaptureFailed);
}

TEST_F(DeviceWatch, TwoSinksFollowAHundredPlugsAndLeaveNothingBehind) {
  SetDevices({kMicrophone, kCamera});
  // Wine starts a thread of its own for device notifications, kept to the end: a watch
  // before the counts.
  {
    ChangeLog warmUp;
    ASSERT_EQ(WatchDevices(&warmUp), kCaptureDone);
    Sleep(200);
    ASSERT_EQ(StopWatchingDevices(&warmUp), kCaptureDone);
    Sleep(200);
  }
  const int threadsBefore = tesmo::test::ThreadCount();
  const DWORD handlesBefore = tesmo::test::HandleCountExceptKeys();
  ChangeLog first, second;
  ASSERT_EQ(WatchDevices(&first), kCaptureDone);
  ASSERT_EQ(WatchDevices(&second), kCaptureDone);
  const int cycles = 100;
  for (int i = 0; i < cycles; ++i) {
    SetDevices({kMicrophone, kCamera, kPluggedCamera});
    AnnounceDeviceChange();
    ASSERT_TRUE(first.WaitForCount(2 * i + 1) && second.WaitForCount(2 * i + 1)) << "plug " << i;
    SetDevices({kMicrophone, kCamera});
    AnnounceDeviceChange();
    ASSERT_TRUE(first.WaitForCount(2 * i + 2) && second.WaitForCount(2 * i + 2))
        << "unplug " << i;
  }
  Sleep(1500);  // a listing more: nothing doubled
  EXPECT_EQ(StopWatchingDevices(&first), kCaptureDone);
  EXPECT_EQ(StopWatchingDevices(&second), kCaptureDone);
  for (ChangeLog* log : {&first, &second}) {
    const std::vector<Change> changes = log->Changes();
    ASSERT_EQ(changes.size(), size_t(2 * cycles));
    for (size_t i = 0; i < changes.size(); ++i) {
      EXPECT_EQ(changes[i].change, i % 2 ? kDeviceRemoved : kDeviceArrived) << i;
      EXPECT_EQ(changes[i].name, "Plugged Camera") << i;
      EXPECT_EQ(changes[i].identity, changes[0].identity) << i;
    }
  }
  // The watch's thread ends once nobody watches.
  EXPECT_TRUE(WaitWithoutPumping(
      [&] { return tesmo::test::ThreadCount() <= threadsBefore; }, kReportBoundMs))
      << tesmo::test::ThreadCount() << " threads, " << threadsBefore << " before";
  EXPECT_LE(tesmo::test::HandleCountExceptKeys(), handlesBefore + 8);
}

namespace {

// A sink whose first call waits until released, and tries to stop its own watch.
class BlockingSink : public DeviceWatchSink {
public:
  BlockingSink() : entered(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
                   released(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~BlockingSink() {
    CloseHandle(entered);
    CloseHandle(released);
  }
  void OnDeviceChange(int, int, const char*, const char*) override {
    if (calls++ == 0) {
      stopInside = StopWatchingDevices(this);
      SetEvent(entered);
      WaitForSingleObject(released, 20000);
    }
  }
  HANDLE entered, released;
  std::atomic<int> calls{0};
  std::atomic<int> stopInside{-1};
};

}  // namespace

TEST_F(DeviceWatch, StopWaitsForTheCallThatRunsAndIsRefusedInsideIt) {
  SetDevices({kMicrophone, kCamera});
  BlockingSink sink;
  ASSERT_EQ(WatchDevices(&sink), kCaptureDone);
  SetDevices({kMicrophone, kCamera, kPluggedCamera});
  ASSERT_EQ(WaitForSingleObject(sink.entered, kReportBoundMs), WAIT_OBJECT_0);
  EXPECT_EQ(sink.stopInside.load(), kCaptureFailed) << "inside OnDeviceChange";

  std::atomic<bool> stopped{false};
  std::atomic<int> stopResult{-1};
  std::thread host([&] {
    stopResult = StopWatchingDevices(&sink);
    stopped = true;
  });
  // While the call runs, the Stop must not return: a host would free the sink under it.
  Sleep(300);
  EXPECT_FALSE(stopped.load()) << "StopWatchingDevices returned while OnDeviceChange ran";
  SetEvent(sink.released);
  EXPECT_TRUE(WaitWithoutPumping([&] { return stopped.load(); }, kReportBoundMs));
  host.join();
  EXPECT_EQ(stopResult.load(), kCaptureDone);

  // No call after the Stop returned.
  SetDevices({kMicrophone, kCamera});
  Sleep(2500);
  EXPECT_EQ(sink.calls.load(), 1);
}

namespace {

class CountingSink : public AudioSink, public VideoSink {
public:
  void OnData(const unsigned char*, int, unsigned long) override { ++calls; }
  std::atomic<int> calls{0};
};

}  // namespace

TEST_F(DeviceWatch, AnObjectWhoseDeviceLeftClosesItselfAndAQuietOneStaysOpen) {
  // Positions: the camera that stays first, so that removing the others moves nothing.
  SetDevices({L"kind=video;name=Quiet Camera;silentafter=20",
              L"kind=audio;name=Leaving Microphone;silentafter=20",
              L"kind=video;name=Leaving Camera;silentafter=20"});
  TestDevices_ResetRecords();
  CountingSink sinks[3];
  VideoSourceCapture* quiet = CreateVSC();
  AudioSourceCapture* microphone = CreateASC();
  VideoSourceCapture* camera = CreateVSC();
  ASSERT_TRUE(quiet && microphone && camera);
  quiet->SetSink(&sinks[0]);
  microphone->SetSink(&sinks[1]);
  camera->SetSink(&sinks[2]);
  ASSERT_EQ(quiet->Open(0), kCaptureDone) << [&] {
    CaptureError error{};
    error.size = sizeof error;
    GetVideoCaptureError(quiet, &error);
    return std::string(error.text);
  }();
  ASSERT_EQ(microphone->Open(0), kCaptureDone);
  ASSERT_EQ(camera->Open(1), kCaptureDone);
  ASSERT_EQ(quiet->Start(), kCaptureDone);
  ASSERT_EQ(microphone->Start(), kCaptureDone);
  ASSERT_EQ(camera->Start(), kCaptureDone);
  for (int device = 0; device < 3; ++device)
    ASSERT_TRUE(TestDevices_WaitForSamples(device, 20, 10000)) << device;

  // The two leave the list while open; their filters stay alive and send nothing.
  const DWORD removed = GetTickCount();
  SetDevices({L"kind=video;name=Quiet Camera;silentafter=20"});
  EXPECT_TRUE(WaitWithoutPumping(
      [&] { return microphone->IsOpened() == 2 && camera->IsOpened() == 2; }, kReportBoundMs))
      << "microphone " << int(microphone->IsOpened()) << ", camera " << int(camera->IsOpened());
  std::printf("the objects closed themselves %lu ms after their devices left the list\n",
              GetTickCount() - removed);
  CaptureError error{};
  error.size = sizeof error;
  ASSERT_EQ(GetVideoCaptureError(camera, &error), kCaptureDone);
  EXPECT_EQ(error.cause, kCauseDeviceLost);
  EXPECT_EQ(error.operation, -1);
  EXPECT_NE(std::string(error.text).find("removed"), std::string::npos) << error.text;
  ASSERT_EQ(GetAudioCaptureError(microphone, &error), kCaptureDone);
  EXPECT_EQ(error.cause, kCauseDeviceLost);
  EXPECT_NE(std::string(error.text).find("removed"), std::string::npos) << error.text;

  // The quiet camera is still listed: it stays open and running through more listings.
  Sleep(1500);
  EXPECT_EQ(quiet->IsOpened(), 1);
  EXPECT_EQ(quiet->IsRunning(), 1);
  ASSERT_EQ(GetVideoCaptureError(quiet, &error), kCaptureDone);
  EXPECT_NE(error.cause, kCauseDeviceLost);
  quiet->Destroy();
  microphone->Destroy();
  camera->Destroy();
}

TEST_F(DeviceWatch, AnIdleWatchCostsLittle) {
  SetDevices({kMicrophone, kCamera});
  const auto processCpuMs = [] {
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    const auto ms = [](const FILETIME& time) {
      return ((static_cast<ULONGLONG>(time.dwHighDateTime) << 32) | time.dwLowDateTime) / 10000.0;
    };
    return ms(kernel) + ms(user);
  };
  const DWORD seconds = 5;
  double before = processCpuMs();
  Sleep(seconds * 1000);
  const double idle = processCpuMs() - before;
  ChangeLog log;
  ASSERT_EQ(WatchDevices(&log), kCaptureDone);
  before = processCpuMs();
  Sleep(seconds * 1000);
  const double watching = processCpuMs() - before;
  EXPECT_EQ(StopWatchingDevices(&log), kCaptureDone);
  const double share = (watching - idle) / (seconds * 10.0);
  std::printf("an idle watch: %.0f ms of CPU in %lu s (%.0f ms without), %.2f %% of a core, "
              "%.1f ms a listing\n",
              watching, seconds, idle, share, (watching - idle) / seconds);
  EXPECT_LT(share, 5.0) << "far above the half per cent aimed at";
  EXPECT_EQ(log.Count(), 0u);
}
