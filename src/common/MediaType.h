// Owns an AM_MEDIA_TYPE handed out by the framework (IAMStreamConfig::GetFormat):
// frees its format block, its pUnk and the structure itself on every path.
#pragma once

#include "common/MediaPlatform.h"

namespace tesmo {

class MediaType {
public:
  MediaType() = default;
  ~MediaType() { Reset(); }
  MediaType(const MediaType&) = delete;
  MediaType& operator=(const MediaType&) = delete;

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
