// Kernel services the capture objects rely on: threads with priorities, auto-reset
// events, a recursive lock, the millisecond tick and sleep. The Windows build calls
// the Win32 API; the native build (used to run the data path under the sanitizers)
// has a POSIX implementation of the same calls. Nothing but plumbing lives here.
#pragma once

#include <cstdint>

namespace tesmo {

constexpr uint32_t kWaitForever = 0xFFFFFFFFu;

// The system's 32-bit millisecond tick count; wraps after about 49.7 days.
uint32_t TickCount();
void SleepMs(uint32_t ms);

// True where ProcessWideMemoryBarrier can be relied on (found out once): Linux's
// membarrier. Not on Windows, where Wine's FlushProcessWriteBuffers does nothing.
bool HasProcessWideMemoryBarrier();
// Makes every running thread of the process pass a full memory barrier before it
// returns, so that a thread which only orders its own accesses for the compiler is
// ordered against the caller all the same. Costly (it interrupts other processors):
// for rare paths only, and only where HasProcessWideMemoryBarrier().
void ProcessWideMemoryBarrier();

// Re-entrant lock: the thread that holds it may enter it again.
class RecursiveLock {
public:
  RecursiveLock();
  ~RecursiveLock();
  RecursiveLock(const RecursiveLock&) = delete;
  RecursiveLock& operator=(const RecursiveLock&) = delete;

  void Enter();
  // Enter for a thread that may own windows: while another thread holds the lock,
  // messages sent to this thread's windows from other threads are handled, so a
  // holder that sends one (a video renderer stopping, say) is never left waiting
  // for a thread that waits for it. Posted messages stay queued. Where there are
  // no window messages, the same as Enter.
  void EnterServicingSentMessages();
  void Leave();

private:
  struct Impl;
  Impl* impl;
};

class ScopedLock {
public:
  explicit ScopedLock(RecursiveLock& lock) : lock(lock) { lock.Enter(); }
  ~ScopedLock() { lock.Leave(); }
  ScopedLock(const ScopedLock&) = delete;
  ScopedLock& operator=(const ScopedLock&) = delete;

private:
  RecursiveLock& lock;
};

// The hold a host operation takes: entered with EnterServicingSentMessages, as the
// host's thread may own the windows a holder on another thread is waiting for.
class ScopedHostLock {
public:
  explicit ScopedHostLock(RecursiveLock& lock) : lock(lock) { lock.EnterServicingSentMessages(); }
  ~ScopedHostLock() { lock.Leave(); }
  ScopedHostLock(const ScopedHostLock&) = delete;
  ScopedHostLock& operator=(const ScopedHostLock&) = delete;

private:
  RecursiveLock& lock;
};

enum class WaitResult { Signalled, TimedOut, Failed };

// Unnamed auto-reset event, created not signalled. A Set with no waiter stays
// pending until the next wait, which consumes it.
class AutoResetEvent {
public:
  AutoResetEvent();
  ~AutoResetEvent();
  AutoResetEvent(const AutoResetEvent&) = delete;
  AutoResetEvent& operator=(const AutoResetEvent&) = delete;

  bool IsValid() const;
  void Set();
  WaitResult Wait(uint32_t timeoutMs);

private:
  struct Impl;
  Impl* impl;
};

enum class ThreadPriority { Lowest, Normal, TimeCritical };

// A started thread. Destroying the object closes the handle without waiting; a
// thread still running goes on and ends by itself. On Windows the thread holds a
// reference to the module its code lives in until it has ended, so the module
// cannot be unloaded under it, and runs in COM's multithreaded apartment.
class Thread {
public:
  using Procedure = uint32_t (*)(void* parameter);

  // Starts the procedure at once with the default stack size; null on failure.
  static Thread* Start(Procedure procedure, void* parameter, ThreadPriority priority);
  ~Thread();
  Thread(const Thread&) = delete;
  Thread& operator=(const Thread&) = delete;

  // True once the thread has ended (within the bound); its exit code goes to *exitCode.
  bool Join(uint32_t timeoutMs, uint32_t* exitCode = nullptr);
  // True when called on this thread itself.
  bool IsCurrent() const;

  struct Impl;  // the platform's thread record; named here for its entry function

private:
  Thread() = default;
  Impl* impl = nullptr;
};

// UTF-16 to the system ANSI code page (CP_ACP, no flags, no default character).
// Writes at most outBytes bytes, no terminator added; returns the bytes written,
// or 0 when the text does not fit or cannot be converted. With out null, returns
// the bytes the text needs. The native build converts to UTF-8.
int WideToAnsi(const char16_t* text, int length, char* out, int outBytes);

}  // namespace tesmo
