// tesmo-capture: lists the audio capture devices and their inputs, captures from
// one of them for a few seconds and writes what arrived as a WAV file.
//
//   tesmo-capture [--list] [--device N] [--seconds S] [--out FILE]
//                 [--channels C] [--rate HZ] [--bits B] [--block BYTES] [--input mic|line]
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "Tesmo.h"
#include "WavWriter.h"

namespace {

struct Options {
  bool listOnly = false;
  int device = 0;
  double seconds = 5;
  std::string out = "tesmo-capture.wav";
  int channels = 1, rate = 11025, bits = 16, block = 320;
  std::string input;
};

void PrintUsage() {
  std::printf(
      "usage: tesmo-capture [--list] [--device N] [--seconds S] [--out FILE.wav]\n"
      "                     [--channels C] [--rate HZ] [--bits B] [--block BYTES] [--input mic|line]\n");
}

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto next = [&](const char* what) -> const char* {
      if (i + 1 >= argc) {
        std::fprintf(stderr, "tesmo-capture: %s needs a value\n", what);
        return nullptr;
      }
      return argv[++i];
    };
    const char* value = nullptr;
    if (arg == "--list") {
      options.listOnly = true;
    } else if (arg == "--help" || arg == "-h") {
      PrintUsage();
      std::exit(0);
    } else if (arg == "--device" && (value = next("--device"))) {
      options.device = std::atoi(value);
    } else if (arg == "--seconds" && (value = next("--seconds"))) {
      options.seconds = std::atof(value);
    } else if (arg == "--out" && (value = next("--out"))) {
      options.out = value;
    } else if (arg == "--channels" && (value = next("--channels"))) {
      options.channels = std::atoi(value);
    } else if (arg == "--rate" && (value = next("--rate"))) {
      options.rate = std::atoi(value);
    } else if (arg == "--bits" && (value = next("--bits"))) {
      options.bits = std::atoi(value);
    } else if (arg == "--block" && (value = next("--block"))) {
      options.block = std::atoi(value);
    } else if (arg == "--input" && (value = next("--input"))) {
      options.input = value;
    } else {
      if (!value) std::fprintf(stderr, "tesmo-capture: unknown option %s\n", arg.c_str());
      PrintUsage();
      return false;
    }
  }
  return true;
}

// Collects blocks on the library's delivery thread; the main thread writes them.
class CollectingSink : public AudioSink {
public:
  void OnData(const unsigned char* data, int length, unsigned long) override {
    std::lock_guard<std::mutex> hold(mutex);
    pending.insert(pending.end(), data, data + length);
    ++blocks;
  }
  std::vector<unsigned char> Take() {
    std::lock_guard<std::mutex> hold(mutex);
    std::vector<unsigned char> taken;
    taken.swap(pending);
    return taken;
  }
  unsigned long Blocks() const { return blocks.load(); }

private:
  std::mutex mutex;
  std::vector<unsigned char> pending;
  std::atomic<unsigned long> blocks{0};
};

// Pumps messages while waiting: the thread is a COM apartment.
void PumpFor(DWORD ms) {
  DWORD start = GetTickCount();
  while (GetTickCount() - start < ms) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(10);
  }
}

int ListAudio(AudioSourceCapture* capture, int& deviceCount) {
  std::vector<char> names(64 * kNameEntryBytes);
  deviceCount = 0;
  CaptureResult listed = capture->ListDevices(names.data(), &deviceCount);
  if (listed != kCaptureYes) {
    deviceCount = 0;
    return listed;
  }
  std::printf("Audio capture devices:\n");
  for (int i = 0; i < deviceCount; ++i) {
    std::printf("  [%d] %s\n", i, names.data() + i * kNameEntryBytes);
    std::vector<char> inputs(64 * kNameEntryBytes);
    int inputCount = 0;
    if (capture->ListInputs(i, inputs.data(), &inputCount) == kCaptureYes) {
      for (int k = 0; k < inputCount; ++k)
        std::printf("        input: %s\n", inputs.data() + k * kNameEntryBytes);
    }
  }
  return listed;
}

