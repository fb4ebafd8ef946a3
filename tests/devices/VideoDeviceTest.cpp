// The synthetic camera: formats at any size, frame numbers, pacing, wrong sizes, TV standard.
#include "DeviceTestSupport.h"
#include "support/PictureReader.h"

#include <cstdlib>
#include <cstring>
#include <utility>

namespace {

const GUID kI420 = {0x30323449, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

// Edits the camera's current type the way the library does and passes it to SetFormat.
HRESULT SetVideoFormat(IAMStreamConfig* config, const GUID& subtype, int width, int height,
                       int bits) {
  AM_MEDIA_TYPE* type = nullptr;
  HRESULT hr = config->GetFormat(&type);
  if (hr != S_OK) return hr;
  auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
  info->bmiHeader.biWidth = width;
  info->bmiHeader.biHeight = height;
  info->bmiHeader.biCompression = subtype == kI420 ? MAKEFOURCC('I', '4', '2', '0') : BI_RGB;
  info->bmiHeader.biBitCount = WORD(bits);
  info->bmiHeader.biPlanes = 1;
  info->AvgTimePerFrame = 333333;
  type->subtype = subtype;
  hr = config->SetFormat(type);
  FreeType(type);
  return hr;
}

class VideoDeviceTest : public DeviceTest {};

TEST_F(VideoDeviceTest, FramesCarryTheirNumberAtTheRequestedSizeAndPace) {
  UseDevices({L"kind=video;name=Cam;wrongsizeafter=20"});
  std::vector<GrabbedSamples::Sample> frames;
  {
    ComPtr<IBaseFilter> source = BindFilter(CLSID_VideoInputDeviceCategory, 0);
    ComPtr<IAMStreamConfig> config = VideoStreamConfig(source.Get());
    ASSERT_TRUE(config);
    EXPECT_EQ(S_OK, SetVideoFormat(config.Get(), MEDIASUBTYPE_RGB24, 160, 120, 24));
    EXPECT_NE(S_OK, SetVideoFormat(config.Get(), MEDIASUBTYPE_RGB24, 160, 120, 16))
        << "bit count must fit";
    AM_MEDIA_TYPE* current = nullptr;
    ASSERT_EQ(S_OK, config->GetFormat(&current));
    ASSERT_EQ(FORMAT_VideoInfo, current->formattype);
    EXPECT_EQ(160 * 120 * 3u,
              reinterpret_cast<VIDEOINFOHEADER*>(current->pbFormat)->bmiHeader.biSizeImage);
    FreeType(current);
    config.Reset();
    EXPECT_TRUE(CaptureFrames(std::move(source), 24, frames));
  }
  ASSERT_GE(frames.size(), 24u);
  for (size_t n = 0; n < frames.size(); ++n) {
    const auto& bytes = frames[n].bytes;
    ASSERT_EQ(n < 20 ? 57600u : 28800u, bytes.size()) << "frame " << n;
    uint32_t number = 0;
    std::memcpy(&number, bytes.data(), 4);
    EXPECT_EQ(n, number);
    EXPECT_NEAR(n / 30.0, frames[n].time, 0.001);
  }
  TestDeviceRecord record = {};
  ASSERT_EQ(1, TestDevices_GetRecord(0, &record));
  EXPECT_EQ(160, record.lastVideoInfo.bmiHeader.biWidth);
  EXPECT_EQ(120, record.lastVideoInfo.bmiHeader.biHeight);
  EXPECT_EQ(333333, record.lastVideoInfo.AvgTimePerFrame);
  EXPECT_EQ(MEDIASUBTYPE_RGB24, record.lastFormatType.subtype);
  EXPECT_EQ(1, record.setFormatAccepted);
  EXPECT_EQ(1, record.setFormatRefused);
  EXPECT_LE(4, record.wrongSizeSamples);
}

TEST_F(VideoDeviceTest, AcceptedListAndImageSizeFollowTheFormat) {
  UseDevices(
      {L"kind=video;name=Picky "
       L"Cam;formats=RGB24:320x240,I420,RGB32;tvformats=0x21;tvformat=1;pages=0"});
  ComPtr<IBaseFilter> source = BindFilter(CLSID_VideoInputDeviceCategory, 0);
  ComPtr<IAMStreamConfig> config = VideoStreamConfig(source.Get());
  ASSERT_TRUE(config);
  EXPECT_NE(S_OK, SetVideoFormat(config.Get(), MEDIASUBTYPE_RGB24, 640, 480, 24));
  EXPECT_NE(S_OK, SetVideoFormat(config.Get(), MEDIASUBTYPE_RGB555, 320, 240, 16));
  EXPECT_EQ(S_OK, SetVideoFormat(config.Get(), MEDIASUBTYPE_RGB24, 320, 240, 24));
  EXPECT_EQ(S_OK, SetVideoFormat(config.Get(), kI420, 640, 480, 12));
  AM_MEDIA_TYPE* current = nullptr;
  ASSERT_EQ(S_OK, config->GetFormat(&current));
  EXPECT_EQ(kI420, current->subtype);
  EXPECT_EQ(460800, current->lSampleSize);
  EXPECT_EQ(460800u, reinterpret_cast<VIDEOINFOHEADER*>(current->pbFormat)->bmiHeader.biSizeImage);
  FreeType(current);

  ComPtr<IAMAnalogVideoDecoder> decoder;
  ASSERT_EQ(S_OK, QueryInto(source, decoder, IID_IAMAnalogVideoDecoder));
  LONG formats = 0, format = 0;
  EXPECT_EQ(S_OK, decoder->get_AvailableTVFormats(&formats));
  EXPECT_EQ(0x21, formats);
  EXPECT_EQ(S_OK, decoder->get_TVFormat(&format));
  EXPECT_EQ(AnalogVideo_NTSC_M, format);
  EXPECT_EQ(S_OK, decoder->put_TVFormat(AnalogVideo_PAL_D));
  EXPECT_NE(S_OK, decoder->put_TVFormat(AnalogVideo_SECAM_L)) << "not offered";
  ComPtr<IUnknown> absent;
  EXPECT_EQ(E_NOINTERFACE,
            source->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(&absent)));
  EXPECT_EQ(E_NOINTERFACE,
            source->QueryInterface(IID_IAMAudioInputMixer, reinterpret_cast<void**>(&absent)));
  decoder.Reset();
  config.Reset();
  source.Reset();

  TestDeviceRecord record = {};
  ASSERT_EQ(1, TestDevices_GetRecord(0, &record));
  EXPECT_EQ(AnalogVideo_PAL_D, record.tvFormat);
  EXPECT_EQ(1, record.putTvFormatCalls);
  EXPECT_EQ(MAKEFOURCC('I', '4', '2', '0'), record.lastVideoInfo.bmiHeader.biCompression);
  EXPECT_EQ(12, record.lastVideoInfo.bmiHeader.biBitCount);
}

TEST_F(VideoDeviceTest, DefaultCameraOffersPropertyPagesAndAPreviewPin) {
  UseDevices({L"kind=video;name=Cam"});
  ComPtr<IBaseFilter> source = BindFilter(CLSID_VideoInputDeviceCategory, 0);
  ASSERT_TRUE(source);
  ComPtr<ISpecifyPropertyPages> pages;
  ASSERT_EQ(S_OK, QueryInto(source, pages, IID_ISpecifyPropertyPages));
  CAUUID list = {99, reinterpret_cast<GUID*>(0xdeadbeef)};
  EXPECT_EQ(S_OK, pages->GetPages(&list));
  EXPECT_EQ(0u, list.cElems);
  CoTaskMemFree(list.pElems);
  ComPtr<IEnumPins> pins;
  ASSERT_EQ(S_OK, source->EnumPins(&pins));
  ComPtr<IPin> pin;
  std::vector<GUID> categories;
  while (pins->Next(1, &pin, nullptr) == S_OK) {
    ComPtr<IKsPropertySet> property;
    ASSERT_EQ(S_OK, QueryInto(pin, property, IID_IKsPropertySet));
    GUID category = GUID_NULL;
    DWORD returned = 0;
    ASSERT_EQ(S_OK, property->Get(AMPROPSETID_Pin, AMPROPERTY_PIN_CATEGORY, nullptr, 0, &category,
                                  sizeof category, &returned));
    categories.push_back(category);
  }
  EXPECT_EQ((std::vector<GUID>{PIN_CATEGORY_CAPTURE, PIN_CATEGORY_PREVIEW}), categories);
}

// The library's video graph: no sink, so the builder adds the Video Renderer (needs a display).
TEST_F(VideoDeviceTest, StreamsIntoTheDefaultRendererBehindTheGrabber) {
  HWND probe =
      CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 1, 1, nullptr, nullptr, nullptr, nullptr);
  if (!probe) GTEST_SKIP() << "no X display (run under xvfb-run)";
  DestroyWindow(probe);
  UseDevices({L"kind=video;name=Cam;format=RGB32:320x240"});
  GrabbedSamples grabbed;
  {
    CaptureGraph g;
    g.source = BindFilter(CLSID_VideoInputDeviceCategory, 0);
    ASSERT_TRUE(g.source);
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IGraphBuilder, reinterpret_cast<void**>(&g.graph)));
    ASSERT_EQ(S_OK,
              CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                               IID_ICaptureGraphBuilder2, reinterpret_cast<void**>(&g.builder)));
    ASSERT_EQ(S_OK, g.builder->SetFiltergraph(g.graph.Get()));
    ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                                     IID_IBaseFilter, reinterpret_cast<void**>(&g.grabber)));
    ASSERT_EQ(S_OK, g.graph->AddFilter(g.grabber.Get(), L"Data Capture"));
    ASSERT_EQ(S_OK, g.graph->AddFilter(g.source.Get(), L"Video Source"));
    ComPtr<ISampleGrabber> grab;
    ASSERT_EQ(S_OK, QueryInto(g.grabber, grab, IID_ISampleGrabber));
    grab->SetCallback(&grabbed, 1);
    ASSERT_EQ(S_OK, g.builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Video, g.source.Get(),
                                            g.grabber.Get(), nullptr));
    ComPtr<IVideoWindow> window;
    EXPECT_EQ(S_OK, QueryInto(g.graph, window, IID_IVideoWindow));
    if (window) window->put_AutoShow(OAFALSE);
    window.Reset();
    ASSERT_EQ(S_OK, QueryInto(g.graph, g.control, IID_IMediaControl));
    ASSERT_TRUE(RunGraph(g));
    EXPECT_TRUE(grabbed.WaitFor(10, 5000));
    g.Release();
  }
  auto frames = grabbed.Take();
  ASSERT_GE(frames.size(), 10u);
  for (size_t n = 0; n < frames.size(); ++n) {
    ASSERT_EQ(320u * 240 * 4, frames[n].bytes.size());
    uint32_t number = 0;
    std::memcpy(&number, frames[n].bytes.data(), 4);
    EXPECT_EQ(n, number);
  }
}

