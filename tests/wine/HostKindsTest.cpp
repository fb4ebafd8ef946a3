// Hosts as they come: host threads in a single-threaded or the multithreaded
// apartment, or in none, and several objects capturing at once, also two of them on
// one device. The data are checked throughout: the test microphone's bytes run
// i mod 251 from each Run, the test camera's frame numbers rise.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestDeviceControl.h"
#include "Tesmo.h"
#include "support/Apartment.h"
#include "support/ByteSequence.h"
#include "support/CaptureSides.h"
#include "support/FrameSink.h"
#include "support/Messages.h"
#include "support/ProcessCounts.h"
#include "support/RecordingSink.h"
#include "support/TestDevices.h"

namespace {

using tesmo::test::AudioSide;
using tesmo::test::FrameSink;
using tesmo::test::PumpUntil;
using tesmo::test::RecordingSink;
using tesmo::test::VideoSide;

// The sink that records either side's data, and the check of what it recorded.
template <class Side>
struct Recording;

template <>
struct Recording<AudioSide> {
  using Sink = RecordingSink;
  static size_t Count(Sink& sink) { return sink.BlockCount(); }
  // Empty while the stream is the device's sequence since Run, in 320-byte blocks.
  static std::string Fault(Sink& sink) {
    for (const auto& block : sink.Blocks())
      if (block.bytes.size() != 320u) return "a block of " + std::to_string(block.bytes.size());
    const auto stream = sink.Stream();
    const long long at = tesmo::test::FirstSequenceBreak(stream.data(), stream.size(), 0);
    return at < 0 ? "" : "the byte sequence breaks at " + std::to_string(at);
  }
};

template <>
struct Recording<VideoSide> {
  using Sink = FrameSink;
  static size_t Count(Sink& sink) { return sink.FrameCount(); }
  // Empty while every frame is a whole RGB24 frame and the numbers rise.
  static std::string Fault(Sink& sink) {
    const auto frames = sink.Frames();
    for (size_t i = 0; i < frames.size(); ++i) {
      if (frames[i].length != 320 * 240 * 3)
        return "a frame of " + std::to_string(frames[i].length);
      if (i && frames[i].number <= frames[i - 1].number)
        return "frame " + std::to_string(frames[i].number) + " after " +
               std::to_string(frames[i - 1].number);
    }
    return "";
  }
};

template <class Side>
class HostThreads : public ::testing::Test {
protected:
  void SetUp() override { tesmo::test::UseTestDevices({Side::Device()}); }
  void TearDown() override { tesmo::test::ExpectDevicesReleasedThenUseDefaults(); }
};

TYPED_TEST_SUITE(HostThreads, tesmo::test::CaptureSides, tesmo::test::CaptureSideNames);

}  // namespace

// A thousand Open/Start/Stop/Close cycles from a host thread in this apartment: the device
// is released afterwards, and threads and handles stay put.
template <class Side>
void CycleAThousandTimesIn(DWORD apartment) {
  tesmo::test::RunInApartment(apartment, [] {
    typename Side::Object* capture = Side::Create();
    ASSERT_NE(capture, nullptr);
    typename Recording<Side>::Sink sink;
    capture->SetSink(&sink);
    ASSERT_EQ(capture->Open(0), kCaptureDone);  // settles the one-off allocations
    ASSERT_EQ(capture->Start(), kCaptureDone);
    ASSERT_EQ(capture->Close(), kCaptureDone);
    tesmo::test::PumpMessages();
    const tesmo::test::ProcessBaseline baseline;
    tesmo::test::CycleOpenStartStopClose(capture, 1000, tesmo::test::PumpMessages);
    EXPECT_EQ(TestDevices_GetOutstandingReferences(), 0) << tesmo::test::LiveObjects();
    baseline.ExpectNoGrowth(1000, Side::Category());
    capture->SetSink(nullptr);
    EXPECT_EQ(capture->Destroy(), kCaptureDone);
  });
}

TYPED_TEST(HostThreads, AThousandCyclesInAnStaLeaveNothingHeld) {
  CycleAThousandTimesIn<TypeParam>(COINIT_APARTMENTTHREADED);
}

TYPED_TEST(HostThreads, AThousandCyclesInTheMtaLeaveNothingHeld) {
  CycleAThousandTimesIn<TypeParam>(COINIT_MULTITHREADED);
}

// The library needs COM on the host's thread: without it Open refuses, and nothing crashes.
TYPED_TEST(HostThreads, AThreadWithoutComGets255FromOpen) {
  tesmo::test::RunWithoutCom([] {
    typename TypeParam::Object* capture = TypeParam::Create();
    ASSERT_NE(capture, nullptr);
    EXPECT_EQ(capture->Open(0), kCaptureFailed);
    EXPECT_EQ(capture->IsOpened(), kCaptureNo);
    EXPECT_EQ(capture->Start(), kCaptureFailed);
    EXPECT_EQ(capture->Close(), kCaptureDone);
    EXPECT_EQ(capture->Destroy(), kCaptureDone);
  });
}

