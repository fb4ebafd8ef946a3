// IEnumPins over a filter's pins and IEnumMediaTypes over a list of types: one list and a
// position, each item handed out as COM wants it (a pin with a reference, a type as a
// CoTaskMem copy).
#pragma once
#include <dshow.h>
#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "ComSupport.h"
#include "MediaType.h"

namespace testdevices {

inline IPin* HandOutItem(IPin* pin) {
  pin->AddRef();
  return pin;
}
inline AM_MEDIA_TYPE* HandOutItem(const MediaType& type) { return type.NewTaskMemCopy(); }

template <class Interface, const IID& kIid, class Out, class Item>
class Enumerator final : public ComObject<Interface, kIid> {
public:
  // Answers whether a planned fault refuses this call of Next (empty: never).
  using FaultCheck = std::function<bool()>;

  // A new enumerator in *out, counted once for the caller. `owner`, if any, is held while
  // the enumerator lives (a filter, which owns the pins listed).
  static HRESULT HandOut(const char* kind, std::string label, std::vector<Item> items,
                         Interface** out, IUnknown* owner = nullptr, FaultCheck failsNext = {}) {
    auto* enumerator =
        new Enumerator(kind, std::move(label), std::move(items), owner, std::move(failsNext), 0);
    enumerator->AddRef();
    *out = enumerator;
    return S_OK;
  }

  HRESULT WINAPI Next(ULONG count, Out** out, ULONG* fetched) override {
    if (!out || (count > 1 && !fetched)) return E_POINTER;
    if (failsNext && failsNext()) {
      if (fetched) *fetched = 0;
      return E_FAIL;
    }
    ULONG done = 0;
    while (done < count && position < items.size()) {
      out[done] = HandOutItem(items[position]);
      if (!out[done]) break;
      ++position;
      ++done;
    }
    if (fetched) *fetched = done;
    return done == count ? S_OK : S_FALSE;
  }
  HRESULT WINAPI Skip(ULONG count) override {
    position = std::min<size_t>(items.size(), position + count);
    return position < items.size() || count == 0 ? S_OK : S_FALSE;
  }
  HRESULT WINAPI Reset() override {
    position = 0;
    return S_OK;
  }
  HRESULT WINAPI Clone(Interface** clone) override {
    if (!clone) return E_POINTER;
    auto* copy = new Enumerator(this->kind, this->label, items, owner.Get(), failsNext, position);
    copy->AddRef();
    *clone = copy;
    return S_OK;
  }

private:
  Enumerator(const char* kind, std::string label, std::vector<Item> items, IUnknown* owner,
             FaultCheck failsNext, size_t position)
      : ComObject<Interface, kIid>(kind, std::move(label)),
        failsNext(std::move(failsNext)),
        owner(AddReference(owner)),
        items(std::move(items)),
        position(position) {}

  const FaultCheck failsNext;
  const ComPtr<IUnknown> owner;
  const std::vector<Item> items;
  size_t position;
};

using PinEnumerator = Enumerator<IEnumPins, IID_IEnumPins, IPin, IPin*>;
using MediaTypeEnumerator =
    Enumerator<IEnumMediaTypes, IID_IEnumMediaTypes, AM_MEDIA_TYPE, MediaType>;

}  // namespace testdevices
