// The DirectShow side of the video object: find the device, build the graph
// "Video Source" -> "Data Capture" -> the builder's video renderer (whose window is
// the preview), ask the device for the wanted format, run and stop the graph and
// place the preview window.
//
// Every framework call whose result is tested must return exactly S_OK. A failed
// step of Open leaves what it made in the fields with `opened` false; the next
// Reset releases it. Operations hold the data path's operation lock so that the
// delivery thread's Reset never releases the graph under them.
#include "common/CaptureRoute.h"
#include "common/DeviceEnumeration.h"
#include "common/GraphControl.h"
#include <algorithm>

#include "video/CameraModes.h"
#include "video/MjpegDecoder.h"
#include "video/VideoCapture.h"

namespace tesmo {

namespace {

constexpr int kPreviewWidth = 240;
constexpr int kPreviewHeight = 180;

// Puts the size, the frame interval (when not 0) and the wanted subtype (when not
// null) into `type`: the way to ask a device that lists no modes, or a mode with a
// range of sizes. False where the type is no VideoInfo or VideoInfo2.
bool EditType(AM_MEDIA_TYPE& type, const GUID* subtype, int32_t bitCount, int32_t width,
              int32_t height, REFERENCE_TIME interval) {
  REFERENCE_TIME* frameInterval = nullptr;
  BITMAPINFOHEADER* header = VideoHeaderOf(type, &frameInterval);
  if (!header) return false;
  header->biWidth = width;
  // A top-down RGB mode stays top-down; YUV heights are positive.
  const bool keepTopDown =
      header->biHeight < 0 && (!subtype || !IsEqualGUID(*subtype, kMediaSubtypeI420));
  header->biHeight = keepTopDown ? -height : height;
  header->biPlanes = 1;
  if (interval > 0) *frameInterval = interval;
  type.majortype = MEDIATYPE_Video;
  if (subtype) {
    type.subtype = *subtype;
    header->biBitCount = static_cast<WORD>(bitCount);
    header->biCompression =
        IsEqualGUID(*subtype, kMediaSubtypeI420) ? MAKEFOURCC('I', '4', '2', '0') : BI_RGB;
  }
  if (const auto format = PixelFormatOfSubtype(type.subtype)) {
    const int32_t bytes = SourceFrameBytes(FrameFormat{*format, width, height, false});
    if (bytes > 0) {
      header->biSizeImage = static_cast<DWORD>(bytes);
      type.lSampleSize = static_cast<ULONG>(bytes);
    }
  }
  return true;
}

}  // namespace

bool VideoCapture::SelectDevice(int index) {
  sourceFilter.Reset();
  ComPtr<IMoniker> moniker = MonikerAt(CLSID_VideoInputDeviceCategory, index);
  if (!moniker) {
    failures.NoteStepCause(kCauseNoSuchDevice, 0,
                           "There is no camera at index %d: ListDevices lists the cameras there "
                           "are (plug one in, then list them again).",
                           index);
    return false;
  }
  char found[kNameEntryBytes] = {};
  NameListWriter name(found);
  if (!AddFriendlyName(moniker.Get(), name)) {
    failures.NoteStepCause(kCauseNoSuchDevice, 0,
                           "The camera at index %d has no readable name: it is not set up as a "
                           "capture device; choose another.",
                           index);
    return false;
  }
  SetDeviceName(found);
  deviceIdentity = DeviceIdentityOf(moniker.Get());
  const HRESULT bound = moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                              reinterpret_cast<void**>(&sourceFilter));
  if (bound == S_OK) return true;
  failures.NoteStep(FailureStep::Binding, bound, "camera", "opening it", "Open");
  return false;
}

bool VideoCapture::BuildGraph() {
  // The grabber enters the graph before the capture filter; no null renderer: the
  // builder ends the stream in its video renderer.
  return BuildCaptureGraph(graph, captureBuilder, grabberFilter, nullptr, sourceFilter.Get(),
                           L"Video Source", "camera", failures);
}

