#include "video/CameraControls.h"

#include <vector>

#include "common/ComPtr.h"
#include "common/DeviceEnumeration.h"
#include "common/MediaPlatform.h"
#include "video/ControlSetting.h"
#include "video/VideoCapture.h"

namespace tesmo {

namespace {

// The first control of IAMCameraControl in the host's numbering; those before it are
// IAMVideoProcAmp's, both numbered as the interfaces number their properties.
constexpr int kFirstCameraControl = kControlPan;

bool IsControl(int control) { return control >= 0 && control < kControlCount; }

// A control's range, value and mode, read through whichever interface has it. The two
// interfaces have the same three calls with the same arguments.
template <class Interface>
bool ReadControl(Interface* controls, long property, ControlRange& range, long& value,
                 long& flags) {
  if (!controls) return false;
  if (controls->GetRange(property, &range.minimum, &range.maximum, &range.step,
                         &range.defaultValue, &range.capsFlags) != S_OK ||
      !IsUsableRange(range))
    return false;
  return controls->Get(property, &value, &flags) == S_OK;
}

// The camera's two control interfaces; either may be missing.
class CameraControlSet {
public:
  explicit CameraControlSet(IBaseFilter* filter) {
    // Results deliberately ignored: a filter without one has none of its controls, and
    // the holder stays empty.
    filter->QueryInterface(IID_IAMVideoProcAmp, reinterpret_cast<void**>(&procAmp));
    filter->QueryInterface(IID_IAMCameraControl, reinterpret_cast<void**>(&cameraControl));
  }

  bool Read(int control, ControlRange& range, long& value, long& flags) const {
    if (control < kFirstCameraControl)
      return ReadControl(procAmp.Get(), control, range, value, flags);
    return ReadControl(cameraControl.Get(), control - kFirstCameraControl, range, value, flags);
  }

  bool Write(int control, long value, long flags) const {
    if (control < kFirstCameraControl)
      return procAmp && procAmp->Set(control, value, flags) == S_OK;
    return cameraControl && cameraControl->Set(control - kFirstCameraControl, value, flags) == S_OK;
  }

private:
  ComPtr<IAMVideoProcAmp> procAmp;
  ComPtr<IAMCameraControl> cameraControl;
};

// The filter a call works on: the open object's own, or device deviceIndex's bound for
// the call; empty when the object is closed or there is no such device.
ComPtr<IBaseFilter> CameraFilter(VideoSourceCapture* capture, int deviceIndex) {
  ComPtr<IBaseFilter> filter;
  if (capture) return static_cast<VideoCapture*>(capture)->DeviceFilter();
  if (deviceIndex < 0) return filter;
  ComPtr<IMoniker> moniker = MonikerAt(CLSID_VideoInputDeviceCategory, deviceIndex);
  if (moniker && moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter,
                                       reinterpret_cast<void**>(&filter)) != S_OK)
    filter.Reset();
  return filter;
}

// Flags as both interfaces define them (VideoProcAmp_Flags_*, CameraControl_Flags_*).
long FlagsOfMode(int mode) { return mode == kControlAuto ? 1 : 2; }

}  // namespace

CaptureResult ListControlsOfCamera(VideoSourceCapture* capture, int deviceIndex,
                                   CameraControlInfo* controls, int capacity, int* count) {
  if (!count || capacity < 0 || (!controls && capacity > 0)) return kCaptureFailed;
  try {
    ComPtr<IBaseFilter> filter = CameraFilter(capture, deviceIndex);
    if (!filter) return kCaptureFailed;
    const CameraControlSet set(filter.Get());
    std::vector<CameraControlInfo> found;
    for (int control = 0; control < kControlCount; ++control) {
      ControlRange range;
      long value = 0, flags = 0;
      if (!set.Read(control, range, value, flags)) continue;  // the camera lacks it
      CameraControlInfo info{};
      info.control = control;
      info.minimum = static_cast<int>(range.minimum);
      info.maximum = static_cast<int>(range.maximum);
      info.step = static_cast<int>(range.step > 0 ? range.step : 1);
      info.defaultValue = static_cast<int>(range.defaultValue);
      info.modes = OfferedModes(range);
      info.value = static_cast<int>(value);
      info.mode = ModeOfFlags(flags);
      found.push_back(info);
    }
    for (size_t i = 0; i < found.size() && i < static_cast<size_t>(capacity); ++i)
      controls[i] = found[i];
    *count = static_cast<int>(found.size());
    return kCaptureDone;
  } catch (...) {
    return kCaptureFailed;
  }
}

CaptureResult GetControlOfCamera(VideoSourceCapture* capture, int deviceIndex, int control,
                                 int* value, int* mode) {
  if (!value || !mode || !IsControl(control)) return kCaptureFailed;
  try {
    ComPtr<IBaseFilter> filter = CameraFilter(capture, deviceIndex);
    if (!filter) return kCaptureFailed;
    ControlRange range;
    long current = 0, flags = 0;
    if (!CameraControlSet(filter.Get()).Read(control, range, current, flags)) return kCaptureFailed;
    *value = static_cast<int>(current);
    *mode = ModeOfFlags(flags);
    return kCaptureDone;
  } catch (...) {
    return kCaptureFailed;
  }
}

CaptureResult SetControlOfCamera(VideoSourceCapture* capture, int deviceIndex, int control,
                                 int value, int mode) {
  if (!IsControl(control)) return kCaptureFailed;
  try {
    ComPtr<IBaseFilter> filter = CameraFilter(capture, deviceIndex);
    if (!filter) return kCaptureFailed;
    const CameraControlSet set(filter.Get());
    ControlRange range;
    long current = 0, flags = 0;
    if (!set.Read(control, range, current, flags) || !AcceptsSetting(range, value, mode))
      return kCaptureFailed;
    // In auto mode the camera picks the value; it is handed the one it has now.
    const long newValue = mode == kControlAuto ? current : value;
    return set.Write(control, newValue, FlagsOfMode(mode)) ? kCaptureDone : kCaptureFailed;
  } catch (...) {
    return kCaptureFailed;
  }
}

}  // namespace tesmo
