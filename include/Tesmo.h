// Tesmo: live audio and video from the machine's capture devices.
//
// The host creates a capture object with CreateASC (audio), drives it through the
// operations below and ends it with Destroy; it never deletes the object itself.
// Captured data arrives through the host's own sink object on the library's
// delivery thread. The order of the virtual operations is part of the binary
// contract: never reorder them, and never add a virtual destructor.
//
// The host must have initialised COM on the threads from which it calls the
// operations. Text is narrow text in the system ANSI code page.
#ifndef TESMO_H
#define TESMO_H

#if defined(_WIN32)
#  if defined(TESMO_BUILDING_DLL)
#    define TESMO_API __declspec(dllexport)
#  else
#    define TESMO_API __declspec(dllimport)
#  endif
#else
#  define TESMO_API __attribute__((visibility("default")))
#endif

// The result of every operation:
//   0   done
//   1   yes (opened, running), or a list was produced
//   2   no (not opened, not running), or the device enumeration failed
//   255 refused in the current state, out of range, or failed
//   254 only from the video object's Reserved
typedef unsigned char CaptureResult;

enum : CaptureResult {
  kCaptureDone = 0,
  kCaptureYes = 1,
  kCaptureNo = 2,
  kCaptureReserved = 254,
  kCaptureFailed = 255,
};

// Bytes per entry of a device or input name list: entry k starts at byte 260 * k.
enum { kNameEntryBytes = 260 };

// Implemented by the host. The library calls only OnData, only from the object's
// delivery thread and never twice at once; it never deletes the sink. The data
// pointer is valid only during the call.
class AudioSink {
public:
  // One block of PCM bytes in the negotiated format; length is the block size set
  // with SetFormat; tickMs is the millisecond tick count read just before the call.
  virtual void OnData(const unsigned char* data, int length, unsigned long tickMs) = 0;

protected:
  ~AudioSink() = default;
};

class AudioSourceCapture {
public:
  /*  0 */ virtual CaptureResult SetSink(AudioSink* sink) = 0;
  /*  1 */ virtual CaptureResult IsOpened() = 0;
  /*  2 */ virtual CaptureResult IsRunning() = 0;
  /*  3 */ virtual CaptureResult Start() = 0;
  /*  4 */ virtual CaptureResult Stop() = 0;
  /*  5 */ virtual CaptureResult Close() = 0;
  /*  6 */ virtual CaptureResult GetRecordLevel(int* percent) = 0;
  /*  7 */ virtual CaptureResult SetRecordLevel(int percent) = 0;
  /*  8 */ virtual CaptureResult GetMixLevel(int* level) = 0;
  /*  9 */ virtual CaptureResult SetMixLevel(int level) = 0;
  /* 10 */ virtual CaptureResult Open(int deviceIndex) = 0;
  /* 11 */ virtual CaptureResult SelectInput(const char* inputName) = 0;
  /* 12 */ virtual CaptureResult GetFormat(int* channels, int* samplesPerSec, int* bitsPerSample,
                                           int* blockBytes) = 0;
  /* 13 */ virtual CaptureResult SetFormat(int channels, int samplesPerSec, int bitsPerSample,
                                           int blockBytes) = 0;
  /* 14 */ virtual CaptureResult ListDevices(char* names, int* count) = 0;
  /* 15 */ virtual CaptureResult ListInputs(int deviceIndex, char* names, int* count) = 0;
  /* 16 */ virtual CaptureResult ShowPropertyPages() = 0;
  /* 17 */ virtual CaptureResult Destroy() = 0;

protected:
  ~AudioSourceCapture() = default;
};

// Implemented by the host. The library calls only OnData, only from the video
// object's delivery thread, one frame at a time; it never deletes the sink. The
// data pointer is valid only during the call. From inside OnData the host must not
// call Open, Close or Destroy of the same object (they are refused there).
class VideoSink {
public:
  // One whole frame in the wanted format; tickMs is the tick count at which the
  // frame arrived from the device, not the time of delivery.
  virtual void OnData(const unsigned char* data, int length, unsigned long tickMs) = 0;

protected:
  ~VideoSink() = default;
};

// Video format codes for SetFormat.
enum : int {
  kVideoRgb24 = 0,
  kVideoI420 = 4,
  kVideoRgb555 = 10,
  kVideoRgb32 = 1000,
};

class VideoSourceCapture {
public:
  /*  0 */ virtual CaptureResult SetSink(VideoSink* sink) = 0;
  /*  1 */ virtual CaptureResult IsOpened() = 0;
  /*  2 */ virtual CaptureResult IsRunning() = 0;
  /*  3 */ virtual CaptureResult Open(int deviceIndex) = 0;
  /*  4 */ virtual CaptureResult Start() = 0;
  /*  5 */ virtual CaptureResult Stop() = 0;
  /*  6 */ virtual CaptureResult Close() = 0;
  /*  7 */ virtual CaptureResult ShowPropertyPages() = 0;
  /*  8 */ virtual CaptureResult SetFrameRate(int framesPerMinute) = 0;
  /*  9 */ virtual CaptureResult GetFrameRate(int* framesPerMinute) = 0;
  /* 10 */ virtual CaptureResult GetFormat(int* width, int* height, int* formatCode) = 0;
  /* 11 */ virtual CaptureResult SetFormat(int width, int height, int formatCode) = 0;
  /* 12 */ virtual CaptureResult GetDeviceName(char* name) = 0;  // at least 260 bytes
  /* 13 */ virtual CaptureResult Reserved(int a, int b) = 0;     // always 254
  /* 14 */ virtual CaptureResult ListDevices(char* names, int* count) = 0;
  /* 15 */ virtual CaptureResult SetPreviewWindow(void* ownerWindow) = 0;  // an HWND
  /* 16 */ virtual CaptureResult Destroy() = 0;

protected:
  ~VideoSourceCapture() = default;
};

extern "C" {
// A new, independent audio capture object (Closed), or null if it cannot be made.
TESMO_API AudioSourceCapture* CreateASC();
// A new, independent video capture object (Closed), or null if it cannot be made.
TESMO_API VideoSourceCapture* CreateVSC();
}

#endif  // TESMO_H
