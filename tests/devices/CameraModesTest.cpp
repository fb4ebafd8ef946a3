// The camera's mode lists, laid out as USB webcams lay them out: what IAMStreamConfig and the
// capture pin list, what SetFormat refuses, and the picture each format delivers.
#include "DeviceTestSupport.h"

#include <dvdmedia.h>

#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "support/PictureReader.h"

namespace {

using testdevices::PictureView;
using testdevices::PixelFormat;

const GUID kI420 = {0x30323449, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

BITMAPINFOHEADER* PictureOf(AM_MEDIA_TYPE* type) {
  if (type->formattype == FORMAT_VideoInfo && type->cbFormat >= sizeof(VIDEOINFOHEADER))
    return &reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader;
  if (type->formattype == FORMAT_VideoInfo2 && type->cbFormat >= sizeof(VIDEOINFOHEADER2))
    return &reinterpret_cast<VIDEOINFOHEADER2*>(type->pbFormat)->bmiHeader;
  return nullptr;
}

REFERENCE_TIME& IntervalOf(AM_MEDIA_TYPE* type) {
  if (type->formattype == FORMAT_VideoInfo2)
    return reinterpret_cast<VIDEOINFOHEADER2*>(type->pbFormat)->AvgTimePerFrame;
  return reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->AvgTimePerFrame;
}

// One capability as a test compares it.
struct Listed {
  GUID formatType, subtype;
  LONG width, height;
  DWORD sizeImage;
  ULONG sampleSize;
  REFERENCE_TIME interval;
  VIDEO_STREAM_CONFIG_CAPS caps;
};

std::vector<Listed> ReadCapabilities(IAMStreamConfig* config) {
  std::vector<Listed> list;
  int count = 0, size = 0;
  if (config->GetNumberOfCapabilities(&count, &size) != S_OK ||
      size != int(sizeof(VIDEO_STREAM_CONFIG_CAPS)))
    return list;
  for (int i = 0; i < count; ++i) {
    AM_MEDIA_TYPE* type = nullptr;
    Listed entry = {};
    if (config->GetStreamCaps(i, &type, reinterpret_cast<BYTE*>(&entry.caps)) != S_OK) break;
    const BITMAPINFOHEADER* picture = PictureOf(type);
    entry.formatType = type->formattype;
    entry.subtype = type->subtype;
    entry.width = picture ? picture->biWidth : 0;
    entry.height = picture ? picture->biHeight : 0;
    entry.sizeImage = picture ? picture->biSizeImage : 0;
    entry.sampleSize = type->lSampleSize;
    entry.interval = picture ? IntervalOf(type) : 0;
    list.push_back(entry);
    FreeType(type);
  }
  return list;
}

// Capability `index`'s own type, edited by `edit`, passed to SetFormat.
template <typename Edit>
HRESULT SetListedFormat(IAMStreamConfig* config, int index, Edit edit) {
  AM_MEDIA_TYPE* type = nullptr;
  VIDEO_STREAM_CONFIG_CAPS caps;
  HRESULT hr = config->GetStreamCaps(index, &type, reinterpret_cast<BYTE*>(&caps));
  if (hr != S_OK) return hr == S_FALSE ? E_FAIL : hr;
  edit(type);
  hr = config->SetFormat(type);
  FreeType(type);
  return hr;
}

HRESULT SetListedFormat(IAMStreamConfig* config, int index) {
  return SetListedFormat(config, index, [](AM_MEDIA_TYPE*) {});
}

// The same picture in the other format block.
void SwapFormatBlock(AM_MEDIA_TYPE* type) {
  if (type->formattype == FORMAT_VideoInfo) {
    const VIDEOINFOHEADER old = *reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
    auto* block = static_cast<VIDEOINFOHEADER2*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER2)));
    *block = {};
    block->rcSource = old.rcSource;
    block->rcTarget = old.rcTarget;
    block->AvgTimePerFrame = old.AvgTimePerFrame;
    block->dwPictAspectRatioX = 4;
    block->dwPictAspectRatioY = 3;
    block->bmiHeader = old.bmiHeader;
    CoTaskMemFree(type->pbFormat);
    type->pbFormat = reinterpret_cast<BYTE*>(block);
    type->cbFormat = sizeof *block;
    type->formattype = FORMAT_VideoInfo2;
  } else {
    const VIDEOINFOHEADER2 old = *reinterpret_cast<VIDEOINFOHEADER2*>(type->pbFormat);
    auto* block = static_cast<VIDEOINFOHEADER*>(CoTaskMemAlloc(sizeof(VIDEOINFOHEADER)));
    *block = {};
    block->rcSource = old.rcSource;
    block->rcTarget = old.rcTarget;
    block->AvgTimePerFrame = old.AvgTimePerFrame;
    block->bmiHeader = old.bmiHeader;
    CoTaskMemFree(type->pbFormat);
    type->pbFormat = reinterpret_cast<BYTE*>(block);
    type->cbFormat = sizeof *block;
    type->formattype = FORMAT_VideoInfo;
  }
}

