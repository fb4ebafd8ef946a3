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

CaptureResult IdentityAt(int kind, int index, std::string& identity) {
  char text[1024];
  int length = 0;
  const CaptureResult result =
      kind == kDeviceVideo ? GetVideoDeviceIdentity(index, text, sizeof text, &length)
                           : GetAudioDeviceIdentity(index, text, sizeof text, &length);
  identity = result == kCaptureYes ? text : "";
  return result;
}

int IndexOfDevice(int kind, const std::string& identity) {
  std::string found;
  for (int index = 0;; ++index) {
    const CaptureResult result = IdentityAt(kind, index, found);
    if (result == kCaptureNo) return -1;
    if (result == kCaptureYes && found == identity) return index;
  }
}
