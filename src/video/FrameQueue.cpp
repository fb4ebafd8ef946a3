#include "video/FrameQueue.h"

namespace tesmo {

bool FrameQueue::Append(const FrameRecord& record) {
  const int32_t used = count.load(std::memory_order_relaxed);
  if (used >= kMaxRecords) return false;
  records[(head + used) % kMaxRecords] = record;
  count.store(used + 1, std::memory_order_release);
  return true;
}

const FrameRecord* FrameQueue::Oldest() const {
  return count.load(std::memory_order_relaxed) > 0 ? &records[head] : nullptr;
}

void FrameQueue::RemoveOldest() {
  const int32_t used = count.load(std::memory_order_relaxed);
  if (used == 0) return;
  records[head] = FrameRecord{};
  head = (head + 1) % kMaxRecords;
  count.store(used - 1, std::memory_order_release);
}

}  // namespace tesmo