class CameraModesTest : public DeviceTest {
protected:
  // The capture pin's enumerated types: (format type, subtype) pairs.
  static std::vector<std::pair<GUID, GUID>> EnumeratedTypes(IBaseFilter* source) {
    std::vector<std::pair<GUID, GUID>> types;
    ComPtr<IPin> capture = FirstPin(source, PINDIR_OUTPUT);
    ComPtr<IEnumMediaTypes> list;
    if (!capture || capture->EnumMediaTypes(&list) != S_OK) return types;
    AM_MEDIA_TYPE* type = nullptr;
    while (list->Next(1, &type, nullptr) == S_OK) {
      types.emplace_back(type->formattype, type->subtype);
      FreeType(type);
    }
    return types;
  }
};

TEST_F(CameraModesTest, CapabilitiesListEachModeAsDescribed) {
  UseDevices(
      {L"kind=video;name=Usb;formats=YUY2:640x480,NV12:1280x720@5-10,RGB24:320x-240,"
       L"I420:160x120;caps=both;format=NV12:1280x720",
       L"kind=video;name=Pairs;formats=YUY2:640x480,RGB24:320x240;caps=pairs;"
       L"fpsrange=5-15;granularity=0",
       L"kind=video;name=Two;formats=UYVY:320x240,YV12:320x240,RGB565:320x240;caps=vi2",
       L"kind=video;name=Upside;formats=RGB24:320x240,RGB32:640x480,YUY2:320x240;topdown=1",
       L"kind=video;name=Analog"});
  {
    SCOPED_TRACE("each mode as VideoInfo, then each as VideoInfo2");
    ComPtr<IBaseFilter> source = BindFilter(CLSID_VideoInputDeviceCategory, 0);
    ComPtr<IAMStreamConfig> config = VideoStreamConfig(source.Get());
    ASSERT_TRUE(config);
    const std::vector<Listed> list = ReadCapabilities(config.Get());
    ASSERT_EQ(8u, list.size());
    const struct {
      GUID subtype;
      LONG width, height;
      DWORD sizeImage;
      REFERENCE_TIME shortest;
    } modes[] = {{MEDIASUBTYPE_YUY2, 640, 480, 640 * 480 * 2, 333333},
                 {MEDIASUBTYPE_NV12, 1280, 720, 1280 * 720 * 3 / 2, 1000000},
                 {MEDIASUBTYPE_RGB24, 320, -240, 320 * 240 * 3, 333333},
                 {kI420, 160, 120, 160 * 120 * 3 / 2, 333333}};
    for (size_t i = 0; i < list.size(); ++i) {
      SCOPED_TRACE("capability " + std::to_string(i));
      const Listed& entry = list[i];
      const auto& mode = modes[i % 4];
      EXPECT_EQ(i < 4 ? FORMAT_VideoInfo : FORMAT_VideoInfo2, entry.formatType);
      EXPECT_EQ(entry.formatType, entry.caps.guid);
      EXPECT_EQ(mode.subtype, entry.subtype);
      EXPECT_EQ(mode.width, entry.width);
      EXPECT_EQ(mode.height, entry.height);
      EXPECT_EQ(mode.sizeImage, entry.sizeImage);
      EXPECT_EQ(mode.sizeImage, entry.sampleSize);
      EXPECT_EQ(mode.width, entry.caps.MinOutputSize.cx);
      EXPECT_EQ(mode.width, entry.caps.MaxOutputSize.cx);
      EXPECT_EQ(std::abs(mode.height), entry.caps.MinOutputSize.cy);
      EXPECT_EQ(std::abs(mode.height), entry.caps.MaxOutputSize.cy);
      EXPECT_EQ(mode.width, entry.caps.InputSize.cx);
      EXPECT_EQ(1, entry.caps.OutputGranularityX);
      EXPECT_EQ(mode.shortest, entry.caps.MinFrameInterval);
      EXPECT_EQ(2000000, entry.caps.MaxFrameInterval);  // 5 fps
      EXPECT_EQ(mode.shortest, entry.interval) << "the mode's fastest rate, as webcams list";
    }
    AM_MEDIA_TYPE* type = reinterpret_cast<AM_MEDIA_TYPE*>(1);
    VIDEO_STREAM_CONFIG_CAPS caps;
    EXPECT_EQ(S_FALSE, config->GetStreamCaps(8, &type, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(nullptr, type);
    EXPECT_EQ(E_INVALIDARG, config->GetStreamCaps(-1, &type, reinterpret_cast<BYTE*>(&caps)));

    AM_MEDIA_TYPE* current = nullptr;
    ASSERT_EQ(S_OK, config->GetFormat(&current));
    EXPECT_EQ(MEDIASUBTYPE_NV12, current->subtype);
    EXPECT_EQ(1280, PictureOf(current)->biWidth);
    EXPECT_EQ(1000000, IntervalOf(current)) << "30 fps is beyond this mode: its fastest";
    FreeType(current);

    // The pin lists every mode until one is set, then that one alone.
    std::vector<std::pair<GUID, GUID>> expected;
    for (const Listed& entry : list) expected.emplace_back(entry.formatType, entry.subtype);
    EXPECT_EQ(expected, EnumeratedTypes(source.Get()));
    ASSERT_EQ(S_OK, SetListedFormat(config.Get(), 6));
    EXPECT_EQ((std::vector<std::pair<GUID, GUID>>{{FORMAT_VideoInfo2, MEDIASUBTYPE_RGB24}}),
              EnumeratedTypes(source.Get()));
  }
  {
    SCOPED_TRACE("pairs, a device-wide rate range, no granularity");
    ComPtr<IAMStreamConfig> config =
        VideoStreamConfig(BindFilter(CLSID_VideoInputDeviceCategory, 1).Get());
    ASSERT_TRUE(config);
    const std::vector<Listed> list = ReadCapabilities(config.Get());
    ASSERT_EQ(4u, list.size());
    const GUID order[][2] = {{FORMAT_VideoInfo, MEDIASUBTYPE_YUY2},
                             {FORMAT_VideoInfo2, MEDIASUBTYPE_YUY2},
                             {FORMAT_VideoInfo, MEDIASUBTYPE_RGB24},
                             {FORMAT_VideoInfo2, MEDIASUBTYPE_RGB24}};
    for (size_t i = 0; i < list.size(); ++i) {
      EXPECT_EQ(order[i][0], list[i].formatType) << i;
      EXPECT_EQ(order[i][1], list[i].subtype) << i;
      EXPECT_EQ(666666, list[i].caps.MinFrameInterval) << "15 fps: 30 is outside every mode";
      EXPECT_EQ(2000000, list[i].caps.MaxFrameInterval);
      EXPECT_EQ(0, list[i].caps.OutputGranularityX);
      EXPECT_EQ(0, list[i].caps.OutputGranularityY);
    }
  }
  {
    SCOPED_TRACE("VideoInfo2 only; starts in its first mode");
    ComPtr<IAMStreamConfig> config =
        VideoStreamConfig(BindFilter(CLSID_VideoInputDeviceCategory, 2).Get());
    ASSERT_TRUE(config);
    const std::vector<Listed> list = ReadCapabilities(config.Get());
    ASSERT_EQ(3u, list.size());
    for (const Listed& entry : list) EXPECT_EQ(FORMAT_VideoInfo2, entry.formatType);
    EXPECT_EQ(MEDIASUBTYPE_YV12, list[1].subtype);
    EXPECT_EQ(MEDIASUBTYPE_RGB565, list[2].subtype);
    EXPECT_EQ(320u * 240 * 2, list[2].sizeImage);
    AM_MEDIA_TYPE* current = nullptr;
    ASSERT_EQ(S_OK, config->GetFormat(&current));
    EXPECT_EQ(FORMAT_VideoInfo2, current->formattype);
    EXPECT_EQ(MEDIASUBTYPE_UYVY, current->subtype);
    FreeType(current);
  }
  {
    SCOPED_TRACE("topdown=1: RGB modes have negative heights, YUV ones not");
    ComPtr<IAMStreamConfig> config =
        VideoStreamConfig(BindFilter(CLSID_VideoInputDeviceCategory, 3).Get());
    ASSERT_TRUE(config);
    const std::vector<Listed> list = ReadCapabilities(config.Get());
    ASSERT_EQ(3u, list.size());
    EXPECT_EQ(-240, list[0].height);
    EXPECT_EQ(-480, list[1].height);
    EXPECT_EQ(240, list[2].height);
    EXPECT_EQ(480, list[1].caps.MaxOutputSize.cy);
  }
  {
    SCOPED_TRACE("formats=*: one capability with a size range, like an analog card");
    ComPtr<IBaseFilter> source = BindFilter(CLSID_VideoInputDeviceCategory, 4);
    ComPtr<IAMStreamConfig> config = VideoStreamConfig(source.Get());
    ASSERT_TRUE(config);
    const std::vector<Listed> list = ReadCapabilities(config.Get());
    ASSERT_EQ(1u, list.size());
    EXPECT_EQ(1, list[0].caps.MinOutputSize.cx);
    EXPECT_EQ(8192, list[0].caps.MaxOutputSize.cx);
    EXPECT_EQ(320, list[0].width);
    EXPECT_EQ(1u, EnumeratedTypes(source.Get()).size());
  }
}

TEST_F(CameraModesTest, SetFormatTakesOnlyWhatIsListed) {
  UseDevices({L"kind=video;name=Strict;formats=YUY2:640x480,RGB24:320x-240,NV12:320x240@5-15",
              L"kind=video;name=Vi2;formats=YUY2:640x480;caps=vi2"});
  ComPtr<IAMStreamConfig> config =
      VideoStreamConfig(BindFilter(CLSID_VideoInputDeviceCategory, 0).Get());
  ASSERT_TRUE(config);
  // Size not offered, the other row order of a top-down mode, a bit count or compression
  // that does not fit the subtype, a format block the camera does not list.
  EXPECT_NE(S_OK, SetListedFormat(config.Get(), 0, [](AM_MEDIA_TYPE* t) {
              PictureOf(t)->biWidth = 320;
              PictureOf(t)->biHeight = 240;
            }));
  EXPECT_NE(S_OK, SetListedFormat(config.Get(), 1,
                                  [](AM_MEDIA_TYPE* t) { PictureOf(t)->biHeight = 240; }));
  EXPECT_NE(S_OK, SetListedFormat(config.Get(), 0,
                                  [](AM_MEDIA_TYPE* t) { PictureOf(t)->biBitCount = 12; }));
  EXPECT_NE(S_OK, SetListedFormat(config.Get(), 2, [](AM_MEDIA_TYPE* t) {
              PictureOf(t)->biCompression = MAKEFOURCC('I', '4', '2', '0');
            }));
  EXPECT_NE(S_OK, SetListedFormat(config.Get(), 0, [](AM_MEDIA_TYPE* t) { t->subtype = kI420; }));
  EXPECT_NE(S_OK, SetListedFormat(config.Get(), 0, SwapFormatBlock));
  // Frame intervals: outside the mode's 5..15 fps refused, inside taken, none filled in.
  EXPECT_NE(S_OK,
            SetListedFormat(config.Get(), 2, [](AM_MEDIA_TYPE* t) { IntervalOf(t) = 333333; }));
  EXPECT_NE(S_OK,
            SetListedFormat(config.Get(), 2, [](AM_MEDIA_TYPE* t) { IntervalOf(t) = 2000001; }));
  EXPECT_EQ(S_OK,
            SetListedFormat(config.Get(), 2, [](AM_MEDIA_TYPE* t) { IntervalOf(t) = 1000000; }));
  EXPECT_EQ(S_OK, SetListedFormat(config.Get(), 2, [](AM_MEDIA_TYPE* t) { IntervalOf(t) = 0; }));
  AM_MEDIA_TYPE* current = nullptr;
  ASSERT_EQ(S_OK, config->GetFormat(&current));
  EXPECT_EQ(666666, IntervalOf(current)) << "30 fps asked by fps=, 15 allowed";
  FreeType(current);
  // The camera sizes frames from the picture, not from what the caller carried over.
  EXPECT_EQ(S_OK, SetListedFormat(config.Get(), 1, [](AM_MEDIA_TYPE* t) {
              PictureOf(t)->biSizeImage = 7;
              t->lSampleSize = 7;
            }));
  ASSERT_EQ(S_OK, config->GetFormat(&current));
  EXPECT_EQ(-240, PictureOf(current)->biHeight);
  EXPECT_EQ(320u * 240 * 3, PictureOf(current)->biSizeImage);
  EXPECT_EQ(320u * 240 * 3, current->lSampleSize);
  FreeType(current);

  ComPtr<IAMStreamConfig> vi2 =
      VideoStreamConfig(BindFilter(CLSID_VideoInputDeviceCategory, 1).Get());
  ASSERT_TRUE(vi2);
  EXPECT_NE(S_OK, SetListedFormat(vi2.Get(), 0, SwapFormatBlock));
  EXPECT_EQ(S_OK, SetListedFormat(vi2.Get(), 0, [](AM_MEDIA_TYPE* t) { IntervalOf(t) = 400000; }));
  config.Reset();
  vi2.Reset();

  TestDeviceRecord record = {};
  ASSERT_EQ(1, TestDevices_GetRecord(0, &record));
  EXPECT_EQ(3, record.setFormatAccepted);
  EXPECT_EQ(8, record.setFormatRefused);
  EXPECT_EQ(7u, record.lastVideoInfo.bmiHeader.biSizeImage) << "kept as passed";
  ASSERT_EQ(1, TestDevices_GetRecord(1, &record));
  EXPECT_EQ(FORMAT_VideoInfo2, record.lastFormatType.formattype);
  EXPECT_EQ(400000, record.lastVideoInfo2.AvgTimePerFrame);
  EXPECT_EQ(640, record.lastVideoInfo2.bmiHeader.biWidth);
  EXPECT_EQ(400000, record.lastVideoInfo.AvgTimePerFrame);
  EXPECT_EQ(1, record.setFormatRefused);
}

// Descriptions a real camera could not have are refused when the set is stored.
TEST_F(CameraModesTest, ImpossibleModesAreRefusedInTheDescription) {
  for (const wchar_t* bad :
       {L"kind=video;formats=YUY2:640x480;format=RGB24:640x480", L"kind=video;formats=YUY2:641x480",
        L"kind=video;formats=NV12:640x481", L"kind=video;formats=YUY2:640x-480",
        L"kind=video;formats=MJPG:640x-480", L"kind=video;formats=I420:640x480@30-5",
        L"kind=video;caps=vi3", L"kind=video;fpsrange=0-30"}) {
    SCOPED_TRACE(std::string(bad, bad + wcslen(bad)));
    const wchar_t* list[] = {bad};
    EXPECT_EQ(E_INVALIDARG, TestDevices_SetDevices(list, 1));
  }
}

// A camera nobody set a format on connects as a USB camera's pin does: its current format if
// the receiver takes it, else the first listed type the receiver takes; that becomes current.
TEST_F(CameraModesTest, AnUnsetCameraConnectsWithAListedTypeTheReceiverTakes) {
  UseDevices(
      {L"kind=video;name=Usb;formats=YUY2:640x480,RGB24:320x240,RGB32:320x240;"
       L"format=YUY2:640x480"});
  GrabbedSamples grabbed;
  {
    CaptureGraph g;
    g.source = BindFilter(CLSID_VideoInputDeviceCategory, 0);
    ASSERT_TRUE(g.source);
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IGraphBuilder, reinterpret_cast<void**>(&g.graph)));
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IBaseFilter, reinterpret_cast<void**>(&g.grabber)));
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IBaseFilter, reinterpret_cast<void**>(&g.renderer)));
    ASSERT_EQ(S_OK, g.graph->AddFilter(g.source.Get(), L"Source"));
    ASSERT_EQ(S_OK, g.graph->AddFilter(g.grabber.Get(), L"Data Capture"));
    ASSERT_EQ(S_OK, g.graph->AddFilter(g.renderer.Get(), L"Null Renderer"));
    ComPtr<ISampleGrabber> grab;
    ASSERT_EQ(S_OK, QueryInto(g.grabber, grab, IID_ISampleGrabber));
    AM_MEDIA_TYPE wanted = {};
    wanted.majortype = MEDIATYPE_Video;
    wanted.subtype = MEDIASUBTYPE_RGB24;
    ASSERT_EQ(S_OK, grab->SetMediaType(&wanted));
    grab->SetCallback(&grabbed, 1);
    // Straight from pin to pin: no converter can step in.
    ComPtr<IPin> capture = FirstPin(g.source.Get(), PINDIR_OUTPUT);
    ASSERT_EQ(S_OK, g.graph->ConnectDirect(capture.Get(),
                                           FirstPin(g.grabber.Get(), PINDIR_INPUT).Get(), nullptr));
    ASSERT_EQ(S_OK, g.graph->Connect(FirstPin(g.grabber.Get(), PINDIR_OUTPUT).Get(),
                                     FirstPin(g.renderer.Get(), PINDIR_INPUT).Get()));
    AM_MEDIA_TYPE connected = {};
    ASSERT_EQ(S_OK, capture->ConnectionMediaType(&connected));
    EXPECT_EQ(MEDIASUBTYPE_RGB24, connected.subtype);
    EXPECT_EQ(320, PictureOf(&connected)->biWidth);
    CoTaskMemFree(connected.pbFormat);
    ComPtr<IAMStreamConfig> config;
    ASSERT_EQ(S_OK, QueryInto(capture, config, IID_IAMStreamConfig));
    AM_MEDIA_TYPE* current = nullptr;
    ASSERT_EQ(S_OK, config->GetFormat(&current));
    EXPECT_EQ(MEDIASUBTYPE_RGB24, current->subtype);
    FreeType(current);
    config.Reset();
    capture.Reset();
    ASSERT_EQ(S_OK, QueryInto(g.graph, g.control, IID_IMediaControl));
    ASSERT_TRUE(RunGraph(g));
    EXPECT_TRUE(grabbed.WaitFor(2, 5000));
    g.Release();
  }
  auto frames = grabbed.Take();
  ASSERT_GE(frames.size(), 2u);
  EXPECT_EQ(320u * 240 * 3, frames[0].bytes.size());
  EXPECT_EQ(0, testpicture::ReadFrameNumber(
                   {PixelFormat::Rgb24, 320, 240, frames[0].bytes.data(), frames[0].bytes.size()}));
}

