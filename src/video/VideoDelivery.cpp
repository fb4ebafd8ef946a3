#include "video/VideoDelivery.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <vector>
#include <algorithm>

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
  cameraLength.store(length, std::memory_order_release);
  return true;
}

void VideoDelivery::SetViewer(std::shared_ptr<FrameViewer> newViewer) {
  ScopedLock hold(queueLock);
  viewer = std::move(newViewer);
}

void VideoDelivery::SetCameraFormat(int32_t length, std::shared_ptr<FrameConverter> with) {
  ScopedLock hold(queueLock);
  converter = std::move(with);
  decoder.reset();
  compressedCamera.store(false, std::memory_order_release);
  cameraLength.store(length, std::memory_order_release);
}

void VideoDelivery::SetCameraDecoder(int32_t maxLength, std::shared_ptr<FrameDecoder> with) {
  ScopedLock hold(queueLock);
  converter.reset();
  decoder = std::move(with);
  compressedCamera.store(true, std::memory_order_release);
  cameraLength.store(maxLength, std::memory_order_release);
}

bool VideoDelivery::SetFramesPerMinute(int32_t value) {
  if (value < kMinFramesPerMinute || value > kMaxFramesPerMinute) return false;
  framesPerMinute.store(value, std::memory_order_release);
  // A thread waiting up to 12 s at the old pace takes the new one at once.
  wakeEvent.Set();
  return true;
}

void VideoDelivery::StoreSample(const unsigned char* data, int32_t length, uint32_t tickMs) {
  framesFromCamera.fetch_add(1, std::memory_order_acq_rel);
  lastCameraTick.store(tickMs, std::memory_order_release);
  if (compressedCamera.load(std::memory_order_acquire)) {
    // Compressed frames vary in length; whether one is right shows once decoded.
    if (length <= 0 || length > CameraFrameLength()) {
      framesUndecodable.fetch_add(1, std::memory_order_acq_rel);
      return;
    }
  } else if (length != CameraFrameLength()) {
    // First, whatever the state: a frame of another size means the device no longer
    // delivers the format asked for.
    // For this store's generation, so that a host Close and Open that come before
    // the delivery thread does never get their new device closed by it.
    framesUndecodable.fetch_add(1, std::memory_order_acq_rel);
    closeRequest.RaiseForCurrent(
        CloseReason{kCauseBadData, kBadLength, static_cast<uint32_t>(length)}.Packed());
    return;
  }
  if (!Sink() || !IsRunning() || frameQueue.Count() > kMaxQueuedBeforeStore || !data) {
    DropAtStore();
    return;
  }
  // A reset between here and the append empties a queue this frame is not yet in:
  // the frame, of the device before it, must not go in after it.
  const uint32_t epoch = StoreEpoch();
  unsigned char* buffer = framePool.AcquireFor(length);
  if (!buffer) {  // pool off or heap exhausted: the frame is dropped
    DropAtStore();
    return;
  }
  std::memcpy(buffer, data, static_cast<size_t>(length));
  bool first;
  {
    ScopedLock hold(queueLock);
    // Full only if another thread appended since the quick test above.
    if (StoreEpoch() != epoch || !frameQueue.Append(FrameRecord{length, tickMs, buffer})) {
      framePool.Recycle(buffer);
      DropAtStore();
      return;
    }
    first = frameQueue.Count() == 1;
  }
  // The delivery thread waits for frames, not for a clock: the first one waiting
  // wakes it (with more waiting it is awake already, or waits for the pace).
  if (first) wakeEvent.Set();
}

uint32_t VideoDelivery::OpenStore() {
  framePool.ResetBlockSize(1);
  ResetCounts();
  return closeRequest.Open();
}

void VideoDelivery::ResetCounts() {
  for (auto* count : {&framesUndecodable, &framesFromCamera, &framesDelivered, &framesDroppedByPace,
                      &framesDroppedAtStore, &lastCameraTick, &lastDeliveryTick})
    count->store(0, std::memory_order_release);
  for (auto& slot : recentDelays) slot.store(0, std::memory_order_release);
}

