// Tesmo: live audio and video from the machine's capture devices.
//
// The host creates a capture object with CreateASC (audio) or CreateVSC (video),
// drives it through the operations below and ends it with Destroy; it never deletes
// the object itself. Captured data arrives through the host's own sink object on the
// object's delivery thread. The order of the virtual operations is part of the binary
// contract: never reorder them, and never add a virtual destructor.
//
// A typical use: ListDevices, SetFormat, Open(index), SetSink, Start ... Stop, Destroy.
// The host must have initialised COM on the threads from which it calls the
// operations, and calls the operations of one object from one thread at a time.
// Text is narrow text in the system ANSI code page. On x86 the factories use the C
// calling convention and the operations the compiler's default for member functions.
//
// Delivery: OnData runs on the object's own delivery thread with no lock held that
// an operation waits for. From inside OnData every operation works except Open,
// Close and Destroy of the same object, which return 255 there; and while an
// OnData is in progress or blocked (say, waiting for the host's UI thread), the
// host's threads may call every operation without waiting for it. The one wait:
// SetSink from another thread returns once a delivery to the old sink has returned.
// Destroy waits at most about one second for an OnData in progress and none starts
// after it returned. A buffer lent to OnData stays valid until that call returns,
// whatever the host does meanwhile; the library stays loaded until its threads end,
// so FreeLibrary right after Destroy is safe.
//
// A device that goes away (unplugged, or its stream aborted: the graph reports
// EC_DEVICE_LOST, EC_ERRORABORT or EC_STREAM_ERROR_STOPPED) closes its object by
// itself, as a video frame of the wrong size does; so does an object whose device has
// left the system's device list without a word, within about 2 s. The device is
// released, no OnData follows, IsOpened answers 2 and IsRunning 255. The host learns
// of it by polling IsOpened, when the deliveries stop, or from WatchDevices, and reads
// why with Get...CaptureError; Open of the same index works again once the device is
// back.
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
  // Sets the sink that receives the blocks, in any state (null: nothing is delivered);
  // always 0. From another thread it returns once a delivery in progress to the old sink
  // has returned; from inside OnData at once.
  /*  0 */ virtual CaptureResult SetSink(AudioSink* sink) = 0;
  // 1 when a device is open, 2 when not (also after the device was lost and closed it).
  /*  1 */ virtual CaptureResult IsOpened() = 0;
  // 1 running, 2 open and stopped, 255 closed.
  /*  2 */ virtual CaptureResult IsRunning() = 0;
  // Runs the capture: blocks flow to the sink. 0, or 255 when closed or the graph would not run.
  /*  3 */ virtual CaptureResult Start() = 0;
  // Stops the capture, keeping what is stored. 0, or 255 when closed or the graph would not stop.
  /*  4 */ virtual CaptureResult Stop() = 0;
  // Stops and releases the device, from any state; 0, or 255 from inside OnData.
  /*  5 */ virtual CaptureResult Close() = 0;
  // Reads the recording volume in percent from the first mixer with a recording
  // destination of: the open device's own (its "WaveInID"), mixer 0, wave-in device 0's.
  // On mixer 0 the microphone after SelectInput("mic"), else the line input; on a
  // device's own mixer the destination's volume. 0, or 255 when no such mixer works;
  // *percent is written only when a level was read.
  /*  6 */ virtual CaptureResult GetRecordLevel(int* percent) = 0;
  // Sets that volume in percent. 0, or 255 as for GetRecordLevel; works open or closed.
  /*  7 */ virtual CaptureResult SetRecordLevel(int percent) = 0;
  // Reads the open device's own mix level in percent. 0, or 255 when closed or the device
  // has no input mixer.
  /*  8 */ virtual CaptureResult GetMixLevel(int* level) = 0;
  // Sets the open device's mix level in percent. 0, or 255 as for GetMixLevel.
  /*  9 */ virtual CaptureResult SetMixLevel(int level) = 0;
  // Closes what was open, then opens entry deviceIndex of ListDevices with the format set.
  // 0, or 255 when there is no such device or no graph could be built (the object stays
  // closed), on a thread that never initialised COM, and from inside OnData.
  /* 10 */ virtual CaptureResult Open(int deviceIndex) = 0;
  // Enables the open device's input pin "mic", "line" or of that name. 0, or 255 when none matched
  // or it refused, for a null, empty or over-259-byte name, or when closed.
  /* 11 */ virtual CaptureResult SelectInput(const char* inputName) = 0;
  // Writes the format: channels, samples per second, bits per sample, block size in bytes; 0.
  /* 12 */ virtual CaptureResult GetFormat(int* channels, int* samplesPerSec, int* bitsPerSample,
                                           int* blockBytes) = 0;
  // Sets the format of the next Open and the block size of delivery (default 1, 11025, 16, 320;
  // a block holds 1 to 1024 bytes). 0, or 255 while open or for a value out of range.
  /* 13 */ virtual CaptureResult SetFormat(int channels, int samplesPerSec, int bitsPerSample,
                                           int blockBytes) = 0;
  // Writes the audio capture devices' names, kNameEntryBytes each, and their count; the buffer
  // must hold every device. 1 listed, 2 enumeration failed or none, 255 null pointer or fault.
  /* 14 */ virtual CaptureResult ListDevices(char* names, int* count) = 0;
  // Writes the input pin names of device deviceIndex the same way. 1 listed, 2 no such device
  // or its pins cannot be listed, 255 null pointer or fault.
  /* 15 */ virtual CaptureResult ListInputs(int deviceIndex, char* names, int* count) = 0;
  // Shows the open device's property pages, modal. 0 once closed, 255 when closed or it has none.
  /* 16 */ virtual CaptureResult ShowPropertyPages() = 0;
  // Closes and frees the object, from any state; 0, and the pointer is dead afterwards.
  // From inside OnData 255, and the object lives on.
  /* 17 */ virtual CaptureResult Destroy() = 0;

