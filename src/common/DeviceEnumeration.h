// Capture devices by category through the system device enumerator, and the pins
// of a filter. Used by both capture objects, so listing and opening see the same
// device order.
#pragma once

#include <optional>
#include <string>

#include "Tesmo.h"
#include "common/ComPtr.h"
#include "common/DeviceList.h"
#include "common/MediaPlatform.h"
#include "common/NameList.h"

namespace tesmo {

// The category's monikers in enumeration order; false when the enumerator cannot
// be made or the category is empty (S_FALSE).
bool EnumerateCategory(REFCLSID category, ComPtr<IEnumMoniker>& monikers);

// The device at position `index` of the category (below 0: the first), stepped to
// with Next (Wine's enumerator answers Skip without moving); empty past the last.
// Every device counts, named or not, as Open counts them.
ComPtr<IMoniker> MonikerAt(REFCLSID category, int index);

// Writes the device's stable identity: its "DevicePath" where the property bag has
// one, else the moniker's display name, in the ANSI code page with its terminating
// zero. *length gets the bytes it takes, also when `capacity` is too small.
// kCaptureYes, kCaptureNo when there is no such device or it cannot be read,
// kCaptureFailed for null pointers, a buffer too small or a fault.
CaptureResult GetDeviceIdentity(REFCLSID category, int index, char* identity, int capacity,
                                int* length);

// The device's stable identity: its "DevicePath" where the property bag has one
// (it stays the same when other devices come and go), else the moniker's display
// name, as GetDeviceIdentity writes it (ANSI); empty when neither can be read.
std::string DeviceIdentityOf(IMoniker* moniker);

// Every device of both capture categories that has an identity and a name (those
// ListDevices lists), audio first; none
// when a category cannot be enumerated (so a failed listing never looks like every
// device gone).
std::optional<DeviceList> ListCaptureDevices();

// Appends the device's FriendlyName to the list; false (nothing added) when the
// property bag or the name cannot be read.
bool AddFriendlyName(IMoniker* moniker, NameListWriter& names);

// Writes the friendly names of a category's devices as a name list: kCaptureYes,
// kCaptureNo when the category cannot be enumerated or is empty, kCaptureFailed for
// null buffers or a fault.
CaptureResult ListDeviceNames(REFCLSID category, char* names, int* count);

// The first pin of the filter with the given direction, or an empty holder.
ComPtr<IPin> FindPin(IBaseFilter* filter, PIN_DIRECTION direction);

}  // namespace tesmo
