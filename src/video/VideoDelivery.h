// The video data path from the streaming thread to the host's sink.
//
// StoreSample (streaming thread) checks each frame's length against the camera's
// format (the host's own, unless the camera sends another that is converted),
// copies an accepted frame into a FramePool buffer and appends a FrameRecord to the
// FrameQueue while a sink is set, capture runs and at most 5 frames wait. The
// delivery thread (lowest priority) is woken by the first frame waiting; it hands
// the oldest queued frame, with its arrival tick, to the sink, drops the newer ones
// (converting it first where the camera's format is not the host's: a frame the
// pace drops is never converted) and gives every buffer back to the pool, at most
// once per 60000 / framesPerMinute
// ms on a schedule of whole intervals: a frame that arrives sooner waits for its
// slot. At a pace at or above the camera's rate every frame goes out, within
// moments of its arrival.
//
// An MJPG camera's frames vary in length: StoreSample takes any up to a limit, and
// the delivery thread decodes the frame that goes out. A frame that does not decode
// (or decodes to another size) is dropped and counted; when they go on for a second
// (frames arriving over at least a second, none decoding) the delivery thread raises
// the same close request a frame of the wrong length does.
//
// A frame of the wrong length raises a close request for the
// generation of the store that took it (each Open is a new generation); from then
// on no pass delivers, and at the start of its next cycle the delivery thread runs
// the owner's reset through the CloseHandler (stop the graph, release the device,
// then ResetStore), or ResetStore alone when no handler is set. The owner raises the
// same request when the device is lost. A request that a host Close or Open has made
// stale is dropped, never applied to the device opened since (see CloseRequest).
//
// Threads and locks. OnData is called with no lock held that a host operation
// waits for, so the host may call any operation but Open, Close and Destroy from
// inside OnData, and a host thread that OnData waits for may call any of them.
// 1. operationLock (recursive): host operations that use the graph or the store
//    (Open, Start, Stop, Close, Destroy's Reset, SetPreviewWindow,
//    SetCloseHandler) hold it, and the delivery thread holds it around the owner's
//    reset. Never held around OnData.
// 2. sinkLock (recursive): held by the delivery thread around OnData only, so that
//    SetSink from another thread returns once a delivery to the old sink has
//    returned; from inside OnData SetSink re-enters it and does not wait.
// 3. queueLock: guards frameQueue; held by StoreSample for the append, by a pass
//    while it takes the oldest frame out and drops the rest, and by ResetStore.
// 4. the pool's own lock, inside the FramePool calls (queueLock before it).
// The streaming thread takes only the pool's lock and then, separately, queueLock,
// so it never waits for the host. sink, running, the close request, alive, the format
// fields and framesPerMinute are atomics read without a lock.
//
// Buffers: the frame handed to OnData has left the queue but stays handed out in
// the pool until OnData returns, so neither ResetStore (which only retires it) nor
// a pool trim (which frees only idle buffers) frees or reuses it meanwhile.
//
// Lifetime: the delivery thread holds its own reference to this object, so ending
// the owner never frees the queue, the pool or the locks under a thread that is
// still inside the host's OnData after the bounded wait.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <vector>

#include "Tesmo.h"
#include "common/CaptureFailure.h"
#include "common/Kernel.h"
#include "common/SinkDelivery.h"
#include "video/FrameConverter.h"
#include "video/FrameDecoder.h"
#include "video/FramePool.h"
#include "video/FrameQueue.h"

