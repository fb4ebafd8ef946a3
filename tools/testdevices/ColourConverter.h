// A colour space converter transform filter: video in I420, YV12, NV12, YUY2, UYVY, RGB555 or
// RGB565 (VideoInfo or VideoInfo2), out RGB32 or RGB24 at the same size. Registered with a normal merit, so intelligent connect puts it
// between a pin that offers such frames and Wine's video renderer, which takes RGB24/RGB32
// only (on Windows the system's own converters play this part).
// Threads: the graph's (state changes, connections, queries) and the upstream streaming
// thread (Receive, EndOfStream, flushing). `lock` guards the state, both connections and the
// flags; Receive takes what it needs under the lock and calls downstream without it, so a
// renderer that holds a sample while paused never blocks a state change or a flush. The lock
// is recursive because a peer asks our pins about the connection from inside
// ReceiveConnection and NotifyAllocator, on the thread that holds it.
#pragma once
#include <dshow.h>
#include <mutex>
#include <string>

#include "ComPtr.h"
#include "LiveObjects.h"
#include "MediaType.h"
#include "PinInfo.h"
#include "PixelConversion.h"

namespace testdevices {

extern const CLSID kConverterClassId;
extern const wchar_t kConverterName[];

class ColourConverter;

class ConverterInputPin : public IPin, public IMemInputPin, public LiveObject {
public:
  explicit ConverterInputPin(ColourConverter& filter);

  // IUnknown: references count on the filter, and on the pin for the live-object report.
  HRESULT WINAPI QueryInterface(REFIID iid, void** out) override;
  ULONG WINAPI AddRef() override;
  ULONG WINAPI Release() override;
  // IPin
  HRESULT WINAPI Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override;
  HRESULT WINAPI ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  HRESULT WINAPI Disconnect() override;
  HRESULT WINAPI ConnectedTo(IPin** pin) override;
  HRESULT WINAPI ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  HRESULT WINAPI QueryPinInfo(PIN_INFO* info) override;
  HRESULT WINAPI QueryDirection(PIN_DIRECTION* direction) override;
  HRESULT WINAPI QueryId(LPWSTR* id) override;
  HRESULT WINAPI QueryAccept(const AM_MEDIA_TYPE* type) override;
  HRESULT WINAPI EnumMediaTypes(IEnumMediaTypes** types) override;
  HRESULT WINAPI QueryInternalConnections(IPin** pins, ULONG* count) override;
  HRESULT WINAPI EndOfStream() override;
  HRESULT WINAPI BeginFlush() override;
  HRESULT WINAPI EndFlush() override;
  HRESULT WINAPI NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
  // IMemInputPin
  HRESULT WINAPI GetAllocator(IMemAllocator** allocator) override;
  HRESULT WINAPI NotifyAllocator(IMemAllocator* allocator, WINBOOL readOnly) override;
  HRESULT WINAPI GetAllocatorRequirements(ALLOCATOR_PROPERTIES* properties) override;
  HRESULT WINAPI Receive(IMediaSample* sample) override;
  HRESULT WINAPI ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) override;
  HRESULT WINAPI ReceiveCanBlock() override;

private:
  friend class ColourConverter;
  friend class ConverterOutputPin;
  ColourConverter& filter;
  // Under the filter lock; the connection changes only while stopped.
  ComPtr<IPin> peer;
  MediaType connectionType;
  PictureShape shape = {};
  ComPtr<IMemAllocator> ownAllocator;  // offered by GetAllocator, made on the first request
  bool flushing = false;
  bool endOfStream = false;
};

class ConverterOutputPin : public StreamCallsRefused<ConverterOutputPin>, public LiveObject {
public:
  explicit ConverterOutputPin(ColourConverter& filter);

  HRESULT WINAPI QueryInterface(REFIID iid, void** out) override;
  ULONG WINAPI AddRef() override;
  ULONG WINAPI Release() override;
  HRESULT WINAPI Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override;
  HRESULT WINAPI ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  HRESULT WINAPI Disconnect() override;
  HRESULT WINAPI ConnectedTo(IPin** pin) override;
  HRESULT WINAPI ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  HRESULT WINAPI QueryPinInfo(PIN_INFO* info) override;
  HRESULT WINAPI QueryDirection(PIN_DIRECTION* direction) override;
  HRESULT WINAPI QueryId(LPWSTR* id) override;
  HRESULT WINAPI QueryAccept(const AM_MEDIA_TYPE* type) override;
  HRESULT WINAPI EnumMediaTypes(IEnumMediaTypes** types) override;

private:
  friend class ColourConverter;
  friend class ConverterInputPin;
  friend class StreamCallsRefused<ConverterOutputPin>;
  static constexpr const char* kRole = " on an output pin";
  void NoteUnexpectedCall(const std::string& call);
  HRESULT TryConnectLocked(IPin* receiver, const MediaType& type);
  HRESULT NegotiateAllocatorLocked(IPin* receiver, const MediaType& type);

  ColourConverter& filter;
  // Under the filter lock; the connection changes only while stopped.
  ComPtr<IPin> peer;
  ComPtr<IMemInputPin> peerInput;
  ComPtr<IMemAllocator> allocator;
  MediaType connectionType;
  PictureShape shape = {};
};

class ColourConverter : public IBaseFilter, public LiveObject {
public:
  static HRESULT Create(REFIID iid, void** out);

  // IUnknown
  HRESULT WINAPI QueryInterface(REFIID iid, void** out) override;
  ULONG WINAPI AddRef() override;
  ULONG WINAPI Release() override;
  // IPersist, IMediaFilter, IBaseFilter
  HRESULT WINAPI GetClassID(CLSID* id) override;
  HRESULT WINAPI Stop() override;
  HRESULT WINAPI Pause() override;
  HRESULT WINAPI Run(REFERENCE_TIME start) override;
  HRESULT WINAPI GetState(DWORD timeoutMs, FILTER_STATE* state) override;
  HRESULT WINAPI SetSyncSource(IReferenceClock* clock) override;
  HRESULT WINAPI GetSyncSource(IReferenceClock** clock) override;
  HRESULT WINAPI EnumPins(IEnumPins** pins) override;
  HRESULT WINAPI FindPin(LPCWSTR id, IPin** pin) override;
  HRESULT WINAPI QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT WINAPI JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  HRESULT WINAPI QueryVendorInfo(LPWSTR* info) override;

private:
  friend class ConverterInputPin;
  friend class ConverterOutputPin;
  ColourConverter();
  ~ColourConverter() override;
  bool IsStoppedLocked() const { return state == State_Stopped; }
  void NoteUnexpected(const char* call);

  std::recursive_mutex lock;
  FILTER_STATE state = State_Stopped;
  ComPtr<IReferenceClock> clock;
  IFilterGraph* graph = nullptr;  // not counted: the graph owns us, not the other way round
  std::wstring graphName;
  ConverterInputPin input;
  ConverterOutputPin output;
};

}  // namespace testdevices
