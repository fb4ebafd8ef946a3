#include "common/CloseRequest.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <thread>

using tesmo::CloseRequest;

// A device lost (or a frame of the wrong size) raised just as the host closes and
// opens again names the old generation; it may be dropped, but it must never push
// aside the request raised for the generation open now, or that close is lost.
TEST(CloseRequest, AStaleRaiseNeverReplacesTheRequestForTheGenerationOpenNow) {
  using Clock = std::chrono::steady_clock;
  CloseRequest request;
  std::atomic<uint32_t> stale{0};
  std::atomic<bool> stop{false};
  std::atomic<uint64_t> raises{0};
  std::thread raiser([&] {
    while (!stop.load()) {
      request.Raise(stale.load());
      raises.fetch_add(1);
    }
  });
  const auto until = Clock::now() + std::chrono::seconds(2);
  uint64_t rounds = 0, lost = 0, ranStale = 0;
  while (Clock::now() < until) {
    const uint32_t before = request.Generation();
    stale = before;  // legitimate until the Open below, stale after it
    const uint32_t now = request.Open();
    ASSERT_TRUE(request.Raise(now));
    bool ran = false;
    request.RunIfPending([&] { ran = true; });
    if (!ran) ++lost;
    if (request.Generation() != now) ++ranStale;
    ++rounds;
  }
  stop = true;
  raiser.join();
  EXPECT_EQ(lost, 0u) << "of " << rounds << " rounds";
  EXPECT_EQ(ranStale, 0u);
  ASSERT_GT(rounds, 0u);
  std::printf("%llu rounds, %llu stale raises\n", static_cast<unsigned long long>(rounds),
              static_cast<unsigned long long>(raises.load()));

  // The plain rules, with no other thread: 0 is never a generation, a request for a
  // generation no longer open is refused, and one handled is gone.
  CloseRequest single;
  EXPECT_FALSE(single.Raise(0));
  const uint32_t first = single.Open();
  const uint32_t second = single.Open();
  EXPECT_FALSE(single.Raise(first));
  EXPECT_FALSE(single.Pending());
  EXPECT_TRUE(single.Raise(second));
  EXPECT_TRUE(single.Raise(second));
  int runs = 0;
  single.RunIfPending([&] { ++runs; });
  single.RunIfPending([&] { ++runs; });
  EXPECT_EQ(runs, 1);
  EXPECT_FALSE(single.Pending());
}
