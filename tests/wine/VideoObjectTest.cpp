// The video object through the DLL, with no device opened.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>

#include "Tesmo.h"
#include "support/ProcessCounts.h"

namespace {

class VideoObject : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    capture = CreateVSC();
    ASSERT_NE(capture, nullptr);
  }
  void TearDown() override {
    if (capture) {
      EXPECT_EQ(capture->Destroy(), kCaptureDone);
    }
    CoUninitialize();
  }
  void ExpectFormat(int width, int height, int code) {
    int w = -1, h = -1, c = -1;
    ASSERT_EQ(capture->GetFormat(&w, &h, &c), kCaptureDone);
    EXPECT_EQ(w, width);
    EXPECT_EQ(h, height);
    EXPECT_EQ(c, code);
  }
  VideoSourceCapture* capture = nullptr;
};

long FileSize(const char* path) {
  WIN32_FILE_ATTRIBUTE_DATA data;
  if (!GetFileAttributesExA(path, GetFileExInfoStandard, &data)) return -1;
  return static_cast<long>(data.nFileSizeLow);
}

}  // namespace

TEST_F(VideoObject, NewObjectIsClosedWithItsDefaults) {
  EXPECT_EQ(capture->IsOpened(), kCaptureNo);
  EXPECT_EQ(capture->IsRunning(), kCaptureFailed);
  ExpectFormat(320, 240, kVideoRgb24);
  int rate = -1;
  EXPECT_EQ(capture->GetFrameRate(&rate), kCaptureDone);
  EXPECT_EQ(rate, 1800);
  char name[kNameEntryBytes];
  std::memset(name, 'x', sizeof name);
  EXPECT_EQ(capture->GetDeviceName(name), kCaptureDone);
  EXPECT_STREQ(name, "");
  EXPECT_EQ(capture->Reserved(1, 2), kCaptureReserved);
  EXPECT_EQ(capture->Start(), kCaptureFailed);
  EXPECT_EQ(capture->Stop(), kCaptureFailed);
  EXPECT_EQ(capture->ShowPropertyPages(), kCaptureFailed);
  EXPECT_EQ(capture->Close(), kCaptureDone);
  EXPECT_EQ(capture->SetPreviewWindow(nullptr), kCaptureDone);
  EXPECT_EQ(capture->IsOpened(), kCaptureNo);
}

TEST_F(VideoObject, FrameRateStaysBetweenFiveAndEighteenHundred) {
  int rate = 0;
  EXPECT_EQ(capture->SetFrameRate(4), kCaptureFailed);
  EXPECT_EQ(capture->SetFrameRate(1801), kCaptureFailed);
  EXPECT_EQ(capture->SetFrameRate(-60), kCaptureFailed);
  capture->GetFrameRate(&rate);
  EXPECT_EQ(rate, 1800);
  EXPECT_EQ(capture->SetFrameRate(5), kCaptureDone);
  capture->GetFrameRate(&rate);
  EXPECT_EQ(rate, 5);
  EXPECT_EQ(capture->SetFrameRate(1800), kCaptureDone);
  capture->GetFrameRate(&rate);
  EXPECT_EQ(rate, 1800);
}

TEST_F(VideoObject, SetFormatTakesCodesAndRefusesSizesThatCannotBeFrames) {
  EXPECT_EQ(capture->SetFormat(640, 480, kVideoI420), kCaptureDone);
  ExpectFormat(640, 480, kVideoI420);
  EXPECT_EQ(capture->SetFormat(640, 480, 7), kCaptureDone);  // unlisted code: kept as given
  ExpectFormat(640, 480, 7);
  EXPECT_EQ(capture->SetFormat(320, 240, kVideoRgb32), kCaptureDone);
  const int refused[][2] = {{0, 240}, {320, 0}, {-320, 240}, {320, -240}, {40000, 40000}};
  for (const auto& size : refused) {
    EXPECT_EQ(capture->SetFormat(size[0], size[1], kVideoRgb24), kCaptureFailed)
        << size[0] << "x" << size[1];
    ExpectFormat(320, 240, kVideoRgb32);
  }
  EXPECT_EQ(capture->Reserved(0, 0), kCaptureReserved);
}

TEST(VideoObjectLifetime, LogFileIsCreatedEmptyAndObjectsLeaveNothingBehind) {
  ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
  // A missing file is created, empty.
  DeleteFileA("c:\\log.txt");
  VideoSourceCapture* first = CreateVSC();
  ASSERT_NE(first, nullptr);
  EXPECT_EQ(FileSize("c:\\log.txt"), 0);
  first->Destroy();
  // A file of that name that exists may be the user's own: it is left as it is.
  FILE* own = std::fopen("c:\\log.txt", "wb");
  ASSERT_NE(own, nullptr);
  std::fputs("the user's notes", own);
  std::fclose(own);
  first = CreateVSC();
  ASSERT_NE(first, nullptr);
  first->Destroy();
  char text[64] = {};
  own = std::fopen("c:\\log.txt", "rb");
  ASSERT_NE(own, nullptr);
  std::fread(text, 1, sizeof text - 1, own);
  std::fclose(own);
  EXPECT_STREQ(text, "the user's notes");
  DeleteFileA("c:\\log.txt");
  first = CreateVSC();
  first->Destroy();

  const DWORD handles = tesmo::test::HandleCount();
  const int threads = tesmo::test::ThreadCount();
  for (int i = 0; i < 100; ++i) {
    VideoSourceCapture* capture = CreateVSC();
    ASSERT_NE(capture, nullptr);
    EXPECT_EQ(capture->Destroy(), kCaptureDone);
  }
  EXPECT_EQ(tesmo::test::HandleCount(), handles);
  EXPECT_EQ(tesmo::test::ThreadCount(), threads);
  EXPECT_EQ(FileSize("c:\\log.txt"), 0);  // never written

  // At 5 frames per minute the delivery thread sleeps almost 12 s; Destroy wakes it.
  VideoSourceCapture* slow = CreateVSC();
  ASSERT_EQ(slow->SetFrameRate(5), kCaptureDone);
  Sleep(50);  // let the thread enter its long sleep
  const DWORD start = GetTickCount();
  EXPECT_EQ(slow->Destroy(), kCaptureDone);
  EXPECT_LT(GetTickCount() - start, 500u);
  CoUninitialize();
}
