// IEnumPins over a filter's pins and IEnumMediaTypes over a list of types.
#pragma once
#include <dshow.h>
#include <functional>
#include <string>
#include <vector>

#include "ComPtr.h"
#include "LiveObjects.h"
#include "MediaType.h"

namespace testdevices {

class PinEnumerator : public IEnumPins, public LiveObject {
public:
  // Holds a reference on the filter, which owns the pins. `failsNext` answers whether a
  // planned fault refuses this call of Next (empty: never).
  using FaultCheck = std::function<bool()>;
  PinEnumerator(std::string label, IBaseFilter* owner, std::vector<IPin*> pins,
                FaultCheck failsNext, size_t position = 0);

  HRESULT WINAPI QueryInterface(REFIID iid, void** out) override;
  ULONG WINAPI AddRef() override;
  ULONG WINAPI Release() override;
  HRESULT WINAPI Next(ULONG count, IPin** pins, ULONG* fetched) override;
  HRESULT WINAPI Skip(ULONG count) override;
  HRESULT WINAPI Reset() override;
  HRESULT WINAPI Clone(IEnumPins** clone) override;

private:
  FaultCheck failsNext;
  ComPtr<IBaseFilter> owner;
  std::vector<IPin*> pins;
  size_t position;
};

class MediaTypeEnumerator : public IEnumMediaTypes, public LiveObject {
public:
  MediaTypeEnumerator(std::string label, std::vector<MediaType> types, size_t position = 0);
  // A new enumerator of `types` in *out, counted once for the caller.
  static HRESULT HandOut(std::string label, std::vector<MediaType> types, IEnumMediaTypes** out);

  HRESULT WINAPI QueryInterface(REFIID iid, void** out) override;
  ULONG WINAPI AddRef() override;
  ULONG WINAPI Release() override;
  HRESULT WINAPI Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
  HRESULT WINAPI Skip(ULONG count) override;
  HRESULT WINAPI Reset() override;
  HRESULT WINAPI Clone(IEnumMediaTypes** clone) override;

private:
  std::vector<MediaType> types;
  size_t position;
};

}  // namespace testdevices
