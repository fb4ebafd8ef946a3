// What the audio and the video data paths share: the host's sink and the wait for a
// delivery to it, the running and alive flags, the delivery thread with its wake-up
// event, and the close request with the owner's operation lock.
//
// Threads and locks:
// - sinkLock (recursive) is held by the delivery thread around each OnData and by
//   nothing else for long, so that SetSink from another thread returns once a
//   delivery to the old sink has returned; from inside OnData SetSink re-enters it
//   and does not wait. No other lock is held around OnData.
// - the operation lock (CloseRequest) is held by the owner's host operations that
//   use the graph and by the delivery thread while it closes the owner.
// - sink, running and alive are atomics read without a lock.
//
// Lifetime: the delivery thread holds its own std::shared_ptr to the data path, so
// ending the owner never frees it under a thread that is still inside the host's
// OnData after the bounded wait.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "common/CloseRequest.h"
#include "common/Kernel.h"

namespace tesmo {

template <class SinkType>
class SinkDelivery {
public:
  SinkDelivery(const SinkDelivery&) = delete;
  SinkDelivery& operator=(const SinkDelivery&) = delete;

  // Stores the sink and, unless called from inside OnData, waits until a delivery
  // to the previous sink has returned.
  void SetSink(SinkType* newSink) {
    sink.store(newSink, std::memory_order_release);
    ScopedLock waitForDelivery(sinkLock);
  }
  SinkType* Sink() const { return sink.load(std::memory_order_acquire); }

  void SetRunning(bool value) { running.store(value, std::memory_order_release); }
  bool IsRunning() const { return running.load(std::memory_order_acquire); }

  // Asks the delivery thread to close the owner opened as `generation` (the device
  // was lost) and wakes it; dropped when that generation is no longer open.
  void RequestClose(uint32_t generation, uint64_t reason = 0) {
    if (closeRequest.Raise(generation, reason)) wakeEvent.Set();
  }
  bool ClosePending() const { return closeRequest.Pending(); }
  // Why the pending close was asked for (see CloseReason), for the owner's handler.
  uint64_t PendingCloseReason() const { return closeRequest.Reason(); }

  // Counts the store's resets. Data taken from the store before a reset is never
  // handed to a sink after it: a pass held between taking a frame or block and
  // calling the sink (a starved thread) would otherwise deliver the old device's
  // data after the host closed and opened again, perhaps in another format.
  uint32_t StoreEpoch() const { return storeEpoch.load(std::memory_order_acquire); }
  // The owner's close hook; null clears it, waiting for a close in progress.
  void SetCloseHandler(CloseHandler* handler) { closeRequest.SetHandler(handler); }
  // Held by the owner's host operations that use the graph or the store.
  RecursiveLock& OperationLock() { return closeRequest.OperationLock(); }

  // True on the delivery thread, that is, inside OnData or the owner's close; the
  // owner refuses Open, Close and Destroy there.
  bool IsDeliveryThread() const { return workerThread && workerThread->IsCurrent(); }

  // Tells the delivery thread to end, wakes it and waits up to timeoutMs; true once
  // it ended. No OnData starts after this call: the sink is cleared and the call
  // gate closed, after waiting for a call that has taken the sink to enter OnData
  // (a few instructions, however long the thread is kept from running); one in
  // progress is what the bounded wait is for. Call it without holding the
  // operation lock, or a thread closing the owner may wait for the lock until the
  // bound.
  bool EndDelivery(uint32_t timeoutMs) {
    alive.store(false, std::memory_order_release);
    sink.store(nullptr, std::memory_order_release);
    wakeEvent.Set();
    if (!workerThread) return true;
    // From inside OnData the thread cannot end before this call returns.
    if (workerThread->IsCurrent()) return false;
    for (;;) {
      CallState state = CallState::None;
      if (callState.compare_exchange_strong(state, CallState::Ended, std::memory_order_acq_rel) ||
          state != CallState::Taking)
        break;
      SleepMs(1);
    }
    return workerThread->Join(timeoutMs);
  }

  // The owner's Destroy: `reset` under the operation lock, the close hook cleared so
  // it is never called again, then the bounded wait for the thread.
  template <class Reset>
  void EndOwner(Reset reset, uint32_t timeoutMs) {
    {
      ScopedHostLock operation(OperationLock());
      reset();
      closeRequest.SetHandler(nullptr);
    }
    EndDelivery(timeoutMs);
  }

protected:
  SinkDelivery() = default;
  ~SinkDelivery() = default;

  // Starts the delivery thread with a heap std::shared_ptr<Derived> of its own,
  // which `procedure` hands to RunThread. Without a thread the data path still
  // works but delivers nothing.
  template <class Derived>
  static void StartThread(const std::shared_ptr<Derived>& self, Thread::Procedure procedure,
                          ThreadPriority priority) {
    auto* threadReference = new std::shared_ptr<Derived>(self);
    self->workerThread.reset(Thread::Start(procedure, threadReference, priority));
    if (!self->workerThread) delete threadReference;
  }

  // The body of the thread procedure: takes over the reference and delivers until
  // ended. Null ends the thread at once with 0xFFFFFFFF.
  template <class Derived>
  static uint32_t RunThread(void* parameter) {
    if (!parameter) return 0xFFFFFFFFu;
    auto* reference = static_cast<std::shared_ptr<Derived>*>(parameter);
    std::shared_ptr<Derived> self = std::move(*reference);
    delete reference;
    self->DeliverUntilEnded();
    return 0;
  }

  // Calls `call` with the sink set now, under sinkLock; false when none is set,
  // delivery has ended or the store was reset since the data was taken (in
  // `takenInEpoch`). Read under the lock and through the call gate: a sink cleared
  // since the caller's test gets no call, SetSink returning means the old sink is no
  // longer in use, and EndDelivery returning means no call starts. `call` should go
  // straight to OnData: what comes before it counts as the start.
  template <class Call>
  bool CallSink(uint32_t takenInEpoch, Call call) {
    ScopedLock delivering(sinkLock);
    CallState state = CallState::None;
    if (!callState.compare_exchange_strong(state, CallState::Taking, std::memory_order_acq_rel))
      return false;
    SinkType* target = StoreEpoch() == takenInEpoch ? Sink() : nullptr;
    if (target) {
      callState.store(CallState::Calling, std::memory_order_release);
      call(*target);
    }
    callState.store(CallState::None, std::memory_order_release);
    return target != nullptr;
  }

  bool Alive() const { return alive.load(std::memory_order_acquire); }
  // Part of every reset of the store, once it is empty.
  void NextStoreEpoch() { storeEpoch.fetch_add(1, std::memory_order_acq_rel); }

  // The close request for the generation open now, run on the delivery thread; the
  // fallback (no owner's hook) is the data path's own reset.
  template <class Fallback>
  void RunPendingClose(Fallback fallback) {
    closeRequest.RunIfPending(fallback);
  }

  CloseRequest closeRequest;  // the generations, the operation lock, the close hook
  AutoResetEvent wakeEvent;   // ends the delivery thread's wait early

private:
  // Where the delivery thread stands in CallSink: Taking lies between the gate and
  // OnData, Calling is inside OnData, Ended (set by EndDelivery) shuts the gate.
  enum class CallState { None, Taking, Calling, Ended };

  std::atomic<SinkType*> sink{nullptr};
  std::atomic<CallState> callState{CallState::None};
  std::atomic<bool> running{false};
  std::atomic<bool> alive{true};
  std::atomic<uint32_t> storeEpoch{0};
  RecursiveLock sinkLock;
  std::unique_ptr<Thread> workerThread;
};

}  // namespace tesmo
