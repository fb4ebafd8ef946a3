#include "audio/AudioDelivery.h"

#include <gtest/gtest.h>

#include <atomic>
#include <random>
#include <thread>

#include "support/ByteSequence.h"
#include "support/RecordingSink.h"
#include "support/WaitFor.h"

using tesmo::AudioDelivery;
using tesmo::test::FirstSequenceBreak;
using tesmo::test::RecordingSink;
using tesmo::test::SequenceBytes;
using tesmo::test::WaitFor;

namespace {

// A running data path with a sink, fed with sequence-numbered bytes.
struct Feed {
  std::shared_ptr<AudioDelivery> delivery;
  RecordingSink sink;
  uint64_t offset = 0;

  explicit Feed(int32_t ringMaxCapacity = tesmo::ByteRingBuffer::kMaxCapacity)
      : delivery(AudioDelivery::Create(ringMaxCapacity)) {
    delivery->SetSink(&sink);
    delivery->SetRunning(true);
  }
  ~Feed() {
    sink.Release();
    delivery->SetRunning(false);
    delivery->EndDelivery(1000);
  }

  // Stores the next `length` bytes and waits until the delivery thread has drained
  // the wake-up they caused.
  void StoreAndDrain(size_t length) {
    uint32_t before = delivery->DrainPasses();
    Store(length);
    ASSERT_TRUE(WaitFor([&] { return delivery->DrainPasses() > before; }));
  }
  void Store(size_t length) {
    auto bytes = SequenceBytes(offset, length);
    delivery->StoreSample(bytes.data(), static_cast<int32_t>(length), 0);
    offset += length;
  }
};

}  // namespace

TEST(AudioDelivery, DeliversWholeBlocksWhileMoreThanOneBlockIsStored) {
  {
    Feed feed;
    feed.StoreAndDrain(320);  // exactly one block waits for more
    EXPECT_EQ(feed.sink.BlockCount(), 0u);
    EXPECT_EQ(feed.delivery->Ring().Count(), 320);
    feed.StoreAndDrain(320);  // 640: one block out, one kept
    EXPECT_EQ(feed.sink.BlockCount(), 1u);
    EXPECT_EQ(feed.delivery->Ring().Count(), 320);
  }
  {
    Feed feed;
    feed.StoreAndDrain(641);
    auto blocks = feed.sink.Blocks();
    ASSERT_EQ(blocks.size(), 2u);
    EXPECT_EQ(feed.delivery->Ring().Count(), 1);
    for (size_t i = 0; i < blocks.size(); ++i) {
      ASSERT_EQ(blocks[i].bytes.size(), 320u);
      EXPECT_EQ(FirstSequenceBreak(blocks[i].bytes.data(), 320, i * 320), -1);
    }
    EXPECT_LE(blocks[0].tickMs, blocks[1].tickMs);
  }
}

TEST(AudioDelivery, AdmitsUpToSeventyBlocksThenDrops) {
  Feed feed;
  feed.sink.Hold();
  feed.Store(640);  // the thread takes one block and stays in OnData
  ASSERT_TRUE(feed.sink.WaitUntilInside());
  ASSERT_EQ(feed.delivery->Ring().Count(), 320);
  feed.Store(22400 - 320);
  ASSERT_EQ(feed.delivery->Ring().Count(), 22400);
  feed.Store(1);  // count 22400 is still admitted, and stored whole
  EXPECT_EQ(feed.delivery->Ring().Count(), 22401);
  auto dropped = SequenceBytes(0, 500);
  feed.delivery->StoreSample(dropped.data(), 500, 0);  // 22401 > 70 blocks: dropped
  EXPECT_EQ(feed.delivery->Ring().Count(), 22401);
  feed.sink.Release();
  // Everything admitted arrives in order; the dropped buffer never does.
  // 22721 admitted: 71 blocks go out, 1 byte waits.
  ASSERT_TRUE(feed.sink.WaitForStreamBytes(22720));
  ASSERT_TRUE(WaitFor([&] { return feed.delivery->Ring().Count() == 1; }));
  auto stream = feed.sink.Stream();
  EXPECT_EQ(stream.size(), 22720u);
  EXPECT_EQ(FirstSequenceBreak(stream.data(), stream.size(), 0), -1);
}

