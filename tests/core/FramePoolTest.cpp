#include "video/FramePool.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

using tesmo::FramePool;

namespace {

// Acquires `count` buffers from a pool with no free buffers, so each is a fresh
// allocation and reuseCount ends at 0.
std::vector<unsigned char*> AcquireFresh(FramePool& pool, int count) {
  std::vector<unsigned char*> buffers;
  for (int i = 0; i < count; ++i) buffers.push_back(pool.Acquire());
  return buffers;
}

// Hands back the `count` lowest of `buffers`, leaving the others in use.
void RecycleLowest(FramePool& pool, std::vector<unsigned char*>& buffers, size_t count) {
  std::sort(buffers.begin(), buffers.end());
  for (size_t i = 0; i < count; ++i) pool.Recycle(buffers[i]);
  buffers.erase(buffers.begin(), buffers.begin() + static_cast<long>(count));
}

// Reuses a free buffer `times` times; each reuse is one Acquire from the free set
// and the Recycle that returns it (the last one runs the trim under test).
void Reuse(FramePool& pool, int times) {
  for (int i = 0; i < times; ++i) pool.Recycle(pool.Acquire());
}

}  // namespace

TEST(FramePool, IsOffAfterConstructionAndAfterNonPositiveBlockSizes) {
  FramePool pool;
  EXPECT_EQ(pool.BlockSize(), -1);
  EXPECT_EQ(pool.Acquire(), nullptr);
  EXPECT_EQ(pool.InUseCount(), 0u);

  pool.ResetBlockSize(1000);
  unsigned char* out = pool.Acquire();
  ASSERT_NE(out, nullptr);
  pool.ResetBlockSize(-1);
  EXPECT_EQ(pool.Acquire(), nullptr);
  pool.ResetBlockSize(0);
  EXPECT_EQ(pool.Acquire(), nullptr);
  // Neither reset allocated; the buffer handed out before stays retired.
  EXPECT_EQ(pool.FreeCount(), 0u);
  EXPECT_EQ(pool.InUseCount(), 0u);
  EXPECT_EQ(pool.RetiredCount(), 1u);
  pool.Recycle(out);
  EXPECT_EQ(pool.RetiredCount(), 0u);
}

TEST(FramePool, ReusesTheRecycledBufferAndCountsReuse) {
  FramePool pool;
  pool.ResetBlockSize(1000);
  unsigned char* first = pool.Acquire();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(pool.ReuseCount(), 0);
  EXPECT_TRUE(pool.IsInUse(first));
  first[0] = 1;
  first[999] = 2;  // the whole block is writable (ASan checks the bound)
  pool.Recycle(first);
  EXPECT_FALSE(pool.IsInUse(first));
  EXPECT_EQ(pool.FreeCount(), 1u);
  EXPECT_EQ(pool.Acquire(), first);
  EXPECT_EQ(pool.ReuseCount(), 1);
  EXPECT_EQ(pool.FreeCount(), 0u);
  // A fresh allocation starts the reuse count again.
  ASSERT_NE(pool.Acquire(), nullptr);
  EXPECT_EQ(pool.ReuseCount(), 0);
  EXPECT_EQ(pool.InUseCount(), 2u);
}

TEST(FramePool, AcquireForAFrameGrowsTheBlockOnlyWhenTheFrameIsLonger) {
  FramePool pool;
  pool.ResetBlockSize(1);  // as after Open
  unsigned char* first = pool.AcquireFor(500);
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(pool.BlockSize(), 501);
  first[499] = 1;
  pool.Recycle(first);
  EXPECT_EQ(pool.AcquireFor(500), first);  // fits: same generation, reused
  EXPECT_EQ(pool.ReuseCount(), 1);
  unsigned char* longer = pool.AcquireFor(800);
  ASSERT_NE(longer, nullptr);
  longer[799] = 1;
  EXPECT_EQ(pool.BlockSize(), 801);
  EXPECT_EQ(pool.RetiredCount(), 1u);  // the 501-byte buffer still out
}

TEST(FramePool, HandsOutTheLowestFreeAddressFirst) {
  FramePool pool;
  pool.ResetBlockSize(64);
  auto buffers = AcquireFresh(pool, 5);
  // Give them back highest first, so insertion order differs from address order.
  std::sort(buffers.begin(), buffers.end());
  for (auto it = buffers.rbegin(); it != buffers.rend(); ++it) pool.Recycle(*it);
  auto free = pool.FreeBuffers();
  ASSERT_EQ(free.size(), 5u);
  EXPECT_TRUE(std::is_sorted(free.begin(), free.end()));
  for (unsigned char* expected : buffers) EXPECT_EQ(pool.Acquire(), expected);
}

TEST(FramePool, RetiredBuffersAreFreedOnReturnAndNeverHandedOutAgain) {
  FramePool pool;
  pool.ResetBlockSize(100);
  auto old = AcquireFresh(pool, 3);
  pool.Recycle(old[2]);  // one idle buffer: freed by the reset
  pool.ResetBlockSize(200);
  EXPECT_EQ(pool.BlockSize(), 200);
  EXPECT_EQ(pool.FreeCount(), 0u);
  EXPECT_EQ(pool.InUseCount(), 0u);
  EXPECT_EQ(pool.RetiredCount(), 2u);
  EXPECT_EQ(pool.ReuseCount(), 0);

  pool.Recycle(old[0]);
  EXPECT_EQ(pool.RetiredCount(), 1u);
  EXPECT_EQ(pool.FreeCount(), 0u);  // freed, not kept
  unsigned char* fresh = pool.Acquire();
  ASSERT_NE(fresh, nullptr);
  fresh[199] = 7;  // a block of the new size
  EXPECT_NE(fresh, old[1]);
  EXPECT_TRUE(pool.IsInUse(fresh));
  EXPECT_FALSE(pool.IsInUse(old[1]));
  pool.Recycle(old[1]);
  EXPECT_EQ(pool.RetiredCount(), 0u);
  EXPECT_EQ(pool.InUseCount(), 1u);
}

