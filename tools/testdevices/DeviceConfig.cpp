#include "DeviceConfig.h"

#include <dshow.h>
#include <cstdlib>
#include <cwchar>
#include <cwctype>

#include "MediaType.h"
#include "TestDeviceControl.h"

namespace testdevices {
namespace {

const wchar_t kConfigKey[] = L"Software\\Tesmo\\TestDevices";

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator) {
  std::vector<std::wstring> parts;
  size_t start = 0;
  while (start <= text.size()) {
    size_t end = text.find(separator, start);
    if (end == std::wstring::npos) end = text.size();
    parts.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  return parts;
}

std::wstring Trim(const std::wstring& text) {
  size_t begin = 0, end = text.size();
  while (begin < end && std::iswspace(text[begin])) ++begin;
  while (end > begin && std::iswspace(text[end - 1])) --end;
  return text.substr(begin, end - begin);
}

bool ParseInt(const std::wstring& text, long& value) {
  if (text.empty()) return false;
  wchar_t* end = nullptr;
  value = std::wcstol(text.c_str(), &end, 0);
  return end && *end == 0;
}

bool ParseFlag(const std::wstring& text, bool& value) {
  long number = 0;
  if (!ParseInt(text, number)) return false;
  value = number != 0;
  return true;
}

// "2/44100/16"
bool ParseAudioFormat(const std::wstring& text, AudioFormatDescription& format) {
  auto parts = Split(text, L'/');
  long channels, rate, bits;
  if (parts.size() != 3 || !ParseInt(parts[0], channels) || !ParseInt(parts[1], rate) ||
      !ParseInt(parts[2], bits))
    return false;
  format = {int(channels), int(rate), int(bits)};
  return channels > 0 && rate > 0 && (bits == 8 || bits == 16 || bits == 24 || bits == 32);
}

// A picture the subtype can have: up to 8192x8192 (so a bad request cannot make the camera
// allocate gigabytes); YUV is top-down by definition and shares chroma between pixel pairs.
bool PictureFits(const VideoSubtype& subtype, long width, long height) {
  if (width <= 0 || height == 0 || width > 8192 || std::labs(height) > 8192) return false;
  if (subtype.jpeg) return height > 0;  // a JPEG picture is top-down by definition
  return IsRgb(subtype.format) ||
         (height > 0 && width % 2 == 0 && (!IsPlanar(subtype.format) || height % 2 == 0));
}

// "5-30": frames per second, 1..1000.
bool ParseFpsRange(const std::wstring& text, int& minFps, int& maxFps) {
  auto parts = Split(text, L'-');
  long low, high;
  if (parts.size() != 2 || !ParseInt(parts[0], low) || !ParseInt(parts[1], high) || low < 1 ||
      high < low || high > 1000)
    return false;
  minFps = int(low);
  maxFps = int(high);
  return true;
}

// "I420" (any size), "I420:640x480", "RGB24:320x-240" (top-down), with "@5-15" (its own
// frame rates) after either.
bool ParseVideoFormat(const std::wstring& text, VideoFormatDescription& format, bool sizeRequired) {
  format = VideoFormatDescription();
  std::wstring mode = Trim(text);
  const size_t at = mode.find(L'@');
  if (at != std::wstring::npos) {
    if (!ParseFpsRange(mode.substr(at + 1), format.minFps, format.maxFps)) return false;
    mode = mode.substr(0, at);
  }
  auto parts = Split(mode, L':');
  const VideoSubtype* known = parts.empty() ? nullptr : FindVideoSubtype(parts[0].c_str());
  if (!known || parts.size() > 2) return false;
  format.subtype = known->subtype;
  if (parts.size() == 1) return !sizeRequired;
  auto size = Split(parts[1], L'x');
  long width, height;
  if (size.size() != 2 || !ParseInt(size[0], width) || !ParseInt(size[1], height) ||
      !PictureFits(*known, width, height))
    return false;
  format.width = int(width);
  format.height = int(height);
  return true;
}

bool ParsePins(const std::wstring& text, std::vector<PinDescription>& pins) {
  pins.clear();
  if (Trim(text).empty()) return true;
  for (const auto& item : Split(text, L',')) {
    std::wstring pin = Trim(item);
    if (pin == L"capture")
      pins.push_back({PinDescription::Capture, L"Capture"});
    else if (pin == L"preview")
      pins.push_back({PinDescription::Preview, L"Preview"});
    // An output pin with a name of its own, e.g. one that looks like an input's.
    else if (pin.compare(0, 8, L"capture:") == 0 && pin.size() > 8)
      pins.push_back({PinDescription::Capture, pin.substr(8)});
    else if (pin.compare(0, 8, L"preview:") == 0 && pin.size() > 8)
      pins.push_back({PinDescription::Preview, pin.substr(8)});
    else if (pin.compare(0, 3, L"in:") == 0 && pin.size() > 3)
      pins.push_back({PinDescription::Input, pin.substr(3)});
    else
      return false;
  }
  return true;
}

bool ParseFaults(const std::wstring& text, std::vector<FaultDescription>& faults) {
  for (const auto& item : Split(text, L',')) {
    std::wstring entry = Trim(item);
    if (entry.empty()) continue;
    FaultDescription fault;
    // "Name@k/0x800705AA": the result the faulted call answers, E_FAIL unless given.
    const size_t slash = entry.find(L'/');
    if (slash != std::wstring::npos) {
      const std::wstring code = Trim(entry.substr(slash + 1));
      wchar_t* end = nullptr;
      const unsigned long value = std::wcstoul(code.c_str(), &end, 0);
      if (code.empty() || !end || *end || value == 0) return false;
      fault.result = HRESULT(value);
      entry = entry.substr(0, slash);
    }
    size_t at = entry.rfind(L'@');
    if (at != std::wstring::npos) {
      long k = 0;
      if (!ParseInt(entry.substr(at + 1), k) || k <= 0) return false;
      fault.onCall = int(k);
      entry = entry.substr(0, at);
    }
    fault.call = ToUtf8(entry);
    faults.push_back(fault);
  }
  return true;
}

// "brightness:-64:64:1:0" or "exposure:-13:-1:1:-6:auto+manual": name, minimum, maximum,
// step, default and the modes (manual unless given).
bool ParseControl(const std::wstring& text, ControlDescription& control) {
  static const struct {
    const wchar_t* name;
    bool camera;
    long property;
  } kNames[] = {{L"brightness", false, VideoProcAmp_Brightness},
                {L"contrast", false, VideoProcAmp_Contrast},
                {L"hue", false, VideoProcAmp_Hue},
                {L"saturation", false, VideoProcAmp_Saturation},
                {L"sharpness", false, VideoProcAmp_Sharpness},
                {L"gamma", false, VideoProcAmp_Gamma},
                {L"colorenable", false, VideoProcAmp_ColorEnable},
                {L"whitebalance", false, VideoProcAmp_WhiteBalance},
                {L"backlightcompensation", false, VideoProcAmp_BacklightCompensation},
                {L"gain", false, VideoProcAmp_Gain},
                {L"pan", true, CameraControl_Pan},
                {L"tilt", true, CameraControl_Tilt},
                {L"roll", true, CameraControl_Roll},
                {L"zoom", true, CameraControl_Zoom},
                {L"exposure", true, CameraControl_Exposure},
                {L"iris", true, CameraControl_Iris},
                {L"focus", true, CameraControl_Focus}};
  auto parts = Split(Trim(text), L':');
  if (parts.size() != 5 && parts.size() != 6) return false;
  bool known = false;
  for (const auto& name : kNames)
    if (parts[0] == name.name) {
      control.camera = name.camera;
      control.property = name.property;
      known = true;
    }
  long values[4];
  for (int i = 0; i < 4; ++i)
    if (!ParseInt(parts[size_t(i) + 1], values[i])) return false;
  control.minimum = values[0];
  control.maximum = values[1];
  control.step = values[2];
  control.defaultValue = values[3];
  control.flags = 2;
  if (parts.size() == 6) {
    if (parts[5] == L"auto")
      control.flags = 1;
    else if (parts[5] == L"auto+manual")
      control.flags = 3;
    else if (parts[5] != L"manual")
      return false;
  }
  return known && control.minimum <= control.defaultValue &&
         control.defaultValue <= control.maximum && control.step >= 1;
}

bool ParseControls(const std::wstring& text, std::vector<ControlDescription>& controls) {
  controls.clear();
  for (const auto& item : Split(text, L',')) {
    if (Trim(item).empty()) continue;
    ControlDescription control;
    if (!ParseControl(item, control)) return false;
    for (const auto& earlier : controls)
      if (earlier.camera == control.camera && earlier.property == control.property) return false;
    controls.push_back(control);
  }
  return true;
}

// topdown=1 turns the RGB modes upside down; a camera with a list starts in a listed mode.
bool FinishVideoModes(DeviceConfig& config, bool topDown, bool currentSeen, std::wstring& error) {
  auto flip = [](VideoFormatDescription& mode) {
    const VideoSubtype* known = FindVideoSubtype(mode.subtype);
    if (known && IsRgb(known->format) && !known->jpeg && mode.height > 0)
      mode.height = -mode.height;
  };
  if (topDown) {
    for (auto& mode : config.videoFormats) flip(mode);
    if (!currentSeen) flip(config.videoFormat);
  }
  VideoFormatDescription& current = config.videoFormat;
  VideoFormatDescription offered;
  if (config.FindVideoMode(current.subtype, current.width, current.height, offered)) return true;
  if (currentSeen || config.videoFormats.empty()) {
    error = L"format not offered by formats";
    return false;
  }
  // The default 320x240 picture in the first mode's subtype, or that mode's own size.
  const VideoFormatDescription& first = config.videoFormats.front();
  current.subtype = first.subtype;
  if (first.width) current.width = first.width, current.height = first.height;
  if (!config.FindVideoMode(current.subtype, current.width, current.height, offered)) {
    error = L"format not offered by formats";
    return false;
  }
  return true;
}

}  // namespace

std::string ToUtf8(const std::wstring& text) {
  if (text.empty()) return {};
  int size =
      WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(size_t(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text.c_str(), int(text.size()), &out[0], size, nullptr, nullptr);
  return out;
}

const ControlDescription* DeviceConfig::FindControl(bool camera, long property) const {
  for (const auto& control : controls)
    if (control.camera == camera && control.property == property) return &control;
  return nullptr;
}

bool DeviceConfig::Accepts(const AudioFormatDescription& f) const {
  if (f.channels <= 0 || f.samplesPerSec <= 0) return false;
  if (anyFormat) {
    return f.channels <= 8 && f.samplesPerSec >= 1000 && f.samplesPerSec <= 192000 &&
           (f.bitsPerSample == 8 || f.bitsPerSample == 16 || f.bitsPerSample == 24 ||
            f.bitsPerSample == 32);
  }
  for (const auto& a : audioFormats)
    if (a.channels == f.channels && a.samplesPerSec == f.samplesPerSec &&
        a.bitsPerSample == f.bitsPerSample)
      return true;
  return false;
}

bool DeviceConfig::FindVideoMode(const GUID& subtype, int width, int height,
                                 VideoFormatDescription& mode) const {
  const VideoSubtype* known = FindVideoSubtype(subtype);
  if (!known || !PictureFits(*known, width, height)) return false;
  if (anyFormat) {
    mode = {subtype, 0, 0, 0, 0};
    return true;
  }
  for (const auto& v : videoFormats)
    if (v.subtype == subtype && (v.width == 0 || (v.width == width && v.height == height))) {
      mode = v;
      return true;
    }
  return false;
}

void DeviceConfig::FrameIntervals(const VideoFormatDescription& mode, LONGLONG& shortest,
                                  LONGLONG& longest) const {
  int low = anyFormat ? 1 : 5, high = anyFormat ? 1000 : 30;
  if (maxFps) low = minFps, high = maxFps;
  if (mode.maxFps) low = mode.minFps, high = mode.maxFps;
  shortest = 10000000LL / high;
  longest = 10000000LL / low;
}

bool ParseDeviceDescription(const std::wstring& description, DeviceConfig& config,
                            std::wstring& error) {
  config = DeviceConfig();
  config.videoFormat = {MEDIASUBTYPE_RGB24, 320, 240};
  bool kindSeen = false, pinsSeen = false, formatSeen = false, currentSeen = false;
  bool topDown = false;
  std::wstring pinsText, formatText;
  for (const auto& item : Split(description, L';')) {
    if (Trim(item).empty()) continue;
    size_t eq = item.find(L'=');
    std::wstring key = Trim(item.substr(0, eq));
    std::wstring value = eq == std::wstring::npos ? L"1" : item.substr(eq + 1);
    bool ok = true;
    long number = 0;
    if (key == L"kind") {
      kindSeen = true;
      if (Trim(value) == L"audio")
        config.kind = DeviceKind::Audio;
      else if (Trim(value) == L"video")
        config.kind = DeviceKind::Video;
      else
        ok = false;
    } else if (key == L"name") {
      config.name = value;  // kept as written: leading blanks are part of the test
    } else if (key == L"noname") {
      bool noName = false;
      ok = ParseFlag(value, noName);
      config.hasName = !noName;
    } else if (key == L"waveinid") {
      ok = ParseInt(value, number) && number >= 0;
      config.waveInId = number;
    } else if (key == L"path") {
      config.devicePath = value;
      ok = !value.empty();
    } else if (key == L"nopath") {
      bool noPath = false;
      ok = ParseFlag(value, noPath);
      config.hasPath = !noPath;
    } else if (key == L"noconverter") {
      ok = ParseFlag(value, config.withoutConverter);
    } else if (key == L"pins") {
      pinsSeen = true;
      pinsText = value;
    } else if (key == L"formats") {
      config.anyFormat = Trim(value) == L"*";
      config.audioFormats.clear();
      config.videoFormats.clear();
      if (!config.anyFormat) formatText = value, formatSeen = true;
    } else if (key == L"format") {
      config.opaqueAudioFormat = false;
      if (Trim(value) == L"opaque")
        config.opaqueAudioFormat = true;
      else if (!ParseAudioFormat(value, config.audioFormat) &&
               !ParseVideoFormat(value, config.videoFormat, true))
        ok = false;
      currentSeen = true;
    } else if (key == L"fps") {
      ok = ParseInt(value, number) && number > 0 && number <= 1000;
      config.framesPerSecond = int(number);
    } else if (key == L"caps") {
      const std::wstring layout = Trim(value);
      if (layout == L"vi")
        config.capsLayout = CapsLayout::VideoInfo;
      else if (layout == L"vi2")
        config.capsLayout = CapsLayout::VideoInfo2;
      else if (layout == L"both")
        config.capsLayout = CapsLayout::Both;
      else if (layout == L"pairs")
        config.capsLayout = CapsLayout::Pairs;
      else
        ok = false;
    } else if (key == L"fpsrange") {
      ok = ParseFpsRange(Trim(value), config.minFps, config.maxFps);
    } else if (key == L"granularity") {
      ok = ParseInt(value, number) && number >= 0 && number <= 64;
      config.granularity = int(number);
    } else if (key == L"topdown") {
      ok = ParseFlag(value, topDown);
    } else if (key == L"pages") {
      ok = ParseFlag(value, config.propertyPages);
    } else if (key == L"mixer") {
      ok = ParseFlag(value, config.filterMixer);
    } else if (key == L"mixlevel") {
      wchar_t* end = nullptr;
      config.mixLevel = std::wcstod(value.c_str(), &end);
      ok = end && *end == 0;
    } else if (key == L"tvformats") {
      ok = ParseInt(value, number);
      config.tvFormats = LONG(number);
      config.analogDecoder = true;
    } else if (key == L"tvformat") {
      ok = ParseInt(value, number);
      config.tvFormat = LONG(number);
    } else if (key == L"wrongsizeafter") {
      ok = ParseInt(value, number) && number >= 0;
      config.wrongSizeAfter = number;
    } else if (key == L"unplugafter" || key == L"streamerror" || key == L"streamstopped" ||
               key == L"silentafter") {
      ok = ParseInt(value, number) && number >= 0;
      config.streamEndAfter = number;
      // silentafter: the stream stops with no event at all, as Wine's own camera when
      // its device vanishes.
      config.streamEndEvent = key == L"unplugafter"   ? EC_DEVICE_LOST
                              : key == L"streamerror" ? EC_ERRORABORT
                              : key == L"silentafter" ? 0
                                                      : EC_STREAM_ERROR_STOPPED;
    } else if (key == L"nodht") {
      ok = ParseInt(value, number) && number >= 1;
      config.noHuffmanEvery = number;
    } else if (key == L"corruptevery") {
      ok = ParseInt(value, number) && number >= 1;
      config.corruptEvery = number;
    } else if (key == L"silentfor") {
      ok = ParseInt(value, number) && number > 0 && number <= 600000;
      config.silentForMs = number;
    } else if (key == L"noeoi") {
      ok = ParseInt(value, number) && number >= 1;
      config.noEndMarkerEvery = number;
    } else if (key == L"exclusive") {
      ok = ParseFlag(value, config.exclusive);
    } else if (key == L"corruptfrom") {
      ok = ParseInt(value, number) && number >= 0;
      config.corruptFrom = number;
    } else if (key == L"jpegsize") {
      auto size = Split(Trim(value), L'x');
      long width = 0, height = 0;
      ok = size.size() == 2 && ParseInt(size[0], width) && ParseInt(size[1], height) && width > 0 &&
           height > 0 && width <= 8192 && height <= 8192;
      config.jpegWidth = int(width);
      config.jpegHeight = int(height);
    } else if (key == L"tone") {
      ok = ParseInt(value, number) && number > 0 && number < 20000;
      config.toneHz = int(number);
    } else if (key == L"controls") {
      config.hasControls = true;
      ok = ParseControls(value, config.controls);
    } else if (key == L"fail") {
      ok = ParseFaults(value, config.faults);
    } else {
      error = L"unknown key '" + key + L"'";
      return false;
    }
    if (!ok) {
      error = L"bad value for '" + key + L"': " + value;
      return false;
    }
  }
  if (!kindSeen) {
    error = L"kind missing";
    return false;
  }
  const bool audio = config.kind == DeviceKind::Audio;
  if (!pinsSeen)
    pinsText = audio ? L"capture,preview,in:Microphone,in:Line In" : L"capture,preview";
  if (!ParsePins(pinsText, config.pins)) {
    error = L"bad pins: " + pinsText;
    return false;
  }
  if (formatSeen) {
    for (const auto& item : Split(formatText, L',')) {
      std::wstring entry = Trim(item);
      AudioFormatDescription a;
      VideoFormatDescription v;
      if (audio && ParseAudioFormat(entry, a))
        config.audioFormats.push_back(a);
      else if (!audio && ParseVideoFormat(entry, v, false))
        config.videoFormats.push_back(v);
      else {
        error = L"bad format: " + entry;
        return false;
      }
    }
  }
  if (!audio) config.filterMixer = false;
  if (!audio) return FinishVideoModes(config, topDown, currentSeen, error);
  return true;
}

std::vector<std::wstring> DefaultDeviceDescriptions() {
  return {L"kind=audio;name=Tesmo Test Microphone", L"kind=video;name=Tesmo Test Camera"};
}

std::vector<std::wstring> LoadDeviceDescriptions() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, kConfigKey, 0, KEY_READ, &key) != ERROR_SUCCESS)
    return DefaultDeviceDescriptions();
  DWORD count = 0, size = sizeof count, type = 0;
  std::vector<std::wstring> descriptions;
  if (RegQueryValueExW(key, L"DeviceCount", nullptr, &type, reinterpret_cast<BYTE*>(&count),
                       &size) != ERROR_SUCCESS ||
      type != REG_DWORD) {
    RegCloseKey(key);
    return DefaultDeviceDescriptions();
  }
  for (DWORD i = 0; i < count && i < TESTDEVICES_MAX_DEVICES; ++i) {
    std::wstring valueName = L"Device" + std::to_wstring(i);
    DWORD bytes = 0;
    std::wstring text;
    if (RegQueryValueExW(key, valueName.c_str(), nullptr, &type, nullptr, &bytes) ==
            ERROR_SUCCESS &&
        type == REG_SZ) {
      text.resize(bytes / sizeof(wchar_t) + 1);
      RegQueryValueExW(key, valueName.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&text[0]),
                       &bytes);
      text.resize(wcsnlen(text.c_str(), text.size()));
    }
    descriptions.push_back(text);
  }
  RegCloseKey(key);
  return descriptions;
}

