// Owns an AM_MEDIA_TYPE handed out by the framework (IAMStreamConfig::GetFormat):
// frees its format block, its pUnk and the structure itself on every path.
#pragma once

#include <cstring>
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

  // A copy of `source` with a format block of its own; empty when memory runs out.
  static MediaType CopyOf(const AM_MEDIA_TYPE& source) {
    MediaType copy;
    auto* type = static_cast<AM_MEDIA_TYPE*>(CoTaskMemAlloc(sizeof(AM_MEDIA_TYPE)));
    if (!type) return copy;
    *type = source;
    type->pUnk = nullptr;
    if (source.cbFormat && source.pbFormat) {
      type->pbFormat = static_cast<BYTE*>(CoTaskMemAlloc(source.cbFormat));
      if (!type->pbFormat) {
        CoTaskMemFree(type);
        return copy;
      }
      std::memcpy(type->pbFormat, source.pbFormat, source.cbFormat);
    } else {
      type->cbFormat = 0;
      type->pbFormat = nullptr;
    }
    copy.type = type;
    return copy;
  }
private:
  AM_MEDIA_TYPE* type = nullptr;
};

}  // namespace tesmo
