// tesmo-soak (scripts/soak.sh): an audio and a video object capturing together from the test devices for
// a given time, while the host thread does random operations at random moments: Start,
// Stop, SetSink swaps, SetFrameRate, Close + Open, ListDevices. Every block and frame
// is checked (the microphone's bytes run i mod 251 from each Run, the camera's frame
// numbers rise within a run), and the process's handles, threads and private bytes at
// the start and the end are compared. Exit code 0 when nothing broke.
//   tesmo-soak [SECONDS [SEED]]
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <cstdarg>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <random>
#include <vector>

#include "TestDeviceControl.h"
#include "Tesmo.h"
#include "support/ProcessUsage.h"

namespace {

// The checked stream of one object, fed by its sinks on the delivery thread. A run
// segment goes from a Start to the next Stop or Close. After Stop and Start, what was
// stored before Stop may come first and a new run (counted from 0) follows: each such
// Start allows one restart of the count.
class StreamCheck {
public:
  explicit StreamCheck(bool bytes) : bytes(bytes) {}

  // Audio: every byte follows the previous one, mod 251.
  void Block(const unsigned char* data, int length) {
    std::lock_guard<std::mutex> hold(mutex);
    ++units;
    lastTick = GetTickCount();
    if (length != 320) Break("  audio block of %d bytes\n", length);
    for (int i = 0; i < length; ++i) Next(data[i], data[i] == (last + 1) % 251);
  }
  // Video: the frame number (bytes 0..3) rises.
  void Frame(const unsigned char* data, int length) {
    std::lock_guard<std::mutex> hold(mutex);
    ++units;
    lastTick = GetTickCount();
    if (length != 320 * 240 * 3) Break("  video frame of %d bytes\n", length);
    uint32_t number = 0;
    std::memcpy(&number, data, 4);
    Next(number, static_cast<long long>(number) > last);
  }
  // The object was opened afresh: its stream starts at 0 (audio) or anywhere (video).
  void Fresh() {
    std::lock_guard<std::mutex> hold(mutex);
    last = bytes ? 250 : -1;  // so that the first byte must be 0
    restartsAllowed = 0;
  }
  void StartAfterStop() {
    std::lock_guard<std::mutex> hold(mutex);
    ++restartsAllowed;
  }
  void SegmentStarted() {
    std::lock_guard<std::mutex> hold(mutex);
    lastTick = GetTickCount();
    ++segments;
    stallSeen = false;
  }
  // While running: nothing for 2 s counts once as a stall of the segment.
  void CheckFlowing() {
    std::lock_guard<std::mutex> hold(mutex);
    if (!stallSeen && GetTickCount() - lastTick > 2000) {
      stallSeen = true;
      ++stalls;
    }
  }
  struct Figures {
    long long units, breaks, stalls, segments;
  };
  Figures Read() {
    std::lock_guard<std::mutex> hold(mutex);
    return {units, breaks, stalls, segments};
  }

private:
  // Counts a break; the first few are told, so that a failed run says what happened.
  __attribute__((format(printf, 2, 3))) void Break(const char* format, ...) {
    if (++breaks > 10) return;
    va_list arguments;
    va_start(arguments, format);
    std::vprintf(format, arguments);
    va_end(arguments);
  }
  void Next(long long value, bool follows) {
    if (!follows) {
      // A new audio run starts at byte 0; of a new video run the first frame delivered
      // may be a later one (the oldest waiting frame, from the old run, went first).
      if (restartsAllowed > 0 && (value == 0 || !bytes))
        --restartsAllowed;
      else
        Break("  %s: %lld after %lld (%lld delivered so far)\n",
              bytes ? "audio byte" : "video frame", value, last, units);
    }
    last = value;
  }
  const bool bytes;
  std::mutex mutex;
  long long last = -1;
  int restartsAllowed = 0;
  long long units = 0, breaks = 0, stalls = 0, segments = 0;
  DWORD lastTick = 0;  // of the last delivery, or the segment's start
  bool stallSeen = false;
};

// A sink of either kind that hands what it gets to a stream's check.
template <class Base, void (StreamCheck::*take)(const unsigned char*, int)>
class CheckingSink : public Base {
public:
  explicit CheckingSink(StreamCheck& check) : check(check) {}
  void OnData(const unsigned char* data, int length, unsigned long) override {
    (check.*take)(data, length);
  }
  StreamCheck& check;
};
using SoundSink = CheckingSink<AudioSink, &StreamCheck::Block>;
using PictureSink = CheckingSink<VideoSink, &StreamCheck::Frame>;

struct Usage {
  DWORD handles = 0;
  int threads = 0;
  SIZE_T privateBytes = 0;
  void TakePeak(const Usage& now) {
    handles = std::max(handles, now.handles);
    threads = std::max(threads, now.threads);
    privateBytes = std::max(privateBytes, now.privateBytes);
  }
};

Usage CurrentUsage() {
  Usage usage;
  // Registry keys aside: Wine keeps some of every device listing, and the library lists
  // the devices every second while an object's device sends nothing (a stopped one).
  usage.handles = tesmo::test::HandleCountExceptKeys();
  usage.threads = tesmo::test::ThreadCount();
  usage.privateBytes = tesmo::test::PrivateBytes();
  return usage;
}

void PumpFor(DWORD ms) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < ms; Sleep(5)) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
  }
}

