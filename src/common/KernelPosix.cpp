// Kernel services for the native build, on POSIX threads. Thread priorities are
// not applied here: raising one needs privileges the native test runs lack.
#include "common/Kernel.h"

#include <linux/membarrier.h>
#include <pthread.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <time.h>

#include <cerrno>
#include <cstdlib>
#include <condition_variable>
#include <mutex>

namespace tesmo {

bool HasProcessWideMemoryBarrier() {
  // The private expedited barrier needs the process registered once.
  static const bool registered =
      syscall(SYS_membarrier, MEMBARRIER_CMD_REGISTER_PRIVATE_EXPEDITED, 0, 0) == 0;
  return registered;
}

void ProcessWideMemoryBarrier() {
  // Registered, the call fails only for a bad command; a barrier that did not
  // happen is made up for by a fence of this thread, which the other side lacks,
  // so it must not fail silently.
  if (syscall(SYS_membarrier, MEMBARRIER_CMD_PRIVATE_EXPEDITED, 0, 0) != 0) std::abort();
}

uint32_t TickCount() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                               static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

void SleepMs(uint32_t ms) {
  timespec delay{static_cast<time_t>(ms / 1000), static_cast<long>(ms % 1000) * 1000000L};
  while (nanosleep(&delay, &delay) != 0 && errno == EINTR) {
  }
}

struct RecursiveLock::Impl {
  std::recursive_mutex mutex;
};

RecursiveLock::RecursiveLock() : impl(new Impl) {}
RecursiveLock::~RecursiveLock() { delete impl; }
void RecursiveLock::Enter() { impl->mutex.lock(); }
void RecursiveLock::EnterServicingSentMessages() { impl->mutex.lock(); }
void RecursiveLock::Leave() { impl->mutex.unlock(); }

struct AutoResetEvent::Impl {
  std::mutex mutex;
  std::condition_variable changed;
  bool signalled = false;
};

AutoResetEvent::AutoResetEvent() : impl(new Impl) {}
AutoResetEvent::~AutoResetEvent() { delete impl; }
bool AutoResetEvent::IsValid() const { return true; }

void AutoResetEvent::Set() {
  {
    std::lock_guard<std::mutex> hold(impl->mutex);
    impl->signalled = true;
  }
  impl->changed.notify_one();
}

WaitResult AutoResetEvent::Wait(uint32_t timeoutMs) {
  std::unique_lock<std::mutex> hold(impl->mutex);
  auto isSet = [this] { return impl->signalled; };
  if (timeoutMs == kWaitForever) {
    impl->changed.wait(hold, isSet);
  } else if (!impl->changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), isSet)) {
    return WaitResult::TimedOut;
  }
  impl->signalled = false;
  return WaitResult::Signalled;
}

// Shared by the Thread object and the running thread; the last of the two frees it,
// so a Thread destroyed before its thread ends leaves nothing dangling.
struct Thread::Impl {
  pthread_t handle{};
  Procedure procedure = nullptr;
  void* parameter = nullptr;
  std::mutex mutex;
  std::condition_variable ended;
  bool finished = false;
  bool abandoned = false;
  uint32_t exitCode = 0;
};

namespace {
void* ThreadEntry(void* raw) {
  auto* impl = static_cast<Thread::Impl*>(raw);
  uint32_t code = impl->procedure(impl->parameter);
  bool freeIt;
  {
    // Notify under the lock: once it is released a joiner may free the record.
    std::lock_guard<std::mutex> hold(impl->mutex);
    impl->exitCode = code;
    impl->finished = true;
    freeIt = impl->abandoned;
    impl->ended.notify_all();
  }
  if (freeIt) delete impl;
  return nullptr;
}
}  // namespace

Thread* Thread::Start(Procedure procedure, void* parameter, ThreadPriority) {
  Thread* thread = new Thread;
  thread->impl = new Impl;
  thread->impl->procedure = procedure;
  thread->impl->parameter = parameter;
  if (pthread_create(&thread->impl->handle, nullptr, ThreadEntry, thread->impl) != 0) {
    delete thread->impl;
    thread->impl = nullptr;
    delete thread;
    return nullptr;
  }
  return thread;
}

Thread::~Thread() {
  if (!impl) return;
  bool freeIt;
  {
    std::lock_guard<std::mutex> hold(impl->mutex);
    impl->abandoned = true;
    freeIt = impl->finished;
  }
  pthread_detach(impl->handle);
  if (freeIt) delete impl;
}

bool Thread::Join(uint32_t timeoutMs, uint32_t* exitCode) {
  std::unique_lock<std::mutex> hold(impl->mutex);
  auto isDone = [this] { return impl->finished; };
  if (timeoutMs == kWaitForever) {
    impl->ended.wait(hold, isDone);
  } else if (!impl->ended.wait_for(hold, std::chrono::milliseconds(timeoutMs), isDone)) {
    return false;
  }
  if (exitCode) *exitCode = impl->exitCode;
  return true;
}

bool Thread::IsCurrent() const { return pthread_equal(pthread_self(), impl->handle) != 0; }

int WideToAnsi(const char16_t* text, int length, char* out, int outBytes) {
  if (length <= 0) return 0;
  char buffer[4];
  int written = 0;
  for (int i = 0; i < length; ++i) {
    uint32_t unit = text[i];
    uint32_t code = unit;
    if (unit >= 0xD800 && unit <= 0xDBFF && i + 1 < length && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      code = 0x10000 + ((unit - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;
    }
    int size;
    if (code < 0x80) {
      buffer[0] = static_cast<char>(code);
      size = 1;
    } else if (code < 0x800) {
      buffer[0] = static_cast<char>(0xC0 | (code >> 6));
      buffer[1] = static_cast<char>(0x80 | (code & 0x3F));
      size = 2;
    } else if (code < 0x10000) {
      buffer[0] = static_cast<char>(0xE0 | (code >> 12));
      buffer[1] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      buffer[2] = static_cast<char>(0x80 | (code & 0x3F));
      size = 3;
    } else {
      buffer[0] = static_cast<char>(0xF0 | (code >> 18));
      buffer[1] = static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      buffer[2] = static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      buffer[3] = static_cast<char>(0x80 | (code & 0x3F));
      size = 4;
    }
    if (out) {
      if (written + size > outBytes) return 0;
      for (int k = 0; k < size; ++k) out[written + k] = buffer[k];
    }
    written += size;
  }
  return written;
}

}  // namespace tesmo
