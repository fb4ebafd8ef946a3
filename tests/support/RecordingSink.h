// An AudioSink that keeps every block it is handed, and can be made to hold the
// delivery thread inside OnData until released.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <vector>

#include "Tesmo.h"
#include "support/DeliveryGate.h"

namespace tesmo::test {

class RecordingSink : public AudioSink, public DeliveryGate {
public:
  struct Block {
    std::vector<unsigned char> bytes;
    unsigned long tickMs;
  };

  void OnData(const unsigned char* data, int length, unsigned long tickMs) override {
    {
      std::lock_guard<std::mutex> hold(mutex);
      blocks.push_back({std::vector<unsigned char>(data, data + length), tickMs});
      stream.insert(stream.end(), data, data + length);
    }
    changed.notify_all();
    PassThrough();
  }

  bool WaitForBlocks(size_t count, int timeoutMs = 5000) {
    std::unique_lock<std::mutex> hold(mutex);
    return changed.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                            [&] { return blocks.size() >= count; });
  }
  bool WaitForStreamBytes(size_t count, int timeoutMs = 10000) {
    std::unique_lock<std::mutex> hold(mutex);
    return changed.wait_for(hold, std::chrono::milliseconds(timeoutMs),
                            [&] { return stream.size() >= count; });
  }

  size_t BlockCount() {
    std::lock_guard<std::mutex> lock(mutex);
    return blocks.size();
  }
  std::vector<Block> Blocks() {
    std::lock_guard<std::mutex> lock(mutex);
    return blocks;
  }
  std::vector<unsigned char> Stream() {
    std::lock_guard<std::mutex> lock(mutex);
    return stream;
  }

private:
  std::mutex mutex;
  std::condition_variable changed;
  std::vector<Block> blocks;
  std::vector<unsigned char> stream;
};

}  // namespace tesmo::test
