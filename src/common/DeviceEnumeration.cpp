#include "common/DeviceEnumeration.h"

namespace tesmo {

bool EnumerateCategory(REFCLSID category, ComPtr<IEnumMoniker>& monikers) {
  ComPtr<ICreateDevEnum> devices;
  if (CoCreateInstance(CLSID_SystemDeviceEnum, nullptr,
                       CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER, IID_ICreateDevEnum,
                       reinterpret_cast<void**>(&devices)) != S_OK)
    return false;
  // An empty category answers S_FALSE with no enumerator.
  return devices->CreateClassEnumerator(category, &monikers, 0) == S_OK && monikers;
}

bool AddFriendlyName(IMoniker* moniker, NameListWriter& names) {
  ComPtr<IPropertyBag> bag;
  if (moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)) !=
      S_OK)
    return false;
  VARIANT name;
  VariantInit(&name);
  V_VT(&name) = VT_BSTR;
  bool read =
      bag->Read(L"FriendlyName", &name, nullptr) == S_OK && V_VT(&name) == VT_BSTR && V_BSTR(&name);
  if (read) names.Add(reinterpret_cast<const char16_t*>(V_BSTR(&name)));
  VariantClear(&name);
  return read;
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
