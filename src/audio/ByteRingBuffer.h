// Growable circular byte store between the streaming thread (Write) and the audio
// delivery thread (Read). Every field is guarded by `lock`; `count` is also read
// without it as a quick test, which is why it is atomic. A stale count only delays
// or drops data: Read checks it again under the lock.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/Kernel.h"

namespace tesmo {

class ByteRingBuffer {
public:
  static constexpr int32_t kInitialCapacity = 230400;
  // Growth that would pass this bound fails like an allocation; the default only
  // keeps the doubled capacity inside 32 bits.
  static constexpr int32_t kMaxCapacity = INT32_MAX;

  explicit ByteRingBuffer(int32_t maxCapacity = kMaxCapacity);  // throws std::bad_alloc
  virtual ~ByteRingBuffer();
  ByteRingBuffer(const ByteRingBuffer&) = delete;
  ByteRingBuffer& operator=(const ByteRingBuffer&) = delete;

  // Appends all bytes behind the unread data, doubling the storage as often as
  // needed; returns 0. Throws std::bad_alloc when the storage cannot grow, leaving
  // the ring as it was.
  int32_t Write(const void* data, uint32_t length);
  // Copies exactly the `length` oldest bytes to dest and removes them, returning 0;
  // returns -1 and changes nothing when fewer are stored.
  int32_t Read(void* dest, int32_t length);
  // Empties the ring; the storage keeps its grown size.
  int32_t Clear();

  int32_t Count() const { return count.load(std::memory_order_acquire); }

  // Observers for tests and diagnostics, read under the lock.
  int32_t Capacity() const;
  int32_t ReadPos() const;
  int32_t WritePos() const;

private:
  // Replaces the storage by one of newCapacity bytes (a doubling of the old one, or
  // several), the unread bytes first and in order.
  void Grow(int64_t newCapacity);

  mutable RecursiveLock lock;
  int32_t maxCapacity;
  int32_t capacity;
  unsigned char* storage;
  int32_t readPos;
  int32_t writePos;
  std::atomic<int32_t> count;
};

}  // namespace tesmo
