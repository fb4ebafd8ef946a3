// A camera's picture controls as a host sees them: the list is the camera's own; each
// control sets and reads back at its ends and default, in auto and manual; a bad setting
// (out of range, off the step, a control or a mode the camera lacks, a closed object)
// gives 255 and changes nothing, neither the caller's memory nor the camera; a change
// while running shows from the next frame the camera draws; settings put back by identity
// before Open hold in the stream; and no call leaves an interface behind.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "support/FrameLog.h"
#include "support/PictureReader.h"
#include "support/TestDevices.h"
#include "Tesmo.h"

inline bool operator==(const CameraControlInfo& a, const CameraControlInfo& b) {
  return std::memcmp(&a, &b, sizeof a) == 0;
}

inline std::ostream& operator<<(std::ostream& out, const CameraControlInfo& c) {
  return out << "control " << c.control << " " << c.minimum << ".." << c.maximum << " step "
             << c.step << " default " << c.defaultValue << " modes " << c.modes << " value "
             << c.value << " mode " << c.mode;
}

namespace {

using testdevices::PictureAdjustment;

constexpr int kSentinel = 0x5A5A5A5A;

// Both interfaces' controls, some with auto, one auto only, and gaps between them.
const wchar_t kCamera[] =
    L"kind=video;name=Controlled camera;controls=brightness:-64:64:1:0,contrast:0:100:5:50,"
    L"hue:-180:180:1:0:manual,whitebalance:2800:6500:100:4600:auto+manual,gain:0:255:1:0:auto,"
    L"zoom:100:400:10:100,exposure:-13:-1:1:-6:auto+manual,focus:0:250:5:0:auto+manual";

const std::vector<CameraControlInfo> kCameraControls = {
    {kControlBrightness, -64, 64, 1, 0, kControlManual, 0, kControlManual},
    {kControlContrast, 0, 100, 5, 50, kControlManual, 50, kControlManual},
    {kControlHue, -180, 180, 1, 0, kControlManual, 0, kControlManual},
    {kControlWhiteBalance, 2800, 6500, 100, 4600, kControlAuto | kControlManual, 4600,
     kControlAuto},
    {kControlGain, 0, 255, 1, 0, kControlAuto, 0, kControlAuto},
    {kControlZoom, 100, 400, 10, 100, kControlManual, 100, kControlManual},
    {kControlExposure, -13, -1, 1, -6, kControlAuto | kControlManual, -6, kControlAuto},
    {kControlFocus, 0, 250, 5, 0, kControlAuto | kControlManual, 0, kControlAuto},
};

std::vector<CameraControlInfo> Controls(VideoSourceCapture* capture, int device) {
  std::vector<CameraControlInfo> controls(kControlCount + 3);
  int count = -1;
  EXPECT_EQ(ListCameraControls(capture, device, controls.data(), int(controls.size()), &count),
            kCaptureDone);
  controls.resize(count > 0 ? size_t(count) : 0);
  return controls;
}

struct Setting {
  int value = kSentinel, mode = kSentinel;
};

Setting Read(VideoSourceCapture* capture, int device, int control) {
  Setting setting;
  EXPECT_EQ(GetCameraControl(capture, device, control, &setting.value, &setting.mode),
            kCaptureDone)
      << "control " << control;
  return setting;
}

// The frames the camera has handed over (taken or refused downstream): frame n carries
// the number n.
long FramesSent(int device) {
  const TestDeviceRecord record = tesmo::test::DeviceRecord(device);
  return long(record.samplesDelivered) + record.receiveFailures;
}

int SetCalls(int device) {
  return TestDevices_GetCallCount(device, "IAMVideoProcAmp::Set") +
         TestDevices_GetCallCount(device, "IAMCameraControl::Set");
}

// Records each frame's number and which of the given control states its bars show
// (their index, or -1 for none).
class AdjustmentSink : public VideoSink {
public:
  explicit AdjustmentSink(std::vector<PictureAdjustment> states) : states(std::move(states)) {}
  struct Frame {
    long number;
    int state;
  };
  void OnData(const unsigned char* data, int length, unsigned long) override {
    const auto view =
        testpicture::HostFrame(testdevices::PixelFormat::Rgb24, 320, 240, data, size_t(length));
    const long number = testpicture::ReadFrameNumber(view);
    int state = -1;
    for (size_t i = 0; i < states.size() && number >= 0 && state < 0; ++i)
      if (testpicture::CheckAdjustedBars(view, uint32_t(number), states[i]).empty())
        state = int(i);
    log.Add({number, state});
  }
  // Waits for a frame that shows `state`; its position among the frames, or -1.
  int WaitForState(int state, int timeoutMs = 8000) {
    int found = -1;
    log.WaitUntil(
        [&](const std::vector<Frame>& frames) {
          for (size_t i = 0; i < frames.size() && found < 0; ++i)
            if (frames[i].state == state) found = int(i);
          return found >= 0;
        },
        timeoutMs);
    return found;
  }
  bool WaitForCount(size_t count, int timeoutMs = 8000) { return log.WaitFor(count, timeoutMs); }
  std::vector<Frame> Frames() { return log.Frames(); }

private:
  const std::vector<PictureAdjustment> states;
  tesmo::test::FrameLog<Frame> log;
};

class CameraControls : public tesmo::test::TestDevicesTest<> {};

}  // namespace

