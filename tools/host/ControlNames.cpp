#include "ControlNames.h"

#include <cstdlib>

#include "Tesmo.h"

namespace {
// In kControl order.
const char* const kNames[kControlCount] = {
    "brightness", "contrast", "hue",          "saturation", "sharpness", "gamma",
    "colorenable", "whitebalance", "backlightcompensation", "gain", "pan", "tilt",
    "roll",        "zoom",         "exposure",              "iris", "focus"};
}  // namespace

const char* ControlName(int control) {
  return control >= 0 && control < kControlCount ? kNames[control] : "?";
}

bool ParseControlRequest(const std::string& text, ControlRequest& request) {
  const size_t equals = text.find('=');
  if (equals == std::string::npos) return false;
  const std::string name = text.substr(0, equals), value = text.substr(equals + 1);
  request.control = -1;
  for (int control = 0; control < kControlCount; ++control)
    if (name == kNames[control]) request.control = control;
  if (request.control < 0 || value.empty()) return false;
  if (value == "auto") {
    request.mode = kControlAuto;
    request.value = 0;
    return true;
  }
  char* end = nullptr;
  request.value = static_cast<int>(std::strtol(value.c_str(), &end, 10));
  request.mode = kControlManual;
  return *end == '\0';
}
