#include "ColourConverter.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <vector>

#include "DeviceConfig.h"
#include "DeviceRecords.h"
#include "Enumerators.h"
#include "PinInfo.h"
#include "TestDeviceControl.h"

namespace testdevices {

const CLSID kConverterClassId = TESTDEVICES_CLSID_COLOUR_CONVERTER;
const wchar_t kConverterName[] = L"Tesmo Colour Converter";

namespace {

const wchar_t kInputName[] = L"Input";
const wchar_t kOutputName[] = L"Output";
constexpr int kMaxSide = 8192;

// The picture an input type describes, if the converter can read it.
bool InputShapeOf(const AM_MEDIA_TYPE& type, PictureShape& shape) {
  const MediaType copy(type);
  const BITMAPINFOHEADER* picture = copy.Bitmap();  // VideoInfo or VideoInfo2
  if (type.majortype != MEDIATYPE_Video || !picture) return false;
  const BITMAPINFOHEADER& bmi = *picture;
  PixelFormat format;
  bool compressionFits;
  if (type.subtype == MEDIASUBTYPE_RGB555) {
    format = PixelFormat::Rgb555;
    compressionFits = bmi.biCompression == BI_RGB && bmi.biBitCount == 16;
  } else if (type.subtype == MEDIASUBTYPE_RGB565) {
    format = PixelFormat::Rgb565;  // masks, when present, are the standard 565 ones
    compressionFits =
        (bmi.biCompression == BI_RGB || bmi.biCompression == BI_BITFIELDS) && bmi.biBitCount == 16;
  } else if (const VideoSubtype* yuv = FindVideoSubtype(type.subtype); yuv && !IsRgb(yuv->format)) {
    format = yuv->format;
    compressionFits = bmi.biCompression == yuv->compression && bmi.biBitCount == yuv->bits;
  } else {
    return false;
  }
  const int rows = std::abs(bmi.biHeight);
  // Even widths only: the YUV layouts share chroma between pixel pairs, and 16-bit rows
  // are then the same whether the source pads them to DWORDs or not.
  if (!compressionFits || bmi.biWidth <= 0 || bmi.biWidth > kMaxSide || bmi.biWidth % 2 ||
      rows == 0 || rows > kMaxSide || (IsPlanar(format) && rows % 2))
    return false;
  shape = {format, int(bmi.biWidth), int(bmi.biHeight)};
  return true;
}

// An output type the converter can fill from `input`: RGB32 or RGB24 of the same size,
// either row order.
bool OutputShapeOf(const AM_MEDIA_TYPE& type, const PictureShape& input, PictureShape& shape) {
  const MediaType copy(type);
  const BITMAPINFOHEADER* picture = copy.Bitmap();
  if (type.majortype != MEDIATYPE_Video || !picture || picture->biCompression != BI_RGB)
    return false;
  const BITMAPINFOHEADER& bmi = *picture;
  PixelFormat format;
  if (type.subtype == MEDIASUBTYPE_RGB32 && bmi.biBitCount == 32)
    format = PixelFormat::Rgb32;
  else if (type.subtype == MEDIASUBTYPE_RGB24 && bmi.biBitCount == 24)
    format = PixelFormat::Rgb24;
  else
    return false;
  if (bmi.biWidth != input.width || std::abs(bmi.biHeight) != std::abs(input.height)) return false;
  shape = {format, int(bmi.biWidth), int(bmi.biHeight)};
  return true;
}

// What the output offers for an input picture, best first: bottom-up DIBs, as renderers expect.
std::vector<MediaType> OfferedTypes(const MediaType& input) {
  std::vector<MediaType> types;
  const BITMAPINFOHEADER* picture = input.Bitmap();
  if (!picture) return types;
  for (const GUID* subtype : {&MEDIASUBTYPE_RGB32, &MEDIASUBTYPE_RGB24})
    types.push_back(MakeVideoType(*subtype, int(picture->biWidth), std::abs(int(picture->biHeight)),
                                  input.FrameInterval()));
  return types;
}

void FreeTaskMemType(AM_MEDIA_TYPE* type) {
  if (!type) return;
  MediaType::FreeContents(*type);
  CoTaskMemFree(type);
}

// Times and flags of the picture go with it.
void CopySampleProperties(IMediaSample* from, IMediaSample* to) {
  REFERENCE_TIME start = 0, end = 0;
  const HRESULT timed = from->GetTime(&start, &end);
  if (timed == VFW_S_NO_STOP_TIME) end = start + 1;
  if (timed == S_OK || timed == VFW_S_NO_STOP_TIME)
    to->SetTime(&start, &end);
  else
    to->SetTime(nullptr, nullptr);
  LONGLONG mediaStart = 0, mediaEnd = 0;
  if (from->GetMediaTime(&mediaStart, &mediaEnd) == S_OK)
    to->SetMediaTime(&mediaStart, &mediaEnd);
  else
    to->SetMediaTime(nullptr, nullptr);
  to->SetSyncPoint(from->IsSyncPoint() == S_OK);
  to->SetDiscontinuity(from->IsDiscontinuity() == S_OK);
  to->SetPreroll(from->IsPreroll() == S_OK);
}

std::string NextFilterLabel() {
  static std::atomic<int> made{0};
  return "'" + ToUtf8(kConverterName) + "' #" + std::to_string(++made);
}

}  // namespace

// ---- the filter

HRESULT ColourConverter::Create(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  auto* filter = new ColourConverter();
  filter->AddRef();
  HRESULT hr = filter->QueryInterface(iid, out);
  filter->Release();
  return hr;
}

ColourConverter::ColourConverter()
    : LiveObject("ColourConverter", NextFilterLabel()), input(*this), output(*this) {}

ColourConverter::~ColourConverter() {
  // The graph stops its filters before it lets them go; this covers a client that did not.
  if (output.allocator) output.allocator->Decommit();
}

void ColourConverter::NoteUnexpected(const char* call) {
  DeviceRecords::Instance().NoteUnexpected(label + ": " + call);
}

HRESULT WINAPI ColourConverter::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IBaseFilter)
    *out = static_cast<IBaseFilter*>(this);
  else if (iid == IID_IPersist)
    *out = static_cast<IPersist*>(this);
  else if (iid == IID_IMediaFilter)
    *out = static_cast<IMediaFilter*>(this);
  else
    return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

