#include "video/CameraModes.h"

#include <dvdmedia.h>

#include <cstdlib>

#include "common/CaptureRoute.h"
#include "common/DeviceEnumeration.h"

namespace tesmo {

namespace {

// The FOURCC subtypes share one GUID pattern, the code in Data1: that code, or 0 for a
// subtype of another pattern.
unsigned int FourccOf(const GUID& subtype) {
  GUID fourcc = kMediaSubtypeI420;
  fourcc.Data1 = subtype.Data1;
  return IsEqualGUID(subtype, fourcc) ? static_cast<unsigned int>(subtype.Data1) : 0;
}

bool IsFourcc(const GUID& subtype, char a, char b, char c, char d) {
  return FourccOf(subtype) == MAKEFOURCC(a, b, c, d);
}

int FramesPerMinuteOf(REFERENCE_TIME interval) {
  if (interval <= 0) return 0;
  return static_cast<int>((600000000LL + interval / 2) / interval);
}

// The capture pin's stream configuration of a device not in any graph.
ComPtr<IAMStreamConfig> StreamConfigOf(IBaseFilter* source) {
  ComPtr<IAMStreamConfig> config;
  ComPtr<ICaptureGraphBuilder2> builder;
  CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                   IID_ICaptureGraphBuilder2, reinterpret_cast<void**>(&builder));
  ComPtr<IPin> pin = FindCapturePin(builder.Get(), source, MEDIATYPE_Video);
  if (pin) pin.As(config, IID_IAMStreamConfig);
  return config;
}

}  // namespace

HostFormat HostFormatOf(int32_t formatCode) {
  switch (formatCode) {
    case kVideoRgb24: return {&MEDIASUBTYPE_RGB24, 24, "RGB24"};
    case kVideoI420: return {&kMediaSubtypeI420, 12, "I420"};
    case kVideoRgb555: return {&MEDIASUBTYPE_RGB555, 16, "RGB555"};
    case kVideoRgb32: return {&MEDIASUBTYPE_RGB32, 32, "RGB32"};
    default: return {nullptr, 0, "of the camera's own"};
  }
}

std::optional<PixelFormat> PixelFormatOfSubtype(const GUID& subtype) {
  if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB24)) return PixelFormat::Rgb24;
  if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB32) || IsEqualGUID(subtype, MEDIASUBTYPE_ARGB32))
    return PixelFormat::Rgb32;
  if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB555)) return PixelFormat::Rgb555;
  if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB565)) return PixelFormat::Rgb565;
  if (IsFourcc(subtype, 'Y', 'U', 'Y', '2')) return PixelFormat::Yuy2;
  if (IsFourcc(subtype, 'U', 'Y', 'V', 'Y')) return PixelFormat::Uyvy;
  if (IsFourcc(subtype, 'N', 'V', '1', '2')) return PixelFormat::Nv12;
  if (IsFourcc(subtype, 'I', '4', '2', '0') || IsFourcc(subtype, 'I', 'Y', 'U', 'V'))
    return PixelFormat::I420;
  if (IsFourcc(subtype, 'Y', 'V', '1', '2')) return PixelFormat::Yv12;
  return std::nullopt;
}

bool IsMotionJpegSubtype(const GUID& subtype) { return IsFourcc(subtype, 'M', 'J', 'P', 'G'); }

// How a host is told the format: the FOURCC, or for RGB the bit count (15 for
// RGB555, so that it differs from RGB565's 16).
unsigned int FormatCodeOfSubtype(const GUID& subtype) {
  if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB24)) return 24;
  if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB32) || IsEqualGUID(subtype, MEDIASUBTYPE_ARGB32))
    return 32;
  if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB555)) return 15;
  if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB565)) return 16;
  if (IsEqualGUID(subtype, MEDIASUBTYPE_RGB8)) return 8;
  return FourccOf(subtype);
}


BITMAPINFOHEADER* VideoHeaderOf(AM_MEDIA_TYPE& type, REFERENCE_TIME** interval) {
  if (!type.pbFormat) return nullptr;
  if (IsEqualGUID(type.formattype, FORMAT_VideoInfo) && type.cbFormat >= sizeof(VIDEOINFOHEADER)) {
    auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type.pbFormat);
    if (interval) *interval = &info->AvgTimePerFrame;
    return &info->bmiHeader;
  }
  if (IsEqualGUID(type.formattype, FORMAT_VideoInfo2) &&
      type.cbFormat >= sizeof(VIDEOINFOHEADER2)) {
    auto* info = reinterpret_cast<VIDEOINFOHEADER2*>(type.pbFormat);
    if (interval) *interval = &info->AvgTimePerFrame;
    return &info->bmiHeader;
  }
  return nullptr;
}

