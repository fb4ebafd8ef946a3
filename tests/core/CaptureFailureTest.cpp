#include "common/CaptureFailure.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>
#include <thread>

using tesmo::CauseOfResult;
using tesmo::CloseReason;
using tesmo::FailureRecord;
using tesmo::FailureStep;

// The results real devices give, at the steps where they give them.
TEST(CaptureFailure, TheTableNamesTheCauseOfEachResultWhereItComes) {
  const struct {
    FailureStep step;
    uint32_t hresult;
    int cause;
  } cases[] = {
      {FailureStep::Run, 0x800705AA, kCauseDeviceInUse},
      {FailureStep::Run, 0x8007001F, kCauseDeviceInUse},
      // Not a busy camera where they come at other steps.
      {FailureStep::Binding, 0x800705AA, kCauseDeviceFailed},
      {FailureStep::Connection, 0x8007001F, kCauseCannotConnect},
      {FailureStep::Binding, 0x800700AA, kCauseDeviceInUse},
      {FailureStep::Format, 0x80070020, kCauseDeviceInUse},
      {FailureStep::Run, 0x8889000A, kCauseDeviceInUse},
      {FailureStep::Binding, 0x80070005, kCauseAccessDenied},
      {FailureStep::Connection, 0x80070005, kCauseAccessDenied},
      {FailureStep::Run, 0x80070005, kCauseAccessDenied},
      {FailureStep::Binding, 0x80070002, kCauseNoSuchDevice},
      {FailureStep::Run, 0x8007048F, kCauseNoSuchDevice},
      {FailureStep::Binding, 0x80040275, kCauseNoSuchDevice},
      {FailureStep::Format, 0x80040200, kCauseFormatRefused},
      {FailureStep::Connection, 0x80040217, kCauseCannotConnect},
      {FailureStep::Run, 0x80004005, kCauseDeviceFailed},
      {FailureStep::Other, 0x80004005, kCauseDeviceFailed},
  };
  for (const auto& c : cases)
    EXPECT_EQ(CauseOfResult(c.step, static_cast<long>(static_cast<int32_t>(c.hresult))), c.cause)
        << std::hex << c.hresult << " at step " << static_cast<int>(c.step);
}

// A step's failure becomes the record when its operation fails: cause, slot, result
// and a text that names the device and the next step; a successful Open clears it.
TEST(CaptureFailure, AStepFailureIsRecordedWithItsSlotAndTextUntilCleared) {
  FailureRecord record;
  CaptureError read = record.Read();
  EXPECT_EQ(read.cause, kCauseNone);
  EXPECT_EQ(read.text[0], '\0');

  record.NoteStep(FailureStep::Run, static_cast<long>(static_cast<int32_t>(0x800705AA)), "camera",
                  "starting it", "Start");
  EXPECT_EQ(record.Read().cause, kCauseNone) << "a noted step is not yet the record";
  EXPECT_EQ(record.Fail(4, "unused"), kCaptureFailed);
  read = record.Read();
  EXPECT_EQ(read.cause, kCauseDeviceInUse);
  EXPECT_EQ(read.operation, 4);
  EXPECT_EQ(static_cast<uint32_t>(read.hresult), 0x800705AAu);
  EXPECT_EQ(std::string(read.text),
            "The camera is in use by another application (0x800705AA): close that application, "
            "then Start again.");

  // With no step noted, the operation's own words, as a platform failure.
  record.Fail(5, "Stop failed: the graph has no IMediaControl.");
  read = record.Read();
  EXPECT_EQ(read.cause, kCauseDeviceFailed);
  EXPECT_EQ(read.operation, 5);
  EXPECT_STREQ(read.text, "Stop failed: the graph has no IMediaControl.");

  EXPECT_EQ(record.Refuse(11, "SetFormat was refused: %d x %d is no possible frame size.", 0, 5),
            kCaptureFailed);
  read = record.Read();
  EXPECT_EQ(read.cause, kCauseRefused);
  EXPECT_EQ(read.hresult, 0);
  EXPECT_STREQ(read.text, "SetFormat was refused: 0 x 5 is no possible frame size.");

  record.Clear();
  read = record.Read();
  EXPECT_EQ(read.cause, kCauseNone);
  EXPECT_EQ(read.operation, -1);
  EXPECT_EQ(read.text[0], '\0');
}

// The library's own close stays the record through the refusals it causes; a quiet
// device's record ends when data comes, and only that one.
TEST(CaptureFailure, TheLibrarysCloseOutlivesRefusalsAndNoDataEndsWithData) {
  FailureRecord record;
  record.Note(-1, kCauseDeviceLost, 0, "The camera was removed.");
  record.Refuse(4, "Start was refused: no camera is open.");
  EXPECT_EQ(record.Read().cause, kCauseDeviceLost);
  EXPECT_EQ(record.Read().operation, -1);
  record.End(kCauseNoData);
  EXPECT_EQ(record.Read().cause, kCauseDeviceLost) << "End ended another cause";
  // A failure that is not a refusal (a new Open's) replaces it.
  record.Note(3, kCauseNoSuchDevice, 0, "There is no camera at index 3.");
  EXPECT_EQ(record.Read().cause, kCauseNoSuchDevice);

  record.Note(-1, kCauseNoData, 0, "The camera has sent nothing for %u s since Start.", 2u);
  EXPECT_EQ(record.Cause(), kCauseNoData);
  record.End(kCauseNoData);
  EXPECT_EQ(record.Cause(), kCauseNone);
  EXPECT_EQ(record.Read().text[0], '\0');

  // A text longer than the record is cut, zero-terminated.
  record.Note(2, kCauseRefused, 0, "%s", std::string(1000, 'x').c_str());
  const CaptureError read = record.Read();
  EXPECT_EQ(std::strlen(read.text), sizeof read.text - 1);
}