ULONG WINAPI ColourConverter::AddRef() { return ULONG(++refs); }

ULONG WINAPI ColourConverter::Release() {
  long count = --refs;
  if (count == 0) delete this;
  return ULONG(count);
}

HRESULT WINAPI ColourConverter::GetClassID(CLSID* id) {
  if (!id) return E_POINTER;
  *id = kConverterClassId;
  return S_OK;
}

HRESULT WINAPI ColourConverter::Stop() {
  std::lock_guard<std::recursive_mutex> guard(lock);
  // Decommit also wakes a Receive waiting for an output buffer that the renderer holds.
  if (output.allocator) output.allocator->Decommit();
  input.endOfStream = false;
  state = State_Stopped;
  return S_OK;
}

HRESULT WINAPI ColourConverter::Pause() {
  std::lock_guard<std::recursive_mutex> guard(lock);
  if (state == State_Stopped && output.allocator) {
    HRESULT hr = output.allocator->Commit();
    if (FAILED(hr)) return hr;
  }
  state = State_Paused;
  return S_OK;
}

HRESULT WINAPI ColourConverter::Run(REFERENCE_TIME) {
  std::lock_guard<std::recursive_mutex> guard(lock);
  if (state == State_Stopped && output.allocator) {
    HRESULT hr = output.allocator->Commit();
    if (FAILED(hr)) return hr;
  }
  state = State_Running;
  return S_OK;
}

HRESULT WINAPI ColourConverter::GetState(DWORD, FILTER_STATE* current) {
  if (!current) return E_POINTER;
  std::lock_guard<std::recursive_mutex> guard(lock);
  *current = state;
  return S_OK;
}

HRESULT WINAPI ColourConverter::SetSyncSource(IReferenceClock* newClock) {
  std::lock_guard<std::recursive_mutex> guard(lock);
  clock = ComPtr<IReferenceClock>(newClock);
  return S_OK;
}

HRESULT WINAPI ColourConverter::GetSyncSource(IReferenceClock** current) {
  if (!current) return E_POINTER;
  std::lock_guard<std::recursive_mutex> guard(lock);
  *current = ComPtr<IReferenceClock>(clock).Detach();
  return S_OK;
}

HRESULT WINAPI ColourConverter::EnumPins(IEnumPins** pins) {
  if (!pins) return E_POINTER;
  auto* enumerator = new PinEnumerator("of " + label, this, {&input, &output}, {});
  enumerator->AddRef();
  *pins = enumerator;
  return S_OK;
}

