#include "video/MjpegDecoder.h"

#include <gtest/gtest.h>
#include <turbojpeg.h>

#include <cstdlib>
#include <memory>
#include <string>
#include <vector>

using tesmo::CentreCrop;
using tesmo::CropRect;
using tesmo::MjpegDecoder;
using tesmo::PixelFormat;

namespace {

using Bytes = std::vector<unsigned char>;

struct Rgb {
  int r, g, b;
};
const Rgb kBars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                      {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};

// Eight vertical bars across the picture, encoded by TurboJPEG as a camera would.
Bytes EncodeBars(int width, int height, int subsampling, int flags = 0) {
  std::vector<unsigned char> rgb(static_cast<size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) {
      const Rgb& c = kBars[x * 8 / width];
      unsigned char* p = &rgb[(static_cast<size_t>(y) * width + x) * 3];
      p[0] = static_cast<unsigned char>(c.r), p[1] = static_cast<unsigned char>(c.g);
      p[2] = static_cast<unsigned char>(c.b);
    }
  tjhandle encoder = tjInitCompress();
  unsigned char* jpeg = nullptr;
  unsigned long size = 0;
  EXPECT_EQ(tjCompress2(encoder, rgb.data(), width, 0, height, TJPF_RGB, &jpeg, &size,
                        subsampling, 90, flags),
            0);
  Bytes out(jpeg, jpeg + size);
  tjFree(jpeg);
  tjDestroy(encoder);
  return out;
}

// The frame with its DHT segments cut out, as many webcams send it.
Bytes WithoutHuffmanTables(const Bytes& jpeg) {
  Bytes out(jpeg.begin(), jpeg.begin() + 2);
  size_t at = 2;
  while (at + 4 <= jpeg.size() && jpeg[at + 1] != 0xDA) {
    const size_t length = size_t(jpeg[at + 2]) << 8 | jpeg[at + 3];
    if (jpeg[at + 1] != 0xC4)
      out.insert(out.end(), jpeg.begin() + long(at), jpeg.begin() + long(at + 2 + length));
    at += 2 + length;
  }
  out.insert(out.end(), jpeg.begin() + long(at), jpeg.end());
  return out;
}

// Decodes from a heap copy of exactly the frame's length, so an over-read is caught.
bool DecodeExact(MjpegDecoder& decoder, const Bytes& frame, Bytes& out) {
  std::unique_ptr<unsigned char[]> exact(new unsigned char[frame.size()]);
  std::copy(frame.begin(), frame.end(), exact.get());
  out.assign(static_cast<size_t>(decoder.TargetBytes()), 0x5A);
  return decoder.Decode(exact.get(), static_cast<int32_t>(frame.size()), out.data());
}

// Empty when every bar the centre crop keeps shows its colour in a host RGB24 frame
// (a bottom-up DIB), sampled on the middle row away from the bars' edges.
std::string CheckBars(const Bytes& frame, int cameraWidth, int cameraHeight, int width,
                      int height) {
  const CropRect crop = CentreCrop(cameraWidth, cameraHeight, width, height);
  std::string differences;
  for (int x = 0; x < width; ++x) {
    const double cameraX = crop.x + (x + 0.5) * crop.width / width;
    const double barWidth = cameraWidth / 8.0;
    const double inBar = cameraX / barWidth - static_cast<int>(cameraX / barWidth);
    if (inBar < 0.3 || inBar > 0.7) continue;  // near an edge: filters blend there
    const Rgb& want = kBars[static_cast<int>(cameraX / barWidth)];
    const unsigned char* p = &frame[(static_cast<size_t>(height / 2) * width + x) * 3];
    if (std::abs(p[2] - want.r) > 24 || std::abs(p[1] - want.g) > 24 ||
        std::abs(p[0] - want.b) > 24)
      differences += " x=" + std::to_string(x);
  }
  return differences;
}

}  // namespace

