// What the demo host was asked to do, from its command line.
#pragma once

#include <string>
#include <vector>

#include "ControlNames.h"

struct CaptureOptions {
  bool listOnly = false;
  double seconds = 5;
  bool secondsGiven = false;
  // --watch: print device arrivals and removals only; --follow: go on capturing across
  // an unplug and a re-plug of the devices.
  bool watch = false;
  bool follow = false;

  bool audio = true;
  int audioDevice = 0;
  std::string wavPath = "tesmo-capture.wav";
  int channels = 1, rate = 11025, bits = 16, block = 320;
  std::string input;
  int recordLevel = -1;  // 0..100: set it after opening, read it back and print both

  bool video = true;
  int videoDevice = 0;
  std::string framesDir = "tesmo-frames";
  int width = 320, height = 240;
  int formatCode = 0;  // kVideoRgb24
  int framesPerMinute = 1800;
  bool preview = false;
  // --control settings, applied in this order once the camera is open, before Start.
  std::vector<ControlRequest> controls;
};

// Fills `options` from argv; false (after printing why) when the line is wrong.
bool ParseCaptureOptions(int argc, char** argv, CaptureOptions& options);
void PrintCaptureUsage();