TEST(AudioDelivery, StoresNothingWithoutSinkOrWhileStopped) {
  Feed feed;
  feed.delivery->SetSink(nullptr);
  feed.Store(2000);
  EXPECT_EQ(feed.delivery->Ring().Count(), 0);
  feed.delivery->SetSink(&feed.sink);
  feed.delivery->SetRunning(false);
  feed.Store(2000);
  EXPECT_EQ(feed.delivery->Ring().Count(), 0);
  // Bad buffers are refused rather than read.
  feed.delivery->SetRunning(true);
  feed.delivery->StoreSample(nullptr, 100, 0);
  unsigned char byte = 0;
  feed.delivery->StoreSample(&byte, -5, 0);
  EXPECT_EQ(feed.delivery->Ring().Count(), 0);
  EXPECT_EQ(feed.sink.BlockCount(), 0u);
}

TEST(AudioDelivery, StopKeepsStoredBytesForTheNextStartAndClearDropsThem) {
  Feed feed;
  feed.StoreAndDrain(100);
  feed.delivery->SetRunning(false);
  feed.Store(1000);  // not running: dropped, and the stream skips these bytes
  feed.delivery->SetRunning(true);
  uint64_t resumed = feed.offset;
  feed.StoreAndDrain(600);
  auto blocks = feed.sink.Blocks();
  ASSERT_EQ(blocks.size(), 2u);
  EXPECT_EQ(FirstSequenceBreak(blocks[0].bytes.data(), 100, 0), -1);
  EXPECT_EQ(FirstSequenceBreak(blocks[0].bytes.data() + 100, 220, resumed), -1);
  EXPECT_EQ(feed.delivery->Ring().Count(), 60);

  feed.delivery->ResetStore();  // what Close does to the data path
  EXPECT_FALSE(feed.delivery->IsRunning());
  EXPECT_EQ(feed.delivery->Ring().Count(), 0);
  feed.delivery->SetRunning(true);  // and Open and Start again
  uint64_t fresh = feed.offset;
  feed.StoreAndDrain(640);
  blocks = feed.sink.Blocks();
  ASSERT_EQ(blocks.size(), 3u);
  EXPECT_EQ(FirstSequenceBreak(blocks[2].bytes.data(), 320, fresh), -1);
}

// A host that closes and opens again while its OnData is held (as one does that
// reopens when the data stops): what each Close discarded must not keep its space,
// or a ring at its limit refuses every later buffer and the capture stays silent.
TEST(AudioDelivery, CapturesAgainAfterClosesWhileOnDataWasHeld) {
  Feed feed(tesmo::ByteRingBuffer::kInitialCapacity);
  feed.sink.Hold();
  feed.Store(640);
  ASSERT_TRUE(feed.sink.WaitUntilInside());
  for (int cycle = 0; cycle < 12; ++cycle) {
    // Up to the admission limit, buffer by buffer, then Close and Open.
    for (int buffer = 0; buffer < 71; ++buffer) feed.Store(320);
    feed.delivery->ResetStore();
    feed.delivery->OpenStore();
    feed.delivery->SetRunning(true);
  }
  feed.sink.Release();
  const size_t before = feed.sink.BlockCount();
  const uint64_t resumedAt = feed.offset;
  for (int buffer = 0; buffer < 100; ++buffer) feed.StoreAndDrain(320);
  ASSERT_TRUE(WaitFor([&] { return feed.sink.BlockCount() >= before + 99; }))
      << feed.sink.BlockCount() - before << " blocks after 100 buffers";
  auto blocks = feed.sink.Blocks();
  EXPECT_EQ(FirstSequenceBreak(blocks[before].bytes.data(), 320, resumedAt), -1);
  EXPECT_EQ(feed.delivery->Ring().Capacity(), tesmo::ByteRingBuffer::kInitialCapacity);
}

TEST(AudioDelivery, ConcurrentStreamArrivesByteExactAndInOrder) {
  Feed feed;
  std::atomic<bool> producing{true};
  uint64_t produced = 0;
  std::thread producer([&] {
    std::mt19937 random(12345);
    std::uniform_int_distribution<int> size(1, 3000);
    const int limit = AudioDelivery::kAdmittedBlocks * 320;
    while (produced < 4'000'000) {
      // Only the delivery thread lowers the count, so a buffer stored after this
      // check is admitted: every byte produced must arrive.
      if (feed.delivery->Ring().Count() > limit) {
        std::this_thread::yield();
        continue;
      }
      int length = size(random);
      auto bytes = SequenceBytes(produced, length);
      feed.delivery->StoreSample(bytes.data(), length, 0);
      produced += length;
    }
    producing = false;
  });
  producer.join();
  const uint64_t kept = produced % 320 == 0 ? 320 : produced % 320;
  ASSERT_TRUE(feed.sink.WaitForStreamBytes(produced - kept, 20000));
  auto stream = feed.sink.Stream();
  EXPECT_EQ(stream.size(), produced - kept);
  EXPECT_EQ(FirstSequenceBreak(stream.data(), stream.size(), 0), -1);
  for (const auto& block : feed.sink.Blocks()) ASSERT_EQ(block.bytes.size(), 320u);
}

