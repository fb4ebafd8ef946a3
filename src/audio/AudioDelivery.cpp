#include "audio/AudioDelivery.h"

#include <new>

namespace tesmo {

AudioDelivery::AudioDelivery(int32_t ringMaxCapacity) : ringBuffer(ringMaxCapacity) {}

AudioDelivery::~AudioDelivery() = default;

std::shared_ptr<AudioDelivery> AudioDelivery::Create(int32_t ringMaxCapacity) {
  std::shared_ptr<AudioDelivery> delivery(new AudioDelivery(ringMaxCapacity));
  // The event exists before the thread starts, so its first wait is on a valid event.
  auto* threadReference = new std::shared_ptr<AudioDelivery>(delivery);
  delivery->workerThread.reset(
      Thread::Start(&AudioDeliveryThread, threadReference, ThreadPriority::TimeCritical));
  // Without a thread the object still works but delivers nothing.
  if (!delivery->workerThread) delete threadReference;
  return delivery;
}

void AudioDelivery::SetSink(AudioSink* newSink) {
  sink.store(newSink, std::memory_order_release);
  ScopedLock waitForDelivery(sinkLock);
}

void AudioDelivery::StoreSample(const unsigned char* data, int32_t length, uint32_t) {
  if (!Sink() || !IsRunning()) return;
  // A negative length or a missing buffer cannot be stored safely.
  if (length < 0 || (length > 0 && !data)) return;
  if (ringBuffer.Count() > kAdmittedBlocks * BlockBytes()) return;
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
}

void AudioDelivery::RequestClose(uint32_t generation) {
  closeRequest.Raise(generation);
  dataEvent.Set();
}

bool AudioDelivery::EndDelivery(uint32_t timeoutMs) {
  alive.store(false, std::memory_order_release);
  sink.store(nullptr, std::memory_order_release);
  dataEvent.Set();
  if (!workerThread) return true;
  // From inside OnData the thread cannot end before this call returns.
  if (workerThread->IsCurrent()) return false;
  return workerThread->Join(timeoutMs);
}

uint32_t AudioDelivery::AudioDeliveryThread(void* parameter) {
  if (!parameter) return 0xFFFFFFFFu;
  auto* reference = static_cast<std::shared_ptr<AudioDelivery>*>(parameter);
  std::shared_ptr<AudioDelivery> self = std::move(*reference);
  delete reference;
  self->DeliverUntilEnded();
  return 0;
}

void AudioDelivery::DeliverUntilEnded() {
  unsigned char block[kMaxBlockBytes];
  while (alive.load(std::memory_order_acquire)) {
    if (dataEvent.Wait(kWaitForever) != WaitResult::Signalled) break;
    closeRequest.RunIfPending([this] { ResetStore(); });
    // One wake-up drains every whole block but the last: up to one block always
    // waits for the next buffer.
    while (alive.load(std::memory_order_acquire)) {
      // Read once per block, so the length handed out is the length read.
      const int32_t size = BlockBytes();
      if (!Sink() || !IsRunning() || ringBuffer.Count() <= size) break;
      if (ringBuffer.Read(block, size) != 0) continue;  // cleared meanwhile
      ScopedLock delivering(sinkLock);
      if (AudioSink* target = Sink()) target->OnData(block, size, TickCount());
    }
    drainPasses.fetch_add(1, std::memory_order_acq_rel);
  }
}

}  // namespace tesmo
