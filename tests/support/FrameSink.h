// A VideoSink that keeps the frame number (the test camera's bytes 0..3), length and
// ticks of every frame it is handed.
#pragma once

#include <windows.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

#include "Tesmo.h"

namespace tesmo::test {

class FrameSink : public VideoSink {
public:
  struct Frame {
    uint32_t number;
    int length;
    unsigned long arrivalTick;
    DWORD deliveryTick;
  };
  void OnData(const unsigned char* data, int length, unsigned long tickMs) override {
    uint32_t number = 0;
    if (length >= 4) std::memcpy(&number, data, 4);
    std::lock_guard<std::mutex> hold(mutex);
    frames.push_back({number, length, tickMs, GetTickCount()});
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
  size_t FrameCount() {
    std::lock_guard<std::mutex> hold(mutex);
    return frames.size();
  }

private:
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<Frame> frames;
};

}  // namespace tesmo::test