// Each format, set from its capability and captured through a sample grabber: frames have
// the layout's length, the stamp, and the number cells and bars read back from the bytes.
TEST_F(CameraModesTest, EachFormatDeliversTheCamerasPicture) {
  const struct {
    const wchar_t* mode;
    PixelFormat format;
    int height;
    size_t bytes;
  } formats[] = {
      {L"YUY2:320x240", PixelFormat::Yuy2, 240, 320 * 240 * 2},
      {L"UYVY:320x240", PixelFormat::Uyvy, 240, 320 * 240 * 2},
      {L"NV12:320x240", PixelFormat::Nv12, 240, 320 * 240 * 3 / 2},
      {L"YV12:320x240", PixelFormat::Yv12, 240, 320 * 240 * 3 / 2},
      {L"I420:320x240", PixelFormat::I420, 240, 320 * 240 * 3 / 2},
      {L"RGB565:320x240", PixelFormat::Rgb565, 240, 320 * 240 * 2},
      {L"RGB555:320x240", PixelFormat::Rgb555, 240, 320 * 240 * 2},
      {L"RGB32:320x240", PixelFormat::Rgb32, 240, 320 * 240 * 4},
      {L"RGB24:322x240", PixelFormat::Rgb24, 240, 968 * 240},  // DWORD-aligned rows
      {L"RGB24:320x-240", PixelFormat::Rgb24, -240, 320 * 240 * 3},
  };
  for (const auto& f : formats) {
    for (const wchar_t* layout : {L"vi", L"vi2"}) {
      const std::wstring mode = f.mode;
      SCOPED_TRACE(std::string(mode.begin(), mode.end()) +
                   " caps=" + std::string(layout, layout + wcslen(layout)));
      UseDevices({L"kind=video;name=Cam;formats=" + mode + L";caps=" + layout});
      const int width = f.bytes == 968 * 240 ? 322 : 320;
      std::vector<GrabbedSamples::Sample> frames;
      {
        ComPtr<IBaseFilter> source = BindFilter(CLSID_VideoInputDeviceCategory, 0);
        ComPtr<IAMStreamConfig> config = VideoStreamConfig(source.Get());
        ASSERT_TRUE(config);
        ASSERT_EQ(S_OK, SetListedFormat(config.Get(), 0));
        config.Reset();
        EXPECT_TRUE(CaptureFrames(std::move(source), 3, frames));
      }
      ASSERT_GE(frames.size(), 3u);
      for (const auto& frame : frames) {
        const uint32_t n = uint32_t(frame.time * 30 + 0.5);
        SCOPED_TRACE("frame " + std::to_string(n));
        ASSERT_EQ(f.bytes, frame.bytes.size());
        uint32_t stamp = 0;
        std::memcpy(&stamp, frame.bytes.data(), 4);
        EXPECT_EQ(n, stamp);
        const PictureView view{f.format, width, f.height, frame.bytes.data(), frame.bytes.size()};
        EXPECT_EQ(long(n), testpicture::ReadFrameNumber(view));
        EXPECT_EQ("", testpicture::CheckColourBars(view, n, 8));
      }
      if (f.height < 0) {
        // Top-down: read as if bottom-up, the picture is upside down and shows no number;
        // flipped row by row into a bottom-up DIB, it is upright again.
        const auto& top = frames.front().bytes;
        const uint32_t n = uint32_t(frames.front().time * 30 + 0.5);
        const size_t row = size_t(width) * 3;
        EXPECT_EQ(-1, testpicture::ReadFrameNumber(testpicture::HostFrame(
                          PixelFormat::Rgb24, width, 240, top.data(), top.size())));
        std::vector<BYTE> flipped(top.size());
        for (size_t y = 0; y < 240; ++y) std::memcpy(&flipped[(239 - y) * row], &top[y * row], row);
        const PictureView upright =
            testpicture::HostFrame(PixelFormat::Rgb24, width, 240, flipped.data(), flipped.size());
        EXPECT_EQ(long(n), testpicture::ReadFrameNumber(upright));
        EXPECT_EQ("", testpicture::CheckColourBars(upright, n, 8));
      }
    }
  }
  EXPECT_NOTHING_ALIVE();
}

}  // namespace
