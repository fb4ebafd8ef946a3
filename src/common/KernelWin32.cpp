// Kernel services on Windows: thin calls into the Win32 API.
#include "common/Kernel.h"

#include <windows.h>
#include <objbase.h>

namespace tesmo {

uint32_t TickCount() { return GetTickCount(); }

void SleepMs(uint32_t ms) { Sleep(ms); }

// FlushProcessWriteBuffers would be the call, but Wine 8 implements it as a stub
// that returns at once: callers fence on both sides instead.
bool HasProcessWideMemoryBarrier() { return false; }
void ProcessWideMemoryBarrier() {}

struct RecursiveLock::Impl {
  CRITICAL_SECTION section;
};

// A short spin before sleeping: the video queue's and pool's locks are held only for
// a few pointer moves.
RecursiveLock::RecursiveLock() : impl(new Impl) {
  InitializeCriticalSectionAndSpinCount(&impl->section, 4000);
}

RecursiveLock::~RecursiveLock() {
  DeleteCriticalSection(&impl->section);
  delete impl;
}

void RecursiveLock::Enter() { EnterCriticalSection(&impl->section); }

void RecursiveLock::EnterServicingSentMessages() {
  while (!TryEnterCriticalSection(&impl->section)) {
    // Wakes for a message sent from another thread, or after a millisecond to try
    // the lock again; PeekMessage handles the sent messages and removes nothing.
    MsgWaitForMultipleObjectsEx(0, nullptr, 1, QS_SENDMESSAGE, 0);
    MSG message;
    PeekMessageW(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }
}
void RecursiveLock::Leave() { LeaveCriticalSection(&impl->section); }

struct AutoResetEvent::Impl {
  HANDLE handle;
};

AutoResetEvent::AutoResetEvent() : impl(new Impl{CreateEventW(nullptr, FALSE, FALSE, nullptr)}) {}

AutoResetEvent::~AutoResetEvent() {
  if (impl->handle) CloseHandle(impl->handle);
  delete impl;
}

bool AutoResetEvent::IsValid() const { return impl->handle != nullptr; }

void AutoResetEvent::Set() {
  if (impl->handle) SetEvent(impl->handle);
}

WaitResult AutoResetEvent::Wait(uint32_t timeoutMs) {
  if (!impl->handle) return WaitResult::Failed;
  switch (WaitForSingleObject(impl->handle, timeoutMs == kWaitForever ? INFINITE : timeoutMs)) {
    case WAIT_OBJECT_0: return WaitResult::Signalled;
    case WAIT_TIMEOUT: return WaitResult::TimedOut;
    default: return WaitResult::Failed;
  }
}

struct Thread::Impl {
  HANDLE handle;
  DWORD id;
};

namespace {
// Handed to the new thread, which frees it, so nothing of the Thread object is
// touched by a thread that outlives it.
struct StartBlock {
  Thread::Procedure procedure;
  void* parameter;
  HMODULE module;  // a reference to the module holding this code, or null
};

// A reference to the module that holds this code, so that a host's FreeLibrary
// cannot unmap it under a thread that is still running (for instance one that is
// still inside the host's OnData after a bounded wait gave up on it).
HMODULE ReferenceThisModule() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS,
                          reinterpret_cast<LPCWSTR>(&ReferenceThisModule), &module))
    return nullptr;
  return module;
}

DWORD WINAPI ThreadEntry(LPVOID raw) {
  StartBlock block = *static_cast<StartBlock*>(raw);
  delete static_cast<StartBlock*>(raw);
  // In the multithreaded apartment, so that the host may call any operation from
  // inside OnData (listing devices creates COM objects) and the graph's interfaces
  // can be used from here.
  const bool com = SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED));
  const DWORD code = block.procedure(block.parameter);
  if (com) CoUninitialize();
  // The last reference may be this one: the call that drops it must not return
  // into the module it unloads.
  if (block.module) FreeLibraryAndExitThread(block.module, code);
  return code;
}

int PriorityValue(ThreadPriority priority) {
  switch (priority) {
    case ThreadPriority::Lowest: return THREAD_PRIORITY_LOWEST;
    case ThreadPriority::TimeCritical: return THREAD_PRIORITY_TIME_CRITICAL;
    default: return THREAD_PRIORITY_NORMAL;
  }
}
}  // namespace

Thread* Thread::Start(Procedure procedure, void* parameter, ThreadPriority priority) {
  Thread* thread = new Thread;
  thread->impl = new Impl{nullptr, 0};
  auto* block = new StartBlock{procedure, parameter, ReferenceThisModule()};
  // Started suspended so the priority is in force before the first instruction.
  thread->impl->handle =
      CreateThread(nullptr, 0, ThreadEntry, block, CREATE_SUSPENDED, &thread->impl->id);
  if (!thread->impl->handle) {
    if (block->module) FreeLibrary(block->module);
    delete block;
    delete thread;
    return nullptr;
  }
  SetThreadPriority(thread->impl->handle, PriorityValue(priority));
  ResumeThread(thread->impl->handle);
  return thread;
}

Thread::~Thread() {
  if (impl && impl->handle) CloseHandle(impl->handle);
  delete impl;
}

bool Thread::Join(uint32_t timeoutMs, uint32_t* exitCode) {
  if (WaitForSingleObject(impl->handle, timeoutMs == kWaitForever ? INFINITE : timeoutMs) !=
      WAIT_OBJECT_0)
    return false;
  if (exitCode) {
    DWORD code = 0;
    GetExitCodeThread(impl->handle, &code);
    *exitCode = code;
  }
  return true;
}

bool Thread::IsCurrent() const { return GetCurrentThreadId() == impl->id; }

int WideToAnsi(const char16_t* text, int length, char* out, int outBytes) {
  if (length <= 0) return 0;
  return WideCharToMultiByte(CP_ACP, 0, reinterpret_cast<LPCWCH>(text), length, out,
                             out ? outBytes : 0, nullptr, nullptr);
}

}  // namespace tesmo
