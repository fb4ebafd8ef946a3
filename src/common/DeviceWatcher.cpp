#include "common/DeviceWatcher.h"

#include <windows.h>
#include <dbt.h>

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

#include "common/DeviceEnumeration.h"
#include "common/Kernel.h"

namespace tesmo {

namespace {

constexpr uint32_t kListIntervalMs = 1000;

// The device-interface classes capture devices announce themselves in: every
// capture device, webcams, and audio devices.
constexpr GUID kAnnouncedClasses[] = {
    {0x65E8773D, 0x8F56, 0x11D0, {0xA3, 0xB9, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}},
    {0xE5323777, 0xF976, 0x4F5B, {0x9B, 0x55, 0xB9, 0x46, 0x99, 0xC4, 0x6E, 0x44}},
    {0x6994AD04, 0x93EF, 0x11D0, {0xA3, 0xCC, 0x00, 0xA0, 0xC9, 0x22, 0x31, 0x96}},
};

// A host sink and the devices it has been told of.
struct WatchedSink {
  DeviceWatchSink* sink = nullptr;
  DeviceList known;      // the watch thread's alone once the sink is registered
  bool stopped = false;  // under the watcher's lock
};

// One run of the watch thread. Each run has its own wake event, so a run that is
// ending never takes the wake meant for the next.
struct WatchRun {
  WatchRun() : wake(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}
  ~WatchRun() {
    if (wake) CloseHandle(wake);
  }
  HANDLE wake;
  bool announced = false;  // the run's thread alone
};

// True on the watch thread while it calls a host sink.
thread_local bool insideSinkCall = false;

HMODULE ThisModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS |
                         GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ThisModule), &module);
  return module;
}

// A message-only window registered for the announcements of capture device
// interfaces. Where the system sends none, or it cannot be made, the once-a-second
// listing finds the changes all the same.
class DeviceAnnouncements {
public:
  explicit DeviceAnnouncements(WatchRun& run) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof(windowClass);
    windowClass.lpfnWndProc = &Receive;
    windowClass.hInstance = ThisModule();
    windowClass.lpszClassName = kClassName;
    RegisterClassExW(&windowClass);  // fails harmlessly when a previous run registered it
    window = CreateWindowExW(0, kClassName, L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr,
                             windowClass.hInstance, nullptr);
    if (!window) return;
    SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(&run));
    for (size_t i = 0; i < std::size(kAnnouncedClasses); ++i) {
      DEV_BROADCAST_DEVICEINTERFACE_W filter{};
      filter.dbcc_size = sizeof(filter);
      filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
      filter.dbcc_classguid = kAnnouncedClasses[i];
      notifications[i] = RegisterDeviceNotificationW(window, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
    }
  }
  ~DeviceAnnouncements() {
    for (HDEVNOTIFY notification : notifications)
      if (notification) UnregisterDeviceNotification(notification);
    if (window) DestroyWindow(window);
    // The class names this module's code: it must not outlive the module. Fails
    // harmlessly while the next run's window uses it.
    UnregisterClassW(kClassName, ThisModule());
  }
  DeviceAnnouncements(const DeviceAnnouncements&) = delete;
  DeviceAnnouncements& operator=(const DeviceAnnouncements&) = delete;

  // Handles the thread's messages; the window procedure marks an announcement.
  static void Pump() {
    MSG message;
    while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE)) {
      TranslateMessage(&message);
      DispatchMessageW(&message);
    }
  }

private:
  static constexpr const wchar_t* kClassName = L"TesmoDeviceAnnouncements";

  static LRESULT CALLBACK Receive(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_DEVICECHANGE &&
        (wParam == DBT_DEVICEARRIVAL || wParam == DBT_DEVICEREMOVECOMPLETE)) {
      if (auto* run = reinterpret_cast<WatchRun*>(GetWindowLongPtrW(window, GWLP_USERDATA)))
        run->announced = true;
      return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
  }

  HWND window = nullptr;
  HDEVNOTIFY notifications[std::size(kAnnouncedClasses)] = {};
};

}  // namespace

class DeviceWatcher {
public:
  // Made once and never destroyed: a watch thread may still be ending when the
  // module's static objects go.
  static DeviceWatcher& Instance() {
    static DeviceWatcher* const watcher = new DeviceWatcher;
    return *watcher;
  }

  CaptureResult Watch(DeviceWatchSink* sink) {
    if (!sink) return kCaptureFailed;
    {
      std::lock_guard<std::mutex> hold(lock);
      if (FindSink(sink) != sinks.end()) return kCaptureFailed;
    }
    // The devices there now are the sink's starting point: they are not reported.
    std::optional<DeviceList> present = ListCaptureDevices();
    if (!present) return kCaptureFailed;
    auto entry = std::make_shared<WatchedSink>();
    entry->sink = sink;
    entry->known = std::move(*present);
    std::lock_guard<std::mutex> hold(lock);
    if (FindSink(sink) != sinks.end()) return kCaptureFailed;  // watched meanwhile
    sinks.push_back(entry);
    if (!KeepRunning()) {
      sinks.pop_back();
      return kCaptureFailed;
    }
    return kCaptureDone;
  }

  CaptureResult StopWatching(DeviceWatchSink* sink) {
    // The call running is this one: waiting for it to end would never return.
    if (!sink || insideSinkCall) return kCaptureFailed;
    std::unique_lock<std::mutex> hold(lock);
    auto found = FindSink(sink);
    if (found == sinks.end()) return kCaptureFailed;
    const std::shared_ptr<WatchedSink> entry = *found;
    entry->stopped = true;
    sinks.erase(found);
    callEnded.wait(hold, [&] { return calling != entry.get(); });
    WakeIfIdle();
    return kCaptureDone;
  }

