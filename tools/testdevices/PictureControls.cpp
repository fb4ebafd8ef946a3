#include "PictureControls.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <tuple>

namespace testdevices {

namespace {

struct Setting {
  long value;
  long flags;
};

// By device position, interface and property; absent: the control's initial state.
std::mutex valuesLock;
std::map<std::tuple<int, bool, long>, Setting>& Values() {
  static std::map<std::tuple<int, bool, long>, Setting> values;
  return values;
}

Setting InitialSetting(const ControlDescription& described) {
  // A camera runs a control by itself from power-on where it can.
  return {described.defaultValue, (described.flags & 1) ? 1L : 2L};
}

Setting Current(int device, const ControlDescription& described) {
  std::lock_guard<std::mutex> hold(valuesLock);
  auto found = Values().find({device, described.camera, described.property});
  return found == Values().end() ? InitialSetting(described) : found->second;
}

}  // namespace

void ControlValues::Reset() {
  std::lock_guard<std::mutex> hold(valuesLock);
  Values().clear();
}

HRESULT PictureControls::GetRange(bool camera, long property, long* minimum, long* maximum,
                                  long* step, long* defaultValue, long* flags) const {
  if (!minimum || !maximum || !step || !defaultValue || !flags) return E_POINTER;
  const ControlDescription* described = config.FindControl(camera, property);
  if (!described) return E_PROP_ID_UNSUPPORTED;
  *minimum = described->minimum;
  *maximum = described->maximum;
  *step = described->step;
  *defaultValue = described->defaultValue;
  *flags = described->flags;
  return S_OK;
}

HRESULT PictureControls::Get(bool camera, long property, long* value, long* flags) const {
  if (!value || !flags) return E_POINTER;
  const ControlDescription* described = config.FindControl(camera, property);
  if (!described) return E_PROP_ID_UNSUPPORTED;
  const Setting setting = Current(device, *described);
  *value = setting.value;
  *flags = setting.flags;
  return S_OK;
}

HRESULT PictureControls::Set(bool camera, long property, long value, long flags) const {
  const ControlDescription* described = config.FindControl(camera, property);
  if (!described) return E_PROP_ID_UNSUPPORTED;
  if ((flags != 1 && flags != 2) || !(described->flags & flags)) return E_INVALIDARG;
  std::lock_guard<std::mutex> hold(valuesLock);
  auto key = std::make_tuple(device, camera, property);
  auto found = Values().find(key);
  Setting setting = found == Values().end() ? InitialSetting(*described) : found->second;
  if (flags == 2) {
    if (value < described->minimum || value > described->maximum ||
        (static_cast<long long>(value) - described->minimum) % described->step != 0)
      return E_INVALIDARG;
    setting.value = value;
  }
  setting.flags = flags;
  Values()[key] = setting;
  return S_OK;
}

PictureAdjustment PictureControls::Adjustment() const {
  PictureAdjustment adjustment;
  if (const ControlDescription* brightness = config.FindControl(false, VideoProcAmp_Brightness)) {
    const long shift = Current(device, *brightness).value - brightness->defaultValue;
    adjustment.brightness = int(std::max(-255L, std::min(255L, shift)));
  }
  const ControlDescription* zoom = config.FindControl(true, CameraControl_Zoom);
  if (zoom && zoom->minimum > 0) {
    adjustment.zoomNumerator = int(Current(device, *zoom).value);
    adjustment.zoomDenominator = int(zoom->minimum);
  }
  return adjustment;
}

}  // namespace testdevices
