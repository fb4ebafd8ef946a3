#include "InputPin.h"

#include "Enumerators.h"

namespace testdevices {

InputPin::InputPin(CaptureFilter& filter, const PinDescription& pinConfig)
    : Pin(filter, "InputPin", pinConfig.name, PINDIR_INPUT), filter(filter) {}

void* InputPin::OtherInterface(REFIID iid) {
  if (iid == IID_IAMAudioInputMixer && filter.Offers(true, "IAMAudioInputMixer"))
    return static_cast<IAMAudioInputMixer*>(this);
  return nullptr;
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

// No IPin::EnumMediaTypes fault here: that name counts the output pins' calls.
HRESULT WINAPI InputPin::EnumMediaTypes(IEnumMediaTypes** types) {
  if (!types) return E_POINTER;
  return MediaTypeEnumerator::HandOut("MediaTypeEnumerator", "of " + label, {}, types);
}

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
