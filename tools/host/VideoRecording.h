// The video half of the demo: one device, every delivered frame as a BMP file.
#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "CaptureOptions.h"
#include "Tesmo.h"

class VideoRecording {
public:
  VideoRecording();
  ~VideoRecording();
  VideoRecording(const VideoRecording&) = delete;
  VideoRecording& operator=(const VideoRecording&) = delete;

  bool List();
  // Opens the chosen device (placing the preview in `previewOwner`, an HWND, when
  // not null) and starts it; 0, or the program's exit code.
  int Begin(const CaptureOptions& options, void* previewOwner);
  // Writes the frames that arrived since the last call; false when a file failed.
  bool Poll();
  std::string Progress() const;
  int Finish();

private:
  // Copies frames on the library's delivery thread; the main thread writes them.
  // A host that falls this far behind discards frames rather than grow without end.
  class FrameSink : public VideoSink {
  public:
    static constexpr size_t kMaxPending = 90;
    void OnData(const unsigned char* data, int length, unsigned long tickMs) override;
    std::deque<std::vector<unsigned char>> Take();
    unsigned long Delivered() const { return delivered.load(); }
    unsigned long Discarded() const { return discarded.load(); }
    // Arrival ticks of the first and the latest frame delivered.
    unsigned long FirstTick() const { return firstTick.load(); }
    unsigned long LastTick() const { return lastTick.load(); }

  private:
    std::mutex mutex;
    std::deque<std::vector<unsigned char>> pending;
    std::atomic<unsigned long> delivered{0}, discarded{0};
    std::atomic<unsigned long> firstTick{0}, lastTick{0};
  };

  VideoSourceCapture* capture = nullptr;
  FrameSink sink;
  CaptureOptions options;
  bool started = false;
  bool writeFailed = false;
  unsigned long written = 0;
  unsigned long wrongLength = 0;
};