// One capture object with the state the host expects of it, and the operations it draws.
template <class Object, class Sink>
class Side {
public:
  Side(const char* name, Object* object, bool bytes)
      : name(name), object(object), check(bytes), sinks{Sink(check), Sink(check)} {}

  // Runs one operation and compares its result with what the state says.
  void Operate(int operation, std::mt19937& random) {
    switch (operation) {
      case 0:  // Start
        Expect("Start", object->Start(), open ? kCaptureDone : kCaptureFailed);
        if (open && !running) {
          if (stoppedOnce) check.StartAfterStop();
          check.SegmentStarted();
          running = true;
        }
        break;
      case 1:  // Stop
        Expect("Stop", object->Stop(), open ? kCaptureDone : kCaptureFailed);
        if (running) stoppedOnce = true;
        running = false;
        break;
      case 2:  // SetSink swap: the stream goes on in the other sink
        current = 1 - current;
        Expect("SetSink", object->SetSink(&sinks[current]), kCaptureDone);
        break;
      case 3:  // Close + Open: a fresh stream
        Reopen();
        break;
      case 4: {  // ListDevices
        std::vector<char> names(64 * kNameEntryBytes);
        int count = 0;
        Expect("ListDevices", object->ListDevices(names.data(), &count), kCaptureYes);
        if (count != 1) ++unexpected;
        break;
      }
      default: Extra(random);
    }
  }
  void Reopen() {
    Expect("Close", object->Close(), kCaptureDone);
    // Waits out a delivery in progress, so nothing of the old stream follows the reset.
    object->SetSink(nullptr);
    check.Fresh();
    Expect("Open", object->Open(0), kCaptureDone);
    ++opens;
    object->SetSink(&sinks[current]);
    open = true;
    running = false;
    stoppedOnce = false;
  }
  void Extra(std::mt19937& random);
  void Expect(const char* what, CaptureResult got, CaptureResult wanted) {
    ++operations;
    if (got == wanted) return;
    ++unexpected;
    std::printf("  %s %s: %d, expected %d\n", name, what, got, wanted);
  }
  void Finish() {
    object->SetSink(nullptr);
    Expect("Destroy", object->Destroy(), kCaptureDone);
  }

  const char* name;
  Object* object;
  StreamCheck check;
  Sink sinks[2];
  int current = 0;
  bool open = false, running = false, stoppedOnce = false;
  long long operations = 0, unexpected = 0, opens = 0;
};

template <>
void Side<AudioSourceCapture, SoundSink>::Extra(std::mt19937&) {
  int channels = 0, rate = 0, bits = 0, block = 0;
  Expect("GetFormat", object->GetFormat(&channels, &rate, &bits, &block), kCaptureDone);
  if (channels != 1 || rate != 11025 || bits != 16 || block != 320) ++unexpected;
}

template <>
void Side<VideoSourceCapture, PictureSink>::Extra(std::mt19937& random) {
  const int paces[] = {300, 600, 1200, 1800};
  Expect("SetFrameRate", object->SetFrameRate(paces[random() % 4]), kCaptureDone);
}

}  // namespace

