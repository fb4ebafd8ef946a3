// A small Tesmo host: lists the audio and video capture devices, captures from
// device 0 of each until some data has arrived, and exits with 0 on success. The
// camera is found again by its identity and opened at a size from its mode list.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <mutex>
#include <string>
#include <vector>

#include "Tesmo.h"

// Counts what arrives. OnData runs on the library's delivery thread: copy what you
// need, return soon, and never keep the data pointer after the call.
class Counter {
public:
  void Add(int length) {
    std::lock_guard<std::mutex> hold(mutex);
    ++calls;
    bytes += length;
  }
  int Calls() {
    std::lock_guard<std::mutex> hold(mutex);
    return calls;
  }
  // Waits up to `ms` for `count` calls, pumping this thread's messages meanwhile:
  // the video renderer's window may belong to the thread that opened the device.
  bool WaitFor(int count, DWORD ms) {
    for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(10)) {
      MSG msg;
      while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
      if (Calls() >= count) return true;
    }
    return false;
  }

private:
  std::mutex mutex;
  int calls = 0;
  long long bytes = 0;
};

class Sound : public AudioSink {
public:
  void OnData(const unsigned char* data, int length, unsigned long tickMs) override {
    counter.Add(length);
  }
  Counter counter;
};

class Picture : public VideoSink {
public:
  void OnData(const unsigned char* data, int length, unsigned long tickMs) override {
    counter.Add(length);
  }
  Counter counter;
};

// The name lists have no size argument: the buffer must hold 260 bytes for every
// device present, so leave room for many.
void PrintNames(const char* what, const std::vector<char>& names, int count) {
  std::printf("%s devices: %d\n", what, count);
  for (int i = 0; i < count; ++i) std::printf("  [%d] %s\n", i, &names[i * kNameEntryBytes]);
}

bool CaptureAudio() {
  AudioSourceCapture* audio = CreateASC();
  if (!audio) return false;
  std::vector<char> names(64 * kNameEntryBytes);
  int count = 0;
  bool ok = audio->ListDevices(names.data(), &count) == kCaptureYes && count > 0;
  if (ok) PrintNames("Audio", names, count);
  Sound sound;
  // The format is set while closed, before Open: 1 channel, 11025 Hz, 16 bits, 320-byte blocks.
  ok = ok && audio->SetFormat(1, 11025, 16, 320) == kCaptureDone && audio->Open(0) == kCaptureDone;
  ok = ok && audio->SetSink(&sound) == kCaptureDone && audio->Start() == kCaptureDone;
  ok = ok && sound.counter.WaitFor(10, 5000);
  audio->Stop();
  audio->SetSink(nullptr);  // before the sink goes out of scope
  std::printf("Audio blocks received: %d\n", sound.counter.Calls());
  audio->Destroy();  // ends the object; the pointer is not used again
  return ok;
}

// The index at which the device with this identity is now: plugging devices in and
// out renumbers them, the identity stays. -1 when it is not there.
int FindVideoDevice(const std::string& identity) {
  for (int device = 0; device < 64; ++device) {
    char text[1024];
    int length = 0;
    const CaptureResult result = GetVideoDeviceIdentity(device, text, sizeof text, &length);
    if (result == kCaptureNo) break;  // past the last device
    if (result == kCaptureYes && identity == text) return device;
  }
  return -1;
}

// The size to ask for: the camera's largest mode up to 640 x 480 that reaches 30
// frames a second (1800 a minute); 320 x 240 when it lists none.
void ChooseSize(int device, int& width, int& height) {
  width = 320;
  height = 240;
  std::vector<CameraModeInfo> modes(64);
  int count = 0;
  if (ListCameraModes(device, modes.data(), static_cast<int>(modes.size()), &count) != kCaptureYes)
    return;
  int largest = 0;
  for (int i = 0; i < count; ++i) {
    const CameraModeInfo& mode = modes[i];
    if (mode.framesPerMinute >= 1800 && mode.width <= 640 && mode.height <= 480 &&
        mode.width * mode.height > largest) {
      largest = mode.width * mode.height;
      width = mode.width;
      height = mode.height;
    }
  }
}

bool CaptureVideo() {
  VideoSourceCapture* video = CreateVSC();
  if (!video) return false;
  std::vector<char> names(64 * kNameEntryBytes);
  int count = 0;
  bool ok = video->ListDevices(names.data(), &count) == kCaptureYes && count > 0;
  if (ok) PrintNames("Video", names, count);
  // A host stores the identity of the camera the user chose (here device 0) and finds
  // it by that identity the next time, whatever its index has become.
  char stored[1024] = {};
  int length = 0;
  ok = ok && GetVideoDeviceIdentity(0, stored, sizeof stored, &length) == kCaptureYes;
  const int device = ok ? FindVideoDevice(stored) : -1;
  int width = 0, height = 0;
  ChooseSize(device, width, height);
  std::printf("Camera [%d] %s at %dx%d\n", device, stored, width, height);
  Picture picture;
  ok = ok && device >= 0 && video->SetFormat(width, height, kVideoRgb24) == kCaptureDone &&
       video->Open(device) == kCaptureDone;
  ok = ok && video->SetSink(&picture) == kCaptureDone && video->Start() == kCaptureDone;
  ok = ok && picture.counter.WaitFor(3, 5000);
  video->Stop();
  video->SetSink(nullptr);
  std::printf("Video frames received: %d\n", picture.counter.Calls());
  video->Destroy();
  return ok;
}

int main() {
  // The host initialises COM on every thread that calls the operations.
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
  const bool audioOk = CaptureAudio();
  const bool videoOk = CaptureVideo();
  CoUninitialize();
  std::printf("%s\n", audioOk && videoOk ? "ok" : "FAILED");
  return audioOk && videoOk ? 0 : 1;
}
