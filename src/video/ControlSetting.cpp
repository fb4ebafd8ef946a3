#include "video/ControlSetting.h"

namespace tesmo {

namespace {
constexpr long kFlagsAuto = 1, kFlagsManual = 2;
long StepOf(const ControlRange& range) { return range.step > 0 ? range.step : 1; }
}  // namespace

int OfferedModes(const ControlRange& range) {
  int modes = 0;
  if (range.capsFlags & kFlagsAuto) modes |= kControlAuto;
  if (range.capsFlags & kFlagsManual) modes |= kControlManual;
  return modes ? modes : kControlManual;
}

int ModeOfFlags(long flags) { return (flags & kFlagsAuto) ? kControlAuto : kControlManual; }

bool IsUsableRange(const ControlRange& range) {
  return range.minimum <= range.maximum && range.step >= 0;
}

bool AcceptsSetting(const ControlRange& range, int value, int mode) {
  if (!IsUsableRange(range)) return false;
  if (mode != kControlAuto && mode != kControlManual) return false;
  if (!(OfferedModes(range) & mode)) return false;
  if (mode == kControlAuto) return true;
  if (value < range.minimum || value > range.maximum) return false;
  // In 64 bits: a range of the whole long type would overflow the difference.
  return (static_cast<long long>(value) - range.minimum) % StepOf(range) == 0;
}

}  // namespace tesmo
