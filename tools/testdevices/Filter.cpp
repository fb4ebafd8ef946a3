#include "Filter.h"

#include <cstring>
#include <cwchar>

#include "DeviceConfig.h"
#include "DeviceRecords.h"
#include "Enumerators.h"

namespace testdevices {

// ---- the filter

Filter::Filter(const char* kind, std::string label, const CLSID& classId, bool live)
    : ComObject(kind, std::move(label)), classId(classId), live(live) {}

HRESULT WINAPI Filter::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown)
    *out = static_cast<IBaseFilter*>(this);
  else if (iid == IID_IPersist && Offers(true, "IPersist"))
    *out = static_cast<IPersist*>(this);
  else if (iid == IID_IMediaFilter && Offers(true, "IMediaFilter"))
    *out = static_cast<IMediaFilter*>(this);
  else if (iid == IID_IBaseFilter && Offers(true, "IBaseFilter"))
    *out = static_cast<IBaseFilter*>(this);
  else
    *out = OtherInterface(iid);
  if (!*out) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

bool Filter::Offers(bool offered, const char* name) {
  return offered && !Fails((std::string("QueryInterface(") + name + ")").c_str());
}

void Filter::NoteUnexpected(const std::string& call) {
  DeviceRecords::Instance().NoteUnexpected(label + ": " + call);
}

HRESULT Filter::ChangeState(const char* call, FILTER_STATE to) {
  if (const HRESULT fault = Fault(call)) return fault;
  auto guard = Hold();
  const HRESULT hr = OnStateChange(state, to);
  if (hr == S_OK) state = to;
  return hr;
}

HRESULT WINAPI Filter::GetState(DWORD, FILTER_STATE* current) {
  if (!current) return E_POINTER;
  auto guard = Hold();
  *current = state;
  // A live source has nothing to cue: without this the graph waits for a sample in Pause.
  return live && state == State_Paused ? VFW_S_CANT_CUE : S_OK;
}

HRESULT WINAPI Filter::SetSyncSource(IReferenceClock* newClock) {
  auto guard = Hold();
  clock = AddReference(newClock);
  return S_OK;
}

HRESULT WINAPI Filter::GetSyncSource(IReferenceClock** current) {
  if (!current) return E_POINTER;
  auto guard = Hold();
  *current = AddReference(clock.Get()).Detach();
  return S_OK;
}

HRESULT WINAPI Filter::EnumPins(IEnumPins** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (const HRESULT fault = Fault("IBaseFilter::EnumPins")) return fault;
  return PinEnumerator::HandOut("PinEnumerator", "of " + label,
                                std::vector<IPin*>(pins.begin(), pins.end()), out, this,
                                [this] { return Fails("IEnumPins::Next"); });
}

HRESULT WINAPI Filter::FindPin(LPCWSTR id, IPin** out) {
  if (!id || !out) return E_POINTER;
  *out = nullptr;
  for (Pin* pin : pins) {
    if (pin->name != id) continue;
    pin->AddRef();
    *out = pin;
    return S_OK;
  }
  return VFW_E_NOT_FOUND;
}

HRESULT WINAPI Filter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  auto guard = Hold();
  wcsncpy(info->achName, graphName.c_str(), MAX_FILTER_NAME - 1);
  info->achName[MAX_FILTER_NAME - 1] = 0;
  info->pGraph = AddReference(graph).Detach();
  return S_OK;
}

HRESULT WINAPI Filter::JoinFilterGraph(IFilterGraph* newGraph, LPCWSTR name) {
  auto guard = Hold();
  graph = newGraph;
  graphName = name ? name : L"";
  ComPtr<IMediaEventSink> sink;
  if (newGraph) newGraph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink));
  eventSink = sink.Get();  // uncounted, as `graph` is: the graph holds its member filters
  return S_OK;
}

HRESULT WINAPI Filter::QueryVendorInfo(LPWSTR* info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

// ---- the pin

Pin::Pin(Filter& owner, const char* kind, const std::wstring& name, PIN_DIRECTION direction)
    : LiveObject(kind, "'" + ToUtf8(name) + "' of " + owner.label),
      name(name),
      direction(direction),
      owner(owner) {}

HRESULT WINAPI Pin::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || (iid == IID_IPin && owner.Offers(true, "IPin")))
    *out = static_cast<IPin*>(this);
  else
    *out = OtherInterface(iid);
  if (!*out) return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

ULONG WINAPI Pin::AddRef() {
  long count = ++refs;
  owner.AddRef();
  return ULONG(count);
}

ULONG WINAPI Pin::Release() {
  long count = --refs;
  owner.Release();  // may destroy the filter and this pin: nothing of `this` after it
  return ULONG(count);
}

HRESULT Pin::Refuse(const char* call) {
  owner.NoteUnexpected(call + std::string(direction == PINDIR_OUTPUT
                                              ? " on an output pin"
                                              : " on an unconnected input pin"));
  return E_UNEXPECTED;
}

