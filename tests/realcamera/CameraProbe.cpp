// tesmo-camera-probe: what the library does with a camera nobody here wrote, one
// situation per run, for scripts/check-real-camera.sh. It finds the camera by name,
// captures 320 x 240 RGB24 and prints what happened and how long each operation took;
// every wait is bounded, so a hang shows as a figure, not as a stuck run.
//
//   tesmo-camera-probe NAME restart|cycles|two|lost|busy|controls
//
// The last line is "probe MODE: ok" or "probe MODE: FAILED (why)".
#include <windows.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "Tesmo.h"
#include "support/PictureReader.h"
#include "support/ProcessUsage.h"

namespace {

using tesmo::test::HandleCount;
using tesmo::test::MeasurePlatformHandles;
using tesmo::test::PlatformHandles;
using tesmo::test::ThreadCount;

constexpr int kFramesPerSecond = 30;

class CountingSink : public VideoSink {
public:
  // Frames that arrived from the camera before `tick` (kept by the library across a Stop)
  // are counted apart and left out of the rate.
  void CountFrom(unsigned long tick) { since = tick; }
  void OnData(const unsigned char*, int, unsigned long tickMs) override {
    if (long(tickMs - since.load()) < 0) {
      ++earlier;
      return;
    }
    if (frames.fetch_add(1) == 0) firstTick = tickMs;
    lastTick = tickMs;
  }
  int Frames() const { return frames.load(); }
  int Earlier() const { return earlier.load(); }
  // Frames per second from the first frame to the last.
  double Rate() const {
    const int count = frames.load();
    const unsigned long span = lastTick.load() - firstTick.load();
    return count > 1 && span > 0 ? (count - 1) * 1000.0 / span : 0;
  }
  unsigned long LastTick() const { return lastTick.load(); }

private:
  std::atomic<int> frames{0}, earlier{0};
  std::atomic<unsigned long> since{0}, firstTick{0}, lastTick{0};
};

// Waits while pumping messages: the graph's renderer belongs to this thread.
void PumpFor(DWORD ms) {
  const DWORD start = GetTickCount();
  do {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(10);
  } while (GetTickCount() - start < ms);
}

// An operation's result and how long it took.
struct Timed {
  int result;
  DWORD ms;
};
template <class Operation>
Timed Time(Operation operation) {
  const DWORD start = GetTickCount();
  const int result = operation();
  return {result, GetTickCount() - start};
}

// The longest any operation may take: the library must never hang on the device.
constexpr DWORD kLongestOperationMs = 3000;

int FindDevice(VideoSourceCapture* capture, const char* name) {
  std::vector<char> names(64 * kNameEntryBytes);
  int count = 0;
  if (capture->ListDevices(names.data(), &count) != kCaptureYes) return -1;
  for (int i = 0; i < count; ++i)
    if (std::strcmp(names.data() + i * kNameEntryBytes, name) == 0) return i;
  return -1;
}

class Probe {
public:
  Probe(const char* deviceName, std::string mode) : mode(std::move(mode)) {
    capture = CreateVSC();
    if (capture) index = FindDevice(capture, deviceName);
  }
  ~Probe() {
    if (capture) capture->Destroy();
  }

  int Run() {
    if (!capture) return Fail("no video capture object");
    if (index < 0) return Fail("the camera is not listed");
    std::printf("probe %s: camera at index %d\n", mode.c_str(), index);
    if (mode == "restart") return Restart();
    if (mode == "cycles") return Cycles();
    if (mode == "two") return TwoObjects();
    if (mode == "lost") return Lost();
    if (mode == "busy") return Busy();
    if (mode == "controls") return Controls();
    return Fail("unknown mode");
  }

private:
  int Fail(const std::string& why) {
    std::printf("probe %s: FAILED (%s)\n", mode.c_str(), why.c_str());
    return 1;
  }
  int Pass() {
    std::printf("probe %s: ok\n", mode.c_str());
    return 0;
  }
  bool Slow(const Timed& timed) { return timed.ms > kLongestOperationMs; }

