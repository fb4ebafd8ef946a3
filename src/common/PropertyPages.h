// The capture device's own property pages, in a modal OLE property frame.
#pragma once

#include "Tesmo.h"
#include "common/MediaPlatform.h"

namespace tesmo {

// kCaptureDone once the user closed the frame; kCaptureFailed when the filter offers
// no property pages or a fault occurs.
CaptureResult ShowFilterPropertyPages(IBaseFilter* filter);

}  // namespace tesmo
