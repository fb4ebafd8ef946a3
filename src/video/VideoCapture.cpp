// Construction, destruction and the operations that work on the object alone.
#include "video/VideoCapture.h"

#include "common/DeviceEnumeration.h"
#include "common/GraphControl.h"
#include "common/PropertyPages.h"
#include "common/SizedStructure.h"
#include "video/CameraModes.h"

#include <algorithm>

namespace tesmo {

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
  delivery->SetCloseHandler(this);
}

VideoCapture::~VideoCapture() = default;

void VideoCapture::CreateLogFile() {
  // Kept because hosts built for this interface look for the file once a video object
  // was made. Created empty when it is missing, and never written. A file of that name
  // that exists may be a user's own: CREATE_NEW leaves it exactly as it is.
  HANDLE file = CreateFileA("c:\\log.txt", GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                            nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file != INVALID_HANDLE_VALUE) CloseHandle(file);
}

CaptureResult VideoCapture::Destroy() {
  // From inside OnData the pass still walks this object's store.
  if (delivery->IsDeliveryThread())
    return failures.Refuse(kSlotDestroy,
                           "Destroy was refused inside OnData: call it from another thread.");
  // Wakes the thread from its wait; if it is still inside OnData it keeps its own
  // reference to the data path and frees it when it ends.
  delivery->EndOwner([this] { Reset(); }, 1000);
  delete this;
  return kCaptureDone;
}