protected:
  ~AudioSourceCapture() = default;
};

// Implemented by the host. The library calls only OnData, only from the video
// object's delivery thread, one frame at a time; it never deletes the sink. The
// data pointer is valid only during the call. From inside OnData, Open, Close and
// Destroy of the same object are refused (255); see Delivery above.
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
  // Sets the sink that receives the frames, in any state (null: nothing is queued); always 0.
  // From another thread it returns once a delivery in progress has returned; from inside
  // OnData at once.
  /*  0 */ virtual CaptureResult SetSink(VideoSink* sink) = 0;
  // 1 when a device is open, 2 when not (also after the device was lost, or a frame of the
  // wrong size, closed it and released the device).
  /*  1 */ virtual CaptureResult IsOpened() = 0;
  // 1 running, 2 open and stopped, 255 closed.
  /*  2 */ virtual CaptureResult IsRunning() = 0;
  // Closes what was open, then opens entry deviceIndex of ListDevices with the format set and
  // the preview window. 0, or 255 when the device or its graph cannot be set up, on a thread
  // that never initialised COM, and from inside OnData.
  /*  3 */ virtual CaptureResult Open(int deviceIndex) = 0;
  // Runs the capture: frames flow at the set pace. 0, or 255 when closed or the graph would
  // not run.
  /*  4 */ virtual CaptureResult Start() = 0;
  // Stops the capture. 0, or 255 when closed or the graph would not stop.
  /*  5 */ virtual CaptureResult Stop() = 0;
  // Stops and releases the device, from any state; 0, or 255 from inside OnData.
  /*  6 */ virtual CaptureResult Close() = 0;
  // Shows the open device's property pages, modal. 0 once closed, 255 when closed or it has none.
  /*  7 */ virtual CaptureResult ShowPropertyPages() = 0;
  // Sets the delivery pace, in any state: 5 to 1800 frames per minute (default 1800), at once.
  // 0, or 255 outside that range. A frame goes out as it arrives, but at most one per
  // 60000 / framesPerMinute ms: the oldest waiting then goes, the newer ones are dropped.
  /*  8 */ virtual CaptureResult SetFrameRate(int framesPerMinute) = 0;
  // Writes the delivery pace in frames per minute; 0.
  /*  9 */ virtual CaptureResult GetFrameRate(int* framesPerMinute) = 0;
  // Writes the wanted width, height and format code; 0.
  /* 10 */ virtual CaptureResult GetFormat(int* width, int* height, int* formatCode) = 0;
  // Sets the frame size and format code (kVideo..., default 320, 240, kVideoRgb24) of the next
  // Open; another code keeps the device's pixel format. 0, or 255 while open or for an
  // impossible size.
  /* 11 */ virtual CaptureResult SetFormat(int width, int height, int formatCode) = 0;
  // Copies the open device's name, empty while closed, into at least 260 bytes; 0.
  /* 12 */ virtual CaptureResult GetDeviceName(char* name) = 0;
  // Does nothing; always 254.
  /* 13 */ virtual CaptureResult Reserved(int a, int b) = 0;
  // Writes the video capture devices' names, kNameEntryBytes each, and their count; the buffer
  // must hold every device. 1 listed, 2 enumeration failed or none, 255 null pointer or fault.
  /* 14 */ virtual CaptureResult ListDevices(char* names, int* count) = 0;
  // Shows a 240 x 180 preview as a child of this window (an HWND), null for none; while closed
  // it is kept for the next Open. 0, or 255 when open and the graph has no video window.
  /* 15 */ virtual CaptureResult SetPreviewWindow(void* ownerWindow) = 0;
  // Closes and frees the object, from any state; 0, and the pointer is dead afterwards.
  // From inside OnData 255, and the object lives on.
  /* 16 */ virtual CaptureResult Destroy() = 0;

