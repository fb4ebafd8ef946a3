#include "ColourConverter.h"

#include <algorithm>
#include <atomic>
#include <cstdlib>
#include <vector>

#include "DeviceConfig.h"
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
  // RGB555, RGB565 and the YUV layouts; masks, when present, are the standard 565 ones.
  const VideoSubtype* known = FindVideoSubtype(type.subtype);
  if (!known || known->jpeg || known->format == PixelFormat::Rgb24 ||
      known->format == PixelFormat::Rgb32 || !known->Describes(bmi))
    return false;
  const PixelFormat format = known->format;
  const int rows = std::abs(bmi.biHeight);
  // Even widths only: the YUV layouts share chroma between pixel pairs, and 16-bit rows
  // are then the same whether the source pads them to DWORDs or not.
  if (bmi.biWidth <= 0 || bmi.biWidth > kMaxSide || bmi.biWidth % 2 ||
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
  return HandOutNew(new ColourConverter(), iid, out);
}

ColourConverter::ColourConverter()
    : Filter("ColourConverter", NextFilterLabel(), kConverterClassId, false),
      input(*this),
      output(*this) {
  pins = {&input, &output};
}

ColourConverter::~ColourConverter() {
  // The graph stops its filters before it lets them go; this covers a client that did not.
  if (output.allocator) output.allocator->Decommit();
}

HRESULT ColourConverter::OnStateChange(FILTER_STATE from, FILTER_STATE to) {
  if (to == State_Stopped) {
    // Decommit also wakes a Receive waiting for an output buffer that the renderer holds.
    if (output.allocator) output.allocator->Decommit();
    input.endOfStream = false;
    return S_OK;
  }
  if (from == State_Stopped && output.allocator) {
    HRESULT hr = output.allocator->Commit();
    if (FAILED(hr)) return hr;
  }
  return S_OK;
}

// ---- the input pin

ConverterInputPin::ConverterInputPin(ColourConverter& filter)
    : Pin(filter, "ConverterInputPin", kInputName, PINDIR_INPUT), filter(filter) {}

void* ConverterInputPin::OtherInterface(REFIID iid) {
  return iid == IID_IMemInputPin ? static_cast<IMemInputPin*>(this) : nullptr;
}

HRESULT WINAPI ConverterInputPin::ReceiveConnection(IPin* connector, const AM_MEDIA_TYPE* type) {
  if (!connector || !type) return E_POINTER;
  auto guard = filter.Hold();
  if (peer) return VFW_E_ALREADY_CONNECTED;
  if (!filter.IsStoppedLocked()) return VFW_E_NOT_STOPPED;
  PictureShape accepted;
  if (!InputShapeOf(*type, accepted)) return VFW_E_TYPE_NOT_ACCEPTED;
  // A connected output was agreed for one picture size; the input has to keep it.
  const PictureShape& out = filter.output.shape;
  if (filter.output.peer &&
      (out.width != accepted.width || std::abs(out.height) != std::abs(accepted.height)))
    return VFW_E_TYPE_NOT_ACCEPTED;
  PIN_DIRECTION theirs;
  if (connector->QueryDirection(&theirs) != S_OK || theirs != PINDIR_OUTPUT)
    return VFW_E_INVALID_DIRECTION;
  peer = AddReference(connector);
  connectionType = MediaType(*type);
  shape = accepted;
  flushing = false;
  endOfStream = false;
  return S_OK;
}

void ConverterInputPin::DisconnectedLocked() {
  ownAllocator.Reset();
  shape = {};
}

HRESULT WINAPI ConverterInputPin::QueryAccept(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  PictureShape unused;
  return InputShapeOf(*type, unused) ? S_OK : S_FALSE;
}

ComPtr<IPin> ConverterInputPin::DownstreamLocked() {
  return AddReference(filter.output.peer.Get());
}

// The stream calls go downstream without the lock, as samples do.
HRESULT WINAPI ConverterInputPin::EndOfStream() {
  auto guard = filter.Hold();
  if (flushing) return S_FALSE;
  endOfStream = true;
  ComPtr<IPin> downstream = DownstreamLocked();
  guard.unlock();
  return downstream ? downstream->EndOfStream() : S_OK;
}

HRESULT WINAPI ConverterInputPin::BeginFlush() {
  auto guard = filter.Hold();
  flushing = true;
  endOfStream = false;
  ComPtr<IPin> downstream = DownstreamLocked();
  guard.unlock();
  // Downstream lets go of a sample it holds, so a Receive of ours in progress returns.
  return downstream ? downstream->BeginFlush() : S_OK;
}

