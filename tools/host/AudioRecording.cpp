#include "AudioRecording.h"

#include <cstdio>

#include "CaptureReason.h"
#include "DeviceChanges.h"
#include "WaveInMixers.h"

AudioRecording::AudioRecording() : capture(CreateASC()) {}

AudioRecording::~AudioRecording() {
  if (capture) capture->Destroy();
}

void AudioRecording::CollectingSink::OnData(const unsigned char* data, int length, unsigned long) {
  std::lock_guard<std::mutex> hold(mutex);
  pending.insert(pending.end(), data, data + length);
  ++blocks;
}

std::vector<unsigned char> AudioRecording::CollectingSink::Take() {
  std::lock_guard<std::mutex> hold(mutex);
  std::vector<unsigned char> taken;
  taken.swap(pending);
  return taken;
}

bool AudioRecording::List(bool withDetails) {
  if (!capture) return false;
  std::vector<char> names(64 * kNameEntryBytes);
  int count = 0;
  if (capture->ListDevices(names.data(), &count) != kCaptureYes) count = 0;
  std::printf("Audio capture devices: %d\n", count);
  for (int i = 0; i < count; ++i) {
    std::printf("  [%d] %s\n", i, names.data() + i * kNameEntryBytes);
    std::string found;
    if (withDetails && IdentityAt(kDeviceAudio, i, found) == kCaptureYes)
      std::printf("        identity: %s\n", found.c_str());
    std::vector<char> inputs(64 * kNameEntryBytes);
    int inputCount = 0;
    if (capture->ListInputs(i, inputs.data(), &inputCount) == kCaptureYes)
      for (int k = 0; k < inputCount; ++k)
        std::printf("        input: %s\n", inputs.data() + k * kNameEntryBytes);
  }
  return count > 0;
}

int AudioRecording::Begin(const CaptureOptions& chosen) {
  options = chosen;
  if (!capture) {
    std::fprintf(stderr, "tesmo-capture: the audio capture object could not be created\n");
    return 1;
  }
  if (capture->SetFormat(options.channels, options.rate, options.bits, options.block) !=
      kCaptureDone) {
    std::fprintf(stderr,
                 "tesmo-capture: audio format refused (channels %d, %d Hz, %d bits, block %d)\n",
                 options.channels, options.rate, options.bits, options.block);
    return 1;
  }
  if (int failed = OpenAndStart()) return failed;
  started = true;
  std::printf("Audio: device %d, %d ch, %d Hz, %d bits, into %s\n", options.audioDevice,
              options.channels, options.rate, options.bits, options.wavPath.c_str());
  AudioCaptureStatistics s{};
  s.size = sizeof s;
  if (GetAudioCaptureStatistics(capture, &s) == kCaptureDone) {
    if (s.deviceBuffers > 0)
      std::printf("Audio device buffers: %d of %d bytes\n", s.deviceBuffers, s.deviceBufferBytes);
    else
      std::printf("Audio device buffers: not reported by the device\n");
  }
  return 0;
}

int AudioRecording::OpenAndStart() {
  if (capture->Open(options.audioDevice) != kCaptureDone) {
    std::fprintf(stderr,
                 "tesmo-capture: audio device %d could not be opened with %d ch, %d Hz, %d bits: "
                 "%s\n",
                 options.audioDevice, options.channels, options.rate, options.bits,
                 FailureText(capture).c_str());
    return 3;
  }
  if (!options.input.empty() && capture->SelectInput(options.input.c_str()) != kCaptureDone)
    std::fprintf(stderr, "tesmo-capture: input \"%s\" not found; recording the default input\n",
                 options.input.c_str());
  if (!started) {
    if (options.recordLevel >= 0) SetAndReadRecordLevel(options.recordLevel);
    if (!wav.Open(options.wavPath, options.channels, options.rate, options.bits)) {
      std::fprintf(stderr, "tesmo-capture: cannot write %s\n", options.wavPath.c_str());
      return 1;
    }
  }
  IdentityAt(kDeviceAudio, options.audioDevice, identity);
  capture->SetSink(&sink);
  if (capture->Start() != kCaptureDone) {
    std::fprintf(stderr, "tesmo-capture: audio capture could not start: %s\n",
                 FailureText(capture).c_str());
    return 3;
  }
  return 0;
}

