// Construction, destruction and the operations that work on the object alone.
#include "audio/AudioCapture.h"


#include <new>

#include "common/PropertyPages.h"
#include "common/SizedStructure.h"

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
  delivery->SetCloseHandler(this);
}

AudioCapture::~AudioCapture() = default;

CaptureResult AudioCapture::Destroy() {
  // From inside OnData the delivery thread would be ended under its own call.
  if (delivery->IsDeliveryThread())
    return failures.Refuse(kSlotDestroy,
                           "Destroy was refused inside OnData: call it from another thread.");
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

CaptureResult AudioCapture::ReadError(CaptureError* error) const {
  if (!CanWriteSized(error)) return kCaptureFailed;
  WriteSized(failures.Read(), error);
  return kCaptureDone;
}

CaptureResult AudioCapture::ReadStatistics(AudioCaptureStatistics* statistics) {
  if (!CanWriteSized(statistics)) return kCaptureFailed;
  if (opened) {
    WriteSized(CurrentFigures(), statistics);
    return kCaptureDone;
  }
  return figuresAtClose.WriteTo(statistics) ? kCaptureDone : kCaptureFailed;
}

void AudioCapture::CloseForRequest() {
  figuresAtClose.Keep(CurrentFigures());
  const CloseReason reason = CloseReason::Unpack(delivery->PendingCloseReason());
  if (reason.code == DeviceLossWatcher::kLeftDeviceList)
    failures.Note(-1, kCauseDeviceLost, 0,
                  "The audio device was removed (it has left the system's device list), so the "
                  "library closed it: plug it back in, then Open it again.");
  else if (reason.code == EC_DEVICE_LOST)
    failures.Note(-1, kCauseDeviceLost, 0,
                  "The audio device was removed (EC_DEVICE_LOST), so the library closed it: "
                  "plug it back in, then Open it again.");
  else
    failures.Note(-1, kCauseDeviceLost, static_cast<long>(reason.detail),
                  "The audio device's stream stopped with an error (0x%08X, graph event 0x%X), "
                  "so the library closed it: check the device, then Open it again.",
                  reason.detail, reason.code);
  Reset();
}

bool AudioCapture::CheckForSilence() {
  return failures.CheckForSilence(delivery->IsRunning(), startTick.load(std::memory_order_acquire),
                           delivery->LastBufferTick(), "audio device", "buffer");
}

AudioCaptureStatistics AudioCapture::CurrentFigures() const {
  AudioCaptureStatistics all{};
  const AudioDelivery::Counts counts = delivery->ReadCounts();
  all.deviceBuffers = agreedBuffers;
  all.deviceBufferBytes = agreedBufferBytes;
  all.lastDeviceBufferTick = counts.lastBufferTick;
  all.bytesFromDevice = counts.fromDevice;
  all.blocksDelivered = counts.blocksDelivered;
  all.bytesRefused = counts.refused;
  all.bytesStored = counts.stored;
  return all;
}

CaptureResult AudioCapture::IsRunning() {
  if (!opened)
    return failures.Refuse(kSlotIsRunning, "IsRunning: no audio device is open; Open one first.");
  return delivery->IsRunning() ? kCaptureYes : kCaptureNo;
}

CaptureResult AudioCapture::GetFormat(int* channelsOut, int* samplesPerSecOut,
                                      int* bitsPerSampleOut, int* blockBytesOut) {
  if (!channelsOut || !samplesPerSecOut || !bitsPerSampleOut || !blockBytesOut)
    return failures.Refuse(kSlotGetFormat, "GetFormat was refused: a null pointer.");
  *channelsOut = channels;
  *samplesPerSecOut = samplesPerSec;
  *bitsPerSampleOut = bitsPerSample;
  *blockBytesOut = delivery->BlockBytes();
  return kCaptureDone;
}

CaptureResult AudioCapture::SetFormat(int newChannels, int newSamplesPerSec, int newBitsPerSample,
                                      int newBlockBytes) {
  if (opened)
    return failures.Refuse(kSlotSetFormat,
                           "SetFormat was refused while an audio device is open: Close it first.");
  // The block must fit the delivery thread's block buffer and be non-empty (an
  // empty block never drains the ring), and the wave format's 16-bit fields must
  // hold the channel count, the sample size and the block align.
  if (newChannels <= 0 || newChannels > 0xFFFF || newSamplesPerSec <= 0 || newBitsPerSample <= 0 ||
      newBitsPerSample > 0xFFFF || newBlockBytes < 1 ||
      newBlockBytes > AudioDelivery::kMaxBlockBytes ||
      static_cast<int64_t>(newChannels) * newBitsPerSample / 8 > 0xFFFF)
    return failures.Refuse(kSlotSetFormat,
                           "SetFormat was refused: %d channels, %d samples a second, %d bits and "
                           "blocks of %d bytes (1 to %d) is no possible format.",
                           newChannels, newSamplesPerSec, newBitsPerSample, newBlockBytes,
                           static_cast<int>(AudioDelivery::kMaxBlockBytes));
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
    if (!opened || !sourceFilter.As(filter))
      return failures.Refuse(kSlotShowPropertyPages,
                             "ShowPropertyPages: no audio device is open; Open one first.");
  }
  if (ShowFilterPropertyPages(filter.Get()) == kCaptureDone) return kCaptureDone;
  return failures.Fail(kSlotShowPropertyPages,
                       "ShowPropertyPages: the audio device has no property pages, or they could "
                       "not be shown.");
}

}  // namespace tesmo
