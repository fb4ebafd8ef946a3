#include "common/Kernel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#ifdef _WIN32
#include <windows.h>
#endif

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

// A host thread that owns a window and waits for a lock must still handle what the
// holder sends to that window (a video renderer stopping may), or both wait for
// each other. The holder's send gives up after 10 s, so a fault fails, not hangs.
TEST(Kernel, AHostLockWaitHandlesMessagesSentByTheHolder) {
#ifndef _WIN32
  GTEST_SKIP() << "window messages exist only on Windows";
#else
  HWND window = CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr,
                                nullptr);
  ASSERT_NE(window, nullptr);
  tesmo::RecursiveLock lock;
  HANDLE held = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> sendHandled{false};
  std::thread holder([&] {
    lock.Enter();
    SetEvent(held);
    DWORD_PTR answer = 0;
    sendHandled = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 10000, &answer) != 0;
    lock.Leave();
  });
  ASSERT_EQ(WaitForSingleObject(held, 10000), WAIT_OBJECT_0);
  {
    tesmo::ScopedHostLock hold(lock);
    EXPECT_TRUE(sendHandled.load());
  }
  holder.join();
  CloseHandle(held);
  DestroyWindow(window);
#endif
}
