// A named input of the microphone ("Microphone", "Line In", ...). It never connects; it is
// there to be listed and enabled through its IAMAudioInputMixer.
#pragma once
#include <dshow.h>

#include "CaptureFilter.h"

namespace testdevices {

class InputPin : public Pin, public AudioMixerControl {
public:
  InputPin(CaptureFilter& filter, const PinDescription& pinConfig);

  // IUnknown, as every pin answers
  HRESULT WINAPI QueryInterface(REFIID iid, void** out) override {
    return Pin::QueryInterface(iid, out);
  }
  ULONG WINAPI AddRef() override { return Pin::AddRef(); }
  ULONG WINAPI Release() override { return Pin::Release(); }
  // IPin: refuses every connection, and has no media types.
  HRESULT WINAPI ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  HRESULT WINAPI Disconnect() override;
  HRESULT WINAPI QueryAccept(const AM_MEDIA_TYPE*) override { return S_FALSE; }
  HRESULT WINAPI EnumMediaTypes(IEnumMediaTypes** types) override;

private:
  void* OtherInterface(REFIID iid) override;
  bool MixerCallFails(const char* method) override;
  void EnableChanged(WINBOOL enable) override;

  CaptureFilter& filter;
};

}  // namespace testdevices