HRESULT WINAPI Pin::Connect(IPin* receiver, const AM_MEDIA_TYPE* type) {
  if (direction == PINDIR_INPUT) {
    owner.NoteUnexpected("IPin::Connect on an input pin");
    return E_UNEXPECTED;
  }
  if (!receiver) return E_POINTER;
  if (const HRESULT fault = owner.Fault("IPin::Connect")) return fault;
  auto guard = owner.Hold();
  if (peer) return VFW_E_ALREADY_CONNECTED;
  if (!owner.IsStoppedLocked()) return VFW_E_NOT_STOPPED;
  return ConnectLocked(receiver, type);
}

HRESULT WINAPI Pin::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) {
  owner.NoteUnexpected("IPin::ReceiveConnection on an output pin");
  return E_UNEXPECTED;
}

HRESULT Pin::CompleteConnectionLocked(IPin* receiver, const MediaType& type) {
  // Connected before the allocator talk: the receiver may ask for the type meanwhile.
  peer = AddReference(receiver);
  connectionType = type;
  const HRESULT hr = NegotiateAllocatorLocked(receiver);
  if (hr != S_OK) {
    receiver->Disconnect();  // undoing our own half-made connection; its result changes nothing
    DisconnectLocked();
  }
  return hr;
}

HRESULT Pin::NegotiateAllocatorLocked(IPin* receiver) {
  ComPtr<IMemInputPin> input;
  if (receiver->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input)) != S_OK)
    return VFW_E_NO_TRANSPORT;
  ComPtr<IMemAllocator> chosen;
  if (input->GetAllocator(&chosen) != S_OK &&
      CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                       reinterpret_cast<void**>(&chosen)) != S_OK)
    return VFW_E_NO_ALLOCATOR;
  ALLOCATOR_PROPERTIES wanted = AllocatorRequest(*input.Get()), actual = {};
  HRESULT hr = chosen->SetProperties(&wanted, &actual);
  if (hr != S_OK && wanted.cbAlign != 1) {
    // The memory allocator takes only powers of two; a 3-byte frame alignment is still a
    // sensible request, so fall back to byte alignment rather than refuse the connection.
    wanted.cbAlign = 1;
    hr = chosen->SetProperties(&wanted, &actual);
  }
  if (hr != S_OK) return hr;
  if (!Suffices(actual)) return VFW_E_SIZENOTSET;
  if ((hr = input->NotifyAllocator(chosen.Get(), FALSE)) != S_OK) return hr;
  allocator = std::move(chosen);
  peerInput = std::move(input);
  agreed = actual;
  return S_OK;
}

HRESULT WINAPI Pin::Disconnect() {
  if (const HRESULT fault = owner.Fault("IPin::Disconnect")) return fault;
  auto guard = owner.Hold();
  if (!owner.IsStoppedLocked()) return VFW_E_NOT_STOPPED;
  if (!peer) return S_FALSE;
  DisconnectLocked();
  return S_OK;
}

void Pin::DisconnectLocked() {
  if (allocator) allocator->Decommit();  // already so once stopped, unless a client skipped Stop
  allocator.Reset();
  peerInput.Reset();
  peer.Reset();
  connectionType = MediaType();
  DisconnectedLocked();
}

HRESULT WINAPI Pin::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  *pin = nullptr;
  if (const HRESULT fault = owner.Fault("IPin::ConnectedTo")) return fault;
  auto guard = owner.Hold();
  *pin = AddReference(peer.Get()).Detach();
  return *pin ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT WINAPI Pin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  auto guard = owner.Hold();
  if (peer) return connectionType.CopyTo(type);
  std::memset(type, 0, sizeof *type);
  return VFW_E_NOT_CONNECTED;
}

HRESULT WINAPI Pin::QueryPinInfo(PIN_INFO* info) {
  if (!info) return E_POINTER;
  if (const HRESULT fault = owner.Fault("IPin::QueryPinInfo")) return fault;
  info->pFilter = AddReference<IBaseFilter>(&owner).Detach();  // the caller releases it
  info->dir = direction;
  wcsncpy(info->achName, name.c_str(), MAX_PIN_NAME - 1);
  info->achName[MAX_PIN_NAME - 1] = 0;
  return S_OK;
}

HRESULT WINAPI Pin::QueryDirection(PIN_DIRECTION* out) {
  if (!out) return E_POINTER;
  if (const HRESULT fault = owner.Fault("IPin::QueryDirection")) return fault;
  *out = direction;
  return S_OK;
}

HRESULT WINAPI Pin::QueryId(LPWSTR* id) {
  if (!id) return E_POINTER;
  const size_t bytes = (name.size() + 1) * sizeof(wchar_t);
  *id = static_cast<LPWSTR>(CoTaskMemAlloc(bytes));
  if (!*id) return E_OUTOFMEMORY;
  std::memcpy(*id, name.c_str(), bytes);
  return S_OK;
}

HRESULT WINAPI Pin::EnumMediaTypes(IEnumMediaTypes** types) {
  if (!types) return E_POINTER;
  *types = nullptr;
  if (const HRESULT fault = owner.Fault("IPin::EnumMediaTypes")) return fault;
  auto guard = owner.Hold();
  std::vector<MediaType> list = EnumeratedTypesLocked();
  guard.unlock();
  return MediaTypeEnumerator::HandOut("MediaTypeEnumerator", "of " + label, std::move(list), types);
}

}  // namespace testdevices
