// Registers the device set: one COM class per device position, and each filter under its
// device category with IFilterMapper2, so the system device enumerator lists it. The colour
// converter is registered with every set, so that it is there whenever the devices are.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

#include "DeviceConfig.h"

namespace testdevices {

HRESULT RegisterDevices(HMODULE module, const std::vector<std::wstring>& descriptions);
// Removes every position this module could have registered, and the converter; absent
// entries are no error.
HRESULT UnregisterDevices();
// The "DevicePath" registered for device position `device` in the category of `kind`;
// empty for none.
std::wstring RegisteredDevicePath(int device, DeviceKind kind);
// True while a device of that kind is registered with this "DevicePath", at any position:
// a device whose path went has been unplugged.
bool IsDevicePathRegistered(const std::wstring& devicePath, DeviceKind kind);

}  // namespace testdevices
