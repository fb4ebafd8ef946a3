// Holder for one COM interface reference: released when the holder goes out of
// scope or is reset. Taking the address (&holder) releases the old value first, so
// the holder can be passed straight to an out-parameter call.
#pragma once

#include <unknwn.h>

#include <memory>
#include <utility>

namespace tesmo {

template <class T>
class ComPtr {
public:
  ComPtr() = default;
  ~ComPtr() { Reset(); }
  ComPtr(const ComPtr&) = delete;
  ComPtr& operator=(const ComPtr&) = delete;
  ComPtr(ComPtr&& other) noexcept : pointer(other.Detach()) {}
  ComPtr& operator=(ComPtr&& other) noexcept {
    if (this != std::addressof(other)) {
      Reset();
      pointer = other.Detach();
    }
    return *this;
  }

  // Takes over a reference the caller already owns.
  static ComPtr Attach(T* owned) {
    ComPtr holder;
    holder.pointer = owned;
    return holder;
  }

  T* Get() const { return pointer; }
  T* operator->() const { return pointer; }
  explicit operator bool() const { return pointer != nullptr; }

  T** operator&() {
    Reset();
    return &pointer;
  }

  void Reset() {
    if (pointer) {
      T* old = pointer;
      pointer = nullptr;
      old->Release();
    }
  }

  // Hands the reference out; the caller now releases it.
  T* Detach() { return std::exchange(pointer, nullptr); }

  // QueryInterface into another holder; true only for exactly S_OK.
  template <class U>
  bool As(ComPtr<U>& out) const {
    return As(out, __uuidof(U));
  }
  // For interfaces whose headers declare no uuid for __uuidof.
  template <class U>
  bool As(ComPtr<U>& out, REFIID iid) const {
    return pointer && pointer->QueryInterface(iid, reinterpret_cast<void**>(&out)) == S_OK;
  }

private:
  T* pointer = nullptr;
};

}  // namespace tesmo
