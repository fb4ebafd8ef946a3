#include "InputPin.h"

#include <cstring>

#include "Enumerators.h"
#include "PinInfo.h"

namespace testdevices {

InputPin::InputPin(CaptureFilter& filter, const PinDescription& pinConfig)
    : LiveObject("InputPin", "'" + ToUtf8(pinConfig.name) + "' of " + filter.label),
      filter(filter),
      pinConfig(pinConfig) {}

HRESULT WINAPI InputPin::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown)
    *out = static_cast<IPin*>(this);
  else if (iid == IID_IPin && filter.Offers(true, "IPin"))
    *out = static_cast<IPin*>(this);
  else if (iid == IID_IAMAudioInputMixer && filter.Offers(true, "IAMAudioInputMixer"))
    *out = static_cast<IAMAudioInputMixer*>(this);
  else
    return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

ULONG WINAPI InputPin::AddRef() {
  long count = ++refs;
  filter.AddRef();
  return ULONG(count);
}

ULONG WINAPI InputPin::Release() {
  long count = --refs;
  filter.Release();  // may destroy the filter and this pin
  return ULONG(count);
}

HRESULT WINAPI InputPin::Connect(IPin*, const AM_MEDIA_TYPE*) {
  filter.NoteUnexpected("IPin::Connect on an input pin");
  return E_UNEXPECTED;
}

// Graph building may probe any pin; refusing is the answer, not a client error.
HRESULT WINAPI InputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
  if (!connector || !type) return E_POINTER;
  return VFW_E_TYPE_NOT_ACCEPTED;
}

HRESULT WINAPI InputPin::Disconnect() {
  if (const HRESULT fault = filter.Fault("IPin::Disconnect")) return fault;
  return S_FALSE;
}

HRESULT WINAPI InputPin::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  *pin = nullptr;
  if (const HRESULT fault = filter.Fault("IPin::ConnectedTo")) return fault;
  return VFW_E_NOT_CONNECTED;
}

HRESULT WINAPI InputPin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  std::memset(type, 0, sizeof *type);
  return VFW_E_NOT_CONNECTED;
}

HRESULT WINAPI InputPin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  if (const HRESULT fault = filter.Fault("IPin::QueryPinInfo")) return fault;
  return CopyPinInfo(static_cast<IBaseFilter*>(&filter), PINDIR_INPUT, pinConfig.name.c_str(),
                     info);
}

HRESULT WINAPI InputPin::QueryDirection(PIN_DIRECTION* direction) {
  if (!direction) return E_POINTER;
  if (const HRESULT fault = filter.Fault("IPin::QueryDirection")) return fault;
  *direction = PINDIR_INPUT;
  return S_OK;
}

HRESULT WINAPI InputPin::QueryId(LPWSTR* id) { return CopyId(pinConfig.name.c_str(), id); }

HRESULT WINAPI InputPin::QueryAccept(const AM_MEDIA_TYPE*) { return S_FALSE; }

HRESULT WINAPI InputPin::EnumMediaTypes(IEnumMediaTypes** types) {
  if (!types) return E_POINTER;
  return MediaTypeEnumerator::HandOut("of " + label, {}, types);
}

void InputPin::NoteUnexpectedCall(const std::string& call) { filter.NoteUnexpected(call.c_str()); }

bool InputPin::MixerCallFails(const char* method) {
  return filter.Fails((std::string("IAMAudioInputMixer::") + method).c_str());
}

void InputPin::EnableChanged(WINBOOL enable) {
  const int index = filter.InputIndexOf(this);
  DeviceRecords::Instance().Update(filter.Device(), [index, enable](TestDeviceRecord& r) {
    r.putEnableCalls += 1;
    if (index < 0 || index >= 32) return;
    if (enable)
      r.enabledInputs |= 1u << index;
    else
      r.enabledInputs &= ~(1u << index);
  });
}

}  // namespace testdevices
