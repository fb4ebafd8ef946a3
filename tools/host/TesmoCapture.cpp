// tesmo-capture: lists the audio and video capture devices, captures from one of
// each for a few seconds and writes what arrived as a WAV file and BMP frames.
// `tesmo-capture --help` lists the options.
#include <windows.h>
#include <objbase.h>

#include <cstdio>
#include <memory>

#include "AudioRecording.h"
#include "CaptureOptions.h"
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

int Run(const CaptureOptions& options) {
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

  std::printf("Capturing for %.1f s\n", options.seconds);
  const DWORD start = GetTickCount();
  const DWORD total = static_cast<DWORD>(options.seconds * 1000);
  DWORD reported = 0;
  bool writing = true;
  for (DWORD elapsed = 0; elapsed < total && writing; elapsed = GetTickCount() - start) {
    PumpFor(100);
    if (audio) audio->Poll();
    if (video) writing = video->Poll();
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