  // How an object that asked for a camera it cannot have came out: refused (what a host can
  // tell), streaming after all, or accepted with nothing delivered (what it cannot tell).
  static const char* Outcome(int open, int start, int frames) {
    if (open == kCaptureFailed) return "was refused at Open (reported)";
    if (start == kCaptureFailed) return "was refused at Start (reported)";
    if (frames > 0) return "streams";
    return "was accepted and gets no frame (SILENT: the host cannot tell)";
  }

  // Start, Stop and Start again: both runs deliver at the camera's rate.
  int Restart() {
    if (capture->Open(index) != kCaptureDone) return Fail("Open");
    CountingSink first, second;
    capture->SetSink(&first);
    if (capture->Start() != kCaptureDone) return Fail("the first Start");
    PumpFor(3000);
    const Timed stop = Time([&] { return capture->Stop(); });
    const int stopped = first.Frames();
    PumpFor(1000);
    const int afterStop = first.Frames() - stopped;
    second.CountFrom(GetTickCount());
    capture->SetSink(&second);
    const Timed start = Time([&] { return capture->Start(); });
    PumpFor(3000);
    capture->Stop();
    std::printf(
        "probe restart: first run %d frames at %.1f/s; Stop %d in %lu ms, %d frames after it; "
        "Start again %d in %lu ms, then %d frames kept from before Stop and %d new ones at "
        "%.1f/s\n",
        first.Frames(), first.Rate(), stop.result, stop.ms, afterStop, start.result, start.ms,
        second.Earlier(), second.Frames(), second.Rate());
    if (stop.result != kCaptureDone || start.result != kCaptureDone || Slow(stop) || Slow(start))
      return Fail("Stop or Start");
    if (afterStop > 1) return Fail("frames after Stop");
    if (first.Rate() < 0.9 * kFramesPerSecond || second.Rate() < 0.9 * kFramesPerSecond)
      return Fail("a run below 90 % of the camera's rate");
    return Pass();
  }

  // Open/Close 100 times; then the camera is free (a new Open streams), and the process
  // holds no more threads, and no more handles than the platform keeps of its graphs.
  int Cycles() {
    const int cycles = 100;
    const PlatformHandles kept = MeasurePlatformHandles(CLSID_VideoInputDeviceCategory);
    const DWORD handlesBefore = HandleCount();
    const int threadsBefore = ThreadCount();
    DWORD slowest = 0;
    for (int i = 0; i < cycles; ++i) {
      const Timed open = Time([&] { return capture->Open(index); });
      const Timed close = Time([&] { return capture->Close(); });
      slowest = std::max(slowest, std::max(open.ms, close.ms));
      if (open.result != kCaptureDone || close.result != kCaptureDone) {
        std::printf("probe cycles: cycle %d: Open %d, Close %d\n", i, open.result, close.result);
        return Fail("a cycle failed");
      }
      PumpFor(0);
    }
    const DWORD handlesAfter = HandleCount();
    const int threadsAfter = ThreadCount();
    const double allowance = cycles * (kept.perGraph + kept.perEnumeration) + 8;
    CountingSink sink;
    capture->SetSink(&sink);
    const int open = capture->Open(index), start = capture->Start();
    PumpFor(2000);
    capture->Close();
    std::printf(
        "probe cycles: %d Open/Close cycles, the slowest operation %lu ms; handles %lu -> %lu "
        "(the platform keeps %.0f of %d graphs), threads %d -> %d; then Open %d, Start %d, %d "
        "frames in 2 s\n",
        cycles, slowest, handlesBefore, handlesAfter, allowance - 8, cycles, threadsBefore,
        threadsAfter, open, start, sink.Frames());
    if (slowest > kLongestOperationMs) return Fail("an operation took too long");
    if (handlesAfter > handlesBefore + allowance) return Fail("handles left behind");
    if (threadsAfter > threadsBefore + 2) return Fail("threads left behind");
    if (open != kCaptureDone || start != kCaptureDone || sink.Frames() < kFramesPerSecond)
      return Fail("the camera was not free afterwards");
    return Pass();
  }

