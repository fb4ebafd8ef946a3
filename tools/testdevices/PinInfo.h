// The answers every pin gives the same way: its info, its id, its connection type.
#pragma once
#include <dshow.h>

#include "MediaType.h"

namespace testdevices {

// Fills PIN_INFO with a reference to `filter` (the caller releases it).
HRESULT CopyPinInfo(IBaseFilter* filter, PIN_DIRECTION direction, const wchar_t* name,
                    PIN_INFO* info);
// A CoTaskMem copy of the pin's name, as IPin::QueryId hands out.
HRESULT CopyId(const wchar_t* name, LPWSTR* id);
// IPin::ConnectionMediaType: the type of the connection, or a zeroed one when there is none.
HRESULT CopyConnectionType(bool connected, const MediaType& type, AM_MEDIA_TYPE* out);

}  // namespace testdevices
