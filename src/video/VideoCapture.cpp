// Construction, destruction and the operations that work on the object alone.
#include "video/VideoCapture.h"

#include "common/DeviceEnumeration.h"
#include "common/PropertyPages.h"
#include "common/SizedStructure.h"

namespace tesmo {

int32_t BitCountOfFormatCode(int32_t formatCode) {
  switch (formatCode) {
    case kVideoRgb24: return 24;
    case kVideoI420: return 12;
    case kVideoRgb555: return 16;
    case kVideoRgb32: return 32;
    default: return 0;
  }
}

VideoCapture* VideoCapture::Create() {
  try {
    return new VideoCapture();
  } catch (...) {
    return nullptr;  // nothing crosses the library's boundary
  }
}

VideoCapture::VideoCapture() : delivery(VideoDelivery::Create()) {
  CreateLogFile();
  Reset();
  delivery->SetResetHandler(this);
}

VideoCapture::~VideoCapture() = default;

void VideoCapture::CreateLogFile() {
  // Created empty when it is missing, and never written. A file of that name that
  // exists may be a user's own: CREATE_NEW leaves it exactly as it is.
  HANDLE file = CreateFileA("c:\\log.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

CaptureResult VideoCapture::Destroy() {
  // From inside OnData the pass still walks this object's store.
  if (delivery->IsDeliveryThread()) return kCaptureFailed;
  // Wakes the thread from its wait; if it is still inside OnData it keeps its own
  // reference to the data path and frees it when it ends.
  delivery->EndOwner([this] { Reset(); }, 1000);
  delete this;
  return kCaptureDone;
}

void VideoCapture::StopGraph() {
  if (opened && graph) {
    ComPtr<IMediaControl> control;
    if (graph.As(control)) control->Stop();  // result deliberately ignored
  }
}

void VideoCapture::Reset() {
  ScopedHostLock operation(delivery->OperationLock());
  deviceLoss.Stop();
  StopGraph();
  SetDeviceName("");
  graph.Reset();
  captureBuilder.Reset();
  sourceFilter.Reset();
  grabberFilter.Reset();
  nullRenderer.Reset();
  deliveredFormat.reset();
  ClosePainter();
  opened = false;
  wantedMediaType.Reset();
  cameraWidth = cameraHeight = 0;
  delivery->ResetStore();
}

void VideoCapture::ClosePainter() {
  delivery->SetViewer(nullptr);
  if (previewPainter) previewPainter->Close();
  previewPainter.reset();
}

void VideoCapture::RunPendingReset() {
  // On the delivery thread, after a frame of the wrong size or the loss of the
  // device: stop, release the device so that another object or program can open
  // it, and close. The rest of the graph waits for the next Reset on the host's
  // thread: the video renderer's window belongs to that thread, and destroying it
  // from here would wait for that thread to pump messages.
  deviceLoss.Stop();
  StopGraph();
  ReleaseDevice();
  SetDeviceName("");
  opened = false;
  delivery->ResetStore();
}

void VideoCapture::ReleaseDevice() {
  // Removing the filter disconnects its pins and drops the graph's reference;
  // the result is deliberately ignored, as the filter is released either way.
  if (graph && sourceFilter) graph->RemoveFilter(sourceFilter.Get());
  sourceFilter.Reset();
}

CaptureResult VideoCapture::Close() {
  if (delivery->IsDeliveryThread()) return kCaptureFailed;
  Reset();
  return kCaptureDone;
}

CaptureResult VideoCapture::SetSink(VideoSink* sink) {
  delivery->SetSink(sink);
  return kCaptureDone;
}

CaptureResult VideoCapture::IsOpened() { return opened ? kCaptureYes : kCaptureNo; }

CaptureResult VideoCapture::ReadStatistics(VideoCaptureStatistics* statistics) {
  if (!CanWriteSized(statistics) || !opened) return kCaptureFailed;
  VideoCaptureStatistics all = modeInUse;
  const VideoDelivery::Counts counts = delivery->ReadCounts();
  all.framesFromCamera = counts.fromCamera;
  all.framesDelivered = counts.delivered;
  all.framesDroppedByPace = counts.droppedByPace;
  all.framesDroppedAtStore = counts.droppedAtStore;
  all.framesUndecodable = counts.undecodable;
  all.framesWaiting = counts.waiting;
  all.lastCameraFrameTick = counts.lastCameraTick;
  all.lastDeliveryTick = counts.lastDeliveryTick;
  all.delayMedianMs = counts.delayMedian;
  all.delayLargestMs = counts.delayLargest;
  WriteSized(all, statistics);
  return kCaptureDone;
}

CaptureResult VideoCapture::IsRunning() {
  if (!opened) return kCaptureFailed;
  return delivery->IsRunning() ? kCaptureYes : kCaptureNo;
}

CaptureResult VideoCapture::SetFrameRate(int framesPerMinute) {
  return delivery->SetFramesPerMinute(framesPerMinute) ? kCaptureDone : kCaptureFailed;
}

CaptureResult VideoCapture::GetFrameRate(int* framesPerMinute) {
  if (!framesPerMinute) return kCaptureFailed;
  *framesPerMinute = delivery->FramesPerMinute();
  return kCaptureDone;
}

CaptureResult VideoCapture::GetFormat(int* width, int* height, int* code) {
  if (!width || !height || !code) return kCaptureFailed;
  *width = delivery->Width();
  *height = delivery->Height();
  *code = formatCode;
  return kCaptureDone;
}

CaptureResult VideoCapture::SetFormat(int width, int height, int code) {
  if (opened) return kCaptureFailed;
  // An unlisted code keeps the device's pixel format, and with it the old bit count.
  const int32_t bits = BitCountOfFormatCode(code);
  // Refuses sizes whose frame length is not positive or does not fit in 32 bits.
  if (!delivery->SetFrameFormat(width, height, bits ? bits : delivery->BitCount()))
    return kCaptureFailed;
  formatCode = code;
  return kCaptureDone;
}

CaptureResult VideoCapture::GetDeviceName(char* name) {
  if (!name) return kCaptureFailed;
  ScopedLock hold(nameLock);
  std::memcpy(name, deviceName, std::strlen(deviceName) + 1);
  return kCaptureDone;
}

void VideoCapture::SetDeviceName(const char* name) {
  ScopedLock hold(nameLock);
  std::memcpy(deviceName, name, std::strlen(name) + 1);
}

CaptureResult VideoCapture::Reserved(int, int) { return kCaptureReserved; }

CaptureResult VideoCapture::ShowPropertyPages() {
  ComPtr<IBaseFilter> filter;
  {
    // A reference of its own: the modal frame may outlast a close by the delivery
    // thread, which must not wait for it.
    ScopedHostLock operation(delivery->OperationLock());
    if (!opened || !sourceFilter.As(filter)) return kCaptureFailed;
  }
  return ShowFilterPropertyPages(filter.Get());
}

ComPtr<IBaseFilter> VideoCapture::DeviceFilter() {
  // A reference of its own, as for the property pages: a close by the delivery
  // thread must not wait for a camera call in progress.
  ComPtr<IBaseFilter> filter;
  ScopedHostLock operation(delivery->OperationLock());
  if (opened) sourceFilter.As(filter);
  return filter;
}

CaptureResult VideoCapture::ListDevices(char* names, int* count) {
  return ListDeviceNames(CLSID_VideoInputDeviceCategory, names, count);
}

}  // namespace tesmo