bool ReadVideoType(const AM_MEDIA_TYPE& type, VideoTypeFacts& facts) {
  if (!IsEqualGUID(type.majortype, MEDIATYPE_Video)) return false;
  const BITMAPINFOHEADER* header = VideoHeaderOf(const_cast<AM_MEDIA_TYPE&>(type));
  if (!header || header->biWidth <= 0 || header->biHeight == 0) return false;
  facts.format = PixelFormatOfSubtype(type.subtype);
  facts.motionJpeg = IsMotionJpegSubtype(type.subtype);
  facts.width = header->biWidth;
  facts.height = std::abs(header->biHeight);
  // Only an RGB picture can be stored upside down; YUV rows always run top-down.
  const bool rgb = facts.format &&
                   (*facts.format == PixelFormat::Rgb24 || *facts.format == PixelFormat::Rgb32 ||
                    *facts.format == PixelFormat::Rgb555 || *facts.format == PixelFormat::Rgb565);
  facts.topDown = rgb && header->biHeight < 0;
  facts.sampleBytes = type.bFixedSizeSamples && type.lSampleSize > 0
                          ? static_cast<int32_t>(type.lSampleSize)
                          : static_cast<int32_t>(header->biSizeImage);
  return true;
}

bool ReadCameraModes(IAMStreamConfig* config, std::vector<CameraMode>& modes,
                     std::vector<MediaType>& types) {
  int count = 0, size = 0;
  if (config->GetNumberOfCapabilities(&count, &size) != S_OK || count <= 0 ||
      size < static_cast<int>(sizeof(VIDEO_STREAM_CONFIG_CAPS)))
    return false;
  // Some devices check only index > count: the loop stays below count.
  for (int i = 0; i < count; ++i) {
    MediaType type;
    VIDEO_STREAM_CONFIG_CAPS caps{};
    if (config->GetStreamCaps(i, &type, reinterpret_cast<BYTE*>(&caps)) != S_OK || !type) continue;
    VideoTypeFacts facts;
    if (!ReadVideoType(*type.Get(), facts)) continue;
    CameraMode mode;
    mode.format = facts.format;
    mode.motionJpeg = facts.motionJpeg;
    mode.videoInfo2 = IsEqualGUID(type->formattype, FORMAT_VideoInfo2) != 0;
    // A range of sizes (an analog card's one capability) where the caps give one;
    // else the type's own size.
    if (caps.MinOutputSize.cx > 0 && caps.MaxOutputSize.cx >= caps.MinOutputSize.cx &&
        caps.MinOutputSize.cy > 0 && caps.MaxOutputSize.cy >= caps.MinOutputSize.cy) {
      mode.minWidth = caps.MinOutputSize.cx;
      mode.maxWidth = caps.MaxOutputSize.cx;
      mode.widthStep = caps.OutputGranularityX > 0 ? caps.OutputGranularityX : 1;
      mode.minHeight = caps.MinOutputSize.cy;
      mode.maxHeight = caps.MaxOutputSize.cy;
      mode.heightStep = caps.OutputGranularityY > 0 ? caps.OutputGranularityY : 1;
    } else {
      mode.minWidth = mode.maxWidth = facts.width;
      mode.minHeight = mode.maxHeight = facts.height;
    }
    mode.minInterval = caps.MinFrameInterval;
    mode.maxInterval = caps.MaxFrameInterval;
    modes.push_back(mode);
    types.push_back(std::move(type));
  }
  return !modes.empty();
}

CaptureResult ListModesOfCamera(int deviceIndex, CameraModeInfo* modes, int capacity, int* count) {
  if (!count || capacity < 0 || (!modes && capacity > 0)) return kCaptureFailed;
  try {
    *count = 0;
    if (deviceIndex < 0) return kCaptureNo;
    ComPtr<IMoniker> moniker = MonikerAt(CLSID_VideoInputDeviceCategory, deviceIndex);
    ComPtr<IBaseFilter> source;
    if (!moniker || moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                          reinterpret_cast<void**>(&source)) != S_OK)
      return kCaptureNo;
    ComPtr<IAMStreamConfig> config = StreamConfigOf(source.Get());
    std::vector<CameraMode> cameraModes;
    std::vector<MediaType> types;
    if (!config || !ReadCameraModes(config.Get(), cameraModes, types)) return kCaptureNo;

    std::vector<CameraModeInfo> found;
    for (size_t i = 0; i < types.size(); ++i) {
      REFERENCE_TIME* interval = nullptr;
      const BITMAPINFOHEADER* header = VideoHeaderOf(*types[i].Get(), &interval);
      const CameraMode& mode = cameraModes[i];
      CameraModeInfo info{};
      // A webcam's mode has one size; a range of sizes is reported at the type's own.
      const bool ranged = mode.minWidth != mode.maxWidth || mode.minHeight != mode.maxHeight;
      info.width = ranged ? header->biWidth : mode.minWidth;
      info.height = ranged ? std::abs(header->biHeight) : mode.minHeight;
      info.framesPerMinute = FramesPerMinuteOf(mode.minInterval > 0 ? mode.minInterval : *interval);
      info.format = FormatCodeOfSubtype(types[i]->subtype);
      // A webcam lists each mode twice, as VideoInfo and as VideoInfo2: once here.
      bool listed = false;
      for (const CameraModeInfo& earlier : found)
        listed |= earlier.width == info.width && earlier.height == info.height &&
                  earlier.framesPerMinute == info.framesPerMinute && earlier.format == info.format;
      if (!listed) found.push_back(info);
    }
    *count = static_cast<int>(found.size());
    if (*count > capacity) return kCaptureFailed;
    for (size_t i = 0; i < found.size(); ++i) modes[i] = found[i];
    return kCaptureYes;
  } catch (...) {
    return kCaptureFailed;
  }
}

}  // namespace tesmo
