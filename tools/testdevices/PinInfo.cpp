#include "PinInfo.h"

#include <cstring>
#include <cwchar>

namespace testdevices {

HRESULT CopyPinInfo(IBaseFilter* filter, PIN_DIRECTION direction, const wchar_t* name,
                    PIN_INFO* info) {
  if (!info) return E_POINTER;
  info->pFilter = filter;
  filter->AddRef();
  info->dir = direction;
  wcsncpy(info->achName, name, MAX_PIN_NAME - 1);
  info->achName[MAX_PIN_NAME - 1] = 0;
  return S_OK;
}

HRESULT CopyId(const wchar_t* name, LPWSTR* id) {
  if (!id) return E_POINTER;
  const size_t bytes = (wcslen(name) + 1) * sizeof(wchar_t);
  *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (!*id) return E_OUTOFMEMORY;
  std::memcpy(*id, name, bytes);
  return S_OK;
}

HRESULT CopyConnectionType(bool connected, const MediaType& type, AM_MEDIA_TYPE* out) {
  if (!out) return E_POINTER;
  if (!connected) {
    std::memset(out, 0, sizeof *out);
    return VFW_E_NOT_CONNECTED;
  }
  return type.CopyTo(out);
}

}  // namespace testdevices
