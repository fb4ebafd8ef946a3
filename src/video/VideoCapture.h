// The video capture object behind CreateVSC: one capture device, its DirectShow
// graph (source "Video Source" -> grabber "Data Capture" -> the builder's video
// renderer), the grabber callback and the data path to the host's sink.
//
// Threads: the host calls the operations with COM initialised, one thread at a
// time; the streaming thread calls StoreSample through the grabber callback; the
// delivery thread (in VideoDelivery) calls the sink and, after a frame of the wrong
// size or the loss of the device, this object's close through CloseForRequest.
// Operations that use the graph hold the data path's operation lock, so that the
// delivery thread's close never runs under them; OnData is never called with that lock held.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <optional>

#include "Tesmo.h"
#include "common/CaptureFailure.h"
#include "common/ComPtr.h"
#include "common/SizedStructure.h"
#include "common/DeviceLossWatcher.h"
#include "common/GrabberCallback.h"
#include "common/MediaPlatform.h"
#include "common/MediaType.h"
#include "video/PreviewPainter.h"
#include "video/VideoDelivery.h"

namespace tesmo {

class VideoCapture final : public ::VideoSourceCapture, private CloseHandler {
public:
  // A new Closed object with its delivery thread running, or null.
  static VideoCapture* Create();

  CaptureResult SetSink(VideoSink* sink) override;
  CaptureResult IsOpened() override;
  CaptureResult IsRunning() override;
  CaptureResult Open(int deviceIndex) override;
  CaptureResult Start() override;
  CaptureResult Stop() override;
  CaptureResult Close() override;
  CaptureResult ShowPropertyPages() override;
  CaptureResult SetFrameRate(int framesPerMinute) override;
  CaptureResult GetFrameRate(int* framesPerMinute) override;
  CaptureResult GetFormat(int* width, int* height, int* formatCode) override;
  CaptureResult SetFormat(int width, int height, int formatCode) override;
  CaptureResult GetDeviceName(char* name) override;
  CaptureResult Reserved(int a, int b) override;
  CaptureResult ListDevices(char* names, int* count) override;
  CaptureResult SetPreviewWindow(void* ownerWindow) override;
  CaptureResult Destroy() override;

  // GetVideoCaptureStatistics: the mode in use and the data path's counts; after the
  // library closed the object, the figures at that moment, until the next Open.
  CaptureResult ReadStatistics(VideoCaptureStatistics* statistics);
  // GetVideoCaptureError: why the latest 255 came, or why the library closed it.
  CaptureResult ReadError(CaptureError* error) const;
  // The open device's capture filter, a reference of its own for the caller; empty
  // while closed. For the camera controls, which work on the filter in the graph.
  ComPtr<IBaseFilter> DeviceFilter();

  // One frame, on the streaming thread (through grabberCallback).
  void StoreSample(const unsigned char* data, int32_t length, uint32_t tickMs) {
    delivery->StoreSample(data, length, tickMs);
  }

private:
  // The operations' slots in the host's table, as the error record names them.
  enum Slot {
    kSlotIsRunning = 2,
    kSlotOpen = 3,
    kSlotStart = 4,
    kSlotStop = 5,
    kSlotClose = 6,
    kSlotShowPropertyPages = 7,
    kSlotSetFrameRate = 8,
    kSlotGetFrameRate = 9,
    kSlotGetFormat = 10,
    kSlotSetFormat = 11,
    kSlotGetDeviceName = 12,
    kSlotListDevices = 14,
    kSlotSetPreviewWindow = 15,
    kSlotDestroy = 16,
  };

  VideoCapture();
  ~VideoCapture();

  // The mode in use and the counts now.
  VideoCaptureStatistics CurrentFigures() const;
  // On the watcher's thread while open: a running camera silent for 2 s is recorded,
  // and the record ends when frames come again.
  bool CheckForSilence();
  // The error record of the library's own close, from the close request's reason.
  void RecordOwnClose(uint64_t reason);

  // Stops the graph, releases it and leaves the object Closed with an empty store.
  void Reset();
  // Stops the graph if it was opened; releases nothing.
  void StopGraph();
  void CloseForRequest() override;
  // Takes the capture filter out of the graph and releases it.
  void ReleaseDevice();
  static void CreateLogFile();
  bool SelectDevice(int index);
  bool BuildGraph();
  void SelectTvStandard();
  // Asks the device for its own mode of the wanted size; false when it has none.
  bool ConfigureFormat();
  bool ConnectGrabber();
  // Ends the grabber's stream in a null renderer when no video renderer took it.
  bool EndInNullRenderer();
  // Checks that the connected stream can become the host's frames and sets up the
  // data path for it (as they are, or converted); false when it cannot.
  bool AdoptConnectedFormat(ISampleGrabber& grabber);

  // The open device's name, or empty; nameLock guards it, as the delivery thread's
  // close clears it while a host thread may be reading it.
  void SetDeviceName(const char* name);
  RecursiveLock nameLock;
  char deviceName[kNameEntryBytes] = {};
  std::string deviceIdentity;  // the open device's, found again in the device list
  ComPtr<IGraphBuilder> graph;
  ComPtr<ICaptureGraphBuilder2> captureBuilder;
  ComPtr<IBaseFilter> sourceFilter;
  ComPtr<IBaseFilter> grabberFilter;
  // Only where no video renderer takes the stream; the library then draws the
  // preview itself.
  ComPtr<IBaseFilter> nullRenderer;
  std::optional<FrameFormat> deliveredFormat;  // the frames the host gets
  std::shared_ptr<PreviewPainter> previewPainter;
  // Closes the library's own preview window, if any (host's thread only).
  void ClosePainter();
  GrabberCallback<VideoCapture> grabberCallback;
  DeviceLossWatcher deviceLoss;
  std::atomic<bool> opened{false};  // also cleared by the delivery thread
  int32_t formatCode = kVideoRgb24;
  // The picture asked of the camera at Open: the host's size, or the mode's where the
  // camera lacks it and the frames are cropped and scaled.
  int32_t cameraWidth = 0, cameraHeight = 0;
  // The connected mode and what the library does to it, as a host reads them; set by
  // Open on the host's thread.
  VideoCaptureStatistics modeInUse{};
  HWND previewOwner = nullptr;
  MediaType wantedMediaType;
  FailureRecord failures;
  // The tick of the latest successful Start, for the silence check.
  std::atomic<uint32_t> startTick{0};
  // The figures at the library's own close, readable until the next Open.
  KeptFigures<VideoCaptureStatistics> figuresAtClose;
  // The sink, running, the close request, the frame format, the pace, the pool, the queue
  // and the delivery thread; shared with that thread so it can outlive this object.
  std::shared_ptr<VideoDelivery> delivery;
};

}  // namespace tesmo
