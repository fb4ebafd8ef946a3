// The content rules that other suites verify samples against.
#include <gtest/gtest.h>

#include <vector>

#include "PixelConversion.h"
#include "SampleContent.h"
#include "support/PictureReader.h"

using namespace testdevices;
using testpicture::CheckColourBars;
using testpicture::ReadFrameNumber;

TEST(SampleContentTest, ByteSequenceContinuesAcrossAnyCut) {
  std::vector<uint8_t> whole(1000), pieces(1000);
  FillByteSequence(whole.data(), 1000, 0);
  FillByteSequence(pieces.data(), 7, 0);
  FillByteSequence(pieces.data() + 7, 500, 7);
  FillByteSequence(pieces.data() + 507, 493, 507);
  EXPECT_EQ(whole, pieces);
  EXPECT_EQ(250, whole[250]);
  EXPECT_EQ(0, whole[251]);
  uint8_t distant = 0xff;
  FillByteSequence(&distant, 1, 251ull * 1000000 + 3);
  EXPECT_EQ(3, distant);
}

TEST(SampleContentTest, VideoFramesCarryTheirNumberAndAMovingPicture) {
  const int width = 64, height = 48;
  std::vector<uint8_t> first(width * height * 3), second(first.size()), third(first.size());
  FillVideoFrame(PixelFormat::Rgb24, width, height, 0x01020304, first.data(), long(first.size()));
  FillVideoFrame(PixelFormat::Rgb24, width, height, 0x01020305, second.data(), long(second.size()));
  FillVideoFrame(PixelFormat::Rgb24, width, height, 0x01020304, third.data(), long(third.size()));
  EXPECT_EQ(0x04, first[0]);
  EXPECT_EQ(0x03, first[1]);
  EXPECT_EQ(0x02, first[2]);
  EXPECT_EQ(0x01, first[3]);
  EXPECT_EQ(first, third) << "the picture depends on the frame number only";
  EXPECT_NE(std::vector<uint8_t>(first.begin() + 4, first.end()),
            std::vector<uint8_t>(second.begin() + 4, second.end()));

  std::vector<uint8_t> i420(width * height * 3 / 2, 0xee);
  FillVideoFrame(PixelFormat::I420, width, height, 7, i420.data(), long(i420.size()));
  EXPECT_EQ(7, i420[0]);
  EXPECT_NE(0xee, i420.back()) << "the chroma planes are written too";
}

struct Layout {
  PixelFormat format;
  int height;  // negative: a top-down RGB picture
  long frameBytes;
};

// Every layout at 320x240 (and top-down RGB): the frame has the layout's length, keeps the
// byte stamp, and its cells and bars read back for several frame numbers.
TEST(SampleContentTest, EveryLayoutCarriesTheNumberCellsAndTheBars) {
  const int width = 320;
  const Layout layouts[] = {
      {PixelFormat::Rgb24, 240, 320 * 3 * 240},    {PixelFormat::Rgb24, -240, 320 * 3 * 240},
      {PixelFormat::Rgb32, 240, 320 * 4 * 240},    {PixelFormat::Rgb32, -240, 320 * 4 * 240},
      {PixelFormat::Rgb555, 240, 320 * 2 * 240},   {PixelFormat::Rgb565, 240, 320 * 2 * 240},
      {PixelFormat::Yuy2, 240, 320 * 2 * 240},     {PixelFormat::Uyvy, 240, 320 * 2 * 240},
      {PixelFormat::I420, 240, 320 * 240 * 3 / 2}, {PixelFormat::Yv12, 240, 320 * 240 * 3 / 2},
      {PixelFormat::Nv12, 240, 320 * 240 * 3 / 2}};
  for (const Layout& layout : layouts) {
    SCOPED_TRACE("format " + std::to_string(int(layout.format)) + " height " +
                 std::to_string(layout.height));
    ASSERT_EQ(layout.frameBytes, FrameBytes(layout.format, width, layout.height));
    for (uint32_t n : {0u, 1u, 77u, 0x123456u, 0x1abcdefu}) {
      std::vector<uint8_t> frame(size_t(layout.frameBytes) + 16, 0x5a);
      FillVideoFrame(layout.format, width, layout.height, n, frame.data(), layout.frameBytes);
      EXPECT_EQ(uint8_t(n), frame[0]);
      EXPECT_EQ(uint8_t(n >> 24), frame[3]);
      EXPECT_EQ(0x5a, frame[size_t(layout.frameBytes)]) << "wrote past the frame";
      const PictureView view{layout.format, width, layout.height, frame.data(),
                             size_t(layout.frameBytes)};
      EXPECT_EQ(long(n & 0xffffff), ReadFrameNumber(view)) << "frame " << n;
      EXPECT_EQ("", CheckColourBars(view, n, 8)) << "frame " << n;
      // Ten frames later every bar has moved on by one bar width (320 / 8 pixels).
      EXPECT_NE("", CheckColourBars(view, n + 10, 8)) << "the bars move with the frame number";
    }
  }
}

