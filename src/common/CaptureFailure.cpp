#include "common/CaptureFailure.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace tesmo {

namespace {

enum StepMask : unsigned {
  kAtBinding = 1u << static_cast<int>(FailureStep::Binding),
  kAtFormat = 1u << static_cast<int>(FailureStep::Format),
  kAtConnection = 1u << static_cast<int>(FailureStep::Connection),
  kAtRun = 1u << static_cast<int>(FailureStep::Run),
  kAtOther = 1u << static_cast<int>(FailureStep::Other),
  kAtAnyStep = kAtBinding | kAtFormat | kAtConnection | kAtRun | kAtOther,
};

// The results real capture devices give, and what they mean where they come.
const struct {
  uint32_t hresult;
  unsigned steps;
  int cause;
} kResultCauses[] = {
    // A webcam held by another application refuses to stream: Windows' camera
    // stack answers ERROR_NO_SYSTEM_RESOURCES or ERROR_GEN_FAILURE at Pause or Run.
    {0x800705AA, kAtRun, kCauseDeviceInUse},
    {0x8007001F, kAtRun, kCauseDeviceInUse},
    {0x800700AA, kAtAnyStep, kCauseDeviceInUse},  // ERROR_BUSY
    {0x80070020, kAtAnyStep, kCauseDeviceInUse},  // ERROR_SHARING_VIOLATION
    {0x8889000A, kAtAnyStep, kCauseDeviceInUse},  // AUDCLNT_E_DEVICE_IN_USE
    // The system's privacy settings deny the application the device.
    {0x80070005, kAtAnyStep, kCauseAccessDenied},
    // The device has gone: ERROR_FILE_NOT_FOUND, ERROR_DEVICE_NOT_CONNECTED,
    // VFW_E_NO_CAPTURE_HARDWARE.
    {0x80070002, kAtAnyStep, kCauseNoSuchDevice},
    {0x8007048F, kAtAnyStep, kCauseNoSuchDevice},
    {0x80040275, kAtAnyStep, kCauseNoSuchDevice},
};

}  // namespace

int CauseOfResult(FailureStep step, long hresult) {
  const unsigned at = 1u << static_cast<int>(step);
  for (const auto& entry : kResultCauses)
    if (entry.hresult == static_cast<uint32_t>(hresult) && (entry.steps & at)) return entry.cause;
  switch (step) {
    case FailureStep::Format: return kCauseFormatRefused;
    case FailureStep::Connection: return kCauseCannotConnect;
    default: return kCauseDeviceFailed;
  }
}

FailureRecord::FailureRecord() { current.operation = -1; }

void FailureRecord::Write(CaptureError& into, int operation, int newCause, long hresult,
                          const char* format, va_list arguments) {
  into.cause = newCause;
  into.operation = operation;
  into.hresult = hresult;
  into.tick = TickCount();
  const int written = std::vsnprintf(into.text, sizeof into.text, format, arguments);
  // The text is the host's only clue: never left empty.
  if (written <= 0) std::snprintf(into.text, sizeof into.text, "The operation failed.");
}

void FailureRecord::Note(int operation, int newCause, long hresult, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  NoteWith(operation, newCause, hresult, format, arguments);
  va_end(arguments);
}

void FailureRecord::NoteWith(int operation, int newCause, long hresult, const char* format,
                             va_list arguments) {
  ScopedLock hold(lock);
  const int now = cause.load(std::memory_order_relaxed);
  if (newCause == kCauseRefused && current.operation == -1 &&
      (now == kCauseDeviceLost || now == kCauseBadData))
    return;
  Write(current, operation, newCause, hresult, format, arguments);
  cause.store(newCause, std::memory_order_release);
}