HRESULT WINAPI ColourConverter::FindPin(LPCWSTR id, IPin** pin) {
  if (!id || !pin) return E_POINTER;
  *pin = nullptr;
  if (wcscmp(id, kInputName) == 0)
    *pin = &input;
  else if (wcscmp(id, kOutputName) == 0)
    *pin = &output;
  else
    return VFW_E_NOT_FOUND;
  (*pin)->AddRef();
  return S_OK;
}

HRESULT WINAPI ColourConverter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  std::lock_guard<std::recursive_mutex> guard(lock);
  wcsncpy(info->achName, graphName.c_str(), MAX_FILTER_NAME - 1);
  info->achName[MAX_FILTER_NAME - 1] = 0;
  info->pGraph = graph;
  if (graph) graph->AddRef();
  return S_OK;
}

HRESULT WINAPI ColourConverter::JoinFilterGraph(IFilterGraph* newGraph, LPCWSTR name) {
  std::lock_guard<std::recursive_mutex> guard(lock);
  graph = newGraph;
  graphName = name ? name : L"";
  return S_OK;
}

HRESULT WINAPI ColourConverter::QueryVendorInfo(LPWSTR* info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

// ---- the input pin

ConverterInputPin::ConverterInputPin(ColourConverter& filter)
    : LiveObject("ConverterInputPin", "'Input' of " + filter.label), filter(filter) {}

HRESULT WINAPI ConverterInputPin::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid == IID_IUnknown || iid == IID_IPin)
    *out = static_cast<IPin*>(this);
  else if (iid == IID_IMemInputPin)
    *out = static_cast<IMemInputPin*>(this);
  else
    return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

ULONG WINAPI ConverterInputPin::AddRef() {
  long count = ++refs;
  filter.AddRef();
  return ULONG(count);
}

ULONG WINAPI ConverterInputPin::Release() {
  long count = --refs;
  filter.Release();  // may destroy the filter and this pin: nothing of `this` after it
  return ULONG(count);
}

HRESULT WINAPI ConverterInputPin::Connect(IPin*, const AM_MEDIA_TYPE*) {
  filter.NoteUnexpected("IPin::Connect on an input pin");
  return E_UNEXPECTED;
}

HRESULT WINAPI ConverterInputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
  if (!connector || !type) return E_POINTER;
  std::lock_guard<std::recursive_mutex> guard(filter.lock);
  if (peer) return VFW_E_ALREADY_CONNECTED;
  if (!filter.IsStoppedLocked()) return VFW_E_NOT_STOPPED;
  PictureShape accepted;
  if (!InputShapeOf(*type, accepted)) return VFW_E_TYPE_NOT_ACCEPTED;
  // A connected output was agreed for one picture size; the input has to keep it.
  const PictureShape& out = filter.output.shape;
  if (filter.output.peer &&
      (out.width != accepted.width || std::abs(out.height) != std::abs(accepted.height)))
    return VFW_E_TYPE_NOT_ACCEPTED;
  PIN_DIRECTION direction;
  if (connector->QueryDirection(&direction) != S_OK || direction != PINDIR_OUTPUT)
    return VFW_E_INVALID_DIRECTION;
  peer = ComPtr<IPin>(connector);
  connectionType = MediaType(*type);
  shape = accepted;
  flushing = false;
  endOfStream = false;
  return S_OK;
}

HRESULT WINAPI ConverterInputPin::Disconnect() {
  std::lock_guard<std::recursive_mutex> guard(filter.lock);
  if (!filter.IsStoppedLocked()) return VFW_E_NOT_STOPPED;
  if (!peer) return S_FALSE;
  peer.Reset();
  ownAllocator.Reset();
  connectionType = MediaType();
  shape = {};
  return S_OK;
}

HRESULT WINAPI ConverterInputPin::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  std::lock_guard<std::recursive_mutex> guard(filter.lock);
  *pin = ComPtr<IPin>(peer).Detach();
  return *pin ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT WINAPI ConverterInputPin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  std::lock_guard<std::recursive_mutex> guard(filter.lock);
  return CopyConnectionType(bool(peer), connectionType, type);
}

HRESULT WINAPI ConverterInputPin::QueryPinInfo(PIN_INFO* info) {
  return CopyPinInfo(&filter, PINDIR_INPUT, kInputName, info);
}

HRESULT WINAPI ConverterInputPin::QueryDirection(PIN_DIRECTION* direction) {
  if (!direction) return E_POINTER;
  *direction = PINDIR_INPUT;
  return S_OK;
}

