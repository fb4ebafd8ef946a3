// Construction, destruction and the operations that work on the object alone.
#include "audio/AudioCapture.h"

#include <algorithm>
#include <cstring>

#include <new>

#include "common/PropertyPages.h"

namespace tesmo {

AudioCapture* AudioCapture::Create() {
  try {
    return new AudioCapture();
  } catch (...) {
    return nullptr;  // nothing crosses the library's boundary
  }
}

AudioCapture::AudioCapture() : delivery(AudioDelivery::Create()) {
  Reset();
  delivery->SetResetHandler(this);
}

AudioCapture::~AudioCapture() = default;

CaptureResult AudioCapture::Destroy() {
  // From inside OnData the delivery thread would be ended under its own call.
  if (delivery->IsDeliveryThread()) return kCaptureFailed;
  // Bounded wait; if the thread is still inside the host's OnData it keeps its own
  // reference to the data path and frees it when it ends.
  delivery->EndOwner([this] { Reset(); }, 1000);
  delete this;
  return kCaptureDone;
}

CaptureResult AudioCapture::SetSink(AudioSink* sink) {
  delivery->SetSink(sink);
  return kCaptureDone;
}

CaptureResult AudioCapture::IsOpened() { return opened ? kCaptureYes : kCaptureNo; }

CaptureResult AudioCapture::ReadStatistics(AudioCaptureStatistics* statistics) {
  if (!statistics || statistics->size < static_cast<int>(sizeof statistics->size) || !opened)
    return kCaptureFailed;
  AudioCaptureStatistics all{};
  const AudioDelivery::Counts counts = delivery->ReadCounts();
  all.size = statistics->size;
  all.deviceBuffers = agreedBuffers;
  all.deviceBufferBytes = agreedBufferBytes;
  all.lastDeviceBufferTick = counts.lastBufferTick;
  all.bytesFromDevice = counts.fromDevice;
  all.blocksDelivered = counts.blocksDelivered;
  all.bytesRefused = counts.refused;
  all.bytesStored = counts.stored;
  // A host built against a shorter structure gets the fields it knows.
  std::memcpy(statistics, &all, std::min(sizeof all, static_cast<size_t>(statistics->size)));
  return kCaptureDone;
}

CaptureResult AudioCapture::IsRunning() {
  if (!opened) return kCaptureFailed;
  return delivery->IsRunning() ? kCaptureYes : kCaptureNo;
}

CaptureResult AudioCapture::GetFormat(int* channelsOut, int* samplesPerSecOut,
                                      int* bitsPerSampleOut, int* blockBytesOut) {
  if (!channelsOut || !samplesPerSecOut || !bitsPerSampleOut || !blockBytesOut)
    return kCaptureFailed;
  *channelsOut = channels;
  *samplesPerSecOut = samplesPerSec;
  *bitsPerSampleOut = bitsPerSample;
  *blockBytesOut = delivery->BlockBytes();
  return kCaptureDone;
}

CaptureResult AudioCapture::SetFormat(int newChannels, int newSamplesPerSec, int newBitsPerSample,
                                      int newBlockBytes) {
  if (opened) return kCaptureFailed;
  // The block must fit the delivery thread's block buffer and be non-empty (an
  // empty block never drains the ring), and the wave format's 16-bit fields must
  // hold the channel count, the sample size and the block align.
  if (newChannels <= 0 || newChannels > 0xFFFF || newSamplesPerSec <= 0 || newBitsPerSample <= 0 ||
      newBitsPerSample > 0xFFFF || newBlockBytes < 1 ||
      newBlockBytes > AudioDelivery::kMaxBlockBytes)
    return kCaptureFailed;
  if (static_cast<int64_t>(newChannels) * newBitsPerSample / 8 > 0xFFFF) return kCaptureFailed;
  channels = newChannels;
  samplesPerSec = newSamplesPerSec;
  bitsPerSample = newBitsPerSample;
  delivery->SetBlockBytes(newBlockBytes);
  return kCaptureDone;
}

CaptureResult AudioCapture::ShowPropertyPages() {
  ComPtr<IBaseFilter> filter;
  {
    // A reference of its own: the modal frame may outlast a close by the delivery
    // thread, which must not wait for it.
    ScopedHostLock operation(delivery->OperationLock());
    if (!opened || !sourceFilter.As(filter)) return kCaptureFailed;
  }
  return ShowFilterPropertyPages(filter.Get());
}

}  // namespace tesmo
