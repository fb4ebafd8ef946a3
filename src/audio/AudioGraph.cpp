// The DirectShow side of the audio object: find the device, build and connect the
// graph "Audio Source" -> "Data Capture" -> "Null Render", run and stop it, the
// device's mix level and the device and input lists.
//
// Every framework call whose result is tested must return exactly S_OK. A failed
// step of Open leaves what it made in the fields with `opened` false; the next
// Reset releases it.
#include <memory>
#include <optional>
#include <utility>

#include "audio/AudioCapture.h"
#include "common/CaptureRoute.h"
#include "common/DeviceEnumeration.h"
#include "common/GraphControl.h"
#include "common/MediaType.h"

namespace tesmo {

namespace {

// A device bound from its moniker, and the wave-in device it records from when its
// property bag says so.
struct AudioDevice {
  ComPtr<IBaseFilter> filter;
  std::optional<UINT> waveInId;
  std::string identity;
  bool listed = false;      // the category has a device at that position
  HRESULT bound = E_FAIL;   // BindToObject's answer
};

// The "WaveInID" the system's audio capture devices carry in their property bags.
std::optional<UINT> ReadWaveInId(IPropertyBag* bag) {
  VARIANT value;
  VariantInit(&value);
  std::optional<UINT> id;
  if (bag->Read(L"WaveInID", &value, nullptr) == S_OK &&
      VariantChangeType(&value, &value, 0, VT_I4) == S_OK && V_I4(&value) >= 0)
    id = static_cast<UINT>(V_I4(&value));
  VariantClear(&value);
  return id;
}

// The device at the given position of the audio input category; 0 or below is the
// first. Bound afresh on every call.
AudioDevice FindAudioDevice(int index) {
  AudioDevice device;
  ComPtr<IMoniker> moniker = MonikerAt(CLSID_AudioInputDeviceCategory, index);
  if (!moniker) return device;
  device.listed = true;
  device.identity = DeviceIdentityOf(moniker.Get());
  // A device without a property bag is not a usable device.
  ComPtr<IPropertyBag> bag;
  if (moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)) !=
          S_OK ||
      !bag)
    return device;
  device.bound = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                      reinterpret_cast<void**>(&device.filter));
  if (device.bound != S_OK) {
    device.filter.Reset();
    return device;
  }
  device.waveInId = ReadWaveInId(bag.Get());
  return device;
}

}  // namespace

void AudioCapture::Reset() {
  ScopedHostLock operation(delivery->OperationLock());
  deviceLoss.Stop();
  if (opened && graph) {
    ComPtr<IMediaControl> control;
    // Stopping ends the streaming thread's callbacks before the filters go.
    if (graph.As(control)) control->Stop();  // result deliberately ignored
  }
  graph.Reset();
  captureBuilder.Reset();
  sourceFilter.Reset();
  grabberFilter.Reset();
  nullRenderer.Reset();
  opened = false;
  waveInId.reset();
  delivery->ResetStore();
}

CaptureResult AudioCapture::Close() {
  // Refused inside OnData, as Open and Destroy are, on both objects alike: a host
  // written for one then behaves the same with the other.
  if (delivery->IsDeliveryThread())
    return failures.Refuse(kSlotClose, "Close was refused inside OnData: call it from another "
                                       "thread.");
  Reset();
  return kCaptureDone;
}

