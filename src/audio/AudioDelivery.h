// The audio data path from the streaming thread to the host's sink.
//
// StoreSample (streaming thread) copies each captured buffer whole into the ring
// while a sink is set, capture runs and no more than kAdmittedBlocks blocks wait,
// then signals dataEvent. The delivery thread wakes on it and hands the sink blocks
// of exactly BlockBytes() bytes while more than one block is stored, each with the
// tick count read just before the call.
//
// Threads and locks:
// - the ring's own lock is the only lock on the data path; it is never held while
//   the sink runs;
// - sinkLock is held by the delivery thread around each OnData, so that SetSink can
//   wait for a delivery to the old sink to finish (it re-enters when called from
//   inside OnData, so that case does not wait);
// - sink, running, blockBytes and alive are atomics read without a lock;
// - the close request's operation lock is held by the owner's host operations that
//   use the graph and by the delivery thread while it closes the object after the
//   device was lost (see CloseRequest); never around OnData.
//
// Lifetime: the delivery thread holds its own reference to this object, so ending
// the owner never frees the ring or the event under a thread that is still inside
// the host's OnData after the bounded wait.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>

#include "Tesmo.h"
#include "audio/ByteRingBuffer.h"
#include "common/CloseRequest.h"
#include "common/Kernel.h"

namespace tesmo {

class AudioDelivery {
public:
  static constexpr int32_t kMaxBlockBytes = 1024;  // the delivery thread's block buffer
  static constexpr int32_t kDefaultBlockBytes = 320;
  static constexpr int32_t kAdmittedBlocks = 70;

  // Builds the data path and starts its delivery thread at time-critical priority.
  // Throws std::bad_alloc when the ring's storage cannot be allocated.
  static std::shared_ptr<AudioDelivery> Create(
      int32_t ringMaxCapacity = ByteRingBuffer::kMaxCapacity);
  ~AudioDelivery();
  AudioDelivery(const AudioDelivery&) = delete;
  AudioDelivery& operator=(const AudioDelivery&) = delete;

  // Stores the sink and, unless called from inside OnData, waits until a delivery
  // to the previous sink has returned.
  void SetSink(AudioSink* newSink);
  AudioSink* Sink() const { return sink.load(std::memory_order_acquire); }

  void SetRunning(bool value) { running.store(value, std::memory_order_release); }
  bool IsRunning() const { return running.load(std::memory_order_acquire); }

  // 1 ... kMaxBlockBytes; the caller checks the range.
  void SetBlockBytes(int32_t bytes) { blockBytes.store(bytes, std::memory_order_release); }
  int32_t BlockBytes() const { return blockBytes.load(std::memory_order_acquire); }

  // One captured buffer, on the streaming thread; the bytes are copied before it
  // returns. Dropped when no sink is set, capture is not running, the ring already
  // holds more than kAdmittedBlocks blocks, or the ring cannot grow.
  void StoreSample(const unsigned char* data, int32_t length, uint32_t tickMs);

  // The end of a successful Open: a new generation, which it returns.
  uint32_t OpenStore() { return closeRequest.Open(); }
  // The data path's part of Reset: clears running and any close request, then
  // discards every stored byte (running first, so nothing refills the ring).
  void ResetStore();
  // Asks the delivery thread to close the object opened as `generation` (the device
  // was lost) and wakes it; dropped when that generation is no longer open.
  void RequestClose(uint32_t generation);
  bool ClosePending() const { return closeRequest.Pending(); }
  // The owner's close hook; null clears it, waiting for a close in progress.
  void SetResetHandler(ResetHandler* handler) { closeRequest.SetHandler(handler); }
  // Held by the owner's host operations that use the graph; see above.
  RecursiveLock& OperationLock() { return closeRequest.OperationLock(); }

  // Tells the delivery thread to end and waits up to timeoutMs; true once it ended.
  // The sink is cleared first, so no OnData starts after this call; one in
  // progress is what the wait is for.
  bool EndDelivery(uint32_t timeoutMs);

  // True on the delivery thread, that is, inside OnData; the owner refuses Open,
  // Close and Destroy there.
  bool IsDeliveryThread() const { return workerThread && workerThread->IsCurrent(); }

  // The thread procedure; its parameter is a heap std::shared_ptr<AudioDelivery>
  // that the thread takes over. Null ends the thread at once with 0xFFFFFFFF.
  static uint32_t AudioDeliveryThread(void* parameter);

  const ByteRingBuffer& Ring() const { return ringBuffer; }
  // Wake-ups the delivery thread has finished draining; lets a caller wait until a
  // stored buffer has been looked at, delivered or not.
  uint32_t DrainPasses() const { return drainPasses.load(std::memory_order_acquire); }

private:
  explicit AudioDelivery(int32_t ringMaxCapacity);
  void DeliverUntilEnded();

  std::atomic<AudioSink*> sink{nullptr};
  std::atomic<bool> running{false};
  std::atomic<bool> alive{true};
  std::atomic<int32_t> blockBytes{kDefaultBlockBytes};
  std::atomic<uint32_t> drainPasses{0};
  ByteRingBuffer ringBuffer;
  AutoResetEvent dataEvent;
  RecursiveLock sinkLock;
  CloseRequest closeRequest;
  std::unique_ptr<Thread> workerThread;
};

}  // namespace tesmo
