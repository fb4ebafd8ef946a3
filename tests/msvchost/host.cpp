// A host built with the Microsoft C++ ABI (clang-cl's code model, Wine's Windows
// headers): it drives the mingw-built Tesmo.dll only through the operation tables of
// include/Tesmo.h. There is no C run-time start-up and no C++ standard library here:
// mainCRTStartup is the entry point and the program ends with ExitProcess.
#include <windows.h>
#include <objbase.h>
#include <stddef.h>
#include <stdio.h>
#include <string.h>

#include "Tesmo.h"

namespace {

// The structures' layout is the same for every compiler on both machines: fixed-width
// fields only, the 64-bit counts on an 8-byte boundary. The mingw-built DLL writes
// them; this host, with the other ABI, reads them.
static_assert(sizeof(CameraModeInfo) == 16, "CameraModeInfo");
static_assert(sizeof(CameraControlInfo) == 32, "CameraControlInfo");
static_assert(sizeof(VideoCaptureStatistics) == 68, "VideoCaptureStatistics");
static_assert(offsetof(VideoCaptureStatistics, framesFromCamera) == 28, "framesFromCamera");
static_assert(offsetof(VideoCaptureStatistics, delayLargestMs) == 64, "delayLargestMs");
static_assert(sizeof(AudioCaptureStatistics) == 48, "AudioCaptureStatistics");
static_assert(offsetof(AudioCaptureStatistics, bytesFromDevice) == 16, "bytesFromDevice");
static_assert(offsetof(AudioCaptureStatistics, bytesStored) == 40, "bytesStored");
static_assert(sizeof(CaptureError) == 276, "CaptureError");
static_assert(offsetof(CaptureError, hresult) == 12, "hresult");
static_assert(offsetof(CaptureError, text) == 20, "text");

// Checks the test microphone's stream (byte i since Run is i mod 251) across blocks.
class SequenceSink : public AudioSink {
public:
  void OnData(const unsigned char* data, int length, unsigned long tickMs) override {
    for (int i = 0; i < length; ++i, ++offset)
      if (data[i] != offset % 251) breaks = breaks + 1;
    if (length != 320) breaks = breaks + 1;
    InterlockedIncrement(&blocks);
  }
  volatile LONG blocks = 0;
  volatile LONG breaks = 0;

private:
  unsigned long long offset = 0;
};

// Checks that the test camera's frame numbers (bytes 0..3) rise and the length is RGB24.
class FrameSink : public VideoSink {
public:
  void OnData(const unsigned char* data, int length, unsigned long tickMs) override {
    const LONG number = static_cast<LONG>(data[0] | data[1] << 8 | data[2] << 16 | data[3] << 24);
    if (length != 320 * 240 * 3 || number <= last) breaks = breaks + 1;
    last = number;
    InterlockedIncrement(&frames);
  }
  volatile LONG frames = 0;
  volatile LONG breaks = 0;

private:
  LONG last = -1;
};

// Waits up to `ms` for `count`, pumping this thread's messages (the renderer's window
// belongs to the thread that opened the graph).
bool WaitFor(volatile LONG& value, LONG count, DWORD ms) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(10)) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    if (value >= count) return true;
  }
  return false;
}

int failures = 0;

// One check per line; each result is computed before printing (the arguments of a call
// are evaluated right to left here).
void Check(const char* what, bool ok) {
  printf("%s %s\n", ok ? "ok  " : "FAIL", what);
  if (!ok) ++failures;
}

char names[64 * kNameEntryBytes];

void Audio() {
  AudioSourceCapture* audio = CreateASC();
  Check("CreateASC", audio != nullptr);
  if (!audio) return;
  int count = 0;
  const CaptureResult listed = audio->ListDevices(names, &count);
  Check("audio ListDevices lists the test microphone",
        listed == kCaptureYes && count > 0 && lstrcmpA(names, "Tesmo Test Microphone") == 0);
  Check("audio ListDevices with a null pointer is 255",
        audio->ListDevices(nullptr, &count) == kCaptureFailed);
  Check("audio SetFormat", audio->SetFormat(1, 11025, 16, 320) == kCaptureDone);
  int channels = 0, rate = 0, bits = 0, block = 0;
  const CaptureResult got = audio->GetFormat(&channels, &rate, &bits, &block);
  Check("audio GetFormat",
        got == kCaptureDone && channels == 1 && rate == 11025 && bits == 16 && block == 320);
  SequenceSink sink;
  Check("audio SetSink", audio->SetSink(&sink) == kCaptureDone);
  Check("audio Open(0)", audio->Open(0) == kCaptureDone);
  Check("audio IsOpened", audio->IsOpened() == kCaptureYes);
  Check("audio Start", audio->Start() == kCaptureDone);
  Check("audio IsRunning", audio->IsRunning() == kCaptureYes);
  Check("audio delivers 30 blocks", WaitFor(sink.blocks, 30, 10000));
  Check("audio Stop", audio->Stop() == kCaptureDone);
  Check("audio SetSink(null)", audio->SetSink(nullptr) == kCaptureDone);
  Check("audio bytes follow i mod 251 in 320-byte blocks", sink.breaks == 0);
  printf("     audio blocks: %ld\n", static_cast<long>(sink.blocks));
  // The last block may still be on its way through the delivery thread after Stop:
  // the counts settle within a bound.
  AudioCaptureStatistics stats;
  bool accounted = false;
  for (DWORD start = GetTickCount(); !accounted && GetTickCount() - start < 3000; Sleep(20)) {
    memset(&stats, 0xCD, sizeof stats);
    stats.size = sizeof stats;
    accounted = GetAudioCaptureStatistics(audio, &stats) == kCaptureDone &&
                stats.size == sizeof stats &&
                stats.blocksDelivered == static_cast<unsigned long long>(sink.blocks) &&
                stats.bytesFromDevice ==
                    stats.blocksDelivered * 320 + stats.bytesRefused + stats.bytesStored;
  }
  Check("audio statistics: every byte delivered, refused or stored", accounted);
  Check("audio Open(99) is 255", audio->Open(99) == kCaptureFailed);
  CaptureError error;
  memset(&error, 0xCD, sizeof error);
  error.size = sizeof error;
  Check("audio error record: no such device at slot 10",
        GetAudioCaptureError(audio, &error) == kCaptureDone && error.size == sizeof error &&
            error.cause == kCauseNoSuchDevice && error.operation == 10 && error.hresult == 0 &&
            error.text[0] != '\0' && lstrlenA(error.text) < 256);
  Check("audio Destroy", audio->Destroy() == kCaptureDone);
}

