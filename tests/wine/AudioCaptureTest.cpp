// The audio object through the DLL against the test capture devices, in real
// DirectShow graphs.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "TestDeviceControl.h"
#include "support/TestDevices.h"
#include "Tesmo.h"
#include "support/ProcessCounts.h"
#include "support/RecordingSink.h"

using tesmo::test::RecordingSink;

namespace {

using tesmo::test::LiveObjects;

const wchar_t kMicrophone[] = L"kind=audio;name=Tesmo Test Microphone";

// Where the device's byte sequence (byte i since Run = i mod 251) stops, or -1.
long long SequenceBreak(const std::vector<unsigned char>& stream, size_t from, size_t to) {
  for (size_t i = from + 1; i < to; ++i)
    if (stream[i] != (stream[i - 1] + 1) % 251) return static_cast<long long>(i);
  return -1;
}

#define EXPECT_DEVICES_RELEASED()                                          \
  do {                                                                     \
    EXPECT_EQ(TestDevices_GetLiveObjectCount(), 0) << LiveObjects();       \
    EXPECT_EQ(TestDevices_GetOutstandingReferences(), 0) << LiveObjects(); \
  } while (0)

class AudioCapture : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    UseDevices({kMicrophone});
    capture = CreateASC();
    ASSERT_NE(capture, nullptr);
  }
  void TearDown() override {
    if (capture) {
      EXPECT_EQ(capture->Destroy(), kCaptureDone);
    }
    EXPECT_DEVICES_RELEASED();
    TestDevices_UseDefaultDevices();
    CoUninitialize();
  }
  void UseDevices(const std::vector<std::wstring>& descriptions) {
    tesmo::test::UseTestDevices(descriptions);
  }
  TestDeviceRecord Record(int device = 0) { return tesmo::test::DeviceRecord(device); }
  std::vector<std::string> Names(CaptureResult expected, int deviceIndex = -1) {
    std::vector<char> buffer(16 * kNameEntryBytes, '\xCD');
    int count = -1;
    CaptureResult result = deviceIndex < 0
                               ? capture->ListDevices(buffer.data(), &count)
                               : capture->ListInputs(deviceIndex, buffer.data(), &count);
    EXPECT_EQ(result, expected);
    std::vector<std::string> names;
    for (int k = 0; k < count; ++k) {
      EXPECT_EQ(buffer[k * kNameEntryBytes + 259], '\xCD') << "entry " << k;
      names.emplace_back(buffer.data() + k * kNameEntryBytes);
    }
    return names;
  }

  // A thousand Open/Start/Stop/Close cycles of device 0, then a hundred objects opened and
  // destroyed: the test devices hold nothing afterwards, and threads and handles stay put.
  void CycleManyTimes() {
    RecordingSink sink;
    capture->SetSink(&sink);
    ASSERT_EQ(capture->Open(0), kCaptureDone);  // settles the one-off allocations
    ASSERT_EQ(capture->Start(), kCaptureDone);
    ASSERT_EQ(capture->Close(), kCaptureDone);
    const tesmo::test::ProcessBaseline baseline;
    tesmo::test::CycleOpenStartStopClose(capture, 1000, [] {});
    EXPECT_DEVICES_RELEASED();
    for (int i = 0; i < 100; ++i) {
      AudioSourceCapture* other = CreateASC();
      ASSERT_NE(other, nullptr);
      ASSERT_EQ(other->Open(0), kCaptureDone);
      ASSERT_EQ(other->Destroy(), kCaptureDone);
    }
    EXPECT_DEVICES_RELEASED();
    baseline.ExpectNoGrowth(1000 + 100);
  }

  AudioSourceCapture* capture = nullptr;
};

}  // namespace

