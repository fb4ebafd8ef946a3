// What a host reads of a running capture: the camera's mode in use and what the
// library does to it, and counts in which every frame or byte from the device is
// accounted for, against what the test devices themselves recorded.
#include <gtest/gtest.h>

#include <windows.h>

#include <atomic>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <string>

#include "support/TestDevices.h"
#include "Tesmo.h"

namespace {

using tesmo::test::DeviceRecord;
using tesmo::test::UseTestDevices;

// Counts deliveries, each taking `delayMs` as a slow host's OnData does.
class CountingVideoSink : public VideoSink {
public:
  explicit CountingVideoSink(DWORD delayMs = 0) : delay(delayMs) {}
  void OnData(const unsigned char*, int, unsigned long) override {
    if (delay) Sleep(delay);
    ++frames;
  }
  std::atomic<int> frames{0};

private:
  const DWORD delay;
};

class CountingAudioSink : public AudioSink {
public:
  explicit CountingAudioSink(DWORD delayMs = 0) : delay(delayMs) {}
  void OnData(const unsigned char*, int length, unsigned long) override {
    if (delay) Sleep(delay);
    bytes += length;
  }
  std::atomic<long long> bytes{0};

private:
  const DWORD delay;
};

VideoCaptureStatistics VideoStatistics(VideoSourceCapture* capture) {
  VideoCaptureStatistics statistics{};
  statistics.size = sizeof statistics;
  EXPECT_EQ(GetVideoCaptureStatistics(capture, &statistics), kCaptureDone);
  return statistics;
}

AudioCaptureStatistics AudioStatistics(AudioSourceCapture* capture) {
  AudioCaptureStatistics statistics{};
  statistics.size = sizeof statistics;
  EXPECT_EQ(GetAudioCaptureStatistics(capture, &statistics), kCaptureDone);
  return statistics;
}

unsigned AccountedFor(const VideoCaptureStatistics& s) {
  return s.framesDelivered + s.framesDroppedByPace + s.framesDroppedAtStore +
         s.framesUndecodable + s.framesWaiting;
}

// After Stop the last frame may still be on its way through the delivery thread:
// the counts settle within a bound.
VideoCaptureStatistics SettledVideoStatistics(VideoSourceCapture* capture) {
  VideoCaptureStatistics s = VideoStatistics(capture);
  for (DWORD deadline = GetTickCount() + 3000;
       AccountedFor(s) != s.framesFromCamera && GetTickCount() < deadline; Sleep(20))
    s = VideoStatistics(capture);
  return s;
}

// Waits (bounded) until the camera has sent `frames` frames.
void WaitForCameraFrames(VideoSourceCapture* capture, unsigned frames, DWORD timeoutMs) {
  for (DWORD deadline = GetTickCount() + timeoutMs;
       VideoStatistics(capture).framesFromCamera < frames && GetTickCount() < deadline;)
    Sleep(50);
}

class CaptureStatistics : public tesmo::test::TestDevicesTest<> {};

}  // namespace