HRESULT WINAPI ConverterInputPin::EndFlush() {
  auto guard = filter.Hold();
  flushing = false;
  ComPtr<IPin> downstream = DownstreamLocked();
  guard.unlock();
  return downstream ? downstream->EndFlush() : S_OK;
}

HRESULT WINAPI ConverterInputPin::NewSegment(REFERENCE_TIME start, REFERENCE_TIME stop,
                                             double rate) {
  auto guard = filter.Hold();
  ComPtr<IPin> downstream = DownstreamLocked();
  guard.unlock();
  return downstream ? downstream->NewSegment(start, stop, rate) : S_OK;
}

HRESULT WINAPI ConverterInputPin::GetAllocator(IMemAllocator** allocator) {
  if (!allocator) return E_POINTER;
  *allocator = nullptr;
  auto guard = filter.Hold();
  if (!ownAllocator &&
      CoCreateInstance(CLSID_MemoryAllocator, nullptr, CLSCTX_INPROC_SERVER, IID_IMemAllocator,
                       reinterpret_cast<void**>(&ownAllocator)) != S_OK)
    return VFW_E_NO_ALLOCATOR;
  *allocator = AddReference(ownAllocator.Get()).Detach();
  return S_OK;
}

// Whichever allocator upstream chose: the converter only reads the input samples.
HRESULT WINAPI ConverterInputPin::NotifyAllocator(IMemAllocator* allocator, WINBOOL) {
  return allocator ? S_OK : E_POINTER;
}

HRESULT WINAPI ConverterInputPin::Receive(IMediaSample* sample) {
  if (!sample) return E_POINTER;
  PictureShape from, to;
  ComPtr<IMemAllocator> outputAllocator;
  ComPtr<IMemInputPin> downstream;
  {
    auto guard = filter.Hold();
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
    outputAllocator = AddReference(filter.output.allocator.Get());
    downstream = AddReference(filter.output.peerInput.Get());
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

// ---- the output pin

ConverterOutputPin::ConverterOutputPin(ColourConverter& filter)
    : Pin(filter, "ConverterOutputPin", kOutputName, PINDIR_OUTPUT), filter(filter) {}

HRESULT ConverterOutputPin::ConnectLocked(IPin* receiver, const AM_MEDIA_TYPE* type) {
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
      if ((!type || Matches(*type, candidate.Get())) && TryConnectLocked(receiver, candidate) == S_OK)
        return S_OK;
    }
  }
  return VFW_E_NO_ACCEPTABLE_TYPES;
}

HRESULT ConverterOutputPin::TryConnectLocked(IPin* receiver, const MediaType& type) {
  PictureShape accepted;
  if (!OutputShapeOf(type.Get(), filter.input.shape, accepted) ||
      receiver->ReceiveConnection(this, &type.Get()) != S_OK)
    return VFW_E_TYPE_NOT_ACCEPTED;
  shape = accepted;
  return CompleteConnectionLocked(receiver, type);
}

ALLOCATOR_PROPERTIES ConverterOutputPin::AllocatorRequest(IMemInputPin& receiver) const {
  ALLOCATOR_PROPERTIES wanted = {};
  receiver.GetAllocatorRequirements(&wanted);  // a hint at most; most renderers have none
  // Two buffers: a paused renderer keeps one, the next frame is converted into the other.
  wanted.cBuffers = std::max<long>(wanted.cBuffers, 2);
  wanted.cbBuffer = std::max<long>(wanted.cbBuffer, long(connectionType.Get().lSampleSize));
  if (wanted.cbAlign <= 0) wanted.cbAlign = 1;
  if (wanted.cbPrefix < 0) wanted.cbPrefix = 0;
  return wanted;
}

bool ConverterOutputPin::Suffices(const ALLOCATOR_PROPERTIES& agreed) const {
  return agreed.cbBuffer >= long(connectionType.Get().lSampleSize);
}

HRESULT WINAPI ConverterOutputPin::QueryAccept(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  auto guard = filter.Hold();
  PictureShape unused;
  return filter.input.peer && OutputShapeOf(*type, filter.input.shape, unused) ? S_OK : S_FALSE;
}

std::vector<MediaType> ConverterOutputPin::EnumeratedTypesLocked() const {
  if (!filter.input.peer) return {};
  return OfferedTypes(filter.input.connectionType);
}

}  // namespace testdevices
