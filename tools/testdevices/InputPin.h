// A named input of the microphone ("Microphone", "Line In", ...). It never connects; it is
// there to be listed and enabled through its IAMAudioInputMixer.
#pragma once
#include <dshow.h>

#include "CaptureFilter.h"
#include "PinInfo.h"

namespace testdevices {

class InputPin : public StreamCallsRefused<InputPin>, public AudioMixerControl, public LiveObject {
public:
  InputPin(CaptureFilter& filter, const PinDescription& pinConfig);

  HRESULT WINAPI QueryInterface(REFIID iid, void** out) override;
  ULONG WINAPI AddRef() override;
  ULONG WINAPI Release() override;
  HRESULT WINAPI Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override;
  HRESULT WINAPI ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  HRESULT WINAPI Disconnect() override;
  HRESULT WINAPI ConnectedTo(IPin** pin) override;
  HRESULT WINAPI ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  HRESULT WINAPI QueryPinInfo(PIN_INFO* info) override;
  HRESULT WINAPI QueryDirection(PIN_DIRECTION* direction) override;
  HRESULT WINAPI QueryId(LPWSTR* id) override;
  HRESULT WINAPI QueryAccept(const AM_MEDIA_TYPE* type) override;
  HRESULT WINAPI EnumMediaTypes(IEnumMediaTypes** types) override;

private:
  friend class StreamCallsRefused<InputPin>;
  static constexpr const char* kRole = " on an unconnected input pin";
  void NoteUnexpectedCall(const std::string& call);
  bool MixerCallFails(const char* method) override;
  void EnableChanged(WINBOOL enable) override;

  CaptureFilter& filter;
  const PinDescription pinConfig;
};

}  // namespace testdevices