// 600 frames a minute from a 30 fps camera for 5 s: the camera's count is what the
// camera sent, about 50 were delivered, and every frame is accounted for exactly.
// Then a slow host: the drops at the store grow.
TEST_F(CaptureStatistics, EveryFrameFromTheCameraIsAccountedFor) {
  UseTestDevices({L"kind=video;name=Webcam;formats=YUY2:320x240@5-30"});
  VideoSourceCapture* capture = CreateVSC();
  ASSERT_NE(capture, nullptr);
  ASSERT_EQ(capture->SetFormat(320, 240, kVideoRgb24), kCaptureDone);
  ASSERT_EQ(capture->SetFrameRate(600), kCaptureDone);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  VideoCaptureStatistics s = VideoStatistics(capture);
  EXPECT_EQ(s.framesFromCamera, 0u);
  EXPECT_EQ(s.framesDelivered, 0u);
  EXPECT_EQ(s.lastCameraFrameTick, 0u);

  CountingVideoSink sink;
  capture->SetSink(&sink);
  const DWORD start = GetTickCount();
  ASSERT_EQ(capture->Start(), kCaptureDone);
  WaitForCameraFrames(capture, 150, 20000);
  ASSERT_EQ(capture->Stop(), kCaptureDone);
  const double seconds = (GetTickCount() - start) / 1000.0;
  s = SettledVideoStatistics(capture);
  const TestDeviceRecord record = DeviceRecord(0);
  EXPECT_EQ(s.framesFromCamera, unsigned(record.samplesDelivered));
  EXPECT_EQ(s.framesFromCamera, AccountedFor(s))
      << s.framesDelivered << " + " << s.framesDroppedByPace << " + " << s.framesDroppedAtStore
      << " + " << s.framesUndecodable << " + " << s.framesWaiting;
  // 10 a second, at most one more per second than the pace allows.
  EXPECT_LE(s.framesDelivered, unsigned(seconds * 10 + 2));
  EXPECT_GE(s.framesDelivered, unsigned(seconds * 10 * 0.6));
  EXPECT_EQ(unsigned(sink.frames), s.framesDelivered);
  EXPECT_GT(s.framesDroppedByPace, 0u);
  EXPECT_EQ(s.framesUndecodable, 0u);
  EXPECT_NE(s.lastCameraFrameTick, 0u);
  EXPECT_NE(s.lastDeliveryTick, 0u);

  // A host whose OnData takes 250 ms at the camera's own pace: frames pile up and
  // the store turns them away.
  ASSERT_EQ(capture->Close(), kCaptureDone);
  CountingVideoSink slow(250);
  capture->SetSink(&slow);
  ASSERT_EQ(capture->SetFrameRate(1800), kCaptureDone);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  ASSERT_EQ(capture->Start(), kCaptureDone);
  WaitForCameraFrames(capture, 60, 20000);
  ASSERT_EQ(capture->Stop(), kCaptureDone);
  s = SettledVideoStatistics(capture);
  EXPECT_GT(s.framesDroppedAtStore, 0u);
  EXPECT_EQ(s.framesFromCamera, AccountedFor(s));
  EXPECT_GE(s.delayLargestMs, 200u) << "a frame waits while OnData runs";
  capture->SetSink(nullptr);
  EXPECT_EQ(capture->Destroy(), kCaptureDone);
}

// A camera that stops sending without a word, as Wine's own camera does when its
// device vanishes: the object stays open and running, and the last frame's tick
// stays behind while the clock moves on.
TEST_F(CaptureStatistics, ACameraThatFallsSilentLeavesItsLastFrameBehind) {
  UseTestDevices({L"kind=video;name=Fading camera;silentafter=20"});
  VideoSourceCapture* capture = CreateVSC();
  ASSERT_NE(capture, nullptr);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  CountingVideoSink sink;
  capture->SetSink(&sink);
  ASSERT_EQ(capture->Start(), kCaptureDone);
  WaitForCameraFrames(capture, 20, 15000);
  const VideoCaptureStatistics before = VideoStatistics(capture);
  EXPECT_EQ(before.framesFromCamera, 20u);
  Sleep(1500);
  const VideoCaptureStatistics after = VideoStatistics(capture);
  EXPECT_EQ(after.framesFromCamera, 20u);
  EXPECT_EQ(after.lastCameraFrameTick, before.lastCameraFrameTick);
  EXPECT_GE(GetTickCount() - after.lastCameraFrameTick, 1400u);
  EXPECT_EQ(capture->IsOpened(), kCaptureYes);
  EXPECT_EQ(capture->IsRunning(), kCaptureYes);
  capture->SetSink(nullptr);
  EXPECT_EQ(capture->Destroy(), kCaptureDone);
}

