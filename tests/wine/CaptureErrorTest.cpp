// Why an operation returned 255, or why the library closed an object: the error record
// a host reads, from test devices that fail the way real ones do (a camera held by
// another application, denied by the system, refusing the format, unplugged, sending
// bad frames or nothing at all).
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include "TestDeviceControl.h"
#include "Tesmo.h"
#include "support/CaptureSides.h"
#include "support/TestDevices.h"
#include "support/WaitFor.h"

namespace {

using tesmo::test::DeviceRecord;
using tesmo::test::UseTestDevices;
using tesmo::test::WaitFor;

CaptureError ErrorOf(AudioSourceCapture* capture) {
  CaptureError error{};
  error.size = sizeof error;
  EXPECT_EQ(GetAudioCaptureError(capture, &error), kCaptureDone);
  return error;
}

CaptureError ErrorOf(VideoSourceCapture* capture) {
  CaptureError error{};
  error.size = sizeof error;
  EXPECT_EQ(GetVideoCaptureError(capture, &error), kCaptureDone);
  return error;
}

// The table slots the record names, per side.
template <class Side>
struct Slots;
template <>
struct Slots<tesmo::test::AudioSide> {
  static constexpr int kOpen = 10, kStart = 3;
};
template <>
struct Slots<tesmo::test::VideoSide> {
  static constexpr int kOpen = 3, kStart = 4;
};

class CountingSink : public tesmo::test::AnySink {
public:
  void OnData(const unsigned char*, int, unsigned long) override { ++calls; }
  std::atomic<int> calls{0};
};

// "cause 2 (0x800705AA) at slot 4: text", for failure messages.
std::string Describe(const CaptureError& error) {
  char line[400];
  std::snprintf(line, sizeof line, "cause %d (0x%08lX) at slot %d: %s", error.cause,
                static_cast<unsigned long>(error.hresult), error.operation, error.text);
  return line;
}

void ExpectRecord(const CaptureError& error, int cause, int operation, uint32_t hresult) {
  EXPECT_EQ(error.cause, cause) << Describe(error);
  EXPECT_EQ(error.operation, operation) << Describe(error);
  EXPECT_EQ(static_cast<uint32_t>(error.hresult), hresult) << Describe(error);
  EXPECT_GT(std::strlen(error.text), 20u) << Describe(error);
  EXPECT_NE(error.tick, 0u);
}

template <class Side>
class CaptureErrors : public tesmo::test::TestDevicesTest<> {};
TYPED_TEST_SUITE(CaptureErrors, tesmo::test::CaptureSides, tesmo::test::CaptureSideNames);

}  // namespace