TEST_F(AudioCapture, DeliversTheDeviceStreamInWholeBlocksAcrossStopAndStart) {
  RecordingSink sink;
  ASSERT_EQ(capture->SetSink(&sink), kCaptureDone);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  EXPECT_EQ(capture->IsOpened(), kCaptureYes);
  EXPECT_EQ(capture->IsRunning(), kCaptureNo);
  EXPECT_EQ(capture->SetFormat(2, 44100, 16, 320), kCaptureFailed);  // not while open
  ASSERT_EQ(capture->Start(), kCaptureDone);
  EXPECT_EQ(capture->Start(), kCaptureDone);  // twice: still Running
  EXPECT_EQ(capture->IsRunning(), kCaptureYes);
  ASSERT_TRUE(sink.WaitForBlocks(30));  // about half a second of 22050 bytes/s
  ASSERT_EQ(capture->Stop(), kCaptureDone);
  EXPECT_EQ(capture->IsRunning(), kCaptureNo);

  auto blocks = sink.Blocks();
  for (size_t i = 0; i < blocks.size(); ++i) {
    ASSERT_EQ(blocks[i].bytes.size(), 320u);
    if (i) {
      EXPECT_LE(blocks[i - 1].tickMs, blocks[i].tickMs);
    }
  }
  auto stream = sink.Stream();
  EXPECT_EQ(stream[0], 0);  // the first buffer of the run is not dropped
  EXPECT_EQ(SequenceBreak(stream, 0, stream.size()), -1);
  const size_t beforeRestart = stream.size();

  // What was stored before Stop comes first after Start, then the new run (whose
  // sequence starts again at 0).
  const size_t delivered = sink.BlockCount();
  ASSERT_EQ(capture->Start(), kCaptureDone);
  ASSERT_TRUE(sink.WaitForBlocks(delivered + 10));
  ASSERT_EQ(capture->Stop(), kCaptureDone);
  stream = sink.Stream();
  long long seam = SequenceBreak(stream, 0, stream.size());
  ASSERT_GT(seam, static_cast<long long>(beforeRestart));  // old bytes continued the old run
  EXPECT_LE(seam,
            static_cast<long long>(beforeRestart) + 320 + 960);  // at most a block and a buffer
  EXPECT_EQ(stream[seam], 0);
  EXPECT_EQ(SequenceBreak(stream, seam, stream.size()), -1);

  // Close drops what is stored: a new Open and Start begin with a fresh run.
  ASSERT_EQ(capture->Close(), kCaptureDone);
  EXPECT_EQ(capture->IsRunning(), kCaptureFailed);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  const size_t afterClose = sink.Stream().size();
  ASSERT_EQ(capture->Start(), kCaptureDone);
  ASSERT_TRUE(sink.WaitForBlocks(sink.BlockCount() + 5));
  stream = sink.Stream();
  EXPECT_EQ(stream[afterClose], 0);
  EXPECT_EQ(SequenceBreak(stream, afterClose, stream.size()), -1);
}

// Pin layouts of real audio capture filters and devices that take no buffer suggestion:
// each opens, and its stream arrives from byte 0, unbroken, at the device's 22050 bytes/s.
TEST_F(AudioCapture, EveryPinLayoutAndBufferPolicyDeliversTheWholeStreamInRealTime) {
  const struct {
    const wchar_t* description;
    long bufferBytes;  // the allocator's buffers: the suggestion, or the device's own 50 ms
  } devices[] = {
      {L"kind=audio;name=Capture and input;pins=capture,in:Microphone", 960},
      {L"kind=audio;name=Capture only;pins=capture", 960},
      {L"kind=audio;name=Preview first;pins=preview,capture,in:Microphone", 960},
      {L"kind=audio;name=Refuses;fail=IAMBufferNegotiation::SuggestAllocatorProperties", 1102},
      {L"kind=audio;name=No negotiation;fail=QueryInterface(IAMBufferNegotiation)", 1102},
  };
  for (const auto& device : devices) {
    SCOPED_TRACE(testing::Message() << std::wstring(device.description).c_str());
    UseDevices({device.description});
    RecordingSink sink;
    capture->SetSink(&sink);
    ASSERT_EQ(capture->Open(0), kCaptureDone);
    ASSERT_EQ(capture->Start(), kCaptureDone);
    // Timed from the fifth of a second on: the first buffers pass the renderer early, while
    // the graph is still starting its clock.
    ASSERT_TRUE(sink.WaitForStreamBytes(22050 / 5));
    const auto first = std::chrono::steady_clock::now();
    const size_t firstBytes = sink.Stream().size();
    ASSERT_TRUE(sink.WaitForStreamBytes(firstBytes + 22050));
    const double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - first).count();
    const double bytesPerSecond = (sink.Stream().size() - firstBytes) / seconds;
    ASSERT_EQ(capture->Stop(), kCaptureDone);
    EXPECT_GT(bytesPerSecond, 22050 * 0.9);
    EXPECT_LT(bytesPerSecond, 22050 * 1.1);
    const auto stream = sink.Stream();
    ASSERT_FALSE(stream.empty());
    EXPECT_EQ(stream[0], 0);
    EXPECT_EQ(SequenceBreak(stream, 0, stream.size()), -1);
    const TestDeviceRecord record = Record();
    EXPECT_EQ(record.negotiated.cbBuffer, device.bufferBytes);
    EXPECT_EQ(record.receiveFailures, 0);
    EXPECT_EQ(record.connections, 1);  // the builder's connection, kept as made
    ASSERT_EQ(capture->Close(), kCaptureDone);
    capture->SetSink(nullptr);
    EXPECT_DEVICES_RELEASED();
  }
}