// Two objects on one device: the second captures too or is refused, never hangs, and the
// first keeps delivering its stream unbroken.
TYPED_TEST(HostThreads, ASecondObjectOnTheSameDeviceLeavesTheFirstUnbroken) {
  tesmo::test::RunInApartment(COINIT_MULTITHREADED, [] {
    using Check = Recording<TypeParam>;
    typename TypeParam::Object* first = TypeParam::Create();
    typename TypeParam::Object* second = TypeParam::Create();
    ASSERT_TRUE(first && second);
    typename Check::Sink firstSink, secondSink;
    first->SetSink(&firstSink);
    second->SetSink(&secondSink);
    TypeParam::SetPace(first);
    TypeParam::SetPace(second);
    ASSERT_EQ(first->Open(0), kCaptureDone);
    ASSERT_EQ(first->Start(), kCaptureDone);
    ASSERT_TRUE(PumpUntil([&] { return Check::Count(firstSink) >= 5; }, 5000));

    const CaptureResult opened = second->Open(0);
    EXPECT_TRUE(opened == kCaptureDone || opened == kCaptureFailed) << int(opened);
    if (opened == kCaptureDone) {
      ASSERT_EQ(second->Start(), kCaptureDone);
      EXPECT_TRUE(PumpUntil([&] { return Check::Count(secondSink) >= 10; }, 5000))
          << "the second object opened the device but delivers nothing";
    }
    const size_t before = Check::Count(firstSink);
    EXPECT_TRUE(PumpUntil([&] { return Check::Count(firstSink) >= before + 10; }, 5000))
        << "the first object stopped delivering";
    EXPECT_EQ(first->Stop(), kCaptureDone);
    if (opened == kCaptureDone) {
      EXPECT_EQ(second->Stop(), kCaptureDone);
    }
    EXPECT_EQ(Check::Fault(firstSink), "");
    EXPECT_EQ(Check::Fault(secondSink), "");
    EXPECT_EQ(second->Destroy(), kCaptureDone);
    EXPECT_EQ(first->Destroy(), kCaptureDone);
  });
}

// An audio and a video object from one host thread, then two microphones at once: each
// object delivers its own device's data, unbroken.
TEST(SeveralObjects, AudioAndVideoTogetherAndTwoMicrophonesTogether) {
  tesmo::test::UseTestDevices(
      {AudioSide::Device(), VideoSide::Device(), AudioSide::Device(L" 2;format=1/22050/16")});
  tesmo::test::RunInApartment(COINIT_APARTMENTTHREADED, [] {
    AudioSourceCapture* audio = CreateASC();
    AudioSourceCapture* otherAudio = CreateASC();
    VideoSourceCapture* video = CreateVSC();
    ASSERT_TRUE(audio && otherAudio && video);
    RecordingSink sound, otherSound;
    FrameSink pictures;
    audio->SetSink(&sound);
    otherAudio->SetSink(&otherSound);
    video->SetSink(&pictures);
    ASSERT_EQ(audio->Open(0), kCaptureDone);
    ASSERT_EQ(video->Open(0), kCaptureDone);
    ASSERT_EQ(audio->Start(), kCaptureDone);
    ASSERT_EQ(video->Start(), kCaptureDone);
    EXPECT_TRUE(
        PumpUntil([&] { return sound.BlockCount() >= 60 && pictures.FrameCount() >= 10; }, 10000))
        << sound.BlockCount() << " blocks, " << pictures.FrameCount() << " frames";
    EXPECT_EQ(video->Stop(), kCaptureDone);
    EXPECT_EQ(video->Destroy(), kCaptureDone);
    EXPECT_EQ(Recording<VideoSide>::Fault(pictures), "");

    // The second microphone (audio position 1) next to the first, still running.
    const size_t before = sound.BlockCount();
    ASSERT_EQ(otherAudio->Open(1), kCaptureDone);
    ASSERT_EQ(otherAudio->Start(), kCaptureDone);
    EXPECT_TRUE(PumpUntil([&] { return otherSound.BlockCount() >= 60; }, 10000));
    EXPECT_GE(sound.BlockCount(), before + 60);
    EXPECT_EQ(audio->Stop(), kCaptureDone);
    EXPECT_EQ(otherAudio->Stop(), kCaptureDone);
    EXPECT_EQ(Recording<AudioSide>::Fault(sound), "");
    EXPECT_EQ(Recording<AudioSide>::Fault(otherSound), "");
    EXPECT_GT(tesmo::test::DeviceRecord(0).runCount, 0);
    EXPECT_GT(tesmo::test::DeviceRecord(2).runCount, 0);
    EXPECT_EQ(otherAudio->Destroy(), kCaptureDone);
    EXPECT_EQ(audio->Destroy(), kCaptureDone);
  });
  tesmo::test::ExpectDevicesReleasedThenUseDefaults();
}
