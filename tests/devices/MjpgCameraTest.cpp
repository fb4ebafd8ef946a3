// The camera's MJPG frames: the platform's JPEG encoder keeps the picture readable, and the
// frame edits (no Huffman tables, spoiled frames) give what real cameras send.
#include "DeviceTestSupport.h"

#include <algorithm>
#include <string>
#include <vector>

#include "JpegEncoder.h"
#include "JpegFrames.h"
#include "SampleContent.h"
#include "support/PictureReader.h"
#include "support/WicJpeg.h"

namespace {

using namespace testdevices;
using testpicture::CheckColourBars;
using testpicture::DecodedJpeg;
using testpicture::DecodeJpeg;
using testpicture::ReadFrameNumber;

PictureView ViewOf(const DecodedJpeg& picture) {
  // WIC hands out top-down rows: a negative height says so.
  return {PixelFormat::Rgb24, int(picture.width), -int(picture.height),
          picture.bgr.data(), picture.bgr.size(), long(picture.width) * 3};
}

// The camera's picture of frame n at this size, as the camera encodes it.
std::vector<uint8_t> EncodedPicture(JpegEncoder& encoder, int width, int height, uint32_t n) {
  const long stride = RowBytes(PixelFormat::Rgb24, width);
  std::vector<uint8_t> pixels(size_t(stride) * size_t(height));
  FillVideoFrame(PixelFormat::Rgb24, width, -height, n, pixels.data(), long(pixels.size()));
  std::vector<uint8_t> jpeg;
  EXPECT_EQ(S_OK, encoder.Encode(pixels.data(), width, height, stride, jpeg));
  return jpeg;
}

// Where the marker FF <code> first appears, or npos.
size_t FindMarker(const std::vector<uint8_t>& bytes, uint8_t code) {
  for (size_t i = 0; i + 1 < bytes.size(); ++i)
    if (bytes[i] == 0xff && bytes[i + 1] == code) return i;
  return std::string::npos;
}

class JpegFramesTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(JpegFramesTest, EncodedPicturesKeepTheirNumberAndBars) {
  JpegEncoder encoder;
  ASSERT_EQ(S_OK, encoder.Status());
  for (auto size : {std::make_pair(640, 480), std::make_pair(1280, 720), std::make_pair(1920, 1080),
                    std::make_pair(320, 240)}) {
    for (uint32_t n : {0u, 1u, 0x5a5a5au, 0xa5a5a5u, 0xffffffu}) {
      SCOPED_TRACE(std::to_string(size.first) + "x" + std::to_string(size.second) + " frame " +
                   std::to_string(n));
      std::vector<uint8_t> jpeg = EncodedPicture(encoder, size.first, size.second, n);
      ASSERT_GT(jpeg.size(), 100u);
      EXPECT_LT(jpeg.size(), size_t(size.first) * size.second * 3 / 4) << "compressed";
      DecodedJpeg picture;
      ASSERT_EQ(S_OK, DecodeJpeg(jpeg.data(), jpeg.size(), picture));
      ASSERT_EQ(UINT(size.first), picture.width);
      ASSERT_EQ(UINT(size.second), picture.height);
      EXPECT_EQ(long(n), ReadFrameNumber(ViewOf(picture)));
      EXPECT_EQ("", CheckColourBars(ViewOf(picture), n, 24));
    }
  }
}

// Wine's encoder writes the standard tables; without them the frame decodes to the same pixels.
TEST_F(JpegFramesTest, FramesWithoutHuffmanTablesDecodeAlike) {
  JpegEncoder encoder;
  ASSERT_EQ(S_OK, encoder.Status());
  std::vector<uint8_t> jpeg = EncodedPicture(encoder, 640, 480, 1234);
  EXPECT_TRUE(HasOnlyStandardHuffmanTables(jpeg.data(), jpeg.size()));
  EXPECT_GT(CountHuffmanSegments(jpeg.data(), jpeg.size()), 0);
  std::vector<uint8_t> bare = jpeg;
  bare.resize(RemoveHuffmanTables(bare.data(), bare.size()));
  EXPECT_LT(bare.size(), jpeg.size());
  EXPECT_EQ(0, CountHuffmanSegments(bare.data(), bare.size()));
  EXPECT_EQ(std::string::npos, FindMarker(bare, 0xc4));
  EXPECT_EQ(ScanDataOffset(jpeg.data(), jpeg.size()) - ScanDataOffset(bare.data(), bare.size()),
            jpeg.size() - bare.size())
      << "only the tables went";
  DecodedJpeg withTables, without;
  ASSERT_EQ(S_OK, DecodeJpeg(jpeg.data(), jpeg.size(), withTables));
  ASSERT_EQ(S_OK, DecodeJpeg(bare.data(), bare.size(), without));
  EXPECT_EQ(withTables.bgr, without.bgr);
  EXPECT_EQ(1234, ReadFrameNumber(ViewOf(without)));
  // A frame with tables of its own keeps them.
  std::vector<uint8_t> other = jpeg;
  const size_t firstTable = FindMarker(other, 0xc4);
  ASSERT_NE(std::string::npos, firstTable);
  other[firstTable + 4 + 1 + 1] ^= 1;  // a code count of the first table
  EXPECT_FALSE(HasOnlyStandardHuffmanTables(other.data(), other.size()));
  EXPECT_EQ(other.size(), RemoveHuffmanTables(other.data(), other.size()));
}

TEST_F(JpegFramesTest, SpoiledFramesFailToDecode) {
  JpegEncoder encoder;
  ASSERT_EQ(S_OK, encoder.Status());
  std::vector<uint8_t> jpeg = EncodedPicture(encoder, 640, 480, 99);
  std::vector<uint8_t> cut = jpeg;
  cut.resize(CorruptJpeg(cut.data(), cut.size()));
  EXPECT_LT(cut.size(), jpeg.size());
  DecodedJpeg picture;
  EXPECT_NE(S_OK, DecodeJpeg(cut.data(), cut.size(), picture));
}

}  // namespace