// PAL-D is the one standard the object ever selects, as hosts of this interface expect
// of an analogue capture card that offers it; a card without it keeps its own.
void VideoCapture::SelectTvStandard() {
  ComPtr<IAMAnalogVideoDecoder> decoder;
  if (!sourceFilter || !sourceFilter.As(decoder, IID_IAMAnalogVideoDecoder)) return;
  long available = 0, current = 0;
  if (decoder->get_AvailableTVFormats(&available) != S_OK || !(available & AnalogVideo_PAL_D))
    return;
  if (decoder->get_TVFormat(&current) != S_OK || current == AnalogVideo_PAL_D) return;
  decoder->put_TVFormat(AnalogVideo_PAL_D);
}

bool VideoCapture::ConfigureFormat() {
  SelectTvStandard();
  ComPtr<IAMStreamConfig> config;
  if (captureBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, sourceFilter.Get(),
                                    IID_IAMStreamConfig, reinterpret_cast<void**>(&config)) != S_OK)
    return true;  // the device keeps its own format; the connection is checked after
  const int32_t width = delivery->Width(), height = delivery->Height();
  const GUID* wantedSubtype = HostFormatOf(formatCode).subtype;
  const std::optional<PixelFormat> wanted =
      wantedSubtype ? PixelFormatOfSubtype(*wantedSubtype) : std::nullopt;

  cameraWidth = width;
  cameraHeight = height;
  std::vector<CameraMode> modes;
  std::vector<MediaType> types;
  HRESULT lastRefusal = S_OK;  // the camera's answer to the last mode it refused
  if (!ReadCameraModes(config.Get(), modes, types)) {
    // No list of modes: the device's current type, edited in place.
    MediaType type;
    if (config->GetFormat(&type) != S_OK || !type) return true;
    if (!EditType(*type.Get(), wantedSubtype, HostFormatOf(formatCode).bitCount, width, height,
                  kThirtyFramesInterval))
      return true;
    // A device that refuses it gets it from the grabber; whether the stream can
    // become the wanted frames is checked once connected.
    if (config->SetFormat(type.Get()) != S_OK) wantedMediaType = std::move(type);
    return true;
  }

  // The camera's own modes, best first (see ChooseCameraMode); the first it accepts.
  while (true) {
    const int choice = ChooseCameraMode(modes, width, height, wanted);
    if (choice < 0) {  // no mode will do (left): Open fails honestly
      // A refusal that says more than "not this format" (a camera in use) says that.
      if (lastRefusal != S_OK &&
          CauseOfResult(FailureStep::Format, lastRefusal) != kCauseFormatRefused) {
        failures.NoteStep(FailureStep::Format, lastRefusal, "camera", "setting its format",
                          "Open");
        return false;
      }
      failures.NoteStepCause(kCauseFormatRefused, lastRefusal,
                             "The camera has no mode that can give %d x %d frames in format %s "
                             "(0x%08lX): choose another size or format (ListCameraModes lists "
                             "its own), then Open again.",
                             width, height, HostFormatOf(formatCode).name,
                             static_cast<unsigned long>(lastRefusal) & 0xFFFFFFFFul);
      return false;
    }
    const CameraMode& mode = modes[static_cast<size_t>(choice)];
    MediaType& type = types[static_cast<size_t>(choice)];
    mode.PictureFor(width, height, cameraWidth, cameraHeight);
    const bool ranged = mode.minWidth != mode.maxWidth || mode.minHeight != mode.maxHeight;
    const bool exact = cameraWidth == width && cameraHeight == height;
    // A mode with a range of sizes takes the size, and maybe the wanted format too,
    // as an edited type; a webcam's mode is asked for with its own type.
    if (ranged && exact && wantedSubtype) {
      MediaType edited = MediaType::CopyOf(*type.Get());
      if (edited &&
          EditType(*edited.Get(), wantedSubtype, HostFormatOf(formatCode).bitCount, width, height,
                   mode.IntervalFor30()) &&
          config->SetFormat(edited.Get()) == S_OK) {
        wantedMediaType = MediaType::CopyOf(*edited.Get());
        return true;
      }
    }
    if (EditType(*type.Get(), nullptr, 0, cameraWidth, cameraHeight, mode.IntervalFor30())) {
      const HRESULT set = config->SetFormat(type.Get());
      if (set == S_OK) {
        wantedMediaType = MediaType::CopyOf(*type.Get());
        return true;
      }
      lastRefusal = set;
    }
    // Refused: try the next best.
    modes[static_cast<size_t>(choice)].format.reset();
    modes[static_cast<size_t>(choice)].motionJpeg = false;
  }
}

