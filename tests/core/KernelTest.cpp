#include "common/Kernel.h"

#include <gtest/gtest.h>

#include <atomic>

using namespace tesmo;

TEST(Kernel, AutoResetEventKeepsOneSetUntilAWaitConsumesIt) {
  AutoResetEvent event;
  ASSERT_TRUE(event.IsValid());
  EXPECT_EQ(event.Wait(0), WaitResult::TimedOut);  // created not signalled
  event.Set();
  event.Set();  // two sets before a wait are one wake-up
  EXPECT_EQ(event.Wait(0), WaitResult::Signalled);
  EXPECT_EQ(event.Wait(0), WaitResult::TimedOut);
  uint32_t before = TickCount();
  EXPECT_EQ(event.Wait(60), WaitResult::TimedOut);
  EXPECT_GE(TickCount() - before, 40u);  // the bound was really waited
}

namespace {
struct Handshake {
  AutoResetEvent go;
  AutoResetEvent done;
  std::atomic<int> entered{0};
};

uint32_t WaitThenSignal(void* parameter) {
  auto* handshake = static_cast<Handshake*>(parameter);
  if (handshake->go.Wait(5000) != WaitResult::Signalled) return 1;
  handshake->done.Set();
  return 42;
}
}  // namespace

TEST(Kernel, ThreadRunsItsProcedureAndReportsItsExitCode) {
  Handshake handshake;
  Thread* thread = Thread::Start(&WaitThenSignal, &handshake, ThreadPriority::TimeCritical);
  ASSERT_NE(thread, nullptr);
  EXPECT_FALSE(thread->IsCurrent());
  EXPECT_FALSE(thread->Join(20));  // still waiting for `go`
  handshake.go.Set();
  EXPECT_EQ(handshake.done.Wait(5000), WaitResult::Signalled);
  uint32_t code = 0;
  EXPECT_TRUE(thread->Join(5000, &code));
  EXPECT_EQ(code, 42u);
  delete thread;
}

TEST(Kernel, RecursiveLockCanBeReenteredByItsOwner) {
  RecursiveLock lock;
  std::atomic<bool> otherGotIn{false};
  {
    ScopedLock outer(lock);
    ScopedLock inner(lock);  // would deadlock if not re-entrant
    Thread* other = Thread::Start(
        [](void* flag) -> uint32_t {
          auto* got = static_cast<std::atomic<bool>*>(flag);
          *got = true;
          return 0;
        },
        &otherGotIn, ThreadPriority::Normal);
    ASSERT_TRUE(other->Join(5000));
    delete other;
  }
  EXPECT_TRUE(otherGotIn.load());
}
