#include "video/CameraModes.h"

#include <dvdmedia.h>

#include <cstdlib>

namespace tesmo {

namespace {

// The FOURCC subtypes share one GUID pattern: the code in Data1.
bool IsFourcc(const GUID& subtype, char a, char b, char c, char d) {
  GUID fourcc = kMediaSubtypeI420;
  fourcc.Data1 = MAKEFOURCC(a, b, c, d);
  return IsEqualGUID(subtype, fourcc) != 0;
}

}  // namespace

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
  const bool rgb = facts.format && (*facts.format == PixelFormat::Rgb24 ||
                                    *facts.format == PixelFormat::Rgb32 ||
                                    *facts.format == PixelFormat::Rgb555 ||
                                    *facts.format == PixelFormat::Rgb565);
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

}  // namespace tesmo
