// The camera's MJPG frames: the platform's JPEG encoder keeps the picture readable, and the
// frame edits (no Huffman tables, spoiled frames) give what real cameras send.
#include "DeviceTestSupport.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>
#include <vector>

#include "JpegEncoder.h"
#include "JpegFrames.h"
#include "SampleContent.h"
#include "support/PictureReader.h"
#include "support/WicJpeg.h"

namespace {

using namespace testdevices;
using testpicture::CheckColourBars;
using testpicture::DecodedJpeg;
using testpicture::DecodeJpeg;
using testpicture::ReadFrameNumber;

PictureView ViewOf(const DecodedJpeg& picture) {
  // WIC hands out top-down rows: a negative height says so.
  return {PixelFormat::Rgb24, int(picture.width), -int(picture.height),
          picture.bgr.data(), picture.bgr.size(), long(picture.width) * 3};
}

// The camera's picture of frame n at this size, as the camera encodes it.
std::vector<uint8_t> EncodedPicture(JpegEncoder& encoder, int width, int height, uint32_t n) {
  const long stride = RowBytes(PixelFormat::Rgb24, width);
  std::vector<uint8_t> pixels(size_t(stride) * size_t(height));
  FillVideoFrame(PixelFormat::Rgb24, width, -height, n, pixels.data(), long(pixels.size()));
  std::vector<uint8_t> jpeg;
  EXPECT_EQ(S_OK, encoder.Encode(pixels.data(), width, height, stride, jpeg));
  return jpeg;
}

// Where the marker FF <code> first appears, or npos.
size_t FindMarker(const std::vector<uint8_t>& bytes, uint8_t code) {
  for (size_t i = 0; i + 1 < bytes.size(); ++i)
    if (bytes[i] == 0xff && bytes[i + 1] == code) return i;
  return std::string::npos;
}

class JpegFramesTest : public ::testing::Test {
protected:
  void SetUp() override { ASSERT_EQ(S_OK, CoInitializeEx(nullptr, COINIT_MULTITHREADED)); }
  void TearDown() override { CoUninitialize(); }
};

TEST_F(JpegFramesTest, EncodedPicturesKeepTheirNumberAndBars) {
  JpegEncoder encoder;
  ASSERT_EQ(S_OK, encoder.Status());
  for (auto size : {std::make_pair(640, 480), std::make_pair(1280, 720), std::make_pair(1920, 1080),
                    std::make_pair(320, 240)}) {
    for (uint32_t n : {0u, 1u, 0x5a5a5au, 0xa5a5a5u, 0xffffffu}) {
      SCOPED_TRACE(std::to_string(size.first) + "x" + std::to_string(size.second) + " frame " +
                   std::to_string(n));
      std::vector<uint8_t> jpeg = EncodedPicture(encoder, size.first, size.second, n);
      ASSERT_GT(jpeg.size(), 100u);
      EXPECT_LT(jpeg.size(), size_t(size.first) * size.second * 3 / 4) << "compressed";
      DecodedJpeg picture;
      ASSERT_EQ(S_OK, DecodeJpeg(jpeg.data(), jpeg.size(), picture));
      ASSERT_EQ(UINT(size.first), picture.width);
      ASSERT_EQ(UINT(size.second), picture.height);
      EXPECT_EQ(long(n), ReadFrameNumber(ViewOf(picture)));
      EXPECT_EQ("", CheckColourBars(ViewOf(picture), n, 24));
    }
  }
}

// Wine's encoder writes the standard tables; without them the frame decodes to the same pixels.
TEST_F(JpegFramesTest, FramesWithoutHuffmanTablesDecodeAlike) {
  JpegEncoder encoder;
  ASSERT_EQ(S_OK, encoder.Status());
  std::vector<uint8_t> jpeg = EncodedPicture(encoder, 640, 480, 1234);
  EXPECT_TRUE(HasOnlyStandardHuffmanTables(jpeg.data(), jpeg.size()));
  EXPECT_GT(CountHuffmanSegments(jpeg.data(), jpeg.size()), 0);
  std::vector<uint8_t> bare = jpeg;
  bare.resize(RemoveHuffmanTables(bare.data(), bare.size()));
  EXPECT_LT(bare.size(), jpeg.size());
  EXPECT_EQ(0, CountHuffmanSegments(bare.data(), bare.size()));
  EXPECT_EQ(std::string::npos, FindMarker(bare, 0xc4));
  EXPECT_EQ(ScanDataOffset(jpeg.data(), jpeg.size()) - ScanDataOffset(bare.data(), bare.size()),
            jpeg.size() - bare.size())
      << "only the tables went";
  DecodedJpeg withTables, without;
  ASSERT_EQ(S_OK, DecodeJpeg(jpeg.data(), jpeg.size(), withTables));
  ASSERT_EQ(S_OK, DecodeJpeg(bare.data(), bare.size(), without));
  EXPECT_EQ(withTables.bgr, without.bgr);
  EXPECT_EQ(1234, ReadFrameNumber(ViewOf(without)));
  // A frame with tables of its own keeps them.
  std::vector<uint8_t> other = jpeg;
  const size_t firstTable = FindMarker(other, 0xc4);
  ASSERT_NE(std::string::npos, firstTable);
  other[firstTable + 4 + 1 + 1] ^= 1;  // a code count of the first table
  EXPECT_FALSE(HasOnlyStandardHuffmanTables(other.data(), other.size()));
  EXPECT_EQ(other.size(), RemoveHuffmanTables(other.data(), other.size()));
}

TEST_F(JpegFramesTest, SpoiledFramesFailToDecode) {
  JpegEncoder encoder;
  ASSERT_EQ(S_OK, encoder.Status());
  std::vector<uint8_t> jpeg = EncodedPicture(encoder, 640, 480, 99);
  std::vector<uint8_t> cut = jpeg;
  cut.resize(CorruptJpeg(cut.data(), cut.size()));
  EXPECT_LT(cut.size(), jpeg.size());
  DecodedJpeg picture;
  EXPECT_NE(S_OK, DecodeJpeg(cut.data(), cut.size(), picture));
}

// Not a check: the time one 1080p frame takes, for the record.
TEST_F(JpegFramesTest, DISABLED_EncodeTime1080p) {
  JpegEncoder encoder;
  const long stride = RowBytes(PixelFormat::Rgb24, 1920);
  std::vector<uint8_t> pixels(size_t(stride) * 1080);
  std::vector<double> draw, encode;
  size_t bytes = 0;
  for (uint32_t n = 0; n < 31; ++n) {
    auto t0 = std::chrono::steady_clock::now();
    FillVideoFrame(PixelFormat::Rgb24, 1920, -1080, n, pixels.data(), long(pixels.size()));
    auto t1 = std::chrono::steady_clock::now();
    std::vector<uint8_t> jpeg;
    ASSERT_EQ(S_OK, encoder.Encode(pixels.data(), 1920, 1080, stride, jpeg));
    bytes = jpeg.size();
    auto t2 = std::chrono::steady_clock::now();
    draw.push_back(std::chrono::duration<double, std::milli>(t1 - t0).count());
    encode.push_back(std::chrono::duration<double, std::milli>(t2 - t1).count());
  }
  std::sort(draw.begin(), draw.end());
  std::sort(encode.begin(), encode.end());
  std::printf("draw median %.2f ms, encode median %.2f ms (min %.2f, max %.2f), %zu bytes\n",
              draw[15], encode[15], encode[0], encode[30], bytes);
}

}  // namespace
