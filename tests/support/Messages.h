// Waiting in a host thread: with this thread's messages pumped (the video
// renderer's window belongs to the thread that opened the graph), or without (a UI
// thread busy in a call).
#pragma once

#include <windows.h>

namespace tesmo::test {

inline void PumpMessages() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
}

// Pumps until the condition holds or the time is up; false on time-out.
template <class Condition>
bool PumpUntil(Condition condition, DWORD ms) {
  for (DWORD start = GetTickCount(); !condition(); Sleep(2)) {
    PumpMessages();
    if (GetTickCount() - start > ms) return false;
  }
  return true;
}

// The same without pumping a single message.
template <class Condition>
bool WaitWithoutPumping(Condition condition, DWORD ms) {
  for (DWORD start = GetTickCount(); !condition(); Sleep(2))
    if (GetTickCount() - start > ms) return false;
  return true;
}

}  // namespace tesmo::test
