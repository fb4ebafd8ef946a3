// The answers every pin gives the same way: its info, its id, its connection type.
#pragma once
#include <dshow.h>
#include <string>

#include "MediaType.h"

namespace testdevices {

// Fills PIN_INFO with a reference to `filter` (the caller releases it).
HRESULT CopyPinInfo(IBaseFilter* filter, PIN_DIRECTION direction, const wchar_t* name,
                    PIN_INFO* info);
// A CoTaskMem copy of the pin's name, as IPin::QueryId hands out.
HRESULT CopyId(const wchar_t* name, LPWSTR* id);
// IPin::ConnectionMediaType: the type of the connection, or a zeroed one when there is none.
HRESULT CopyConnectionType(bool connected, const MediaType& type, AM_MEDIA_TYPE* out);

// The stream's own calls (end of stream, flushes, new segments) flow into a connected input
// pin. An output pin, or an input that never connects, notes each as a call a correct client
// never makes and refuses it. `Pin` gives NoteUnexpectedCall and kRole (" on an output pin").
template <typename Pin>
class StreamCallsRefused : public IPin {
public:
  HRESULT WINAPI QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  HRESULT WINAPI EndOfStream() override { return Refuse("IPin::EndOfStream"); }
  HRESULT WINAPI BeginFlush() override { return Refuse("IPin::BeginFlush"); }
  HRESULT WINAPI EndFlush() override { return Refuse("IPin::EndFlush"); }
  HRESULT WINAPI NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override {
    return Refuse("IPin::NewSegment");
  }

private:
  HRESULT Refuse(const char* call) {
    static_cast<Pin*>(this)->NoteUnexpectedCall(call + std::string(Pin::kRole));
    return E_UNEXPECTED;
  }
};

}  // namespace testdevices
