// The demo's device watch: the library tells of arrivals and removals on a thread of
// its own; the main thread takes them from here to print them or to find a device
// that came back.
#pragma once

#include <deque>
#include <mutex>
#include <string>

#include "Tesmo.h"

struct DeviceChangeNote {
  int kind = 0;
  int change = 0;
  std::string identity;
  std::string name;
};

class DeviceChanges : public DeviceWatchSink {
public:
  DeviceChanges() = default;
  ~DeviceChanges() { Stop(); }
  DeviceChanges(const DeviceChanges&) = delete;
  DeviceChanges& operator=(const DeviceChanges&) = delete;

  // WatchDevices; false when the library refused.
  bool Start();
  void Stop();
  void OnDeviceChange(int kind, int change, const char* identity, const char* name) override;
  std::deque<DeviceChangeNote> Take();

private:
  std::mutex mutex;
  std::deque<DeviceChangeNote> pending;
  bool watching = false;
};

// "camera arrived: NAME (IDENTITY)", "microphone removed: ...".
std::string DescribeChange(const DeviceChangeNote& note);

// The identity of device `index` of this kind (kDeviceAudio, kDeviceVideo) into
// `identity` (empty unless 1); the result of GetAudio/VideoDeviceIdentity.
CaptureResult IdentityAt(int kind, int index, std::string& identity);
// The index the device of this kind and identity has now; -1 when it is not there.
int IndexOfDevice(int kind, const std::string& identity);