protected:
  ~VideoSourceCapture() = default;
};

// One mode a camera offers, as ListCameraModes reports it.
struct CameraModeInfo {
  int width;
  int height;
  // The rate the mode reaches, in frames per minute, to compare with SetFrameRate
  // (1800 for 30 frames per second); 0 when the camera does not say.
  int framesPerMinute;
  // How the frames arrive: a FOURCC, first letter in the low byte ('MJPG', 'YUY2',
  // 'NV12', ...), or for RGB the bit count: 24, 32, 16 (RGB565) or 15 (RGB555).
  unsigned int format;
};

// What a video object's capture is doing, as GetVideoCaptureStatistics writes it. The
// host sets `size` to sizeof(VideoCaptureStatistics) as its header has it; the library
// writes no more than that, so a host built against an older, shorter structure gets
// the fields it knows. Later versions add fields at the end only.
struct VideoCaptureStatistics {
  int size;
  // The camera's mode in use: its format as ListCameraModes gives it (a FOURCC or the
  // RGB bit count), picture size, frame interval in 100 ns units, and 1 where the
  // connection's format block is a VIDEOINFOHEADER2 (0: VIDEOINFOHEADER).
  unsigned int cameraFormat;
  int cameraWidth;
  int cameraHeight;
  int frameInterval;
  int videoInfo2;
  // What the library does to each frame: kVideoPassedThrough, or the sum of the
  // kVideoConverted, kVideoDecoded and kVideoCroppedAndScaled that apply.
  int treatment;
  // Counts since Open. Every frame from the camera is delivered, dropped by the pace
  // (a newer one arrived before its turn), dropped at the store (a full queue, no free
  // buffer, no sink set or not running), undecodable (or of the wrong length), or is
  // still waiting: framesFromCamera is the sum of the other five.
  unsigned int framesFromCamera;
  unsigned int framesDelivered;
  unsigned int framesDroppedByPace;
  unsigned int framesDroppedAtStore;
  unsigned int framesUndecodable;
  unsigned int framesWaiting;
  // Tick counts (ms) of the last frame from the camera and of the last OnData; 0 for
  // none since Open. A camera whose last frame lies several intervals back while the
  // object runs has stopped sending; a slow host shows a growing delay instead.
  unsigned int lastCameraFrameTick;
  unsigned int lastDeliveryTick;
  // From a frame's arrival to its OnData over the deliveries of about the last
  // second: the median and the largest, in ms; 0 with none.
  unsigned int delayMedianMs;
  unsigned int delayLargestMs;
};

const int kVideoPassedThrough = 0;
const int kVideoConverted = 1;
const int kVideoDecoded = 2;
const int kVideoCroppedAndScaled = 4;

// What an audio object's capture is doing, as GetAudioCaptureStatistics writes it;
// `size` as for the video structure.
struct AudioCaptureStatistics {
  int size;
  // The device's buffers as its allocator reports them after the connection: how many
  // and the bytes of each (0 where the device does not say).
  int deviceBuffers;
  int deviceBufferBytes;
  // Tick count (ms) of the last buffer from the device; 0 for none since Open.
  unsigned int lastDeviceBufferTick;
  // Counts since Open: every byte from the device is delivered in a block, refused
  // (beyond the admission limit of 70 blocks, with no sink set or not running) or
  // still stored: bytesFromDevice = blocksDelivered * block size + bytesRefused +
  // bytesStored, the block size being the one set while they were delivered.
  unsigned long long bytesFromDevice;
  unsigned long long blocksDelivered;
  unsigned long long bytesRefused;
  unsigned long long bytesStored;
};

