// The DirectShow side of the audio object: find the device, build and connect the
// graph "Audio Source" -> "Data Capture" -> "Null Render", run and stop it, the
// device's mix level and the device and input lists.
//
// Every framework call whose result is tested must return exactly S_OK. A failed
// step of Open leaves what it made in the fields with `opened` false; the next
// Reset releases it.
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
  // A device without a property bag is not a usable device.
  ComPtr<IPropertyBag> bag;
  if (moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag, reinterpret_cast<void**>(&bag)) !=
          S_OK ||
      !bag)
    return device;
  if (moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                            reinterpret_cast<void**>(&device.filter)) != S_OK) {
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
  if (delivery->IsDeliveryThread()) return kCaptureFailed;
  Reset();
  return kCaptureDone;
}

CaptureResult AudioCapture::Open(int deviceIndex) {
  if (delivery->IsDeliveryThread()) return kCaptureFailed;
  ScopedHostLock operation(delivery->OperationLock());
  Reset();
  if (!CallerInitialisedCom()) return kCaptureFailed;
  AudioDevice device = FindAudioDevice(deviceIndex);
  sourceFilter = std::move(device.filter);
  if (!sourceFilter) return kCaptureFailed;
  if (!BuildGraph() || !ApplyFormat() || !ConnectGraph()) return kCaptureFailed;
  opened = true;
  waveInId = device.waveInId;
  WatchForDeviceLoss(deviceLoss, graph, *delivery, delivery->OpenStore());
  return kCaptureDone;
}

bool AudioCapture::BuildGraph() {
  return CreateInProcess(CLSID_FilterGraph, graph) &&
         CreateInProcess(CLSID_CaptureGraphBuilder2, captureBuilder) &&
         captureBuilder->SetFiltergraph(graph.Get()) == S_OK &&
         CreateInProcess(CLSID_SampleGrabber, grabberFilter) &&
         graph->AddFilter(grabberFilter.Get(), L"Data Capture") == S_OK &&
         CreateInProcess(CLSID_NullRenderer, nullRenderer) &&
         graph->AddFilter(nullRenderer.Get(), L"Null Render") == S_OK &&
         graph->AddFilter(sourceFilter.Get(), L"Audio Source") == S_OK;
}

bool AudioCapture::ApplyFormat() {
  ComPtr<IAMStreamConfig> config;
  if (captureBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, sourceFilter.Get(),
                                    IID_IAMStreamConfig, reinterpret_cast<void**>(&config)) != S_OK)
    return false;
  MediaType type;
  if (config->GetFormat(&type) != S_OK || !type) return false;
  // A device that does not speak in wave formats keeps its own.
  if (type->formattype != FORMAT_WaveFormatEx) return true;
  // Too small a format block cannot take the rewrite.
  if (!type->pbFormat || type->cbFormat < sizeof(WAVEFORMATEX)) return false;

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
  return config->SetFormat(type.Get()) == S_OK;
}

bool AudioCapture::ConnectGraph() {
  if (!AttachGrabberCallback(grabberFilter, grabberCallback, this)) return false;
  // The suggestion goes to the capture pin before its first connection, so the connection
  // the builder makes takes it up and is kept as made: re-made, a connection the builder
  // routed through a Smart Tee leaves the tee's capture pin without an allocator, and
  // nothing reaches the grabber.
  ComPtr<IPin> capturePin =
      FindCapturePin(captureBuilder.Get(), sourceFilter.Get(), MEDIATYPE_Audio);
  SuggestBuffers(capturePin.Get());  // a device that takes no suggestion still captures
  if (captureBuilder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, sourceFilter.Get(),
                                   grabberFilter.Get(), nullRenderer.Get()) != S_OK)
    return false;
  if (!StreamReaches(capturePin.Get(), grabberFilter.Get())) return false;
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
  if (!opened) return kCaptureFailed;
  return StartCapture(graph, *delivery);
}

CaptureResult AudioCapture::Stop() {
  ScopedHostLock operation(delivery->OperationLock());
  if (!opened) return kCaptureFailed;
  return StopCapture(graph, *delivery);
}

CaptureResult AudioCapture::GetMixLevel(int* level) {
  ScopedHostLock operation(delivery->OperationLock());
  if (!opened || !level) return kCaptureFailed;
  ComPtr<IAMAudioInputMixer> mixer;
  double mixLevel = 0;
  if (!sourceFilter.As(mixer, IID_IAMAudioInputMixer) || mixer->get_MixLevel(&mixLevel) != S_OK)
    return kCaptureFailed;
  *level = static_cast<int>(mixLevel * 100.0);
  return kCaptureDone;
}

CaptureResult AudioCapture::SetMixLevel(int level) {
  ScopedHostLock operation(delivery->OperationLock());
  if (!opened) return kCaptureFailed;
  ComPtr<IAMAudioInputMixer> mixer;
  if (!sourceFilter.As(mixer, IID_IAMAudioInputMixer)) return kCaptureFailed;
  return mixer->put_MixLevel(level * 0.01) == S_OK ? kCaptureDone : kCaptureFailed;
}

CaptureResult AudioCapture::ListDevices(char* names, int* count) {
  return ListDeviceNames(CLSID_AudioInputDeviceCategory, names, count);
}

CaptureResult AudioCapture::ListInputs(int deviceIndex, char* names, int* count) {
  if (!names || !count) return kCaptureFailed;
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
    return kCaptureFailed;
  }
}

}  // namespace tesmo
