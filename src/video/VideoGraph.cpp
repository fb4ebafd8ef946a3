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
#include "video/VideoCapture.h"

namespace tesmo {

namespace {

constexpr REFERENCE_TIME kFrameInterval = 333333;  // 30 frames per second, in 100 ns
constexpr int kPreviewWidth = 240;
constexpr int kPreviewHeight = 180;

// The subtype of a format code, or null for a code that keeps the device's own.
const GUID* SubtypeOfFormatCode(int32_t formatCode) {
  switch (formatCode) {
    case kVideoRgb24: return &MEDIASUBTYPE_RGB24;
    case kVideoI420: return &kMediaSubtypeI420;
    case kVideoRgb555: return &MEDIASUBTYPE_RGB555;
    case kVideoRgb32: return &MEDIASUBTYPE_RGB32;
    default: return nullptr;
  }
}

}  // namespace

bool VideoCapture::SelectDevice(int index) {
  sourceFilter.Reset();
  ComPtr<IEnumMoniker> monikers;
  if (!EnumerateCategory(CLSID_VideoInputDeviceCategory, monikers)) return false;
  // Stepped over with Next: Wine's device enumerator answers Skip without moving.
  ComPtr<IMoniker> moniker;
  for (int skipped = 0;; ++skipped) {
    if (monikers->Next(1, &moniker, nullptr) != S_OK || !moniker) return false;
    if (skipped >= index) break;
  }
  char found[kNameEntryBytes] = {};
  NameListWriter name(found);
  if (!AddFriendlyName(moniker.Get(), name)) return false;
  SetDeviceName(found);
  return moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                               reinterpret_cast<void**>(&sourceFilter)) == S_OK;
}

bool VideoCapture::BuildGraph() {
  // The grabber enters the graph before the capture filter.
  return CreateInProcess(CLSID_FilterGraph, graph) &&
         CreateInProcess(CLSID_CaptureGraphBuilder2, captureBuilder) &&
         captureBuilder->SetFiltergraph(graph.Get()) == S_OK &&
         CreateInProcess(CLSID_SampleGrabber, grabberFilter) &&
         graph->AddFilter(grabberFilter.Get(), L"Data Capture") == S_OK &&
         graph->AddFilter(sourceFilter.Get(), L"Video Source") == S_OK;
}

void VideoCapture::SelectTvStandard() {
  ComPtr<IAMAnalogVideoDecoder> decoder;
  if (!sourceFilter || !sourceFilter.As(decoder, IID_IAMAnalogVideoDecoder)) return;
  long available = 0, current = 0;
  if (decoder->get_AvailableTVFormats(&available) != S_OK || !(available & AnalogVideo_PAL_D))
    return;
  if (decoder->get_TVFormat(&current) != S_OK || current == AnalogVideo_PAL_D) return;
  decoder->put_TVFormat(AnalogVideo_PAL_D);
}

void VideoCapture::ConfigureFormat() {
  SelectTvStandard();
  ComPtr<IAMStreamConfig> config;
  if (captureBuilder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, sourceFilter.Get(),
                                    IID_IAMStreamConfig, reinterpret_cast<void**>(&config)) != S_OK)
    return;  // the device keeps its own format
  MediaType type;
  if (config->GetFormat(&type) != S_OK || !type) return;
  if (type->formattype != FORMAT_VideoInfo || !type->pbFormat ||
      type->cbFormat < sizeof(VIDEOINFOHEADER))
    return;

  auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
  info->bmiHeader.biWidth = delivery->Width();
  info->bmiHeader.biHeight = delivery->Height();
  info->bmiHeader.biCompression = BI_RGB;
  info->bmiHeader.biPlanes = 1;
  info->AvgTimePerFrame = kFrameInterval;
  type->majortype = MEDIATYPE_Video;
  if (const GUID* subtype = SubtypeOfFormatCode(formatCode)) {
    type->subtype = *subtype;
    info->bmiHeader.biBitCount = static_cast<WORD>(BitCountOfFormatCode(formatCode));
    if (formatCode == kVideoI420) {
      info->bmiHeader.biCompression = MAKEFOURCC('I', '4', '2', '0');
      type->lSampleSize = static_cast<ULONG>(delivery->FrameLength());
    }
  }
  // A device that refuses the format gets it from the grabber instead, and the
  // builder has to bring the stream into it.
  if (config->SetFormat(type.Get()) != S_OK) wantedMediaType = std::move(type);
}

bool VideoCapture::ConnectGrabber() {
  ComPtr<ISampleGrabber> grabber = AttachGrabberCallback(grabberFilter, grabberCallback, this);
  if (!grabber) return false;
  if (wantedMediaType) grabber->SetMediaType(wantedMediaType.Get());  // result not tested
  // No sink filter: the builder ends the stream in its video renderer.
  if (captureBuilder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, sourceFilter.Get(),
                                   grabberFilter.Get(), nullptr) != S_OK)
    return false;
  // The builder may route through a Smart Tee or a converter; the frames must reach the grabber.
  ComPtr<IPin> capturePin =
      FindCapturePin(captureBuilder.Get(), sourceFilter.Get(), MEDIATYPE_Video);
  return StreamReaches(capturePin.Get(), grabberFilter.Get());
}

CaptureResult VideoCapture::Open(int deviceIndex) {
  // From inside OnData the pass still walks the store that Reset would empty.
  if (delivery->IsDeliveryThread()) return kCaptureFailed;
  ScopedHostLock operation(delivery->OperationLock());
  Reset();
  if (!CallerInitialisedCom()) return kCaptureFailed;
  if (!SelectDevice(deviceIndex < 0 ? 0 : deviceIndex) || !BuildGraph()) return kCaptureFailed;
  ConfigureFormat();
  if (!ConnectGrabber()) return kCaptureFailed;
  opened = true;
  WatchForDeviceLoss(deviceLoss, graph, *delivery, delivery->OpenStore());
  SetPreviewWindow(previewOwner);  // a window chosen before Open takes effect now
  return kCaptureDone;
}

CaptureResult VideoCapture::Start() {
  ScopedHostLock operation(delivery->OperationLock());
  if (!opened) return kCaptureFailed;
  return StartCapture(graph, *delivery);
}

CaptureResult VideoCapture::Stop() {
  ScopedHostLock operation(delivery->OperationLock());
  if (!opened) return kCaptureFailed;
  return StopCapture(graph, *delivery);
}

CaptureResult VideoCapture::SetPreviewWindow(void* ownerWindow) {
  ScopedHostLock operation(delivery->OperationLock());
  previewOwner = static_cast<HWND>(ownerWindow);
  if (!opened) return kCaptureDone;  // applied by the next Open
  ComPtr<IVideoWindow> window;
  if (!graph.As(window, IID_IVideoWindow)) return kCaptureFailed;
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
