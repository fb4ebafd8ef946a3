// The audio and the video object side by side, for tests that hold for both: what
// a test needs of either, so that one typed test body covers the two.
#pragma once

#include <windows.h>
#include <dshow.h>

#include <gtest/gtest.h>

#include <string>
#include <type_traits>

#include "Tesmo.h"

namespace tesmo::test {

struct AudioSide {
  using Object = AudioSourceCapture;
  using Sink = AudioSink;
  static Object* Create() { return CreateASC(); }
  static REFCLSID Category() { return CLSID_AudioInputDeviceCategory; }
  // A test microphone, with more description keys appended.
  static std::wstring Device(const wchar_t* extra = L"") {
    return std::wstring(L"kind=audio;name=Tesmo Test Microphone") + extra;
  }
  static CaptureResult SetPreviewWindow(Object*, HWND) { return kCaptureDone; }
  static CaptureResult SetPace(Object*) { return kCaptureDone; }
};

struct VideoSide {
  using Object = VideoSourceCapture;
  using Sink = VideoSink;
  static Object* Create() { return CreateVSC(); }
  static REFCLSID Category() { return CLSID_VideoInputDeviceCategory; }
  static std::wstring Device(const wchar_t* extra = L"") {
    return std::wstring(L"kind=video;name=Tesmo Test Camera") + extra;
  }
  static CaptureResult SetPreviewWindow(Object* object, HWND owner) {
    return object->SetPreviewWindow(owner);
  }
  static CaptureResult SetPace(Object* object) { return object->SetFrameRate(1200); }
};

using CaptureSides = ::testing::Types<AudioSide, VideoSide>;

// "Audio" and "Video" in the test names.
class CaptureSideNames {
public:
  template <class T>
  static std::string GetName(int) {
    return std::is_same<T, AudioSide>::value ? "Audio" : "Video";
  }
};

// A sink for either object: both sinks' OnData have the same signature, so one
// override serves as both.
class AnySink : public AudioSink, public VideoSink {};

}  // namespace tesmo::test