// Why an object's latest operation returned 255, or why the library stopped or closed
// it by itself, as GetVideoCaptureError / GetAudioCaptureError write it. `size` as for
// the statistics. The record holds the latest thing that went wrong and a successful
// Open clears it; a refusal that comes because the library closed the object keeps
// the record of that close, which is its reason.
struct CaptureError {
  int size;
  int cause;  // kCause..., below
  // The table slot (the /* n */ above) of the operation that returned 255, or -1 when
  // the library stopped or closed the object by itself.
  int operation;
  long hresult;       // the platform's result behind it; 0 where there is none
  unsigned int tick;  // GetTickCount when it happened
  // One line of English, zero-terminated, in the ANSI code page: what failed and what
  // a person can do about it. Never empty when cause is not kCauseNone.
  char text[256];
};

enum : int {
  kCauseNone = 0,
  kCauseNoSuchDevice = 1,   // no device at that index, or it has gone
  kCauseDeviceInUse = 2,    // held by another application
  kCauseAccessDenied = 3,   // the system (its privacy settings) refused access
  kCauseFormatRefused = 4,  // the device refused the format or size asked for
  kCauseCannotConnect = 5,  // its stream could not be connected to the library
  kCauseDeviceFailed = 6,   // another platform failure; hresult tells which
  // Running, and nothing came from the device for 2 s since Start or since its last
  // buffer. The object stays open, and the record ends when data comes again.
  kCauseNoData = 7,
  kCauseDeviceLost = 8,  // a loss event, or the device left the list: the library closed it
  kCauseBadData = 9,     // frames of the wrong length or undecodable: the library closed it
  kCauseRefused = 10,    // refused for the object's state or the arguments
};

// A camera's picture controls, as ListCameraControls reports them and
// GetCameraControl / SetCameraControl take them: the properties of the camera
// filter's IAMVideoProcAmp (0 to 9, in that interface's order), then those of its
// IAMCameraControl (10 to 16, in that interface's order).
enum : int {
  kControlBrightness = 0,
  kControlContrast = 1,
  kControlHue = 2,
  kControlSaturation = 3,
  kControlSharpness = 4,
  kControlGamma = 5,
  kControlColorEnable = 6,
  kControlWhiteBalance = 7,
  kControlBacklightCompensation = 8,
  kControlGain = 9,
  kControlPan = 10,
  kControlTilt = 11,
  kControlRoll = 12,
  kControlZoom = 13,
  kControlExposure = 14,
  kControlIris = 15,
  kControlFocus = 16,
  kControlCount = 17,
};

// How a control is driven: by the camera itself, or at the value set. Also bits of
// CameraControlInfo::modes.
enum : int {
  kControlAuto = 1,
  kControlManual = 2,
};

// One control a camera has, as ListCameraControls reports it.
struct CameraControlInfo {
  int control;  // kControl...
  // The values SetCameraControl takes in manual mode: minimum, minimum + step, ...,
  // up to maximum.
  int minimum;
  int maximum;
  int step;
  int defaultValue;
  // What the camera offers: kControlAuto, kControlManual or both (a camera that names
  // neither is driven manually).
  int modes;
  // Its value and mode now (the value the camera's automatic chose, in auto mode).
  int value;
  int mode;
};

// The host's receiver of device arrivals and removals (see WatchDevices), like the
// sinks: the library never deletes it.
enum : int { kDeviceAudio = 0, kDeviceVideo = 1 };
enum : int { kDeviceArrived = 1, kDeviceRemoved = 2 };
class DeviceWatchSink {
public:
  // kind: kDeviceAudio or kDeviceVideo; change: kDeviceArrived or kDeviceRemoved;
  // identity as GetAudio/VideoDeviceIdentity gives it; name: the friendly name. Both
  // texts are valid during the call only.
  virtual void OnDeviceChange(int kind, int change, const char* identity, const char* name) = 0;

protected:
  ~DeviceWatchSink() = default;
};

