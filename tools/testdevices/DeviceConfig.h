// One test device's make-up, parsed from its description string ("kind=audio;name=...").
// The device set lives in the registry (HKCU\Software\Tesmo\TestDevices) so that regsvr32,
// the filter objects and the test program all see the same list.
#pragma once
#include <windows.h>
#include <cguid.h>
#include <string>
#include <vector>

namespace testdevices {

enum class DeviceKind { Audio, Video };

struct PinDescription {
  enum Kind { Capture, Preview, Input } kind;
  std::wstring name;
};

struct AudioFormatDescription {
  int channels = 0, samplesPerSec = 0, bitsPerSample = 0;
};

struct VideoFormatDescription {
  GUID subtype = GUID_NULL;
  int width = 0, height = 0;   // 0: any size; a negative height: a top-down RGB picture
  int minFps = 0, maxFps = 0;  // 0: the device's range
};

// How a camera lists its modes: each once with a FORMAT_VideoInfo or a FORMAT_VideoInfo2
// type, or each twice (all VideoInfo entries then all VideoInfo2 ones, or in pairs).
enum class CapsLayout { VideoInfo, VideoInfo2, Both, Pairs };

struct FaultDescription {
  std::string call;  // "Interface::Method" or "QueryInterface(Interface)"
  int onCall = 0;    // 0: every call; k: only the k-th call on one filter object
  HRESULT result = E_FAIL;  // what the faulted call answers ("Name/0x800705AA")
};

// One picture control a camera offers (`controls`): a property of IAMVideoProcAmp or of
// IAMCameraControl, its range and the modes it offers (the interfaces' Flags_Auto 1 and
// Flags_Manual 2 bits). It starts at its default, in auto where auto is offered.
struct ControlDescription {
  bool camera = false;  // IAMCameraControl's (CameraControl_*), else IAMVideoProcAmp's
  long property = 0;    // VideoProcAmp_* or CameraControl_*
  long minimum = 0, maximum = 0, step = 1, defaultValue = 0;
  long flags = 2;
};

struct DeviceConfig {
  DeviceKind kind = DeviceKind::Audio;
  std::wstring name;
  bool hasName = true;
  long waveInId = -1;  // "WaveInID" in the moniker's property bag; negative: none
  // "DevicePath" in the moniker's property bag: this text, or (empty) one made from the kind
  // and the name; none at all when hasPath is false.
  std::wstring devicePath;
  bool hasPath = true;
  // The set is registered without the colour converter, as on a machine (Wine's)
  // that has no converter for the camera's format.
  bool withoutConverter = false;
  std::vector<PinDescription> pins;
  bool anyFormat = true;
  std::vector<AudioFormatDescription> audioFormats;
  std::vector<VideoFormatDescription> videoFormats;
  AudioFormatDescription audioFormat{2, 44100, 16};
  bool opaqueAudioFormat = false;
  VideoFormatDescription videoFormat;
  int framesPerSecond = 30;
  CapsLayout capsLayout = CapsLayout::VideoInfo;
  int minFps = 0, maxFps = 0;  // 0: 5..30 for listed modes, 1..1000 for formats=*
  int granularity = 1;         // OutputGranularityX/Y of an exact-size mode
  bool propertyPages = true;
  bool filterMixer = true;
  double mixLevel = 1.0;
  bool analogDecoder = false;
  LONG tvFormats = 0, tvFormat = 0;
  long wrongSizeAfter = -1;  // negative: never
  // After this many capture samples from one filter object the device is gone: it sends
  // streamEndEvent to the graph (none for 0) and streams no more (negative: never).
  long streamEndAfter = -1;
  long streamEndEvent = 0;
  long silentForMs = 0;  // silentafter: quiet this long, then sending again (0: for good)
  int toneHz = 0;  // 0: byte-sequence content
  // MJPG frames: frame n goes without its Huffman tables when n % noHuffmanEvery is
  // noHuffmanEvery - 1, and is spoiled when n % corruptEvery is corruptEvery - 1 or
  // n >= corruptFrom (0 or negative: never); the JPEG says jpegWidth x jpegHeight (0: the mode's).
  long noHuffmanEvery = 0;
  long corruptEvery = 0;
  long corruptFrom = -1;
  long noEndMarkerEvery = 0;  // frame n goes without its EOI marker, as noHuffmanEvery
  // The device streams to one filter object at a time, across processes, as a webcam
  // does: another object's Pause or Run answers 0x800705AA while one streams.
  bool exclusive = false;
  int jpegWidth = 0, jpegHeight = 0;
  // IAMVideoProcAmp and IAMCameraControl are offered once `controls` is given (even
  // empty); each answers for the properties listed and E_PROP_ID_UNSUPPORTED for others.
  bool hasControls = false;
  std::vector<ControlDescription> controls;
  std::vector<FaultDescription> faults;

  // The listed control, or null.
  const ControlDescription* FindControl(bool camera, long property) const;
  bool Accepts(const AudioFormatDescription& format) const;
  // The mode that offers this picture: a listed one of that subtype and exact size (the
  // sign of an RGB height included) or of any size; formats=* offers every subtype at every
  // size up to 8192x8192. False when the camera has no such mode.
  bool FindVideoMode(const GUID& subtype, int width, int height, VideoFormatDescription& mode) const;
  // The frame intervals (100 ns units) a mode allows.
  void FrameIntervals(const VideoFormatDescription& mode, LONGLONG& shortest, LONGLONG& longest) const;
};

// The keys a description may hold, in order.
std::vector<std::wstring> DescriptionKeyNames();
// false (with a reason) when the description does not parse.
bool ParseDeviceDescription(const std::wstring& description, DeviceConfig& config,
                            std::wstring& error);

std::vector<std::wstring> DefaultDeviceDescriptions();
// The stored set, or the defaults when none is stored.
std::vector<std::wstring> LoadDeviceDescriptions();
HRESULT StoreDeviceDescriptions(const std::vector<std::wstring>& descriptions);
bool LoadDeviceConfig(int device, DeviceConfig& config);

std::string ToUtf8(const std::wstring& text);

}  // namespace testdevices
