// Delivery latency: from AudioDelivery::StoreSample on this thread to the sink's
// OnData on the delivery thread, reported as p50/p99/max in microseconds.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <thread>
#include <vector>

#include "Tesmo.h"
#include "audio/AudioDelivery.h"

namespace {

using Clock = std::chrono::steady_clock;

// Records when each block arrives; only the delivery thread writes, and the count
// is published after the stamp, so the reader sees a complete stamp.
class StampSink : public AudioSink {
public:
  explicit StampSink(size_t capacity) : stamps(capacity) {}
  void OnData(const unsigned char*, int, unsigned long) override {
    const uint64_t index = count.load(std::memory_order_relaxed);
    if (index < stamps.size()) stamps[index] = Clock::now();
    count.store(index + 1, std::memory_order_release);
  }
  std::vector<Clock::time_point> stamps;
  std::atomic<uint64_t> count{0};
};

// Spins (yielding) until the sink has seen `wanted` blocks; false after a second.
bool WaitForBlocks(const StampSink& sink, uint64_t wanted) {
  const auto deadline = Clock::now() + std::chrono::seconds(1);
  while (sink.count.load(std::memory_order_acquire) < wanted) {
    if (Clock::now() > deadline) return false;
    std::this_thread::yield();
  }
  return true;
}

// Argument: idle gap between stores in microseconds; 0 stores back to back, a gap
// lets the delivery thread fall fully asleep as it does between real buffers.
void BM_DeliveryLatency(benchmark::State& state) {
  const auto gap = std::chrono::microseconds(state.range(0));
  constexpr int32_t kBlock = 320;
  constexpr int32_t kStore = 2 * kBlock;
  const std::vector<unsigned char> sample(kStore, 0x5A);

  StampSink sink(static_cast<size_t>(state.max_iterations) * 2 + 2);
  auto delivery = tesmo::AudioDelivery::Create();
  delivery->SetBlockBytes(kBlock);
  delivery->SetRunning(true);
  delivery->SetSink(&sink);

  std::vector<double> latencies;
  latencies.reserve(static_cast<size_t>(state.max_iterations));
  uint64_t delivered = 0;
  for (auto _ : state) {
    // Up to one block stays behind, so the first store yields one block and every
    // later one two (the stored 320 plus 640 make three, two of them handed out).
    const uint64_t perStore = delivered == 0 ? 1 : 2;
    const auto stored = Clock::now();
    delivery->StoreSample(sample.data(), kStore, tesmo::TickCount());
    if (!WaitForBlocks(sink, delivered + 1)) {
      state.SkipWithError("no block delivered within 1 s");
      break;
    }
    const double seconds = std::chrono::duration<double>(sink.stamps[delivered] - stored).count();
    state.SetIterationTime(seconds);
    latencies.push_back(seconds * 1e6);
    if (!WaitForBlocks(sink, delivered + perStore)) {
      state.SkipWithError("second block not delivered within 1 s");
      break;
    }
    delivered += perStore;
    if (gap.count() > 0) std::this_thread::sleep_for(gap);
  }

  delivery->SetSink(nullptr);
  delivery->SetRunning(false);
  delivery->EndDelivery(1000);

  if (latencies.empty()) return;
  std::sort(latencies.begin(), latencies.end());
  auto percentile = [&](double p) {
    size_t rank = static_cast<size_t>(p * static_cast<double>(latencies.size()) + 0.999999);
    return latencies[std::min(latencies.size(), std::max<size_t>(rank, 1)) - 1];
  };
  state.counters["p50_us"] = percentile(0.50);
  state.counters["p99_us"] = percentile(0.99);
  state.counters["max_us"] = latencies.back();
}
// One long run each: percentiles want many samples more than repetitions.
BENCHMARK(BM_DeliveryLatency)
    ->Arg(0)
    ->Iterations(20000)
    ->Repetitions(1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DeliveryLatency)
    ->Arg(1000)
    ->Iterations(5000)
    ->Repetitions(1)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond);

}  // namespace
