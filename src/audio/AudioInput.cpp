// Recording input selection and recording level. Until the input and mixer work
// lands these answer as an object whose device offers no matching input and whose
// system has no mixer: nothing is selected and no level is read or written.
#include "audio/AudioCapture.h"

namespace tesmo {

CaptureResult AudioCapture::SelectInput(const char* name) {
  if (!opened || !name || !*name) return kCaptureFailed;
  return kCaptureFailed;
}

CaptureResult AudioCapture::GetRecordLevel(int*) { return kCaptureDone; }

CaptureResult AudioCapture::SetRecordLevel(int) { return kCaptureDone; }

}  // namespace tesmo