TEST_F(CameraControls, TheListIsTheCamerasOwnAndWritesWhatFits) {
  tesmo::test::UseTestDevices(
      {kCamera, L"kind=video;name=Camera without controls", L"kind=audio;name=Microphone",
       L"kind=video;name=Camera with none;controls=",
       L"kind=video;name=No IAMCameraControl;controls=brightness:0:255:1:128,zoom:100:200:10:100;"
       L"fail=QueryInterface(IAMCameraControl)"});
  EXPECT_EQ(Controls(nullptr, 0), kCameraControls);
  // A camera without the interfaces, one whose interfaces have no property, and one
  // without IAMCameraControl (its zoom cannot be reached).
  EXPECT_TRUE(Controls(nullptr, 1).empty());
  EXPECT_TRUE(Controls(nullptr, 2).empty());
  const std::vector<CameraControlInfo> procAmpOnly = {
      {kControlBrightness, 0, 255, 1, 128, kControlManual, 128, kControlManual}};
  EXPECT_EQ(Controls(nullptr, 3), procAmpOnly);

  // Room for three: those three, the count of all, nothing past them.
  CameraControlInfo few[5];
  std::memset(few, 0x5A, sizeof few);
  int count = -1;
  ASSERT_EQ(ListCameraControls(nullptr, 0, few, 3, &count), kCaptureDone);
  EXPECT_EQ(count, 8);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(few[i], kCameraControls[size_t(i)]) << i;
  EXPECT_EQ(few[3].control, kSentinel);
  EXPECT_EQ(few[4].control, kSentinel);
  count = -1;
  EXPECT_EQ(ListCameraControls(nullptr, 0, nullptr, 0, &count), kCaptureDone);
  EXPECT_EQ(count, 8);

  // No such device, bad arguments: 255 and nothing written.
  std::memset(few, 0x5A, sizeof few);
  count = kSentinel;
  EXPECT_EQ(ListCameraControls(nullptr, 4, few, 5, &count), kCaptureFailed);
  EXPECT_EQ(ListCameraControls(nullptr, -1, few, 5, &count), kCaptureFailed);
  EXPECT_EQ(ListCameraControls(nullptr, 0, nullptr, 5, &count), kCaptureFailed);
  EXPECT_EQ(ListCameraControls(nullptr, 0, few, -1, &count), kCaptureFailed);
  EXPECT_EQ(ListCameraControls(nullptr, 0, few, 5, nullptr), kCaptureFailed);
  EXPECT_EQ(count, kSentinel);
  for (const CameraControlInfo& control : few) EXPECT_EQ(control.control, kSentinel);
}

