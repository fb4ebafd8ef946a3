// The test camera's picture controls: IAMVideoProcAmp and IAMCameraControl as described
// by `controls`, with values that belong to the device (they survive the filter object,
// as a camera keeps its settings, until TestDevices_ResetRecords), and what they do to
// the picture. Any thread: the values sit behind one module-wide lock.
#pragma once
#include <dshow.h>

#include <string>

#include "DeviceConfig.h"
#include "DeviceRecords.h"
#include "PictureLayout.h"

namespace testdevices {

// The module-wide store of the devices' control values.
namespace ControlValues {
void Reset();
}  // namespace ControlValues

// One device's controls, for one filter object.
class PictureControls {
public:
  PictureControls(int device, const DeviceConfig& config) : device(device), config(config) {}
  HRESULT GetRange(bool camera, long property, long* minimum, long* maximum, long* step,
                   long* defaultValue, long* flags) const;
  HRESULT Get(bool camera, long property, long* value, long* flags) const;
  // As a strict driver: a value off the range or its steps, or a mode not offered, is
  // refused with E_INVALIDARG. In auto mode the camera keeps its value.
  HRESULT Set(bool camera, long property, long value, long flags) const;
  // What the current values do to the next frame: brightness shifts the bars by its
  // distance from the default; zoom (with a positive minimum) magnifies value / minimum.
  PictureAdjustment Adjustment() const;

private:
  const int device;
  const DeviceConfig& config;
};

// IAMVideoProcAmp (camera false) or IAMCameraControl (true) of a filter: the same three
// calls on two interfaces, so each is an object of its own inside the filter, with the
// filter's identity and references. Calls are counted (and fail) as "<Interface>::<Method>".
template <class Interface, bool kCamera>
class ControlInterface final : public Interface {
public:
  ControlInterface(IBaseFilter& owner, FaultPlan& faults, const PictureControls& controls)
      : owner(owner), faults(faults), controls(controls) {}

  HRESULT WINAPI QueryInterface(REFIID iid, void** out) override {
    return owner.QueryInterface(iid, out);
  }
  ULONG WINAPI AddRef() override { return owner.AddRef(); }
  ULONG WINAPI Release() override { return owner.Release(); }

  HRESULT WINAPI GetRange(long property, long* minimum, long* maximum, long* step,
                          long* defaultValue, long* flags) override {
    if (Fails("GetRange")) return E_FAIL;
    return controls.GetRange(kCamera, property, minimum, maximum, step, defaultValue, flags);
  }
  HRESULT WINAPI Set(long property, long value, long flags) override {
    if (Fails("Set")) return E_FAIL;
    return controls.Set(kCamera, property, value, flags);
  }
  HRESULT WINAPI Get(long property, long* value, long* flags) override {
    if (Fails("Get")) return E_FAIL;
    return controls.Get(kCamera, property, value, flags);
  }

private:
  bool Fails(const char* method) {
    return faults.Fails(
        (std::string(kCamera ? "IAMCameraControl::" : "IAMVideoProcAmp::") + method).c_str());
  }
  IBaseFilter& owner;
  FaultPlan& faults;
  const PictureControls& controls;
};

}  // namespace testdevices
