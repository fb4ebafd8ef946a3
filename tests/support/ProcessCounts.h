// Handles and threads of this process, to show that objects leave none behind, and the
// Open/Start/Stop/Close cycle that the leak tests repeat.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

#include <gtest/gtest.h>

#include "Tesmo.h"

namespace tesmo::test {

inline DWORD HandleCount() {
  DWORD count = 0;
  GetProcessHandleCount(GetCurrentProcess(), &count);
  return count;
}

inline int ThreadCount() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  CloseHandle(snapshot);
  return count;
}

// The threads and handles of the process when made; ExpectNoGrowth fails the test when
// they have grown since (Wine's own worker threads may come and go: a small allowance).
class ProcessBaseline {
public:
  void ExpectNoGrowth() const {
    EXPECT_LE(ThreadCount(), threads + 2);
    EXPECT_LE(HandleCount(), handles + 8);
  }

private:
  DWORD handles = HandleCount();
  int threads = ThreadCount();
};

// Open(0), Start, Stop and Close of a capture object, `cycles` times; `afterEach` runs after
// every cycle (a host with windows pumps their messages there).
template <class Capture, class AfterEach>
void CycleOpenStartStopClose(Capture* capture, int cycles, AfterEach afterEach) {
  for (int i = 0; i < cycles; ++i) {
    ASSERT_EQ(capture->Open(0), kCaptureDone) << i;
    ASSERT_EQ(capture->Start(), kCaptureDone);
    ASSERT_EQ(capture->Stop(), kCaptureDone);
    ASSERT_EQ(capture->Close(), kCaptureDone);
    afterEach();
  }
}

}  // namespace tesmo::test
