#include "DeviceChanges.h"

bool DeviceChanges::Start() {
  watching = WatchDevices(this) == kCaptureDone;
  return watching;
}

void DeviceChanges::Stop() {
  if (watching) StopWatchingDevices(this);  // no call comes once it returned
  watching = false;
}

void DeviceChanges::OnDeviceChange(int kind, int change, const char* identity, const char* name) {
  std::lock_guard<std::mutex> hold(mutex);
  pending.push_back({kind, change, identity, name});
}

std::deque<DeviceChangeNote> DeviceChanges::Take() {
  std::lock_guard<std::mutex> hold(mutex);
  std::deque<DeviceChangeNote> taken;
  taken.swap(pending);
  return taken;
}

std::string DescribeChange(const DeviceChangeNote& note) {
  return std::string(note.kind == kDeviceVideo ? "camera" : "microphone") +
         (note.change == kDeviceArrived ? " arrived: " : " removed: ") + note.name + " (" +
         note.identity + ")";
}
