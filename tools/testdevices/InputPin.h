// A named input of the microphone ("Microphone", "Line In", ...). It never connects; it is
// there to be listed and enabled through its IAMAudioInputMixer.
#pragma once
#include <dshow.h>

#include "CaptureFilter.h"

namespace testdevices {

class InputPin : public IPin, public AudioMixerControl, public LiveObject {
public:
  InputPin(CaptureFilter& filter, const PinSpec& pinConfig);

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
  HRESULT WINAPI QueryInternalConnections(IPin** pins, ULONG* count) override;
  HRESULT WINAPI EndOfStream() override;
  HRESULT WINAPI BeginFlush() override;
  HRESULT WINAPI EndFlush() override;
  HRESULT WINAPI NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;

private:
  bool MixerCallFails(const char* method) override;
  void EnableChanged(WINBOOL enable) override;

  CaptureFilter& filter;
  const PinSpec pinConfig;
};

}  // namespace testdevices