namespace {

const wchar_t kHdWebcam[] =
    L"kind=video;name=HD Webcam;formats=MJPG:1280x720@5-30,MJPG:1920x1080@5-30,"
    L"YUY2:1280x720@5-5,YUY2:1920x1080@5-5,MJPG:640x480@5-30,YUY2:640x480@5-30;caps=both";

class MjpgCameraTest : public DeviceTest {
protected:
  // Capability `index` set as the camera's format at `interval` (0: the capability's own).
  static HRESULT SetCapability(IBaseFilter* camera, int index, REFERENCE_TIME interval = 0) {
    ComPtr<IAMStreamConfig> config = VideoStreamConfig(camera);
    AM_MEDIA_TYPE* type = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps;
    if (!config) return E_NOINTERFACE;
    HRESULT hr = config->GetStreamCaps(index, &type, reinterpret_cast<BYTE*>(&caps));
    if (hr != S_OK) return hr == S_FALSE ? E_FAIL : hr;
    if (interval) reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->AvgTimePerFrame = interval;
    hr = config->SetFormat(type);
    FreeType(type);
    return hr;
  }

  // `count` frames of the camera at `position`, set to capability `index`.
  ::testing::AssertionResult Capture(int position, int index, size_t count,
                                     std::vector<GrabbedSamples::Sample>& frames) {
    ComPtr<IBaseFilter> camera = BindFilter(CLSID_VideoInputDeviceCategory, position);
    if (!camera) return ::testing::AssertionFailure() << "no camera at " << position;
    HRESULT hr = SetCapability(camera.Get(), index);
    if (hr != S_OK) return ::testing::AssertionFailure() << "SetFormat: 0x" << std::hex << hr;
    return CaptureFrames(std::move(camera), count, frames);
  }
};

struct Mode {
  GUID subtype;
  LONG width, height;
  REFERENCE_TIME shortest, longest;
};

TEST_F(MjpgCameraTest, AnHdWebcamListsItsModesAndSendsFramesWicDecodes) {
  UseDevices({kHdWebcam});
  ComPtr<IBaseFilter> camera = BindFilter(CLSID_VideoInputDeviceCategory, 0);
  ASSERT_TRUE(camera);
  ComPtr<IAMStreamConfig> config = VideoStreamConfig(camera.Get());
  ASSERT_TRUE(config);
  const Mode modes[] = {{MEDIASUBTYPE_MJPG, 1280, 720, 333333, 2000000},
                        {MEDIASUBTYPE_MJPG, 1920, 1080, 333333, 2000000},
                        {MEDIASUBTYPE_YUY2, 1280, 720, 2000000, 2000000},
                        {MEDIASUBTYPE_YUY2, 1920, 1080, 2000000, 2000000},
                        {MEDIASUBTYPE_MJPG, 640, 480, 333333, 2000000},
                        {MEDIASUBTYPE_YUY2, 640, 480, 333333, 2000000}};
  int count = 0, size = 0;
  ASSERT_EQ(S_OK, config->GetNumberOfCapabilities(&count, &size));
  ASSERT_EQ(12, count) << "each mode as VideoInfo, then each again as VideoInfo2";
  for (int i = 0; i < count; ++i) {
    SCOPED_TRACE("capability " + std::to_string(i));
    const Mode& mode = modes[i % 6];
    AM_MEDIA_TYPE* type = nullptr;
    VIDEO_STREAM_CONFIG_CAPS caps = {};
    ASSERT_EQ(S_OK, config->GetStreamCaps(i, &type, reinterpret_cast<BYTE*>(&caps)));
    EXPECT_EQ(i < 6 ? FORMAT_VideoInfo : FORMAT_VideoInfo2, type->formattype);
    EXPECT_EQ(mode.subtype, type->subtype);
    const BITMAPINFOHEADER& bmi =
        i < 6 ? reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat)->bmiHeader
              : reinterpret_cast<VIDEOINFOHEADER2*>(type->pbFormat)->bmiHeader;
    EXPECT_EQ(mode.width, bmi.biWidth);
    EXPECT_EQ(mode.height, bmi.biHeight);
    EXPECT_EQ(mode.shortest, caps.MinFrameInterval);
    EXPECT_EQ(mode.longest, caps.MaxFrameInterval);
    EXPECT_EQ(mode.width, caps.MaxOutputSize.cx);
    if (mode.subtype == MEDIASUBTYPE_MJPG) {
      EXPECT_EQ(DWORD(MAKEFOURCC('M', 'J', 'P', 'G')), bmi.biCompression);
      EXPECT_EQ(24, bmi.biBitCount);
      EXPECT_EQ(DWORD(mode.width * mode.height * 3), bmi.biSizeImage) << "a bound";
      EXPECT_FALSE(type->bFixedSizeSamples) << "each frame has its own size";
    } else {
      EXPECT_EQ(DWORD(MAKEFOURCC('Y', 'U', 'Y', '2')), bmi.biCompression);
      EXPECT_TRUE(type->bFixedSizeSamples);
    }
    EXPECT_FALSE(type->bTemporalCompression);
    FreeType(type);
  }
  // As a strict driver: YUY2 at 1080p only at 5 fps.
  EXPECT_EQ(VFW_E_INVALIDMEDIATYPE, SetCapability(camera.Get(), 3, 333333));
  EXPECT_EQ(S_OK, SetCapability(camera.Get(), 3, 2000000));
  camera.Reset();

