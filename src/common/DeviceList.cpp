#include "common/DeviceList.h"

#include "Tesmo.h"

namespace tesmo {

namespace {

bool SameDevice(const ListedDevice& a, const ListedDevice& b) {
  return a.kind == b.kind && a.identity == b.identity;
}

// The devices of `from` that `other` lacks, each entry of `other` matching one of
// `from` at most; appended to `changes` as `change`.
void AddUnmatched(const DeviceList& from, const DeviceList& other, int change,
                  std::vector<DeviceChange>& changes) {
  std::vector<bool> matched(other.size(), false);
  for (const ListedDevice& device : from) {
    bool found = false;
    for (size_t i = 0; i < other.size() && !found; ++i) {
      if (!matched[i] && SameDevice(device, other[i])) matched[i] = found = true;
    }
    if (!found) changes.push_back({change, device});
  }
}

}  // namespace

std::vector<DeviceChange> ChangesBetween(const DeviceList& before, const DeviceList& after) {
  std::vector<DeviceChange> changes;
  AddUnmatched(before, after, kDeviceRemoved, changes);
  AddUnmatched(after, before, kDeviceArrived, changes);
  return changes;
}

bool IsListed(const DeviceList& devices, int kind, const std::string& identity) {
  for (const ListedDevice& device : devices)
    if (device.kind == kind && device.identity == identity) return true;
  return false;
}

}  // namespace tesmo