// Open and Start against devices that fail at each step with the results real ones
// give: the record names the cause, the slot and the HRESULT; a successful Open clears
// it, and a failed Start leaves the object open and stopped, ready to Start again.
TYPED_TEST(CaptureErrors, EachFailureOfOpenAndStartNamesItsCause) {
  using Side = TypeParam;
  const struct {
    const wchar_t* keys;
    bool openFails;
    int cause;
    uint32_t hresult;
  } cases[] = {
      {L";fail=IClassFactory::CreateInstance/0x80070005", true, kCauseAccessDenied, 0x80070005},
      {L";fail=IClassFactory::CreateInstance/0x80070002", true, kCauseNoSuchDevice, 0x80070002},
      {L";fail=IClassFactory::CreateInstance/0x800700AA", true, kCauseDeviceInUse, 0x800700AA},
      {L";fail=IMediaFilter::Run/0x800705AA", false, kCauseDeviceInUse, 0x800705AA},
      // Wine's graph manager calls a filter's Pause but passes no failure of it on, so
      // the results that come at Pause on Windows are given at Run here.
      {L";fail=IMediaFilter::Run/0x8007001F", false, kCauseDeviceInUse, 0x8007001F},
      {L";fail=IMediaFilter::Run/0x80070005", false, kCauseAccessDenied, 0x80070005},
      {L";fail=IMediaFilter::Run/0x8889000A", false, kCauseDeviceInUse, 0x8889000A},
      {L";fail=IMediaFilter::Run/0x8007048F", false, kCauseNoSuchDevice, 0x8007048F},
      {L";fail=IMediaFilter::Run", false, kCauseDeviceFailed, 0x80004005},
      {L";fail=IPin::Connect/0x80040217", true, kCauseCannotConnect, 0x80040217},
      // A refused format, and a refusal that says the device is busy.
      {L";fail=IAMStreamConfig::SetFormat/0x80040200", true, kCauseFormatRefused, 0x80040200},
      {L";fail=IAMStreamConfig::SetFormat/0x80070020", true, kCauseDeviceInUse, 0x80070020},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.keys);
    UseTestDevices({Side::Device(c.keys)});
    typename Side::Object* capture = Side::Create();
    ASSERT_NE(capture, nullptr);
    EXPECT_EQ(ErrorOf(capture).cause, kCauseNone);
    if (c.openFails) {
      EXPECT_EQ(capture->Open(0), kCaptureFailed);
      ExpectRecord(ErrorOf(capture), c.cause, Slots<Side>::kOpen, c.hresult);
      EXPECT_EQ(capture->IsOpened(), kCaptureNo);
    } else {
      ASSERT_EQ(capture->Open(0), kCaptureDone);
      EXPECT_EQ(capture->Start(), kCaptureFailed) << "a camera that did not start reported running";
      ExpectRecord(ErrorOf(capture), c.cause, Slots<Side>::kStart, c.hresult);
      EXPECT_EQ(capture->IsOpened(), kCaptureYes);
      EXPECT_EQ(capture->IsRunning(), kCaptureNo);
    }
    capture->Destroy();
  }

  // A device that fails its first Run only: the second Start runs, and the record
  // of the first stays until the next successful Open.
  UseTestDevices({Side::Device(L";fail=IMediaFilter::Run@1/0x800705AA")});
  typename Side::Object* capture = Side::Create();
  CountingSink sink;
  capture->SetSink(&sink);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  EXPECT_EQ(capture->Start(), kCaptureFailed);
  EXPECT_EQ(ErrorOf(capture).cause, kCauseDeviceInUse);
  EXPECT_EQ(capture->Start(), kCaptureDone);
  EXPECT_TRUE(WaitFor([&] { return sink.calls > 2; }, 10000)) << "nothing after the second Start";
  EXPECT_EQ(ErrorOf(capture).cause, kCauseDeviceInUse);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  EXPECT_EQ(ErrorOf(capture).cause, kCauseNone);
  // An index past the list.
  EXPECT_EQ(capture->Open(7), kCaptureFailed);
  ExpectRecord(ErrorOf(capture), kCauseNoSuchDevice, Slots<Side>::kOpen, 0);
  capture->Destroy();
}

// Two objects on a device that streams to one at a time: the second's Start is
// refused as a webcam held by another application refuses it, and works once the
// first has stopped.
TYPED_TEST(CaptureErrors, ASecondObjectOnAnExclusiveDeviceIsToldItIsInUse) {
  using Side = TypeParam;
  UseTestDevices({Side::Device(L";exclusive=1")});
  typename Side::Object* first = Side::Create();
  typename Side::Object* second = Side::Create();
  CountingSink firstSink, secondSink;
  first->SetSink(&firstSink);
  second->SetSink(&secondSink);
  ASSERT_EQ(first->Open(0), kCaptureDone) << Describe(ErrorOf(first));
  ASSERT_EQ(second->Open(0), kCaptureDone);
  ASSERT_EQ(first->Start(), kCaptureDone);
  EXPECT_EQ(second->Start(), kCaptureFailed);
  const CaptureError error = ErrorOf(second);
  ExpectRecord(error, kCauseDeviceInUse, Slots<Side>::kStart, 0x800705AA);
  EXPECT_NE(std::strstr(error.text, "in use by another application"), nullptr) << error.text;
  EXPECT_EQ(ErrorOf(first).cause, kCauseNone);
  EXPECT_TRUE(WaitFor([&] { return firstSink.calls > 2; }, 10000));
  // A Start while running leaves the stream as it flows (paused and run with a new
  // start time, the renderer would hold every sample for as long as it had run: 4 s).
  Sleep(4000);
  ASSERT_EQ(first->Start(), kCaptureDone);
  const int before = firstSink.calls;
  EXPECT_TRUE(WaitFor([&] { return firstSink.calls >= before + 10; }, 2000))
      << "the stream stalled after a second Start";

  ASSERT_EQ(first->Stop(), kCaptureDone);
  EXPECT_EQ(second->Start(), kCaptureDone);
  EXPECT_TRUE(WaitFor([&] { return secondSink.calls > 2; }, 10000));
  EXPECT_EQ(first->Start(), kCaptureFailed);
  EXPECT_EQ(ErrorOf(first).cause, kCauseDeviceInUse);
  first->Destroy();
  second->Destroy();
}

