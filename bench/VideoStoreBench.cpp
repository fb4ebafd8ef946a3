// Cost of storing one 640 x 480 RGB24 frame on the streaming thread, beside a bare
// copy of the same 921600 bytes, and the heap allocations per frame in steady state.
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstring>
#include <set>
#include <thread>
#include <vector>

#include "Tesmo.h"
#include "video/VideoDelivery.h"

namespace {

constexpr int32_t kWidth = 640, kHeight = 480, kBits = 24;
constexpr int32_t kLength = kWidth * kHeight * kBits / 8;

// Remembers the buffers it was lent: one address for the whole run means no frame
// buffer was allocated per frame.
class AddressSink : public VideoSink {
public:
  void OnData(const unsigned char* data, int, unsigned long) override { seen.insert(data); }
  std::set<const unsigned char*> seen;  // delivery thread only until it has ended
};

void BM_FrameMemcpy(benchmark::State& state) {
  std::vector<unsigned char> from(kLength, 0x5A), to(kLength);
  for (auto _ : state) {
    std::memcpy(to.data(), from.data(), kLength);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kLength);
}
BENCHMARK(BM_FrameMemcpy);

// The same copy timed as StoreSample is: one frame per delivery cycle (30 ms at the
// default pace), so caches and clock are in the state a frame finds when it arrives.
void BM_FrameMemcpyAfterWait(benchmark::State& state) {
  std::vector<unsigned char> from(kLength, 0x5A), to(kLength);
  for (auto _ : state) {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    const auto start = std::chrono::steady_clock::now();
    std::memcpy(to.data(), from.data(), kLength);
    benchmark::DoNotOptimize(to.data());
    benchmark::ClobberMemory();
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kLength);
}
BENCHMARK(BM_FrameMemcpyAfterWait)->UseManualTime()->Iterations(100);

// Each frame is stored into an empty queue, as a device at the delivery pace does;
// the wait for the delivery thread to take it is not timed. In steady state the pool
// neither grows nor hands out another buffer.
void BM_VideoStoreSample(benchmark::State& state) {
  const std::vector<unsigned char> frame(kLength, 0x5A);
  AddressSink sink;
  auto delivery = tesmo::VideoDelivery::Create();
  delivery->SetFrameFormat(kWidth, kHeight, kBits);
  delivery->OpenStore();
  delivery->SetSink(&sink);
  delivery->SetRunning(true);
  auto drained = [&] {
    while (delivery->QueuedFrames() != 0)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
  };
  // Warm up: the first frame sizes the pool and allocates its buffer.
  delivery->StoreSample(frame.data(), kLength, 0);
  drained();
  const auto& pool = delivery->Pool();
  const size_t buffersBefore = pool.FreeCount() + pool.InUseCount();
  for (auto _ : state) {
    drained();
    const auto start = std::chrono::steady_clock::now();
    delivery->StoreSample(frame.data(), kLength, 0);
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count());
  }
  drained();
  delivery->EndDelivery(1000);
  state.counters["buffers_lent"] = static_cast<double>(sink.seen.size());
  state.counters["buffers_added"] = static_cast<double>(pool.FreeCount() + pool.InUseCount()) -
                                    static_cast<double>(buffersBefore);
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * kLength);
}
BENCHMARK(BM_VideoStoreSample)->UseManualTime()->Iterations(100);

}  // namespace
