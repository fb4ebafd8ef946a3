#include "video/VideoDelivery.h"

#include <cstdio>
#include <cstring>

namespace tesmo {

int32_t ExpectedFrameLength(int32_t width, int32_t height, int32_t bitCount) {
  if (width <= 0 || height <= 0 || bitCount <= 0) return -1;
  // At most (2^31)^3, which 64 bits cannot hold: stop as soon as it passes 32 bits.
  const int64_t pixels = static_cast<int64_t>(width) * height;
  if (pixels > INT32_MAX) return -1;
  const int64_t length = pixels * bitCount / 8;
  if (length <= 0 || length > INT32_MAX) return -1;
  return static_cast<int32_t>(length);
}

VideoDelivery::VideoDelivery() = default;

VideoDelivery::~VideoDelivery() = default;

std::shared_ptr<VideoDelivery> VideoDelivery::Create() {
  std::shared_ptr<VideoDelivery> delivery(new VideoDelivery());
  StartThread(delivery, &VideoDeliveryThread, ThreadPriority::Lowest);
  return delivery;
}

bool VideoDelivery::SetFrameFormat(int32_t newWidth, int32_t newHeight, int32_t newBitCount) {
  const int32_t length = ExpectedFrameLength(newWidth, newHeight, newBitCount);
  if (length < 0) return false;
  width.store(newWidth, std::memory_order_release);
  height.store(newHeight, std::memory_order_release);
  bitCount.store(newBitCount, std::memory_order_release);
  frameLength.store(length, std::memory_order_release);
  return true;
}

bool VideoDelivery::SetFramesPerMinute(int32_t value) {
  if (value < kMinFramesPerMinute || value > kMaxFramesPerMinute) return false;
  framesPerMinute.store(value, std::memory_order_release);
  // A thread asleep for up to 12 s at the old pace takes the new one at once.
  wakeEvent.Set();
  return true;
}

void VideoDelivery::StoreSample(const unsigned char* data, int32_t length, uint32_t tickMs) {
  // First, whatever the state: a frame of another size means the device no longer
  // delivers the format asked for.
  if (length != FrameLength()) {
    // For this store's generation, so that a host Close and Open that come before
    // the delivery thread does never get their new device closed by it.
    closeRequest.RaiseForCurrent();
    return;
  }
  if (!Sink() || !IsRunning() || frameQueue.Count() > kMaxQueuedBeforeStore) return;
  if (!data) return;
  unsigned char* buffer = framePool.AcquireFor(length);
  if (!buffer) return;  // pool off or heap exhausted: the frame is dropped
  std::memcpy(buffer, data, static_cast<size_t>(length));
  ScopedLock hold(queueLock);
  // Full only if another thread appended since the quick test above.
  if (!frameQueue.Append(FrameRecord{length, tickMs, buffer})) framePool.Recycle(buffer);
}

uint32_t VideoDelivery::OpenStore() {
  framePool.ResetBlockSize(1);
  return closeRequest.Open();
}

void VideoDelivery::ResetStore() {
  SetRunning(false);
  {
    ScopedLock hold(queueLock);
    while (const FrameRecord* record = frameQueue.Oldest()) {
      framePool.Recycle(record->data);
      frameQueue.RemoveOldest();
    }
  }
  framePool.ResetBlockSize(-1);
  // Last, so that a cleared request means the store is already empty.
  closeRequest.Clear();
}

uint32_t VideoDelivery::VideoDeliveryThread(void* parameter) {
  return RunThread<VideoDelivery>(parameter);
}

void VideoDelivery::DeliverUntilEnded() {
  while (Alive()) {
    RunPendingClose([this] { ResetStore(); });
    // Passes follow each other as long as frames keep arriving; a stale count only
    // costs an empty pass, which walks the queue itself under the lock.
    while (Alive() && !ResetPending() && Sink() && IsRunning() && frameQueue.Count() > 0) RunPass();
    cycles.fetch_add(1, std::memory_order_acq_rel);
    // An event rather than a plain sleep, so that EndDelivery need not wait for up
    // to 11997 ms at 5 frames per minute.
    wakeEvent.Wait(SleepMsPerCycle());
  }
}

void VideoDelivery::RunPass() {
  FrameRecord oldest{};
  {
    ScopedLock hold(queueLock);
    // Tested again under the lock: a Stop, or a frame of the wrong size, that came
    // since the loop test means no more deliveries (the queued frames stay for
    // Start, or go with the reset).
    if (!IsRunning() || ResetPending()) return;
    const FrameRecord* record = frameQueue.Oldest();
    if (!record) return;
    oldest = *record;
    frameQueue.RemoveOldest();
    // The newer frames are dropped: the host gets the oldest one per pass.
    while ((record = frameQueue.Oldest())) {
      framePool.Recycle(record->data);
      frameQueue.RemoveOldest();
    }
  }
  // Outside queueLock: the streaming thread goes on storing, and a host Close
  // meanwhile only retires this buffer, which the Recycle below then frees.
  Deliver(oldest);
  framePool.Recycle(oldest.data);
}

void VideoDelivery::Deliver(const FrameRecord& frame) {
  CallSink([&](VideoSink& target) {
    std::printf("video frame %u\n", static_cast<unsigned>(TickCount()));
    target.OnData(frame.data, frame.length, frame.tick);
  });
}

}  // namespace tesmo