TEST_F(CameraControls, EachControlSetsAndReadsBackAndABadSettingChangesNothing) {
  tesmo::test::UseTestDevices(
      {kCamera, L"kind=video;name=Refusing camera;controls=brightness:0:255:1:128;"
                L"fail=IAMVideoProcAmp::Set"});
  for (const CameraControlInfo& control : kCameraControls) {
    SCOPED_TRACE(testing::Message() << "control " << control.control);
    if (control.modes & kControlManual) {
      for (int value : {control.minimum, control.maximum, control.defaultValue}) {
        EXPECT_EQ(SetCameraControl(nullptr, 0, control.control, value, kControlManual),
                  kCaptureDone);
        const Setting read = Read(nullptr, 0, control.control);
        EXPECT_EQ(read.value, value);
        EXPECT_EQ(read.mode, kControlManual);
      }
    }
    if (control.modes & kControlAuto) {
      EXPECT_EQ(SetCameraControl(nullptr, 0, control.control, 0, kControlAuto), kCaptureDone);
      EXPECT_EQ(Read(nullptr, 0, control.control).mode, kControlAuto);
    }
  }
  // Auto and back: the camera keeps its value in auto, takes the one set in manual.
  ASSERT_EQ(SetCameraControl(nullptr, 0, kControlExposure, -3, kControlManual), kCaptureDone);
  Setting exposure = Read(nullptr, 0, kControlExposure);
  EXPECT_EQ(exposure.value, -3);
  EXPECT_EQ(exposure.mode, kControlManual);
  ASSERT_EQ(SetCameraControl(nullptr, 0, kControlExposure, -10, kControlAuto), kCaptureDone);
  exposure = Read(nullptr, 0, kControlExposure);
  EXPECT_EQ(exposure.value, -3);
  EXPECT_EQ(exposure.mode, kControlAuto);
  ASSERT_EQ(SetCameraControl(nullptr, 0, kControlExposure, -13, kControlManual), kCaptureDone);
  exposure = Read(nullptr, 0, kControlExposure);
  EXPECT_EQ(exposure.value, -13);
  EXPECT_EQ(exposure.mode, kControlManual);

  // Refused by the library before the camera hears of it: out of range, off the step, a
  // mode the control lacks or no mode at all, a control the camera lacks, no control.
  ASSERT_EQ(SetCameraControl(nullptr, 0, kControlBrightness, 20, kControlManual), kCaptureDone);
  ASSERT_EQ(SetCameraControl(nullptr, 0, kControlZoom, 150, kControlManual), kCaptureDone);
  const int callsBefore = SetCalls(0);
  const struct {
    int control, value, mode;
  } refused[] = {{kControlBrightness, 65, kControlManual},  {kControlBrightness, -65, kControlManual},
                 {kControlContrast, 52, kControlManual},    {kControlZoom, 155, kControlManual},
                 {kControlZoom, 410, kControlManual},       {kControlBrightness, 0, kControlAuto},
                 {kControlGain, 10, kControlManual},        {kControlBrightness, 10, 0},
                 {kControlBrightness, 10, 3},               {kControlPan, 0, kControlManual},
                 {kControlSharpness, 0, kControlManual},    {-1, 0, kControlManual},
                 {kControlCount, 0, kControlManual}};
  for (const auto& bad : refused)
    EXPECT_EQ(SetCameraControl(nullptr, 0, bad.control, bad.value, bad.mode), kCaptureFailed)
        << bad.control << " " << bad.value << " " << bad.mode;
  EXPECT_EQ(SetCalls(0), callsBefore) << "a refused setting reached the camera";
  EXPECT_EQ(Read(nullptr, 0, kControlBrightness).value, 20);
  EXPECT_EQ(Read(nullptr, 0, kControlZoom).value, 150);
  EXPECT_EQ(Read(nullptr, 0, kControlContrast).value, 50);
  // A camera that refuses: 255, its value as it was.
  EXPECT_EQ(SetCameraControl(nullptr, 1, kControlBrightness, 10, kControlManual), kCaptureFailed);
  EXPECT_EQ(Read(nullptr, 1, kControlBrightness).value, 128);
  // Reading what is not there writes nothing.
  Setting untouched;
  EXPECT_EQ(GetCameraControl(nullptr, 0, kControlPan, &untouched.value, &untouched.mode),
            kCaptureFailed);
  EXPECT_EQ(GetCameraControl(nullptr, 0, kControlCount, &untouched.value, &untouched.mode),
            kCaptureFailed);
  EXPECT_EQ(GetCameraControl(nullptr, 2, kControlBrightness, &untouched.value, &untouched.mode),
            kCaptureFailed);
  EXPECT_EQ(GetCameraControl(nullptr, 0, kControlBrightness, nullptr, &untouched.mode),
            kCaptureFailed);
  EXPECT_EQ(GetCameraControl(nullptr, 0, kControlBrightness, &untouched.value, nullptr),
            kCaptureFailed);
  EXPECT_EQ(untouched.value, kSentinel);
  EXPECT_EQ(untouched.mode, kSentinel);
  EXPECT_EQ(SetCameraControl(nullptr, 2, kControlBrightness, 0, kControlManual), kCaptureFailed);

  // Through an open object: its own filter, and the setting is the device's, so a call by
  // index sees it; deviceIndex is not looked at.
  VideoSourceCapture* capture = CreateVSC();
  ASSERT_NE(capture, nullptr);
  CameraControlInfo list[kControlCount];
  std::memset(list, 0x5A, sizeof list);
  int count = kSentinel;
  // Never opened, then opened, then closed.
  EXPECT_EQ(ListCameraControls(capture, 0, list, kControlCount, &count), kCaptureFailed);
  EXPECT_EQ(GetCameraControl(capture, 0, kControlBrightness, &untouched.value, &untouched.mode),
            kCaptureFailed);
  EXPECT_EQ(SetCameraControl(capture, 0, kControlBrightness, 0, kControlManual), kCaptureFailed);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  EXPECT_EQ(SetCameraControl(capture, 77, kControlBrightness, -20, kControlManual), kCaptureDone);
  EXPECT_EQ(Read(nullptr, 0, kControlBrightness).value, -20);
  EXPECT_EQ(Read(capture, -5, kControlBrightness).value, -20);
  EXPECT_EQ(SetCameraControl(capture, 0, kControlBrightness, 99, kControlManual), kCaptureFailed);
  std::vector<CameraControlInfo> expected = kCameraControls;
  const std::vector<CameraControlInfo> listed = Controls(capture, 0);
  ASSERT_EQ(listed.size(), expected.size());
  EXPECT_EQ(listed[0].value, -20);
  EXPECT_EQ(capture->Close(), kCaptureDone);
  EXPECT_EQ(ListCameraControls(capture, 0, list, kControlCount, &count), kCaptureFailed);
  EXPECT_EQ(GetCameraControl(capture, 0, kControlBrightness, &untouched.value, &untouched.mode),
            kCaptureFailed);
  EXPECT_EQ(SetCameraControl(capture, 0, kControlBrightness, 0, kControlManual), kCaptureFailed);
  EXPECT_EQ(count, kSentinel);
  EXPECT_EQ(list[0].control, kSentinel);
  EXPECT_EQ(untouched.value, kSentinel);
  EXPECT_EQ(untouched.mode, kSentinel);
  EXPECT_EQ(Read(nullptr, 0, kControlBrightness).value, -20);
  EXPECT_EQ(capture->Destroy(), kCaptureDone);
}

