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
  // Uncompressed, or MJPG for a host that wants one of its own formats.
  bool Usable(std::optional<PixelFormat> wanted) const { return format || (motionJpeg && wanted); }
  bool ReachesThirtyFrames() const;
  // 333333 where the interval range allows it, else the bound nearest to it; 0 where
  // the mode gives no range.
  int64_t IntervalFor30() const;
};

// The position in `modes` of the mode to ask for, or -1 when none offers the size
// (or, for a host format, none can be converted to it). `wanted` null: the host
// takes the camera's own format as it comes, so any uncompressed mode will do; its
// frames could not be MJPG, whose length varies.
int ChooseCameraMode(const std::vector<CameraMode>& modes, int32_t width, int32_t height,
                     std::optional<PixelFormat> wanted);

}  // namespace tesmo