CaptureResult AudioCapture::Open(int deviceIndex) {
  if (delivery->IsDeliveryThread())
    return failures.Refuse(kSlotOpen, "Open was refused inside OnData: call it from another "
                                      "thread.");
  ScopedHostLock operation(delivery->OperationLock());
  Reset();
  figuresAtClose.Forget();
  if (!CallerInitialisedCom())
    return failures.Refuse(kSlotOpen, "Open was refused: this thread has not initialised COM; "
                                      "call CoInitializeEx on it first.");
  AudioDevice device = FindAudioDevice(deviceIndex);
  sourceFilter = std::move(device.filter);
  if (!sourceFilter) {
    if (!device.listed)
      failures.NoteStepCause(kCauseNoSuchDevice, 0,
                             "There is no audio device at index %d: ListDevices lists the "
                             "devices there are (plug one in, then list them again).",
                             deviceIndex);
    else if (device.bound == S_OK)
      failures.NoteStepCause(kCauseNoSuchDevice, 0,
                             "The audio device at index %d has no property bag: it is not set up "
                             "as a capture device; choose another.",
                             deviceIndex);
    else
      failures.NoteStep(FailureStep::Binding, device.bound, "audio device", "opening it", "Open");
    return failures.Fail(kSlotOpen, "The audio device could not be opened: Open it again.");
  }
  if (!BuildGraph() || !ApplyFormat() || !ConnectGraph())
    return failures.Fail(kSlotOpen, "The audio device could not be set up: Open it again.");
  opened = true;
  waveInId = device.waveInId;
  failures.Clear();
  WatchForDeviceLoss(deviceLoss, graph, *delivery, delivery->OpenStore(),
                     [this] { return CheckForSilence(); }, kDeviceAudio, device.identity);
  return kCaptureDone;
}

bool AudioCapture::BuildGraph() {
  return BuildCaptureGraph(graph, captureBuilder, grabberFilter, std::addressof(nullRenderer),
                           sourceFilter.Get(), L"Audio Source", "audio device", failures);
}

bool AudioCapture::ApplyFormat() {
  ComPtr<IAMStreamConfig> config;
  const HRESULT found =
      captureBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, sourceFilter.Get(),
                                    IID_IAMStreamConfig, reinterpret_cast<void**>(&config));
  if (found != S_OK) {
    failures.NoteStepCause(kCauseFormatRefused, found,
                           "The audio device's capture pin takes no format (no IAMStreamConfig, "
                           "0x%08lX): this device cannot be used.",
                           static_cast<unsigned long>(found) & 0xFFFFFFFFul);
    return false;
  }
  MediaType type;
  const HRESULT read = config->GetFormat(&type);
  if (read != S_OK || !type) {
    failures.NoteStep(FailureStep::Format, read == S_OK ? E_POINTER : read, "audio device",
                      "reading its format", "Open");
    return false;
  }
  // A device that does not speak in wave formats keeps its own.
  if (type->formattype != FORMAT_WaveFormatEx) return true;
  // Too small a format block cannot take the rewrite.
  if (!type->pbFormat || type->cbFormat < sizeof(WAVEFORMATEX)) {
    failures.NoteStepCause(kCauseFormatRefused, 0,
                           "The audio device's format block is too small for a wave format: "
                           "this device cannot be used.");
    return false;
  }

  const int blockAlign = channels * bitsPerSample / 8;
  auto* wave = reinterpret_cast<WAVEFORMATEX*>(type->pbFormat);
  wave->wFormatTag = WAVE_FORMAT_PCM;
  wave->nChannels = static_cast<WORD>(channels);
  wave->nSamplesPerSec = static_cast<DWORD>(samplesPerSec);
  wave->wBitsPerSample = static_cast<WORD>(bitsPerSample);
  wave->nBlockAlign = static_cast<WORD>(blockAlign);
  wave->nAvgBytesPerSec = static_cast<DWORD>(wave->nBlockAlign) * static_cast<DWORD>(samplesPerSec);
  wave->cbSize = 0;
  type->lSampleSize = static_cast<ULONG>(blockAlign);
  const HRESULT set = config->SetFormat(type.Get());
  if (set == S_OK) return true;
  if (CauseOfResult(FailureStep::Format, set) != kCauseFormatRefused) {
    failures.NoteStep(FailureStep::Format, set, "audio device", "setting its format", "Open");
    return false;
  }
  failures.NoteStepCause(kCauseFormatRefused, set,
                         "The audio device refused %d channels, %d samples a second, %d bits "
                         "(0x%08lX): choose another format with SetFormat, then Open again.",
                         channels, samplesPerSec, bitsPerSample,
                         static_cast<unsigned long>(set) & 0xFFFFFFFFul);
  return false;
}

