// A colour space converter transform filter: video in I420, YV12, NV12, YUY2, UYVY, RGB555 or
// RGB565 (VideoInfo or VideoInfo2), out RGB32 or RGB24 at the same size. Registered with a normal merit, so intelligent connect puts it
// between a pin that offers such frames and Wine's video renderer, which takes RGB24/RGB32
// only (on Windows the system's own converters play this part).
// Threads: the graph's (state changes, connections, queries) and the upstream streaming
// thread (Receive, EndOfStream, flushing). The filter lock (Filter.h) guards the state, both
// connections and the flags; Receive takes what it needs under the lock and calls downstream
// without it, so a renderer that holds a sample while paused never blocks a state change or
// a flush.
#pragma once
#include <dshow.h>

#include "Filter.h"
#include "PixelConversion.h"

namespace testdevices {

extern const CLSID kConverterClassId;
extern const wchar_t kConverterName[];

class ColourConverter;

class ConverterInputPin : public Pin, public IMemInputPin {
public:
  explicit ConverterInputPin(ColourConverter& filter);

  // IUnknown, as every pin answers
  HRESULT WINAPI QueryInterface(REFIID iid, void** out) override {
    return Pin::QueryInterface(iid, out);
  }
  ULONG WINAPI AddRef() override { return Pin::AddRef(); }
  ULONG WINAPI Release() override { return Pin::Release(); }
  // IPin
  HRESULT WINAPI ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  HRESULT WINAPI QueryAccept(const AM_MEDIA_TYPE* type) override;
  HRESULT WINAPI EndOfStream() override;
  HRESULT WINAPI BeginFlush() override;
  HRESULT WINAPI EndFlush() override;
  HRESULT WINAPI NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop, double rate) override;
  // IMemInputPin
  HRESULT WINAPI GetAllocator(IMemAllocator** allocator) override;
  HRESULT WINAPI NotifyAllocator(IMemAllocator* allocator, WINBOOL readOnly) override;
  HRESULT WINAPI GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) override { return E_NOTIMPL; }
  HRESULT WINAPI Receive(IMediaSample* sample) override;
  HRESULT WINAPI ReceiveMultiple(IMediaSample** samples, LONG count, LONG* processed) override;
  // Receive waits for an output buffer and calls downstream, which may block.
  HRESULT WINAPI ReceiveCanBlock() override { return S_OK; }

private:
  friend class ColourConverter;
  friend class ConverterOutputPin;
  void* OtherInterface(REFIID iid) override;
  void DisconnectedLocked() override;
  // The output's peer, to pass a stream call on to (null while unconnected).
  ComPtr<IPin> DownstreamLocked();

  ColourConverter& filter;
  // Under the filter lock.
  PictureShape shape = {};
  ComPtr<IMemAllocator> ownAllocator;  // offered by GetAllocator, made on the first request
  bool flushing = false;
  bool endOfStream = false;
};

class ConverterOutputPin : public Pin {
public:
  explicit ConverterOutputPin(ColourConverter& filter);

  HRESULT WINAPI QueryAccept(const AM_MEDIA_TYPE* type) override;

private:
  friend class ColourConverter;
  friend class ConverterInputPin;
  HRESULT ConnectLocked(IPin* receiver, const AM_MEDIA_TYPE* type) override;
  HRESULT TryConnectLocked(IPin* receiver, const MediaType& type);
  ALLOCATOR_PROPERTIES AllocatorRequest(IMemInputPin& receiver) const override;
  bool Suffices(const ALLOCATOR_PROPERTIES& agreed) const override;
  std::vector<MediaType> EnumeratedTypesLocked() const override;
  void DisconnectedLocked() override { shape = {}; }

  ColourConverter& filter;
  PictureShape shape = {};  // under the filter lock
};

class ColourConverter : public Filter {
public:
  static HRESULT Create(REFIID iid, void** out);

private:
  friend class ConverterInputPin;
  friend class ConverterOutputPin;
  ColourConverter();
  ~ColourConverter() override;
  HRESULT OnStateChange(FILTER_STATE from, FILTER_STATE to) override;

  ConverterInputPin input;
  ConverterOutputPin output;
};

}  // namespace testdevices
