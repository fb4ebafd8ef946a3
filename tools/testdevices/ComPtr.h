// The one holder for interface pointers in the test devices: releases on scope exit,
// `&holder` releases the old value before an out-parameter call, Detach hands ownership out.
#pragma once
#include <unknwn.h>

namespace testdevices {

template <class T>
class ComPtr {
public:
  ComPtr() = default;
  ComPtr(T* p) : ptr(p) {
    if (ptr) ptr->AddRef();
  }  // shares: the caller keeps its own reference
  ComPtr(const ComPtr& other) : ComPtr(other.ptr) {}
  ComPtr(ComPtr&& other) noexcept : ptr(other.ptr) { other.ptr = nullptr; }
  ~ComPtr() { Reset(); }
  ComPtr& operator=(ComPtr other) noexcept {
    T* old = ptr;
    ptr = other.ptr;
    other.ptr = old;
    return *this;
  }

  void Reset() {
    if (ptr) {
      T* old = ptr;
      ptr = nullptr;
      old->Release();
    }
  }
  T* Get() const { return ptr; }
  T* Detach() {
    T* p = ptr;
    ptr = nullptr;
    return p;
  }
  T** operator&() {
    Reset();
    return &ptr;
  }
  T* operator->() const { return ptr; }
  explicit operator bool() const { return ptr != nullptr; }

  template <class U>
  HRESULT As(ComPtr<U>& out, REFIID iid) const {
    return ptr ? ptr->QueryInterface(iid, reinterpret_cast<void**>(&out)) : E_POINTER;
  }

private:
  T* ptr = nullptr;
};

}  // namespace testdevices