bool VideoCapture::ConnectGrabber() {
  ComPtr<ISampleGrabber> grabber = AttachGrabberCallback(grabberFilter, grabberCallback, this);
  if (!grabber) return false;
  if (wantedMediaType) grabber->SetMediaType(wantedMediaType.Get());  // result not tested
  // No sink filter: the builder ends the stream in its video renderer.
  const HRESULT rendered = captureBuilder->RenderStream(
      &PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, sourceFilter.Get(), grabberFilter.Get(), nullptr);
  if (rendered != S_OK && !EndInNullRenderer()) {
    failures.NoteStep(FailureStep::Connection, rendered, "camera",
                      "connecting its stream to the library", "Open");
    return false;
  }
  // The builder may route through a Smart Tee or a converter; the frames must reach the grabber.
  ComPtr<IPin> capturePin =
      FindCapturePin(captureBuilder.Get(), sourceFilter.Get(), MEDIATYPE_Video);
  if (!StreamReaches(capturePin.Get(), grabberFilter.Get())) {
    failures.NoteStepCause(kCauseCannotConnect, 0,
                           "The camera's capture stream does not reach the library (another "
                           "pin of it was connected): choose another format, then Open again.");
    return false;
  }
  if (AdoptConnectedFormat(*grabber.Get())) return true;
  failures.NoteStepCause(kCauseFormatRefused, 0,
                         "The camera connected in a mode (%d x %d, format 0x%08X) that cannot "
                         "become the %d x %d frames in format %s asked for: choose another size "
                         "or format, then Open again.",
                         modeInUse.cameraWidth, modeInUse.cameraHeight, modeInUse.cameraFormat,
                         delivery->Width(), delivery->Height(), HostFormatOf(formatCode).name);
  return false;
}

bool VideoCapture::EndInNullRenderer() {
  // No renderer takes the camera's format (and no converter brings it to one): the
  // grabber's stream ends in a null renderer, and the preview is drawn by the
  // library from the frames it delivers.
  ComPtr<IPin> grabberInput = FindPin(grabberFilter.Get(), PINDIR_INPUT);
  ComPtr<IPin> grabberOutput = FindPin(grabberFilter.Get(), PINDIR_OUTPUT);
  ComPtr<IPin> connected;
  if (!grabberInput || !grabberOutput || grabberInput->ConnectedTo(&connected) != S_OK)
    return false;
  connected.Reset();
  if (grabberOutput->ConnectedTo(&connected) == S_OK) return true;
  RemoveUnconnectedFilters(graph.Get());
  if (!CreateInProcess(CLSID_NullRenderer, nullRenderer) ||
      graph->AddFilter(nullRenderer.Get(), L"Null Render") != S_OK)
    return false;
  ComPtr<IPin> rendererInput = FindPin(nullRenderer.Get(), PINDIR_INPUT);
  if (!rendererInput ||
      graph->ConnectDirect(grabberOutput.Get(), rendererInput.Get(), nullptr) != S_OK)
    return false;
  return true;
}

