// A VideoSink that reads the test camera's picture from each frame as it arrives,
// in the host's format: its length, the camera's frame number from the cells (which
// survive conversion) and whether the colour bars are where the camera drew them.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include "Tesmo.h"
#include "support/PictureReader.h"

namespace tesmo::test {

class PictureSink : public VideoSink {
public:
  struct Frame {
    int length;
    long number;       // -1 where the cells could not be read
    std::string bars;  // empty when every bar is in place
    unsigned long tick;       // the frame's arrival, as the library stamped it
    unsigned long deliveredAt;  // the tick count in OnData
  };
  PictureSink(testdevices::PixelFormat format, int width, int height)
      : format(format), width(width), height(height) {}
  void OnData(const unsigned char* data, int length, unsigned long tickMs) override {
    const auto view = testpicture::HostFrame(format, width, height, data, size_t(length));
    const long number = testpicture::ReadFrameNumber(view);
    std::string bars =
        number < 0 ? "no number" : testpicture::CheckColourBars(view, uint32_t(number));
    std::lock_guard<std::mutex> hold(mutex);
    frames.push_back({length, number, std::move(bars), tickMs, GetTickCount()});
    arrived.notify_all();
  }
  bool WaitFor(size_t count, int timeoutMs = 5000) {
    std::unique_lock<std::mutex> hold(mutex);
    return arrived.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                            [&] { return frames.size() >= count; });
  }
  std::vector<Frame> Frames() {
    std::lock_guard<std::mutex> hold(mutex);
    return frames;
  }

private:
  const testdevices::PixelFormat format;
  const int width, height;
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<Frame> frames;
};

}  // namespace tesmo::test