HRESULT WINAPI ConverterInputPin::QueryId(LPWSTR* id) { return CopyId(kInputName, id); }

HRESULT WINAPI ConverterInputPin::QueryAccept(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  PictureShape unused;
  return InputShapeOf(*type, unused) ? S_OK : S_FALSE;
}

// No preferred types: the upstream pin proposes, and ReceiveConnection decides.
HRESULT WINAPI ConverterInputPin::EnumMediaTypes(IEnumMediaTypes** types) {
  if (!types) return E_POINTER;
  return MediaTypeEnumerator::HandOut("of " + label, {}, types);
}

HRESULT WINAPI ConverterInputPin::QueryInternalConnections(IPin**, ULONG*) { return E_NOTIMPL; }

HRESULT WINAPI ConverterInputPin::EndOfStream() {
  ComPtr<IPin> downstream;
  {
    std::lock_guard<std::recursive_mutex> guard(filter.lock);
    if (flushing) return S_FALSE;
    endOfStream = true;
    downstream = filter.output.peer;
  }
  return downstream ? downstream->EndOfStream() : S_OK;
}

HRESULT WINAPI ConverterInputPin::BeginFlush() {
  ComPtr<IPin> downstream;
  {
    std::lock_guard<std::recursive_mutex> guard(filter.lock);
    flushing = true;
    endOfStream = false;
    downstream = filter.output.peer;
  }
  // Downstream lets go of a sample it holds, so a Receive of ours in progress returns.
  return downstream ? downstream->BeginFlush() : S_OK;
}

HRESULT WINAPI ConverterInputPin::EndFlush() {
  ComPtr<IPin> downstream;
  {
    std::lock_guard<std::recursive_mutex> guard(filter.lock);
    flushing = false;
    downstream = filter.output.peer;
  }
  return downstream ? downstream->EndFlush() : S_OK;
}

HRESULT WINAPI ConverterInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop,
                                             double rate) {
  ComPtr<IPin> downstream;
  {
    std::lock_guard<std::recursive_mutex> guard(filter.lock);
    downstream = filter.output.peer;
  }
  return downstream ? downstream->NewSegment(start, stop, rate) : S_OK;
}

HRESULT WINAPI ConverterInputPin::GetAllocator(IMemAllocator** allocator) {
  if (!allocator) return E_POINTER;
  *allocator = nullptr;
  std::lock_guard<std::recursive_mutex> guard(filter.lock);
  if (!ownAllocator &&
      CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                       reinterpret_cast<void**>(&ownAllocator)) != S_OK)
    return VFW_E_NO_ALLOCATOR;
  *allocator = ComPtr<IMemAllocator>(ownAllocator).Detach();
  return S_OK;
}

// Whichever allocator upstream chose: the converter only reads the input samples.
HRESULT WINAPI ConverterInputPin::NotifyAllocator(IMemAllocator* allocator, WINBOOL) {
  return allocator ? S_OK : E_POINTER;
}

HRESULT WINAPI ConverterInputPin::GetAllocatorRequirements(ALLOCATOR_PROPERTIES*) {
  return E_NOTIMPL;
}

HRESULT WINAPI ConverterInputPin::Receive(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  PictureShape from, to;
  ComPtr<IMemAllocator> outputAllocator;
  ComPtr<IMemInputPin> downstream;
  {
    std::lock_guard<std::recursive_mutex> guard(filter.lock);
    if (filter.IsStoppedLocked()) return VFW_E_WRONG_STATE;
    if (flushing) return S_FALSE;
    if (endOfStream) return VFW_E_SAMPLE_REJECTED_EOS;
    if (!peer || !filter.output.peerInput) return VFW_E_NOT_CONNECTED;
    AM_MEDIA_TYPE* changed = nullptr;
    if (sample->GetMediaType(&changed) == S_OK && changed) {
      // Upstream switched types within the stream: fine while the picture size stays.
      PictureShape next;
      const bool fits = InputShapeOf(*changed, next) && next.width == shape.width &&
                        std::abs(next.height) == std::abs(shape.height);
      if (fits) {
        connectionType = MediaType(*changed);
        shape = next;
      }
      FreeTaskMemType(changed);
      if (!fits) return VFW_E_INVALIDMEDIATYPE;
    }
    from = shape;
    to = filter.output.shape;
    outputAllocator = filter.output.allocator;
    downstream = filter.output.peerInput;
  }
  ComPtr<IMediaSample> converted;
  // Fails once Stop decommitted the allocator: no more samples wanted.
  if (outputAllocator->GetBuffer(&converted, nullptr, nullptr, 0) != S_OK) return S_FALSE;
  BYTE* source = nullptr;
  BYTE* target = nullptr;
  if (sample->GetPointer(&source) != S_OK || converted->GetPointer(&target) != S_OK) return E_FAIL;
  // A short frame holds no whole picture: it is dropped, and the stream goes on.
  if (!ConvertPicture(from, source, sample->GetActualDataLength(), to, target,
                      converted->GetSize()))
    return S_OK;
  converted->SetActualDataLength(PictureBytes(to));
  CopySampleProperties(sample, converted.Get());
  return downstream->Receive(converted.Get());
}

