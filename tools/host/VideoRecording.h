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

  // Prints the devices; with details also each one's identity (and a camera's modes).
  bool List(bool withDetails);
  // Opens the chosen device (placing the preview in `previewOwner`, an HWND, when
  // not null) and starts it; 0, or the program's exit code.
  int Begin(const CaptureOptions& options, void* previewOwner);
  // Writes the frames that arrived since the last call; false when a file failed.
  bool Poll();
  std::string Progress() const;
  int Finish();

  // --follow, as AudioRecording has it: frames go on into the same folder, numbered on.
  const std::string& DeviceIdentity() const { return identity; }
  bool ClosedByLibrary() const { return started && capture->IsOpened() == kCaptureNo; }
  std::string CloseReason() const;
  int Reopen(int index);

private:
  // Opens options.videoDevice, sets the controls asked for and starts; 0 or an exit code.
  int OpenAndStart();
  // Prints the controls of camera `device` (--list).
  static void PrintControls(int device);
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
    // Reads the frame numbers a test camera draws into its picture, for frames of
    // this format and size (a host format code without a picture layout: none).
    void ReadNumbersOf(int formatCode, int width, int height);
    // The first and latest number read, and how many frames carried one.
    long FirstNumber() const { return firstNumber.load(); }
    long LastNumber() const { return lastNumber.load(); }
    unsigned long Numbered() const { return numbered.load(); }
    // A camera opened again numbers its frames from 0: the count so far says nothing.
    void ForgetNumbers() {
      firstNumber = lastNumber = -1;
      numbered = 0;
    }

  private:
    int pictureFormat = -1;  // a testdevices::PixelFormat, or -1 for none
    int pictureWidth = 0, pictureHeight = 0;
    std::atomic<long> firstNumber{-1}, lastNumber{-1};
    std::atomic<unsigned long> numbered{0};
    std::mutex mutex;
    std::deque<std::vector<unsigned char>> pending;
    std::atomic<unsigned long> delivered{0}, discarded{0};
    std::atomic<unsigned long> firstTick{0}, lastTick{0};
  };

  VideoSourceCapture* capture = nullptr;
  FrameSink sink;
  CaptureOptions options;
  bool started = false;
  unsigned long startTick = 0;
  bool writeFailed = false;
  unsigned long written = 0;
  unsigned long wrongLength = 0;
  std::string identity;
};