  // 720p and 1080p MJPG (VideoInfo and VideoInfo2): every frame decodes to its mode's size, with
  // its own number, one more than the frame before.
  for (int index : {0, 7}) {
    SCOPED_TRACE("capability " + std::to_string(index));
    const Mode& mode = modes[index % 6];
    std::vector<GrabbedSamples::Sample> frames;
    ASSERT_TRUE(Capture(0, index, 10, frames));
    std::vector<size_t> sizes;
    for (size_t i = 0; i < frames.size(); ++i) {
      SCOPED_TRACE("frame " + std::to_string(i));
      const std::vector<BYTE>& bytes = frames[i].bytes;
      sizes.push_back(bytes.size());
      EXPECT_GT(CountHuffmanSegments(bytes.data(), bytes.size()), 0);
      DecodedJpeg picture;
      ASSERT_EQ(S_OK, DecodeJpeg(bytes.data(), bytes.size(), picture));
      EXPECT_EQ(UINT(mode.width), picture.width);
      EXPECT_EQ(UINT(mode.height), picture.height);
      EXPECT_EQ(long(i), ReadFrameNumber(ViewOf(picture)));
      EXPECT_EQ("", CheckColourBars(ViewOf(picture), uint32_t(i), 24));
    }
    EXPECT_LT(*std::max_element(sizes.begin(), sizes.end()), size_t(mode.width * mode.height))
        << "compressed";
    EXPECT_NE(*std::min_element(sizes.begin(), sizes.end()),
              *std::max_element(sizes.begin(), sizes.end()))
        << "each frame its own size";
  }
}