namespace tesmo {

// Shown each frame that goes out, as the host gets it, on the delivery thread just
// before OnData: the library's own preview, where no video renderer shows the stream.
class FrameViewer {
public:
  virtual void Show(const unsigned char* frame, int32_t length) = 0;

protected:
  ~FrameViewer() = default;
};

// width x height x bitCount / 8 bytes, computed in 64 bits; -1 when a value is not
// positive or the length is 0 or does not fit in 32 bits (such a format could never
// match a frame, and the 32-bit product would wrap).
int32_t ExpectedFrameLength(int32_t width, int32_t height, int32_t bitCount);

class VideoDelivery : public SinkDelivery<VideoSink> {
public:
  static constexpr int32_t kMaxQueuedBeforeStore = 5;
  static constexpr int32_t kMinFramesPerMinute = 5;
  static constexpr int32_t kMaxFramesPerMinute = 1800;
  static constexpr int32_t kDefaultFramesPerMinute = 1800;

  // Builds the data path (format 320 x 240 x 24, pool off, no sink, not running) and
  // starts its delivery thread at the lowest priority. Throws std::bad_alloc.
  static std::shared_ptr<VideoDelivery> Create();
  ~VideoDelivery();

  // Sets the format the host gets; false, changing nothing, when
  // ExpectedFrameLength refuses it. The owner calls it only while closed. Until
  // SetCameraFormat says otherwise, every frame must already be in it.
  bool SetFrameFormat(int32_t width, int32_t height, int32_t bitCount);
  // What the camera sends once connected, set by Open before the graph runs: frames
  // of exactly cameraLength bytes, which `converter` (when not null) turns into the
  // host's format on the delivery thread, only for the frames that go out. Null
  // hands the camera's frames over as they are. ResetStore goes back to the host's
  // format unconverted.
  void SetCameraFormat(int32_t cameraLength, std::shared_ptr<FrameConverter> converter);
  // An MJPG camera instead: frames of 1 to maxLength bytes, each decoded by `decoder`
  // on the delivery thread. ResetStore ends it, as it does a converter.
  void SetCameraDecoder(int32_t maxLength, std::shared_ptr<FrameDecoder> decoder);
  // The length every camera frame has, or for an MJPG camera the most it may have.
  int32_t CameraFrameLength() const { return cameraLength.load(std::memory_order_acquire); }
  // Camera frames dropped since the last Open: too long for an MJPG camera, not
  // decoded, or of the wrong length.
  uint32_t FramesUndecodable() const { return framesUndecodable.load(std::memory_order_acquire); }

  // What happened to the camera's frames since the last OpenStore, read without a
  // lock: every frame from the camera lands in exactly one of delivered, droppedByPace,
  // droppedAtStore, undecodable and waiting (a snapshot while frames move may be off
  // by the one or two on their way).
  struct Counts {
    uint32_t fromCamera = 0, delivered = 0, droppedByPace = 0, droppedAtStore = 0,
             undecodable = 0, waiting = 0;
    uint32_t lastCameraTick = 0, lastDeliveryTick = 0;
    // Arrival to OnData over the deliveries of the last second, in ms.
    uint32_t delayMedian = 0, delayLargest = 0;
  };
  Counts ReadCounts() const;
  // The tick of the last frame from the camera (0: none since Open), without the rest
  // of the counts, for the watcher's frequent silence check.
  uint32_t LastCameraTick() const { return lastCameraTick.load(std::memory_order_acquire); }
  // The viewer shown each frame that goes out; null for none. ResetStore clears it.
  void SetViewer(std::shared_ptr<FrameViewer> newViewer);
  int32_t Width() const { return width.load(std::memory_order_acquire); }
  int32_t Height() const { return height.load(std::memory_order_acquire); }
  int32_t BitCount() const { return bitCount.load(std::memory_order_acquire); }
  int32_t FrameLength() const { return frameLength.load(std::memory_order_acquire); }

  // 5 ... 1800; false, changing nothing, outside. Ends the delivery thread's current
  // wait, so the new pace takes effect at once.
  bool SetFramesPerMinute(int32_t value);
  int32_t FramesPerMinute() const { return framesPerMinute.load(std::memory_order_acquire); }

  // One frame, on the streaming thread; the bytes are copied before it returns.
  void StoreSample(const unsigned char* data, int32_t length, uint32_t tickMs);

