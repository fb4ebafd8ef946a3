// ByteRingBuffer throughput: a two-thread stream of 320-, 1024- and 3072-byte blocks
// beside JACK's lock-free ring, and single-thread 3072-byte Write+Read beside plain
// memcpy.
#include <benchmark/benchmark.h>
#include <jack/ringbuffer.h>

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstring>
#include <thread>
#include <vector>
#include <memory>

#include "audio/ByteRingBuffer.h"

namespace {

// Spins briefly, then gives the core away: with only two cores, a waiting thread
// that never yields can keep the other side (or another process) off the CPU.
class Backoff {
public:
  void Wait() {
    if (++spins < 64) {
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#endif
    } else {
      spins = 0;
      std::this_thread::yield();
    }
  }

private:
  int spins = 0;
};

// Cache-line aligned, so every run copies with the same alignment: glibc's memcpy
// on some CPUs is several times slower for some source/destination offsets.
struct alignas(64) Buffer {
  unsigned char bytes[3072];
  unsigned char* data() { return bytes; }
  const unsigned char* data() const { return bytes; }
};

std::unique_ptr<Buffer> Pattern() {
  auto buffer = std::make_unique<Buffer>();
  for (size_t i = 0; i < sizeof buffer->bytes; ++i)
    buffer->bytes[i] = static_cast<unsigned char>(i * 7 + 1);
  return buffer;
}

// Both rings behind the same four calls, so the stream loop is shared.
// The producer waits for room instead of letting ByteRingBuffer grow, so both
// rings run with a fixed store of about the same size (225 KiB and 256 KiB).
struct TesmoRing {
  tesmo::ByteRingBuffer ring;
  // Each end's quick test, as the streaming and the delivery thread make it.
  bool HasRoom(int32_t n) {
    return ring.WriterHasAtMost(tesmo::ByteRingBuffer::kInitialCapacity - n - 1);
  }
  void Write(const unsigned char* p, int32_t n) { ring.Write(p, static_cast<uint32_t>(n)); }
  bool HasData(int32_t n) { return ring.ReaderHasMoreThan(n - 1); }
  void Read(unsigned char* p, int32_t n) { ring.Read(p, n); }
};

struct JackRing {
  jack_ringbuffer_t* rb = jack_ringbuffer_create(256 * 1024);
  ~JackRing() { jack_ringbuffer_free(rb); }
  bool HasRoom(int32_t n) const {
    return jack_ringbuffer_write_space(rb) >= static_cast<size_t>(n);
  }
  void Write(const unsigned char* p, int32_t n) {
    jack_ringbuffer_write(rb, reinterpret_cast<const char*>(p), n);
  }
  bool HasData(int32_t n) const { return jack_ringbuffer_read_space(rb) >= static_cast<size_t>(n); }
  void Read(unsigned char* p, int32_t n) {
    jack_ringbuffer_read(rb, reinterpret_cast<char*>(p), n);
  }
};

// 2.6 MB per iteration at 320-byte blocks, so the hand-over per iteration is noise.
constexpr int64_t kStreamBytes = 8192 * 320;

// One iteration writes the whole stream on this thread, in blocks of range(0) bytes,
// and waits until the consumer thread has read it all back.
template <class Ring>
void StreamBlocks(benchmark::State& state) {
  const auto blockBytes = static_cast<int32_t>(state.range(0));
  const int64_t streamBlocks = kStreamBytes / blockBytes;
  Ring ring;
  const auto source = Pattern();
  std::atomic<uint64_t> consumed{0};
  std::atomic<bool> stop{false};

  std::thread consumer([&] {
    alignas(64) unsigned char block[3072];  // the largest block streamed
    uint64_t total = 0;
    Backoff idle;
    for (;;) {
      if (ring.HasData(blockBytes)) {
        ring.Read(block, blockBytes);
        benchmark::DoNotOptimize(block);
        total += blockBytes;
        consumed.store(total, std::memory_order_release);
      } else if (stop.load(std::memory_order_acquire)) {
        break;
      } else {
        idle.Wait();
      }
    }
  });

  uint64_t target = 0;
  Backoff full;
  for (auto _ : state) {
    for (int64_t i = 0; i < streamBlocks; ++i) {
      while (!ring.HasRoom(blockBytes)) full.Wait();
      ring.Write(source->data(), blockBytes);
    }
    target += streamBlocks * blockBytes;
    while (consumed.load(std::memory_order_acquire) < target) full.Wait();
  }
  stop.store(true, std::memory_order_release);
  consumer.join();
  state.SetBytesProcessed(state.iterations() * streamBlocks * blockBytes);
}

void BM_RingStream(benchmark::State& state) { StreamBlocks<TesmoRing>(state); }
void BM_JackStream(benchmark::State& state) { StreamBlocks<JackRing>(state); }
// Two spinning threads on a small machine are easily disturbed by other work, so the
// best repetition (highest rate: "max" of the counters) is reported beside the median.
double Largest(const std::vector<double>& values) {
  return *std::max_element(values.begin(), values.end());
}
BENCHMARK(BM_RingStream)
    ->Arg(320)
    ->Arg(1024)
    ->Arg(3072)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("max", Largest);
BENCHMARK(BM_JackStream)
    ->Arg(320)
    ->Arg(1024)
    ->Arg(3072)
    ->UseRealTime()
    ->Unit(benchmark::kMicrosecond)
    ->ComputeStatistics("max", Largest);

constexpr int32_t kLarge = 3072;

void BM_RingWriteRead3072(benchmark::State& state) {
  tesmo::ByteRingBuffer ring;
  const auto source = Pattern();
  auto dest = std::make_unique<Buffer>();
  for (auto _ : state) {
    ring.Write(source->data(), kLarge);
    ring.Read(dest->data(), kLarge);
    benchmark::DoNotOptimize(dest->data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kLarge);
}
BENCHMARK(BM_RingWriteRead3072);

// The same bytes copied once.
void BM_Memcpy3072(benchmark::State& state) {
  const auto source = Pattern();
  auto dest = std::make_unique<Buffer>();
  for (auto _ : state) {
    std::memcpy(dest->data(), source->data(), kLarge);
    benchmark::DoNotOptimize(dest->data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kLarge);
}
BENCHMARK(BM_Memcpy3072);

// The same bytes copied in and out through a staging buffer: the two copies a
// ring makes, without its bookkeeping.
void BM_MemcpyInOut3072(benchmark::State& state) {
  const auto source = Pattern();
  auto staging = std::make_unique<Buffer>();
  auto dest = std::make_unique<Buffer>();
  for (auto _ : state) {
    std::memcpy(staging->data(), source->data(), kLarge);
    benchmark::DoNotOptimize(staging->data());
    std::memcpy(dest->data(), staging->data(), kLarge);
    benchmark::DoNotOptimize(dest->data());
    benchmark::ClobberMemory();
  }
  state.SetBytesProcessed(state.iterations() * kLarge);
}
BENCHMARK(BM_MemcpyInOut3072);

}  // namespace
