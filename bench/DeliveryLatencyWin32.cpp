// Delivery latency on Windows (or under Wine): from AudioDelivery::StoreSample to
// the sink's OnData on the time-critical delivery thread, with the Win32 kernel
// services. Prints p50, p99 and max in microseconds. Run by scripts/bench.sh.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <vector>

#include "Tesmo.h"
#include "audio/AudioDelivery.h"

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

}  // namespace

int main(int argc, char** argv) {
  const int samples = argc > 1 ? std::atoi(argv[1]) : 3000;
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
  timeEndPeriod(1);

  std::sort(latencies.begin(), latencies.end());
  auto at = [&](double q) { return latencies[static_cast<size_t>(q * (latencies.size() - 1))]; };
  std::printf("StoreSample -> OnData over %d stores: p50 %.1f us, p99 %.1f us, max %.1f us\n",
              samples, at(0.5), at(0.99), latencies.back());
  return 0;
}