HRESULT WINAPI ConverterInputPin::ReceiveMultiple(IMediaSample** samples, LONG count,
                                                  LONG* processed) {
  if (!samples || !processed) return E_POINTER;
  *processed = 0;
  HRESULT hr = S_OK;
  while (*processed < count && (hr = Receive(samples[*processed])) == S_OK) ++*processed;
  return hr;
}

// Receive waits for an output buffer and calls downstream, which may block.
HRESULT WINAPI ConverterInputPin::ReceiveCanBlock() { return S_OK; }

// ---- the output pin

ConverterOutputPin::ConverterOutputPin(ColourConverter& filter)
    : LiveObject("ConverterOutputPin", "'Output' of " + filter.label), filter(filter) {}

HRESULT WINAPI ConverterOutputPin::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  if (iid != IID_IUnknown && iid != IID_IPin) return E_NOINTERFACE;
  *out = static_cast<IPin*>(this);
  AddRef();
  return S_OK;
}

ULONG WINAPI ConverterOutputPin::AddRef() {
  long count = ++refs;
  filter.AddRef();
  return ULONG(count);
}

ULONG WINAPI ConverterOutputPin::Release() {
  long count = --refs;
  filter.Release();  // may destroy the filter and this pin: nothing of `this` after it
  return ULONG(count);
}

HRESULT WINAPI ConverterOutputPin::Connect(IPin* receiver, const AM_MEDIA_TYPE* type) {
  if (!receiver) return E_POINTER;
  std::lock_guard<std::recursive_mutex> guard(filter.lock);
  if (peer) return VFW_E_ALREADY_CONNECTED;
  if (!filter.IsStoppedLocked()) return VFW_E_NOT_STOPPED;
  // The output types follow from the input's: nothing to offer before it is connected.
  if (!filter.input.peer) return VFW_E_NO_ACCEPTABLE_TYPES;
  for (const MediaType& offer : OfferedTypes(filter.input.connectionType))
    if ((!type || Matches(*type, offer.Get())) && TryConnectLocked(receiver, offer) == S_OK)
      return S_OK;
  // Then what the receiver prefers, where that is a picture the converter can fill.
  ComPtr<IEnumMediaTypes> preferred;
  if (receiver->EnumMediaTypes(&preferred) == S_OK) {
    AM_MEDIA_TYPE* next = nullptr;
    while (preferred->Next(1, &next, nullptr) == S_OK && next) {
      const MediaType candidate(*next);
      FreeTaskMemType(next);
      next = nullptr;
      PictureShape unused;
      if (OutputShapeOf(candidate.Get(), filter.input.shape, unused) &&
          (!type || Matches(*type, candidate.Get())) &&
          TryConnectLocked(receiver, candidate) == S_OK)
        return S_OK;
    }
  }
  return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT ConverterOutputPin::TryConnectLocked(IPin* receiver, const MediaType& type) {
  PictureShape accepted;
  if (!OutputShapeOf(type.Get(), filter.input.shape, accepted)) return VFW_E_TYPE_NOT_ACCEPTED;
  HRESULT hr = receiver->ReceiveConnection(this, &type.Get());
  if (hr != S_OK) return FAILED(hr) ? hr : VFW_E_TYPE_NOT_ACCEPTED;
  // Set before the allocator talk: the receiver may ask for the connection's type meanwhile.
  peer = ComPtr<IPin>(receiver);
  connectionType = type;
  shape = accepted;
  hr = NegotiateAllocatorLocked(receiver, type);
  if (hr != S_OK) {
    receiver->Disconnect();  // undoing our own half-made connection; its result changes nothing
    peer.Reset();
    connectionType = MediaType();
    shape = {};
  }
  return hr;
}

HRESULT ConverterOutputPin::NegotiateAllocatorLocked(IPin* receiver, const MediaType& type) {
  ComPtr<IMemInputPin> input;
  if (receiver->QueryInterface(IID_IMemInputPin, reinterpret_cast<void**>(&input)) != S_OK)
    return VFW_E_NO_TRANSPORT;
  ComPtr<IMemAllocator> chosen;
  if (input->GetAllocator(&chosen) != S_OK &&
      CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                       reinterpret_cast<void**>(&chosen)) != S_OK)
    return VFW_E_NO_ALLOCATOR;
  ALLOCATOR_PROPERTIES wanted = {}, actual = {};
  input->GetAllocatorRequirements(&wanted);  // a hint at most; most renderers have none
  // Two buffers: a paused renderer keeps one, the next frame is converted into the other.
  wanted.cBuffers = std::max<long>(wanted.cBuffers, 2);
  wanted.cbBuffer = std::max<long>(wanted.cbBuffer, long(type.Get().lSampleSize));
  if (wanted.cbAlign <= 0) wanted.cbAlign = 1;
  if (wanted.cbPrefix < 0) wanted.cbPrefix = 0;
  HRESULT hr = chosen->SetProperties(&wanted, &actual);
  if (hr != S_OK) return hr;
  if (actual.cbBuffer < long(type.Get().lSampleSize)) return VFW_E_SIZENOTSET;
  if ((hr = input->NotifyAllocator(chosen.Get(), FALSE)) != S_OK) return hr;
  allocator = chosen;
  peerInput = input;
  return S_OK;
}

