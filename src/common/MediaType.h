// Owns an AM_MEDIA_TYPE handed out by the framework (IAMStreamConfig::GetFormat):
// frees its format block, its pUnk and the structure itself on every path.
#pragma once

#include <memory>

#include "common/MediaPlatform.h"

namespace tesmo {

class MediaType {
public:
  MediaType() = default;
  ~MediaType() { Reset(); }
  MediaType(const MediaType&) = delete;
  MediaType& operator=(const MediaType&) = delete;
  MediaType(MediaType&& other) noexcept : type(other.type) { other.type = nullptr; }
  MediaType& operator=(MediaType&& other) noexcept {
    if (this != std::addressof(other)) {
      Reset();
      type = other.type;
      other.type = nullptr;
    }
    return *this;
  }

  AM_MEDIA_TYPE** operator&() {
    Reset();
    return &type;
  }
  AM_MEDIA_TYPE* Get() const { return type; }
  AM_MEDIA_TYPE* operator->() const { return type; }
  explicit operator bool() const { return type != nullptr; }

  void Reset() {
    if (!type) return;
    if (type->cbFormat && type->pbFormat) CoTaskMemFree(type->pbFormat);
    if (type->pUnk) type->pUnk->Release();
    CoTaskMemFree(type);
    type = nullptr;
  }

private:
  AM_MEDIA_TYPE* type = nullptr;
};

}  // namespace tesmo