bool VideoCapture::AdoptConnectedFormat(ISampleGrabber& grabber) {
  AM_MEDIA_TYPE connected{};
  if (grabber.GetConnectedMediaType(&connected) != S_OK) return false;
  VideoTypeFacts facts;
  const bool known = ReadVideoType(connected, facts);
  modeInUse = VideoCaptureStatistics{};
  if (known) {
    REFERENCE_TIME* interval = nullptr;
    VideoHeaderOf(connected, &interval);
    modeInUse.cameraFormat = FormatCodeOfSubtype(connected.subtype);
    modeInUse.cameraWidth = facts.width;
    modeInUse.cameraHeight = facts.height;
    modeInUse.frameInterval = interval ? static_cast<int>(*interval) : 0;
    modeInUse.videoInfo2 = IsEqualGUID(connected.formattype, FORMAT_VideoInfo2) ? 1 : 0;
  }
  if (connected.cbFormat && connected.pbFormat) CoTaskMemFree(connected.pbFormat);
  if (connected.pUnk) connected.pUnk->Release();
  const int32_t width = delivery->Width(), height = delivery->Height();
  // The picture asked of the camera; a device without IAMStreamConfig was asked nothing.
  const int32_t askedWidth = cameraWidth > 0 ? cameraWidth : width;
  const int32_t askedHeight = cameraHeight > 0 ? cameraHeight : height;
  if (!known || facts.width != askedWidth || facts.height != askedHeight) return false;
  const bool sameSize = facts.width == width && facts.height == height;
  modeInUse.treatment = sameSize ? kVideoPassedThrough : kVideoCroppedAndScaled;

  const GUID* wantedSubtype = HostFormatOf(formatCode).subtype;
  if (!wantedSubtype) {
    // The host takes the device's own format as it comes; MJPG frames, whose length
    // varies, it could not tell apart, and frames of another size it did not ask for.
    if (facts.motionJpeg || !sameSize) return false;
    int32_t length = facts.sampleBytes;
    if (facts.format) {
      deliveredFormat = FrameFormat{*facts.format, width, height, facts.topDown};
      length = SourceFrameBytes(*deliveredFormat);
    }
    if (length <= 0) return false;
    delivery->SetCameraFormat(length, nullptr);
    return true;
  }
  const PixelFormat wanted = *PixelFormatOfSubtype(*wantedSubtype);
  deliveredFormat = FrameFormat{wanted, width, height, false};
  if (facts.motionJpeg) {
    std::shared_ptr<FrameDecoder> decoder =
        MjpegDecoder::Create(facts.width, facts.height, wanted, width, height);
    if (!decoder || decoder->TargetBytes() != delivery->FrameLength()) return false;
    // A compressed frame is never longer than the type says, nor than the picture
    // would be uncompressed at 32 bits; a longer one is dropped, not taken for JPEG.
    const int32_t maxLength =
        std::max(facts.sampleBytes, ExpectedFrameLength(facts.width, facts.height, 32));
    delivery->SetCameraDecoder(maxLength, std::move(decoder));
    modeInUse.treatment |= kVideoDecoded;
    return true;
  }
  if (!facts.format) return false;
  const FrameFormat camera{*facts.format, facts.width, facts.height, facts.topDown};
  // The camera's frames are already the host's: handed over as they are.
  if (sameSize && *facts.format == wanted && !facts.topDown &&
      SourceFrameBytes(camera) == delivery->FrameLength()) {
    delivery->SetCameraFormat(delivery->FrameLength(), nullptr);
    return true;
  }
  auto converter = std::make_shared<FrameConverter>();
  if (!converter->Configure(camera, wanted, width, height) ||
      converter->TargetBytes() != delivery->FrameLength())
    return false;
  const int32_t cameraLength = converter->SourceBytes();
  delivery->SetCameraFormat(cameraLength, std::move(converter));
  if (*facts.format != wanted || facts.topDown) modeInUse.treatment |= kVideoConverted;
  return true;
}

