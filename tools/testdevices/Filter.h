// What every filter and pin of this module answers alike. Filter: COM identity and
// references, state, clock, graph link and the pin list; Pin: connection, pin info,
// direction, id and media-type enumeration. The capture filter and the colour converter
// stand on Filter, their pins on Pin, each adding its own interfaces and behaviour.
// Threads: the graph's (state changes, connections, queries) and streaming threads. The
// filter's lock guards state, clock, graph link and every pin's connection (which changes
// only while stopped). It is recursive because a peer may ask a pin about the connection
// from inside ReceiveConnection or NotifyAllocator, on the thread that holds it.
#pragma once
#include <dshow.h>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "ComSupport.h"
#include "MediaType.h"

namespace testdevices {

class Pin;

class Filter : public ComObject<IBaseFilter, IID_IBaseFilter> {
public:
  // IUnknown: AddRef and Release as any object of this module
  HRESULT WINAPI QueryInterface(REFIID iid, void** out) override;
  // IPersist, IMediaFilter, IBaseFilter
  HRESULT WINAPI GetClassID(CLSID* id) override { return WriteOut(id, classId); }
  HRESULT WINAPI Stop() override { return ChangeState("IMediaFilter::Stop", State_Stopped); }
  HRESULT WINAPI Pause() override { return ChangeState("IMediaFilter::Pause", State_Paused); }
  HRESULT WINAPI Run(REFERENCE_TIME) override {
    return ChangeState("IMediaFilter::Run", State_Running);
  }
  HRESULT WINAPI GetState(DWORD timeoutMs, FILTER_STATE* state) override;
  HRESULT WINAPI SetSyncSource(IReferenceClock* clock) override;
  HRESULT WINAPI GetSyncSource(IReferenceClock** clock) override;
  HRESULT WINAPI EnumPins(IEnumPins** pins) override;
  HRESULT WINAPI FindPin(LPCWSTR id, IPin** pin) override;
  HRESULT WINAPI QueryFilterInfo(FILTER_INFO* info) override;
  HRESULT WINAPI JoinFilterGraph(IFilterGraph* graph, LPCWSTR name) override;
  HRESULT WINAPI QueryVendorInfo(LPWSTR* info) override;

  // For the pins. Counts the named call; S_OK, or what a planned fault makes it answer.
  virtual HRESULT Fault(const char* call) { return S_OK; }
  bool Fails(const char* call) { return Fault(call) != S_OK; }
  // QueryInterface helper: offered, and not refused by a "QueryInterface(<name>)" fault.
  bool Offers(bool offered, const char* name);
  void NoteUnexpected(const std::string& call);
  std::unique_lock<std::recursive_mutex> Hold() { return std::unique_lock(lock); }
  bool IsStoppedLocked() const { return state == State_Stopped; }

protected:
  // `live`: a source with nothing to cue, which answers VFW_S_CANT_CUE while paused.
  Filter(const char* kind, std::string label, const CLSID& classId, bool live);
  // Interfaces beyond IUnknown, IPersist, IMediaFilter and IBaseFilter; null for none.
  virtual void* OtherInterface(REFIID iid) { return nullptr; }
  // What Stop, Pause and Run do, under the lock; the state becomes `to` on S_OK.
  virtual HRESULT OnStateChange(FILTER_STATE from, FILTER_STATE to) = 0;

  std::vector<Pin*> pins;  // in enumeration order; the derived filter owns them
  // The graph's event sink, not counted (as `graph`): set while stopped, read by streaming
  // threads.
  std::atomic<IMediaEventSink*> eventSink{nullptr};

private:
  HRESULT ChangeState(const char* call, FILTER_STATE to);

  const CLSID classId;
  const bool live;
  std::recursive_mutex lock;
  FILTER_STATE state = State_Stopped;
  ComPtr<IReferenceClock> clock;
  IFilterGraph* graph = nullptr;  // not counted: the graph owns us, not the other way round
  std::wstring graphName;
};

class Pin : public IPin, public LiveObject {
public:
  // IUnknown: references count on the filter, and on the pin for the live-object report.
  HRESULT WINAPI QueryInterface(REFIID iid, void** out) override;
  ULONG WINAPI AddRef() override;
  ULONG WINAPI Release() override;
  // IPin. Connect is an output pin's call and ReceiveConnection an input pin's: made on the
  // other kind, each is noted as a call a correct client never makes, and refused.
  HRESULT WINAPI Connect(IPin* receiver, const AM_MEDIA_TYPE* type) override;
  HRESULT WINAPI ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) override;
  HRESULT WINAPI Disconnect() override;
  HRESULT WINAPI ConnectedTo(IPin** pin) override;
  HRESULT WINAPI ConnectionMediaType(AM_MEDIA_TYPE* type) override;
  HRESULT WINAPI QueryPinInfo(PIN_INFO* info) override;
  HRESULT WINAPI QueryDirection(PIN_DIRECTION* out) override;
  HRESULT WINAPI QueryId(LPWSTR* id) override;
  HRESULT WINAPI EnumMediaTypes(IEnumMediaTypes** types) override;
  HRESULT WINAPI QueryInternalConnections(IPin**, ULONG*) override { return E_NOTIMPL; }
  // The stream's own calls flow into a connected input pin; anywhere else they are noted
  // and refused, as above.
  HRESULT WINAPI EndOfStream() override { return Refuse("IPin::EndOfStream"); }
  HRESULT WINAPI BeginFlush() override { return Refuse("IPin::BeginFlush"); }
  HRESULT WINAPI EndFlush() override { return Refuse("IPin::EndFlush"); }
  HRESULT WINAPI NewSegment(REFERENCE_TIME, REFERENCE_TIME, double) override {
    return Refuse("IPin::NewSegment");
  }

  const std::wstring name;

protected:
  Pin(Filter& owner, const char* kind, const std::wstring& name, PIN_DIRECTION direction);
  // Interfaces beyond IUnknown and IPin; null for none.
  virtual void* OtherInterface(REFIID iid) { return nullptr; }
  // An output pin's Connect, under the lock, once stopped and unconnected.
  virtual HRESULT ConnectLocked(IPin* receiver, const AM_MEDIA_TYPE* type) { return E_UNEXPECTED; }
  // The receiver took `type`: connected with it once an allocator is agreed (else undone).
  HRESULT CompleteConnectionLocked(IPin* receiver, const MediaType& type);
  // The allocator terms an output pin asks for, and whether the agreed ones will do.
  virtual ALLOCATOR_PROPERTIES AllocatorRequest(IMemInputPin& receiver) const { return {}; }
  virtual bool Suffices(const ALLOCATOR_PROPERTIES& agreed) const { return true; }
  // What EnumMediaTypes lists, under the lock.
  virtual std::vector<MediaType> EnumeratedTypesLocked() const { return {}; }
  // The derived pin's own part of the connection goes with it.
  virtual void DisconnectedLocked() {}

  const PIN_DIRECTION direction;
  // The connection; output pins also keep the receiver's transport and the allocator.
  ComPtr<IPin> peer;
  MediaType connectionType;
  ComPtr<IMemInputPin> peerInput;
  ComPtr<IMemAllocator> allocator;
  ALLOCATOR_PROPERTIES agreed = {};

private:
  HRESULT Refuse(const char* call);
  HRESULT NegotiateAllocatorLocked(IPin* receiver);
  void DisconnectLocked();

  Filter& owner;
};

}  // namespace testdevices
