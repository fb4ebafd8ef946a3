// Recording input selection through the DLL against the test capture devices, and
// the level operations on this machine's own mixer.
#include <windows.h>
#include <mmsystem.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "TestDeviceControl.h"
#include "Tesmo.h"
#include "support/ProcessCounts.h"
#include "support/TestDevices.h"

namespace {

using tesmo::test::LiveObjects;

class AudioInput : public ::testing::Test {
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
    tesmo::test::ExpectDevicesReleasedThenUseDefaults();
    CoUninitialize();
  }
  // One audio device with these pins, opened.
  void OpenWithPins(const std::wstring& pins, const std::wstring& extra = L"") {
    const std::wstring description = L"kind=audio;name=Inputs;pins=" + pins + extra;
    const wchar_t* descriptions[] = {description.c_str()};
    ASSERT_EQ(TestDevices_SetDevices(descriptions, 1), S_OK);
    TestDevices_ResetRecords();
    ASSERT_EQ(capture->Open(0), kCaptureDone);
  }
  TestDeviceRecord Record() {
    TestDeviceRecord record{};
    EXPECT_TRUE(TestDevices_GetRecord(0, &record));
    return record;
  }
  int EnumPinsCalls() { return TestDevices_GetCallCount(0, "IBaseFilter::EnumPins"); }

  AudioSourceCapture* capture = nullptr;
};

const std::wstring kOutputs = L"capture,preview,";

}  // namespace

TEST_F(AudioInput, MicAndLineEnableTheFirstCandidateThatNamesAnInputPin) {
  OpenWithPins(kOutputs + L"in:Microphone,in:Line In");
  EXPECT_EQ(capture->SelectInput("mic"), kCaptureDone);
  EXPECT_EQ(Record().enabledInputs, 0x1u);
  EXPECT_EQ(Record().putEnableCalls, 1);
  EXPECT_EQ(capture->SelectInput("line"), kCaptureDone);
  EXPECT_EQ(Record().enabledInputs, 0x3u);  // nothing is ever disabled
  EXPECT_EQ(Record().putEnableCalls, 2);

  // The candidates' order decides, not the pins': "Mic" before the request itself.
  OpenWithPins(kOutputs + L"in:mic,in:MIC,in:Mic");
  EXPECT_EQ(capture->SelectInput("mic"), kCaptureDone);
  EXPECT_EQ(Record().enabledInputs, 0x1u);  // the first pin named so, in any case

  // "line" on a device whose only input is LINE: the last attempt, the request itself.
  OpenWithPins(kOutputs + L"in:LINE");
  EXPECT_EQ(capture->SelectInput("line"), kCaptureDone);
  EXPECT_EQ(Record().enabledInputs, 0x1u);
  EXPECT_EQ(Record().putEnableCalls, 1);
}

TEST_F(AudioInput, OnlyExactNamesOfInputPinsMatch) {
  // MIC in capitals is not "mic": only a pin named m, i, c can match it.
  OpenWithPins(kOutputs + L"in:Microphone,in:MiC");
  EXPECT_EQ(capture->SelectInput("MIC"), kCaptureDone);
  EXPECT_EQ(Record().enabledInputs, 0x2u);
  OpenWithPins(kOutputs + L"in:Microphone");
  EXPECT_EQ(capture->SelectInput("MIC"), kCaptureFailed);
  EXPECT_EQ(Record().putEnableCalls, 0);

  // A name that merely begins with Mic is not the microphone.
  OpenWithPins(kOutputs + L"in:Mic Boost,in:Microphone Array");
  EXPECT_EQ(capture->SelectInput("mic"), kCaptureFailed);
  EXPECT_EQ(Record().putEnableCalls, 0);

  // An output pin named Mic, ahead of every input, is passed over.
  OpenWithPins(L"capture:Mic,preview:Mic,in:Mic Boost,in:mic");
  EXPECT_EQ(capture->SelectInput("mic"), kCaptureDone);
  EXPECT_EQ(Record().enabledInputs, 0x2u);
  EXPECT_EQ(TestDevices_GetCallCount(0, "QueryInterface(IAMAudioInputMixer)"), 1);
  char unexpected[1024] = {};
  EXPECT_EQ(TestDevices_GetUnexpectedCalls(unexpected, sizeof unexpected), 0) << unexpected;

  // Any other request is a pin name of its own, in any case.
  OpenWithPins(kOutputs + L"in:CD Audio,in:AUX");
  EXPECT_EQ(capture->SelectInput("aux"), kCaptureDone);
  EXPECT_EQ(Record().enabledInputs, 0x2u);
  EXPECT_EQ(capture->SelectInput("cd"), kCaptureFailed);

  if (GetACP() != 936) {
    // The Chinese candidates are code page 936 bytes: elsewhere they cannot match.
    OpenWithPins(kOutputs + L"in:\u9EA6\u514B\u98CE,in:\u7EBF\u6027\u8F93\u5165");
    EXPECT_EQ(capture->SelectInput("mic"), kCaptureFailed);
    EXPECT_EQ(capture->SelectInput("line"), kCaptureFailed);
    EXPECT_EQ(Record().putEnableCalls, 0);
  }
}

