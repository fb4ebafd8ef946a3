// What the user-space V4L2 camera offers and how it misbehaves, read from the environment
// of the process it is preloaded into:
//   TESMO_V4L2_SIZES         frame sizes offered, e.g. "640x480,320x240" (the default)
//   TESMO_V4L2_FORMATS       pixel formats offered, "bgr24,yuyv" (the default)
//   TESMO_V4L2_FPS           frames per second advertised and produced (default 30)
//   TESMO_V4L2_VANISH_AFTER  after this many frames read, the device is unplugged: read fails
//                            with ENODEV and /dev/video0 no longer exists (default: never)
//   TESMO_V4L2_BACK_AFTER_MS with VANISH_AFTER: plugged back this many ms after it vanished,
//                            /dev/video0 there again (the descriptors of before stay dead)
//   TESMO_V4L2_BUSY          1: another program streams from it; setting the format and read
//                            fail with EBUSY
//   TESMO_V4L2_SLOW_MS       each frame comes this much later than the advertised rate says
//   TESMO_V4L2_NAME          the card name (default "Tesmo V4L2 camera")
//   TESMO_V4L2_LOG           a file to which each stream appends its figures when closed
//   TESMO_V4L2_NO_LIBV4L2    1: dlopen of libv4l2 fails, so Wine uses the device directly
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace v4l2camera {

struct FrameSize {
  uint32_t width = 0, height = 0;
};

struct CameraOptions {
  std::vector<FrameSize> sizes{{640, 480}, {320, 240}};
  std::vector<uint32_t> formats;  // V4L2_PIX_FMT_ codes; BGR24 and YUYV unless set
  uint32_t framesPerSecond = 30;
  uint64_t vanishAfterFrames = 0;  // 0: never
  uint32_t backAfterMs = 0;        // 0: gone for good
  bool busy = false;
  uint32_t slowMs = 0;
  std::string name = "Tesmo V4L2 camera";
  std::string logPath;

  CameraOptions();
};

// Options from a lookup of the variables above (getenv in the preloaded library); a value
// that does not parse leaves the default, so a typo shows as the default camera.
CameraOptions ReadCameraOptions(const char* (*lookup)(const char* name));

}  // namespace v4l2camera
