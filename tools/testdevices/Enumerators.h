// IEnumPins over a filter's pins and IEnumMediaTypes over a list of types.
#pragma once
#include <dshow.h>
#include <vector>

#include "ComPtr.h"
#include "LiveObjects.h"
#include "MediaType.h"

namespace testdevices {

class CaptureFilter;

class PinEnumerator : public IEnumPins, public LiveObject {
public:
    // Holds a reference on the filter, which owns the pins.
    PinEnumerator(CaptureFilter& filter, IBaseFilter* owner, std::vector<IPin*> pins, size_t position = 0);

    HRESULT WINAPI QueryInterface(REFIID iid, void** out) override;
    ULONG WINAPI AddRef() override;
    ULONG WINAPI Release() override;
    HRESULT WINAPI Next(ULONG count, IPin** pins, ULONG* fetched) override;
    HRESULT WINAPI Skip(ULONG count) override;
    HRESULT WINAPI Reset() override;
    HRESULT WINAPI Clone(IEnumPins** clone) override;

private:
    CaptureFilter& filter;
    ComPtr<IBaseFilter> owner;
    std::vector<IPin*> pins;
    size_t position;
};

class MediaTypeEnumerator : public IEnumMediaTypes, public LiveObject {
public:
    MediaTypeEnumerator(std::string label, std::vector<MediaType> types, size_t position = 0);

    HRESULT WINAPI QueryInterface(REFIID iid, void** out) override;
    ULONG WINAPI AddRef() override;
    ULONG WINAPI Release() override;
    HRESULT WINAPI Next(ULONG count, AM_MEDIA_TYPE** types, ULONG* fetched) override;
    HRESULT WINAPI Skip(ULONG count) override;
    HRESULT WINAPI Reset() override;
    HRESULT WINAPI Clone(IEnumMediaTypes** clone) override;

private:
    std::vector<MediaType> types;
    size_t position;
};

}  // namespace testdevices