// Frames without Huffman tables still decode; spoiled ones do not; a JPEG of another size
// decodes to that size. The frame number is the frame's place since Run.
TEST_F(MjpgCameraTest, FaultyFramesComeWhereTheDescriptionSays) {
  UseDevices({L"kind=video;name=Bare;formats=MJPG:640x480;nodht=2",
              L"kind=video;name=Cable;formats=MJPG:640x480;corruptevery=3",
              L"kind=video;name=Dying;formats=MJPG:640x480;corruptfrom=4",
              L"kind=video;name=Liar;formats=MJPG:640x480;jpegsize=800x600",
              L"kind=video;name=AllBare;formats=MJPG:320x240;nodht=1"});
  struct Expect {
    bool (*bare)(size_t n);
    bool (*spoiled)(size_t n);
    UINT width, height;
  };
  const Expect expected[] = {
      {[](size_t n) { return n % 2 == 1; }, [](size_t) { return false; }, 640, 480},
      {[](size_t) { return false; }, [](size_t n) { return n % 3 == 2; }, 640, 480},
      {[](size_t) { return false; }, [](size_t n) { return n >= 4; }, 640, 480},
      {[](size_t) { return false; }, [](size_t) { return false; }, 800, 600},
      {[](size_t) { return true; }, [](size_t) { return false; }, 320, 240}};
  for (int camera = 0; camera < 5; ++camera) {
    SCOPED_TRACE("camera " + std::to_string(camera));
    std::vector<GrabbedSamples::Sample> frames;
    ASSERT_TRUE(Capture(camera, 0, 8, frames));
    for (size_t n = 0; n < frames.size(); ++n) {
      SCOPED_TRACE("frame " + std::to_string(n));
      const std::vector<BYTE>& bytes = frames[n].bytes;
      const Expect& want = expected[camera];
      DecodedJpeg picture;
      const HRESULT hr = DecodeJpeg(bytes.data(), bytes.size(), picture);
      if (want.spoiled(n)) {
        EXPECT_NE(S_OK, hr) << "a spoiled frame must not decode";
        continue;
      }
      EXPECT_EQ(want.bare(n) ? 0 : 4, CountHuffmanSegments(bytes.data(), bytes.size()));
      EXPECT_EQ(want.bare(n), FindMarker(bytes, 0xc4) == std::string::npos);
      ASSERT_EQ(S_OK, hr);
      EXPECT_EQ(want.width, picture.width);
      EXPECT_EQ(want.height, picture.height);
      EXPECT_EQ(long(n), ReadFrameNumber(ViewOf(picture)));
    }
  }
}

// The property bag's "DevicePath" string, or why there is none.
HRESULT ReadDevicePath(IMoniker* moniker, std::wstring& path) {
  ComPtr<IPropertyBag> bag;
  HRESULT hr = moniker ? moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                                                reinterpret_cast<void**>(&bag))
                       : E_POINTER;
  if (hr != S_OK) return hr;
  VARIANT value;
  VariantInit(&value);
  hr = bag->Read(L"DevicePath", &value, nullptr);
  if (hr == S_OK && value.vt != VT_BSTR) hr = DISP_E_TYPEMISMATCH;
  if (hr == S_OK) path = value.bstrVal;
  VariantClear(&value);
  return hr;
}

TEST_F(MjpgCameraTest, DevicePathsNameEachDeviceWhateverItsPlace) {
  const std::wstring video = L"#{65e8773d-8f56-11d0-a3b9-00a0c9223196}";
  const std::wstring audio = L"#{33d9a762-90c8-11d0-bd43-00a0c911ce86}";
  UseDevices({L"kind=video;name=Cam A", L"kind=audio;name=Cam A", L"kind=video;name=Cam B;nopath=1",
              L"kind=video;name=Cam C;path=\\\\?\\usb#vid_1234&pid_5678#1#x",
              L"kind=video;name=Cam A"});
  std::wstring path;
  ASSERT_EQ(S_OK, ReadDevicePath(Moniker(CLSID_VideoInputDeviceCategory, 0).Get(), path));
  const std::wstring camA = path;
  EXPECT_EQ(L"\\\\?\\root#tesmo_test#Cam_0020A" + video, camA);
  ASSERT_EQ(S_OK, ReadDevicePath(Moniker(CLSID_AudioInputDeviceCategory, 0).Get(), path));
  EXPECT_EQ(L"\\\\?\\root#tesmo_test#Cam_0020A" + audio, path);
  path = L"untouched";
  EXPECT_NE(S_OK, ReadDevicePath(Moniker(CLSID_VideoInputDeviceCategory, 1).Get(), path));
  EXPECT_EQ(L"untouched", path);
  ASSERT_EQ(S_OK, ReadDevicePath(Moniker(CLSID_VideoInputDeviceCategory, 2).Get(), path));
  EXPECT_EQ(L"\\\\?\\usb#vid_1234&pid_5678#1#x", path);
  ASSERT_EQ(S_OK, ReadDevicePath(Moniker(CLSID_VideoInputDeviceCategory, 3).Get(), path));
  const std::wstring secondA = path;
  EXPECT_NE(camA, secondA) << "two cameras of one name are two devices";

  // A new set moves the cameras: each keeps its path.
  UseDevices({L"kind=video;name=Cam B", L"kind=video;name=Cam A", L"kind=video;name=Cam A"});
  ASSERT_EQ(S_OK, ReadDevicePath(Moniker(CLSID_VideoInputDeviceCategory, 1).Get(), path));
  EXPECT_EQ(camA, path);
  ASSERT_EQ(S_OK, ReadDevicePath(Moniker(CLSID_VideoInputDeviceCategory, 2).Get(), path));
  EXPECT_EQ(secondA, path);
  ASSERT_EQ(S_OK, ReadDevicePath(Moniker(CLSID_VideoInputDeviceCategory, 0).Get(), path));
  EXPECT_EQ(L"\\\\?\\root#tesmo_test#Cam_0020B" + video, path);
}

}  // namespace