TEST(FramePool, SecondRecycleAndUnknownAddressesChangeNoSet) {
  FramePool pool;
  pool.ResetBlockSize(32);
  auto buffers = AcquireFresh(pool, 2);
  pool.Recycle(buffers[0]);
  pool.Recycle(buffers[0]);
  unsigned char stranger[32];
  pool.Recycle(stranger);
  EXPECT_EQ(pool.FreeCount(), 1u);
  EXPECT_EQ(pool.InUseCount(), 1u);
  EXPECT_EQ(pool.RetiredCount(), 0u);
  EXPECT_TRUE(pool.IsInUse(buffers[1]));
}

TEST(FramePool, TrimFreesAQuarterOfTheFreeBuffersLowestFirst) {
  FramePool pool;
  pool.ResetBlockSize(48);
  auto inUse = AcquireFresh(pool, 10);
  RecycleLowest(pool, inUse, 8);  // 8 free, 2 in use, reuseCount 0: no trim yet
  Reuse(pool, 9);
  EXPECT_EQ(pool.ReuseCount(), 9);
  EXPECT_EQ(pool.FreeCount(), 8u);  // at 9 nothing is freed
  auto before = pool.FreeBuffers();
  Reuse(pool, 1);  // leaves 8 free, 2 in use at reuseCount 10
  auto after = pool.FreeBuffers();
  EXPECT_EQ(pool.ReuseCount(), 0);
  ASSERT_EQ(after.size(), 6u);
  EXPECT_TRUE(std::equal(after.begin(), after.end(), before.begin() + 2));
  EXPECT_EQ(pool.InUseCount(), 2u);
}

TEST(FramePool, TrimWithFewerThanFourFreeOnlyDampsTheReuseCount) {
  FramePool pool;
  pool.ResetBlockSize(48);
  auto inUse = AcquireFresh(pool, 4);
  RecycleLowest(pool, inUse, 3);  // 3 free, 1 in use
  Reuse(pool, 10);
  EXPECT_EQ(pool.FreeCount(), 3u);
  EXPECT_EQ(pool.ReuseCount(), 0);
}

TEST(FramePool, NoTrimWhileFreeBuffersDoNotOutnumberTheInUseOnes) {
  FramePool pool;
  pool.ResetBlockSize(48);
  auto inUse = AcquireFresh(pool, 8);
  RecycleLowest(pool, inUse, 4);  // 4 free, 4 in use
  Reuse(pool, 25);
  EXPECT_EQ(pool.FreeCount(), 4u);
  EXPECT_EQ(pool.InUseCount(), 4u);
  EXPECT_EQ(pool.ReuseCount(), 25);
}

TEST(FramePool, RecycleOfNullDoesNotTrim) {
  FramePool pool;
  pool.ResetBlockSize(48);
  auto inUse = AcquireFresh(pool, 10);
  RecycleLowest(pool, inUse, 8);
  // Reuse count 10 with 8 free and 2 in use: any non-null Recycle would trim now.
  for (int i = 0; i < 10; ++i) {
    unsigned char* buffer = pool.Acquire();
    if (i < 9)
      pool.Recycle(buffer);
    else
      inUse.push_back(buffer);
  }
  ASSERT_EQ(pool.ReuseCount(), 10);
  ASSERT_EQ(pool.FreeCount(), 7u);
  pool.Recycle(nullptr);
  EXPECT_EQ(pool.FreeCount(), 7u);
  EXPECT_EQ(pool.ReuseCount(), 10);
  // An address the pool does not hold changes no set but does trim: 7 / 4 = 1 freed.
  unsigned char stranger = 0;
  pool.Recycle(&stranger);
  EXPECT_EQ(pool.FreeCount(), 6u);
  EXPECT_EQ(pool.ReuseCount(), 0);
}

// The buffers still handed out are freed by the pool itself; LeakSanitizer (part of
// the ASan build) fails the run if they are not.
TEST(FramePool, DestructionFreesHandedOutAndRetiredBuffers) {
  auto pool = std::make_unique<FramePool>();
  pool->ResetBlockSize(4096);
  auto handedOut = AcquireFresh(*pool, 3);
  pool->ResetBlockSize(2048);
  handedOut.push_back(pool->Acquire());
  EXPECT_EQ(pool->RetiredCount(), 3u);
  EXPECT_EQ(pool->InUseCount(), 1u);
  pool.reset();
}

// A format may ask for frames of exactly INT32_MAX bytes; the block size of the
// pool then cannot be one larger, and must not wrap to a negative size.
TEST(FramePool, AFrameOfTheLargestLengthSizesTheBlockWithoutOverflow) {
  FramePool pool;
  pool.ResetBlockSize(1);
  unsigned char* buffer = pool.AcquireFor(INT32_MAX);
  EXPECT_EQ(pool.BlockSize(), INT32_MAX);
  // Either a buffer of that size or none (the heap may refuse 2 GiB); never a
  // small one taken for a large frame.
  if (buffer) {
    buffer[0] = 1;
    buffer[INT32_MAX - 1] = 2;
    EXPECT_TRUE(pool.IsInUse(buffer));
  }
  pool.Recycle(buffer);
  pool.ResetBlockSize(-1);
}
