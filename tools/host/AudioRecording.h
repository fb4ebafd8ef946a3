// The audio half of the demo: one device into a WAV file.
#pragma once

#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "CaptureOptions.h"
#include "Tesmo.h"
#include "WavWriter.h"

class AudioRecording {
public:
  AudioRecording();
  ~AudioRecording();
  AudioRecording(const AudioRecording&) = delete;
  AudioRecording& operator=(const AudioRecording&) = delete;

  // Prints the devices and their inputs; false when none can be listed.
  // Prints the devices; with details also each one's identity (and a camera's modes).
  bool List(bool withDetails);
  // Opens the chosen device and starts it; 0, or the program's exit code.
  int Begin(const CaptureOptions& options);
  // Writes what arrived since the last call.
  void Poll();
  std::string Progress(unsigned long elapsedMs) const;
  // Stops, writes the rest, closes the file and prints a summary; 0 or an exit code.
  int Finish();

  // --follow: the open device's identity, whether the library closed it by itself
  // (and why), and opening it again at its new index with the same settings into
  // the same file; 0 or an exit code.
  const std::string& DeviceIdentity() const { return identity; }
  bool ClosedByLibrary() const { return started && capture->IsOpened() == kCaptureNo; }
  std::string CloseReason() const;
  int Reopen(int index);

private:
  // Opens options.audioDevice and starts it (the first time also setting the level and
  // opening the file); 0 or an exit code.
  int OpenAndStart();
  // Sets the level, reads it back and prints both, with the mixers around them.
  void SetAndReadRecordLevel(int percent);

  // Collects blocks on the library's delivery thread; the main thread writes them.
  class CollectingSink : public AudioSink {
  public:
    void OnData(const unsigned char* data, int length, unsigned long tickMs) override;
    std::vector<unsigned char> Take();
    unsigned long Blocks() const { return blocks.load(); }

  private:
    std::mutex mutex;
    std::vector<unsigned char> pending;
    std::atomic<unsigned long> blocks{0};
  };

  AudioSourceCapture* capture = nullptr;
  CollectingSink sink;
  WavWriter wav;
  CaptureOptions options;
  bool started = false;
  std::string identity;
};