// A camera's frames at 4:2:0, 4:2:2 and 4:4:4, with and without Huffman tables: the
// bars come out in their colours, and a frame without tables gives the same bytes.
TEST(MjpegDecoder, DecodesEveryCommonLayoutWithAndWithoutHuffmanTables) {
  for (int subsampling : {TJSAMP_420, TJSAMP_422, TJSAMP_444}) {
    SCOPED_TRACE(testing::Message() << "subsampling " << subsampling);
    const Bytes jpeg = EncodeBars(320, 240, subsampling);
    auto decoder = MjpegDecoder::Create(320, 240, PixelFormat::Rgb24, 320, 240);
    ASSERT_TRUE(decoder);
    EXPECT_EQ(decoder->ScaleDenominator(), 1);
    Bytes withTables, withoutTables;
    ASSERT_TRUE(DecodeExact(*decoder, jpeg, withTables));
    EXPECT_EQ(CheckBars(withTables, 320, 240, 320, 240), "");
    const Bytes stripped = WithoutHuffmanTables(jpeg);
    ASSERT_LT(stripped.size(), jpeg.size());
    ASSERT_TRUE(DecodeExact(*decoder, stripped, withoutTables));
    EXPECT_EQ(withTables, withoutTables);
  }
}

// The host's I420 is limited range whatever the JPEG's: white 235, black 16.
TEST(MjpegDecoder, I420ComesOutInLimitedRange) {
  const Bytes jpeg = EncodeBars(64, 48, TJSAMP_422);
  auto decoder = MjpegDecoder::Create(64, 48, PixelFormat::I420, 64, 48);
  ASSERT_TRUE(decoder);
  Bytes out;
  ASSERT_TRUE(DecodeExact(*decoder, jpeg, out));
  EXPECT_NEAR(out[24 * 64 + 4], 235, 2);   // white bar
  EXPECT_NEAR(out[24 * 64 + 60], 16, 2);   // black bar
  const unsigned char u = out[64 * 48 + 12 * 32 + 2], v = out[64 * 48 + 16 * 24 + 12 * 32 + 2];
  EXPECT_NEAR(u, 128, 2);
  EXPECT_NEAR(v, 128, 2);
}

// A host at most half the camera's size decodes at a reduced DCT scale, the largest
// that still covers its size once cropped, and gets the right bars.
TEST(MjpegDecoder, ASmallHostDecodesAtAReducedScaleAndKeepsTheCentre) {
  struct Case {
    int cameraWidth, cameraHeight, width, height, denominator;
  };
  for (const Case& c : {Case{1920, 1080, 320, 240, 4}, Case{1280, 720, 320, 240, 2},
                        Case{1280, 720, 640, 480, 1}, Case{640, 480, 80, 60, 8},
                        Case{1920, 1080, 1920, 1080, 1}}) {
    SCOPED_TRACE(testing::Message() << c.cameraWidth << "x" << c.cameraHeight << " -> " << c.width
                                    << "x" << c.height);
    auto decoder =
        MjpegDecoder::Create(c.cameraWidth, c.cameraHeight, PixelFormat::Rgb24, c.width, c.height);
    ASSERT_TRUE(decoder);
    EXPECT_EQ(decoder->ScaleDenominator(), c.denominator);
    Bytes out;
    ASSERT_TRUE(DecodeExact(*decoder, EncodeBars(c.cameraWidth, c.cameraHeight, TJSAMP_422), out));
    EXPECT_EQ(CheckBars(out, c.cameraWidth, c.cameraHeight, c.width, c.height), "");
  }
}

// What a faulty camera sends is refused, not delivered: a frame cut short (a warning
// to libjpeg), a picture of another size than the mode's, a progressive JPEG, and
// data that is no JPEG or whose headers lie, all without reading past the frame.
TEST(MjpegDecoder, RefusesCutFramesOtherSizesAndData) {
  auto decoder = MjpegDecoder::Create(320, 240, PixelFormat::Rgb32, 320, 240);
  ASSERT_TRUE(decoder);
  const Bytes jpeg = EncodeBars(320, 240, TJSAMP_422);
  Bytes out;
  ASSERT_TRUE(DecodeExact(*decoder, jpeg, out));
  for (size_t keep : {jpeg.size() / 2, jpeg.size() - 40, size_t(4), size_t(200)}) {
    SCOPED_TRACE(testing::Message() << "cut to " << keep);
    EXPECT_FALSE(DecodeExact(*decoder, Bytes(jpeg.begin(), jpeg.begin() + long(keep)), out));
  }
  EXPECT_FALSE(DecodeExact(*decoder, EncodeBars(160, 120, TJSAMP_422), out));
  EXPECT_FALSE(DecodeExact(*decoder, EncodeBars(320, 240, TJSAMP_422, TJFLAG_PROGRESSIVE), out));
  EXPECT_FALSE(DecodeExact(*decoder, Bytes(1000, 0xFF), out));
  Bytes lying = jpeg;
  lying[4] = 0xFF, lying[5] = 0xFF;  // the first segment claims 64 kB
  EXPECT_FALSE(DecodeExact(*decoder, lying, out));
  EXPECT_FALSE(decoder->Decode(nullptr, 100, out.data()));
  EXPECT_FALSE(tesmo::IsSequentialJpeg(jpeg.data(), 3));
  EXPECT_TRUE(tesmo::IsSequentialJpeg(jpeg.data(), static_cast<int32_t>(jpeg.size())));
  // A good frame still decodes after all of them.
  EXPECT_TRUE(DecodeExact(*decoder, jpeg, out));
  // Host sizes its format cannot have.
  EXPECT_FALSE(MjpegDecoder::Create(320, 240, PixelFormat::I420, 321, 240));
  EXPECT_FALSE(MjpegDecoder::Create(0, 240, PixelFormat::Rgb24, 320, 240));
}

