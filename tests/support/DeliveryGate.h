// Lets a test keep a delivery thread inside a sink's OnData until it releases it,
// and counts the calls inside and those that have returned.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <mutex>

namespace tesmo::test {

class DeliveryGate {
public:
  DeliveryGate() = default;
  // A call on its way out still holds the lock while it signals: wait for it before
  // the condition goes away.
  ~DeliveryGate() { std::lock_guard<std::mutex> last(mutex); }
  DeliveryGate(const DeliveryGate&) = delete;
  DeliveryGate& operator=(const DeliveryGate&) = delete;

  // While held, a call that passes through does not return.
  void Hold() {
    std::lock_guard<std::mutex> lock(mutex);
    holding = true;
  }
  void Release() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      holding = false;
    }
    changed.notify_all();
  }
  bool WaitUntilInside(int timeoutMs = 5000) {
    std::unique_lock<std::mutex> hold(mutex);
    return changed.wait_for(hold, std::chrono::milliseconds(timeoutMs), [&] { return inside > 0; });
  }
  size_t Returned() {
    std::lock_guard<std::mutex> lock(mutex);
    return returned;
  }

protected:
  // Called by OnData once it has recorded what it was handed.
  void PassThrough() {
    std::unique_lock<std::mutex> hold(mutex);
    ++inside;
    changed.notify_all();
    changed.wait(hold, [this] { return !holding; });
    --inside;
    ++returned;
    changed.notify_all();
  }

private:
  std::mutex mutex;
  std::condition_variable changed;
  bool holding = false;
  int inside = 0;
  size_t returned = 0;
};

}  // namespace tesmo::test
