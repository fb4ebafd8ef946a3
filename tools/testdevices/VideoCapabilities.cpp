#include "VideoCapabilities.h"

#include <algorithm>
#include <climits>
#include <cstdlib>

namespace testdevices {

VideoCapabilities::VideoCapabilities(const DeviceConfig& config) : config(config) {
  std::vector<VideoFormatDescription> modes = config.videoFormats;
  if (config.anyFormat) modes = {VideoFormatDescription()};  // one ranged entry, current subtype
  const CapsLayout layout = config.capsLayout;
  if (layout == CapsLayout::Pairs) {
    for (const auto& mode : modes) {
      entries.push_back({mode, FORMAT_VideoInfo});
      entries.push_back({mode, FORMAT_VideoInfo2});
    }
    return;
  }
  if (layout != CapsLayout::VideoInfo2)
    for (const auto& mode : modes) entries.push_back({mode, FORMAT_VideoInfo});
  if (layout != CapsLayout::VideoInfo)
    for (const auto& mode : modes) entries.push_back({mode, FORMAT_VideoInfo2});
}

bool VideoCapabilities::Lists(const GUID& formatType) const {
  for (const auto& entry : entries)
    if (entry.formatType == formatType) return true;
  return false;
}

void VideoCapabilities::Get(int index, const MediaType& current, MediaType& type,
                            VIDEO_STREAM_CONFIG_CAPS& caps) const {
  const Entry& entry = entries[size_t(index)];
  const BITMAPINFOHEADER* picture = current.Bitmap();
  const bool exact = entry.mode.width != 0;
  const GUID subtype = entry.mode.subtype == GUID_NULL ? current.Get().subtype : entry.mode.subtype;
  int width = exact ? entry.mode.width : picture ? int(picture->biWidth) : 320;
  int height = exact ? entry.mode.height : picture ? int(picture->biHeight) : 240;
  const VideoSubtype* known = FindVideoSubtype(subtype);
  if (!exact && known && (!IsRgb(known->format) || known->jpeg)) height = std::abs(height);
  LONGLONG shortest, longest;
  config.FrameIntervals(entry.mode, shortest, longest);
  type = MakeVideoType(subtype, width, height, shortest, entry.formatType);

  caps = {};
  caps.guid = entry.formatType;
  caps.VideoStandard = config.tvFormats ? ULONG(config.tvFormats) : ULONG(AnalogVideo_None);
  const SIZE size = {width, std::abs(height)};
  if (exact) {
    caps.InputSize = caps.MinCroppingSize = caps.MaxCroppingSize = size;
    caps.MinOutputSize = caps.MaxOutputSize = size;
    caps.CropGranularityX = caps.CropGranularityY = config.granularity;
    caps.OutputGranularityX = caps.OutputGranularityY = config.granularity;
  } else {
    caps.InputSize = {1, 1};
    caps.MinCroppingSize = caps.MinOutputSize = {1, 1};
    caps.MaxCroppingSize = caps.MaxOutputSize = {8192, 8192};
    caps.CropGranularityX = caps.CropGranularityY = 1;
    caps.OutputGranularityX = caps.OutputGranularityY = 1;
  }
  caps.CropAlignX = caps.CropAlignY = 1;
  caps.MinFrameInterval = shortest;
  caps.MaxFrameInterval = longest;
  const LONGLONG frameBits =
      LONGLONG(FrameBytes(known ? known->format : PixelFormat::Rgb24, size.cx, size.cy)) * 8;
  caps.MinBitsPerSecond = LONG(std::min<LONGLONG>(frameBits * 10000000LL / longest, LONG_MAX));
  caps.MaxBitsPerSecond = LONG(std::min<LONGLONG>(frameBits * 10000000LL / shortest, LONG_MAX));
}

std::vector<MediaType> VideoCapabilities::Types(const MediaType& current) const {
  std::vector<MediaType> types(entries.size());
  VIDEO_STREAM_CONFIG_CAPS unused;
  for (int i = 0; i < Count(); ++i) Get(i, current, types[size_t(i)], unused);
  return types;
}

HRESULT VideoCapabilities::Accept(const AM_MEDIA_TYPE& asked, MediaType& made) const {
  made = MediaType(asked);
  const BITMAPINFOHEADER* picture = made.Bitmap();
  if (asked.majortype != MEDIATYPE_Video || !picture || !Lists(asked.formattype))
    return VFW_E_INVALIDMEDIATYPE;
  const VideoSubtype* known = FindVideoSubtype(asked.subtype);
  VideoFormatDescription mode;
  if (!known || !known->Describes(*picture) ||
      !config.FindVideoMode(asked.subtype, picture->biWidth, picture->biHeight, mode))
    return VFW_E_INVALIDMEDIATYPE;
  // A strict driver: a frame interval outside the mode's range is refused, not rounded.
  LONGLONG shortest, longest;
  config.FrameIntervals(mode, shortest, longest);
  REFERENCE_TIME interval = made.FrameInterval();
  if (interval != 0 && (interval < shortest || interval > longest)) return VFW_E_INVALIDMEDIATYPE;
  if (interval == 0)
    interval = std::min(std::max<LONGLONG>(10000000LL / config.framesPerSecond, shortest), longest);

  // The camera sizes its frames from the picture, whatever image size the caller carried over
  // (a JPEG frame's bound: its picture uncompressed).
  BYTE* block = made.Edit().pbFormat;
  auto* header = const_cast<BITMAPINFOHEADER*>(picture);
  header->biSizeImage = DWORD(FrameBytes(known->format, header->biWidth, header->biHeight));
  if (asked.formattype == FORMAT_VideoInfo2)
    reinterpret_cast<VIDEOINFOHEADER2*>(block)->AvgTimePerFrame = interval;
  else
    reinterpret_cast<VIDEOINFOHEADER*>(block)->AvgTimePerFrame = interval;
  made.Edit().lSampleSize = long(header->biSizeImage);
  made.Edit().bFixedSizeSamples = !known->jpeg;
  made.Edit().bTemporalCompression = FALSE;
  return S_OK;
}

}  // namespace testdevices