TEST_F(CameraControls, AChangeWhileRunningShowsFromTheFrameDrawnNext) {
  tesmo::test::UseTestDevices({kCamera});
  VideoSourceCapture* capture = CreateVSC();
  ASSERT_NE(capture, nullptr);
  const std::vector<PictureAdjustment> states = {{0, 1, 1}, {48, 1, 1}, {48, 200, 100}};
  AdjustmentSink sink(states);
  ASSERT_EQ(capture->SetFormat(320, 240, kVideoRgb24), kCaptureDone);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  capture->SetSink(&sink);
  ASSERT_EQ(capture->Start(), kCaptureDone);
  ASSERT_TRUE(sink.WaitForCount(5));
  // Each change, then the frames that show it. The camera counts the frames it handed
  // over: those it had drawn before the call show the old state; the one it may be
  // drawing when the call returns may show either; every later one shows the new state.
  const struct {
    int control, value, state;
  } changes[] = {{kControlBrightness, 48, 1},
                 {kControlZoom, 200, 2},
                 {kControlZoom, 100, 1},
                 {kControlBrightness, 0, 0}};
  int previous = 0;
  for (const auto& change : changes) {
    SCOPED_TRACE(testing::Message() << "control " << change.control << " to " << change.value);
    const size_t delivered = sink.Frames().size();
    const long drawnBefore = FramesSent(0);
    ASSERT_EQ(SetCameraControl(capture, 0, change.control, change.value, kControlManual),
              kCaptureDone);
    const long drawnAfter = FramesSent(0);
    // Five frames drawn after the change have arrived (the library may drop some on the
    // way, at its pace: the numbers tell).
    const DWORD start = GetTickCount();
    auto arrivedAfter = [&] {
      int count = 0;
      for (const auto& frame : sink.Frames()) count += frame.number > drawnAfter;
      return count;
    };
    while (arrivedAfter() < 5 && GetTickCount() - start < 8000) Sleep(10);
    ASSERT_GE(arrivedAfter(), 5) << "frames stopped";
    const auto frames = sink.Frames();
    for (size_t i = delivered; i < frames.size(); ++i) {
      const auto& frame = frames[i];
      ASSERT_GE(frame.number, 0);
      if (frame.number > drawnAfter)
        EXPECT_EQ(frame.state, change.state) << "frame " << frame.number << " drawn after";
      else if (frame.number < drawnBefore)
        EXPECT_EQ(frame.state, previous) << "frame " << frame.number << " drawn before";
      else
        EXPECT_TRUE(frame.state == previous || frame.state == change.state) << frame.number;
    }
    previous = change.state;
  }
  capture->SetSink(nullptr);
  EXPECT_EQ(capture->Destroy(), kCaptureDone);
}

