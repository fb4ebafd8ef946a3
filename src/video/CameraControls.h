// A camera's picture controls for the host (ListCameraControls, GetCameraControl and
// SetCameraControl in Tesmo.h): the properties of its filter's IAMVideoProcAmp and
// IAMCameraControl, read and set on an open object's own filter or on a device bound
// for the one call.
#pragma once

#include "Tesmo.h"

namespace tesmo {

CaptureResult ListControlsOfCamera(VideoSourceCapture* capture, int deviceIndex,
                                   CameraControlInfo* controls, int capacity, int* count);
CaptureResult GetControlOfCamera(VideoSourceCapture* capture, int deviceIndex, int control,
                                 int* value, int* mode);
CaptureResult SetControlOfCamera(VideoSourceCapture* capture, int deviceIndex, int control,
                                 int value, int mode);

}  // namespace tesmo