bool AudioCapture::ConnectGraph() {
  if (!AttachGrabberCallback(grabberFilter, grabberCallback, this)) {
    failures.NoteStepCause(kCauseDeviceFailed, 0,
                           "The sample grabber would not take the library's callback: repair "
                           "the system's media components, then Open again.");
    return false;
  }
  // The suggestion goes to the capture pin before its first connection, so the connection
  // the builder makes takes it up and is kept as made: re-made, a connection the builder
  // routed through a Smart Tee leaves the tee's capture pin without an allocator, and
  // nothing reaches the grabber.
  ComPtr<IPin> capturePin =
      FindCapturePin(captureBuilder.Get(), sourceFilter.Get(), MEDIATYPE_Audio);
  SuggestBuffers(capturePin.Get());  // a device that takes no suggestion still captures
  const HRESULT rendered =
      captureBuilder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, sourceFilter.Get(),
                                   grabberFilter.Get(), nullRenderer.Get());
  if (rendered != S_OK) {
    failures.NoteStep(FailureStep::Connection, rendered, "audio device",
                      "connecting its stream to the library", "Open");
    return false;
  }
  if (!StreamReaches(capturePin.Get(), grabberFilter.Get())) {
    failures.NoteStepCause(kCauseCannotConnect, 0,
                           "The audio device's capture stream does not reach the library "
                           "(another pin of it was connected): this device cannot be used.");
    return false;
  }
  ReadAgreedBuffers(capturePin.Get());
  return true;
}

void AudioCapture::ReadAgreedBuffers(IPin* capturePin) {
  agreedBuffers = agreedBufferBytes = 0;
  ALLOCATOR_PROPERTIES properties{};
  // The pin's own report where it gives one; else the allocator of the pin it feeds,
  // which a source takes its buffers from.
  ComPtr<IAMBufferNegotiation> negotiation;
  bool known = capturePin->QueryInterface(IID_IAMBufferNegotiation,
                                          reinterpret_cast<void**>(&negotiation)) == S_OK &&
               negotiation->GetAllocatorProperties(&properties) == S_OK &&
               properties.cBuffers > 0;
  if (!known) {
    ComPtr<IPin> peer;
    ComPtr<IMemInputPin> input;
    ComPtr<IMemAllocator> allocator;
    known = capturePin->ConnectedTo(&peer) == S_OK && peer.As(input, IID_IMemInputPin) &&
            input->GetAllocator(&allocator) == S_OK && allocator &&
            allocator->GetProperties(&properties) == S_OK;
  }
  if (!known) return;
  agreedBuffers = properties.cBuffers;
  agreedBufferBytes = properties.cbBuffer;
}

bool AudioCapture::SuggestBuffers(IPin* capturePin) {
  ComPtr<IAMBufferNegotiation> negotiation;
  if (!capturePin || capturePin->QueryInterface(IID_IAMBufferNegotiation,
                                                reinterpret_cast<void**>(&negotiation)) != S_OK)
    return false;
  // Eight buffers of three delivery blocks each.
  ALLOCATOR_PROPERTIES properties;
  properties.cBuffers = 8;
  properties.cbBuffer = 3 * delivery->BlockBytes();
  properties.cbAlign = channels * bitsPerSample / 8;
  properties.cbPrefix = 0;
  return negotiation->SuggestAllocatorProperties(&properties) == S_OK;
}

CaptureResult AudioCapture::Start() {
  ScopedHostLock operation(delivery->OperationLock());
  if (!opened)
    return failures.Refuse(kSlotStart, "Start was refused: no audio device is open; Open one "
                                       "first.");
  startTick.store(TickCount(), std::memory_order_release);
  HRESULT result = S_OK;
  if (StartCapture(graph, *delivery, result)) return kCaptureDone;
  failures.NoteStep(FailureStep::Run, result, "audio device", "starting it", "Start");
  return failures.Fail(kSlotStart, "The audio device could not be started: Start it again.");
}