// The mode reported is the one the camera's own record says was set, with what the
// library does to it; a host with an older, shorter structure gets only its fields;
// a closed object or a bad pointer gets 255 and nothing written.
TEST_F(CaptureStatistics, TheModeInUseAndWhatIsDoneToIt) {
  struct Case {
    const wchar_t* camera;
    int width, height, format;
    unsigned cameraFormat;
    int cameraWidth, treatment;
  };
  const Case cases[] = {
      {L"kind=video;name=RGB;formats=RGB24:320x240", 320, 240, kVideoRgb24, 24, 320,
       kVideoPassedThrough},
      {L"kind=video;name=YUY2;formats=YUY2:640x480;caps=vi2", 640, 480, kVideoRgb32,
       MAKEFOURCC('Y', 'U', 'Y', '2'), 640, kVideoConverted},
      {L"kind=video;name=MJPG;formats=MJPG:640x480@5-30", 640, 480, kVideoI420,
       MAKEFOURCC('M', 'J', 'P', 'G'), 640, kVideoDecoded},
      {L"kind=video;name=Laptop;formats=YUY2:1280x720,YUY2:424x240", 320, 240, kVideoRgb24,
       MAKEFOURCC('Y', 'U', 'Y', '2'), 424, kVideoConverted + kVideoCroppedAndScaled},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.width << "x" << c.height << " format " << c.format);
    UseTestDevices({c.camera});
    VideoSourceCapture* capture = CreateVSC();
    ASSERT_NE(capture, nullptr);
    VideoCaptureStatistics s{};
    s.size = sizeof s;
    EXPECT_EQ(GetVideoCaptureStatistics(capture, &s), kCaptureFailed) << "closed";
    ASSERT_EQ(capture->SetFormat(c.width, c.height, c.format), kCaptureDone);
    ASSERT_EQ(capture->Open(0), kCaptureDone);
    s = VideoStatistics(capture);
    const TestDeviceRecord record = DeviceRecord(0);
    const bool videoInfo2 = record.lastVideoInfo2.bmiHeader.biSize != 0;
    EXPECT_EQ(s.cameraFormat, c.cameraFormat);
    EXPECT_EQ(s.cameraWidth, c.cameraWidth);
    EXPECT_EQ(s.cameraWidth, record.lastVideoInfo.bmiHeader.biWidth);
    EXPECT_EQ(s.cameraHeight, std::abs(record.lastVideoInfo.bmiHeader.biHeight));
    EXPECT_EQ(s.frameInterval, int(record.lastVideoInfo.AvgTimePerFrame));
    EXPECT_EQ(s.videoInfo2, videoInfo2 ? 1 : 0);
    EXPECT_EQ(s.treatment, c.treatment);

    // A structure that ends before the counts: the mode only, the rest untouched.
    unsigned char older[sizeof(VideoCaptureStatistics)];
    std::memset(older, 0xCD, sizeof older);
    const int shortSize = int(offsetof(VideoCaptureStatistics, framesFromCamera));
    std::memcpy(older, &shortSize, sizeof shortSize);
    EXPECT_EQ(GetVideoCaptureStatistics(capture, reinterpret_cast<VideoCaptureStatistics*>(older)),
              kCaptureDone);
    // Its own size stays as the host wrote it; the mode fields are those of a full read.
    EXPECT_EQ(std::memcmp(older, &shortSize, sizeof shortSize), 0);
    EXPECT_EQ(std::memcmp(older + sizeof(int), reinterpret_cast<const unsigned char*>(&s) + sizeof(int),
                          size_t(shortSize) - sizeof(int)),
              0)
        << "the mode fields";
    for (size_t i = size_t(shortSize); i < sizeof older; ++i)
      ASSERT_EQ(older[i], 0xCD) << "byte " << i << " written past the host's size";
    // Too small to hold its own size, or no structure at all.
    unsigned char tiny[4] = {2, 0, 0, 0};
    EXPECT_EQ(GetVideoCaptureStatistics(capture, reinterpret_cast<VideoCaptureStatistics*>(tiny)),
              kCaptureFailed);
    EXPECT_EQ(GetVideoCaptureStatistics(capture, nullptr), kCaptureFailed);
    EXPECT_EQ(GetVideoCaptureStatistics(nullptr, &s), kCaptureFailed);
    EXPECT_EQ(capture->Destroy(), kCaptureDone);
  }
}

