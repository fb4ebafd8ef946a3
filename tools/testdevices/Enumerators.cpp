#include "Enumerators.h"
#include <algorithm>

namespace testdevices {

PinEnumerator::PinEnumerator(std::string label, IBaseFilter* owner, std::vector<IPin*> pins,
                             FaultCheck failsNext, size_t position)
    : LiveObject("PinEnumerator", std::move(label)),
      failsNext(std::move(failsNext)),
      owner(owner),
      pins(std::move(pins)),
      position(position) {}

HRESULT WINAPI PinEnumerator::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid != IID_IUnknown && iid != IID_IEnumPins) return E_NOINTERFACE;
  *out = static_cast<IEnumPins*>(this);
  AddRef();
  return S_OK;
}

ULONG WINAPI PinEnumerator::AddRef() { return ULONG(++refs); }

ULONG WINAPI PinEnumerator::Release() {
  long count = --refs;
  if (count == 0) delete this;
  return ULONG(count);
}

HRESULT WINAPI PinEnumerator::Next(ULONG count, IPin** out, ULONG* fetched) {
  if (!out || (count > 1 && !fetched)) return E_POINTER;
  if (failsNext && failsNext()) {
    if (fetched) *fetched = 0;
    return E_FAIL;
  }
  ULONG done = 0;
  while (done < count && position < pins.size()) {
    out[done] = pins[position++];
    out[done]->AddRef();
    ++done;
  }
  if (fetched) *fetched = done;
  return done == count ? S_OK : S_FALSE;
}

HRESULT WINAPI PinEnumerator::Skip(ULONG count) {
  position = std::min<size_t>(pins.size(), position + count);
  return position < pins.size() || count == 0 ? S_OK : S_FALSE;
}

HRESULT WINAPI PinEnumerator::Reset() {
  position = 0;
  return S_OK;
}

HRESULT WINAPI PinEnumerator::Clone(IEnumPins** clone) {
  if (!clone) return E_POINTER;
  auto* copy = new PinEnumerator(label, owner.Get(), pins, failsNext, position);
  copy->AddRef();
  *clone = copy;
  return S_OK;
}

MediaTypeEnumerator::MediaTypeEnumerator(std::string label, std::vector<MediaType> types,
                                         size_t position)
    : LiveObject("MediaTypeEnumerator", std::move(label)),
      types(std::move(types)),
      position(position) {}

HRESULT WINAPI MediaTypeEnumerator::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid != IID_IUnknown && iid != IID_IEnumMediaTypes) return E_NOINTERFACE;
  *out = static_cast<IEnumMediaTypes*>(this);
  AddRef();
  return S_OK;
}

ULONG WINAPI MediaTypeEnumerator::AddRef() { return ULONG(++refs); }

ULONG WINAPI MediaTypeEnumerator::Release() {
  long count = --refs;
  if (count == 0) delete this;
  return ULONG(count);
}

HRESULT WINAPI MediaTypeEnumerator::Next(ULONG count, AM_MEDIA_TYPE** out, ULONG* fetched) {
  if (!out || (count > 1 && !fetched)) return E_POINTER;
  ULONG done = 0;
  while (done < count && position < types.size()) {
    out[done] = types[position].NewTaskMemCopy();
    if (!out[done]) break;
    ++position;
    ++done;
  }
  if (fetched) *fetched = done;
  return done == count ? S_OK : S_FALSE;
}

HRESULT WINAPI MediaTypeEnumerator::Skip(ULONG count) {
  position = std::min<size_t>(types.size(), position + count);
  return position < types.size() || count == 0 ? S_OK : S_FALSE;
}

HRESULT WINAPI MediaTypeEnumerator::Reset() {
  position = 0;
  return S_OK;
}

HRESULT WINAPI MediaTypeEnumerator::Clone(IEnumMediaTypes** clone) {
  if (!clone) return E_POINTER;
  auto* copy = new MediaTypeEnumerator(label, types, position);
  copy->AddRef();
  *clone = copy;
  return S_OK;
}

HRESULT MediaTypeEnumerator::HandOut(std::string label, std::vector<MediaType> types,
                                     IEnumMediaTypes** out) {
  auto* enumerator = new MediaTypeEnumerator(std::move(label), std::move(types));
  enumerator->AddRef();
  *out = enumerator;
  return S_OK;
}

}  // namespace testdevices
