// What this module's COM code shares: the library's interface holder (the one ComPtr of the
// tree: move-only, Attach takes over a reference), a holder of a second reference on a
// pointer the caller keeps, a getter's answer through its out-pointer, and the reference
// counting of an object that lives by its own references.
#pragma once
#include <unknwn.h>

#include "../../src/common/ComPtr.h"
#include "LiveObjects.h"

namespace testdevices {

using tesmo::ComPtr;

// A holder with a reference of its own; the caller keeps the one it has.
template <class T>
ComPtr<T> AddReference(T* shared) {
  if (shared) shared->AddRef();
  return ComPtr<T>::Attach(shared);
}

template <class T, class V>
HRESULT WriteOut(T* out, const V& value) {
  if (!out) return E_POINTER;
  *out = value;
  return S_OK;
}

// A new object handed out as `iid`: the object goes again unless that interface is offered.
template <class T>
HRESULT HandOutNew(T* object, REFIID iid, void** out) {
  object->AddRef();
  const HRESULT hr = object->QueryInterface(iid, out);
  object->Release();
  return hr;
}

// An object that offers `Interface` (whose id is `kIid`) and is deleted with its last
// reference; filters add interfaces of their own.
template <class Interface, const IID& kIid>
class ComObject : public Interface, public LiveObject {
public:
  HRESULT WINAPI QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    *out = nullptr;
    if (iid != IID_IUnknown && iid != kIid) return E_NOINTERFACE;
    *out = static_cast<Interface*>(this);
    AddRef();
    return S_OK;
  }
  ULONG WINAPI AddRef() override { return ULONG(++refs); }
  ULONG WINAPI Release() override {
    long count = --refs;
    if (count == 0) delete this;
    return ULONG(count);
  }

protected:
  using LiveObject::LiveObject;
};

}  // namespace testdevices