void VideoCapture::StopGraph() {
  if (opened && graph) tesmo::StopGraph(graph);
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

void VideoCapture::CloseForRequest() {
  // On the delivery thread, after a frame of the wrong size or the loss of the
  // device: stop, release the device so that another object or program can open
  // it, and close. The rest of the graph waits for the next Reset on the host's
  // thread: the video renderer's window belongs to that thread, and destroying it
  // from here would wait for that thread to pump messages.
  RecordOwnClose(delivery->PendingCloseReason());
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

void VideoCapture::RecordOwnClose(uint64_t packed) {
  figuresAtClose.Keep(CurrentFigures());
  const CloseReason reason = CloseReason::Unpack(packed);
  if (reason.cause == kCauseBadData && reason.code == kBadLength) {
    failures.Note(-1, kCauseBadData, 0,
                  "The camera sent a frame of %u bytes where %d were expected, so the library "
                  "closed it: Open it again, perhaps with another size or format.",
                  reason.detail, delivery->CameraFrameLength());
  } else if (reason.cause == kCauseBadData) {
    failures.Note(-1, kCauseBadData, 0,
                  "The camera sent only frames that do not decode for a second (%u in a row), "
                  "so the library closed it: Open it again, perhaps with another format.",
                  reason.detail);
  } else if (reason.code == DeviceLossWatcher::kLeftDeviceList) {
    failures.Note(-1, kCauseDeviceLost, 0,
                  "The camera was removed (it has left the system's device list), so the "
                  "library closed it: plug it back in, then Open it again.");
  } else if (reason.code == EC_DEVICE_LOST) {
    failures.Note(-1, kCauseDeviceLost, 0,
                  "The camera was removed (EC_DEVICE_LOST), so the library closed it: plug it "
                  "back in, then Open it again.");
  } else {
    failures.Note(-1, kCauseDeviceLost, static_cast<long>(reason.detail),
                  "The camera's stream stopped with an error (0x%08X, graph event 0x%X), so the "
                  "library closed it: check the camera, then Open it again.",
                  reason.detail, reason.code);
  }
}

bool VideoCapture::CheckForSilence() {
  return failures.CheckForSilence(delivery->IsRunning(), startTick.load(std::memory_order_acquire),
                           delivery->LastCameraTick(), "camera", "frame");
}

CaptureResult VideoCapture::Close() {
  if (delivery->IsDeliveryThread())
    return failures.Refuse(kSlotClose, "Close was refused inside OnData: call it from another "
                                       "thread.");
  Reset();
  return kCaptureDone;
}

CaptureResult VideoCapture::SetSink(VideoSink* sink) {
  delivery->SetSink(sink);
  return kCaptureDone;
}

CaptureResult VideoCapture::IsOpened() { return opened ? kCaptureYes : kCaptureNo; }

CaptureResult VideoCapture::ReadError(CaptureError* error) const {
  if (!CanWriteSized(error)) return kCaptureFailed;
  WriteSized(failures.Read(), error);
  return kCaptureDone;
}

CaptureResult VideoCapture::ReadStatistics(VideoCaptureStatistics* statistics) {
  if (!CanWriteSized(statistics)) return kCaptureFailed;
  if (opened) {
    WriteSized(CurrentFigures(), statistics);
    return kCaptureDone;
  }
  return figuresAtClose.WriteTo(statistics) ? kCaptureDone : kCaptureFailed;
}

VideoCaptureStatistics VideoCapture::CurrentFigures() const {
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
  return all;
}

CaptureResult VideoCapture::IsRunning() {
  if (!opened)
    return failures.Refuse(kSlotIsRunning, "IsRunning: no camera is open; Open one first.");
  return delivery->IsRunning() ? kCaptureYes : kCaptureNo;
}

CaptureResult VideoCapture::SetFrameRate(int framesPerMinute) {
  if (delivery->SetFramesPerMinute(framesPerMinute)) return kCaptureDone;
  return failures.Refuse(kSlotSetFrameRate,
                         "SetFrameRate was refused: %d frames a minute lies outside 5 to 1800.",
                         framesPerMinute);
}

CaptureResult VideoCapture::GetFrameRate(int* framesPerMinute) {
  if (!framesPerMinute)
    return failures.Refuse(kSlotGetFrameRate, "GetFrameRate was refused: a null pointer.");
  *framesPerMinute = delivery->FramesPerMinute();
  return kCaptureDone;
}

CaptureResult VideoCapture::GetFormat(int* width, int* height, int* code) {
  if (!width || !height || !code)
    return failures.Refuse(kSlotGetFormat, "GetFormat was refused: a null pointer.");
  *width = delivery->Width();
  *height = delivery->Height();
  *code = formatCode;
  return kCaptureDone;
}

CaptureResult VideoCapture::SetFormat(int width, int height, int code) {
  if (opened)
    return failures.Refuse(kSlotSetFormat,
                           "SetFormat was refused while a camera is open: Close it first.");
  // An unlisted code keeps the device's pixel format, and with it the old bit count.
  const int32_t bits = HostFormatOf(code).bitCount;
  // Refuses sizes whose frame length is not positive or does not fit in 32 bits.
  if (!delivery->SetFrameFormat(width, height, bits ? bits : delivery->BitCount()))
    return failures.Refuse(kSlotSetFormat,
                           "SetFormat was refused: %d x %d is no possible frame size.", width,
                           height);
  formatCode = code;
  return kCaptureDone;
}

CaptureResult VideoCapture::GetDeviceName(char* name) {
  if (!name) return failures.Refuse(kSlotGetDeviceName, "GetDeviceName was refused: a null pointer.");
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
    if (!opened || !sourceFilter.As(filter))
      return failures.Refuse(kSlotShowPropertyPages,
                             "ShowPropertyPages: no camera is open; Open one first.");
  }
  if (ShowFilterPropertyPages(filter.Get()) == kCaptureDone) return kCaptureDone;
  return failures.Fail(kSlotShowPropertyPages,
                       "ShowPropertyPages: the camera has no property pages, or they could not "
                       "be shown.");
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
  const CaptureResult listed = ListDeviceNames(CLSID_VideoInputDeviceCategory, names, count);
  if (listed != kCaptureFailed) return listed;
  return failures.Refuse(kSlotListDevices,
                         "ListDevices was refused: a null pointer, or a fault while listing.");
}

}  // namespace tesmo
