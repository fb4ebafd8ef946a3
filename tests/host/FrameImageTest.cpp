// The demo host's frame pictures: BMP layout and the I420 conversion.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <vector>

#include "FrameImage.h"
#include "Tesmo.h"

namespace {

uint32_t Le(const std::vector<uint8_t>& bytes, size_t at, int count) {
  uint32_t value = 0;
  for (int i = 0; i < count; ++i) value |= uint32_t(bytes[at + i]) << (8 * i);
  return value;
}

struct Yuv {
  uint8_t y, u, v;
};

// The BT.601 studio-range forms of pure colours.
const Yuv kRed = {82, 91, 240};
const Yuv kBlue = {41, 240, 111};

// A top-down I420 picture, red above and blue below.
std::vector<uint8_t> RedOverBlue(int width, int height) {
  std::vector<uint8_t> frame(size_t(width) * height * 3 / 2);
  uint8_t* u = frame.data() + width * height;
  uint8_t* v = u + (width / 2) * (height / 2);
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) frame[y * width + x] = (y < height / 2 ? kRed : kBlue).y;
  for (int y = 0; y < height / 2; ++y)
    for (int x = 0; x < width / 2; ++x) {
      const Yuv& c = y < height / 4 ? kRed : kBlue;
      u[y * (width / 2) + x] = c.u;
      v[y * (width / 2) + x] = c.v;
    }
  return frame;
}

}  // namespace

TEST(FrameImage, I420BecomesAnUprightRgbPicture) {
  const int width = 6, height = 8;  // 18-byte rows pad to 20 in the file
  auto frame = RedOverBlue(width, height);
  auto bmp = EncodeBmp(width, height, kVideoI420, frame.data(), int(frame.size()));
  ASSERT_EQ(bmp.size(), 54u + 20 * height);
  EXPECT_EQ(Le(bmp, 2, 4), bmp.size());
  EXPECT_EQ(Le(bmp, 10, 4), 54u);
  EXPECT_EQ(int32_t(Le(bmp, 22, 4)), height);  // bottom-up
  EXPECT_EQ(Le(bmp, 28, 2), 24u);
  auto near = [](int got, int want) { return got >= want - 3 && got <= want + 3; };
  for (int fileRow = 0; fileRow < height; ++fileRow) {
    const bool top = fileRow >= height / 2;  // the last rows in the file are the top
    const uint8_t* row = bmp.data() + 54 + 20 * fileRow;
    for (int x = 0; x < width; ++x) {
      const uint8_t* bgr = row + 3 * x;
      SCOPED_TRACE(testing::Message() << "row " << fileRow << " x " << x);
      EXPECT_TRUE(near(bgr[2], top ? 255 : 0)) << int(bgr[2]);
      EXPECT_TRUE(near(bgr[1], 0)) << int(bgr[1]);
      EXPECT_TRUE(near(bgr[0], top ? 0 : 255)) << int(bgr[0]);
    }
    EXPECT_EQ(row[18], 0);
    EXPECT_EQ(row[19], 0);
  }
}

TEST(FrameImage, RgbRowsAreCopiedAndPaddedAndShortFramesRefused) {
  const int width = 5, height = 3;  // 15-byte RGB24 rows pad to 16
  std::vector<uint8_t> frame(width * height * 3);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = uint8_t(i + 1);
  auto bmp = EncodeBmp(width, height, kVideoRgb24, frame.data(), int(frame.size()));
  ASSERT_EQ(bmp.size(), 54u + 16 * height);
  for (int row = 0; row < height; ++row) {
    EXPECT_EQ(std::memcmp(bmp.data() + 54 + 16 * row, frame.data() + 15 * row, 15), 0) << row;
    EXPECT_EQ(bmp[54 + 16 * row + 15], 0);
  }
  std::vector<uint8_t> rgb555(width * height * 2, 0x7f);
  auto bmp16 = EncodeBmp(width, height, kVideoRgb555, rgb555.data(), int(rgb555.size()));
  ASSERT_FALSE(bmp16.empty());
  EXPECT_EQ(Le(bmp16, 28, 2), 16u);
  EXPECT_EQ(Le(bmp16, 30, 4), 0u);  // BI_RGB: 5-5-5

  EXPECT_TRUE(EncodeBmp(width, height, kVideoRgb24, frame.data(), int(frame.size()) - 1).empty());
  EXPECT_TRUE(EncodeBmp(width, height, 7, frame.data(), int(frame.size())).empty());
  EXPECT_TRUE(EncodeBmp(0, height, kVideoRgb24, frame.data(), int(frame.size())).empty());
}
