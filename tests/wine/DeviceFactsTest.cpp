// What a host learns about devices before it opens one: a camera's modes (each once,
// as the camera lists them) and a device's identity, which stays with the device when
// a re-registration changes the order; and clear results for bad arguments.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/TestDevices.h"
#include "Tesmo.h"

inline bool operator==(const CameraModeInfo& a, const CameraModeInfo& b) {
  return a.width == b.width && a.height == b.height && a.framesPerMinute == b.framesPerMinute &&
         a.format == b.format;
}

inline std::ostream& operator<<(std::ostream& out, const CameraModeInfo& mode) {
  return out << mode.width << "x" << mode.height << "@" << mode.framesPerMinute << "/fpm format "
             << std::hex << mode.format << std::dec;
}

namespace {

constexpr unsigned int Fourcc(char a, char b, char c, char d) {
  return unsigned(uint8_t(a)) | unsigned(uint8_t(b)) << 8 | unsigned(uint8_t(c)) << 16 |
         unsigned(uint8_t(d)) << 24;
}

std::vector<CameraModeInfo> Modes(int device) {
  std::vector<CameraModeInfo> modes(32);
  int count = -1;
  EXPECT_EQ(ListCameraModes(device, modes.data(), int(modes.size()), &count), kCaptureYes);
  modes.resize(count > 0 ? size_t(count) : 0);
  return modes;
}

using IdentityReader = CaptureResult (*)(int, char*, int, int*);

std::string Identity(IdentityReader read, int device) {
  char identity[1024];
  int length = 0;
  EXPECT_EQ(read(device, identity, sizeof identity, &length), kCaptureYes) << device;
  EXPECT_EQ(size_t(length), std::strlen(identity) + 1);
  return identity;
}

class DeviceFacts : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
  void TearDown() override {
    tesmo::test::ExpectDevicesReleasedThenUseDefaults();
    CoUninitialize();
  }
};

const wchar_t kHdWebcam[] =
    L"kind=video;name=HD webcam;caps=both;formats=MJPG:1280x720@5-30,MJPG:1920x1080@5-30,"
    L"YUY2:1280x720@5-5,YUY2:1920x1080@5-5,MJPG:640x480@5-30,YUY2:640x480@5-30";

}  // namespace

TEST_F(DeviceFacts, TheModeListIsTheCamerasOwnEachModeOnce) {
  tesmo::test::UseTestDevices(
      {kHdWebcam,
       L"kind=video;name=Mixed camera;caps=vi2;formats=RGB24:320x-240,RGB555:640x480,"
       L"RGB565:320x240,NV12:640x480@5-15",
       L"kind=video;name=Capture card", L"kind=audio;name=Microphone",
       L"kind=video;name=Camera without modes;formats=YUY2:640x480;"
       L"fail=IAMStreamConfig::GetNumberOfCapabilities"});
  const unsigned mjpg = Fourcc('M', 'J', 'P', 'G'), yuy2 = Fourcc('Y', 'U', 'Y', '2');
  // Listed twice (VideoInfo, then VideoInfo2) by the camera; once here.
  const std::vector<CameraModeInfo> hd = {{1280, 720, 1800, mjpg}, {1920, 1080, 1800, mjpg},
                                          {1280, 720, 300, yuy2},  {1920, 1080, 300, yuy2},
                                          {640, 480, 1800, mjpg},  {640, 480, 1800, yuy2}};
  EXPECT_EQ(Modes(0), hd);
  const std::vector<CameraModeInfo> mixed = {{320, 240, 1800, 24},
                                             {640, 480, 1800, 15},
                                             {320, 240, 1800, 16},
                                             {640, 480, 900, Fourcc('N', 'V', '1', '2')}};
  EXPECT_EQ(Modes(1), mixed);
  // A capture card's one capability with a range of sizes: at its current size, and
  // the fastest rate its range allows (1000 frames a second).
  const std::vector<CameraModeInfo> card = {{320, 240, 60000, 24}};
  EXPECT_EQ(Modes(2), card);

  // Bad arguments: nothing written where it does not fit.
  CameraModeInfo few[3];
  std::memset(few, 0x5A, sizeof few);
  int count = -1;
  EXPECT_EQ(ListCameraModes(0, few, 3, &count), kCaptureFailed);
  EXPECT_EQ(count, 6) << "the entries needed";
  for (const CameraModeInfo& mode : few) EXPECT_EQ(mode.width, 0x5A5A5A5A);
  EXPECT_EQ(ListCameraModes(0, nullptr, 0, &count), kCaptureFailed);
  EXPECT_EQ(count, 6);
  EXPECT_EQ(ListCameraModes(0, nullptr, 6, &count), kCaptureFailed);
  EXPECT_EQ(ListCameraModes(0, few, 3, nullptr), kCaptureFailed);
  EXPECT_EQ(ListCameraModes(0, few, -1, &count), kCaptureFailed);
  // Past the last camera (the microphone is no camera), before the first, and a
  // camera whose pin lists no capabilities.
  EXPECT_EQ(ListCameraModes(4, few, 3, &count), kCaptureNo);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(ListCameraModes(-1, few, 3, &count), kCaptureNo);
  count = -1;
  EXPECT_EQ(ListCameraModes(3, few, 3, &count), kCaptureNo);
  EXPECT_EQ(count, 0);
  for (const CameraModeInfo& mode : few) EXPECT_EQ(mode.width, 0x5A5A5A5A);
}

