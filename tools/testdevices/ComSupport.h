// What this module's COM code shares: the library's interface holder (the one ComPtr of the
// tree: move-only, Attach takes over a reference), a holder of a second reference on a
// pointer the caller keeps, and a getter's answer through its out-pointer.
#pragma once
#include <unknwn.h>

#include "../../src/common/ComPtr.h"

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

}  // namespace testdevices
