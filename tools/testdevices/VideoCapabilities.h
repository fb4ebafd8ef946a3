// What a camera's IAMStreamConfig lists and takes: one capability per listed mode (exact
// size, as USB cameras report) or one ranged capability (formats=*, as analog capture cards
// report), each with a FORMAT_VideoInfo and/or FORMAT_VideoInfo2 type as the description's
// caps= says. No locking: built from the device description and the current format.
#pragma once
#include <dshow.h>
#include <vector>

#include "DeviceConfig.h"
#include "MediaType.h"

namespace testdevices {

class VideoCapabilities {
public:
  explicit VideoCapabilities(const DeviceConfig& config);

  int Count() const { return int(entries.size()); }
  // Capability `index` (0 <= index < Count()); a ranged one's type has `current`'s size.
  void Get(int index, const MediaType& current, MediaType& type,
           VIDEO_STREAM_CONFIG_CAPS& caps) const;
  // Every capability's type, in list order.
  std::vector<MediaType> Types(const MediaType& current) const;
  // The format type a camera takes: only those it lists.
  bool Lists(const GUID& formatType) const;
  // The type SetFormat makes of `asked`: S_OK with `made` (frames sized from the picture, a
  // missing frame interval filled in), or VFW_E_INVALIDMEDIATYPE for a format type, subtype,
  // bit count, compression, size or frame interval that no capability offers.
  HRESULT Accept(const AM_MEDIA_TYPE& asked, MediaType& made) const;

private:
  struct Entry {
    VideoFormatDescription mode;
    GUID formatType;
  };
  const DeviceConfig& config;
  std::vector<Entry> entries;
};

}  // namespace testdevices