// A device that falls silent with no event: after 2 s the record says no data (the
// object stays open and running); when the device sends again the record ends.
TYPED_TEST(CaptureErrors, ASilentDeviceIsReportedAndTheReportEndsWithData) {
  using Side = TypeParam;
  UseTestDevices({Side::Device(L";silentafter=10;silentfor=4000")});
  typename Side::Object* capture = Side::Create();
  CountingSink sink;
  capture->SetSink(&sink);
  Side::SetPace(capture);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  ASSERT_EQ(capture->Start(), kCaptureDone);
  ASSERT_TRUE(WaitFor([] { return DeviceRecord(0).samplesDelivered >= 10; }, 10000));
  const DWORD silentFrom = GetTickCount();
  EXPECT_EQ(ErrorOf(capture).cause, kCauseNone);
  ASSERT_TRUE(WaitFor([&] { return ErrorOf(capture).cause == kCauseNoData; }, 8000))
      << "never reported: " << Describe(ErrorOf(capture));
  // Not before 2 s of silence (less the tick's granularity).
  EXPECT_GE(GetTickCount() - silentFrom, 1900u);
  const CaptureError quiet = ErrorOf(capture);
  EXPECT_EQ(quiet.operation, -1);
  EXPECT_NE(std::strstr(quiet.text, "sent nothing"), nullptr) << quiet.text;
  EXPECT_EQ(capture->IsOpened(), kCaptureYes);
  EXPECT_EQ(capture->IsRunning(), kCaptureYes);
  // The device sends again after its 4 s: the record ends.
  ASSERT_TRUE(WaitFor([] { return DeviceRecord(0).samplesDelivered > 10; }, 10000));
  EXPECT_TRUE(WaitFor([&] { return ErrorOf(capture).cause == kCauseNone; }, 3000))
      << Describe(ErrorOf(capture));
  capture->Destroy();

  // A device that sends nothing from the start (held elsewhere without saying so).
  UseTestDevices({Side::Device(L";silentafter=0")});
  capture = Side::Create();
  capture->SetSink(&sink);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  ASSERT_EQ(capture->Start(), kCaptureDone);
  ASSERT_TRUE(WaitFor([&] { return ErrorOf(capture).cause == kCauseNoData; }, 8000));
  EXPECT_NE(std::strstr(ErrorOf(capture).text, "since Start"), nullptr) << ErrorOf(capture).text;
  // A stopped object is not silent: Stop and Start again starts the 2 s afresh.
  ASSERT_EQ(capture->Stop(), kCaptureDone);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  EXPECT_EQ(ErrorOf(capture).cause, kCauseNone);
  capture->Destroy();
}

