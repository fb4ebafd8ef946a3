// Bounded polling for a condition another thread makes true.
#pragma once

#include <chrono>
#include <thread>

namespace tesmo::test {

template <class Condition>
bool WaitFor(Condition condition, int timeoutMs = 5000) {
  auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeoutMs);
  while (!condition()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

}  // namespace tesmo::test