TEST_F(AudioCapture, DestroyWhileRunningStopsTheSinkCalls) {
  RecordingSink sink;
  capture->SetSink(&sink);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  ASSERT_EQ(capture->Start(), kCaptureDone);
  ASSERT_TRUE(sink.WaitForBlocks(5));
  EXPECT_EQ(capture->Destroy(), kCaptureDone);
  capture = nullptr;
  const size_t calls = sink.BlockCount();
  EXPECT_EQ(sink.Returned(), calls);  // no call in progress once Destroy returned
  EXPECT_EQ(Record().runCount, 1);
  // The device is released, so it delivers nothing more and the sink stays quiet.
  EXPECT_FALSE(sink.WaitForBlocks(calls + 1, 300));
}

TEST_F(AudioCapture, OpenPassesTheFormatAndTheBufferSuggestion) {
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  TestDeviceRecord record = Record();
  EXPECT_EQ(record.lastWaveFormat.wFormatTag, WAVE_FORMAT_PCM);
  EXPECT_EQ(record.lastWaveFormat.nChannels, 1);
  EXPECT_EQ(record.lastWaveFormat.nSamplesPerSec, 11025u);
  EXPECT_EQ(record.lastWaveFormat.nAvgBytesPerSec, 22050u);
  EXPECT_EQ(record.lastWaveFormat.nBlockAlign, 2);
  EXPECT_EQ(record.lastWaveFormat.wBitsPerSample, 16);
  EXPECT_EQ(record.lastWaveFormat.cbSize, 0);
  EXPECT_EQ(record.lastFormatType.lSampleSize, 2u);
  EXPECT_EQ(record.lastSuggestion.cBuffers, 8);
  EXPECT_EQ(record.lastSuggestion.cbBuffer, 960);
  EXPECT_EQ(record.lastSuggestion.cbAlign, 2);
  EXPECT_EQ(record.lastSuggestion.cbPrefix, 0);
  EXPECT_EQ(record.negotiated.cbBuffer, 960);  // the reconnection honoured it

  ASSERT_EQ(capture->Close(), kCaptureDone);
  ASSERT_EQ(capture->SetFormat(2, 44100, 16, 512), kCaptureDone);
  TestDevices_ResetRecords();
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  record = Record();
  EXPECT_EQ(record.lastWaveFormat.nChannels, 2);
  EXPECT_EQ(record.lastWaveFormat.nSamplesPerSec, 44100u);
  EXPECT_EQ(record.lastWaveFormat.nBlockAlign, 4);
  EXPECT_EQ(record.lastWaveFormat.nAvgBytesPerSec, 176400u);
  EXPECT_EQ(record.lastFormatType.lSampleSize, 4u);
  EXPECT_EQ(record.lastSuggestion.cbBuffer, 3 * 512);
  EXPECT_EQ(record.lastSuggestion.cbAlign, 4);
}

TEST_F(AudioCapture, DeviceFormatsTheObjectCannotRewriteOrTheDeviceRefuses) {
  UseDevices(
      {L"kind=audio;name=Opaque;format=opaque", L"kind=audio;name=Picky;formats=2/44100/16"});
  ASSERT_EQ(capture->Open(0), kCaptureDone);  // not a wave format: left as it is
  EXPECT_EQ(Record(0).setFormatAccepted + Record(0).setFormatRefused, 0);
  EXPECT_EQ(TestDevices_GetCallCount(0, "IAMStreamConfig::GetFormat"), 1);
  ASSERT_EQ(capture->Close(), kCaptureDone);
  EXPECT_EQ(capture->Open(1), kCaptureFailed);  // 1/11025/16 refused
  EXPECT_EQ(capture->IsOpened(), kCaptureNo);
  EXPECT_EQ(Record(1).setFormatRefused, 1);
  ASSERT_EQ(capture->SetFormat(2, 44100, 16, 320), kCaptureDone);
  EXPECT_EQ(capture->Open(1), kCaptureDone);
}