// Exported under these plain names (no decoration, also on x86).
extern "C" {
// A new, independent audio capture object (Closed), or null if it cannot be made.
TESMO_API AudioSourceCapture* CreateASC();
// A new, independent video capture object (Closed), or null if it cannot be made.
TESMO_API VideoSourceCapture* CreateVSC();

// Additions beyond the two object tables: what a host can learn about a device
// before it opens one. deviceIndex is the index Open takes (the position in
// ListDevices, unless a device without a readable name comes before it). The
// results are those of the list operations: 1 written, 2 no such device (or it
// cannot be read, or the enumeration failed), 255 a null pointer, a buffer too
// small or a fault. Call them, like the operations, with COM initialised.

// Writes the modes of video device deviceIndex's capture pin, each once, in the
// camera's order, and their count. A mode with a range of sizes is reported at its
// current size. With fewer than *count entries of room (capacity), 255 and *count
// says how many are needed; 2 with *count 0 when the pin lists no modes.
TESMO_API CaptureResult ListCameraModes(int deviceIndex, CameraModeInfo* modes, int capacity,
                                        int* count);
// Writes the stable identity of audio or video device deviceIndex: its "DevicePath"
// where the device has one, else its moniker's display name, as zero-terminated text.
// A host that stored it finds the same device again after plugging changed the
// indexes by comparing it with each index's identity. *length gets the bytes it
// takes with its zero; when capacity is less, 255 and nothing is written.
TESMO_API CaptureResult GetAudioDeviceIdentity(int deviceIndex, char* identity, int capacity,
                                               int* length);
TESMO_API CaptureResult GetVideoDeviceIdentity(int deviceIndex, char* identity, int capacity,
                                               int* length);

// What an open object's capture is doing: the mode in use and the counts since Open
// (see the structures). Reading takes no lock the data path waits for, so a host may
// call it as often as it likes, from any thread, while the object runs (not while
// the same object's Open or Close is under way on another thread). After the
// library closed the object by itself, the last figures stay readable until the
// next Open. 0 written; 255 for a null pointer, a size smaller than the size field
// itself, or an object not opened (and not closed by the library), with nothing
// written.
TESMO_API CaptureResult GetVideoCaptureStatistics(VideoSourceCapture* capture,
                                                  VideoCaptureStatistics* statistics);
TESMO_API CaptureResult GetAudioCaptureStatistics(AudioSourceCapture* capture,
                                                  AudioCaptureStatistics* statistics);

// Why the object's latest 255 came, or why the library stopped or closed it (see
// CaptureError). Readable in every state, closed included, from any thread, without a
// lock the data path waits for. 0 written; 255 for a null pointer or a size smaller
// than the size field itself, with nothing written.
TESMO_API CaptureResult GetVideoCaptureError(VideoSourceCapture* capture, CaptureError* error);
TESMO_API CaptureResult GetAudioCaptureError(AudioSourceCapture* capture, CaptureError* error);

// Tells the sink of every capture device that arrives or leaves from now on (the
// devices present when watching starts are not reported): each change once, within
// about 2 s, on a thread of the library's (with COM initialised by the library), one
// call at a time for all sinks. Meanwhile the host's other threads may list, identify
// and open devices; OnDeviceChange must not wait for a thread that is in
// StopWatchingDevices, which waits for it. Several sinks may watch at once. 0, or 255
// for a null sink, one already watching, a thread without COM or a failed enumeration.
TESMO_API CaptureResult WatchDevices(DeviceWatchSink* sink);
// Ends the sink's watch and returns once no call to it runs or will come, so the host
// may free it. 0, or 255 for a sink that is not watching, and from inside
// OnDeviceChange (which must not wait for itself).
TESMO_API CaptureResult StopWatchingDevices(DeviceWatchSink* sink);

// A camera's picture controls. The camera is either an open video object's
// (`capture` not null, `deviceIndex` unused): its own capture filter, so a change
// shows in the frames while it runs; or, with `capture` null, video device
// deviceIndex, bound for the call alone without opening it. Settings live in the
// camera, so values set by index before Open hold in the object's stream; a host
// that stored settings with a device's identity (GetVideoDeviceIdentity) finds its
// index again and puts them back before Open. With an object, the call counts as
// one of its operations (one thread at a time). Results: 0 done; 255 for a closed
// object or no such device, a null pointer, a control the camera lacks, a value
// outside the control's range or off its step, a mode it does not offer, a camera
// that refused, or a fault; on 255 nothing is written.

// Writes the camera's controls, in kControl order, as many as capacity holds, and
// *count, how many it has (0 for a camera without any). 0, or 255 as above.
TESMO_API CaptureResult ListCameraControls(VideoSourceCapture* capture, int deviceIndex,
                                           CameraControlInfo* controls, int capacity,
                                           int* count);
// Writes one control's value and mode (kControlAuto or kControlManual).
TESMO_API CaptureResult GetCameraControl(VideoSourceCapture* capture, int deviceIndex,
                                         int control, int* value, int* mode);
// Sets one control: mode kControlManual with a value on the control's steps, or
// kControlAuto (value unused) for a control that offers it.
TESMO_API CaptureResult SetCameraControl(VideoSourceCapture* capture, int deviceIndex,
                                         int control, int value, int mode);
}

#endif  // TESMO_H