int main(int argc, char** argv) {
  const double seconds = argc > 1 ? std::atof(argv[1]) : 60;
  const unsigned seed = argc > 2 ? static_cast<unsigned>(std::strtoul(argv[2], nullptr, 10))
                                 : static_cast<unsigned>(GetTickCount());
  std::setvbuf(stdout, nullptr, _IONBF, 0);
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 2;
  const wchar_t* devices[] = {L"kind=audio;name=Tesmo Test Microphone",
                              L"kind=video;name=Tesmo Test Camera"};
  if (TestDevices_SetDevices(devices, 2) != S_OK) return 2;
  TestDevices_ResetRecords();

  AudioSourceCapture* audioObject = CreateASC();
  VideoSourceCapture* videoObject = CreateVSC();
  if (!audioObject || !videoObject) return 2;
  Side<AudioSourceCapture, SoundSink> audio("audio", audioObject, true);
  Side<VideoSourceCapture, PictureSink> video("video", videoObject, false);
  // What the platform keeps of each graph and device listing (Wine 8: handles).
  const tesmo::test::PlatformHandles audioKept =
      tesmo::test::MeasurePlatformHandles(CLSID_AudioInputDeviceCategory);
  const tesmo::test::PlatformHandles videoKept =
      tesmo::test::MeasurePlatformHandles(CLSID_VideoInputDeviceCategory);
  std::mt19937 random(seed);
  audio.Reopen();
  video.Reopen();
  audio.Operate(0, random);  // Start
  video.Operate(0, random);
  const DWORD total = static_cast<DWORD>(seconds * 1000);
  const DWORD quarter = total / 4;
  Usage startPeak, endPeak;
  const DWORD begin = GetTickCount();
  std::printf("soak: %.0f s, seed %u\n", seconds, seed);
  for (DWORD elapsed = 0; elapsed < total; elapsed = GetTickCount() - begin) {
    // Starts and Stops and the sink swaps most often, the rest now and then.
    const int operation = std::discrete_distribution<int>({30, 20, 20, 8, 7, 15})(random);
    if (random() % 2)
      audio.Operate(operation, random);
    else
      video.Operate(operation, random);
    // Stopped objects are started again soon, so that most of the time data flows.
    for (int wait = static_cast<int>(random() % 600); wait > 0; wait -= 100) {
      PumpFor(std::min(wait, 100));
      if (audio.running) audio.check.CheckFlowing();
      if (video.running) video.check.CheckFlowing();
    }
    if (!audio.running && random() % 3 == 0) audio.Operate(0, random);
    if (!video.running && random() % 3 == 0) video.Operate(0, random);
    const Usage now = CurrentUsage();
    if (elapsed < quarter) startPeak.TakePeak(now);
    if (elapsed >= total - quarter) endPeak.TakePeak(now);
  }
  audio.Finish();
  video.Finish();
  PumpFor(100);
  const int live = TestDevices_GetLiveObjectCount();
  const LONG references = TestDevices_GetOutstandingReferences();
  TestDevices_UseDefaultDevices();
  CoUninitialize();

  const double minutes = (GetTickCount() - begin) / 60000.0;
  const long long operations = audio.operations + video.operations;
  const long long unexpected = audio.unexpected + video.unexpected;
  const auto sound = audio.check.Read(), pictures = video.check.Read();
  const long long breaks = sound.breaks + pictures.breaks;
  const long long stalls = sound.stalls + pictures.stalls;
  std::printf("minutes %.1f, operations %lld (unexpected results %lld)\n", minutes, operations,
              unexpected);
  std::printf("audio: %lld blocks in %lld run segments, sequence breaks %lld, stalls %lld\n",
              sound.units, sound.segments, sound.breaks, sound.stalls);
  std::printf("video: %lld frames in %lld run segments, sequence breaks %lld, stalls %lld\n",
              pictures.units, pictures.segments, pictures.breaks, pictures.stalls);
  std::printf(
      "peak handles (registry keys aside) %lu -> %lu, threads %d -> %d, private KiB %zu -> %zu "
      "(first and last quarter)\n",
      startPeak.handles, endPeak.handles, startPeak.threads, endPeak.threads,
      startPeak.privateBytes / 1024, endPeak.privateBytes / 1024);
  std::printf("test devices after Destroy: %d live objects, %ld references\n", live, references);

  // Flat: a few of Wine's own worker threads and handles may come and go, beyond the
  // handles the platform keeps of every graph (its listings keep registry keys only,
  // which are not counted); memory within 8 MiB of the start (the allocator keeps freed
  // frame buffers).
  const double platform = audio.opens * audioKept.perGraph + video.opens * videoKept.perGraph;
  std::printf("handles the platform keeps of %lld opens: %.0f\n", audio.opens + video.opens,
              platform);
  const bool flat = endPeak.threads <= startPeak.threads + 2 &&
                    endPeak.handles <= startPeak.handles + 16 + platform &&
                    endPeak.privateBytes <= startPeak.privateBytes + 8 * 1024 * 1024;
  const bool ok = unexpected == 0 && breaks == 0 && stalls == 0 && flat && live == 0 &&
                  references == 0 && sound.units > 0 && pictures.units > 0;
  std::printf("%s\n", ok ? "soak ok" : "SOAK FAILED");
  return ok ? 0 : 1;
}