CaptureResult AudioCapture::Stop() {
  ScopedHostLock operation(delivery->OperationLock());
  if (!opened) return failures.Refuse(kSlotStop, "Stop was refused: no audio device is open.");
  if (StopCapture(graph, *delivery)) return kCaptureDone;
  return failures.Fail(kSlotStop, "Stop failed: the graph has no IMediaControl.");
}

CaptureResult AudioCapture::GetMixLevel(int* level) {
  ScopedHostLock operation(delivery->OperationLock());
  if (!opened) return failures.Refuse(kSlotGetMixLevel, "GetMixLevel: no audio device is open.");
  if (!level) return failures.Refuse(kSlotGetMixLevel, "GetMixLevel was refused: a null pointer.");
  ComPtr<IAMAudioInputMixer> mixer;
  double mixLevel = 0;
  if (!sourceFilter.As(mixer, IID_IAMAudioInputMixer))
    return failures.Refuse(kSlotGetMixLevel, "GetMixLevel: the audio device has no input mixer.");
  const HRESULT read = mixer->get_MixLevel(&mixLevel);
  if (read != S_OK) {
    failures.NoteStep(FailureStep::Other, read, "audio device", "reading its mix level",
                      "GetMixLevel");
    return failures.Fail(kSlotGetMixLevel, "GetMixLevel failed.");
  }
  *level = static_cast<int>(mixLevel * 100.0);
  return kCaptureDone;
}

CaptureResult AudioCapture::SetMixLevel(int level) {
  ScopedHostLock operation(delivery->OperationLock());
  if (!opened) return failures.Refuse(kSlotSetMixLevel, "SetMixLevel: no audio device is open.");
  ComPtr<IAMAudioInputMixer> mixer;
  if (!sourceFilter.As(mixer, IID_IAMAudioInputMixer))
    return failures.Refuse(kSlotSetMixLevel, "SetMixLevel: the audio device has no input mixer.");
  const HRESULT set = mixer->put_MixLevel(level * 0.01);
  if (set == S_OK) return kCaptureDone;
  failures.NoteStep(FailureStep::Other, set, "audio device", "setting its mix level",
                    "SetMixLevel");
  return failures.Fail(kSlotSetMixLevel, "SetMixLevel failed.");
}

CaptureResult AudioCapture::ListDevices(char* names, int* count) {
  const CaptureResult listed = ListDeviceNames(CLSID_AudioInputDeviceCategory, names, count);
  if (listed != kCaptureFailed) return listed;
  return failures.Refuse(kSlotListDevices,
                         "ListDevices was refused: a null pointer, or a fault while listing.");
}

CaptureResult AudioCapture::ListInputs(int deviceIndex, char* names, int* count) {
  if (!names || !count)
    return failures.Refuse(kSlotListInputs, "ListInputs was refused: a null pointer.");
  try {
    *count = 0;
    ComPtr<IBaseFilter> device = FindAudioDevice(deviceIndex).filter;
    if (!device) return kCaptureNo;
    ComPtr<IEnumPins> pins;
    if (device->EnumPins(&pins) != S_OK || !pins) return kCaptureNo;
    NameListWriter list(names);
    ComPtr<IPin> pin;
    while (pins->Next(1, &pin, nullptr) == S_OK && pin) {
      auto direction = static_cast<PIN_DIRECTION>(-1);
      pin->QueryDirection(&direction);  // result ignored, as when searching for a pin
      if (direction != PINDIR_INPUT) continue;
      PIN_INFO info;
      if (pin->QueryPinInfo(&info) != S_OK) continue;
      if (info.pFilter) info.pFilter->Release();
      info.achName[MAX_PIN_NAME - 1] = L'\0';
      list.Add(reinterpret_cast<const char16_t*>(info.achName));
    }
    *count = list.Count();
    return kCaptureYes;
  } catch (...) {
    return failures.Refuse(kSlotListInputs, "ListInputs failed: a fault while listing.");
  }
}

}  // namespace tesmo