// The library's own closes, read after the close: the cause, slot -1, and the
// statistics of the moment, which stay readable until the next Open.
TYPED_TEST(CaptureErrors, TheLibrarysOwnCloseIsRecordedAndItsFiguresStay) {
  using Side = TypeParam;
  UseTestDevices({Side::Device(L";unplugafter=12")});
  typename Side::Object* capture = Side::Create();
  CountingSink sink;
  capture->SetSink(&sink);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  ASSERT_EQ(capture->Start(), kCaptureDone);
  ASSERT_TRUE(WaitFor([&] { return capture->IsOpened() == kCaptureNo; }, 10000));
  ExpectRecord(ErrorOf(capture), kCauseDeviceLost, -1, 0);
  EXPECT_NE(std::strstr(ErrorOf(capture).text, "removed"), nullptr) << ErrorOf(capture).text;
  // The refusals that follow keep the reason.
  EXPECT_EQ(capture->Start(), kCaptureFailed);
  EXPECT_EQ(capture->IsRunning(), kCaptureFailed);
  EXPECT_EQ(ErrorOf(capture).cause, kCauseDeviceLost);
  if constexpr (std::is_same_v<Side, tesmo::test::VideoSide>) {
    VideoCaptureStatistics figures{};
    figures.size = sizeof figures;
    ASSERT_EQ(GetVideoCaptureStatistics(capture, &figures), kCaptureDone);
    EXPECT_EQ(figures.framesFromCamera, 12u);
    EXPECT_EQ(figures.framesFromCamera, figures.framesDelivered + figures.framesDroppedByPace +
                                            figures.framesDroppedAtStore +
                                            figures.framesUndecodable + figures.framesWaiting);
  } else {
    AudioCaptureStatistics figures{};
    figures.size = sizeof figures;
    ASSERT_EQ(GetAudioCaptureStatistics(capture, &figures), kCaptureDone);
    EXPECT_EQ(static_cast<long long>(figures.bytesFromDevice), DeviceRecord(0).bytesDelivered);
    EXPECT_EQ(figures.bytesFromDevice,
              figures.blocksDelivered * 320 + figures.bytesRefused + figures.bytesStored);
  }
  // A host Close keeps them; a new Open ends them (and clears the record).
  EXPECT_EQ(capture->Close(), kCaptureDone);
  EXPECT_EQ(ErrorOf(capture).cause, kCauseDeviceLost);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  EXPECT_EQ(ErrorOf(capture).cause, kCauseNone);
  EXPECT_EQ(capture->Close(), kCaptureDone);
  if constexpr (std::is_same_v<Side, tesmo::test::VideoSide>) {
    VideoCaptureStatistics figures{};
    figures.size = sizeof figures;
    EXPECT_EQ(GetVideoCaptureStatistics(capture, &figures), kCaptureFailed);
  } else {
    AudioCaptureStatistics figures{};
    figures.size = sizeof figures;
    EXPECT_EQ(GetAudioCaptureStatistics(capture, &figures), kCaptureFailed);
  }
  capture->Destroy();
}

// Bad frames close a camera: one of the wrong length, or a second of frames that do
// not decode. The record says which, and the figures account for every frame.
TEST(VideoCaptureErrors, BadFramesCloseTheCameraAndSayWhy) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  const struct {
    const wchar_t* keys;
    const char* words;
  } cases[] = {
      {L"kind=video;name=Tesmo Test Camera;wrongsizeafter=8", "wrong length"},
      {L"kind=video;name=Tesmo Test Camera;formats=MJPG:320x240;corruptfrom=5", "do not decode"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.keys);
    UseTestDevices({c.keys});
    VideoSourceCapture* capture = CreateVSC();
    CountingSink sink;
    capture->SetSink(&sink);
    ASSERT_EQ(capture->Open(0), kCaptureDone);
    ASSERT_EQ(capture->Start(), kCaptureDone);
    ASSERT_TRUE(WaitFor([&] { return capture->IsOpened() == kCaptureNo; }, 15000));
    const CaptureError error = ErrorOf(capture);
    ExpectRecord(error, kCauseBadData, -1, 0);
    EXPECT_NE(std::strstr(error.text, "frame"), nullptr) << error.text;
    VideoCaptureStatistics figures{};
    figures.size = sizeof figures;
    ASSERT_EQ(GetVideoCaptureStatistics(capture, &figures), kCaptureDone);
    EXPECT_GT(figures.framesUndecodable, 0u);
    EXPECT_EQ(figures.framesFromCamera, figures.framesDelivered + figures.framesDroppedByPace +
                                            figures.framesDroppedAtStore +
                                            figures.framesUndecodable + figures.framesWaiting);
    capture->Destroy();
  }
  tesmo::test::ExpectDevicesReleasedThenUseDefaults();
  CoUninitialize();
}

