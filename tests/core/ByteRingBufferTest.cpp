#include "audio/ByteRingBuffer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <chrono>
#include <new>
#include <random>
#include <thread>
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
  ring.Write(bytes.data(), static_cast<uint32_t>(length));
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
  ring.Clear();
  EXPECT_EQ(ring.Count(), 0);
  // The read position moves to the write position; the storage stays grown.
  EXPECT_EQ(ring.ReadPos(), ring.WritePos());
  EXPECT_EQ(ring.WritePos(), kInitial + 5);
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

// A Clear hands the space of what it discarded back to the writer at once, without
// waiting for the reader to look: the writer may not have to grow (or, at its
// limit, fail) for bytes nobody will read, and the reader's quick test and Read
// agree on what is there.
TEST(ByteRingBuffer, ClearedSpaceIsReusedWithoutGrowthBeforeTheReaderLooks) {
  {
    ByteRingBuffer ring(kInitial);  // may not grow at all
    uint64_t written = 0, read = 0;
    WriteNext(ring, written, 200000);
    ring.Clear();
    read = written;
    for (int round = 0; round < 12; ++round) {
      WriteNext(ring, written, 40000);  // threw bad_alloc while the cleared bytes held space
      ring.Clear();
      read = written;
    }
    WriteNext(ring, written, 40000);
    EXPECT_EQ(ring.Capacity(), kInitial);
    EXPECT_EQ(ring.Count(), 40000);
    EXPECT_TRUE(ring.ReaderHasMoreThan(39999));
    EXPECT_FALSE(ring.ReaderHasMoreThan(40000));
    ReadNext(ring, read, 40000);
    EXPECT_FALSE(ring.ReaderHasMoreThan(0));
  }
  {
    ByteRingBuffer ring;  // may grow, but has no reason to
    uint64_t written = 0, read = 0;
    WriteNext(ring, written, 200000);
    ReadNext(ring, read, 100);
    ring.Clear();
    WriteNext(ring, written, 40000);
    EXPECT_EQ(ring.Capacity(), kInitial);  // doubled to 460800 on an empty ring before
    read = written - 40000;
    ReadNext(ring, read, 40000);
    // Growth after a Clear carries only the unread bytes.
    WriteNext(ring, written, 1000);
    ring.Clear();
    WriteNext(ring, written, 300000);
    EXPECT_EQ(ring.Capacity(), 2 * kInitial);
    read = written - 300000;
    ReadNext(ring, read, 300000);
    EXPECT_EQ(ring.Count(), 0);
  }
}

