// The audio object through the DLL, with no device opened.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include "Tesmo.h"
#include "support/ProcessCounts.h"

namespace {

class AudioObject : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    capture = CreateASC();
    ASSERT_NE(capture, nullptr);
  }
  void TearDown() override {
    if (capture) {
      EXPECT_EQ(capture->Destroy(), kCaptureDone);
    }
    CoUninitialize();
  }
  void ExpectFormat(int channels, int rate, int bits, int block) {
    int c = -1, r = -1, b = -1, k = -1;
    ASSERT_EQ(capture->GetFormat(&c, &r, &b, &k), kCaptureDone);
    EXPECT_EQ(c, channels);
    EXPECT_EQ(r, rate);
    EXPECT_EQ(b, bits);
    EXPECT_EQ(k, block);
  }
  AudioSourceCapture* capture = nullptr;
};

struct NullSink : AudioSink {
  void OnData(const unsigned char*, int, unsigned long) override { ++calls; }
  int calls = 0;
};

}  // namespace

TEST_F(AudioObject, NewObjectIsClosedWithDefaultFormat) {
  EXPECT_EQ(capture->IsOpened(), kCaptureNo);
  EXPECT_EQ(capture->IsRunning(), kCaptureFailed);
  ExpectFormat(1, 11025, 16, 320);
}

TEST_F(AudioObject, ClosedObjectRefusesWhatNeedsADevice) {
  EXPECT_EQ(capture->Start(), kCaptureFailed);
  EXPECT_EQ(capture->Stop(), kCaptureFailed);
  int level = 0x5eed;
  EXPECT_EQ(capture->GetMixLevel(&level), kCaptureFailed);
  EXPECT_EQ(level, 0x5eed);
  EXPECT_EQ(capture->SetMixLevel(50), kCaptureFailed);
  EXPECT_EQ(capture->ShowPropertyPages(), kCaptureFailed);
  EXPECT_EQ(capture->SelectInput("mic"), kCaptureFailed);
  EXPECT_EQ(capture->Close(), kCaptureDone);  // Close on Closed changes nothing
  EXPECT_EQ(capture->IsOpened(), kCaptureNo);
  ExpectFormat(1, 11025, 16, 320);
  NullSink sink;
  EXPECT_EQ(capture->SetSink(&sink), kCaptureDone);
  EXPECT_EQ(capture->SetSink(nullptr), kCaptureDone);
  EXPECT_EQ(sink.calls, 0);
}

TEST_F(AudioObject, SetFormatTakesValidValuesAndRefusesOthersKeepingTheOld) {
  EXPECT_EQ(capture->SetFormat(2, 11025, 8, 640), kCaptureDone);
  ExpectFormat(2, 11025, 8, 640);
  EXPECT_EQ(capture->SetFormat(1, 8000, 16, 1024), kCaptureDone);  // the largest block
  EXPECT_EQ(capture->SetFormat(1, 8000, 16, 1), kCaptureDone);     // the smallest
  ExpectFormat(1, 8000, 16, 1);
  const int refused[][4] = {{1, 11025, 16, 0},      {1, 11025, 16, 1025}, {1, 11025, 16, -320},
                            {0, 11025, 16, 320},    {-1, 11025, 16, 320}, {1, 0, 16, 320},
                            {1, -8000, 16, 320},    {1, 11025, 0, 320},   {1, 11025, -16, 320},
                            {70000, 11025, 16, 320}};
  for (const auto& format : refused) {
    EXPECT_EQ(capture->SetFormat(format[0], format[1], format[2], format[3]), kCaptureFailed)
        << format[0] << " " << format[1] << " " << format[2] << " " << format[3];
    ExpectFormat(1, 8000, 16, 1);
  }
}

TEST_F(AudioObject, ListsAnswerForAnEmptyMachineAndRefuseNullBuffers) {
  int count = -1;
  EXPECT_EQ(capture->ListDevices(nullptr, &count), kCaptureFailed);
  EXPECT_EQ(capture->ListInputs(0, nullptr, &count), kCaptureFailed);
  char names[kNameEntryBytes];
  EXPECT_EQ(capture->ListDevices(names, nullptr), kCaptureFailed);
}

TEST(AudioObjectLifetime, CreateAndDestroyLeaveNoThreadsOrHandlesBehind) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  // A first object settles the run-time's one-off allocations.
  CreateASC()->Destroy();
  const DWORD handles = tesmo::test::HandleCount();
  const int threads = tesmo::test::ThreadCount();
  for (int i = 0; i < 100; ++i) {
    AudioSourceCapture* capture = CreateASC();
    ASSERT_NE(capture, nullptr);
    EXPECT_EQ(capture->IsOpened(), kCaptureNo);
    EXPECT_EQ(capture->Destroy(), kCaptureDone);
  }
  EXPECT_EQ(tesmo::test::HandleCount(), handles);
  EXPECT_EQ(tesmo::test::ThreadCount(), threads);
  // Independent objects: one's format is not another's.
  AudioSourceCapture* first = CreateASC();
  AudioSourceCapture* second = CreateASC();
  ASSERT_EQ(first->SetFormat(2, 44100, 16, 512), kCaptureDone);
  int c, r, b, k;
  second->GetFormat(&c, &r, &b, &k);
  EXPECT_EQ(c, 1);
  EXPECT_EQ(k, 320);
  first->Destroy();
  second->Destroy();
  CoUninitialize();
}
