// The audio capture object behind CreateASC: one capture device, its DirectShow
// graph (source "Audio Source" -> grabber "Data Capture" -> "Null Render"), the
// grabber callback and the data path to the host's sink.
//
// Threads: the host calls the operations, one thread at a time, with COM
// initialised; the framework's streaming thread calls StoreSample through the
// grabber callback while the graph runs; the delivery thread lives in
// AudioDelivery and, after the device was lost, closes the object through
// CloseForRequest. Operations that use the graph hold the data path's operation
// lock so that this close never runs under them; OnData is never called with it
// held, so these operations never wait for the host.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>

#include "Tesmo.h"
#include "audio/AudioDelivery.h"
#include "common/CaptureFailure.h"
#include "common/ComPtr.h"
#include "common/SizedStructure.h"
#include "common/DeviceLossWatcher.h"
#include "common/GrabberCallback.h"
#include "common/MediaPlatform.h"
#include "common/Mixer.h"

namespace tesmo {

// What the level operations address: the source kind (kSourceMicrophone or
// kSourceLine) and, while a device is open and its moniker names one, the device's
// wave-in number, whose mixer is tried first.
struct LevelTarget {
  LevelTarget(uint32_t sourceKind, std::optional<UINT> waveInId = std::nullopt)
      : sourceKind(sourceKind), waveInId(waveInId) {}
  uint32_t sourceKind;
  std::optional<UINT> waveInId;
};

// The recording volume, in percent, on the first of these mixers that has a wave-in
// destination: the device's own, mixer 0, the mixer of wave-in device 0. On mixer 0 the
// destination's source of the target's kind; on the others the destination's own
// volume (see FindVolume). kCaptureDone with `level` set; kCaptureDone with it left empty
// when the line has no volume control or its value cannot be read; kCaptureFailed,
// left empty, when no such mixer can be opened or the control's range is 0. Every
// mixer opened is closed again.
CaptureResult ReadMixerLevel(MixerApi& mixer, std::optional<float>& level,
                             const LevelTarget& target);
// Sets that volume: kCaptureDone, or kCaptureFailed as for the read. A line without
// a volume control, or whose current values cannot be read, is left alone.
CaptureResult WriteMixerLevel(MixerApi& mixer, float level, const LevelTarget& target);

class AudioCapture final : public ::AudioSourceCapture, private CloseHandler {
public:
  // A new Closed object with its delivery thread running, or null.
  static AudioCapture* Create();

  CaptureResult SetSink(AudioSink* sink) override;
  // GetAudioCaptureStatistics: the agreed buffers and the data path's counts; after
  // the library closed the object, the figures at that moment, until the next Open.
  CaptureResult ReadStatistics(AudioCaptureStatistics* statistics);
  // GetAudioCaptureError: why the latest 255 came, or why the library closed it.
  CaptureResult ReadError(CaptureError* error) const;
  CaptureResult IsOpened() override;
  CaptureResult IsRunning() override;
  CaptureResult Start() override;
  CaptureResult Stop() override;
  CaptureResult Close() override;
  CaptureResult GetRecordLevel(int* percent) override;
  CaptureResult SetRecordLevel(int percent) override;
  CaptureResult GetMixLevel(int* level) override;
  CaptureResult SetMixLevel(int level) override;
  CaptureResult Open(int deviceIndex) override;
  CaptureResult SelectInput(const char* inputName) override;
  CaptureResult GetFormat(int* channels, int* samplesPerSec, int* bitsPerSample,
                          int* blockBytes) override;
  CaptureResult SetFormat(int channels, int samplesPerSec, int bitsPerSample,
                          int blockBytes) override;
  CaptureResult ListDevices(char* names, int* count) override;
  CaptureResult ListInputs(int deviceIndex, char* names, int* count) override;
  CaptureResult ShowPropertyPages() override;
  CaptureResult Destroy() override;

  // One captured buffer, on the streaming thread (through grabberCallback).
  void StoreSample(const unsigned char* data, int32_t length, uint32_t tickMs) {
    delivery->StoreSample(data, length, tickMs);
  }

  // The selected input kind, "mic", "line" or empty; the level operations follow it.
  const std::string& InputName() const { return inputName; }
  // The mixers the level operations use from now on (winmm until then); the object
  // does not own them. Set before any level operation runs.
  void UseMixers(MixerApi& api) { mixers = &api; }

private:
  // The operations' slots in the host's table, as the error record names them.
  enum Slot {
    kSlotIsRunning = 2,
    kSlotStart = 3,
    kSlotStop = 4,
    kSlotClose = 5,
    kSlotGetRecordLevel = 6,
    kSlotSetRecordLevel = 7,
    kSlotGetMixLevel = 8,
    kSlotSetMixLevel = 9,
    kSlotOpen = 10,
    kSlotSelectInput = 11,
    kSlotGetFormat = 12,
    kSlotSetFormat = 13,
    kSlotListDevices = 14,
    kSlotListInputs = 15,
    kSlotShowPropertyPages = 16,
    kSlotDestroy = 17,
  };

  AudioCapture();
  ~AudioCapture();

  // Stops the graph, releases it, leaves the object Closed and the ring empty.
  void Reset();
  // On the delivery thread, after the device was lost: the record and the figures
  // of the close, then the whole Reset.
  void CloseForRequest() override;
  AudioCaptureStatistics CurrentFigures() const;
  // On the watcher's thread while open: a running device silent for 2 s is recorded,
  // and the record ends when buffers come again.
  bool CheckForSilence();
  // The 255 of a level operation, for the mixers' answer.
  CaptureResult LevelResult(int slot, CaptureResult result);
  bool BuildGraph();
  bool ApplyFormat();
  bool ConnectGraph();
  // Eight buffers of three blocks, asked of the capture pin; false when it takes none.
  bool SuggestBuffers(IPin* capturePin);
  // The buffers the capture pin's allocator settled on, once connected.
  void ReadAgreedBuffers(IPin* capturePin);
  // Enables the first input pin of sourceFilter named `candidate` (any ASCII case).
  bool EnableInputPin(const std::string& candidate);
  // The level operations' source kind and the open device's wave-in number.
  LevelTarget CurrentLevelTarget();

  std::string inputName;
  ComPtr<IGraphBuilder> graph;
  ComPtr<ICaptureGraphBuilder2> captureBuilder;
  ComPtr<IBaseFilter> sourceFilter;
  ComPtr<IBaseFilter> grabberFilter;
  ComPtr<IBaseFilter> nullRenderer;
  GrabberCallback<AudioCapture> grabberCallback;
  DeviceLossWatcher deviceLoss;
  std::atomic<bool> opened{false};  // also cleared by the delivery thread
  // The open device's "WaveInID"; cleared by Reset, also on the delivery thread.
  std::optional<UINT> waveInId;
  WinmmMixer winmm;
  MixerApi* mixers = &winmm;
  // The device's agreed buffers (count and bytes each), as of the last Open.
  int32_t agreedBuffers = 0, agreedBufferBytes = 0;
  FailureRecord failures;
  std::atomic<uint32_t> startTick{0};  // of the latest successful Start
  KeptFigures<AudioCaptureStatistics> figuresAtClose;  // until the next Open
  int32_t channels = 1;
  int32_t samplesPerSec = 11025;
  int32_t bitsPerSample = 16;
  // The ring, the event, the delivery thread, the sink, `running` and the block
  // size; shared with the delivery thread so it can outlive this object safely.
  std::shared_ptr<AudioDelivery> delivery;
};

}  // namespace tesmo
