#include "common/CloseRequest.h"

namespace tesmo {

uint32_t CloseRequest::Open() {
  // Never 0, which means no request.
  uint32_t next = generation.load(std::memory_order_relaxed) + 1;
  if (next == 0) next = 1;
  generation.store(next, std::memory_order_release);
  pending.store(0, std::memory_order_release);
  reason.store(0, std::memory_order_release);
  return next;
}

bool CloseRequest::Raise(uint32_t forGeneration, uint64_t why) {
  if (forGeneration == 0) return false;
  uint32_t current = pending.load(std::memory_order_acquire);
  for (;;) {
    if (forGeneration != Generation()) return false;
    if (current == forGeneration) return true;
    // Replaces only no request or an older one: a Raise that tested the generation
    // just before an Open must not put its stale request over the new one.
    const bool older = current == 0 || static_cast<int32_t>(current - forGeneration) < 0;
    if (!older) return false;
    // Set before the request, so the handler that sees the request sees its reason.
    uint64_t none = 0;
    reason.compare_exchange_strong(none, why, std::memory_order_acq_rel);
    if (pending.compare_exchange_weak(current, forGeneration, std::memory_order_acq_rel))
      return true;
  }
}

void CloseRequest::SetHandler(CloseHandler* newHandler) {
  ScopedLock hold(operationLock);
  handler = newHandler;
}

}  // namespace tesmo