// One writer, one reader and a third thread that clears at random moments, with
// growth at random points, for a bounded time: every block that was not cleared
// arrives once, whole and in order, a gap in the numbers only ever follows a Clear,
// and the blocks written after the clearing ended all arrive. No part of it relies
// on one thread having run before another.
TEST(ByteRingBuffer, WriterReaderAndClearsRunTogetherWithoutLosingOrTearing) {
  // Both ways of ordering the reader against the writer's reuse of cleared space:
  // the process-wide barrier where the system has one, and plain sequential
  // consistency (the Windows build's) everywhere.
  for (bool processBarrier : {true, false}) {
    if (processBarrier && !tesmo::HasProcessWideMemoryBarrier()) continue;
    SCOPED_TRACE(processBarrier ? "process-wide barrier" : "sequentially consistent");
    using Clock = std::chrono::steady_clock;
    constexpr uint32_t kBlocks = 10'000'000;
    constexpr uint32_t kTailBlocks = 5000;
    constexpr int32_t kBlockBytes = 8;  // the number, then its complement
    const auto writeUntil = Clock::now() + std::chrono::seconds(5);
    const auto giveUpAt = Clock::now() + std::chrono::seconds(60);
    ByteRingBuffer ring(8 * kInitial, processBarrier);
    std::atomic<bool> writing{true};
    std::atomic<bool> clearing{true};
    std::atomic<uint32_t> clears{0};
    std::atomic<int64_t> finalNumber{-1};
    uint32_t growthsRefused = 0;
    uint32_t next = 0;  // the writer's, then this thread's once the writer has ended

    auto writeBlocks = [&](uint32_t count) {
      std::vector<unsigned char> batch(static_cast<size_t>(count) * kBlockBytes);
      for (uint32_t i = 0; i < count; ++i) {
        const uint32_t number = next + i, complement = ~number;
        std::memcpy(&batch[i * kBlockBytes], &number, 4);
        std::memcpy(&batch[i * kBlockBytes + 4], &complement, 4);
      }
      try {
        ring.Write(batch.data(), static_cast<uint32_t>(batch.size()));
        next += count;
        return true;
      } catch (const std::bad_alloc&) {
        ++growthsRefused;  // not admitted: the same numbers go again, in smaller batches
        return false;
      }
    };

    std::thread writer([&] {
      std::mt19937 random(1);
      // A batch larger than the first storage: growth happens whatever the schedule.
      writeBlocks(40000);
      while (next < kBlocks - kTailBlocks && Clock::now() < writeUntil) {
        // Now and then far more than fits, so the storage grows (until it may not).
        uint32_t count = random() % 4096 == 0 ? 30000 + random() % 60000 : 1 + random() % 64;
        if (count > kBlocks - kTailBlocks - next) count = kBlocks - kTailBlocks - next;
        writeBlocks(count);
        // The admission limit's role, with the writer's own quick test.
        while (!ring.WriterHasAtMost(400000) && Clock::now() < giveUpAt) std::this_thread::yield();
      }
      writing = false;
    });
    std::thread clearer([&] {
      std::mt19937 random(2);
      while (writing) {
        std::this_thread::sleep_for(std::chrono::microseconds(random() % 3000));
        ring.Clear();
        ++clears;
      }
      clearing = false;
    });

    int64_t last = -1;
    uint64_t received = 0, torn = 0, backwards = 0, gaps = 0;
    std::thread reader([&] {
      std::mt19937 random(3);
      std::vector<unsigned char> out(16 * kBlockBytes);
      while ((finalNumber.load() < 0 || last != finalNumber.load()) && Clock::now() < giveUpAt) {
        int32_t blocks = 1 + static_cast<int32_t>(random() % 16);
        // The reader's own quick test first, as the delivery thread makes it.
        if (!ring.ReaderHasMoreThan(kBlockBytes - 1) ||
            (ring.Read(out.data(), blocks * kBlockBytes) != 0 &&
             ring.Read(out.data(), (blocks = 1) * kBlockBytes) != 0)) {
          std::this_thread::yield();
          continue;
        }
        for (int32_t b = 0; b < blocks; ++b) {
          uint32_t number, complement;
          std::memcpy(&number, &out[b * kBlockBytes], 4);
          std::memcpy(&complement, &out[b * kBlockBytes + 4], 4);
          if (complement != ~number) ++torn;
          if (static_cast<int64_t>(number) <= last) ++backwards;
          if (static_cast<int64_t>(number) > last + 1) ++gaps;
          last = number;
          ++received;
        }
      }
    });

    writer.join();
    clearer.join();
    // No Clear comes after these: every one of them must arrive.
    const uint32_t tailFirst = next;
    while (next < tailFirst + kTailBlocks && Clock::now() < giveUpAt) {
      if (!writeBlocks(std::min<uint32_t>(500, tailFirst + kTailBlocks - next)))
        std::this_thread::yield();
      while (!ring.WriterHasAtMost(400000) && Clock::now() < giveUpAt) std::this_thread::yield();
    }
    finalNumber = static_cast<int64_t>(next) - 1;
    reader.join();

    ASSERT_EQ(next, tailFirst + kTailBlocks) << "the writer made no progress";
    EXPECT_EQ(last, finalNumber.load())
        << "the blocks written after the last Clear did not all arrive";
    EXPECT_EQ(torn, 0u);
    EXPECT_EQ(backwards, 0u);
    EXPECT_LE(gaps, clears.load());
    EXPECT_GE(received, kTailBlocks);
    EXPECT_GT(ring.Capacity(), kInitial);  // the first batch made it grow
    EXPECT_EQ(ring.Count(), 0);
    std::printf("received %llu of %u blocks, %u clears, %llu gaps, capacity %d, %u refused\n",
                static_cast<unsigned long long>(received), next, clears.load(),
                static_cast<unsigned long long>(gaps), ring.Capacity(), growthsRefused);
  }
}
