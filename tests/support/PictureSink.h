// A VideoSink that reads the test camera's picture from each frame as it arrives,
// in the host's format: its length, the camera's frame number from the cells (which
// survive conversion) and whether the colour bars are where the camera drew them.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

#include "Tesmo.h"
#include "support/FrameLog.h"
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
    log.Add({length, number, std::move(bars), tickMs, GetTickCount()});
  }
  bool WaitFor(size_t count, int timeoutMs = 5000) { return log.WaitFor(count, timeoutMs); }
  std::vector<Frame> Frames() { return log.Frames(); }

private:
  const testdevices::PixelFormat format;
  const int width, height;
  FrameLog<Frame> log;
};

}  // namespace tesmo::test
