// The capture devices of both categories as the device watch compares them: a device
// is known by its kind and identity, so a renamed index or a reordered list is no
// change, and a device listed twice counts twice.
#pragma once

#include <string>
#include <vector>

namespace tesmo {

struct ListedDevice {
  int kind = 0;          // kDeviceAudio or kDeviceVideo
  std::string identity;  // as GetAudio/VideoDeviceIdentity writes it
  std::string name;      // its friendly name
};
using DeviceList = std::vector<ListedDevice>;

struct DeviceChange {
  int change = 0;  // kDeviceArrived or kDeviceRemoved
  ListedDevice device;
};

// What changed from `before` to `after`: the removals in `before`'s order, then the
// arrivals in `after`'s order.
std::vector<DeviceChange> ChangesBetween(const DeviceList& before, const DeviceList& after);

bool IsListed(const DeviceList& devices, int kind, const std::string& identity);

}  // namespace tesmo
