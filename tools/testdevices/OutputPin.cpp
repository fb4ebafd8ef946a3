#include "OutputPin.h"

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "JpegEncoder.h"
#include "JpegFrames.h"
#include "SampleContent.h"

namespace testdevices {
namespace {

constexpr REFERENCE_TIME kUnitsPerSecond = 10000000;

// The opaque-format microphone still has to size and pace its buffers somehow.
const WAVEFORMATEX kOpaqueStreamShape = {WAVE_FORMAT_PCM, 1, 11025, 22050, 2, 16, 0};

LONGLONG Now100ns() {
  static LARGE_INTEGER frequency = [] {
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return f;
  }();
  LARGE_INTEGER now;
  QueryPerformanceCounter(&now);
  return LONGLONG(now.QuadPart / frequency.QuadPart * kUnitsPerSecond +
                  now.QuadPart % frequency.QuadPart * kUnitsPerSecond / frequency.QuadPart);
}

}  // namespace

OutputPin::OutputPin(CaptureFilter& filter, const PinDescription& pinConfig)
    : Pin(filter, "OutputPin", pinConfig.name, PINDIR_OUTPUT),
      filter(filter),
      pinConfig(pinConfig),
      stopEvent(CreateEventW(nullptr, TRUE, FALSE, nullptr)),
      streamerEnded(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}

OutputPin::~OutputPin() {
  CloseHandle(stopEvent);
  CloseHandle(streamerEnded);
}

void* OutputPin::OtherInterface(REFIID iid) {
  if (iid == IID_IKsPropertySet && filter.Offers(true, "IKsPropertySet"))
    return static_cast<IKsPropertySet*>(this);
  if (iid == IID_IAMStreamConfig && filter.Offers(IsCapture(), "IAMStreamConfig"))
    return static_cast<IAMStreamConfig*>(this);
  if (iid == IID_IAMBufferNegotiation &&
      filter.Offers(IsCapture() && IsAudio(), "IAMBufferNegotiation"))
    return static_cast<IAMBufferNegotiation*>(this);
  return nullptr;
}

HRESULT OutputPin::ConnectLocked(IPin* receiver, const AM_MEDIA_TYPE* type) {
  // The current format first, then (a camera whose format nobody chose yet) every listed one.
  bool fits = false;
  for (const MediaType& offer : OfferedTypesLocked()) {
    if (type && !Matches(*type, offer.Get())) continue;
    fits = true;
    if (receiver->ReceiveConnection(this, &offer.Get()) != S_OK) continue;
    const HRESULT hr = CompleteConnectionLocked(receiver, offer);
    if (hr == S_OK && IsCapture()) {
      filter.SetCurrentFormatLocked(offer, false);
      DeviceRecords::Instance().Update(filter.Device(), [this](TestDeviceRecord& r) {
        r.negotiated = agreed;
        r.connections += 1;
      });
    }
    return hr;
  }
  return fits ? VFW_E_NO_ACCEPTABLE_TYPES : VFW_E_TYPE_NOT_ACCEPTED;
}

ALLOCATOR_PROPERTIES OutputPin::AllocatorRequest(IMemInputPin&) const {
  const MediaType& format = connectionType;
  ALLOCATOR_PROPERTIES wanted = {};
  if (IsAudio()) {
    const WAVEFORMATEX& wave = format.Wave() ? *format.Wave() : kOpaqueStreamShape;
    const long block = std::max<long>(wave.nBlockAlign, 1);
    wanted.cBuffers = 4;
    wanted.cbBuffer =
        std::max<long>(long(wave.nAvgBytesPerSec / 20) / block * block, block);  // 50 ms
  } else {
    wanted.cBuffers = 3;
    wanted.cbBuffer = std::max<long>(format.Bitmap() ? long(format.Bitmap()->biSizeImage) : 0,
                                     format.Get().lSampleSize);
    // A JPEG that says another size than the mode may be the larger one.
    const DeviceConfig& config = filter.Config();
    if (IsJpeg(format) && config.jpegWidth)
      wanted.cbBuffer = std::max<long>(
          wanted.cbBuffer, FrameBytes(PixelFormat::Rgb24, config.jpegWidth, config.jpegHeight));
  }
  wanted.cbAlign = 1;
  wanted.cbPrefix = 0;
  // A suggestion overrides every field it sets (a negative or zero value leaves the default).
  if (hasSuggestion) {
    if (suggestion.cBuffers > 0) wanted.cBuffers = suggestion.cBuffers;
    if (suggestion.cbBuffer > 0) wanted.cbBuffer = suggestion.cbBuffer;
    if (suggestion.cbAlign > 0) wanted.cbAlign = suggestion.cbAlign;
    if (suggestion.cbPrefix >= 0) wanted.cbPrefix = suggestion.cbPrefix;
  }
  return wanted;
}

HRESULT WINAPI OutputPin::QueryAccept(const AM_MEDIA_TYPE* type) {
  if (!type) return E_POINTER;
  auto guard = filter.Hold();
  for (const MediaType& offered : OfferedTypesLocked())
    if (Matches(*type, offered.Get())) return S_OK;
  return S_FALSE;
}

// Listed once each: the current format is also among a camera's listed ones.
std::vector<MediaType> OutputPin::EnumeratedTypesLocked() const {
  std::vector<MediaType> list = OfferedTypesLocked();
  if (list.size() > 1) list.erase(list.begin());
  return list;
}

std::vector<MediaType> OutputPin::OfferedTypesLocked() const {
  std::vector<MediaType> types = {filter.CurrentFormatLocked()};
  // As a USB camera's pin: every listed mode until a format is set, then only that one. A
  // ranged camera (formats=*) and the microphone offer their current format alone.
  if (IsAudio() || filter.Config().anyFormat || filter.FormatChosenLocked()) return types;
  for (MediaType& listed : filter.Capabilities().Types(types.front()))
    types.push_back(std::move(listed));
  return types;
}

HRESULT WINAPI OutputPin::Set(REFGUID, DWORD, LPVOID, DWORD, LPVOID, DWORD) {
  filter.NoteUnexpected("IKsPropertySet::Set");
  return E_PROP_ID_UNSUPPORTED;
}

HRESULT WINAPI OutputPin::Get(REFGUID set, DWORD id, LPVOID, DWORD, LPVOID data, DWORD size,
                              DWORD* returned) {
  if (const HRESULT fault = filter.Fault("IKsPropertySet::Get")) return fault;
  if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (returned) *returned = sizeof(GUID);
  if (!data) return returned ? S_OK : E_POINTER;
  if (size < sizeof(GUID)) return E_UNEXPECTED;
  *static_cast<GUID*>(data) = IsCapture() ? PIN_CATEGORY_CAPTURE : PIN_CATEGORY_PREVIEW;
  return S_OK;
}

HRESULT WINAPI OutputPin::QuerySupported(REFGUID set, DWORD id, DWORD* support) {
  if (set != AMPROPSETID_Pin) return E_PROP_SET_UNSUPPORTED;
  if (id != AMPROPERTY_PIN_CATEGORY) return E_PROP_ID_UNSUPPORTED;
  if (support) *support = KSPROPERTY_SUPPORT_GET;
  return S_OK;
}

HRESULT OutputPin::AcceptFormatLocked(const AM_MEDIA_TYPE& type, MediaType& current) {
  const DeviceConfig& config = filter.Config();
  MediaType proposed(type);
  // The record keeps the accepted type without its block, and the block as passed.
  AM_MEDIA_TYPE header = type;
  header.pbFormat = nullptr;
  header.pUnk = nullptr;
  if (IsAudio()) {
    const WAVEFORMATEX* wave = proposed.Wave();
    if (type.majortype != MEDIATYPE_Audio || !wave || wave->wFormatTag != WAVE_FORMAT_PCM)
      return VFW_E_INVALIDMEDIATYPE;
    const AudioFormatDescription asked{wave->nChannels, int(wave->nSamplesPerSec), wave->wBitsPerSample};
    const long block = long(asked.channels) * asked.bitsPerSample / 8;
    if (!config.Accepts(asked) || wave->nBlockAlign != block ||
        wave->nAvgBytesPerSec != DWORD(block) * wave->nSamplesPerSec)
      return VFW_E_INVALIDMEDIATYPE;
    WAVEFORMATEX passed = {};
    std::memcpy(&passed, type.pbFormat, std::min<size_t>(type.cbFormat, sizeof passed));
    DeviceRecords::Instance().Update(filter.Device(), [&](TestDeviceRecord& r) {
      r.lastWaveFormat = passed;
      r.lastFormatType = header;
    });
    current = proposed;
    return S_OK;
  }
  HRESULT hr = filter.Capabilities().Accept(type, current);
  if (hr != S_OK) return hr;
  VIDEOINFOHEADER passed = {};
  VIDEOINFOHEADER2 passed2 = {};
  if (const VIDEOINFOHEADER2* info2 = proposed.Video2()) {
    passed2 = *info2;
    // VIDEOINFOHEADER's fields before the picture header begin VIDEOINFOHEADER2 alike.
    std::memcpy(&passed, info2, offsetof(VIDEOINFOHEADER, bmiHeader));
    passed.bmiHeader = info2->bmiHeader;
  } else {
    passed = *proposed.Video();
  }
  DeviceRecords::Instance().Update(filter.Device(), [&](TestDeviceRecord& r) {
    r.lastVideoInfo = passed;
    r.lastVideoInfo2 = passed2;
    r.lastFormatType = header;
  });
  return S_OK;
}

HRESULT WINAPI OutputPin::SetFormat(AM_MEDIA_TYPE* type) {
  if (const HRESULT fault = filter.Fault("IAMStreamConfig::SetFormat")) return fault;
  if (!type) return E_POINTER;
  auto guard = filter.Hold();
  HRESULT hr;
  MediaType current;
  if (!filter.IsStoppedLocked())
    hr = VFW_E_NOT_STOPPED;
  else if (peer)
    hr = VFW_E_ALREADY_CONNECTED;  // a format change would need a reconnection
  else
    hr = AcceptFormatLocked(*type, current);
  if (hr == S_OK) filter.SetCurrentFormatLocked(current, true);
  DeviceRecords::Instance().Update(filter.Device(), [hr](TestDeviceRecord& r) {
    (hr == S_OK ? r.setFormatAccepted : r.setFormatRefused) += 1;
  });
  return hr;
}

HRESULT WINAPI OutputPin::GetFormat(AM_MEDIA_TYPE** type) {
  if (!type) return E_POINTER;
  *type = nullptr;
  if (const HRESULT fault = filter.Fault("IAMStreamConfig::GetFormat")) return fault;
  auto guard = filter.Hold();
  *type = filter.CurrentFormatLocked().NewTaskMemCopy();
  return *type ? S_OK : E_OUTOFMEMORY;
}

HRESULT WINAPI OutputPin::GetNumberOfCapabilities(int* count, int* size) {
  if (const HRESULT fault = filter.Fault("IAMStreamConfig::GetNumberOfCapabilities")) return fault;
  if (!count || !size) return E_POINTER;
  *count = IsAudio() ? 1 : filter.Capabilities().Count();
  *size = IsAudio() ? int(sizeof(AUDIO_STREAM_CONFIG_CAPS)) : int(sizeof(VIDEO_STREAM_CONFIG_CAPS));
  return S_OK;
}

// The microphone: one ranged capability, its current format. The camera: its list.
HRESULT WINAPI OutputPin::GetStreamCaps(int index, AM_MEDIA_TYPE** type, BYTE* caps) {
  if (const HRESULT fault = filter.Fault("IAMStreamConfig::GetStreamCaps")) return fault;
  if (!type || !caps) return E_POINTER;
  *type = nullptr;
  if (index < 0) return E_INVALIDARG;
  if (index >= (IsAudio() ? 1 : filter.Capabilities().Count())) return S_FALSE;
  auto guard = filter.Hold();
  MediaType current = filter.CurrentFormatLocked();
  if (IsAudio()) {
    AUDIO_STREAM_CONFIG_CAPS audio = {};
    audio.guid = MEDIATYPE_Audio;
    audio.MinimumChannels = 1;
    audio.MaximumChannels = 8;
    audio.ChannelsGranularity = 1;
    audio.MinimumBitsPerSample = 8;
    audio.MaximumBitsPerSample = 32;
    audio.BitsPerSampleGranularity = 8;
    audio.MinimumSampleFrequency = 1000;
    audio.MaximumSampleFrequency = 192000;
    audio.SampleFrequencyGranularity = 1;
    std::memcpy(caps, &audio, sizeof audio);
  } else {
    VIDEO_STREAM_CONFIG_CAPS video;
    MediaType listed;
    filter.Capabilities().Get(index, current, listed, video);
    std::memcpy(caps, &video, sizeof video);
    current = listed;
  }
  *type = current.NewTaskMemCopy();
  return *type ? S_OK : E_OUTOFMEMORY;
}

HRESULT WINAPI OutputPin::SuggestAllocatorProperties(const ALLOCATOR_PROPERTIES* properties) {
  if (const HRESULT fault = filter.Fault("IAMBufferNegotiation::SuggestAllocatorProperties")) return fault;
  if (!properties) return E_POINTER;
  auto guard = filter.Hold();
  const ALLOCATOR_PROPERTIES suggested = *properties;
  DeviceRecords::Instance().Update(filter.Device(), [suggested](TestDeviceRecord& r) {
    r.lastSuggestion = suggested;
    r.suggestionCount += 1;
  });
  // Taken into account at the next connection; a connected pin has already chosen.
  if (peer) return VFW_E_ALREADY_CONNECTED;
  suggestion = suggested;
  hasSuggestion = true;
  return S_OK;
}

HRESULT WINAPI OutputPin::GetAllocatorProperties(ALLOCATOR_PROPERTIES* properties) {
  if (const HRESULT fault = filter.Fault("IAMBufferNegotiation::GetAllocatorProperties")) return fault;
  if (!properties) return E_POINTER;
  auto guard = filter.Hold();
  if (peer)
    *properties = agreed;
  else if (hasSuggestion)
    *properties = suggestion;
  else
    return E_FAIL;
  return S_OK;
}

void OutputPin::Activate() {
  bytesSent = 0;
  samplesSent = 0;
  if (allocator) allocator->Commit();  // failure shows as GetBuffer failing: the thread then ends
}

void OutputPin::StartStreaming() {
  if (!peer || streamer.joinable()) return;
  ResetEvent(stopEvent);
  ResetEvent(streamerEnded);
  streamer = std::thread([this] {
    // As a driver's streaming thread: the JPEG encoder is a COM object.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    StreamLoop();
    if (SUCCEEDED(com)) CoUninitialize();
    SetEvent(streamerEnded);
  });
}

void OutputPin::StopStreaming() {
  SetEvent(stopEvent);
  if (!streamer.joinable()) return;
  // Decommit wakes a thread that waits in GetBuffer for a buffer held downstream.
  allocator->Decommit();
  JoinStreamer();
  allocator->Commit();
}

void OutputPin::Deactivate() {
  SetEvent(stopEvent);
  if (allocator) allocator->Decommit();
  JoinStreamer();
}

void OutputPin::JoinStreamer() {
  if (!streamer.joinable()) return;
  // A paused renderer downstream keeps a sample inside Receive until it runs or is
  // flushed, and Wine's graph may stop this filter before the renderer: flush the
  // sample out rather than wait for good.
  if (WaitForSingleObject(streamerEnded, 250) == WAIT_TIMEOUT && peer) {
    DeviceRecords::Instance().Update(filter.Device(),
                                     [](TestDeviceRecord& r) { r.stopFlushes += 1; });
    peer->BeginFlush();
    WaitForSingleObject(streamerEnded, INFINITE);
    peer->EndFlush();
  }
  streamer.join();
}

void OutputPin::StreamLoop() {
  MediaType format = connectionType;
  const bool audio = IsAudio();
  const WAVEFORMATEX wave = format.Wave() ? *format.Wave() : kOpaqueStreamShape;
  BITMAPINFOHEADER picture = {};
  if (!audio && format.Bitmap()) picture = *format.Bitmap();
  REFERENCE_TIME frameInterval = format.FrameInterval();
  if (frameInterval <= 0) frameInterval = kUnitsPerSecond / filter.Config().framesPerSecond;
  LONGLONG startedAt = Now100ns();
  uint64_t bytesAtStart = bytesSent, samplesAtStart = samplesSent;
  // One encoder for the run: creating the imaging factory per frame would cost frame rate.
  std::unique_ptr<JpegEncoder> encoder;
  if (!audio && IsJpeg(format)) encoder = std::make_unique<JpegEncoder>();

  for (;;) {
    if (filter.StreamEnds(IsCapture())) {
      // The device is gone until a new filter object; or, with silentfor, quiet that
      // long and then sending again at its pace, as a camera whose driver stalled.
      const DWORD quiet = DWORD(filter.Config().silentForMs);
      if (!quiet || !IsCapture() || WaitForSingleObject(stopEvent, quiet) == WAIT_OBJECT_0) break;
      filter.ResumeStream();
      startedAt = Now100ns();
      bytesAtStart = bytesSent, samplesAtStart = samplesSent;
      continue;
    }
    // When the next sample is due: audio when its buffer would have filled, video at the
    // frame's own time. Pacing is by the stream content, not by the loop, so it cannot drift.
    REFERENCE_TIME due;
    if (audio) {
      const long block = std::max<long>(wave.nBlockAlign, 1);
      const long bufferBytes = std::max<long>(agreed.cbBuffer / block * block, block);
      due = REFERENCE_TIME((bytesSent - bytesAtStart + uint64_t(bufferBytes)) * kUnitsPerSecond /
                           std::max<DWORD>(wave.nAvgBytesPerSec, 1));
    } else {
      due = REFERENCE_TIME(samplesSent - samplesAtStart) * frameInterval;
    }
    const LONGLONG wait = due - (Now100ns() - startedAt);
    if (WaitForSingleObject(stopEvent, wait > 0 ? DWORD(wait / 10000) : 0) == WAIT_OBJECT_0) break;

    ComPtr<IMediaSample> sample;
    if (allocator->GetBuffer(&sample, nullptr, nullptr, 0) != S_OK) break;  // decommitted: stopping
    HRESULT hr = audio ? DeliverAudio(sample.Get(), wave)
                       : DeliverVideo(sample.Get(), picture, frameInterval, format.Get().subtype,
                                      encoder.get());
    if (hr != S_OK) break;
  }
}

HRESULT OutputPin::DeliverAudio(IMediaSample* sample, const WAVEFORMATEX& wave) {
  const DeviceConfig& config = filter.Config();
  const long block = std::max<long>(wave.nBlockAlign, 1);
  long size = std::min<long>(agreed.cbBuffer, sample->GetSize()) / block * block;
  if (size <= 0) return E_FAIL;
  const bool wrongSize =
      config.wrongSizeAfter >= 0 && samplesSent >= uint64_t(config.wrongSizeAfter);
  if (wrongSize) size = std::max<long>(size / 2, 1);
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  if (config.toneHz > 0)
    FillTone(data, size, wave.nChannels, int(wave.nSamplesPerSec), wave.wBitsPerSample,
             config.toneHz, bytesSent / block);
  else
    FillByteSequence(data, size, bytesSent);
  const DWORD rate = std::max<DWORD>(wave.nAvgBytesPerSec, 1);
  const uint64_t after = bytesSent + uint64_t(size);
  Send(sample, size, wrongSize, REFERENCE_TIME(bytesSent * kUnitsPerSecond / rate),
       REFERENCE_TIME(after * kUnitsPerSecond / rate), LONGLONG(bytesSent / block),
       LONGLONG(after / block));
  return S_OK;
}

bool OutputPin::IsJpeg(const MediaType& format) {
  const VideoSubtype* known = FindVideoSubtype(format.Get().subtype);
  return known && known->jpeg;
}

long OutputPin::DrawJpegFrame(JpegEncoder& encoder, const BITMAPINFOHEADER& picture,
                              uint32_t frameNumber, BYTE* data, long capacity) {
  const DeviceConfig& config = filter.Config();
  const int width = config.jpegWidth ? config.jpegWidth : int(picture.biWidth);
  const int height = config.jpegWidth ? config.jpegHeight : std::abs(int(picture.biHeight));
  const long stride = RowBytes(PixelFormat::Rgb24, width);
  drawnPicture.resize(size_t(stride) * size_t(height));
  // Drawn top-down, as JPEG stores rows. The byte stamp lands on the corner pixels and, like
  // any exact byte, does not survive compression: the cells carry the number.
  FillVideoFrame(PixelFormat::Rgb24, width, -height, frameNumber, drawnPicture.data(),
                 long(drawnPicture.size()), 0, filter.PictureAdjustmentNow());
  if (encoder.Encode(drawnPicture.data(), width, height, stride, jpegFrame) != S_OK) return -1;
  size_t size = jpegFrame.size();
  auto every = [frameNumber](long period) {
    return period > 0 && frameNumber % uint64_t(period) == uint64_t(period - 1);
  };
  if (every(config.noHuffmanEvery)) size = RemoveHuffmanTables(jpegFrame.data(), size);
  if (every(config.corruptEvery) ||
      (config.corruptFrom >= 0 && frameNumber >= uint64_t(config.corruptFrom)))
    size = CorruptJpeg(jpegFrame.data(), size);
  if (every(config.noEndMarkerEvery)) size = DropEndMarker(jpegFrame.data(), size);
  // A frame larger than the buffer arrives cut, as from a camera whose size bound was wrong.
  size = std::min(size, size_t(capacity));
  std::memcpy(data, jpegFrame.data(), size);
  return long(size);
}

HRESULT OutputPin::DeliverVideo(IMediaSample* sample, const BITMAPINFOHEADER& picture,
                                REFERENCE_TIME interval, const GUID& subtype,
                                JpegEncoder* encoder) {
  const DeviceConfig& config = filter.Config();
  BYTE* data = nullptr;
  sample->GetPointer(&data);
  long frameSize = long(picture.biSizeImage);
  if (encoder)
    frameSize = DrawJpegFrame(*encoder, picture, uint32_t(samplesSent), data, sample->GetSize());
  if (frameSize <= 0 || sample->GetSize() < frameSize) return E_FAIL;
  const bool wrongSize =
      config.wrongSizeAfter >= 0 && samplesSent >= uint64_t(config.wrongSizeAfter);
  const long size = wrongSize ? frameSize / 2 : frameSize;
  if (!encoder)
    FillVideoFrame(FindVideoSubtype(subtype)->format, picture.biWidth, picture.biHeight,
                   uint32_t(samplesSent), data, size, 0, filter.PictureAdjustmentNow());
  const REFERENCE_TIME start = REFERENCE_TIME(samplesSent) * interval;
  Send(sample, size, wrongSize, start, start + interval, LONGLONG(samplesSent),
       LONGLONG(samplesSent) + 1);
  return S_OK;
}

void OutputPin::Send(IMediaSample* sample, long size, bool wrongSize, REFERENCE_TIME start,
                     REFERENCE_TIME end, LONGLONG mediaStart, LONGLONG mediaEnd) {
  sample->SetActualDataLength(size);
  sample->SetTime(&start, &end);
  sample->SetMediaTime(&mediaStart, &mediaEnd);
  sample->SetSyncPoint(TRUE);
  sample->SetDiscontinuity(samplesSent == 0);
  bytesSent += uint64_t(size);
  samplesSent += 1;
  HRESULT hr = peerInput->Receive(sample);
  if (!IsCapture()) return;
  filter.CountCaptureSample();
  // A refusal downstream (a stopping renderer) is not ours to end streaming on; Stop does that.
  if (hr == S_OK)
    DeviceRecords::Instance().NoteDelivered(filter.Device(), size, wrongSize);
  else
    DeviceRecords::Instance().Update(filter.Device(),
                                     [](TestDeviceRecord& r) { r.receiveFailures += 1; });
}

}  // namespace testdevices
