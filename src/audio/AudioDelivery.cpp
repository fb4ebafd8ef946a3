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

void AudioDelivery::StoreSample(const unsigned char* data, int32_t length, uint32_t) {
  if (!Sink() || !IsRunning()) return;
  // A negative length or a missing buffer cannot be stored safely.
  if (length < 0 || (length > 0 && !data)) return;
  if (!ringBuffer.WriterHasAtMost(kAdmittedBlocks * BlockBytes())) return;
  try {
    ringBuffer.Write(data, static_cast<uint32_t>(length));
  } catch (const std::bad_alloc&) {
    return;  // the ring is unchanged; this buffer is lost, later ones may still fit
  }
  dataEvent.Set();
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
      CallSink(epoch, [&](AudioSink& target) { target.OnData(block, size, TickCount()); });
    }
    drainPasses.fetch_add(1, std::memory_order_acq_rel);
  }
}

}  // namespace tesmo