TEST_F(CameraControls, SettingsPutBackByIdentityBeforeOpenHoldInTheStream) {
  tesmo::test::UseTestDevices({L"kind=video;name=Other camera;controls=brightness:0:255:1:128",
                               kCamera});
  char identity[1024];
  int length = 0;
  ASSERT_EQ(GetVideoDeviceIdentity(1, identity, sizeof identity, &length), kCaptureYes);
  const std::string stored = identity;
  ASSERT_EQ(SetCameraControl(nullptr, 1, kControlBrightness, -30, kControlManual), kCaptureDone);
  ASSERT_EQ(SetCameraControl(nullptr, 1, kControlZoom, 300, kControlManual), kCaptureDone);
  ASSERT_EQ(SetCameraControl(nullptr, 1, kControlExposure, -8, kControlManual), kCaptureDone);
  ASSERT_EQ(SetCameraControl(nullptr, 1, kControlWhiteBalance, 0, kControlAuto), kCaptureDone);
  const std::vector<CameraControlInfo> saved = Controls(nullptr, 1);
  ASSERT_EQ(saved.size(), kCameraControls.size());

  // Plugged in again, first this time: its settings are back at their defaults.
  tesmo::test::UseTestDevices({kCamera, L"kind=audio;name=Microphone",
                               L"kind=video;name=Other camera;controls=brightness:0:255:1:128"});
  EXPECT_EQ(Controls(nullptr, 0), kCameraControls);
  int index = -1;
  for (int device = 0; device < 4 && index < 0; ++device)
    if (GetVideoDeviceIdentity(device, identity, sizeof identity, &length) == kCaptureYes &&
        stored == identity)
      index = device;
  ASSERT_EQ(index, 0);
  for (const CameraControlInfo& control : saved)
    EXPECT_EQ(SetCameraControl(nullptr, index, control.control, control.value, control.mode),
              kCaptureDone)
        << control;
  EXPECT_EQ(Controls(nullptr, index), saved);
  EXPECT_EQ(Read(nullptr, 1, kControlBrightness).value, 128) << "the other camera changed";

  VideoSourceCapture* capture = CreateVSC();
  ASSERT_NE(capture, nullptr);
  AdjustmentSink sink({{-30, 300, 100}});
  ASSERT_EQ(capture->SetFormat(320, 240, kVideoRgb24), kCaptureDone);
  ASSERT_EQ(capture->Open(index), kCaptureDone);
  EXPECT_EQ(Controls(capture, 0), saved);
  capture->SetSink(&sink);
  ASSERT_EQ(capture->Start(), kCaptureDone);
  ASSERT_TRUE(sink.WaitForCount(10));
  capture->SetSink(nullptr);
  EXPECT_EQ(capture->Destroy(), kCaptureDone);
  // Every frame from the first on.
  for (const auto& frame : sink.Frames()) {
    EXPECT_GE(frame.number, 0);
    EXPECT_EQ(frame.state, 0) << "frame " << frame.number;
  }
}