TEST(AudioDelivery, SetSinkWaitsForTheDeliveryInProgress) {
  Feed feed;
  feed.sink.Hold();
  feed.Store(640);
  ASSERT_TRUE(feed.sink.WaitUntilInside());
  std::atomic<bool> replaced{false};
  std::thread host([&] {
    feed.delivery->SetSink(nullptr);
    replaced = true;
  });
  // The old sink may still be in use, so SetSink must not have returned.
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(replaced.load());
  feed.sink.Release();
  host.join();
  EXPECT_EQ(feed.sink.Returned(), 1u);
  // From now on nothing reaches the old sink.
  feed.Store(2000);
  EXPECT_EQ(feed.delivery->Ring().Count(), 320);
  EXPECT_EQ(feed.sink.BlockCount(), 1u);
}

TEST(AudioDelivery, EndingOutlivesASinkStuckInOnData) {
  auto delivery = AudioDelivery::Create();
  RecordingSink sink;
  delivery->SetSink(&sink);
  delivery->SetRunning(true);
  sink.Hold();
  auto bytes = SequenceBytes(0, 2000);
  delivery->StoreSample(bytes.data(), 2000, 0);
  ASSERT_TRUE(sink.WaitUntilInside());
  delivery->SetRunning(false);
  EXPECT_FALSE(delivery->EndDelivery(100));  // the thread is still in OnData
  std::weak_ptr<AudioDelivery> watch = delivery;
  delivery.reset();  // the owner lets go; the thread still holds the data path
  EXPECT_FALSE(watch.expired());
  sink.Release();
  // The thread ends by itself, frees the data path, and calls no sink again.
  EXPECT_TRUE(WaitFor([&] { return watch.expired(); }));
  EXPECT_EQ(sink.BlockCount(), 1u);
}

TEST(AudioDelivery, ThreadWithoutDataPathEndsAtOnce) {
  EXPECT_EQ(AudioDelivery::AudioDeliveryThread(nullptr), 0xFFFFFFFFu);
  auto delivery = AudioDelivery::Create();
  EXPECT_TRUE(delivery->EndDelivery(1000));
}

// After the device was lost the delivery thread closes the object, but only the
// one opened as the generation the loss was reported for.
TEST(AudioDelivery, ACloseRequestRunsOnTheDeliveryThreadForTheGenerationOpenOnly) {
  struct Closer : tesmo::CloseHandler {
    AudioDelivery* delivery = nullptr;
    std::atomic<int> runs{0};
    std::atomic<bool> onDeliveryThread{false};
    void CloseForRequest() override {
      onDeliveryThread = delivery->IsDeliveryThread();
      delivery->ResetStore();
      ++runs;
    }
  };
  Feed feed;
  Closer closer;
  closer.delivery = feed.delivery.get();
  feed.delivery->SetCloseHandler(&closer);
  const uint32_t first = feed.delivery->OpenStore();
  const uint32_t second = feed.delivery->OpenStore();  // Close and Open again
  EXPECT_NE(first, second);

  // A loss reported for the device closed since is dropped at once.
  feed.delivery->RequestClose(first);
  EXPECT_FALSE(feed.delivery->ClosePending());
  feed.StoreAndDrain(400);
  EXPECT_EQ(closer.runs.load(), 0);
  EXPECT_EQ(feed.sink.BlockCount(), 1u);

  // One noticed while a host Close and Open hold the operation lock is stale by
  // the time the thread gets the lock.
  {
    tesmo::ScopedLock operation(feed.delivery->OperationLock());
    feed.delivery->RequestClose(second);
    EXPECT_TRUE(feed.delivery->ClosePending());
    feed.delivery->ResetStore();
    feed.delivery->OpenStore();
    feed.delivery->SetRunning(true);
  }
  feed.StoreAndDrain(640);
  EXPECT_EQ(closer.runs.load(), 0);
  EXPECT_TRUE(feed.delivery->IsRunning());

  // For the generation open now: closed on the delivery thread, the ring emptied.
  const uint32_t now = feed.delivery->OpenStore();
  feed.delivery->SetRunning(true);
  feed.Store(100);
  feed.delivery->RequestClose(now);
  ASSERT_TRUE(WaitFor([&] { return closer.runs.load() == 1; }));
  EXPECT_TRUE(closer.onDeliveryThread.load());
  EXPECT_FALSE(feed.delivery->IsRunning());
  EXPECT_FALSE(feed.delivery->ClosePending());
  EXPECT_EQ(feed.delivery->Ring().Count(), 0);
  feed.delivery->SetCloseHandler(nullptr);
}
