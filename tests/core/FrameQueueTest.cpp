#include "video/FrameQueue.h"

#include <gtest/gtest.h>

using tesmo::FrameQueue;
using tesmo::FrameRecord;

namespace {
unsigned char buffers[16];
FrameRecord Record(int i) {
  return FrameRecord{100 + i, 1000u + static_cast<uint32_t>(i), &buffers[i]};
}
}  // namespace

TEST(FrameQueue, HoldsSixRecordsOldestFirst) {
  FrameQueue queue;
  EXPECT_EQ(queue.Count(), 0);
  EXPECT_EQ(queue.Oldest(), nullptr);
  for (int i = 0; i < FrameQueue::kMaxRecords; ++i) EXPECT_TRUE(queue.Append(Record(i)));
  EXPECT_FALSE(queue.Append(Record(6)));
  EXPECT_EQ(queue.Count(), 6);
  for (int i = 0; i < FrameQueue::kMaxRecords; ++i) {
    const FrameRecord* oldest = queue.Oldest();
    ASSERT_NE(oldest, nullptr);
    EXPECT_EQ(oldest->length, 100 + i);
    EXPECT_EQ(oldest->tick, 1000u + i);
    EXPECT_EQ(oldest->data, &buffers[i]);
    queue.RemoveOldest();
  }
  EXPECT_EQ(queue.Count(), 0);
  EXPECT_EQ(queue.Oldest(), nullptr);
  queue.RemoveOldest();  // on an empty queue: nothing
  EXPECT_EQ(queue.Count(), 0);
}

TEST(FrameQueue, KeepsOrderAcrossTheEndOfItsStorage) {
  FrameQueue queue;
  int appended = 0, removed = 0;
  // Uneven appends and removals walk the head all the way round several times.
  for (int round = 0; round < 20; ++round) {
    for (int k = 0; k < 1 + round % 4 && queue.Count() < FrameQueue::kMaxRecords; ++k)
      ASSERT_TRUE(queue.Append(Record(appended++ % 16)));
    for (int k = 0; k < 1 + round % 3 && queue.Count() > 0; ++k) {
      ASSERT_EQ(queue.Oldest()->data, &buffers[removed++ % 16]);
      queue.RemoveOldest();
    }
    ASSERT_EQ(queue.Count(), appended - removed);
  }
  EXPECT_GT(appended, 2 * FrameQueue::kMaxRecords);
}
