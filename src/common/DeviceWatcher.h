// The process's one watch over the capture devices: a low-priority thread of the
// library lists both capture categories once a second (and at once when the system
// announces a device interface coming or going, which Wine and software devices
// never do) while anything watches, then tells each host sink what changed and marks
// the open devices that have left the list.
//
// Threads: the thread runs only while a sink or a presence is registered, and ends
// by itself once none is; it holds the module until it has ended, so FreeLibrary
// after the last StopWatchingDevices or Close is safe. The host's sinks are called on
// it one at a time with no lock held, so a sink may call every export meanwhile.
#pragma once

#include <atomic>
#include <string>

#include "Tesmo.h"

namespace tesmo {

// An open object's device, marked gone once it has left the system's device list.
// Follow and Stop on the object's operation threads; Gone from any thread.
class DevicePresence {
public:
  DevicePresence() = default;
  ~DevicePresence() { Stop(); }
  DevicePresence(const DevicePresence&) = delete;
  DevicePresence& operator=(const DevicePresence&) = delete;

  // Watches the device of this kind and identity from now on; a watch running is
  // stopped first. Nothing is watched for an empty identity.
  void Follow(int kind, const std::string& identity);
  // Ends the watch: once it returns, the device watch no longer touches this object.
  void Stop();
  bool Gone() const { return gone.load(std::memory_order_acquire); }
  bool Following() const { return following; }

private:
  friend class DeviceWatcher;
  int kind = 0;
  std::string identity;
  bool following = false;
  std::atomic<bool> gone{false};
};

// The host's device watch, behind WatchDevices and StopWatchingDevices.
CaptureResult WatchDeviceChanges(DeviceWatchSink* sink);
CaptureResult StopWatchingDeviceChanges(DeviceWatchSink* sink);

}  // namespace tesmo
