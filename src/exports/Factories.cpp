#include "Tesmo.h"
#include "audio/AudioCapture.h"
#include "common/DeviceEnumeration.h"
#include "common/DeviceWatcher.h"
#include "video/CameraControls.h"
#include "video/CameraModes.h"
#include "video/VideoCapture.h"

extern "C" TESMO_API AudioSourceCapture* CreateASC() { return tesmo::AudioCapture::Create(); }

extern "C" TESMO_API VideoSourceCapture* CreateVSC() { return tesmo::VideoCapture::Create(); }

extern "C" TESMO_API CaptureResult ListCameraModes(int deviceIndex, CameraModeInfo* modes,
                                                   int capacity, int* count) {
  return tesmo::ListModesOfCamera(deviceIndex, modes, capacity, count);
}

extern "C" TESMO_API CaptureResult GetAudioDeviceIdentity(int deviceIndex, char* identity,
                                                          int capacity, int* length) {
  return tesmo::GetDeviceIdentity(CLSID_AudioInputDeviceCategory, deviceIndex, identity, capacity,
                                  length);
}

extern "C" TESMO_API CaptureResult GetVideoDeviceIdentity(int deviceIndex, char* identity,
                                                          int capacity, int* length) {
  return tesmo::GetDeviceIdentity(CLSID_VideoInputDeviceCategory, deviceIndex, identity, capacity,
                                  length);
}

// Every object a host holds came from the factories above, so its table is ours.
extern "C" TESMO_API CaptureResult GetVideoCaptureStatistics(VideoSourceCapture* capture,
                                                             VideoCaptureStatistics* statistics) {
  if (!capture) return kCaptureFailed;
  return static_cast<tesmo::VideoCapture*>(capture)->ReadStatistics(statistics);
}

extern "C" TESMO_API CaptureResult GetAudioCaptureStatistics(AudioSourceCapture* capture,
                                                             AudioCaptureStatistics* statistics) {
  if (!capture) return kCaptureFailed;
  return static_cast<tesmo::AudioCapture*>(capture)->ReadStatistics(statistics);
}

extern "C" TESMO_API CaptureResult ListCameraControls(VideoSourceCapture* capture, int deviceIndex,
                                                      CameraControlInfo* controls, int capacity,
                                                      int* count) {
  return tesmo::ListControlsOfCamera(capture, deviceIndex, controls, capacity, count);
}

extern "C" TESMO_API CaptureResult GetCameraControl(VideoSourceCapture* capture, int deviceIndex,
                                                    int control, int* value, int* mode) {
  return tesmo::GetControlOfCamera(capture, deviceIndex, control, value, mode);
}

extern "C" TESMO_API CaptureResult SetCameraControl(VideoSourceCapture* capture, int deviceIndex,
                                                    int control, int value, int mode) {
  return tesmo::SetControlOfCamera(capture, deviceIndex, control, value, mode);
}

extern "C" TESMO_API CaptureResult GetVideoCaptureError(VideoSourceCapture* capture,
                                                        CaptureError* error) {
  if (!capture) return kCaptureFailed;
  return static_cast<tesmo::VideoCapture*>(capture)->ReadError(error);
}

extern "C" TESMO_API CaptureResult GetAudioCaptureError(AudioSourceCapture* capture,
                                                        CaptureError* error) {
  if (!capture) return kCaptureFailed;
  return static_cast<tesmo::AudioCapture*>(capture)->ReadError(error);
}

extern "C" TESMO_API CaptureResult WatchDevices(DeviceWatchSink* sink) {
  return tesmo::WatchDeviceChanges(sink);
}

extern "C" TESMO_API CaptureResult StopWatchingDevices(DeviceWatchSink* sink) {
  return tesmo::StopWatchingDeviceChanges(sink);
}
