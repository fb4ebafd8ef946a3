// The audio capture object behind CreateASC: one capture device, its DirectShow
// graph (source "Audio Source" -> grabber "Data Capture" -> "Null Render"), the
// grabber callback and the data path to the host's sink.
//
// Threads: the host calls the operations, one thread at a time, with COM
// initialised; the framework's streaming thread calls StoreSample through the
// grabber callback while the graph runs; the delivery thread lives in
// AudioDelivery. No operation takes an object-wide lock.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "Tesmo.h"
#include "audio/AudioDelivery.h"
#include "common/ComPtr.h"
#include "common/GrabberCallback.h"
#include "common/MediaPlatform.h"

namespace tesmo {

class AudioCapture final : public ::AudioSourceCapture {
public:
  // A new Closed object with its delivery thread running, or null.
  static AudioCapture* Create();

  CaptureResult SetSink(AudioSink* sink) override;
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

private:
  AudioCapture();
  ~AudioCapture();

  // Stops the graph, releases it, leaves the object Closed and the ring empty.
  void Reset();
  bool BuildGraph();
  bool ApplyFormat();
  bool ConnectGraph();
  bool SuggestBuffers();

  std::string inputName;
  ComPtr<IGraphBuilder> graph;
  ComPtr<ICaptureGraphBuilder2> captureBuilder;
  ComPtr<IBaseFilter> sourceFilter;
  ComPtr<IBaseFilter> grabberFilter;
  ComPtr<IBaseFilter> nullRenderer;
  GrabberCallback<AudioCapture> grabberCallback;
  bool opened = false;
  int32_t channels = 1;
  int32_t samplesPerSec = 11025;
  int32_t bitsPerSample = 16;
  // The ring, the event, the delivery thread, the sink, `running` and the block
  // size; shared with the delivery thread so it can outlive this object safely.
  std::shared_ptr<AudioDelivery> delivery;
};

}  // namespace tesmo
