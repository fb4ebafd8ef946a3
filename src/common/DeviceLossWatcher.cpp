#include "common/DeviceLossWatcher.h"

namespace tesmo {

bool DeviceLossWatcher::MeansDeviceLost(long code, LONG_PTR, LONG_PTR param2) {
  switch (code) {
    case EC_DEVICE_LOST: return param2 == 0;  // 1 announces the device is back
    case EC_ERRORABORT:
    case EC_STREAM_ERROR_STOPPED: return true;
    default: return false;
  }
}

bool DeviceLossWatcher::Start(const ComPtr<IGraphBuilder>& graph, LostHandler lost,
                              std::function<bool()> periodic, int deviceKind,
                              const std::string& deviceIdentity) {
  Stop();
  OAEVENT handle = 0;
  if (!graph.As(events, IID_IMediaEvent) || events->GetEventHandle(&handle) != S_OK || !handle) {
    events.Reset();
    return false;
  }
  queueEvent = reinterpret_cast<HANDLE>(handle);
  stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  onLost = std::move(lost);
  check = std::move(periodic);
  kind = deviceKind;
  identity = deviceIdentity;
  if (stopEvent) thread.reset(Thread::Start(&Watch, this, ThreadPriority::Normal));
  if (!thread) {
    Stop();
    return false;
  }
  return true;
}

void DeviceLossWatcher::Stop() {
  if (thread) {
    SetEvent(stopEvent);
    thread->Join(kWaitForever);
    thread.reset();
  }
  presence.Stop();
  if (stopEvent) CloseHandle(stopEvent);
  stopEvent = nullptr;
  queueEvent = nullptr;
  events.Reset();
  onLost = nullptr;
  check = nullptr;
}

uint32_t DeviceLossWatcher::Watch(void* self) {
  auto* watcher = static_cast<DeviceLossWatcher*>(self);
  const HANDLE handles[] = {watcher->stopEvent, watcher->queueEvent};
  uint32_t checkedAt = TickCount();
  for (;;) {
    const DWORD woken = WaitForMultipleObjects(2, handles, FALSE, kCheckIntervalMs);
    if (woken == WAIT_OBJECT_0 + 1) {
      watcher->DrainEvents();
    } else if (woken != WAIT_TIMEOUT) {
      return 0;
    }
    // Also between events that come often, which never let the wait time out.
    if (TickCount() - checkedAt >= kCheckIntervalMs) {
      checkedAt = TickCount();
      watcher->LookForDevice(watcher->check && watcher->check());
    }
  }
}

void DeviceLossWatcher::LookForDevice(bool quiet) {
  if (!quiet) {
    presence.Stop();
  } else if (!presence.Following()) {
    presence.Follow(kind, identity);
  } else if (presence.Gone()) {
    ReportLost(kLeftDeviceList, 0);
  }
}

void DeviceLossWatcher::ReportLost(long code, LONG_PTR param1) {
  if (!onLost) return;
  onLost(code, param1);
  onLost = nullptr;  // once: the object is closing
}

void DeviceLossWatcher::DrainEvents() {
  long code = 0;
  LONG_PTR param1 = 0, param2 = 0;
  while (events->GetEvent(&code, &param1, &param2, 0) == S_OK) {
    const bool lost = MeansDeviceLost(code, param1, param2);
    events->FreeEventParams(code, param1, param2);  // result deliberately ignored
    if (lost) ReportLost(code, param1);
  }
}

}  // namespace tesmo