CaptureResult VideoCapture::Open(int deviceIndex) {
  // From inside OnData the pass still walks the store that Reset would empty.
  if (delivery->IsDeliveryThread())
    return failures.Refuse(kSlotOpen, "Open was refused inside OnData: call it from another "
                                      "thread.");
  ScopedHostLock operation(delivery->OperationLock());
  Reset();
  figuresAtClose.Forget();
  if (!CallerInitialisedCom())
    return failures.Refuse(kSlotOpen, "Open was refused: this thread has not initialised COM; "
                                      "call CoInitializeEx on it first.");
  if (!SelectDevice(deviceIndex < 0 ? 0 : deviceIndex) || !BuildGraph() || !ConfigureFormat() ||
      !ConnectGrabber()) {
    // Nothing is held after a failed Open: the device may be opened by another.
    Reset();
    return failures.Fail(kSlotOpen, "The camera could not be set up: Open it again.");
  }
  opened = true;
  failures.Clear();
  WatchForDeviceLoss(deviceLoss, graph, *delivery, delivery->OpenStore(),
                     [this] { return CheckForSilence(); }, kDeviceVideo, deviceIdentity);
  SetPreviewWindow(previewOwner);  // a window chosen before Open takes effect now
  return kCaptureDone;
}

CaptureResult VideoCapture::Start() {
  ScopedHostLock operation(delivery->OperationLock());
  if (!opened) return failures.Refuse(kSlotStart, "Start was refused: no camera is open; Open one first.");
  startTick.store(TickCount(), std::memory_order_release);
  HRESULT result = S_OK;
  if (StartCapture(graph, *delivery, result)) return kCaptureDone;
  failures.NoteStep(FailureStep::Run, result, "camera", "starting it", "Start");
  return failures.Fail(kSlotStart, "The camera could not be started: Start it again.");
}

CaptureResult VideoCapture::Stop() {
  ScopedHostLock operation(delivery->OperationLock());
  if (!opened) return failures.Refuse(kSlotStop, "Stop was refused: no camera is open.");
  if (StopCapture(graph, *delivery)) return kCaptureDone;
  return failures.Fail(kSlotStop, "Stop failed: the graph has no IMediaControl.");
}

CaptureResult VideoCapture::SetPreviewWindow(void* ownerWindow) {
  ScopedHostLock operation(delivery->OperationLock());
  previewOwner = static_cast<HWND>(ownerWindow);
  if (!opened) return kCaptureDone;  // applied by the next Open
  if (nullRenderer) {
    ClosePainter();
    if (!previewOwner) return kCaptureDone;
    if (deliveredFormat)
      previewPainter =
          PreviewPainter::Create(previewOwner, *deliveredFormat, kPreviewWidth, kPreviewHeight);
    if (!previewPainter)
      return failures.Fail(kSlotSetPreviewWindow,
                           "SetPreviewWindow failed: the library's preview window could not be "
                           "made in that window.");
    delivery->SetViewer(previewPainter);
    return kCaptureDone;
  }
  ComPtr<IVideoWindow> window;
  if (!graph.As(window, IID_IVideoWindow))
    return failures.Fail(kSlotSetPreviewWindow, "SetPreviewWindow failed: the graph has no video "
                                                "window.");
  // Results deliberately ignored: a window that cannot be placed still captures.
  if (previewOwner) {
    window->put_AutoShow(OATRUE);
    window->put_Owner(reinterpret_cast<OAHWND>(previewOwner));
    window->put_Left(0);
    window->put_Top(0);
    window->put_Width(kPreviewWidth);
    window->put_Height(kPreviewHeight);
    window->put_WindowStyle(WS_CHILD);
    // Once more in one call: some renderers (Wine's) take the other coordinate of
    // put_Left/put_Top from the window's screen position, leaving the child offset
    // inside its owner by the owner's own place on the screen.
    window->SetWindowPosition(0, 0, kPreviewWidth, kPreviewHeight);
  } else {
    window->put_AutoShow(OAFALSE);
  }
  return kCaptureDone;
}

}  // namespace tesmo