std::string AudioRecording::CloseReason() const { return FailureText(capture); }

int AudioRecording::Reopen(int index) {
  Poll();  // what came before the device left goes first
  options.audioDevice = index;
  return OpenAndStart();
}

void AudioRecording::SetAndReadRecordLevel(int percent) {
  PrintWaveInMixers("Mixers before");
  const int set = capture->SetRecordLevel(percent);
  int read = -1;  // stays -1 unless the library reports a level
  const int got = capture->GetRecordLevel(&read);
  std::printf("Record level: SetRecordLevel(%d) = %d; GetRecordLevel = %d, level %d\n", percent,
              set, got, read);
  PrintWaveInMixers("Mixers after");
}

void AudioRecording::Poll() {
  auto bytes = sink.Take();
  wav.Append(bytes.data(), bytes.size());
}

std::string AudioRecording::Progress(unsigned long elapsedMs) const {
  // Blocks the device must have produced by now, less what may still be in flight
  // (eight device buffers of three blocks, and the block waiting in the ring).
  const double blocksPerMs = static_cast<double>(options.rate) * options.channels *
                             (options.bits / 8) / options.block / 1000.0;
  const double expected = elapsedMs * blocksPerMs - (8 * 3 + 2);
  const unsigned long received = sink.Blocks();
  const unsigned long dropped =
      expected > received ? static_cast<unsigned long>(expected - received) : 0;
  char line[200];
  int used = std::snprintf(line, sizeof line, "blocks received %6lu dropped %4lu", received, dropped);
  // The library's own counts: what the device sent and what the ring turned away.
  AudioCaptureStatistics s{};
  s.size = sizeof s;
  if (GetAudioCaptureStatistics(capture, &s) == kCaptureDone)
    std::snprintf(line + used, sizeof line - used, " (device sent %llu bytes, %llu refused)",
                  s.bytesFromDevice, s.bytesRefused);
  // What the library makes of it: a quiet device, or a close of its own.
  return line + OwnReportLine(capture);
}

int AudioRecording::Finish() {
  if (!started) return 0;
  capture->Stop();
  capture->SetSink(nullptr);  // waits until a delivery in progress has returned
  AudioCaptureStatistics s{};
  s.size = sizeof s;
  if (GetAudioCaptureStatistics(capture, &s) == kCaptureDone)
    std::printf("Audio totals: the device sent %llu bytes: %llu blocks delivered, %llu bytes "
                "refused, %llu still stored\n",
                s.bytesFromDevice, s.blocksDelivered, s.bytesRefused, s.bytesStored);
  if (capture->IsOpened() != kCaptureYes)
    std::fprintf(stderr, "tesmo-capture: the library closed the audio device: %s\n",
                 FailureText(capture).c_str());
  Poll();
  const uint64_t bytes = wav.DataBytes();
  if (!wav.Finish()) {
    std::fprintf(stderr, "tesmo-capture: writing %s failed\n", options.wavPath.c_str());
    return 1;
  }
  std::printf("Wrote %s: %llu bytes of PCM, %.2f s (%d ch, %d Hz, %d bits)\n",
              options.wavPath.c_str(), static_cast<unsigned long long>(bytes),
              static_cast<double>(bytes) / (options.rate * options.channels * (options.bits / 8)),
              options.channels, options.rate, options.bits);
  if (bytes == 0) {
    std::fprintf(stderr, "tesmo-capture: no audio arrived\n");
    return 4;
  }
  return 0;
}
