#include "common/DeviceEnumeration.h"

#include <algorithm>
#include <optional>
#include <string>

#include "common/Kernel.h"

namespace tesmo {

namespace {

// S_OK with the monikers, S_FALSE for an empty category, or the failure.
HRESULT OpenCategory(REFCLSID category, ComPtr<IEnumMoniker>& monikers) {
  ComPtr<ICreateDevEnum> devices;
  HRESULT hr = CoCreateInstance(CLSID_SystemDeviceEnum, nullptr,
                                CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, IID_ICreateDevEnum,
                                reinterpret_cast<void**>(&devices));
  if (hr != S_OK) return FAILED(hr) ? hr : E_FAIL;
  // An empty category answers S_FALSE with no enumerator.
  hr = devices->CreateClassEnumerator(category, &monikers, 0);
  if (hr == S_OK && !monikers) return E_POINTER;
  return hr;
}

}  // namespace

bool EnumerateCategory(REFCLSID category, ComPtr<IEnumMoniker>& monikers) {
  return OpenCategory(category, monikers) == S_OK;
}

ComPtr<IMoniker> MonikerAt(REFCLSID category, int index) {
  ComPtr<IMoniker> moniker;
  ComPtr<IEnumMoniker> monikers;
  if (!EnumerateCategory(category, monikers)) return moniker;
  for (int skipped = 0;; ++skipped) {
    if (monikers->Next(1, &moniker, nullptr) != S_OK || !moniker) {
      moniker.Reset();
      return moniker;
    }
    if (skipped >= index) return moniker;
  }
}

namespace {

ComPtr<IPropertyBag> PropertyBagOf(IMoniker* moniker) {
  ComPtr<IPropertyBag> bag;
  if (moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)) !=
      S_OK)
    bag.Reset();
  return bag;
}

// The property as a string; none when the bag has no such string.
std::optional<std::u16string> ReadString(IPropertyBag* bag, const wchar_t* property) {
  VARIANT value;
  VariantInit(&value);
  V_VT(&value) = VT_BSTR;
  std::optional<std::u16string> text;
  if (bag->Read(property, &value, nullptr) == S_OK && V_VT(&value) == VT_BSTR && V_BSTR(&value))
    text = reinterpret_cast<const char16_t*>(V_BSTR(&value));
  VariantClear(&value);
  return text;
}

// The "DevicePath" of a plugged device, which stays the same when other devices come
// and go; a device without one is known by its moniker's display name.
std::u16string WideIdentityOf(IMoniker* moniker) {
  if (ComPtr<IPropertyBag> bag = PropertyBagOf(moniker)) {
    std::optional<std::u16string> path = ReadString(bag.Get(), L"DevicePath");
    if (path && !path->empty()) return *path;
  }
  std::u16string name;
  ComPtr<IBindCtx> context;
  LPOLESTR displayName = nullptr;
  if (CreateBindCtx(0, &context) == S_OK &&
      moniker->GetDisplayName(context.Get(), nullptr, &displayName) == S_OK && displayName)
    name = reinterpret_cast<const char16_t*>(displayName);
  CoTaskMemFree(displayName);
  return name;
}

// The text in the ANSI code page; empty when it cannot be converted.
std::string AnsiOf(const std::u16string& text) {
  const int length = static_cast<int>(text.size());
  const int needed = WideToAnsi(text.c_str(), length, nullptr, 0);
  std::string ansi(needed > 0 ? static_cast<size_t>(needed) : 0, '\0');
  if (needed <= 0 || WideToAnsi(text.c_str(), length, &ansi[0], needed) != needed) ansi.clear();
  return ansi;
}

// Appends the category's devices that have an identity; false when the category
// cannot be enumerated (an empty one is no failure).
bool AddDevices(REFCLSID category, int kind, DeviceList& devices) {
  ComPtr<IEnumMoniker> monikers;
  const HRESULT opened = OpenCategory(category, monikers);
  if (opened == S_FALSE) return true;
  if (opened != S_OK) return false;
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, &moniker, nullptr) == S_OK && moniker) {
    ListedDevice device;
    device.kind = kind;
    device.identity = DeviceIdentityOf(moniker.Get());
    if (device.identity.empty()) continue;
    // As ListDevices, a device without a readable name is none (it may be one being
    // set up).
    ComPtr<IPropertyBag> bag = PropertyBagOf(moniker.Get());
    const std::optional<std::u16string> name =
        bag ? ReadString(bag.Get(), L"FriendlyName") : std::nullopt;
    if (!name) continue;
    device.name = AnsiOf(*name);
    devices.push_back(std::move(device));
  }
  return true;
}

}  // namespace

std::string DeviceIdentityOf(IMoniker* moniker) { return AnsiOf(WideIdentityOf(moniker)); }

std::optional<DeviceList> ListCaptureDevices() {
  DeviceList devices;
  if (!AddDevices(CLSID_AudioInputDeviceCategory, kDeviceAudio, devices) ||
      !AddDevices(CLSID_VideoInputDeviceCategory, kDeviceVideo, devices))
    return std::nullopt;
  return devices;
}

CaptureResult GetDeviceIdentity(REFCLSID category, int index, char* identity, int capacity,
                                int* length) {
  if (!identity || !length || capacity <= 0) return kCaptureFailed;
  try {
    *length = 0;
    if (index < 0) return kCaptureNo;
    ComPtr<IMoniker> moniker = MonikerAt(category, index);
    if (!moniker) return kCaptureNo;
    const std::string text = DeviceIdentityOf(moniker.Get());
    if (text.empty()) return kCaptureNo;
    const int needed = static_cast<int>(text.size()) + 1;  // with its terminating zero
    *length = needed;
    if (needed > capacity) return kCaptureFailed;
    std::copy(text.c_str(), text.c_str() + needed, identity);
    return kCaptureYes;
  } catch (...) {
    return kCaptureFailed;
  }
}

bool AddFriendlyName(IMoniker* moniker, NameListWriter& names) {
  ComPtr<IPropertyBag> bag = PropertyBagOf(moniker);
  if (!bag) return false;
  const std::optional<std::u16string> name = ReadString(bag.Get(), L"FriendlyName");
  if (name) names.Add(name->c_str());
  return name.has_value();
}

CaptureResult ListDeviceNames(REFCLSID category, char* names, int* count) {
  if (!names || !count) return kCaptureFailed;
  try {
    *count = 0;
    ComPtr<IEnumMoniker> monikers;
    if (!EnumerateCategory(category, monikers)) return kCaptureNo;
    NameListWriter list(names);
    ComPtr<IMoniker> moniker;
    while (monikers->Next(1, &moniker, nullptr) == S_OK && moniker)
      AddFriendlyName(moniker.Get(), list);  // a device without a readable name gets no entry
    *count = list.Count();
    return kCaptureYes;
  } catch (...) {
    return kCaptureFailed;
  }
}

ComPtr<IPin> FindPin(IBaseFilter* filter, PIN_DIRECTION direction) {
  ComPtr<IPin> pin;
  if (!filter) return pin;
  ComPtr<IEnumPins> pins;
  if (filter->EnumPins(&pins) != S_OK || !pins) return pin;
  while (pins->Next(1, &pin, nullptr) == S_OK && pin) {
    // Result ignored: a pin that cannot say its direction keeps a value that
    // matches neither direction.
    auto found = static_cast<PIN_DIRECTION>(-1);
    pin->QueryDirection(&found);
    if (found == direction) return pin;
  }
  pin.Reset();
  return pin;
}

}  // namespace tesmo
