// Delivery latency on Windows (or under Wine), with the Win32 kernel services: from
// AudioDelivery::StoreSample to the sink's OnData on the time-critical delivery
// thread, and from a frame's arrival in VideoDelivery::StoreSample (a 30 fps camera's
// pace, 320 x 240 RGB24, delivered at 1800 frames per minute) to its OnData. Prints
// p50, p99 and max in microseconds. Run by scripts/bench.sh.
//   tesmo_delivery_latency [STORES] [FRAMES]
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <vector>

#include "Tesmo.h"
#include "audio/AudioDelivery.h"
#include "video/VideoDelivery.h"

namespace {

LONGLONG Now() {
  LARGE_INTEGER counter;
  QueryPerformanceCounter(&counter);
  return counter.QuadPart;
}

class StampSink : public AudioSink {
public:
  void OnData(const unsigned char*, int, unsigned long) override {
    if (count.load(std::memory_order_relaxed) == 0) firstBlock = Now();
    count.fetch_add(1, std::memory_order_release);
  }
  std::atomic<int> count{0};
  LONGLONG firstBlock = 0;
};

// Each frame carries the counter value of its arrival in its first bytes.
class FrameStampSink : public VideoSink {
public:
  void OnData(const unsigned char* data, int, unsigned long) override {
    LONGLONG stored;
    std::memcpy(&stored, data, sizeof stored);
    latencies.push_back(Now() - stored);  // the delivery thread only
    count.fetch_add(1, std::memory_order_release);
  }
  std::vector<LONGLONG> latencies;
  std::atomic<int> count{0};
};

void PrintPercentiles(const char* what, int count, std::vector<double>& latencies) {
  std::sort(latencies.begin(), latencies.end());
  auto at = [&](double q) { return latencies[static_cast<size_t>(q * (latencies.size() - 1))]; };
  std::printf("%s over %d: p50 %.1f us, p99 %.1f us, max %.1f us\n", what, count, at(0.5), at(0.99),
              latencies.back());
}

// Frames at 30 a second, each stamped as it is stored; false when too few came out.
bool MeasureFrames(int frames, double ticksPerMicro) {
  auto delivery = tesmo::VideoDelivery::Create();
  FrameStampSink sink;
  sink.latencies.reserve(static_cast<size_t>(frames));
  delivery->OpenStore();
  delivery->SetSink(&sink);
  delivery->SetRunning(true);
  std::vector<unsigned char> frame(320 * 240 * 3, 0x5A);
  const LONGLONG start = Now(), frameTicks = static_cast<LONGLONG>(ticksPerMicro * 1e6 / 30);
  for (int i = 0; i < frames; ++i) {
    // Each frame at its own time, as a camera's clock paces them.
    while (Now() < start + i * frameTicks) Sleep(1);
    const LONGLONG stored = Now();
    std::memcpy(frame.data(), &stored, sizeof stored);
    delivery->StoreSample(frame.data(), static_cast<int32_t>(frame.size()), 0);
  }
  Sleep(100);
  delivery->SetSink(nullptr);  // waits for a delivery in progress: the vector is ours now
  delivery->EndDelivery(1000);
  std::vector<double> micros;
  for (LONGLONG ticks : sink.latencies)
    micros.push_back(static_cast<double>(ticks) / ticksPerMicro);
  if (micros.empty()) return false;
  PrintPercentiles("frame arrival -> OnData (1800 frames per minute, 30 fps)", frames, micros);
  std::printf("frames delivered: %zu of %d\n", micros.size(), frames);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  const int samples = argc > 1 ? std::atoi(argv[1]) : 3000;
  const int frames = argc > 2 ? std::atoi(argv[2]) : 300;
  LARGE_INTEGER frequency;
  QueryPerformanceFrequency(&frequency);
  timeBeginPeriod(1);

  auto delivery = tesmo::AudioDelivery::Create();
  StampSink sink;
  delivery->SetSink(&sink);
  delivery->SetRunning(true);
  const std::vector<unsigned char> buffer(640, 0x5A);
  std::vector<double> latencies;
  for (int i = 0; i < samples; ++i) {
    // Empty the ring between measurements so each store delivers exactly one block.
    delivery->ResetStore();
    delivery->SetRunning(true);
    sink.count.store(0);
    const LONGLONG stored = Now();
    delivery->StoreSample(buffer.data(), 640, 0);
    const DWORD deadline = GetTickCount() + 1000;
    while (sink.count.load(std::memory_order_acquire) == 0 && GetTickCount() < deadline)
      YieldProcessor();
    if (sink.count.load() == 0) {
      std::fprintf(stderr, "no delivery within 1 s\n");
      return 1;
    }
    latencies.push_back(1e6 * static_cast<double>(sink.firstBlock - stored) / frequency.QuadPart);
    Sleep(1);  // let the delivery thread fall asleep, as between real buffers
  }
  delivery->SetRunning(false);
  delivery->EndDelivery(1000);
  PrintPercentiles("StoreSample -> OnData (audio)", samples, latencies);
  const bool framesOk = MeasureFrames(frames, frequency.QuadPart / 1e6);
  timeEndPeriod(1);
  return framesOk ? 0 : 1;
}