  void Follow(DevicePresence& presence) {
    std::lock_guard<std::mutex> hold(lock);
    presences.push_back(&presence);
    // Without a thread the device's leaving goes unnoticed, as a device without an
    // event queue's does; the capture itself is unaffected.
    KeepRunning();
  }

  void Unfollow(DevicePresence& presence) {
    std::lock_guard<std::mutex> hold(lock);
    presences.erase(std::remove(presences.begin(), presences.end(), &presence), presences.end());
    WakeIfIdle();
  }

private:
  DeviceWatcher() = default;

  std::vector<std::shared_ptr<WatchedSink>>::iterator FindSink(DeviceWatchSink* sink) {
    return std::find_if(sinks.begin(), sinks.end(),
                        [sink](const std::shared_ptr<WatchedSink>& entry) {
                          return entry->sink == sink;
                        });
  }

  bool Idle() const { return sinks.empty() && presences.empty(); }

  // Under the lock: a thread runs the watch, started where none does.
  bool KeepRunning() {
    if (run) return true;
    auto next = std::make_shared<WatchRun>();
    if (!next->wake) return false;
    auto* handedOver = new std::shared_ptr<WatchRun>(next);
    std::unique_ptr<Thread> thread(Thread::Start(&RunWatch, handedOver, ThreadPriority::Lowest));
    if (!thread) {
      delete handedOver;
      return false;
    }
    run = std::move(next);  // the thread goes on by itself when its handle closes
    return true;
  }

  // Under the lock: lets an idle run's thread see that it may end.
  void WakeIfIdle() {
    if (Idle() && run) SetEvent(run->wake);
  }

  // On the run's thread: false (and the run is over) once nothing is watched.
  bool GoesOn(const WatchRun& mine) {
    std::lock_guard<std::mutex> hold(lock);
    if (!Idle()) return true;
    if (run.get() == &mine) run.reset();
    return false;
  }

  static uint32_t RunWatch(void* parameter) {
    std::unique_ptr<std::shared_ptr<WatchRun>> handedOver(
        static_cast<std::shared_ptr<WatchRun>*>(parameter));
    const std::shared_ptr<WatchRun> mine = *handedOver;
    DeviceWatcher& watcher = Instance();
    DeviceAnnouncements announcements(*mine);
    // A new run lists at once: a device followed because it went quiet may be gone.
    uint32_t listedAt = TickCount() - kListIntervalMs;
    for (;;) {
      const uint32_t since = TickCount() - listedAt;
      const DWORD wait = since >= kListIntervalMs ? 0 : kListIntervalMs - since;
      MsgWaitForMultipleObjects(1, &mine->wake, FALSE, wait, QS_ALLINPUT);
      DeviceAnnouncements::Pump();
      if (!watcher.GoesOn(*mine)) return 0;
      if (mine->announced || TickCount() - listedAt >= kListIntervalMs) {
        mine->announced = false;
        watcher.CompareWithList();
        listedAt = TickCount();
      }
    }
  }

  // On the watch thread: lists the devices, marks the followed ones that have gone
  // and tells each sink what changed since it was last told.
  void CompareWithList() {
    const std::optional<DeviceList> now = ListCaptureDevices();
    if (!now) return;  // tried again at the next round
    std::vector<std::shared_ptr<WatchedSink>> toTell;
    {
      std::lock_guard<std::mutex> hold(lock);
      for (DevicePresence* presence : presences)
        if (!IsListed(*now, presence->kind, presence->identity))
          presence->gone.store(true, std::memory_order_release);
      toTell = sinks;
    }
    for (const std::shared_ptr<WatchedSink>& entry : toTell) {
      const std::vector<DeviceChange> changes = ChangesBetween(entry->known, *now);
      entry->known = *now;
      for (const DeviceChange& change : changes) {
        {
          std::lock_guard<std::mutex> hold(lock);
          if (entry->stopped) break;
          calling = entry.get();
        }
        insideSinkCall = true;
        entry->sink->OnDeviceChange(change.device.kind, change.change,
                                    change.device.identity.c_str(), change.device.name.c_str());
        insideSinkCall = false;
        {
          std::lock_guard<std::mutex> hold(lock);
          calling = nullptr;
        }
        callEnded.notify_all();
      }
    }
  }

  std::mutex lock;
  std::condition_variable callEnded;
  std::vector<std::shared_ptr<WatchedSink>> sinks;
  std::vector<DevicePresence*> presences;
  const WatchedSink* calling = nullptr;  // the sink the watch thread is calling
  std::shared_ptr<WatchRun> run;         // the run whose thread watches, if any
};

void DevicePresence::Follow(int deviceKind, const std::string& deviceIdentity) {
  Stop();
  if (deviceIdentity.empty()) return;
  kind = deviceKind;
  identity = deviceIdentity;
  gone.store(false, std::memory_order_release);
  following = true;
  DeviceWatcher::Instance().Follow(*this);
}

void DevicePresence::Stop() {
  if (!following) return;
  DeviceWatcher::Instance().Unfollow(*this);
  following = false;
}

CaptureResult WatchDeviceChanges(DeviceWatchSink* sink) {
  try {
    return DeviceWatcher::Instance().Watch(sink);
  } catch (...) {
    return kCaptureFailed;
  }
}

CaptureResult StopWatchingDeviceChanges(DeviceWatchSink* sink) {
  try {
    return DeviceWatcher::Instance().StopWatching(sink);
  } catch (...) {
    return kCaptureFailed;
  }
}

}  // namespace tesmo