  // The end of a successful Open: block size 1, so the first frame sizes the pool,
  // and a new generation, which it returns.
  uint32_t OpenStore();
  // The data path's part of Reset: clears running and the close request, gives every
  // queued buffer back to the pool, empties the queue and turns the pool off.
  void ResetStore();

  // The thread procedure; its parameter is a heap std::shared_ptr<VideoDelivery>
  // that the thread takes over. Null ends the thread at once with 0xFFFFFFFF.
  static uint32_t VideoDeliveryThread(void* parameter);

  // Observers for tests and diagnostics.
  const FramePool& Pool() const { return framePool; }
  int32_t QueuedFrames() const { return frameQueue.Count(); }
  // Waits the delivery thread has begun (after its reset and passes).
  uint32_t Cycles() const { return cycles.load(std::memory_order_acquire); }

private:
  friend class SinkDelivery<VideoSink>;
  VideoDelivery();
  void DeliverUntilEnded();
  // Delivers the oldest frame and drops the rest; false when none was taken.
  bool RunPass();
  // True when OnData was called, with the tick just before it in `handedAt`.
  bool Deliver(const unsigned char* data, int32_t length, uint32_t tick, uint32_t epoch,
               uint32_t& handedAt);
  // Counts a frame that did not decode; a second's run of them closes the device
  // opened as `generation`.
  void NoteUndecoded(uint32_t tick, uint32_t generation);
  // The time between two deliveries: 60000 / framesPerMinute whole milliseconds, a
  // little less than the frame time of a camera at that rate (33 ms at 1800 for
  // 33.3 ms at 30 fps), so a delivery that fell behind a frame catches up with it.
  int64_t IntervalMicros() const { return int64_t{1000} * (60000 / FramesPerMinute()); }

  std::atomic<int32_t> width{320};
  std::atomic<int32_t> height{240};
  std::atomic<int32_t> bitCount{24};
  std::atomic<int32_t> frameLength{320 * 240 * 24 / 8};
  std::atomic<int32_t> cameraLength{320 * 240 * 24 / 8};
  std::shared_ptr<FrameConverter> converter;  // guarded by queueLock
  std::shared_ptr<FrameDecoder> decoder;            // guarded by queueLock
  std::atomic<bool> compressedCamera{false};
  std::atomic<uint32_t> framesUndecodable{0};
  std::atomic<uint32_t> framesFromCamera{0};
  std::atomic<uint32_t> framesDelivered{0};
  std::atomic<uint32_t> framesDroppedByPace{0};
  std::atomic<uint32_t> framesDroppedAtStore{0};
  std::atomic<uint32_t> lastCameraTick{0};
  std::atomic<uint32_t> lastDeliveryTick{0};
  // The delivery thread's last deliveries, each its tick (high half) and its delay
  // (low half) in one atomic, so a reader never sees one without the other.
  static constexpr int kDelaySlots = 64;
  std::atomic<uint64_t> recentDelays[kDelaySlots] = {};
  std::atomic<uint32_t> nextDelaySlot{0};
  void DropAtStore() { framesDroppedAtStore.fetch_add(1, std::memory_order_acq_rel); }
  void NoteDelivery(uint32_t arrivalTick, uint32_t handedAt);
  void ResetCounts();
  // The delivery thread's own record of the undecoded frames in a row.
  uint32_t undecodedRun = 0;
  uint32_t undecodedRunStart = 0;
  uint32_t undecodedRunGeneration = 0;
  std::shared_ptr<FrameViewer> viewer;   // guarded by queueLock
  std::vector<unsigned char> converted;  // the delivery thread's own, lent to OnData
  std::atomic<int32_t> framesPerMinute{kDefaultFramesPerMinute};
  std::atomic<uint32_t> cycles{0};
  FramePool framePool;
  FrameQueue frameQueue;
  RecursiveLock queueLock;
};

}  // namespace tesmo