  // A second object asks for the camera that the first one streams from.
  int TwoObjects() {
    CountingSink firstSink, secondSink;
    if (capture->Open(index) != kCaptureDone) return Fail("the first Open");
    capture->SetSink(&firstSink);
    if (capture->Start() != kCaptureDone) return Fail("the first Start");
    PumpFor(1000);
    const int firstBefore = firstSink.Frames();
    VideoSourceCapture* second = CreateVSC();
    second->SetSink(&secondSink);
    const Timed open = Time([&] { return second->Open(index); });
    Timed start{-1, 0};
    if (open.result == kCaptureDone) start = Time([&] { return second->Start(); });
    PumpFor(3000);
    const int secondOpened = second->IsOpened(), secondRunning = second->IsRunning();
    const Timed destroy = Time([&] { return second->Destroy(); });
    PumpFor(1000);
    const int firstDuring = firstSink.Frames() - firstBefore;
    std::printf(
        "probe two: second object: Open %d in %lu ms, Start %d in %lu ms, IsOpened %d, IsRunning "
        "%d, %d frames; Destroy in %lu ms; the first object meanwhile: %d frames in 4 s, %.1f/s, "
        "IsRunning %d\n",
        open.result, open.ms, start.result, start.ms, secondOpened, secondRunning,
        secondSink.Frames(), destroy.ms, firstDuring, firstSink.Rate(), capture->IsRunning());
    if (Slow(open) || Slow(start) || Slow(destroy)) return Fail("an operation took too long");
    if (firstSink.Rate() < 0.9 * kFramesPerSecond || capture->IsRunning() != kCaptureYes)
      return Fail("the first object's stream broke");
    std::printf("probe two: the second object %s\n",
                Outcome(open.result, start.result, secondSink.Frames()));
    return Pass();
  }

  // The camera goes away mid-run: do the deliveries stop, does the object close itself,
  // and does every operation still return at once?
  int Lost() {
    CountingSink sink;
    if (capture->Open(index) != kCaptureDone) return Fail("Open");
    capture->SetSink(&sink);
    if (capture->Start() != kCaptureDone) return Fail("Start");
    const DWORD start = GetTickCount();
    DWORD closedAfter = 0;
    while (GetTickCount() - start < 8000) {
      PumpFor(100);
      if (!closedAfter && capture->IsOpened() == kCaptureNo) closedAfter = GetTickCount() - start;
    }
    const int frames = sink.Frames();
    const unsigned long lastFrameAt = frames ? sink.LastTick() - start : 0;
    const int opened = capture->IsOpened(), running = capture->IsRunning();
    const Timed stop = Time([&] { return capture->Stop(); });
    const Timed close = Time([&] { return capture->Close(); });
    const Timed reopen = Time([&] { return capture->Open(index); });
    std::printf(
        "probe lost: %d frames, the last %lu ms after Start; the object %s; after 8 s IsOpened "
        "%d, IsRunning %d; Stop %d in %lu ms, Close %d in %lu ms; Open again %d in %lu ms\n",
        frames, lastFrameAt,
        closedAfter ? ("closed itself " + std::to_string(closedAfter) + " ms after Start").c_str()
                    : "stayed open (SILENT: the host sees only the deliveries stop)",
        opened, running, stop.result, stop.ms, close.result, close.ms, reopen.result, reopen.ms);
    if (Slow(stop) || Slow(close) || Slow(reopen)) return Fail("an operation took too long");
    if (frames == 0) return Fail("no frame before the camera went");
    return Pass();
  }

