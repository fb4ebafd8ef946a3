// Reusable frame buffers of one block size, shared by the streaming thread
// (BlockSize, ResetBlockSize, Acquire in StoreSample), the video delivery thread
// (Recycle) and host threads (ResetBlockSize through Open and Reset).
//
// Every buffer the pool has allocated stands in exactly one of three sets, ordered
// by address: free (idle, kept for reuse), in use (handed out by Acquire since the
// last ResetBlockSize), retired (handed out before the last ResetBlockSize; freed on
// return, never handed out again). The pool owns them all, handed-out ones too.
//
// Threads and locks: `lock` guards every field; it is recursive because Recycle
// calls Trim and destruction calls ResetBlockSize with it held. The pool never calls
// out and never takes another lock, so callers that hold the video queueLock may
// recycle (queueLock before the pool's lock). blockSize is also read without the lock
// by BlockSize, hence atomic.
//
// No operation throws: a buffer or set node that cannot be allocated makes Acquire
// return null, which the streaming thread treats as a dropped frame.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <set>
#include <vector>

#include "common/Kernel.h"

namespace tesmo {

class FramePool {
public:
  // Trimming needs this many reuses since the last fresh allocation, and costs as many.
  static constexpr int32_t kTrimReuses = 10;
  static constexpr int32_t kSparePercent = 100;

  FramePool();
  // Frees every buffer, handed-out ones included: their holders must be done.
  ~FramePool();
  FramePool(const FramePool&) = delete;
  FramePool& operator=(const FramePool&) = delete;

  // A buffer of BlockSize() bytes, the free one with the lowest address first; null
  // while the pool is off (block size below 1) or when the heap is exhausted.
  unsigned char* Acquire();
  // For a frame of `length` bytes: when it is longer than BlockSize(), first
  // ResetBlockSize(length + 1) (just length at INT32_MAX); then Acquire. Both under one hold of the lock, since
  // a host's ResetBlockSize between the test and the Acquire would hand out a block
  // smaller than the frame.
  unsigned char* AcquireFor(int32_t length);
  // Gives a buffer back: an in-use one becomes free, a retired one is freed, any
  // other address changes nothing. Null returns at once; otherwise Trim runs.
  void Recycle(unsigned char* buffer);
  // Starts a new generation: frees the idle buffers, retires the handed-out ones and
  // hands out blocks of newBlockSize bytes from now on (none while it is below 1).
  void ResetBlockSize(int32_t newBlockSize);
  int32_t BlockSize() const { return blockSize.load(std::memory_order_acquire); }

  // Observers for tests and diagnostics, read under the lock.
  size_t FreeCount() const;
  size_t InUseCount() const;
  size_t RetiredCount() const;
  int32_t ReuseCount() const;
  bool IsInUse(const unsigned char* buffer) const;
  bool IsRetired(const unsigned char* buffer) const;
  std::vector<const unsigned char*> FreeBuffers() const;  // ascending addresses

private:
  // Gives idle memory back once reuse has been steady and the free set outgrows the
  // in-use set: a quarter of the free buffers, lowest addresses first.
  void Trim();

  // std::less gives pointers a total order, the ascending-address order.
  using BufferSet = std::set<unsigned char*>;

  mutable RecursiveLock lock;
  int32_t reuseCount = 0;
  std::atomic<int32_t> blockSize{-1};
  BufferSet freeBuffers;
  BufferSet inUseBuffers;
  BufferSet retiredBuffers;
};

}  // namespace tesmo
