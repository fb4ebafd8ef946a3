#include "audio/AudioDelivery.h"

#include <new>

namespace tesmo {

AudioDelivery::AudioDelivery(int32_t ringMaxCapacity) : ringBuffer(ringMaxCapacity) {}

AudioDelivery::~AudioDelivery() = default;

std::shared_ptr<AudioDelivery> AudioDelivery::Create(int32_t ringMaxCapacity) {
  std::shared_ptr<AudioDelivery> delivery(new AudioDelivery(ringMaxCapacity));
  // The event exists before the thread starts, so its first wait is on a valid event.
  StartThread(delivery, &AudioDeliveryThread, ThreadPriority::TimeCritical);
  return delivery;
}

void AudioDelivery::StoreSample(const unsigned char* data, int32_t length, uint32_t tickMs) {
  lastBufferTick.store(tickMs, std::memory_order_release);
  // A negative length or a missing buffer cannot be stored safely, nor counted.
  if (length < 0 || (length > 0 && !data)) return;
  bytesFromDevice.fetch_add(static_cast<uint64_t>(length), std::memory_order_acq_rel);
  if (!Sink() || !IsRunning() || !ringBuffer.WriterHasAtMost(kAdmittedBlocks * BlockBytes())) {
    Refuse(length);
    return;
  }
  try {
    ringBuffer.Write(data, static_cast<uint32_t>(length));
  } catch (const std::bad_alloc&) {
    Refuse(length);  // the ring is unchanged; this buffer is lost, later ones may still fit
    return;
  }
  dataEvent.Set();
}

uint32_t AudioDelivery::OpenStore() {
  for (auto* count : {&bytesFromDevice, &blocksDelivered, &bytesRefused})
    count->store(0, std::memory_order_release);
  lastBufferTick.store(0, std::memory_order_release);
  return closeRequest.Open();
}

AudioDelivery::Counts AudioDelivery::ReadCounts() const {
  Counts counts;
  counts.fromDevice = bytesFromDevice.load(std::memory_order_acquire);
  counts.blocksDelivered = blocksDelivered.load(std::memory_order_acquire);
  counts.refused = bytesRefused.load(std::memory_order_acquire);
  counts.stored = static_cast<uint64_t>(ringBuffer.Count());
  counts.lastBufferTick = lastBufferTick.load(std::memory_order_acquire);
  return counts;
}

void AudioDelivery::ResetStore() {
  SetRunning(false);
  closeRequest.Clear();
  ringBuffer.Clear();
  // After the clear, so that a block read before it goes to no sink.
  NextStoreEpoch();
}

uint32_t AudioDelivery::AudioDeliveryThread(void* parameter) {
  return RunThread<AudioDelivery>(parameter);
}

void AudioDelivery::DeliverUntilEnded() {
  unsigned char block[kMaxBlockBytes];
  while (Alive()) {
    if (dataEvent.Wait(kWaitForever) != WaitResult::Signalled) break;
    RunPendingClose([this] { ResetStore(); });
    // One wake-up drains every whole block but the last: up to one block always
    // waits for the next buffer.
    while (Alive()) {
      // Read once per block, so the length handed out is the length read.
      const int32_t size = BlockBytes();
      if (!Sink() || !IsRunning() || !ringBuffer.ReaderHasMoreThan(size)) break;
      const uint32_t epoch = StoreEpoch();
      if (ringBuffer.Read(block, size) != 0) continue;  // cleared meanwhile
      if (CallSink(epoch, [&](AudioSink& target) { target.OnData(block, size, TickCount()); }))
        blocksDelivered.fetch_add(1, std::memory_order_acq_rel);
      else
        Refuse(size);  // the sink went, or the store was reset, since the block was read
    }
    drainPasses.fetch_add(1, std::memory_order_acq_rel);
  }
}

}  // namespace tesmo
