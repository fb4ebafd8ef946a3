// /dev/video0 as a V4L2 capture device with read() I/O, without a kernel driver: the
// answers to the calls a program makes on the descriptors it opened there. The preloaded
// interposer (Interposer.cpp) routes those calls here; this class itself touches no file.
//
// Like a real camera it produces frames at its own pace whether or not they are read:
// frame n is due at n frame intervals after the first read, read() hands over the newest
// due frame not yet read and says EAGAIN while there is none, so a reader that falls
// behind skips frames (their numbers show the gap). A stream nobody read for ten
// intervals (a stopped graph) is paused, and resumes with the next number.
// One program may stream: the descriptor that set the format or read first owns the
// device until it is closed; the others get EBUSY for those, as from a V4L2 driver.
// Its picture controls (brightness, contrast, saturation, hue) belong to the device, not
// to a descriptor: a value set stays for the next open. Brightness changes the picture.
// Thread-safe: every call takes the one lock.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include <linux/videodev2.h>

#include "CameraOptions.h"

namespace v4l2camera {

class VirtualCamera {
public:
  using Clock = std::chrono::steady_clock;

  explicit VirtualCamera(CameraOptions options);

  // False once the device has vanished (unplugged), until it is plugged back.
  bool Present(Clock::time_point now = Clock::now()) const;
  // Takes `fd` (a descriptor the caller opened on something harmless) as an open of the
  // device: 0, or -ENOENT while it has vanished.
  int Open(int fd, Clock::time_point now = Clock::now());
  bool IsCamera(int fd) const;
  // A V4L2 ioctl: 0, or -errno (ENOTTY for a request the device does not know).
  int Ioctl(int fd, unsigned long request, void* arg);
  // read(): the bytes copied, or -errno (EAGAIN: no new frame yet; EBUSY; ENODEV).
  long Read(int fd, void* buffer, size_t size, Clock::time_point now);
  // How long until the next frame of `fd` is due, for a caller that waits on EAGAIN.
  Clock::duration UntilNextFrame(int fd, Clock::time_point now) const;
  // The name QUERYCTRL gives control `id` ("Brightness"), or "?".
  static const char* ControlName(uint32_t id);
  // Forgets `fd`. Returns the stream's figures as one line, or "" when it never read.
  std::string Close(int fd);

private:
  struct Stream {
    uint32_t pixelFormat = 0, width = 0, height = 0;
    bool reading = false;
    Clock::time_point start, lastAttempt;  // start: when frame 0 was (or counts as) due
    int64_t lastNumber = -1;               // the newest frame handed over
    uint64_t framesRead = 0, framesProduced = 0, pauses = 0;
    int64_t firstNumber = -1;
    bool unplugged = false;  // opened before the device vanished: dead for good
  };

  void Adjust(v4l2_pix_format& pix) const;
  bool Offers(uint32_t pixelFormat) const;
  bool OffersSize(uint32_t width, uint32_t height) const;
  bool ClaimLocked(int fd);
  Clock::duration Interval() const;
  int64_t DueNumber(const Stream& stream, Clock::time_point now) const;
  int ControlIoctl(uint32_t request, void* arg);
  // Whether the device is away now; plugs it back once its time away has passed.
  bool AwayLocked(Clock::time_point now) const;
  void VanishLocked(Clock::time_point now);

  const CameraOptions options;
  mutable std::mutex mutex;
  std::map<int, Stream> streams;  // by descriptor
  int owner = -1;                 // the descriptor that streams, or -1
  uint64_t framesReadTotal = 0;   // across streams, for the vanishing device
  mutable bool vanished = false;
  bool vanishedOnce = false;
  Clock::time_point vanishedAt;
  std::map<uint32_t, int32_t> controls;  // by control id
};

}  // namespace v4l2camera