// Every 255 of the two tables leaves a record naming its slot, with a text; the
// record's structure is written no further than its size.
TEST(CaptureErrorRecord, Every255NamesItsSlotAndTheStructureKeepsToItsSize) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  UseTestDevices({L"kind=audio;name=Tesmo Test Microphone;mixer=0;pages=0",
                  L"kind=video;name=Tesmo Test Camera;pages=0"});
  AudioSourceCapture* audio = CreateASC();
  VideoSourceCapture* video = CreateVSC();
  int intValue = 0;
  auto expectSlot = [](const CaptureError& error, int slot, const char* call) {
    EXPECT_EQ(error.operation, slot) << call << ": " << Describe(error);
    EXPECT_NE(error.cause, kCauseNone) << call;
    EXPECT_GT(std::strlen(error.text), 10u) << call;
  };
  // Closed.
  const struct {
    int slot;
    const char* call;
    CaptureResult (*run)(AudioSourceCapture*, int*);
  } audioCalls[] = {
      {2, "IsRunning", [](AudioSourceCapture* a, int*) { return a->IsRunning(); }},
      {3, "Start", [](AudioSourceCapture* a, int*) { return a->Start(); }},
      {4, "Stop", [](AudioSourceCapture* a, int*) { return a->Stop(); }},
      {8, "GetMixLevel", [](AudioSourceCapture* a, int* v) { return a->GetMixLevel(v); }},
      {9, "SetMixLevel", [](AudioSourceCapture* a, int*) { return a->SetMixLevel(50); }},
      {10, "Open", [](AudioSourceCapture* a, int*) { return a->Open(9); }},
      {11, "SelectInput", [](AudioSourceCapture* a, int*) { return a->SelectInput(""); }},
      {12, "GetFormat",
       [](AudioSourceCapture* a, int* v) { return a->GetFormat(v, v, nullptr, v); }},
      {13, "SetFormat", [](AudioSourceCapture* a, int*) { return a->SetFormat(0, 11025, 16, 320); }},
      {14, "ListDevices", [](AudioSourceCapture* a, int*) { return a->ListDevices(nullptr, nullptr); }},
      {15, "ListInputs",
       [](AudioSourceCapture* a, int*) { return a->ListInputs(0, nullptr, nullptr); }},
      {16, "ShowPropertyPages", [](AudioSourceCapture* a, int*) { return a->ShowPropertyPages(); }},
  };
  for (const auto& call : audioCalls) {
    EXPECT_EQ(call.run(audio, &intValue), kCaptureFailed) << call.call;
    expectSlot(ErrorOf(audio), call.slot, call.call);
  }
  const struct {
    int slot;
    const char* call;
    CaptureResult (*run)(VideoSourceCapture*, int*);
  } videoCalls[] = {
      {2, "IsRunning", [](VideoSourceCapture* v, int*) { return v->IsRunning(); }},
      {3, "Open", [](VideoSourceCapture* v, int*) { return v->Open(9); }},
      {4, "Start", [](VideoSourceCapture* v, int*) { return v->Start(); }},
      {5, "Stop", [](VideoSourceCapture* v, int*) { return v->Stop(); }},
      {7, "ShowPropertyPages", [](VideoSourceCapture* v, int*) { return v->ShowPropertyPages(); }},
      {8, "SetFrameRate", [](VideoSourceCapture* v, int*) { return v->SetFrameRate(4); }},
      {9, "GetFrameRate", [](VideoSourceCapture* v, int*) { return v->GetFrameRate(nullptr); }},
      {10, "GetFormat", [](VideoSourceCapture* v, int* i) { return v->GetFormat(i, nullptr, i); }},
      {11, "SetFormat", [](VideoSourceCapture* v, int*) { return v->SetFormat(0, 240, kVideoRgb24); }},
      {12, "GetDeviceName", [](VideoSourceCapture* v, int*) { return v->GetDeviceName(nullptr); }},
      {14, "ListDevices",
       [](VideoSourceCapture* v, int*) { return v->ListDevices(nullptr, nullptr); }},
  };
  for (const auto& call : videoCalls) {
    EXPECT_EQ(call.run(video, &intValue), kCaptureFailed) << call.call;
    expectSlot(ErrorOf(video), call.slot, call.call);
  }
  // Open: the state's refusals, and the pages a device lacks.
  ASSERT_EQ(audio->Open(0), kCaptureDone);
  ASSERT_EQ(video->Open(0), kCaptureDone);
  EXPECT_EQ(ErrorOf(audio).cause, kCauseNone);
  EXPECT_EQ(audio->SetFormat(1, 11025, 16, 320), kCaptureFailed);
  expectSlot(ErrorOf(audio), 13, "SetFormat while open");
  EXPECT_EQ(audio->GetMixLevel(&intValue), kCaptureFailed);
  expectSlot(ErrorOf(audio), 8, "GetMixLevel without a mixer");
  EXPECT_EQ(audio->SelectInput("no such input"), kCaptureFailed);
  expectSlot(ErrorOf(audio), 11, "SelectInput of no pin");
  EXPECT_EQ(video->SetFormat(320, 240, kVideoRgb24), kCaptureFailed);
  expectSlot(ErrorOf(video), 11, "SetFormat while open");
  EXPECT_EQ(video->ShowPropertyPages(), kCaptureFailed);
  expectSlot(ErrorOf(video), 7, "ShowPropertyPages without pages");

  // The structure: no more than its size, and refused below its size field.
  CaptureError cut;
  std::memset(&cut, 0xCD, sizeof cut);
  cut.size = offsetof(CaptureError, hresult);
  EXPECT_EQ(GetVideoCaptureError(video, &cut), kCaptureDone);
  EXPECT_EQ(cut.cause, kCauseDeviceFailed);  // the platform had no pages to show
  EXPECT_EQ(cut.operation, 7);
  EXPECT_EQ(static_cast<unsigned char>(cut.text[0]), 0xCD);
  cut.size = 3;
  EXPECT_EQ(GetVideoCaptureError(video, &cut), kCaptureFailed);
  EXPECT_EQ(GetVideoCaptureError(video, nullptr), kCaptureFailed);
  EXPECT_EQ(GetAudioCaptureError(nullptr, &cut), kCaptureFailed);
  audio->Destroy();
  video->Destroy();
  tesmo::test::ExpectDevicesReleasedThenUseDefaults();
  CoUninitialize();
}