void VideoDelivery::NoteDelivery(uint32_t arrivalTick, uint32_t handedAt) {
  framesDelivered.fetch_add(1, std::memory_order_acq_rel);
  lastDeliveryTick.store(handedAt, std::memory_order_release);
  const uint32_t slot = nextDelaySlot.fetch_add(1, std::memory_order_acq_rel) % kDelaySlots;
  recentDelays[slot].store(uint64_t{handedAt} << 32 | (handedAt - arrivalTick),
                           std::memory_order_release);
}

VideoDelivery::Counts VideoDelivery::ReadCounts() const {
  Counts counts;
  counts.fromCamera = framesFromCamera.load(std::memory_order_acquire);
  counts.delivered = framesDelivered.load(std::memory_order_acquire);
  counts.droppedByPace = framesDroppedByPace.load(std::memory_order_acquire);
  counts.droppedAtStore = framesDroppedAtStore.load(std::memory_order_acquire);
  counts.undecodable = framesUndecodable.load(std::memory_order_acquire);
  counts.waiting = static_cast<uint32_t>(frameQueue.Count());
  counts.lastCameraTick = lastCameraTick.load(std::memory_order_acquire);
  counts.lastDeliveryTick = lastDeliveryTick.load(std::memory_order_acquire);
  // The delays of the deliveries within a second of the last one.
  std::vector<uint32_t> delays;
  delays.reserve(kDelaySlots);
  for (const auto& slot : recentDelays) {
    const uint64_t entry = slot.load(std::memory_order_acquire);
    const auto tick = static_cast<uint32_t>(entry >> 32);
    if (entry != 0 && counts.lastDeliveryTick - tick <= 1000)
      delays.push_back(static_cast<uint32_t>(entry));
  }
  if (!delays.empty()) {
    std::sort(delays.begin(), delays.end());
    counts.delayMedian = delays[delays.size() / 2];
    counts.delayLargest = delays.back();
  }
  return counts;
}

void VideoDelivery::ResetStore() {
  SetRunning(false);
  {
    ScopedLock hold(queueLock);
    while (const FrameRecord* record = frameQueue.Oldest()) {
      framePool.Recycle(record->data);
      frameQueue.RemoveOldest();
    }
    NextStoreEpoch();  // a frame a pass took before this goes to no sink
  }
  framePool.ResetBlockSize(-1);
  SetCameraFormat(FrameLength(), nullptr);
  SetViewer(nullptr);
  // Last, so that a cleared request means the store is already empty.
  closeRequest.Clear();
}

uint32_t VideoDelivery::VideoDeliveryThread(void* parameter) {
  return RunThread<VideoDelivery>(parameter);
}

void VideoDelivery::DeliverUntilEnded() {
  using Clock = std::chrono::steady_clock;
  // The slot of the last delivery on the schedule; none yet, so the first frame
  // goes out as soon as it arrives.
  Clock::time_point lastSlot = Clock::now() - std::chrono::hours(1);
  while (Alive()) {
    RunPendingClose([this] { ResetStore(); });
    // Read every time: a new pace applies to the next delivery at once.
    const std::chrono::microseconds interval(IntervalMicros());
    const Clock::time_point allowedFrom = lastSlot + interval;
    auto wait = std::chrono::duration_cast<std::chrono::milliseconds>(interval);
    if (!ClosePending() && Sink() && IsRunning() && frameQueue.Count() > 0) {
      const auto now = Clock::now();
      if (now >= allowedFrom) {
        // The schedule moves by whole intervals, so the thread's own wake-up
        // delays never add up and a camera at the pace's rate never falls behind
        // it; after a pause longer than an interval it starts again from now.
        if (RunPass()) lastSlot = now - allowedFrom > interval ? now : allowedFrom;
        continue;
      }
      // A frame sooner than the pace allows waits for its slot; rounded up, so the
      // wait never ends just before it.
      wait = std::chrono::ceil<std::chrono::milliseconds>(allowedFrom - now);
    }
    cycles.fetch_add(1, std::memory_order_acq_rel);
    // Woken by the first frame waiting, a new pace, a close request or the end.
    // Without a working event the thread would spin: it leaves instead.
    if (wakeEvent.Wait(static_cast<uint32_t>(wait.count())) == WaitResult::Failed) break;
  }
}

