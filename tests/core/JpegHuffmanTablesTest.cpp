#include "video/JpegHuffmanTables.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <vector>

#ifdef TESMO_HAVE_TURBOJPEG
#  include <turbojpeg.h>
#endif

using tesmo::AddStandardHuffmanTables;
using tesmo::ReadJpegHeaders;
using tesmo::StandardHuffmanSegment;

namespace {

using Bytes = std::vector<uint8_t>;

#ifdef TESMO_HAVE_TURBOJPEG
// The tables of every DHT segment before the first scan, by class and id.
std::map<uint8_t, Bytes> HuffmanTablesOf(const Bytes& jpeg) {
  std::map<uint8_t, Bytes> tables;
  size_t at = 2;
  while (at + 4 <= jpeg.size() && jpeg[at] == 0xFF && jpeg[at + 1] != 0xDA) {
    const size_t length = size_t(jpeg[at + 2]) << 8 | jpeg[at + 3];
    if (jpeg[at + 1] == 0xC4) {
      size_t table = at + 4;
      while (table + 17 <= at + 2 + length) {
        size_t values = 0;
        for (int i = 1; i <= 16; ++i) values += jpeg[table + i];
        tables[jpeg[table]] =
            Bytes(jpeg.begin() + long(table + 1), jpeg.begin() + long(table + 17 + values));
        table += 17 + values;
      }
    }
    at += 2 + length;
  }
  return tables;
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
#endif

// Exactly `bytes` on the heap, so that a read past the end is caught by the sanitizer.
std::unique_ptr<uint8_t[]> Exact(const Bytes& bytes) {
  auto copy = std::make_unique<uint8_t[]>(bytes.size());
  std::copy(bytes.begin(), bytes.end(), copy.get());
  return copy;
}

}  // namespace

// Data that is no JPEG, or whose headers end early or lie about their length: no
// tables are added, and nothing is read beyond the data.
TEST(JpegHuffmanTables, RefusesDataThatIsNoJpegWithoutReadingPastIt) {
  Bytes out = {1, 2, 3};
  EXPECT_FALSE(AddStandardHuffmanTables(nullptr, 100, out));
  EXPECT_TRUE(out.empty());
  const Bytes cases[] = {
      {},
      {0xFF, 0xD8},
      {0xFF, 0xD8, 0xFF, 0xDB},                          // a segment without its length
      {0xFF, 0xD8, 0xFF, 0xDB, 0x00, 0x43, 0x00},        // a segment longer than the data
      {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x01, 0xFF, 0xDA},  // a length below 2
      {0x00, 0xD8, 0xFF, 0xDA, 0x00, 0x02},              // no SOI
      {0xFF, 0xD8, 0x12, 0x34, 0xFF, 0xDA},              // junk between segments
      {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x02, 0xFF, 0xD9},  // an image without a scan
  };
  for (const Bytes& data : cases) {
    auto exact = Exact(data);
    EXPECT_FALSE(ReadJpegHeaders(exact.get(), data.size()).valid) << data.size();
    EXPECT_FALSE(AddStandardHuffmanTables(exact.get(), data.size(), out));
    EXPECT_TRUE(out.empty());
  }
  // Fill bytes and a standalone marker before the scan are allowed.
  const Bytes minimal = {0xFF, 0xD8, 0xFF, 0xFF, 0xD0, 0xFF, 0xDA, 0x00};
  auto exact = Exact(minimal);
  const auto headers = ReadJpegHeaders(exact.get(), minimal.size());
  EXPECT_TRUE(headers.valid);
  EXPECT_FALSE(headers.hasHuffmanTables);
  EXPECT_EQ(headers.scanStart, 5u);
  ASSERT_TRUE(AddStandardHuffmanTables(exact.get(), minimal.size(), out));
  EXPECT_EQ(out.size(), minimal.size() + StandardHuffmanSegment().size());
  EXPECT_TRUE(ReadJpegHeaders(out.data(), out.size()).hasHuffmanTables);
}

#ifdef TESMO_HAVE_TURBOJPEG
// The reference encoder writes the standard tables unless told to optimise them:
// ours must be those, and a frame cut of its tables must decode, once they are put
// back, to exactly the picture of the whole frame.
TEST(JpegHuffmanTables, TheStandardTablesRestoreAFrameSentWithoutThem) {
  for (const int subsampling : {TJSAMP_420, TJSAMP_422, TJSAMP_444}) {
    constexpr int kWidth = 96, kHeight = 64;
    std::vector<unsigned char> rgb(kWidth * kHeight * 3);
    for (size_t i = 0; i < rgb.size(); ++i)
      rgb[i] = static_cast<unsigned char>((i * 7) ^ (i / 291));
    tjhandle encoder = tjInitCompress();
    ASSERT_NE(encoder, nullptr);
    unsigned char* encoded = nullptr;
    unsigned long encodedSize = 0;
    ASSERT_EQ(tjCompress2(encoder, rgb.data(), kWidth, 0, kHeight, TJPF_RGB, &encoded, &encodedSize,
                          subsampling, 85, 0),
              0);
    const Bytes whole(encoded, encoded + encodedSize);
    tjFree(encoded);
    tjDestroy(encoder);

    const Bytes& segment = StandardHuffmanSegment();
    Bytes ours = {0xFF, 0xD8};
    ours.insert(ours.end(), segment.begin(), segment.end());
    ours.insert(ours.end(), {0xFF, 0xDA});
    EXPECT_EQ(HuffmanTablesOf(ours), HuffmanTablesOf(whole));
    ASSERT_EQ(HuffmanTablesOf(whole).size(), 4u);

    const Bytes cut = WithoutHuffmanTables(whole);
    ASSERT_LT(cut.size(), whole.size());
    auto exactCut = Exact(cut);
    const auto headers = ReadJpegHeaders(exactCut.get(), cut.size());
    ASSERT_TRUE(headers.valid);
    EXPECT_FALSE(headers.hasHuffmanTables);
    EXPECT_TRUE(ReadJpegHeaders(whole.data(), whole.size()).hasHuffmanTables);
    Bytes restored;
    ASSERT_TRUE(AddStandardHuffmanTables(exactCut.get(), cut.size(), restored));

    auto decode = [&](const Bytes& jpeg) {
      std::vector<unsigned char> pixels(kWidth * kHeight * 3);
      tjhandle decoder = tjInitDecompress();
      const int result =
          tjDecompress2(decoder, jpeg.data(), static_cast<unsigned long>(jpeg.size()),
                        pixels.data(), kWidth, 0, kHeight, TJPF_RGB, 0);
      tjDestroy(decoder);
      return result == 0 ? pixels : std::vector<unsigned char>{};
    };
    const auto expected = decode(whole);
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(decode(restored), expected) << "subsampling " << subsampling;
  }
}
#endif
