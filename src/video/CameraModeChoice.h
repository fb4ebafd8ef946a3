// Which of a camera's own modes to ask for. A webcam lists a fixed set of modes
// (each size in each format, often each twice: VideoInfo and VideoInfo2), an analog
// capture card one mode with a range of sizes; the host asks for one size and one
// of four formats, which the library converts to from whatever the camera sends.
//
// The choice, among the modes of exactly the wanted width and height (or whose size
// range holds them): first those that reach 30 frames per second, then by format
// (the wanted one itself, uncompressed YUV, another RGB, then MJPG, which costs a
// decode per frame), then a VideoInfo entry before a VideoInfo2 one, then the
// camera's own order. So above 640 x 480, where a USB webcam reaches 30 fps only in
// MJPG, MJPG wins over a slower uncompressed mode. Other compressed modes are left out.
//
// A camera that lacks the size (a 16:9 laptop camera, a virtual camera with one HD
// mode) is asked for another, whose frames are cropped to the host's aspect ratio
// and scaled: among the modes that reach 30 frames per second if any do, the
// smallest that still covers the host's size once cropped, then by format as above;
// where none covers it, the largest. A mode with a range of sizes offers the host's
// size brought into its range. A host that takes the camera's own format gets only
// the exact size: its frames are passed on as they come.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "video/FrameConverter.h"

namespace tesmo {

constexpr int64_t kThirtyFramesInterval = 333333;  // 100 ns units

struct CameraMode {
  // Null for a format the library cannot convert (compressed, or unknown).
  std::optional<PixelFormat> format;
  // Motion JPEG, which the library decodes (format is then null).
  bool motionJpeg = false;
  // The sizes the mode offers: one (min == max) for a webcam's mode.
  int32_t minWidth = 0, maxWidth = 0, widthStep = 1;
  int32_t minHeight = 0, maxHeight = 0, heightStep = 1;
  // The frame intervals it allows (100 ns units); 0 where it does not say.
  int64_t minInterval = 0, maxInterval = 0;
  bool videoInfo2 = false;

  bool Offers(int32_t width, int32_t height) const;
  // The picture to ask this mode for when the host wants width x height: that size
  // where the mode offers it, else the nearest the mode has (its own size, or the
  // host's brought into its range on its steps).
  void PictureFor(int32_t width, int32_t height, int32_t& modeWidth, int32_t& modeHeight) const;
  // Uncompressed, or MJPG for a host that wants one of its own formats.
  bool Usable(std::optional<PixelFormat> wanted) const { return format || (motionJpeg && wanted); }
  bool ReachesThirtyFrames() const;
  // 333333 where the interval range allows it, else the bound nearest to it; 0 where
  // the mode gives no range.
  int64_t IntervalFor30() const;
};

// The position in `modes` of the mode to ask for (at PictureFor's size), or -1 when
// none will do: for a host format, none can be converted to it or the host's size is
// one it cannot have; with `wanted` null (the host takes the camera's own format as
// it comes, so any uncompressed mode will do, but never MJPG, whose length varies)
// none offers the exact size.
int ChooseCameraMode(const std::vector<CameraMode>& modes, int32_t width, int32_t height,
                     std::optional<PixelFormat> wanted);

}  // namespace tesmo