TEST_F(CameraControls, AThousandCallsLeaveNoInterfaceBehind) {
  tesmo::test::UseTestDevices({kCamera});
  auto calls = [](VideoSourceCapture* capture, int n) {
    CameraControlInfo list[kControlCount];
    int count = 0, value = 0, mode = 0, failures = 0;
    for (int i = 0; i < n; ++i) {
      CaptureResult result = kCaptureDone;
      switch (i % 4) {
        case 0: result = ListCameraControls(capture, 0, list, kControlCount, &count); break;
        case 1: result = GetCameraControl(capture, 0, kControlExposure, &value, &mode); break;
        case 2:
          result = SetCameraControl(capture, 0, kControlBrightness, i % 64, kControlManual);
          break;
        // Refused ones too: a control the camera lacks, a value off its range.
        case 3:
          failures += SetCameraControl(capture, 0, kControlPan, 0, kControlManual) != kCaptureFailed;
          result = SetCameraControl(capture, 0, kControlZoom, 1000, kControlManual) == kCaptureFailed
                       ? kCaptureDone
                       : kCaptureFailed;
          break;
      }
      failures += result != kCaptureDone;
    }
    return failures;
  };
  EXPECT_EQ(calls(nullptr, 400), 0);
  EXPECT_EQ(TestDevices_GetLiveObjectCount(), 0) << tesmo::test::LiveObjects();
  EXPECT_EQ(TestDevices_GetOutstandingReferences(), 0) << tesmo::test::LiveObjects();

  VideoSourceCapture* capture = CreateVSC();
  ASSERT_NE(capture, nullptr);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  const int objects = TestDevices_GetLiveObjectCount();
  const long references = TestDevices_GetOutstandingReferences();
  EXPECT_EQ(calls(capture, 600), 0);
  EXPECT_EQ(TestDevices_GetLiveObjectCount(), objects) << tesmo::test::LiveObjects();
  EXPECT_EQ(TestDevices_GetOutstandingReferences(), references) << tesmo::test::LiveObjects();
  EXPECT_EQ(capture->Destroy(), kCaptureDone);
}