bool FailureRecord::CheckForSilence(bool running, uint32_t startTick, uint32_t lastDataTick,
                                    const char* device, const char* unit) {
  if (!running) return true;
  const uint32_t now = TickCount();
  const uint32_t sinceStart = now - startTick;
  const uint32_t sinceData = lastDataTick ? now - lastDataTick : sinceStart;
  const uint32_t quiet = sinceStart < sinceData ? sinceStart : sinceData;
  if (quiet < kSilenceMs) {
    End(kCauseNoData);
    return quiet >= kQuietMs;
  } else if (Cause() != kCauseNoData) {
    if (sinceData < sinceStart)
      Note(-1, kCauseNoData, 0,
           "The %s has sent nothing for %u s since its last %s: it may have been unplugged or "
           "taken by another application; check it, then Stop and Start again.",
           device, quiet / 1000, unit);
    else
      Note(-1, kCauseNoData, 0,
           "The %s has sent nothing for %u s since Start: it may be in use by another "
           "application, or blocked by the system's privacy settings; close other applications "
           "that use it, then Stop and Start again.",
           device, quiet / 1000);
  }
  return true;
}

void FailureRecord::NoteStep(FailureStep at, long hresult, const char* device, const char* doing,
                             const char* retry) {
  const unsigned long code = static_cast<unsigned long>(hresult) & 0xFFFFFFFFul;
  switch (CauseOfResult(at, hresult)) {
    case kCauseDeviceInUse:
      return NoteStepCause(kCauseDeviceInUse, hresult,
                           "The %s is in use by another application (0x%08lX): close that "
                           "application, then %s again.",
                           device, code, retry);
    case kCauseAccessDenied:
      return NoteStepCause(kCauseAccessDenied, hresult,
                           "Access to the %s was denied (0x%08lX): allow applications to use the "
                           "%s in the system's privacy settings, then %s again.",
                           device, code, device, retry);
    case kCauseNoSuchDevice:
      return NoteStepCause(kCauseNoSuchDevice, hresult,
                           "The %s is not there any more (0x%08lX, %s): plug it back in, then "
                           "call ListDevices and Open it again.",
                           device, code, doing);
    case kCauseFormatRefused:
      return NoteStepCause(kCauseFormatRefused, hresult,
                           "The %s refused the format (0x%08lX, %s): choose another size or "
                           "format, then Open again.",
                           device, code, doing);
    case kCauseCannotConnect:
      return NoteStepCause(kCauseCannotConnect, hresult,
                           "The %s's stream could not be connected (0x%08lX, %s): choose another "
                           "format, or install the device's own driver, then Open again.",
                           device, code, doing);
    default:
      // A device held by another application often fails with no telling result
      // (Wine's own camera answers E_FAIL when it is opened busy): the likely reason first.
      if (at == FailureStep::Binding || at == FailureStep::Run)
        return NoteStepCause(kCauseDeviceFailed, hresult,
                             "The %s failed (0x%08lX, %s): it may be in use by another "
                             "application; close that application, or unplug the %s and plug "
                             "it back in, then %s again.",
                             device, code, doing, device, retry);
      return NoteStepCause(kCauseDeviceFailed, hresult,
                           "The %s failed (0x%08lX, %s): unplug it and plug it back in, or "
                           "restart the application, then %s again.",
                           device, code, doing, retry);
  }
}

void FailureRecord::NoteStepCause(int stepCause, long hresult, const char* format, ...) {
  ScopedLock hold(lock);
  va_list arguments;
  va_start(arguments, format);
  Write(step, -1, stepCause, hresult, format, arguments);
  va_end(arguments);
}

CaptureResult FailureRecord::Fail(int operation, const char* otherwise) {
  ScopedLock hold(lock);
  if (step.cause == kCauseNone) {
    Note(operation, kCauseDeviceFailed, 0, "%s", otherwise);
  } else {
    Note(operation, step.cause, step.hresult, "%s", step.text);
    step = CaptureError{};
  }
  return kCaptureFailed;
}

CaptureResult FailureRecord::Refuse(int operation, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  NoteWith(operation, kCauseRefused, 0, format, arguments);
  va_end(arguments);
  return kCaptureFailed;
}

void FailureRecord::Clear() {
  ScopedLock hold(lock);
  step = CaptureError{};
  current = CaptureError{};
  current.operation = -1;
  cause.store(kCauseNone, std::memory_order_release);
}

void FailureRecord::End(int ended) {
  ScopedLock hold(lock);
  if (cause.load(std::memory_order_relaxed) != ended) return;
  current = CaptureError{};
  current.operation = -1;
  cause.store(kCauseNone, std::memory_order_release);
}

CaptureError FailureRecord::Read() const {
  ScopedLock hold(lock);
  return current;
}

}  // namespace tesmo