TEST_F(DeviceFacts, AnIdentityFindsTheSameDeviceAfterTheOrderChanged) {
  tesmo::test::UseTestDevices({L"kind=video;name=Front camera", L"kind=audio;name=Headset",
                               L"kind=video;name=Old camera;nopath=1",
                               L"kind=video;name=Back "
                               L"camera;path=\\\\?\\usb#vid_1234&pid_5678#1&2#{65e8773d-8f56-11d0-"
                               L"a3b9-00a0c9223196}\\global",
                               L"kind=audio;name=Line in"});
  const std::string front = Identity(GetVideoDeviceIdentity, 0);
  const std::string old = Identity(GetVideoDeviceIdentity, 1);
  const std::string back = Identity(GetVideoDeviceIdentity, 2);
  const std::string headset = Identity(GetAudioDeviceIdentity, 0);
  const std::string lineIn = Identity(GetAudioDeviceIdentity, 1);
  EXPECT_EQ(back,
            "\\\\?\\usb#vid_1234&pid_5678#1&2#{65e8773d-8f56-11d0-a3b9-00a0c9223196}\\global");
  EXPECT_EQ(front.rfind("\\\\?\\", 0), 0u) << front;
  // A device without a path is known by its moniker's display name.
  EXPECT_EQ(old.rfind("@device:", 0), 0u) << old;
  const std::vector<std::string> all = {front, old, back, headset, lineIn};
  for (size_t i = 0; i < all.size(); ++i)
    for (size_t j = i + 1; j < all.size(); ++j) EXPECT_NE(all[i], all[j]) << i << " " << j;
  // The same again on a second listing.
  EXPECT_EQ(Identity(GetVideoDeviceIdentity, 0), front);
  EXPECT_EQ(Identity(GetVideoDeviceIdentity, 2), back);
  EXPECT_EQ(Identity(GetAudioDeviceIdentity, 1), lineIn);

  // Plugged in another order, with a new camera first: the stored identities find
  // their devices at their new indexes, and Open there opens them.
  tesmo::test::UseTestDevices({L"kind=video;name=New camera", L"kind=audio;name=Line in",
                               L"kind=video;name=Back "
                               L"camera;path=\\\\?\\usb#vid_1234&pid_5678#1&2#{65e8773d-8f56-11d0-"
                               L"a3b9-00a0c9223196}\\global",
                               L"kind=audio;name=Headset", L"kind=video;name=Front camera"});
  auto find = [](IdentityReader read, const std::string& stored) {
    for (int device = 0; device < 8; ++device) {
      char identity[1024];
      int length = 0;
      const CaptureResult result = read(device, identity, sizeof identity, &length);
      if (result == kCaptureNo) return -1;
      if (result == kCaptureYes && stored == identity) return device;
    }
    return -1;
  };
  EXPECT_EQ(find(GetVideoDeviceIdentity, front), 2);
  EXPECT_EQ(find(GetVideoDeviceIdentity, back), 1);
  EXPECT_EQ(find(GetAudioDeviceIdentity, headset), 1);
  EXPECT_EQ(find(GetAudioDeviceIdentity, lineIn), 0);
  VideoSourceCapture* capture = CreateVSC();
  ASSERT_NE(capture, nullptr);
  ASSERT_EQ(capture->Open(find(GetVideoDeviceIdentity, front)), kCaptureDone);
  char name[kNameEntryBytes] = {};
  capture->GetDeviceName(name);
  EXPECT_STREQ(name, "Front camera");
  EXPECT_EQ(capture->Destroy(), kCaptureDone);

  // Bad arguments: a clear result, the length needed, nothing written out of bounds.
  char small[8];
  std::memset(small, 'x', sizeof small);
  int length = -1;
  EXPECT_EQ(GetVideoDeviceIdentity(2, small, sizeof small, &length), kCaptureFailed);
  EXPECT_EQ(size_t(length), front.size() + 1);
  EXPECT_EQ(std::string(small, sizeof small), std::string(sizeof small, 'x'));
  EXPECT_EQ(GetVideoDeviceIdentity(2, nullptr, 100, &length), kCaptureFailed);
  EXPECT_EQ(GetVideoDeviceIdentity(2, small, 0, &length), kCaptureFailed);
  EXPECT_EQ(GetVideoDeviceIdentity(2, small, sizeof small, nullptr), kCaptureFailed);
  EXPECT_EQ(GetVideoDeviceIdentity(3, small, sizeof small, &length), kCaptureNo);
  EXPECT_EQ(length, 0);
  EXPECT_EQ(GetVideoDeviceIdentity(-1, small, sizeof small, &length), kCaptureNo);
  EXPECT_EQ(GetAudioDeviceIdentity(2, small, sizeof small, &length), kCaptureNo);
  EXPECT_EQ(std::string(small, sizeof small), std::string(sizeof small, 'x'));
}
