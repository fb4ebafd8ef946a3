#include "CaptureFilter.h"

#include "Registration.h"

#include <algorithm>
#include <climits>
#include <cwchar>

#include "Enumerators.h"
#include "InputPin.h"
#include "OutputPin.h"

namespace testdevices {
namespace {

std::string FilterLabel(const DeviceConfig& config, int device) {
  return "'" + (config.hasName ? ToUtf8(config.name) : std::string("(no name)")) + "' #" +
         std::to_string(device);
}

MediaType InitialFormat(const DeviceConfig& config) {
  if (config.kind == DeviceKind::Video) {
    // The description's frame rate, where the mode's range allows it.
    const auto& v = config.videoFormat;
    VideoFormatDescription mode;
    LONGLONG shortest = 0, longest = LLONG_MAX;
    if (config.FindVideoMode(v.subtype, v.width, v.height, mode))
      config.FrameIntervals(mode, shortest, longest);
    const LONGLONG interval =
        std::min(std::max<LONGLONG>(10000000LL / config.framesPerSecond, shortest), longest);
    // A camera that lists only VideoInfo2 types starts with one.
    return MakeVideoType(
        v.subtype, v.width, v.height, interval,
        config.capsLayout == CapsLayout::VideoInfo2 ? FORMAT_VideoInfo2 : FORMAT_VideoInfo);
  }
  if (config.opaqueAudioFormat) return MakeOpaqueAudioType();
  const auto& a = config.audioFormat;
  return MakePcmType(a.channels, a.samplesPerSec, a.bitsPerSample);
}

}  // namespace

CLSID DeviceClassId(int device) {
  // One class per device position, so a moniker's CLSID tells the factory which device it is.
  CLSID id = {0x7e57de00, 0x5e50, 0x4d3b, {0x9a, 0x1c, 0x54, 0x45, 0x53, 0x4d, 0x4f, 0x00}};
  id.Data4[7] = BYTE(device);
  return id;
}

HRESULT CaptureFilter::Create(int device, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  DeviceConfig config;
  if (!LoadDeviceConfig(device, config)) return E_FAIL;
  if (const HRESULT fault =
          FaultPlan::FaultForDevice(device, config.faults, "IClassFactory::CreateInstance"))
    return fault;
  auto* filter = new CaptureFilter(device, config);
  DeviceRecords::Instance().Update(device, [](TestDeviceRecord& r) { r.filtersCreated += 1; });
  filter->AddRef();
  HRESULT hr = filter->QueryInterface(iid, out);
  filter->Release();
  return hr;
}

CaptureFilter::CaptureFilter(int device, const DeviceConfig& config)
    : LiveObject("CaptureFilter", FilterLabel(config, device)),
      device(device),
      config(config),
      capabilities(this->config),
      faults(device, config.faults),
      pictureControls(device, this->config),
      procAmp(*this, faults, pictureControls),
      cameraControl(*this, faults, pictureControls),
      currentFormat(InitialFormat(config)),
      tvFormat(config.tvFormat) {
  for (const auto& pinConfig : config.pins) {
    if (pinConfig.kind == PinDescription::Input) {
      inputs.push_back(std::make_unique<InputPin>(*this, pinConfig));
      pinOrder.push_back(inputs.back().get());
    } else {
      outputs.push_back(std::make_unique<OutputPin>(*this, pinConfig));
      pinOrder.push_back(outputs.back().get());
    }
  }
}

CaptureFilter::~CaptureFilter() {
  // The graph stops its filters before it lets them go; this covers a client that did not.
  std::lock_guard<std::mutex> guard(lock);
  for (auto& pin : outputs) pin->Deactivate();
  GiveDeviceBackLocked();
}

HRESULT CaptureFilter::TakeDeviceLocked() {
  if (!config.exclusive || deviceHold) return S_OK;
  // One semaphore per device, named after its kind and name, so every process of the
  // Wine prefix (or Windows session) sees the same one.
  std::wstring name = L"TesmoTestDeviceStreaming-";
  name += config.kind == DeviceKind::Audio ? L"audio-" : L"video-";
  for (wchar_t c : config.name) name += iswalnum(c) ? c : L'_';
  HANDLE hold = CreateSemaphoreW(nullptr, 1, 1, name.c_str());
  if (!hold) return E_FAIL;
  if (WaitForSingleObject(hold, 0) != WAIT_OBJECT_0) {
    CloseHandle(hold);
    // What a webcam held by another application answers.
    return HRESULT_FROM_WIN32(ERROR_NO_SYSTEM_RESOURCES);
  }
  deviceHold = hold;
  return S_OK;
}

void CaptureFilter::GiveDeviceBackLocked() {
  if (!deviceHold) return;
  ReleaseSemaphore(deviceHold, 1, nullptr);
  CloseHandle(deviceHold);
  deviceHold = nullptr;
}

bool CaptureFilter::Offers(bool offered, const char* name) {
  return offered && !faults.Fails((std::string("QueryInterface(") + name + ")").c_str());
}

void CaptureFilter::NoteUnexpected(const char* call) {
  DeviceRecords::Instance().NoteUnexpected(label + ": " + call);
}

int CaptureFilter::InputIndexOf(const InputPin* pin) const {
  for (size_t i = 0; i < inputs.size(); ++i)
    if (inputs[i].get() == pin) return int(i);
  return -1;
}

HRESULT WINAPI CaptureFilter::QueryInterface(REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  const bool audio = config.kind == DeviceKind::Audio;
  if (iid == IID_IUnknown)
    *out = static_cast<IBaseFilter*>(this);
  else if (iid == IID_IPersist && Offers(true, "IPersist"))
    *out = static_cast<IPersist*>(this);
  else if (iid == IID_IMediaFilter && Offers(true, "IMediaFilter"))
    *out = static_cast<IMediaFilter*>(this);
  else if (iid == IID_IBaseFilter && Offers(true, "IBaseFilter"))
    *out = static_cast<IBaseFilter*>(this);
  else if (iid == IID_IAMAudioInputMixer &&
           Offers(audio && config.filterMixer, "IAMAudioInputMixer"))
    *out = static_cast<IAMAudioInputMixer*>(this);
  else if (iid == IID_IAMAnalogVideoDecoder &&
           Offers(config.analogDecoder, "IAMAnalogVideoDecoder"))
    *out = static_cast<IAMAnalogVideoDecoder*>(this);
  else if (iid == IID_IAMVideoProcAmp &&
           Offers(!audio && config.hasControls, "IAMVideoProcAmp"))
    *out = static_cast<IAMVideoProcAmp*>(&procAmp);
  else if (iid == IID_IAMCameraControl &&
           Offers(!audio && config.hasControls, "IAMCameraControl"))
    *out = static_cast<IAMCameraControl*>(&cameraControl);
  else if (iid == IID_ISpecifyPropertyPages &&
           Offers(config.propertyPages, "ISpecifyPropertyPages"))
    *out = static_cast<ISpecifyPropertyPages*>(this);
  else
    return E_NOINTERFACE;
  AddRef();
  return S_OK;
}

ULONG WINAPI CaptureFilter::AddRef() { return ULONG(++refs); }

ULONG WINAPI CaptureFilter::Release() {
  long count = --refs;
  if (count == 0) delete this;
  return ULONG(count);
}

HRESULT WINAPI CaptureFilter::GetClassID(CLSID* id) {
  if (!id) return E_POINTER;
  *id = DeviceClassId(device);
  return S_OK;
}

HRESULT WINAPI CaptureFilter::Stop() {
  if (const HRESULT fault = Fault("IMediaFilter::Stop")) return fault;
  std::lock_guard<std::mutex> guard(lock);
  if (state != State_Stopped)
    for (auto& pin : outputs) pin->Deactivate();
  state = State_Stopped;
  GiveDeviceBackLocked();
  return S_OK;
}

HRESULT WINAPI CaptureFilter::Pause() {
  if (const HRESULT fault = Fault("IMediaFilter::Pause")) return fault;
  std::lock_guard<std::mutex> guard(lock);
  if (const HRESULT taken = TakeDeviceLocked()) return taken;
  if (state == State_Stopped)
    for (auto& pin : outputs) pin->Activate();
  else if (state == State_Running)
    for (auto& pin : outputs) pin->StopStreaming();
  state = State_Paused;
  return S_OK;
}

HRESULT WINAPI CaptureFilter::Run(REFERENCE_TIME) {
  if (const HRESULT fault = Fault("IMediaFilter::Run")) return fault;
  std::lock_guard<std::mutex> guard(lock);
  DeviceRecords::Instance().Update(device, [](TestDeviceRecord& r) { r.runCount += 1; });
  if (state == State_Running) return S_OK;
  if (const HRESULT taken = TakeDeviceLocked()) return taken;
  if (state == State_Stopped)
    for (auto& pin : outputs) pin->Activate();
  for (auto& pin : outputs) pin->StartStreaming();
  state = State_Running;
  return S_OK;
}

HRESULT WINAPI CaptureFilter::GetState(DWORD, FILTER_STATE* current) {
  if (!current) return E_POINTER;
  std::lock_guard<std::mutex> guard(lock);
  *current = state;
  // A live source has nothing to cue: without this the graph waits for a sample in Pause.
  return state == State_Paused ? VFW_S_CANT_CUE : S_OK;
}

HRESULT WINAPI CaptureFilter::SetSyncSource(IReferenceClock* newClock) {
  std::lock_guard<std::mutex> guard(lock);
  clock = ComPtr<IReferenceClock>(newClock);
  return S_OK;
}

HRESULT WINAPI CaptureFilter::GetSyncSource(IReferenceClock** current) {
  if (!current) return E_POINTER;
  std::lock_guard<std::mutex> guard(lock);
  *current = ComPtr<IReferenceClock>(clock).Detach();
  return S_OK;
}

HRESULT WINAPI CaptureFilter::EnumPins(IEnumPins** pins) {
  if (!pins) return E_POINTER;
  *pins = nullptr;
  if (const HRESULT fault = Fault("IBaseFilter::EnumPins")) return fault;
  auto* enumerator =
      new PinEnumerator("of " + label, this, pinOrder, [this] { return Fails("IEnumPins::Next"); });
  enumerator->AddRef();
  *pins = enumerator;
  return S_OK;
}

HRESULT WINAPI CaptureFilter::FindPin(LPCWSTR id, IPin** pin) {
  if (!id || !pin) return E_POINTER;
  *pin = nullptr;
  for (size_t i = 0; i < pinOrder.size(); ++i) {
    const auto& pinConfig = config.pins[i];
    if (pinConfig.name == id) {
      *pin = pinOrder[i];
      (*pin)->AddRef();
      return S_OK;
    }
  }
  return VFW_E_NOT_FOUND;
}

HRESULT WINAPI CaptureFilter::QueryFilterInfo(FILTER_INFO* info) {
  if (!info) return E_POINTER;
  std::lock_guard<std::mutex> guard(lock);
  wcsncpy(info->achName, graphName.c_str(), MAX_FILTER_NAME - 1);
  info->achName[MAX_FILTER_NAME - 1] = 0;
  info->pGraph = graph;
  if (graph) graph->AddRef();
  return S_OK;
}

HRESULT WINAPI CaptureFilter::JoinFilterGraph(IFilterGraph* newGraph, LPCWSTR name) {
  std::lock_guard<std::mutex> guard(lock);
  graph = newGraph;
  graphName = name ? name : L"";
  ComPtr<IMediaEventSink> sink;
  if (newGraph) newGraph->QueryInterface(IID_IMediaEventSink, reinterpret_cast<void**>(&sink));
  eventSink = sink.Get();  // uncounted, as `graph` is: the graph holds its member filters
  return S_OK;
}

bool CaptureFilter::Unplugged() {
  if (unplugged) return true;
  const DWORD now = GetTickCount();
  if (now - unplugCheckedAt < kUnplugCheckMs) return false;
  unplugCheckedAt = now;
  // The path it was registered with when this filter object was made from it; a device
  // without one cannot be told from another and is never unplugged.
  const bool video = config.kind == DeviceKind::Video;
  std::call_once(pathRead, [&] { devicePath = RegisteredDevicePath(device, video); });
  unplugged = !devicePath.empty() && !IsDevicePathRegistered(devicePath, video);
  return unplugged;
}

bool CaptureFilter::StreamEnds(bool capturePin) {
  if (gone) return true;
  if (capturePin && Unplugged()) {
    gone = true;  // a device pulled out sends nothing more, and no event
    return true;
  }
  if (!capturePin || config.streamEndAfter < 0 || captureSamples < config.streamEndAfter)
    return false;
  if (gone.exchange(true)) return true;
  if (config.streamEndEvent == 0) return true;  // gone without a word
  // As a driver's filter reports a removed device: EC_DEVICE_LOST with the filter's IUnknown
  // and 0 (removed); the error events carry an HRESULT.
  LONG_PTR param1 = LONG_PTR(HRESULT_FROM_WIN32(ERROR_DEVICE_NOT_CONNECTED));
  if (config.streamEndEvent == EC_DEVICE_LOST)
    param1 = reinterpret_cast<LONG_PTR>(static_cast<IUnknown*>(static_cast<IBaseFilter*>(this)));
  IMediaEventSink* sink = eventSink;
  const HRESULT hr = sink ? sink->Notify(config.streamEndEvent, param1, 0) : E_NOINTERFACE;
  const long code = config.streamEndEvent;
  DeviceRecords::Instance().Update(device, [code, hr](TestDeviceRecord& r) {
    r.streamEndEvents += 1;
    r.lastStreamEndEvent = code;
    r.lastStreamEndNotify = hr;
  });
  return true;
}

HRESULT WINAPI CaptureFilter::QueryVendorInfo(LPWSTR* info) {
  if (info) *info = nullptr;
  return E_NOTIMPL;
}

bool CaptureFilter::MixerCallFails(const char* method) {
  return Fails((std::string("IAMAudioInputMixer::") + method).c_str());
}

// The level belongs to the device, not to one filter object: it survives Close and Open.
double CaptureFilter::ReadMixLevel() {
  TestDeviceRecord record;
  DeviceRecords::Instance().Read(device, record);
  return record.mixLevelWritten ? record.mixLevel : config.mixLevel;
}

void CaptureFilter::WriteMixLevel(double level) {
  DeviceRecords::Instance().Update(device, [level](TestDeviceRecord& r) {
    r.mixLevel = level;
    r.mixLevelWritten = 1;
    r.putMixLevelCalls += 1;
  });
}

HRESULT WINAPI CaptureFilter::get_AvailableTVFormats(LONG* formats) {
  if (const HRESULT fault = Fault("IAMAnalogVideoDecoder::get_AvailableTVFormats")) return fault;
  if (!formats) return E_POINTER;
  *formats = config.tvFormats;
  return S_OK;
}

HRESULT WINAPI CaptureFilter::put_TVFormat(LONG format) {
  if (const HRESULT fault = Fault("IAMAnalogVideoDecoder::put_TVFormat")) return fault;
  if (!(format & config.tvFormats)) return E_INVALIDARG;
  std::lock_guard<std::mutex> guard(lock);
  tvFormat = format;
  DeviceRecords::Instance().Update(device, [format](TestDeviceRecord& r) {
    r.tvFormat = format;
    r.putTvFormatCalls += 1;
  });
  return S_OK;
}

HRESULT WINAPI CaptureFilter::get_TVFormat(LONG* format) {
  if (const HRESULT fault = Fault("IAMAnalogVideoDecoder::get_TVFormat")) return fault;
  if (!format) return E_POINTER;
  std::lock_guard<std::mutex> guard(lock);
  *format = tvFormat;
  return S_OK;
}

HRESULT WINAPI CaptureFilter::get_HorizontalLocked(LONG* locked) {
  if (!locked) return E_POINTER;
  *locked = 1;
  return S_OK;
}

HRESULT WINAPI CaptureFilter::put_VCRHorizontalLocking(LONG) { return S_OK; }

HRESULT WINAPI CaptureFilter::get_VCRHorizontalLocking(LONG* locking) {
  if (!locking) return E_POINTER;
  *locking = 0;
  return S_OK;
}

HRESULT WINAPI CaptureFilter::get_NumberOfLines(LONG* lines) {
  if (!lines) return E_POINTER;
  *lines = (tvFormat & AnalogVideoMask_MCE_NTSC) ? 525 : 625;
  return S_OK;
}

HRESULT WINAPI CaptureFilter::put_OutputEnable(LONG) { return S_OK; }

HRESULT WINAPI CaptureFilter::get_OutputEnable(LONG* enable) {
  if (!enable) return E_POINTER;
  *enable = 1;
  return S_OK;
}

HRESULT WINAPI CaptureFilter::GetPages(CAUUID* pages) {
  if (const HRESULT fault = Fault("ISpecifyPropertyPages::GetPages")) return fault;
  if (!pages) return E_POINTER;
  // No page of our own: an empty list is a valid answer and keeps the frame trivial.
  pages->cElems = 0;
  pages->pElems = nullptr;
  return S_OK;
}

}  // namespace testdevices