TEST_F(AudioCapture, DeviceIndexesAndTheDeviceList) {
  UseDevices({L"kind=audio;name=First", L"kind=audio;noname", L"kind=audio;name=Third"});
  // The nameless device gets no entry, but Open still counts it.
  EXPECT_EQ(Names(kCaptureYes), (std::vector<std::string>{"First", "Third"}));
  EXPECT_EQ(capture->Open(0), kCaptureDone);
  EXPECT_EQ(capture->Open(-5), kCaptureDone);  // also the first
  EXPECT_EQ(Record(0).filtersCreated, 2);
  EXPECT_EQ(capture->Open(2), kCaptureDone);
  EXPECT_EQ(Record(2).filtersCreated, 1);
  EXPECT_EQ(capture->Open(3), kCaptureFailed);  // index = device count
  EXPECT_EQ(capture->IsOpened(), kCaptureNo);

  UseDevices({});
  EXPECT_TRUE(Names(kCaptureNo).empty());
  EXPECT_EQ(capture->Open(0), kCaptureFailed);
  int count = -1;
  std::vector<char> names(kNameEntryBytes);
  EXPECT_EQ(capture->ListInputs(0, names.data(), &count), kCaptureNo);
  EXPECT_EQ(count, 0);
}

TEST_F(AudioCapture, ListInputsNamesTheInputPinsInOrder) {
  UseDevices({L"kind=audio;name=Mixer;pins=capture,in:Microphone,preview,in:Line In,in:CD Audio",
              L"kind=audio;name=Bare;pins=capture,preview",
              std::wstring(L"kind=audio;name=") + std::wstring(300, L'x')});
  EXPECT_EQ(Names(kCaptureYes, 0), (std::vector<std::string>{"Microphone", "Line In", "CD Audio"}));
  EXPECT_TRUE(Names(kCaptureYes, 1).empty());
  // Listing binds the device afresh and leaves an open graph alone.
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  EXPECT_EQ(Names(kCaptureYes, 0).size(), 3u);
  EXPECT_EQ(capture->IsOpened(), kCaptureYes);
  // A name too long for an entry is cut and terminated, and still counted.
  auto devices = Names(kCaptureYes);
  ASSERT_EQ(devices.size(), 3u);
  EXPECT_EQ(devices[2], std::string(258, 'x'));
}

TEST_F(AudioCapture, MixLevelIsTheDeviceLevelInPercent) {
  UseDevices({L"kind=audio;name=Mixer;mixlevel=0.569999"});
  int level = -1;
  EXPECT_EQ(capture->GetMixLevel(&level), kCaptureFailed);  // Closed
  EXPECT_EQ(capture->SetMixLevel(50), kCaptureFailed);
  EXPECT_EQ(level, -1);
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  EXPECT_EQ(capture->GetMixLevel(&level), kCaptureDone);
  EXPECT_EQ(level, 56);  // truncated, not rounded
  EXPECT_EQ(capture->SetMixLevel(50), kCaptureDone);
  EXPECT_DOUBLE_EQ(Record().mixLevel, 0.5);
  EXPECT_EQ(capture->GetMixLevel(&level), kCaptureDone);
  EXPECT_EQ(level, 50);

  UseDevices({L"kind=audio;name=NoMixer;mixer=0"});
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  EXPECT_EQ(capture->GetMixLevel(&level), kCaptureFailed);
  EXPECT_EQ(capture->SetMixLevel(50), kCaptureFailed);
}

TEST_F(AudioCapture, ShowPropertyPagesNeedsADeviceThatOffersThem) {
  UseDevices({L"kind=audio;name=NoPages;pages=0"});
  EXPECT_EQ(capture->ShowPropertyPages(), kCaptureFailed);  // Closed
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  EXPECT_EQ(capture->ShowPropertyPages(), kCaptureFailed);  // no ISpecifyPropertyPages
}

