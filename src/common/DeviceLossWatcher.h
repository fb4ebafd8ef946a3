// Watches an opened graph's event queue on a thread of its own and reports, once,
// the events that mean the capture device is gone: EC_DEVICE_LOST (removed), and
// EC_ERRORABORT or EC_STREAM_ERROR_STOPPED (the stream has stopped for good). The
// queue is drained as it fills, since the host never reads it. Between events it
// calls a check every kCheckIntervalMs: a device that falls silent sends no event,
// so the object looks for that on this thread too. Many devices that go away send
// nothing either, so while the check says the device is quiet the watcher also has
// the device watch look for it in the system's device list, and reports its leaving
// (code kLeftDeviceList). A device that sends data is there: listing devices costs
// (Wine keeps registry handles of every listing), so it is not looked for.
//
// Threads: Start and Stop on the thread that owns the graph's interfaces (the host
// operations, or the delivery thread closing the object), with the object's
// operation lock held; `onLost` runs on the watcher's thread and must not wait for
// that lock (it only raises a close request and wakes the delivery thread). Stop
// waits for the watcher's thread, which never waits for anything but its events.
#pragma once

#include <functional>
#include <memory>

#include <string>

#include "common/ComPtr.h"
#include "common/DeviceWatcher.h"
#include "common/Kernel.h"
#include "common/MediaPlatform.h"

namespace tesmo {

class DeviceLossWatcher {
public:
  DeviceLossWatcher() = default;
  ~DeviceLossWatcher() { Stop(); }
  DeviceLossWatcher(const DeviceLossWatcher&) = delete;
  DeviceLossWatcher& operator=(const DeviceLossWatcher&) = delete;

  static constexpr uint32_t kCheckIntervalMs = 250;
  // The code reported for a device gone from the list: no graph event has it.
  static constexpr long kLeftDeviceList = 0x10000;
  // The lost event's code and first parameter (an HRESULT for the stream errors).
  using LostHandler = std::function<void(long code, LONG_PTR param1)>;

  // Starts watching `graph`; false (nothing watched) when it has no event queue or
  // no thread can be started. A watch already running is stopped first. `check`
  // (may be empty: never quiet) runs on the watcher's thread every kCheckIntervalMs
  // or so, under the same rule as `onLost`, and answers whether the device is quiet.
  // The device is the one of this kind (kDeviceAudio, kDeviceVideo) and identity; an
  // empty identity is never looked for.
  bool Start(const ComPtr<IGraphBuilder>& graph, LostHandler onLost, std::function<bool()> check,
             int kind, const std::string& identity);
  // Ends the watch and waits for its thread; nothing when none runs.
  void Stop();

  // True for the events that end a capture for good.
  static bool MeansDeviceLost(long code, LONG_PTR param1, LONG_PTR param2);

private:
  static uint32_t Watch(void* self);
  void DrainEvents();
  void ReportLost(long code, LONG_PTR param1);
  // Follows the device in the device list while it is quiet; reports it gone.
  void LookForDevice(bool quiet);

  ComPtr<IMediaEvent> events;
  HANDLE queueEvent = nullptr;  // the graph's own, valid while `events` is held
  HANDLE stopEvent = nullptr;
  LostHandler onLost;
  std::function<bool()> check;
  int kind = 0;
  std::string identity;
  DevicePresence presence;  // followed while the device is quiet
  std::unique_ptr<Thread> thread;
};

}  // namespace tesmo
