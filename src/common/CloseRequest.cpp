#include "common/CloseRequest.h"

namespace tesmo {

uint32_t CloseRequest::Open() {
  // Never 0, which means no request.
  uint32_t next = generation.load(std::memory_order_relaxed) + 1;
  if (next == 0) next = 1;
  generation.store(next, std::memory_order_release);
  pending.store(0, std::memory_order_release);
  return next;
}

bool CloseRequest::Raise(uint32_t forGeneration) {
  if (forGeneration == 0 || forGeneration != Generation()) return false;
  pending.store(forGeneration, std::memory_order_release);
  return true;
}

void CloseRequest::SetHandler(ResetHandler* newHandler) {
  ScopedLock hold(operationLock);
  handler = newHandler;
}

}  // namespace tesmo