int Capture(const Options& options) {
  AudioSourceCapture* capture = CreateASC();
  if (!capture) {
    std::fprintf(stderr, "tesmo-capture: the audio capture object could not be created\n");
    return 1;
  }
  int deviceCount = 0;
  ListAudio(capture, deviceCount);
  if (deviceCount == 0) {
    std::fprintf(stderr, "tesmo-capture: no audio capture device found\n");
    capture->Destroy();
    return 2;
  }
  if (options.listOnly) {
    capture->Destroy();
    return 0;
  }
  if (capture->SetFormat(options.channels, options.rate, options.bits, options.block) != kCaptureDone) {
    std::fprintf(stderr, "tesmo-capture: format refused (channels %d, %d Hz, %d bits, block %d)\n",
                 options.channels, options.rate, options.bits, options.block);
    capture->Destroy();
    return 1;
  }
  if (capture->Open(options.device) != kCaptureDone) {
    std::fprintf(stderr, "tesmo-capture: device %d could not be opened with %d ch, %d Hz, %d bits\n",
                 options.device, options.channels, options.rate, options.bits);
    capture->Destroy();
    return 3;
  }
  if (!options.input.empty() && capture->SelectInput(options.input.c_str()) != kCaptureDone)
    std::fprintf(stderr, "tesmo-capture: input \"%s\" not found; recording the default input\n",
                 options.input.c_str());

  WavWriter wav;
  if (!wav.Open(options.out, options.channels, options.rate, options.bits)) {
    std::fprintf(stderr, "tesmo-capture: cannot write %s\n", options.out.c_str());
    capture->Destroy();
    return 1;
  }
  CollectingSink sink;
  capture->SetSink(&sink);
  if (capture->Start() != kCaptureDone) {
    std::fprintf(stderr, "tesmo-capture: capture could not start\n");
    capture->Destroy();
    return 3;
  }
  std::printf("Capturing device %d for %.1f s into %s\n", options.device, options.seconds,
              options.out.c_str());

  // Blocks the device must have produced by now, less what may still be in flight
  // (eight device buffers of three blocks, and the block waiting in the ring).
  const double blocksPerMs = static_cast<double>(options.rate) * options.channels * (options.bits / 8) /
                             options.block / 1000.0;
  const double inFlight = 8 * 3 + 2;
  const DWORD start = GetTickCount();
  const DWORD total = static_cast<DWORD>(options.seconds * 1000);
  unsigned long dropped = 0;
  for (DWORD elapsed = 0; elapsed < total; elapsed = GetTickCount() - start) {
    PumpFor(100);
    auto bytes = sink.Take();
    wav.Append(bytes.data(), bytes.size());
    double expected = (GetTickCount() - start) * blocksPerMs - inFlight;
    unsigned long received = sink.Blocks();
    if (expected > received) dropped = static_cast<unsigned long>(expected - received);
    std::printf("\r  %5.1f s   blocks received %6lu   dropped %4lu", (GetTickCount() - start) / 1000.0,
                received, dropped);
    std::fflush(stdout);
  }
  capture->Stop();
  capture->SetSink(nullptr);  // waits until a delivery in progress has returned
  auto rest = sink.Take();
  wav.Append(rest.data(), rest.size());
  capture->Destroy();
  const uint64_t bytes = wav.DataBytes();
  if (!wav.Finish()) {
    std::fprintf(stderr, "\ntesmo-capture: writing %s failed\n", options.out.c_str());
    return 1;
  }
  std::printf("\nWrote %s: %llu bytes of PCM, %.2f s (%d ch, %d Hz, %d bits)\n", options.out.c_str(),
              static_cast<unsigned long long>(bytes),
              static_cast<double>(bytes) / (options.rate * options.channels * (options.bits / 8)),
              options.channels, options.rate, options.bits);
  return bytes > 0 ? 0 : 4;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) return 64;
  if (FAILED(CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED))) {
    std::fprintf(stderr, "tesmo-capture: COM could not be initialised\n");
    return 1;
  }
  int result = Capture(options);
  CoUninitialize();
  return result;
}
