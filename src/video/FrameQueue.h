// Frames waiting for the video delivery thread, oldest first.
//
// The queue has no lock of its own: the video queueLock guards it, and the count is
// updated under that lock together with the records. Count() is also read without
// the lock (StoreSample's quick test, the delivery thread's loop condition), hence
// atomic; a stale value only delays or drops a frame.
//
// Storage is a fixed ring of kMaxRecords, so appending never allocates and the
// streaming thread cannot fail on it.
#pragma once

#include <atomic>
#include <cstdint>

namespace tesmo {

// One queued frame. `data` is a FramePool buffer lent to the record until the frame
// leaves the queue; the pool owns it.
struct FrameRecord {
  int32_t length;
  uint32_t tick;  // tick count when the frame arrived from the grabber
  unsigned char* data;
};

class FrameQueue {
public:
  // StoreSample appends only while at most 5 frames wait.
  static constexpr int32_t kMaxRecords = 6;

  // Adds the record at the tail; false, and nothing changes, when the queue is full.
  bool Append(const FrameRecord& record);
  // The oldest record, or null when the queue is empty.
  const FrameRecord* Oldest() const;
  // Removes the oldest record; nothing when empty.
  void RemoveOldest();

  int32_t Count() const { return count.load(std::memory_order_acquire); }

private:
  FrameRecord records[kMaxRecords] = {};
  int32_t head = 0;
  std::atomic<int32_t> count{0};
};

}  // namespace tesmo
