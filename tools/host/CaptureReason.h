// What the library says of a capture object's latest failure, in the demo host's messages.
#pragma once

#include <string>

#include "Tesmo.h"

inline CaptureError ReadCaptureError(AudioSourceCapture* capture) {
  CaptureError error{};
  error.size = sizeof error;
  if (GetAudioCaptureError(capture, &error) != kCaptureDone) error.cause = kCauseNone;
  return error;
}

inline CaptureError ReadCaptureError(VideoSourceCapture* capture) {
  CaptureError error{};
  error.size = sizeof error;
  if (GetVideoCaptureError(capture, &error) != kCaptureDone) error.cause = kCauseNone;
  return error;
}

// The record's text, or "no reason given".
template <class Capture>
std::string FailureText(Capture* capture) {
  const CaptureError error = ReadCaptureError(capture);
  return error.cause == kCauseNone ? "no reason given" : error.text;
}

// A line for the once-a-second report while the device is quiet or after the library
// closed it ("\n  " and the text); empty otherwise.
template <class Capture>
std::string OwnReportLine(Capture* capture) {
  const CaptureError error = ReadCaptureError(capture);
  if (error.cause == kCauseNone || (error.cause != kCauseNoData && error.operation != -1))
    return "";
  return std::string("\n  ") + error.text;
}
