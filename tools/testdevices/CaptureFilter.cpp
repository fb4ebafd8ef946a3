#include "CaptureFilter.h"

#include "Registration.h"

#include <algorithm>
#include <climits>
#include <cwchar>

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
  DeviceRecords::Instance().Update(device, [](TestDeviceRecord& r) { r.filtersCreated += 1; });
  return HandOutNew(new CaptureFilter(device, config), iid, out);
}

CaptureFilter::CaptureFilter(int device, const DeviceConfig& config)
    : Filter("CaptureFilter", FilterLabel(config, device), DeviceClassId(device), true),
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
      pins.push_back(inputs.back().get());
    } else {
      outputs.push_back(std::make_unique<OutputPin>(*this, pinConfig));
      pins.push_back(outputs.back().get());
    }
  }
}

CaptureFilter::~CaptureFilter() {
  // The graph stops its filters before it lets them go; this covers a client that did not.
  auto guard = Hold();
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

int CaptureFilter::InputIndexOf(const InputPin* pin) const {
  for (size_t i = 0; i < inputs.size(); ++i)
    if (inputs[i].get() == pin) return int(i);
  return -1;
}

void* CaptureFilter::OtherInterface(REFIID iid) {
  const bool audio = config.kind == DeviceKind::Audio;
  if (iid == IID_IAMAudioInputMixer && Offers(audio && config.filterMixer, "IAMAudioInputMixer"))
    return static_cast<IAMAudioInputMixer*>(this);
  if (iid == IID_IAMAnalogVideoDecoder && Offers(config.analogDecoder, "IAMAnalogVideoDecoder"))
    return static_cast<IAMAnalogVideoDecoder*>(this);
  if (iid == IID_IAMVideoProcAmp && Offers(!audio && config.hasControls, "IAMVideoProcAmp"))
    return static_cast<IAMVideoProcAmp*>(&procAmp);
  if (iid == IID_IAMCameraControl && Offers(!audio && config.hasControls, "IAMCameraControl"))
    return static_cast<IAMCameraControl*>(&cameraControl);
  if (iid == IID_ISpecifyPropertyPages && Offers(config.propertyPages, "ISpecifyPropertyPages"))
    return static_cast<ISpecifyPropertyPages*>(this);
  return nullptr;
}

HRESULT CaptureFilter::OnStateChange(FILTER_STATE from, FILTER_STATE to) {
  if (to == State_Stopped) {
    if (from != State_Stopped)
      for (auto& pin : outputs) pin->Deactivate();
    GiveDeviceBackLocked();
    return S_OK;
  }
  if (to == State_Running) {
    DeviceRecords::Instance().Update(device, [](TestDeviceRecord& r) { r.runCount += 1; });
    if (from == State_Running) return S_OK;
  }
  if (const HRESULT taken = TakeDeviceLocked()) return taken;
  if (from == State_Stopped)
    for (auto& pin : outputs) pin->Activate();
  if (to == State_Running)
    for (auto& pin : outputs) pin->StartStreaming();
  else if (from == State_Running)
    for (auto& pin : outputs) pin->StopStreaming();
  return S_OK;
}

bool CaptureFilter::Unplugged() {
  if (unplugged) return true;
  const DWORD now = GetTickCount();
  if (now - unplugCheckedAt < kUnplugCheckMs) return false;
  unplugCheckedAt = now;
  // The path it was registered with when this filter object was made from it; a device
  // without one cannot be told from another and is never unplugged.
  std::call_once(pathRead, [&] { devicePath = RegisteredDevicePath(device, config.kind); });
  unplugged = !devicePath.empty() && !IsDevicePathRegistered(devicePath, config.kind);
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
  return WriteOut(formats, config.tvFormats);
}

HRESULT WINAPI CaptureFilter::put_TVFormat(LONG format) {
  if (const HRESULT fault = Fault("IAMAnalogVideoDecoder::put_TVFormat")) return fault;
  if (!(format & config.tvFormats)) return E_INVALIDARG;
  auto guard = Hold();
  tvFormat = format;
  DeviceRecords::Instance().Update(device, [format](TestDeviceRecord& r) {
    r.tvFormat = format;
    r.putTvFormatCalls += 1;
  });
  return S_OK;
}

HRESULT WINAPI CaptureFilter::get_TVFormat(LONG* format) {
  if (const HRESULT fault = Fault("IAMAnalogVideoDecoder::get_TVFormat")) return fault;
  auto guard = Hold();
  return WriteOut(format, tvFormat);
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