HRESULT StoreDeviceDescriptions(const std::vector<std::wstring>& descriptions) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(HKEY_CURRENT_USER, kConfigKey, 0, nullptr, 0, KEY_WRITE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS)
    return E_FAIL;
  LSTATUS status = ERROR_SUCCESS;
  for (size_t i = 0; i < TESTDEVICES_MAX_DEVICES; ++i) {
    std::wstring valueName = L"Device" + std::to_wstring(i);
    if (i < descriptions.size()) {
      const auto& text = descriptions[i];
      status |= RegSetValueExW(key, valueName.c_str(), 0, REG_SZ,
                               reinterpret_cast<const BYTE*>(text.c_str()),
                               DWORD((text.size() + 1) * sizeof(wchar_t)));
    } else {
      RegDeleteValueW(key, valueName.c_str());  // absent already is fine
    }
  }
  DWORD count = DWORD(descriptions.size());
  status |= RegSetValueExW(key, L"DeviceCount", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&count),
                           sizeof count);
  RegCloseKey(key);
  return status == ERROR_SUCCESS ? S_OK : E_FAIL;
}

bool LoadDeviceConfig(int device, DeviceConfig& config) {
  auto descriptions = LoadDeviceDescriptions();
  std::wstring error;
  return device >= 0 && size_t(device) < descriptions.size() &&
         ParseDeviceDescription(descriptions[size_t(device)], config, error);
}

}  // namespace testdevices