TEST_F(AudioCapture, EveryFailingStepOfOpenLeavesItClosedAndReleased) {
  const char* faults[] = {
      "IClassFactory::CreateInstance",
      "QueryInterface(IAMStreamConfig)",
      "IAMStreamConfig::GetFormat",
      "IAMStreamConfig::SetFormat",
      "IKsPropertySet::Get",
      "IPin::EnumMediaTypes",
      "IBaseFilter::EnumPins",
      "IPin::ConnectedTo",
      "IPin::Connect",
  };
  for (const char* fault : faults) {
    SCOPED_TRACE(fault);
    std::wstring description = std::wstring(kMicrophone) + L";fail=";
    for (const char* c = fault; *c; ++c) description += static_cast<wchar_t>(*c);
    UseDevices({description});
    EXPECT_EQ(capture->Open(0), kCaptureFailed);
    EXPECT_EQ(capture->IsOpened(), kCaptureNo);
    EXPECT_EQ(capture->Start(), kCaptureFailed);
    const std::string call = std::string(fault).substr(0, std::string(fault).find('@'));
    EXPECT_GT(TestDevices_GetCallCount(0, call.c_str()), 0) << "the fault was never reached";
    EXPECT_EQ(capture->Close(), kCaptureDone);
    EXPECT_DEVICES_RELEASED();
  }
  // A refused buffer suggestion does not stop the device from opening.
  UseDevices(
      {std::wstring(kMicrophone) + L";fail=IAMBufferNegotiation::SuggestAllocatorProperties"});
  EXPECT_EQ(capture->Open(0), kCaptureDone);
}

TEST_F(AudioCapture, ManyCyclesLeaveNoReferencesThreadsOrHandles) { CycleManyTimes(); }

// Through the Smart Tee the builder puts after a lone capture pin.
TEST_F(AudioCapture, ManyCyclesOfACaptureOnlyMicrophoneLeaveNothingHeld) {
  UseDevices({L"kind=audio;name=Capture only;pins=capture,in:Microphone"});
  CycleManyTimes();
}

// The builder's connection is made, but the library cannot follow the capture pin to the
// grabber (its ConnectedTo, the last one Open makes, fails): Open does not claim success.
TEST_F(AudioCapture, OpenFailsWhenTheCaptureStreamIsNotSeenToReachTheGrabber) {
  UseDevices({L"kind=audio;name=Capture only;pins=capture"});
  ASSERT_EQ(capture->Open(0), kCaptureDone);
  const int calls = TestDevices_GetCallCount(0, "IPin::ConnectedTo");
  ASSERT_GT(calls, 0);
  ASSERT_EQ(capture->Close(), kCaptureDone);
  UseDevices({L"kind=audio;name=Capture only;pins=capture;fail=IPin::ConnectedTo@" +
              std::to_wstring(calls)});
  EXPECT_EQ(capture->Open(0), kCaptureFailed);
  EXPECT_EQ(capture->IsOpened(), kCaptureNo);
  EXPECT_EQ(Record().connections, 1);
  EXPECT_EQ(TestDevices_GetCallCount(0, "IPin::ConnectedTo"), calls);
  EXPECT_EQ(capture->Close(), kCaptureDone);
  EXPECT_DEVICES_RELEASED();
}

// Run by ctest a second time under a Chinese locale, where the ANSI code page is 936.
TEST_F(AudioCapture, ChineseInputNamesArriveInTheAnsiCodePage) {
  if (GetACP() != 936)
    GTEST_SKIP() << "needs code page 936 (LC_ALL=zh_CN.UTF-8), have " << GetACP();
  UseDevices(
      {L"kind=audio;name=\u9EA6\u514B\u98CE;pins=capture,preview,in:\u9EA6\u514B\u98CE,"
       L"in:\u7EBF\u6027\u8F93\u5165,in:Line In"});
  auto inputs = Names(kCaptureYes, 0);
  ASSERT_EQ(inputs.size(), 3u);
  EXPECT_EQ(inputs[0], "\xC2\xF3\xBF\xCB\xB7\xE7");
  EXPECT_EQ(inputs[1], "\xCF\xDF\xD0\xD4\xCA\xE4\xC8\xEB");
  EXPECT_EQ(inputs[2], "Line In");
  EXPECT_EQ(Names(kCaptureYes), (std::vector<std::string>{"\xC2\xF3\xBF\xCB\xB7\xE7"}));
}