// The stored rows of an RGB frame with an odd width are DWORD aligned, as DIBs are; a host's
// tight rows read through HostFrame.
TEST(SampleContentTest, DibRowsArePaddedAndHostRowsAreNot) {
  EXPECT_EQ(484L, RowBytes(PixelFormat::Rgb24, 161));
  EXPECT_EQ(484L * 120, FrameBytes(PixelFormat::Rgb24, 161, 120));
  std::vector<uint8_t> padded(size_t(FrameBytes(PixelFormat::Rgb24, 162, 120)));
  FillVideoFrame(PixelFormat::Rgb24, 162, 120, 500, padded.data(), long(padded.size()));
  // The same picture with rows of exactly width * 3 bytes, as a host stores it.
  std::vector<uint8_t> tight(162 * 3 * 120);
  for (int row = 0; row < 120; ++row)
    std::copy_n(padded.begin() + row * RowBytes(PixelFormat::Rgb24, 162), 162 * 3,
                tight.begin() + row * 162 * 3);
  const PictureView host =
      testpicture::HostFrame(PixelFormat::Rgb24, 162, 120, tight.data(), tight.size());
  EXPECT_EQ(500, ReadFrameNumber(host));
  EXPECT_EQ("", CheckColourBars(host, 500, 8));
}

// Where the cells are readable, and that damage or a blank picture reads as no number.
TEST(SampleContentTest, CellsAreReadableFromTheirSizeAndRefuseDamage) {
  EXPECT_EQ(16, CellSize(160, 96));
  EXPECT_EQ(8, CellSize(159, 96));
  EXPECT_EQ(8, CellSize(80, 48));
  EXPECT_EQ(0, CellSize(80, 47));
  for (int width : {80, 160, 640}) {
    const int height = width * 3 / 4;
    std::vector<uint8_t> frame(size_t(FrameBytes(PixelFormat::I420, width, height)));
    FillVideoFrame(PixelFormat::I420, width, height, 4242, frame.data(), long(frame.size()));
    const PictureView view{PixelFormat::I420, width, height, frame.data(), frame.size()};
    EXPECT_EQ(4242, ReadFrameNumber(view)) << width;
    // The stamp lies outside the cells: the number survives losing it.
    std::fill_n(frame.begin(), 4, uint8_t(0x80));
    EXPECT_EQ(4242, ReadFrameNumber(view)) << width;
    // A grey cell is no clean bit.
    const int cell = CellSize(width, height);
    for (int y = cell; y < 2 * cell; ++y) std::fill_n(frame.begin() + y * width + cell, cell, 128);
    EXPECT_EQ(-1, ReadFrameNumber(view)) << width;
  }
  std::vector<uint8_t> black(320 * 240 * 3, 0), white(320 * 240 * 3, 255);
  EXPECT_EQ(-1, ReadFrameNumber({PixelFormat::Rgb24, 320, 240, black.data(), black.size()}));
  EXPECT_EQ(-1, ReadFrameNumber({PixelFormat::Rgb24, 320, 240, white.data(), white.size()}));
  // One bit flipped cleanly is caught by the check byte.
  std::vector<uint8_t> frame(size_t(FrameBytes(PixelFormat::I420, 320, 240)));
  FillVideoFrame(PixelFormat::I420, 320, 240, 9, frame.data(), long(frame.size()));
  for (int y = 16; y < 32; ++y)
    std::fill_n(frame.begin() + y * 320 + 16, 16, 235);  // bit 0 of 9 is 1
  for (int y = 16; y < 32; ++y) std::fill_n(frame.begin() + y * 320 + 32, 16, 235);  // bit 1 was 0
  EXPECT_EQ(-1, ReadFrameNumber({PixelFormat::I420, 320, 240, frame.data(), frame.size()}));
}

