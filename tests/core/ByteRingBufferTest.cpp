#include "audio/ByteRingBuffer.h"

#include <gtest/gtest.h>

#include <new>
#include <vector>

#include "support/ByteSequence.h"

using tesmo::ByteRingBuffer;
using tesmo::test::FirstSequenceBreak;
using tesmo::test::SequenceBytes;

namespace {

constexpr int32_t kInitial = ByteRingBuffer::kInitialCapacity;

// Writes the next `length` bytes of the stream.
void WriteNext(ByteRingBuffer& ring, uint64_t& written, size_t length) {
  auto bytes = SequenceBytes(written, length);
  ASSERT_EQ(ring.Write(bytes.data(), static_cast<uint32_t>(length)), 0);
  written += length;
}

// Reads `length` bytes and checks they continue the stream.
void ReadNext(ByteRingBuffer& ring, uint64_t& read, size_t length) {
  std::vector<unsigned char> out(length);
  ASSERT_EQ(ring.Read(out.data(), static_cast<int32_t>(length)), 0);
  ASSERT_EQ(FirstSequenceBreak(out.data(), length, read), -1);
  read += length;
}

}  // namespace

TEST(ByteRingBuffer, ExactFitWriteGrowsFirstAndKeepsOrder) {
  ByteRingBuffer ring;
  uint64_t written = 0, read = 0;
  WriteNext(ring, written, 1000);
  ReadNext(ring, read, 400);
  // capacity - count bytes would fill the ring completely: it must grow first.
  WriteNext(ring, written, kInitial - 600);
  EXPECT_EQ(ring.Capacity(), 2 * kInitial);
  EXPECT_EQ(ring.ReadPos(), 0);
  EXPECT_EQ(ring.WritePos(), kInitial);
  EXPECT_EQ(ring.Count(), kInitial);
  ReadNext(ring, read, kInitial);
  EXPECT_EQ(ring.Count(), 0);

  // One byte less than that fits without growth.
  ByteRingBuffer fitting;
  written = read = 0;
  WriteNext(fitting, written, kInitial - 1);
  EXPECT_EQ(fitting.Capacity(), kInitial);
  ReadNext(fitting, read, kInitial - 1);
}

TEST(ByteRingBuffer, GrowthPreservesOrderWithAndWithoutWrapAround) {
  {  // unread bytes lie in one piece
    ByteRingBuffer ring;
    uint64_t written = 0, read = 0;
    WriteNext(ring, written, 100000);
    ReadNext(ring, read, 50000);
    WriteNext(ring, written, 200000);  // 250000 unread: grows
    EXPECT_EQ(ring.Capacity(), 2 * kInitial);
    EXPECT_EQ(ring.ReadPos(), 0);
    EXPECT_EQ(ring.WritePos(), 250000);
    ReadNext(ring, read, 250000);
  }
  {  // unread bytes wrap around the end of storage
    ByteRingBuffer ring;
    uint64_t written = 0, read = 0;
    WriteNext(ring, written, 200000);
    ReadNext(ring, read, 150000);
    WriteNext(ring, written, 100000);  // wraps: writePos 69600
    ASSERT_EQ(ring.WritePos(), 69600);
    ASSERT_EQ(ring.Capacity(), kInitial);
    WriteNext(ring, written, 200000);  // 350000 unread: grows from a wrapped ring
    EXPECT_EQ(ring.Capacity(), 2 * kInitial);
    EXPECT_EQ(ring.ReadPos(), 0);
    EXPECT_EQ(ring.WritePos(), 350000);
    ReadNext(ring, read, 350000);
  }
  {  // a single write that needs several doublings
    ByteRingBuffer ring;
    uint64_t written = 0, read = 0;
    WriteNext(ring, written, 10);
    WriteNext(ring, written, 4 * static_cast<size_t>(kInitial));
    EXPECT_EQ(ring.Capacity(), 8 * kInitial);
    ReadNext(ring, read, written);
  }
}

TEST(ByteRingBuffer, PositionsEndingAtTheEndOfStorageWrapToZero) {
  ByteRingBuffer ring;
  uint64_t written = 0, read = 0;
  WriteNext(ring, written, 100000);
  ReadNext(ring, read, 100000);
  WriteNext(ring, written, kInitial - 100000);  // ends exactly at the end
  EXPECT_EQ(ring.WritePos(), 0);
  EXPECT_EQ(ring.Capacity(), kInitial);
  ReadNext(ring, read, kInitial - 100000);  // so does the read
  EXPECT_EQ(ring.ReadPos(), 0);
  EXPECT_EQ(ring.Count(), 0);
  // A read that crosses the end copies both pieces in order.
  WriteNext(ring, written, kInitial - 10);
  ReadNext(ring, read, kInitial - 20);
  WriteNext(ring, written, 100);
  ReadNext(ring, read, 110);
  EXPECT_EQ(ring.Count(), 0);
}

TEST(ByteRingBuffer, ReadOfCountSucceedsAndCountPlusOneChangesNothing) {
  ByteRingBuffer ring;
  uint64_t written = 0, read = 0;
  WriteNext(ring, written, 700);
  ReadNext(ring, read, 100);
  std::vector<unsigned char> out(601, 0xCD);
  EXPECT_EQ(ring.Read(out.data(), 601), -1);
  EXPECT_EQ(out[0], 0xCD);
  EXPECT_EQ(ring.Count(), 600);
  EXPECT_EQ(ring.ReadPos(), 100);
  EXPECT_EQ(ring.WritePos(), 700);
  EXPECT_EQ(ring.Read(out.data(), -1), -1);
  ReadNext(ring, read, 600);
  EXPECT_EQ(ring.Count(), 0);
  EXPECT_EQ(ring.ReadPos(), ring.WritePos());
}

TEST(ByteRingBuffer, ClearEmptiesAndKeepsGrownStorage) {
  ByteRingBuffer ring;
  uint64_t written = 0, read = 0;
  WriteNext(ring, written, kInitial + 5);
  ASSERT_EQ(ring.Capacity(), 2 * kInitial);
  EXPECT_EQ(ring.Clear(), 0);
  EXPECT_EQ(ring.Count(), 0);
  EXPECT_EQ(ring.ReadPos(), 0);
  EXPECT_EQ(ring.WritePos(), 0);
  EXPECT_EQ(ring.Capacity(), 2 * kInitial);
  unsigned char byte;
  EXPECT_EQ(ring.Read(&byte, 1), -1);
  written = read = 1000;
  WriteNext(ring, written, 50);
  ReadNext(ring, read, 50);
}

TEST(ByteRingBuffer, FailedGrowthThrowsAndKeepsTheContent) {
  ByteRingBuffer ring(2 * kInitial);  // may grow once
  uint64_t written = 0, read = 0;
  WriteNext(ring, written, 300000);
  ReadNext(ring, read, 1000);
  auto extra = SequenceBytes(written, 200000);
  EXPECT_THROW(ring.Write(extra.data(), 200000), std::bad_alloc);
  EXPECT_EQ(ring.Count(), 299000);
  EXPECT_EQ(ring.Capacity(), 2 * kInitial);
  EXPECT_EQ(ring.ReadPos(), 1000);
  ReadNext(ring, read, 299000);
  // A write the 32-bit capacity could never hold fails the same way.
  ByteRingBuffer unbounded;
  EXPECT_THROW(unbounded.Write(extra.data(), 0xFFFFFFFFu), std::bad_alloc);
  EXPECT_EQ(unbounded.Count(), 0);
}
