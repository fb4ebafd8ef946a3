// What went wrong with a capture object, kept where the host can read it: the cause,
// the operation's table slot, the platform's HRESULT and a line of English a person
// can act on. One table turns the HRESULTs real devices give into causes.
//
// Threads: the host's operations, the graph watcher's thread and the delivery thread
// (when it closes the object) write; any thread reads. The record's own lock is held
// for a copy only, and the data path (StoreSample, the delivery passes) never takes it.
#pragma once

#include <atomic>
#include <cstdarg>
#include <cstdint>

#include "Tesmo.h"
#include "common/Kernel.h"

namespace tesmo {

// The step of an operation at which a platform call failed; the same HRESULT means
// different things at different steps (a busy camera answers at Pause or Run).
enum class FailureStep { Binding, Format, Connection, Run, Other };

// The cause of a platform failure at that step: kCauseDeviceInUse, kCauseAccessDenied,
// kCauseNoSuchDevice, kCauseFormatRefused, kCauseCannotConnect or kCauseDeviceFailed.
int CauseOfResult(FailureStep step, long hresult);

// What the library closes an object for by itself, raised with its close request
// and read by the object when it closes: the cause (kCauseDeviceLost, kCauseBadData),
// a code (the graph event's, or kBadLength / kUndecodable) and a detail (the event's
// HRESULT, or the length of the frame that did not fit), in one atomic value.
constexpr uint32_t kBadLength = 1, kUndecodable = 2;
struct CloseReason {
  int cause = kCauseNone;
  uint32_t code = 0;
  uint32_t detail = 0;

  constexpr uint64_t Packed() const {
    return uint64_t{static_cast<uint8_t>(cause)} << 56 | uint64_t{code & 0xFFFFFFu} << 32 | detail;
  }
  static constexpr CloseReason Unpack(uint64_t packed) {
    return CloseReason{static_cast<int>(packed >> 56),
                       static_cast<uint32_t>(packed >> 32) & 0xFFFFFFu,
                       static_cast<uint32_t>(packed)};
  }
};

class FailureRecord {
public:
  // Called every so often while open: a running device (`device`: "camera") that has
  // sent nothing (`unit`: "frame") for 2 s since `startTick` or its last data at
  // `lastDataTick` (0: none since Open) is recorded as kCauseNoData, once; the record
  // ends when data comes again. True while the device sends nothing: stopped, or
  // nothing for kQuietMs.
  bool CheckForSilence(bool running, uint32_t startTick, uint32_t lastDataTick, const char* device,
                       const char* unit);
  static constexpr uint32_t kSilenceMs = 2000, kQuietMs = 500;

  FailureRecord();
  FailureRecord(const FailureRecord&) = delete;
  FailureRecord& operator=(const FailureRecord&) = delete;

  // Records what went wrong; `operation` is the slot, or -1 for the library's own.
  // The text is formatted as printf does. A refusal (kCauseRefused) does not replace
  // the record of the library's own close: that close is why it was refused.
  void Note(int operation, int cause, long hresult, const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 5, 6)))
#endif
      ;
  // A platform call of the running operation that failed at `step`: its cause from
  // the table, and a text naming the device ("camera"), what failed ("starting it")
  // and the operation to try again ("Start"). Kept until the operation ends with Fail.
  void NoteStep(FailureStep step, long hresult, const char* device, const char* doing,
                const char* retry);
  // The same with the cause and the text given (a device that refused without an
  // HRESULT, a device not found).
  void NoteStepCause(int cause, long hresult, const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 4, 5)))
#endif
      ;
  // The operation in slot `operation` returns 255 for the step noted (or, where no
  // step was noted, as a platform failure described by `otherwise`); kCaptureFailed.
  CaptureResult Fail(int operation, const char* otherwise);
  // The operation returns 255 for the object's state or its arguments; kCaptureFailed.
  CaptureResult Refuse(int operation, const char* format, ...)
#if defined(__GNUC__)
      __attribute__((format(printf, 3, 4)))
#endif
      ;
  // Back to kCauseNone (a successful Open).
  void Clear();
  // Back to kCauseNone only while the record says `cause` (data came again).
  void End(int cause);
  int Cause() const { return cause.load(std::memory_order_acquire); }
  CaptureError Read() const;

private:
  void Write(CaptureError& into, int operation, int cause, long hresult, const char* format,
             va_list arguments);
  // Note with its arguments as a va_list.
  void NoteWith(int operation, int cause, long hresult, const char* format, va_list arguments);

  mutable RecursiveLock lock;
  CaptureError current{};
  CaptureError step{};  // noted by NoteStep, not yet the record
  std::atomic<int> cause{kCauseNone};
};

}  // namespace tesmo
