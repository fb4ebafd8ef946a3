// What a test sink records of each frame, filled on the library's delivery thread and
// read, or waited for with a bound, on the test's thread.
#pragma once

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <vector>

namespace tesmo::test {

template <class Frame>
class FrameLog {
public:
  void Add(Frame frame) {
    std::lock_guard<std::mutex> hold(mutex);
    frames.push_back(std::move(frame));
    arrived.notify_all();
  }
  // Waits until the frames recorded satisfy `done` (called with them, under the lock),
  // or for timeoutMs; whether they did.
  template <class Done>
  bool WaitUntil(Done done, int timeoutMs) {
    std::unique_lock<std::mutex> hold(mutex);
    return arrived.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                            [&] { return done(frames); });
  }
  bool WaitFor(size_t count, int timeoutMs) {
    return WaitUntil([count](const std::vector<Frame>& f) { return f.size() >= count; },
                     timeoutMs);
  }
  std::vector<Frame> Frames() {
    std::lock_guard<std::mutex> hold(mutex);
    return frames;
  }

private:
  std::mutex mutex;
  std::condition_variable arrived;
  std::vector<Frame> frames;
};

}  // namespace tesmo::test
