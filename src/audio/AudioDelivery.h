// The audio data path from the streaming thread to the host's sink.
//
// StoreSample (streaming thread) copies each captured buffer whole into the ring
// while a sink is set, capture runs and no more than kAdmittedBlocks blocks wait,
// then signals dataEvent. The delivery thread wakes on it and hands the sink blocks
// of exactly BlockBytes() bytes while more than one block is stored, each with the
// tick count read just before the call.
//
// Threads and locks (see SinkDelivery for the sink, the flags and the operation
// lock): no lock on the data path between the streaming thread and the delivery
// thread; the ring is built for exactly one writer and one reader. blockBytes is an
// atomic read without a lock.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "Tesmo.h"
#include "audio/ByteRingBuffer.h"
#include "common/Kernel.h"
#include "common/SinkDelivery.h"

namespace tesmo {

class AudioDelivery : public SinkDelivery<AudioSink> {
public:
  static constexpr int32_t kMaxBlockBytes = 1024;  // the delivery thread's block buffer
  static constexpr int32_t kDefaultBlockBytes = 320;
  static constexpr int32_t kAdmittedBlocks = 70;

  // Builds the data path and starts its delivery thread at time-critical priority.
  // Throws std::bad_alloc when the ring's storage cannot be allocated.
  static std::shared_ptr<AudioDelivery> Create(
      int32_t ringMaxCapacity = ByteRingBuffer::kMaxCapacity);
  ~AudioDelivery();

  // 1 ... kMaxBlockBytes; the caller checks the range.
  void SetBlockBytes(int32_t bytes) { blockBytes.store(bytes, std::memory_order_release); }
  int32_t BlockBytes() const { return blockBytes.load(std::memory_order_acquire); }

  // One captured buffer, on the streaming thread; the bytes are copied before it
  // returns. Dropped when no sink is set, capture is not running, the ring already
  // holds more than kAdmittedBlocks blocks, or the ring cannot grow.
  void StoreSample(const unsigned char* data, int32_t length, uint32_t tickMs);

  // The end of a successful Open: a new generation, which it returns.
  uint32_t OpenStore();
  // The data path's part of Reset: clears running and any close request, then
  // discards every stored byte (running first, so nothing refills the ring).
  void ResetStore();

  // The thread procedure; its parameter is a heap std::shared_ptr<AudioDelivery>
  // that the thread takes over. Null ends the thread at once with 0xFFFFFFFF.
  static uint32_t AudioDeliveryThread(void* parameter);

  const ByteRingBuffer& Ring() const { return ringBuffer; }

  // What happened to the device's bytes since the last OpenStore, read without a
  // lock: every byte lands in a delivered block, is refused, or is still stored (a
  // snapshot while bytes move may be off by the buffer or block on its way).
  struct Counts {
    uint64_t fromDevice = 0, blocksDelivered = 0, refused = 0, stored = 0;
    uint32_t lastBufferTick = 0;
  };
  Counts ReadCounts() const;
  // The tick of the last device buffer (0: none since Open), for the silence check.
  uint32_t LastBufferTick() const { return lastBufferTick.load(std::memory_order_acquire); }
  // Wake-ups the delivery thread has finished draining; lets a caller wait until a
  // stored buffer has been looked at, delivered or not.
  uint32_t DrainPasses() const { return drainPasses.load(std::memory_order_acquire); }

private:
  friend class SinkDelivery<AudioSink>;
  explicit AudioDelivery(int32_t ringMaxCapacity);
  void DeliverUntilEnded();

  std::atomic<int32_t> blockBytes{kDefaultBlockBytes};
  std::atomic<uint32_t> drainPasses{0};
  std::atomic<uint64_t> bytesFromDevice{0};
  std::atomic<uint64_t> blocksDelivered{0};
  std::atomic<uint64_t> bytesRefused{0};
  std::atomic<uint32_t> lastBufferTick{0};
  void Refuse(int32_t length) {
    if (length > 0) bytesRefused.fetch_add(static_cast<uint64_t>(length), std::memory_order_acq_rel);
  }
  ByteRingBuffer ringBuffer;
  // The wake-up event is the data event: signalled for every stored buffer, for a
  // close request and for the end of delivery.
  AutoResetEvent& dataEvent = wakeEvent;
};

}  // namespace tesmo