bool VideoDelivery::RunPass() {
  FrameRecord oldest{};
  std::shared_ptr<FrameConverter> conversion;
  std::shared_ptr<FrameDecoder> decoding;
  std::shared_ptr<FrameViewer> shownIn;
  uint32_t generation = 0;
  uint32_t epoch = 0;
  {
    ScopedLock hold(queueLock);
    // Tested again under the lock: a Stop, or a frame of the wrong size, that came
    // since the loop test means no more deliveries (the queued frames stay for
    // Start, or go with the reset).
    if (!IsRunning() || ClosePending()) return false;
    const FrameRecord* record = frameQueue.Oldest();
    if (!record) return false;
    oldest = *record;
    conversion = converter;  // the frames queued are all the current camera's
    decoding = decoder;
    shownIn = viewer;
    generation = closeRequest.Generation();
    epoch = StoreEpoch();
    frameQueue.RemoveOldest();
    // The newer frames are dropped: the host gets the oldest one per pass.
    while ((record = frameQueue.Oldest())) {
      framePool.Recycle(record->data);
      frameQueue.RemoveOldest();
      framesDroppedByPace.fetch_add(1, std::memory_order_acq_rel);
    }
  }
  // Outside queueLock: the streaming thread goes on storing, and a host Close
  // meanwhile only retires this buffer, which the Recycle below then frees.
  // A converted or decoded frame goes into this thread's own buffer, so it stays
  // valid through OnData whatever the host does meanwhile.
  const unsigned char* frame = oldest.data;
  int32_t length = oldest.length;
  if (decoding) {
    converted.resize(static_cast<size_t>(decoding->TargetBytes()));
    if (!decoding->Decode(oldest.data, oldest.length, converted.data())) {
      framePool.Recycle(oldest.data);
      NoteUndecoded(oldest.tick, generation);
      return true;
    }
    undecodedRun = 0;
    frame = converted.data();
    length = decoding->TargetBytes();
  } else if (conversion && conversion->IsConfigured() &&
             oldest.length == conversion->SourceBytes()) {
    converted.resize(static_cast<size_t>(conversion->TargetBytes()));
    conversion->Convert(oldest.data, converted.data());
    frame = converted.data();
    length = conversion->TargetBytes();
  }
  if (shownIn) shownIn->Show(frame, length);
  uint32_t handedAt = 0;
  if (Deliver(frame, length, oldest.tick, epoch, handedAt)) {
    NoteDelivery(oldest.tick, handedAt);
  } else {
    DropAtStore();  // the sink went, or the store was reset, since the frame was taken
  }
  framePool.Recycle(oldest.data);
  return true;
}

void VideoDelivery::NoteUndecoded(uint32_t tick, uint32_t generation) {
  framesUndecodable.fetch_add(1, std::memory_order_acq_rel);
  if (undecodedRun == 0 || generation != undecodedRunGeneration) {
    undecodedRun = 0;
    undecodedRunStart = tick;
    undecodedRunGeneration = generation;
  }
  ++undecodedRun;
  // A second of frames that none decoded is a device fault, as a frame of the wrong
  // size is; two at least, so that at a slow pace one bad frame never decides it.
  if (undecodedRun >= 2 && tick - undecodedRunStart >= 1000) {
    if (closeRequest.Raise(generation,
                           CloseReason{kCauseBadData, kUndecodable, undecodedRun}.Packed()))
      wakeEvent.Set();
    undecodedRun = 0;
  }
}

bool VideoDelivery::Deliver(const unsigned char* data, int32_t length, uint32_t tick,
                            uint32_t epoch, uint32_t& handedAt) {
  // The library's one trace, a line per delivered frame, which hosts' own logs and
  // scripts of this interface count on. It goes out before the sink is taken: standard
  // output may block, and no OnData may begin after an EndDelivery that returned
  // meanwhile. A sink cleared in between leaves the line without a call.
  if (!Sink()) return false;
  std::printf("video frame %u\n", static_cast<unsigned>(TickCount()));
  // The delay a host reads ends where OnData begins: the host's own time in it is not
  // the library's.
  return CallSink(epoch, [&](VideoSink& target) {
    handedAt = TickCount();
    target.OnData(data, length, tick);
  });
}

}  // namespace tesmo