HRESULT WINAPI ConverterOutputPin::ReceiveConnection(IPin*, const AM_MEDIA_TYPE*) {
  filter.NoteUnexpected("IPin::ReceiveConnection on an output pin");
  return E_UNEXPECTED;
}

HRESULT WINAPI ConverterOutputPin::Disconnect() {
  std::lock_guard<std::recursive_mutex> guard(filter.lock);
  if (!filter.IsStoppedLocked()) return VFW_E_NOT_STOPPED;
  if (!peer) return S_FALSE;
  if (allocator) allocator->Decommit();
  allocator.Reset();
  peerInput.Reset();
  peer.Reset();
  connectionType = MediaType();
  shape = {};
  return S_OK;
}

HRESULT WINAPI ConverterOutputPin::ConnectedTo(IPin** pin) {
  if (!pin) return E_POINTER;
  std::lock_guard<std::recursive_mutex> guard(filter.lock);
  *pin = ComPtr<IPin>(peer).Detach();
  return *pin ? S_OK : VFW_E_NOT_CONNECTED;
}

HRESULT WINAPI ConverterOutputPin::ConnectionMediaType(AM_MEDIA_TYPE* type) {
  std::lock_guard<std::recursive_mutex> guard(filter.lock);
  return CopyConnectionType(bool(peer), connectionType, type);
}

HRESULT WINAPI ConverterOutputPin::QueryPinInfo(PIN_INFO* info) {
  return CopyPinInfo(&filter, PINDIR_OUTPUT, kOutputName, info);
}

HRESULT WINAPI ConverterOutputPin::QueryDirection(PIN_DIRECTION* direction) {
  if (!direction) return E_POINTER;
  *direction = PINDIR_OUTPUT;
  return S_OK;
}

HRESULT WINAPI ConverterOutputPin::QueryId(LPWSTR* id) { return CopyId(kOutputName, id); }

HRESULT WINAPI ConverterOutputPin::QueryAccept(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  std::lock_guard<std::recursive_mutex> guard(filter.lock);
  PictureShape unused;
  return filter.input.peer && OutputShapeOf(*type, filter.input.shape, unused) ? S_OK : S_FALSE;
}

HRESULT WINAPI ConverterOutputPin::EnumMediaTypes(IEnumMediaTypes** types) {
  if (!types) return E_POINTER;
  std::vector<MediaType> list;
  {
    std::lock_guard<std::recursive_mutex> guard(filter.lock);
    if (filter.input.peer) list = OfferedTypes(filter.input.connectionType);
  }
  return MediaTypeEnumerator::HandOut("of " + label, std::move(list), types);
}

void ConverterOutputPin::NoteUnexpectedCall(const std::string& call) {
  filter.NoteUnexpected(call.c_str());
}

}  // namespace testdevices