// Webcam frames that end without their EOI marker hold whole pictures: delivered,
// none counted undecodable. Frames the camera spoils are counted, each once, and the
// object stays open: the figures account for every frame.
TEST(VideoCaptureErrors, UntidyFramesAreDeliveredAndSpoiledOnesCountedExactly) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  UseTestDevices({L"kind=video;name=Tesmo Test Camera;formats=MJPG:320x240;noeoi=1"});
  VideoSourceCapture* capture = CreateVSC();
  CountingSink sink;
  capture->SetSink(&sink);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  ASSERT_EQ(capture->Start(), kCaptureDone);
  ASSERT_TRUE(WaitFor([&] { return sink.calls >= 30; }, 20000));
  ASSERT_EQ(capture->Stop(), kCaptureDone);
  VideoCaptureStatistics figures{};
  figures.size = sizeof figures;
  ASSERT_EQ(GetVideoCaptureStatistics(capture, &figures), kCaptureDone);
  EXPECT_EQ(figures.framesUndecodable, 0u);
  EXPECT_EQ(capture->IsOpened(), kCaptureYes);
  capture->Destroy();

  // Every third frame spoiled, at the camera's own pace (no drops by the pace).
  UseTestDevices({L"kind=video;name=Tesmo Test Camera;formats=MJPG:320x240;corruptevery=3"});
  capture = CreateVSC();
  capture->SetSink(&sink);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  ASSERT_EQ(capture->Start(), kCaptureDone);
  ASSERT_TRUE(WaitFor([] { return DeviceRecord(0).samplesDelivered >= 60; }, 30000));
  ASSERT_EQ(capture->Stop(), kCaptureDone);
  // Stopped: what was on its way has landed once the queue is empty.
  ASSERT_TRUE(WaitFor([&] {
    VideoCaptureStatistics now{};
    now.size = sizeof now;
    return GetVideoCaptureStatistics(capture, &now) == kCaptureDone && now.framesWaiting == 0;
  }));
  ASSERT_EQ(GetVideoCaptureStatistics(capture, &figures), kCaptureDone);
  const auto sent = static_cast<uint32_t>(DeviceRecord(0).samplesDelivered);
  EXPECT_EQ(figures.framesFromCamera, sent);
  EXPECT_EQ(figures.framesUndecodable, sent / 3);
  EXPECT_EQ(figures.framesFromCamera, figures.framesDelivered + figures.framesDroppedByPace +
                                          figures.framesDroppedAtStore + figures.framesUndecodable +
                                          figures.framesWaiting);
  EXPECT_EQ(capture->IsOpened(), kCaptureYes);
  EXPECT_EQ(ErrorOf(capture).cause, kCauseNone);
  capture->Destroy();
  tesmo::test::ExpectDevicesReleasedThenUseDefaults();
  CoUninitialize();
}