void Video() {
  VideoSourceCapture* video = CreateVSC();
  Check("CreateVSC", video != nullptr);
  if (!video) return;
  int count = 0;
  const CaptureResult listed = video->ListDevices(names, &count);
  Check("video ListDevices lists the test camera",
        listed == kCaptureYes && count > 0 && lstrcmpA(names, "Tesmo Test Camera") == 0);
  Check("video Reserved is 254", video->Reserved(1, 2) == kCaptureReserved);
  Check("video SetFrameRate(1200)", video->SetFrameRate(1200) == kCaptureDone);
  int pace = 0;
  const CaptureResult paced = video->GetFrameRate(&pace);
  Check("video GetFrameRate", paced == kCaptureDone && pace == 1200);
  Check("video SetFormat", video->SetFormat(320, 240, kVideoRgb24) == kCaptureDone);
  FrameSink sink;
  Check("video SetSink", video->SetSink(&sink) == kCaptureDone);
  Check("video Open(0)", video->Open(0) == kCaptureDone);
  char name[kNameEntryBytes] = {};
  const CaptureResult named = video->GetDeviceName(name);
  Check("video GetDeviceName", named == kCaptureDone && lstrcmpA(name, "Tesmo Test Camera") == 0);
  Check("video Start", video->Start() == kCaptureDone);
  Check("video delivers 5 frames", WaitFor(sink.frames, 5, 10000));
  Check("video Stop", video->Stop() == kCaptureDone);
  Check("video SetSink(null)", video->SetSink(nullptr) == kCaptureDone);
  Check("video frame numbers rise, RGB24 320 x 240", sink.breaks == 0);
  printf("     video frames: %ld\n", static_cast<long>(sink.frames));
  VideoCaptureStatistics stats;
  bool accounted = false;
  for (DWORD start = GetTickCount(); !accounted && GetTickCount() - start < 3000; Sleep(20)) {
    memset(&stats, 0xCD, sizeof stats);
    stats.size = sizeof stats;
    accounted = GetVideoCaptureStatistics(video, &stats) == kCaptureDone &&
                stats.size == sizeof stats && stats.cameraWidth == 320 &&
                stats.cameraHeight == 240 &&
                stats.framesDelivered == static_cast<unsigned int>(sink.frames) &&
                stats.framesFromCamera == stats.framesDelivered + stats.framesDroppedByPace +
                                              stats.framesDroppedAtStore +
                                              stats.framesUndecodable + stats.framesWaiting &&
                stats.delayLargestMs >= stats.delayMedianMs && stats.delayLargestMs < 10000;
  }
  Check("video statistics: the mode in use and every frame accounted for", accounted);
  Check("video Close", video->Close() == kCaptureDone);
  Check("video IsRunning closed is 255", video->IsRunning() == kCaptureFailed);
  CaptureError error;
  memset(&error, 0xCD, sizeof error);
  error.size = sizeof error;
  Check("video error record: IsRunning refused at slot 2",
        GetVideoCaptureError(video, &error) == kCaptureDone && error.cause == kCauseRefused &&
            error.operation == 2 && error.text[0] != '\0');
  Check("video Destroy", video->Destroy() == kCaptureDone);
}

}  // namespace

extern "C" void mainCRTStartup() {
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) ExitProcess(2);
  Audio();
  Video();
  CoUninitialize();
  printf("%s\n", failures == 0 ? "ok: MSVC-ABI host" : "FAILED: MSVC-ABI host");
  fflush(stdout);
  ExitProcess(failures == 0 ? 0 : 1);
}
