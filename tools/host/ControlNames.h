// The demo host's names of the camera controls ("brightness", "zoom", ...) and its
// --control NAME=VALUE / NAME=auto settings.
#pragma once

#include <string>

// The name of a kControl... code, or "?".
const char* ControlName(int control);

struct ControlRequest {
  int control = -1;
  int value = 0;
  int mode = 0;  // kControlAuto or kControlManual
};

// "exposure=-6" (manual) or "exposure=auto"; false for an unknown name or value.
bool ParseControlRequest(const std::string& text, ControlRequest& request);