// Camera -> grabber (the camera's type) -> grabber (RGB32) -> null renderer: the graph builder
// has to put the test devices' colour converter between the two grabbers, and what reaches
// the second grabber is the camera's picture, right way up, in a bottom-up RGB32 DIB.
TEST_F(VideoDeviceTest, ConverterTurnsEveryCameraFormatIntoTheCamerasPictureInRgb32) {
  const int width = 320, height = 240;
  for (const wchar_t* camera :
       {L"format=I420:320x240", L"format=RGB555:320x240", L"format=RGB565:320x240",
        L"format=YUY2:320x240", L"format=UYVY:320x240", L"format=YV12:320x240",
        L"formats=NV12:320x240;caps=vi2"}) {
    SCOPED_TRACE(testing::Message() << "camera " << camera);
    UseDevices({std::wstring(L"kind=video;name=Cam;") + camera});
    GrabbedSamples converted;
    {
      CaptureGraph g;
      ComPtr<IBaseFilter> rgbGrabber;
      ASSERT_EQ(S_OK, CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER,
                                       IID_IBaseFilter, reinterpret_cast<void**>(&rgbGrabber)));
      GrabbedSamples unused;
      ASSERT_TRUE(BuildGraph(CLSID_VideoInputDeviceCategory, 0, MEDIATYPE_Video, unused, g));
      // Rebuilt behind the first grabber: it keeps the camera's type, the second wants RGB32.
      ComPtr<IPin> grabberOut = FirstPin(g.grabber.Get(), PINDIR_OUTPUT);
      ComPtr<IPin> rendererIn = FirstPin(g.renderer.Get(), PINDIR_INPUT);
      ASSERT_EQ(S_OK, g.graph->Disconnect(grabberOut.Get()));
      ASSERT_EQ(S_OK, g.graph->Disconnect(rendererIn.Get()));
      ASSERT_EQ(S_OK, g.graph->AddFilter(rgbGrabber.Get(), L"RGB Capture"));
      ComPtr<ISampleGrabber> rgb;
      ASSERT_EQ(S_OK, QueryInto(rgbGrabber, rgb, IID_ISampleGrabber));
      AM_MEDIA_TYPE wanted = {};
      wanted.majortype = MEDIATYPE_Video;
      wanted.subtype = MEDIASUBTYPE_RGB32;
      ASSERT_EQ(S_OK, rgb->SetMediaType(&wanted));
      rgb->SetCallback(&converted, 1);
      ASSERT_EQ(S_OK,
                g.graph->Connect(grabberOut.Get(), FirstPin(rgbGrabber.Get(), PINDIR_INPUT).Get()));
      ASSERT_EQ(S_OK, g.graph->Connect(FirstPin(rgbGrabber.Get(), PINDIR_OUTPUT).Get(),
                                       rendererIn.Get()));

      ComPtr<IPin> between;
      ASSERT_EQ(S_OK, grabberOut->ConnectedTo(&between));
      PIN_INFO info = {};
      ASSERT_EQ(S_OK, between->QueryPinInfo(&info));
      CLSID inserted = GUID_NULL;
      info.pFilter->GetClassID(&inserted);
      info.pFilter->Release();
      EXPECT_EQ(TESTDEVICES_CLSID_COLOUR_CONVERTER, inserted)
          << "the builder inserted another filter";
      between.Reset();
      grabberOut.Reset();
      rendererIn.Reset();
      rgb.Reset();
      rgbGrabber.Reset();

      ASSERT_TRUE(RunGraph(g));
      EXPECT_TRUE(converted.WaitFor(5, 5000));
      g.Release();
    }
    auto frames = converted.Take();
    ASSERT_GE(frames.size(), 5u);
    for (const auto& frame : frames) {
      // The camera timed frame n at n/30 s; the converter passes the times on.
      const uint32_t n = uint32_t(frame.time * 30 + 0.5);
      SCOPED_TRACE(testing::Message() << "frame " << n);
      ASSERT_EQ(size_t(width) * height * 4, frame.bytes.size());
      int wrong = 0;
      for (int y = 0; y < height; ++y) {
        const BYTE* row = frame.bytes.data() + size_t(height - 1 - y) * width * 4;  // bottom-up
        for (int x = 0; x < width; ++x) {
          if (x < 4 && (y == 0 || y == height - 1))
            continue;  // where the camera put the frame number
          const testdevices::Rgb expected = testdevices::PictureColourAt(x, y, width, height, n);
          const BYTE* pixel = row + 4 * x;
          if (std::abs(pixel[2] - expected.r) > 8 || std::abs(pixel[1] - expected.g) > 8 ||
              std::abs(pixel[0] - expected.b) > 8)
            ++wrong;
        }
      }
      EXPECT_EQ(0, wrong) << "pixels off the camera's picture";
      EXPECT_EQ(long(n), testpicture::ReadFrameNumber(
                             testpicture::HostFrame(testdevices::PixelFormat::Rgb32, width, height,
                                                    frame.bytes.data(), frame.bytes.size())));
      // Right way up: the band is in the top rows of the picture, the last rows in memory.
      const BYTE* bandRow = frame.bytes.data() + size_t(height - 1 - int(n * 2 + 4)) * width * 4;
      const BYTE* mirrorRow = frame.bytes.data() + size_t(n * 2 + 4) * width * 4;
      auto white = [](const BYTE* pixel) {
        return pixel[0] > 247 && pixel[1] > 247 && pixel[2] > 247;
      };
      EXPECT_TRUE(white(bandRow + 4 * (width / 2)));
      EXPECT_FALSE(white(mirrorRow + 4 * (width / 2)));  // a bar there (magenta, then red)
    }
  }
}

}  // namespace