// Every byte from the microphone is in a delivered block, refused, or still stored;
// a slow host makes the refusals grow; the agreed buffers are those the device
// itself settled on.
TEST_F(CaptureStatistics, EveryByteFromTheMicrophoneIsAccountedFor) {
  UseTestDevices({L"kind=audio;name=Tesmo Test Microphone"});
  AudioSourceCapture* capture = CreateASC();
  ASSERT_NE(capture, nullptr);
  AudioCaptureStatistics s{};
  s.size = sizeof s;
  EXPECT_EQ(GetAudioCaptureStatistics(capture, &s), kCaptureFailed) << "closed";
  ASSERT_EQ(capture->SetFormat(1, 11025, 16, 320), kCaptureDone);
  for (DWORD delay : {0u, 400u}) {
    SCOPED_TRACE(testing::Message() << "OnData taking " << delay << " ms");
    CountingAudioSink sink(delay);
    capture->SetSink(&sink);
    TestDevices_ResetRecords();
    ASSERT_EQ(capture->Open(0), kCaptureDone);
    s = AudioStatistics(capture);
    EXPECT_EQ(s.bytesFromDevice, 0u);
    EXPECT_EQ(s.blocksDelivered, 0u);
    const TestDeviceRecord record = DeviceRecord(0);
    EXPECT_EQ(s.deviceBuffers, record.negotiated.cBuffers);
    EXPECT_EQ(s.deviceBufferBytes, record.negotiated.cbBuffer);
    EXPECT_GT(s.deviceBuffers, 0);
    ASSERT_EQ(capture->Start(), kCaptureDone);
    // 3 s of sound: 66150 bytes at 22050 a second.
    for (DWORD deadline = GetTickCount() + 20000;
         AudioStatistics(capture).bytesFromDevice < 66150 && GetTickCount() < deadline;)
      Sleep(50);
    ASSERT_EQ(capture->Stop(), kCaptureDone);
    // The delivery thread may still be inside one OnData: wait (bounded) until the
    // count stays put for longer than an OnData takes and agrees with the sink.
    for (DWORD deadline = GetTickCount() + 5000; GetTickCount() < deadline;) {
      const AudioCaptureStatistics first = AudioStatistics(capture);
      Sleep(delay + 100);
      s = AudioStatistics(capture);
      if (s.blocksDelivered == first.blocksDelivered &&
          s.blocksDelivered * 320 == static_cast<unsigned long long>(sink.bytes))
        break;
    }
    EXPECT_EQ(s.bytesFromDevice, static_cast<unsigned long long>(DeviceRecord(0).bytesDelivered));
    EXPECT_EQ(s.blocksDelivered * 320 + s.bytesRefused + s.bytesStored, s.bytesFromDevice)
        << s.blocksDelivered << " blocks, " << s.bytesRefused << " refused, " << s.bytesStored
        << " stored";
    EXPECT_EQ(s.blocksDelivered * 320, static_cast<unsigned long long>(sink.bytes));
    EXPECT_NE(s.lastDeviceBufferTick, 0u);
    if (delay) {
      EXPECT_GT(s.bytesRefused, 0u) << "a slow host's blocks pile up to the limit";
    } else {
      EXPECT_EQ(s.bytesRefused, 0u);
    }
    ASSERT_EQ(capture->Close(), kCaptureDone);
    capture->SetSink(nullptr);
  }
  EXPECT_EQ(GetAudioCaptureStatistics(capture, nullptr), kCaptureFailed);
  EXPECT_EQ(capture->Destroy(), kCaptureDone);
}