TEST_F(AudioInput, RefusedRequestsAndPinsThatCannotBeEnabled) {
  // No device open: nothing to search.
  EXPECT_EQ(capture->SelectInput("mic"), kCaptureFailed);
  EXPECT_EQ(capture->SelectInput("aux"), kCaptureFailed);

  OpenWithPins(kOutputs + L"in:Microphone");
  EXPECT_EQ(capture->SelectInput(nullptr), kCaptureFailed);
  EXPECT_EQ(capture->SelectInput(""), kCaptureFailed);
  // 259 bytes fit the name buffers and are searched; 260 are refused untried.
  const int before = EnumPinsCalls();
  EXPECT_EQ(capture->SelectInput(std::string(259, 'a').c_str()), kCaptureFailed);
  EXPECT_EQ(EnumPinsCalls(), before + 1);
  EXPECT_EQ(capture->SelectInput(std::string(260, 'a').c_str()), kCaptureFailed);
  EXPECT_EQ(capture->SelectInput(std::string(5000, 'm').c_str()), kCaptureFailed);
  EXPECT_EQ(EnumPinsCalls(), before + 1);
  EXPECT_EQ(Record().putEnableCalls, 0);
  ASSERT_EQ(capture->Close(), kCaptureDone);
  EXPECT_EQ(capture->SelectInput("mic"), kCaptureFailed);  // closed again
  EXPECT_EQ(Record().putEnableCalls, 0);

  // The first pin of a candidate's name decides: when it refuses, the next candidate
  // is tried, not the next pin.
  OpenWithPins(kOutputs + L"in:Microphone,in:Mic,in:Microphone",
               L";fail=IAMAudioInputMixer::put_Enable@1");
  EXPECT_EQ(capture->SelectInput("mic"), kCaptureDone);
  EXPECT_EQ(Record().enabledInputs, 0x2u);
  EXPECT_EQ(TestDevices_GetCallCount(0, "IAMAudioInputMixer::put_Enable"), 2);

  OpenWithPins(kOutputs + L"in:Microphone", L";fail=IAMAudioInputMixer::put_Enable");
  EXPECT_EQ(capture->SelectInput("mic"), kCaptureFailed);
  EXPECT_EQ(Record().enabledInputs, 0u);
  OpenWithPins(kOutputs + L"in:Microphone", L";fail=QueryInterface(IAMAudioInputMixer)");
  EXPECT_EQ(capture->SelectInput("mic"), kCaptureFailed);
  EXPECT_EQ(Record().putEnableCalls, 0);
  ASSERT_EQ(capture->Close(), kCaptureDone);
}

// Run by ctest a second time under a Chinese locale, where the ANSI code page is 936.
TEST_F(AudioInput, ChineseInputNamesSelectTheInputUnderCodePage936) {
  if (GetACP() != 936)
    GTEST_SKIP() << "needs code page 936 (LC_ALL=zh_CN.UTF-8), have " << GetACP();
  // 录音 is tried before 话筒, whatever the pin order.
  OpenWithPins(kOutputs + L"in:CD,in:\u8BDD\u7B52,in:\u5F55\u97F3");
  EXPECT_EQ(capture->SelectInput("mic"), kCaptureDone);
  EXPECT_EQ(Record().enabledInputs, 0x4u);
  OpenWithPins(kOutputs + L"in:\u8BDD\u7B52");
  EXPECT_EQ(capture->SelectInput("mic"), kCaptureDone);
  EXPECT_EQ(Record().enabledInputs, 0x1u);
  OpenWithPins(kOutputs + L"in:LineIn,in:\u9EA6\u514B\u98CE,in:\u7EBF\u6027\u8F93\u5165");
  EXPECT_EQ(capture->SelectInput("mic"), kCaptureDone);
  EXPECT_EQ(Record().enabledInputs, 0x2u);
  EXPECT_EQ(capture->SelectInput("line"), kCaptureDone);  // 线性输入 before LineIn
  EXPECT_EQ(Record().enabledInputs, 0x6u);
}

// Wine offers no mixer device: the level operations say so and touch nothing.
TEST_F(AudioInput, RecordLevelWithoutASystemMixerFailsAndLeavesTheIntegerAlone) {
  if (mixerGetNumDevs() != 0) GTEST_SKIP() << "this machine has a mixer";
  int percent = 0x5EED;
  const DWORD handles = tesmo::test::HandleCount();
  for (int i = 0; i < 200; ++i) {
    ASSERT_EQ(capture->GetRecordLevel(&percent), kCaptureFailed);
    ASSERT_EQ(capture->SetRecordLevel(50), kCaptureFailed);
  }
  EXPECT_EQ(percent, 0x5EED);
  EXPECT_LE(tesmo::test::HandleCount(), handles + 2);  // nothing left open
  EXPECT_EQ(capture->GetRecordLevel(nullptr), kCaptureFailed);

  // The same with a device open and an input selected.
  OpenWithPins(kOutputs + L"in:Microphone");
  ASSERT_EQ(capture->SelectInput("mic"), kCaptureDone);
  EXPECT_EQ(capture->GetRecordLevel(&percent), kCaptureFailed);
  EXPECT_EQ(capture->SetRecordLevel(100), kCaptureFailed);
  EXPECT_EQ(percent, 0x5EED);
  EXPECT_EQ(capture->IsOpened(), kCaptureYes);
}