// The close request's reason carries the cause, the event's code and a detail.
TEST(CaptureFailure, ACloseReasonSurvivesItsPacking) {
  const CloseReason reasons[] = {{kCauseDeviceLost, 0x1F, 0},
                                 {kCauseDeviceLost, 0x03, 0x8007048F},
                                 {kCauseBadData, tesmo::kBadLength, 76800},
                                 {kCauseBadData, tesmo::kUndecodable, 31}};
  for (const CloseReason& reason : reasons) {
    const CloseReason back = CloseReason::Unpack(reason.Packed());
    EXPECT_EQ(back.cause, reason.cause);
    EXPECT_EQ(back.code, reason.code);
    EXPECT_EQ(back.detail, reason.detail);
  }
  EXPECT_EQ(CloseReason::Unpack(0).cause, kCauseNone);
}

// Writers on three threads and a reader on a fourth: every record read is one that
// was written whole (its text matches its slot), never a mix.
TEST(CaptureFailure, ReadersSeeWholeRecordsWhileOthersWrite) {
  FailureRecord record;
  std::atomic<bool> stop{false};
  std::thread writers[3];
  for (int w = 0; w < 3; ++w)
    writers[w] = std::thread([&, w] {
      for (int i = 0; !stop; ++i) {
        if (w == 2 && i % 7 == 0) record.Clear();
        else record.Note(w, kCauseRefused, w, "writer %d wrote this", w);
      }
    });
  int reads = 0, mixed = 0;
  for (; reads < 20000; ++reads) {
    const CaptureError read = record.Read();
    if (read.cause == kCauseNone) {
      if (read.text[0] != '\0') ++mixed;
      continue;
    }
    const std::string want = "writer " + std::to_string(read.operation) + " wrote this";
    if (want != read.text || read.hresult != read.operation) ++mixed;
  }
  stop = true;
  for (auto& writer : writers) writer.join();
  EXPECT_EQ(mixed, 0);
}

// The silence check: 2 s without data since Start or since the last data is recorded
// once, with words for either; data again ends it; a stopped device is never silent.
TEST(CaptureFailure, TwoSecondsWithoutDataAreRecordedAndDataEndsIt) {
  FailureRecord record;
  const uint32_t now = tesmo::TickCount();
  record.CheckForSilence(true, now - 1000, 0, "camera", "frame");
  EXPECT_EQ(record.Cause(), kCauseNone) << "silent for 1 s only";
  record.CheckForSilence(false, now - 5000, 0, "camera", "frame");
  EXPECT_EQ(record.Cause(), kCauseNone) << "a stopped camera counted as silent";
  record.CheckForSilence(true, now - 2500, 0, "camera", "frame");
  ASSERT_EQ(record.Cause(), kCauseNoData);
  EXPECT_NE(std::strstr(record.Read().text, "since Start: it may be in use by another application"),
            nullptr)
      << record.Read().text;
  const uint32_t tick = record.Read().tick;
  record.CheckForSilence(true, now - 9000, 0, "camera", "frame");
  EXPECT_EQ(record.Read().tick, tick) << "recorded again while it lasts";
  record.CheckForSilence(true, now - 9000, tesmo::TickCount(), "camera", "frame");
  EXPECT_EQ(record.Cause(), kCauseNone) << "data came and the record stayed";
  record.CheckForSilence(true, now - 9000, now - 3000, "audio device", "buffer");
  ASSERT_EQ(record.Cause(), kCauseNoData);
  EXPECT_NE(std::strstr(record.Read().text, "The audio device has sent nothing for 3 s since its "
                                            "last buffer"),
            nullptr)
      << record.Read().text;
  // A Start after the last data counts from the Start.
  record.Clear();
  record.CheckForSilence(true, tesmo::TickCount(), now - 60000, "camera", "frame");
  EXPECT_EQ(record.Cause(), kCauseNone);
}

// A failure with no telling result where a busy device gives one names that reason.
TEST(CaptureFailure, AnUntellingFailureAtOpenOrStartNamesABusyDevice) {
  FailureRecord record;
  record.NoteStep(FailureStep::Binding, static_cast<long>(static_cast<int32_t>(0x80004005)),
                  "camera", "opening it", "Open");
  record.Fail(3, "unused");
  EXPECT_EQ(record.Read().cause, kCauseDeviceFailed);
  EXPECT_NE(std::strstr(record.Read().text, "in use by another application"), nullptr)
      << record.Read().text;
  record.NoteStep(FailureStep::Other, static_cast<long>(static_cast<int32_t>(0x80004005)),
                  "audio device", "reading its mix level", "GetMixLevel");
  record.Fail(8, "unused");
  EXPECT_EQ(std::strstr(record.Read().text, "in use"), nullptr) << record.Read().text;
}
