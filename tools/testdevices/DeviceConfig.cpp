#include "DeviceConfig.h"

#include <dshow.h>
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cwchar>
#include <cwctype>
#include <functional>
#include <iterator>

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

using Value = const std::wstring&;

// Where `value` stands among `names`, or -1.
template <size_t N>
long IndexOf(const wchar_t* const (&names)[N], Value value) {
  for (size_t i = 0; i < N; ++i)
    if (value == names[i]) return long(i);
  return -1;
}

// One of `names` into `field`, as the matching one of `values`.
template <class T, size_t N>
bool Pick(Value value, const wchar_t* const (&names)[N], const T (&values)[N], T& field) {
  const long i = IndexOf(names, value);
  if (i >= 0) field = values[i];
  return i >= 0;
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
  // By property: VideoProcAmp_* and CameraControl_* count from 0 in this order.
  static const wchar_t* const kProcAmpNames[] = {
      L"brightness", L"contrast", L"hue", L"saturation", L"sharpness", L"gamma",
      L"colorenable", L"whitebalance", L"backlightcompensation", L"gain"};
  static const wchar_t* const kCameraNames[] = {
      L"pan", L"tilt", L"roll", L"zoom", L"exposure", L"iris", L"focus"};
  static_assert(VideoProcAmp_Gain == 9 && CameraControl_Focus == 6, "property numbering");
  auto parts = Split(Trim(text), L':');
  if (parts.size() != 5 && parts.size() != 6) return false;
  const long procAmp = IndexOf(kProcAmpNames, parts[0]), camera = IndexOf(kCameraNames, parts[0]);
  if (procAmp < 0 && camera < 0) return false;
  control = {camera >= 0, camera >= 0 ? camera : procAmp};
  long values[4];
  for (int i = 0; i < 4; ++i)
    if (!ParseInt(parts[size_t(i) + 1], values[i])) return false;
  control.minimum = values[0];
  control.maximum = values[1];
  control.step = values[2];
  control.defaultValue = values[3];
  const wchar_t* const modes[] = {L"auto", L"manual", L"auto+manual"};
  const long flags[] = {1, 2, 3};
  control.flags = 2;
  if (parts.size() == 6 && !Pick(parts[5], modes, flags, control.flags)) return false;
  return control.minimum <= control.defaultValue &&
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

// The description being read: the device so far, and what the keys leave for the end.
struct Reading {
  explicit Reading(DeviceConfig& config) : config(config) {}
  DeviceConfig& config;
  bool kindSeen = false, pinsSeen = false, formatSeen = false, currentSeen = false;
  bool topDown = false;
  std::wstring pinsText, formatText;
};

// Reads a key's value into the description being read; false for a bad value.
using ValueParser = std::function<bool(Value value, Reading& reading)>;

// A whole number from `low` to `high` into `field`.
template <class T>
ValueParser Number(T DeviceConfig::*field, long low, long high = LONG_MAX) {
  return [=](Value value, Reading& r) {
    long number = 0;
    if (!ParseInt(value, number) || number < low || number > high) return false;
    r.config.*field = T(number);
    return true;
  };
}

// 0 or 1 into `field`; `set` false for a key that takes something away (noname, nopath).
ValueParser Flag(bool DeviceConfig::*field, bool set = true) {
  return [=](Value value, Reading& r) {
    bool flag = false;
    if (!ParseFlag(value, flag)) return false;
    r.config.*field = flag == set;
    return true;
  };
}

// After how many capture samples the device is gone, with the event it sends then.
ValueParser StreamEnd(long event) {
  return [=](Value v, Reading& r) {
    r.config.streamEndEvent = event;
    return Number(&DeviceConfig::streamEndAfter, 0)(v, r);
  };
}

bool ParseJpegSize(Value value, DeviceConfig& config) {
  auto size = Split(Trim(value), L'x');
  long width = 0, height = 0;
  if (size.size() != 2 || !ParseInt(size[0], width) || !ParseInt(size[1], height) ||
      width <= 0 || height <= 0 || width > 8192 || height > 8192)
    return false;
  config.jpegWidth = int(width);
  config.jpegHeight = int(height);
  return true;
}

// Every key a description may hold: its name, how its value reads into which field, and
// what it means. README.md's key table lists the same keys in this order (a test checks).
const struct DescriptionKey {
  const wchar_t* name;
  ValueParser parse;
  const wchar_t* help;
} kDescriptionKeys[] = {
    {L"kind", [](Value v, Reading& r) {
       const wchar_t* const names[] = {L"audio", L"video"};
       const DeviceKind kinds[] = {DeviceKind::Audio, DeviceKind::Video};
       r.kindSeen = true;
       return Pick(Trim(v), names, kinds, r.config.kind);
     }, L"audio or video"},
    // Kept as written: leading blanks are part of a test.
    {L"name", [](Value v, Reading& r) { r.config.name = v; return true; }, L"friendly name"},
    {L"noname", Flag(&DeviceConfig::hasName, false), L"1: no FriendlyName"},
    {L"path", [](Value v, Reading& r) { r.config.devicePath = v; return !v.empty(); },
     L"DevicePath"},
    {L"nopath", Flag(&DeviceConfig::hasPath, false), L"1: no DevicePath"},
    {L"waveinid", Number(&DeviceConfig::waveInId, 0), L"WaveInID, 0 or more"},
    {L"noconverter", Flag(&DeviceConfig::withoutConverter), L"1: no colour converter"},
    {L"pins", [](Value v, Reading& r) { r.pinsSeen = true; r.pinsText = v; return true; },
     L"capture, preview and in:<name>, comma separated"},
    {L"formats", [](Value v, Reading& r) {
       r.config.anyFormat = Trim(v) == L"*";
       r.config.audioFormats.clear();
       r.config.videoFormats.clear();
       if (!r.config.anyFormat) r.formatText = v, r.formatSeen = true;
       return true;
     }, L"* or the formats SetFormat takes"},
    {L"format", [](Value v, Reading& r) {
       r.currentSeen = true;
       r.config.opaqueAudioFormat = Trim(v) == L"opaque";
       return r.config.opaqueAudioFormat || ParseAudioFormat(v, r.config.audioFormat) ||
              ParseVideoFormat(v, r.config.videoFormat, true);
     }, L"initial format: ch/rate/bits, opaque or SUBTYPE:WxH"},
    {L"fps", Number(&DeviceConfig::framesPerSecond, 1, 1000), L"frame rate, 1..1000"},
    {L"caps", [](Value v, Reading& r) {
       const wchar_t* const names[] = {L"vi", L"vi2", L"both", L"pairs"};
       const CapsLayout layouts[] = {CapsLayout::VideoInfo, CapsLayout::VideoInfo2,
                                     CapsLayout::Both, CapsLayout::Pairs};
       return Pick(Trim(v), names, layouts, r.config.capsLayout);
     }, L"vi, vi2, both or pairs"},
    {L"fpsrange", [](Value v, Reading& r) {
       return ParseFpsRange(Trim(v), r.config.minFps, r.config.maxFps);
     }, L"MIN-MAX frames per second"},
    {L"granularity", Number(&DeviceConfig::granularity, 0, 64), L"0..64"},
    {L"topdown", [](Value v, Reading& r) { return ParseFlag(v, r.topDown); }, L"1: top-down RGB"},
    {L"pages", Flag(&DeviceConfig::propertyPages), L"1: ISpecifyPropertyPages"},
    {L"mixer", Flag(&DeviceConfig::filterMixer), L"1: IAMAudioInputMixer on the filter"},
    {L"mixlevel", [](Value v, Reading& r) {
       wchar_t* end = nullptr;
       r.config.mixLevel = std::wcstod(v.c_str(), &end);
       return end && *end == 0;
     }, L"the filter mixer's level"},
    {L"tvformats", [](Value v, Reading& r) {
       r.config.analogDecoder = true;
       return Number(&DeviceConfig::tvFormats, LONG_MIN)(v, r);
     }, L"IAMAnalogVideoDecoder with this mask"},
    {L"tvformat", Number(&DeviceConfig::tvFormat, LONG_MIN), L"initial TV format"},
    {L"wrongsizeafter", Number(&DeviceConfig::wrongSizeAfter, 0), L"half-size samples from N on"},
    {L"nodht", Number(&DeviceConfig::noHuffmanEvery, 1), L"MJPG: every Nth frame without DHT"},
    {L"corruptevery", Number(&DeviceConfig::corruptEvery, 1), L"MJPG: every Nth frame cut"},
    {L"corruptfrom", Number(&DeviceConfig::corruptFrom, 0), L"MJPG: frames cut from N on"},
    {L"jpegsize", [](Value v, Reading& r) { return ParseJpegSize(v, r.config); }, L"MJPG: WxH"},
    {L"tone", Number(&DeviceConfig::toneHz, 1, 19999), L"audio: a sine of this many Hz"},
    {L"unplugafter", StreamEnd(EC_DEVICE_LOST), L"EC_DEVICE_LOST after N samples"},
    {L"streamerror", StreamEnd(EC_ERRORABORT), L"EC_ERRORABORT after N samples"},
    {L"streamstopped", StreamEnd(EC_STREAM_ERROR_STOPPED), L"EC_STREAM_ERROR_STOPPED after N"},
    // No event at all, as Wine's own camera when its device vanishes.
    {L"silentafter", StreamEnd(0), L"no more samples after N"},
    {L"silentfor", Number(&DeviceConfig::silentForMs, 1, 600000), L"with silentafter: quiet ms"},
    {L"exclusive", Flag(&DeviceConfig::exclusive), L"1: one filter object streams at a time"},
    {L"noeoi", Number(&DeviceConfig::noEndMarkerEvery, 1), L"MJPG: every Nth frame without EOI"},
    {L"controls", [](Value v, Reading& r) {
       r.config.hasControls = true;
       return ParseControls(v, r.config.controls);
     }, L"camera controls NAME:MIN:MAX:STEP:DEFAULT[:MODES], comma separated"},
    {L"fail", [](Value v, Reading& r) { return ParseFaults(v, r.config.faults); },
     L"calls to fail: Name[@k][/HRESULT], comma separated"},
};

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

std::vector<std::wstring> DescriptionKeyNames() {
  std::vector<std::wstring> names;
  for (const DescriptionKey& key : kDescriptionKeys) names.push_back(key.name);
  return names;
}

bool ParseDeviceDescription(const std::wstring& description, DeviceConfig& config,
                            std::wstring& error) {
  config = DeviceConfig();
  config.videoFormat = {MEDIASUBTYPE_RGB24, 320, 240};
  Reading r(config);
  for (const auto& item : Split(description, L';')) {
    if (Trim(item).empty()) continue;
    size_t eq = item.find(L'=');
    std::wstring key = Trim(item.substr(0, eq));
    std::wstring value = eq == std::wstring::npos ? L"1" : item.substr(eq + 1);
    const auto* known = std::find_if(std::begin(kDescriptionKeys), std::end(kDescriptionKeys),
                                     [&](const DescriptionKey& k) { return key == k.name; });
    if (known == std::end(kDescriptionKeys)) {
      error = L"unknown key '" + key + L"'";
      return false;
    }
    if (!known->parse(value, r)) {
      error = L"bad value for '" + key + L"' (" + known->help + L"): " + value;
      return false;
    }
  }
  if (!r.kindSeen) {
    error = L"kind missing";
    return false;
  }
  const bool audio = config.kind == DeviceKind::Audio;
  if (!r.pinsSeen)
    r.pinsText = audio ? L"capture,preview,in:Microphone,in:Line In" : L"capture,preview";
  if (!ParsePins(r.pinsText, config.pins)) {
    error = L"bad pins: " + r.pinsText;
    return false;
  }
  if (r.formatSeen) {
    for (const auto& item : Split(r.formatText, L',')) {
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
  if (!audio) return FinishVideoModes(config, r.topDown, r.currentSeen, error);
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