  // Another program streams from the camera.
  int Busy() {
    CountingSink sink;
    capture->SetSink(&sink);
    const Timed open = Time([&] { return capture->Open(index); });
    Timed start{-1, 0};
    if (open.result == kCaptureDone) start = Time([&] { return capture->Start(); });
    // Past the 2 s after which the library reports a camera that sends nothing.
    PumpFor(3000);
    const int opened = capture->IsOpened();
    CaptureError error{};
    error.size = sizeof error;
    GetVideoCaptureError(capture, &error);
    const Timed close = Time([&] { return capture->Close(); });
    std::printf(
        "probe busy: Open %d in %lu ms, Start %d in %lu ms, %d frames in 3 s, IsOpened %d; Close "
        "in %lu ms\n",
        open.result, open.ms, start.result, start.ms, sink.Frames(), opened, close.ms);
    if (Slow(open) || Slow(start) || Slow(close)) return Fail("an operation took too long");
    std::printf("probe busy: the object %s\n", Outcome(open.result, start.result, sink.Frames()));
    std::printf("probe busy: the error record says cause %d, 0x%08lX: %s\n", error.cause,
                static_cast<unsigned long>(error.hresult), error.text);
    // Whatever the camera does when busy, the host must be told, and told the likely reason.
    if (sink.Frames() == 0 && error.cause == kCauseNone) return Fail("nothing told the host");
    if (sink.Frames() == 0 && !std::strstr(error.text, "in use by another application"))
      return Fail("the record does not name another application");
    if (open.result == kCaptureDone && start.result == kCaptureDone && sink.Frames() == 0 &&
        (error.cause != kCauseNoData ||
         !std::strstr(error.text, "in use by another application")))
      return Fail("a silent busy camera was not reported as such");
    return Pass();
  }

  // Counts the frames whose bars show one brightness and the others, from a given tick.
  class BrightnessSink : public VideoSink {
  public:
    void Expect(int value) {
      brightness = value;
      matching = 0;
      other = 0;
      firstMatching = -1;
      seen = 0;
    }
    void OnData(const unsigned char* data, int length, unsigned long) override {
      const auto view = testpicture::HostFrame(testdevices::PixelFormat::Rgb24, 320, 240, data,
                                               size_t(length));
      const long number = testpicture::ReadFrameNumber(view);
      testdevices::PictureAdjustment adjustment;
      adjustment.brightness = brightness.load();
      const int at = seen++;
      if (number >= 0 && testpicture::CheckAdjustedBars(view, uint32_t(number), adjustment).empty()) {
        if (firstMatching < 0) firstMatching = at;
        ++matching;
      } else {
        ++other;
      }
    }
    std::atomic<int> brightness{0}, matching{0}, other{0}, firstMatching{-1}, seen{0};
  };

