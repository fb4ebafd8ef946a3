// The rules of a control setting, apart from the camera: which modes a camera's range
// offers and whether a value and mode may be set. Pure, so the core's tests check them.
#pragma once

#include "Tesmo.h"

namespace tesmo {

// What a camera's range says of one control (its GetRange answer).
struct ControlRange {
  long minimum = 0, maximum = 0, step = 0, defaultValue = 0;
  long capsFlags = 0;  // the interfaces' Flags_Auto (1) and Flags_Manual (2) bits
};

// kControlAuto and/or kControlManual: a range that names neither mode is set manually.
int OfferedModes(const ControlRange& range);
// The mode a camera reports in its flags: auto when it says auto, else manual.
int ModeOfFlags(long flags);
// A range a host can use: minimum not above maximum and a step of at least one
// (a step of 0 counts as 1, as some drivers report it).
bool IsUsableRange(const ControlRange& range);
// True for kControlAuto where offered, and for kControlManual where offered with a
// value inside the range on one of its steps from the minimum.
bool AcceptsSetting(const ControlRange& range, int value, int mode);

}  // namespace tesmo
