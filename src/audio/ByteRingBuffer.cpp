#include "audio/ByteRingBuffer.h"

#include <cstring>
#include <new>

namespace tesmo {

namespace {
// Cache-line aligned storage: memcpy into a buffer 16 bytes off a line boundary is
// several times slower on some processors.
constexpr std::align_val_t kStorageAlignment{64};

unsigned char* AllocateStorage(int32_t bytes) {
  return static_cast<unsigned char*>(
      ::operator new[](static_cast<size_t>(bytes), kStorageAlignment));
}

void FreeStorage(unsigned char* storage) { ::operator delete[](storage, kStorageAlignment); }
}  // namespace

ByteRingBuffer::ByteRingBuffer(int32_t maxCapacity)
    : maxCapacity(maxCapacity),
      capacity(kInitialCapacity),
      storage(AllocateStorage(kInitialCapacity)),
      readPos(0),
      writePos(0),
      count(0) {}

ByteRingBuffer::~ByteRingBuffer() { FreeStorage(storage); }

int32_t ByteRingBuffer::Write(const void* data, uint32_t length) {
  ScopedLock hold(lock);
  // Never fill the ring completely: a full ring would look empty (readPos == writePos).
  // Grow by doubling until the bytes fit, in one step.
  const int64_t used = count.load(std::memory_order_relaxed);
  int64_t needed = capacity;
  while (needed - used <= static_cast<int64_t>(length)) needed *= 2;
  if (needed != capacity) Grow(needed);

  const auto* bytes = static_cast<const unsigned char*>(data);
  uint32_t toEnd = static_cast<uint32_t>(capacity - writePos);
  if (toEnd > length) {
    std::memcpy(storage + writePos, bytes, length);
  } else {
    std::memcpy(storage + writePos, bytes, toEnd);
    std::memcpy(storage, bytes + toEnd, length - toEnd);
  }
  writePos = static_cast<int32_t>((static_cast<uint32_t>(writePos) + length) % capacity);
  count.fetch_add(static_cast<int32_t>(length), std::memory_order_release);
  return 0;
}

void ByteRingBuffer::Grow(int64_t newCapacity) {
  ScopedLock hold(lock);
  // Checked before allocating, so a hopeless write costs nothing.
  if (newCapacity > maxCapacity) throw std::bad_alloc();
  const auto grown = static_cast<int32_t>(newCapacity);
  unsigned char* bigger = AllocateStorage(grown);  // throws before anything changes

  int32_t used = count.load(std::memory_order_relaxed);
  if (writePos > readPos) {
    std::memcpy(bigger, storage + readPos, used);
  } else if (used > 0) {
    int32_t tail = capacity - readPos;
    std::memcpy(bigger, storage + readPos, tail);
    std::memcpy(bigger + tail, storage, writePos);
  }
  FreeStorage(storage);
  storage = bigger;
  capacity = grown;
  readPos = 0;
  writePos = used;
}

int32_t ByteRingBuffer::Read(void* dest, int32_t length) {
  ScopedLock hold(lock);
  if (length < 0 || count.load(std::memory_order_relaxed) < length) return -1;

  auto* out = static_cast<unsigned char*>(dest);
  if (readPos + length <= capacity) {
    std::memcpy(out, storage + readPos, length);
  } else {
    int32_t tail = capacity - readPos;
    std::memcpy(out, storage + readPos, tail);
    std::memcpy(out + tail, storage, length - tail);
  }
  readPos = (readPos + length) % capacity;
  count.fetch_sub(length, std::memory_order_release);
  return 0;
}

int32_t ByteRingBuffer::Clear() {
  ScopedLock hold(lock);
  readPos = 0;
  writePos = 0;
  count.store(0, std::memory_order_release);
  return 0;
}

int32_t ByteRingBuffer::Capacity() const {
  ScopedLock hold(lock);
  return capacity;
}

int32_t ByteRingBuffer::ReadPos() const {
  ScopedLock hold(lock);
  return readPos;
}

int32_t ByteRingBuffer::WritePos() const {
  ScopedLock hold(lock);
  return writePos;
}

}  // namespace tesmo