  // The controls of a filter nobody here wrote: Wine's IAMVideoProcAmp over V4L2 has the
  // four controls with the V4L2 camera's own ranges, nothing else; brightness set by index
  // before Open holds in the stream, set on the running object shows within a few frames.
  int Controls() {
    struct Range {
      int control, minimum, maximum, step, defaultValue;
    };
    // What tools/v4l2camera reports for brightness, contrast, hue and saturation.
    const Range expected[] = {{kControlBrightness, -64, 64, 1, 0},
                              {kControlContrast, 0, 100, 5, 50},
                              {kControlHue, -90, 90, 1, 0},
                              {kControlSaturation, 0, 200, 10, 100}};
    std::vector<CameraControlInfo> listed(kControlCount);
    int count = -1;
    if (ListCameraControls(nullptr, index, listed.data(), kControlCount, &count) != kCaptureDone)
      return Fail("ListCameraControls");
    std::string text;
    for (int i = 0; i < count && i < kControlCount; ++i) {
      const CameraControlInfo& c = listed[size_t(i)];
      text += " " + std::to_string(c.control) + ":" + std::to_string(c.minimum) + ".." +
              std::to_string(c.maximum) + "/" + std::to_string(c.step) + "=" +
              std::to_string(c.defaultValue) + (c.modes == kControlManual ? " manual" : " auto?") +
              ",";
    }
    std::printf("probe controls: %d listed (control:min..max/step=default):%s\n", count,
                text.c_str());
    if (count != 4) return Fail("not the four VideoProcAmp controls");
    for (int i = 0; i < 4; ++i) {
      const CameraControlInfo& c = listed[size_t(i)];
      const Range& want = expected[i];
      if (c.control != want.control || c.minimum != want.minimum || c.maximum != want.maximum ||
          c.step != want.step || c.defaultValue != want.defaultValue || c.value != want.defaultValue)
        return Fail("control " + std::to_string(want.control) + " is not the V4L2 camera's");
    }
    std::string absent;
    for (int control = 0; control < kControlCount; ++control) {
      int value = 0x5A5A, mode = 0x5A5A;
      const bool listedHere = control <= kControlSaturation;
      const int got = GetCameraControl(nullptr, index, control, &value, &mode);
      if (listedHere != (got == kCaptureDone)) return Fail("GetCameraControl " + std::to_string(control));
      if (!listedHere) {
        if (value != 0x5A5A || mode != 0x5A5A) return Fail("written for an absent control");
        absent += " " + std::to_string(control);
      }
    }
    std::printf("probe controls: absent (255 from GetCameraControl):%s\n", absent.c_str());
    // Refused before the camera: off the step, out of range.
    if (SetCameraControl(nullptr, index, kControlContrast, 52, kControlManual) != kCaptureFailed ||
        SetCameraControl(nullptr, index, kControlBrightness, 65, kControlManual) != kCaptureFailed ||
        SetCameraControl(nullptr, index, kControlBrightness, 0, kControlAuto) != kCaptureFailed ||
        SetCameraControl(nullptr, index, kControlZoom, 0, kControlManual) != kCaptureFailed)
      return Fail("a bad setting was taken");

    // By index, before Open.
    const int before = 40, during = -40;
    if (SetCameraControl(nullptr, index, kControlBrightness, before, kControlManual) != kCaptureDone)
      return Fail("SetCameraControl by index");
    int value = 0, mode = 0;
    if (GetCameraControl(nullptr, index, kControlBrightness, &value, &mode) != kCaptureDone ||
        value != before || mode != kControlManual)
      return Fail("brightness does not read back by index");
    BrightnessSink sink;
    sink.Expect(before);
    if (capture->Open(index) != kCaptureDone) return Fail("Open");
    capture->SetSink(&sink);
    if (capture->Start() != kCaptureDone) return Fail("Start");
    PumpFor(2000);
    const int heldMatching = sink.matching, heldOther = sink.other;
    // On the running object.
    sink.Expect(during);
    const Timed set = Time([&] {
      return SetCameraControl(capture, 0, kControlBrightness, during, kControlManual);
    });
    PumpFor(2000);
    const int shownAfter = sink.firstMatching, duringMatching = sink.matching,
              duringOther = sink.other;
    value = 0;
    GetCameraControl(capture, 0, kControlBrightness, &value, &mode);
    capture->Close();
    // Put back, so the next run finds the camera as it was.
    SetCameraControl(nullptr, index, kControlBrightness, 0, kControlManual);
    std::printf(
        "probe controls: brightness %d set by index before Open: %d of %d frames show it; %d set "
        "on the running object (%d in %lu ms, reads back %d): shown from frame %d after it, "
        "then %d of %d frames show it\n",
        before, heldMatching, heldMatching + heldOther, during, set.result, set.ms, value,
        shownAfter, duringMatching, duringMatching + duringOther);
    if (heldMatching < kFramesPerSecond || heldOther > 0)
      return Fail("the brightness set before Open is not in every frame");
    if (set.result != kCaptureDone || Slow(set) || value != during)
      return Fail("the brightness set while running");
    if (shownAfter < 0 || shownAfter > 6 || duringOther > shownAfter)
      return Fail("the frames do not show the brightness set while running");
    return Pass();
  }

  std::string mode;
  VideoSourceCapture* capture = nullptr;
  int index = -1;
};

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: tesmo-camera-probe NAME restart|cycles|two|lost|busy|controls\n");
    return 64;
  }
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) return 1;
  int result = Probe(argv[1], argv[2]).Run();
  CoUninitialize();
  return result;
}