// The colour converter's output of each input layout shows the same number and bars.
TEST(SampleContentTest, ConvertedPicturesKeepTheNumberAndTheBars) {
  const int width = 176, height = 144;
  for (PixelFormat from :
       {PixelFormat::I420, PixelFormat::Yv12, PixelFormat::Nv12, PixelFormat::Yuy2,
        PixelFormat::Uyvy, PixelFormat::Rgb555, PixelFormat::Rgb565}) {
    std::vector<uint8_t> source(size_t(FrameBytes(from, width, height)));
    FillVideoFrame(from, width, height, 31337, source.data(), long(source.size()));
    for (int toHeight : {height, -height}) {
      std::vector<uint8_t> rgb(size_t(FrameBytes(PixelFormat::Rgb32, width, height)));
      ASSERT_TRUE(ConvertPicture({from, width, height}, source.data(), long(source.size()),
                                 {PixelFormat::Rgb32, width, toHeight}, rgb.data(),
                                 long(rgb.size())));
      const PictureView view{PixelFormat::Rgb32, width, toHeight, rgb.data(), rgb.size()};
      EXPECT_EQ(31337, ReadFrameNumber(view)) << int(from);
      EXPECT_EQ("", CheckColourBars(view, 31337, 12)) << int(from);
    }
  }
}

// Where each layout keeps a pixel's samples, by absolute offsets (not through the readers):
// frame 0, picture pixel (100, 200) of 320x240 lies in the third bar, cyan; BT.601 studio
// range cyan is Y 170, U 166, V 16 (give or take rounding).
TEST(SampleContentTest, LayoutsKeepEachSampleWhereTheirDefinitionsSay) {
  auto frame = [](PixelFormat format, int height) {
    std::vector<uint8_t> bytes(size_t(FrameBytes(format, 320, height)));
    FillVideoFrame(format, 320, height, 0, bytes.data(), long(bytes.size()));
    return bytes;
  };
  auto near = [](int want, int got) { return std::abs(want - got) <= 2; };
  const long luma = 200 * 320 + 100, planeSize = 320 * 240;
  const long packed = 200 * 640 + 100 * 2;
  auto yuy2 = frame(PixelFormat::Yuy2, 240);
  EXPECT_TRUE(near(170, yuy2[packed]) && near(166, yuy2[packed + 1]) && near(16, yuy2[packed + 3]));
  auto uyvy = frame(PixelFormat::Uyvy, 240);
  EXPECT_TRUE(near(166, uyvy[packed]) && near(170, uyvy[packed + 1]) && near(16, uyvy[packed + 2]));
  auto nv12 = frame(PixelFormat::Nv12, 240);
  const long uv = planeSize + 100 * 320 + 50 * 2;
  EXPECT_TRUE(near(170, nv12[luma]) && near(166, nv12[uv]) && near(16, nv12[uv + 1]));
  auto i420 = frame(PixelFormat::I420, 240), yv12 = frame(PixelFormat::Yv12, 240);
  const long first = planeSize + 100 * 160 + 50, second = first + planeSize / 4;
  EXPECT_TRUE(near(170, i420[luma]) && near(166, i420[first]) && near(16, i420[second]));
  EXPECT_TRUE(near(170, yv12[luma]) && near(16, yv12[first]) && near(166, yv12[second]));
  // Bottom-up 16-bit DIBs: picture row 200 is memory row 39.
  const long word = 39 * 640 + 200;
  auto rgb565 = frame(PixelFormat::Rgb565, 240), rgb555 = frame(PixelFormat::Rgb555, 240);
  EXPECT_EQ(0x07ff, rgb565[word] | rgb565[word + 1] << 8);
  EXPECT_EQ(0x03ff, rgb555[word] | rgb555[word + 1] << 8);
  // A top-down RGB24 picture keeps row 200 as memory row 200: B, G, R.
  auto topDown = frame(PixelFormat::Rgb24, -240);
  const long pixel = 200 * 960 + 300;
  EXPECT_EQ((std::vector<uint8_t>{255, 255, 0}),
            std::vector<uint8_t>(topDown.begin() + pixel, topDown.begin() + pixel + 3));
}
