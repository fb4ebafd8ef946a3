// Registers the device set: one COM class per device position, and each filter under its
// device category with IFilterMapper2, so the system device enumerator lists it. The colour
// converter is registered with every set, so that it is there whenever the devices are.
#pragma once
#include <windows.h>
#include <string>
#include <vector>

namespace testdevices {

HRESULT RegisterDevices(HMODULE module, const std::vector<std::wstring>& descriptions);
// Removes every position this module could have registered, and the converter; absent
// entries are no error.
HRESULT UnregisterDevices();

}  // namespace testdevices