// Webcams end their frames untidily: without the EOI marker, with zero padding (their
// buffers' size), fill bytes before the marker or junk after it. Each holds a whole
// picture and gives the same bytes as the tidy frame; a scan cut short stays refused
// whatever is put after it.
TEST(MjpegDecoder, DeliversWholePicturesWhateverTheirTail) {
  auto decoder = MjpegDecoder::Create(320, 240, PixelFormat::Rgb24, 320, 240);
  ASSERT_TRUE(decoder);
  const Bytes jpeg = EncodeBars(320, 240, TJSAMP_422);
  ASSERT_EQ(jpeg[jpeg.size() - 2], 0xFF);
  ASSERT_EQ(jpeg[jpeg.size() - 1], 0xD9);
  const Bytes scan(jpeg.begin(), jpeg.end() - 2);  // no EOI
  Bytes tidy;
  ASSERT_TRUE(DecodeExact(*decoder, jpeg, tidy));
  auto with = [](Bytes frame, std::initializer_list<Bytes> tails) {
    for (const Bytes& tail : tails) frame.insert(frame.end(), tail.begin(), tail.end());
    return frame;
  };
  const Bytes eoi{0xFF, 0xD9}, zeros(64, 0x00), junk{0x12, 0x34, 0xFF, 0x00, 0xAB, 0xFF, 0xD8};
  const struct {
    const char* what;
    Bytes frame;
  } whole[] = {
      {"no EOI", scan},
      {"no EOI, zero padding", with(scan, {zeros})},
      {"zero padding, then EOI", with(scan, {zeros, eoi})},
      {"fill bytes before EOI", with(scan, {Bytes{0xFF, 0xFF, 0xFF}, eoi})},
      {"junk after EOI", with(jpeg, {junk})},
      {"zeros after EOI", with(jpeg, {zeros})},
      {"two EOIs", with(jpeg, {eoi})},
  };
  for (const auto& c : whole) {
    SCOPED_TRACE(c.what);
    Bytes out;
    ASSERT_TRUE(DecodeExact(*decoder, c.frame, out));
    EXPECT_EQ(out, tidy);
  }
  const Bytes cut(jpeg.begin(), jpeg.end() - 40);
  for (const Bytes& frame : {cut, with(cut, {eoi}), with(cut, {zeros}), with(cut, {zeros, eoi}),
                             with(cut, {junk})}) {
    Bytes out;
    EXPECT_FALSE(DecodeExact(*decoder, frame, out)) << "a cut scan of " << frame.size()
                                                    << " bytes was delivered";
  }
  // The scan's extent as the walk finds it: from after the SOS header to the EOI.
  tesmo::ScanExtent extent;
  ASSERT_TRUE(tesmo::FindFirstScan(jpeg.data(), static_cast<int32_t>(jpeg.size()), extent));
  EXPECT_EQ(extent.endMarker, 0xD9);
  EXPECT_EQ(extent.scanEnd, static_cast<int32_t>(jpeg.size()) - 2);
  EXPECT_EQ(jpeg[static_cast<size_t>(extent.scanStart) - 13], 0xDA);  // FF DA and 12 bytes, 3 components
  ASSERT_TRUE(tesmo::FindFirstScan(scan.data(), static_cast<int32_t>(scan.size()), extent));
  EXPECT_EQ(extent.endMarker, 0);
  EXPECT_EQ(extent.scanEnd, static_cast<int32_t>(scan.size()));
  EXPECT_FALSE(tesmo::FindFirstScan(jpeg.data(), 100, extent));  // cut before its scan
}
