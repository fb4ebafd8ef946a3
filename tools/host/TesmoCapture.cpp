// tesmo-capture: lists the audio and video capture devices, captures from one of
// each for a few seconds and writes what arrived as a WAV file and BMP frames.
// `tesmo-capture --help` lists the options.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <memory>

#include "AudioRecording.h"
#include "CaptureOptions.h"
#include "DeviceChanges.h"
#include "PreviewWindow.h"
#include "VideoRecording.h"

namespace {

// Pumps messages while waiting: the thread is a COM apartment and may own the
// preview window.
void PumpFor(DWORD ms) {
  const DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(10);
  }
}

volatile LONG interrupted = 0;

BOOL WINAPI OnConsoleControl(DWORD) {
  InterlockedExchange(&interrupted, 1);
  return TRUE;
}

// --watch: the arrivals and removals as they come.
int WatchOnly(const CaptureOptions& options) {
  DeviceChanges changes;
  if (!changes.Start()) {
    std::fprintf(stderr, "tesmo-capture: the library could not watch the devices\n");
    return 1;
  }
  SetConsoleCtrlHandler(&OnConsoleControl, TRUE);
  if (options.secondsGiven)
    std::printf("Watching the devices for %.1f s\n", options.seconds);
  else
    std::printf("Watching the devices until interrupted (Ctrl+C)\n");
  std::fflush(stdout);
  const DWORD start = GetTickCount();
  const DWORD total = static_cast<DWORD>(options.seconds * 1000);
  while (!interrupted && (!options.secondsGiven || GetTickCount() - start < total)) {
    PumpFor(100);
    for (const DeviceChangeNote& note : changes.Take())
      std::printf("%s\n", DescribeChange(note).c_str());
    std::fflush(stdout);
  }
  return 0;
}

// --follow for one recording: once the library has closed its device, it waits for a
// device of the same identity to arrive and opens that at its index now.
template <class Recording>
class Follower {
public:
  Follower(Recording* recording, int kind, const char* word)
      : recording(recording), kind(kind), word(word) {}

  void Check(const std::deque<DeviceChangeNote>& changes) {
    if (!recording) return;
    bool back = false;
    for (const DeviceChangeNote& note : changes) {
      if (note.kind != kind || note.identity != recording->DeviceIdentity()) continue;
      if (note.change == kDeviceRemoved) removedSeen = true;
      back = note.change == kDeviceArrived;
    }
    if (!waiting) {
      if (!recording->ClosedByLibrary()) return;
      waiting = true;
      leftAt = GetTickCount();
      std::printf("%s removed: %s\n", word, recording->CloseReason().c_str());
      // Plugged back before the close was noticed.
      back = back || (removedSeen && IndexOfDevice(kind, recording->DeviceIdentity()) >= 0);
    }
    if (!back) return;
    const int index = IndexOfDevice(kind, recording->DeviceIdentity());
    if (index < 0 || recording->Reopen(index) != 0) return;  // the next arrival tries again
    waiting = removedSeen = false;
    std::printf("%s back after %.1f s, at index %d\n", word, (GetTickCount() - leftAt) / 1000.0,
                index);
  }

private:
  Recording* recording;
  int kind;
  const char* word;
  bool waiting = false;
  bool removedSeen = false;
  DWORD leftAt = 0;
};

int Run(const CaptureOptions& options) {
  if (options.watch) return WatchOnly(options);
  // Made first so that it goes last: the library's preview is a child of it.
  PreviewWindow preview;
  std::unique_ptr<AudioRecording> audio;
  std::unique_ptr<VideoRecording> video;
  bool found = true;
  if (options.audio) {
    audio = std::make_unique<AudioRecording>();
    if (!audio->List(options.listOnly)) {
      std::fprintf(stderr, "tesmo-capture: no audio capture device found%s\n",
                   options.video ? " (--no-audio captures video only)" : "");
      found = false;
    }
  }
  if (options.video) {
    video = std::make_unique<VideoRecording>();
    if (!video->List(options.listOnly)) {
      std::fprintf(stderr, "tesmo-capture: no video capture device found%s\n",
                   options.audio ? " (--no-video captures audio only)" : "");
      found = false;
    }
  }
  if (!found) return 2;
  if (options.listOnly) return 0;

  if (options.video && options.preview && !preview.Create("Tesmo preview"))
    std::fprintf(stderr,
                 "tesmo-capture: the preview window could not be made; capturing without it\n");
  if (audio)
    if (int failed = audio->Begin(options)) return failed;
  if (video)
    if (int failed = video->Begin(options, preview.Handle())) return failed;

  DeviceChanges changes;
  if (options.follow && !changes.Start()) {
    std::fprintf(stderr, "tesmo-capture: the library could not watch the devices\n");
    return 1;
  }
  Follower<AudioRecording> audioFollower(audio.get(), kDeviceAudio, "microphone");
  Follower<VideoRecording> videoFollower(video.get(), kDeviceVideo, "camera");

  std::printf("Capturing for %.1f s%s\n", options.seconds,
              options.follow ? ", following the devices" : "");
  const DWORD start = GetTickCount();
  const DWORD total = static_cast<DWORD>(options.seconds * 1000);
  DWORD reported = 0;
  bool writing = true;
  for (DWORD elapsed = 0; elapsed < total && writing; elapsed = GetTickCount() - start) {
    PumpFor(100);
    if (audio) audio->Poll();
    if (video) writing = video->Poll();
    if (options.follow) {
      const std::deque<DeviceChangeNote> notes = changes.Take();
      audioFollower.Check(notes);
      videoFollower.Check(notes);
    }
    const DWORD now = GetTickCount() - start;
    if (now - reported >= 1000 || now >= total) {
      reported = now;
      std::printf("  %5.1f s", now / 1000.0);
      if (audio) std::printf("   audio: %s", audio->Progress(now).c_str());
      if (video) std::printf("   video: %s", video->Progress().c_str());
      std::printf("\n");
      std::fflush(stdout);
    }
  }
  changes.Stop();
  int result = 0;
  if (audio) result = audio->Finish();
  if (video)
    if (int failed = video->Finish(); failed && !result) result = failed;
  return result;
}

}  // namespace

int main(int argc, char** argv) {
  CaptureOptions options;
  if (!ParseCaptureOptions(argc, argv, options)) return 64;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    std::fprintf(stderr, "tesmo-capture: COM could not be initialised\n");
    return 1;
  }
  int result = Run(options);
  CoUninitialize();
  return result;
}
