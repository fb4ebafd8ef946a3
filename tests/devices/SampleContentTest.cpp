// The content rules that other suites verify samples against.
#include <gtest/gtest.h>

#include <vector>

#include "SampleContent.h"

using namespace testdevices;

TEST(SampleContentTest, ByteSequenceContinuesAcrossAnyCut) {
  std::vector<BYTE> whole(1000), pieces(1000);
  FillByteSequence(whole.data(), 1000, 0);
  FillByteSequence(pieces.data(), 7, 0);
  FillByteSequence(pieces.data() + 7, 500, 7);
  FillByteSequence(pieces.data() + 507, 493, 507);
  EXPECT_EQ(whole, pieces);
  EXPECT_EQ(250, whole[250]);
  EXPECT_EQ(0, whole[251]);
  BYTE distant = 0xff;
  FillByteSequence(&distant, 1, 251ull * 1000000 + 3);
  EXPECT_EQ(3, distant);
}

TEST(SampleContentTest, VideoFramesCarryTheirNumberAndAMovingPicture) {
  const int width = 64, height = 48;
  std::vector<BYTE> first(width * height * 3), second(first.size()), third(first.size());
  FillVideoFrame(PixelFormat::Rgb24, width, height, 0x01020304, first.data(), long(first.size()));
  FillVideoFrame(PixelFormat::Rgb24, width, height, 0x01020305, second.data(), long(second.size()));
  FillVideoFrame(PixelFormat::Rgb24, width, height, 0x01020304, third.data(), long(third.size()));
  EXPECT_EQ(0x04, first[0]);
  EXPECT_EQ(0x03, first[1]);
  EXPECT_EQ(0x02, first[2]);
  EXPECT_EQ(0x01, first[3]);
  EXPECT_EQ(first, third) << "the picture depends on the frame number only";
  EXPECT_NE(std::vector<BYTE>(first.begin() + 4, first.end()),
            std::vector<BYTE>(second.begin() + 4, second.end()));

  std::vector<BYTE> i420(width * height * 3 / 2, 0xee);
  FillVideoFrame(PixelFormat::I420, width, height, 7, i420.data(), long(i420.size()));
  EXPECT_EQ(7, i420[0]);
  EXPECT_NE(0xee, i420.back()) << "the chroma planes are written too";
}
