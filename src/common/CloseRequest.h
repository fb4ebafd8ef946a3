// A request, raised on any thread, that the delivery thread close its capture object
// after a fault the host cannot see: a video frame of the wrong size (streaming
// thread), or the device lost (the graph's event watcher).
//
// Each successful Open starts a new generation, and a request names the generation
// it was raised for. The delivery thread runs the owner's CloseHandler under the
// owner's operation lock, and only while the request still names the generation
// that is open: a host Close or Open that came first has made it stale, and it is
// dropped instead of closing the device opened since.
//
// Threads: Raise from any thread; Open and Clear from host operations (and the
// handler) with the operation lock held; RunIfPending on the delivery thread only.
// The operation lock is recursive and is held by every host operation that uses the
// graph, so the handler never runs under one. It is never held around OnData.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/Kernel.h"

namespace tesmo {

// Implemented by the capture object: closes it on the delivery thread (stop the
// graph, release the device, clear the store). Called with the operation lock held.
class CloseHandler {
public:
  virtual void CloseForRequest() = 0;

protected:
  ~CloseHandler() = default;
};

class CloseRequest {
public:
  CloseRequest() = default;
  CloseRequest(const CloseRequest&) = delete;
  CloseRequest& operator=(const CloseRequest&) = delete;

  // A new generation for the graph just opened; drops any older request.
  uint32_t Open();
  uint32_t Generation() const { return generation.load(std::memory_order_acquire); }

  // Asks for the given generation to be closed, for `reason` (see CloseReason); true
  // when the caller is to wake the delivery thread. A request for a generation that
  // is no longer open is dropped. The first reason raised for an open generation
  // is the one kept.
  bool Raise(uint32_t forGeneration, uint64_t reason = 0);
  // The same for the generation open now (the streaming thread's case: its graph
  // is the one open, as Reset stops a graph before a new one opens).
  void RaiseForCurrent(uint64_t reason = 0) { Raise(Generation(), reason); }
  // The reason of the request pending, for the handler; 0 for none given.
  uint64_t Reason() const { return reason.load(std::memory_order_acquire); }
  bool Pending() const { return pending.load(std::memory_order_acquire) != 0; }
  // Part of the owner's Reset: whatever was asked is done or no longer applies.
  void Clear() { pending.store(0, std::memory_order_release); }

  // The owner's handler; null clears it. Waits for a close in progress, so once it
  // is cleared the handler is never called again.
  void SetHandler(CloseHandler* handler);

  // On the delivery thread: if a request is pending, takes the operation lock, tests
  // the request again and runs the handler (or `fallback` when no handler is set)
  // for the generation open now. Clears only the request it handled.
  template <class Fallback>
  void RunIfPending(Fallback fallback) {
    if (!Pending()) return;
    ScopedLock hold(operationLock);
    uint32_t request = pending.load(std::memory_order_acquire);
    if (request == 0) return;
    if (request == Generation()) {
      if (handler) {
        handler->CloseForRequest();
      } else {
        fallback();
      }
    }
    pending.compare_exchange_strong(request, 0, std::memory_order_acq_rel);
  }

  // Held by the owner's host operations that use the graph; see above.
  RecursiveLock& OperationLock() { return operationLock; }

private:
  std::atomic<uint32_t> pending{0};  // 0, or the generation asked to close
  std::atomic<uint32_t> generation{0};
  std::atomic<uint64_t> reason{0};
  RecursiveLock operationLock;
  CloseHandler* handler = nullptr;  // guarded by operationLock
};

}  // namespace tesmo
