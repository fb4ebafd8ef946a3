#include "video/FrameConverter.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "video/VideoDelivery.h"

#include <libyuv.h>

using tesmo::FrameConverter;
using tesmo::FrameFormat;
using tesmo::PixelFormat;
using tesmo::SourceFrameBytes;
using tesmo::TargetFrameBytes;

namespace {

using Byte = unsigned char;

const PixelFormat kYuvFormats[] = {PixelFormat::Yuy2, PixelFormat::Uyvy, PixelFormat::Nv12,
                                   PixelFormat::I420, PixelFormat::Yv12};
const PixelFormat kRgbFormats[] = {PixelFormat::Rgb24, PixelFormat::Rgb32, PixelFormat::Rgb555,
                                   PixelFormat::Rgb565};
const PixelFormat kRgbTargets[] = {PixelFormat::Rgb24, PixelFormat::Rgb32, PixelFormat::Rgb555};

const char* Name(PixelFormat f) {
  static const char* const names[] = {"YUY2",  "UYVY",  "NV12",   "I420",  "YV12",
                                      "RGB24", "RGB32", "RGB555", "RGB565"};
  return names[static_cast<int>(f)];
}

std::string Describe(const FrameFormat& f, PixelFormat target) {
  return std::string(Name(f.format)) + (f.topDown ? " top-down " : " ") + std::to_string(f.width) +
         "x" + std::to_string(f.height) + " -> " + Name(target);
}

// A buffer of exactly `size` bytes on the heap, so the sanitizer catches a read or
// a write one byte past it.
struct ExactBuffer {
  explicit ExactBuffer(int32_t size) : size(size), bytes(new Byte[size]) {}
  Byte* data() { return bytes.get(); }
  const Byte* data() const { return bytes.get(); }
  std::vector<Byte> Copy() const { return std::vector<Byte>(bytes.get(), bytes.get() + size); }
  int32_t size;
  std::unique_ptr<Byte[]> bytes;
};

ExactBuffer RandomFrame(const FrameFormat& f, uint32_t seed) {
  ExactBuffer frame(SourceFrameBytes(f));
  std::mt19937 random(seed);
  for (int32_t i = 0; i < frame.size; ++i) frame.data()[i] = static_cast<Byte>(random());
  return frame;
}

// Converts into a target buffer of exactly TargetBytes() bytes, twice, over
// different fillings: a byte left unwritten or depending on the old content differs.
std::vector<Byte> ConvertChecked(const FrameFormat& f, PixelFormat target, const Byte* source) {
  FrameConverter converter;
  EXPECT_TRUE(converter.Configure(f, target)) << Describe(f, target);
  ExactBuffer out(converter.TargetBytes());
  std::memset(out.data(), 0x00, out.size);
  converter.Convert(source, out.data());
  const std::vector<Byte> first = out.Copy();
  std::memset(out.data(), 0xFF, out.size);
  converter.Convert(source, out.data());
  EXPECT_EQ(first, out.Copy()) << "unwritten target bytes: " << Describe(f, target);
  return first;
}

struct Bgr {
  int b, g, r;
};

// Pixel (x, y), y counted from the top, of a converted RGB frame (a bottom-up DIB
// with unpadded rows); RGB555 in its 5-bit values.
Bgr TargetPixel(const std::vector<Byte>& frame, PixelFormat target, int width, int height, int x,
                int y) {
  const int bytes = target == PixelFormat::Rgb32 ? 4 : (target == PixelFormat::Rgb24 ? 3 : 2);
  const Byte* p = frame.data() + (static_cast<size_t>(height - 1 - y) * width + x) * bytes;
  if (target != PixelFormat::Rgb555) return {p[0], p[1], p[2]};
  const int value = p[0] | (p[1] << 8);
  EXPECT_EQ(value & 0x8000, 0);
  return {value & 31, (value >> 5) & 31, (value >> 10) & 31};
}

// Writes one RGB pixel into a source DIB (rows padded to 4 bytes), y from the top.
void PutRgb(Byte* frame, const FrameFormat& f, int x, int y, Bgr c) {
  const int bytes = f.format == PixelFormat::Rgb32 ? 4 : (f.format == PixelFormat::Rgb24 ? 3 : 2);
  const size_t stride = (static_cast<size_t>(f.width) * bytes + 3) / 4 * 4;
  Byte* p = frame + stride * (f.topDown ? y : f.height - 1 - y) + static_cast<size_t>(x) * bytes;
  if (bytes >= 3) {
    p[0] = static_cast<Byte>(c.b), p[1] = static_cast<Byte>(c.g), p[2] = static_cast<Byte>(c.r);
    if (bytes == 4) p[3] = 0;
    return;
  }
  const int value = f.format == PixelFormat::Rgb565
                        ? ((c.r >> 3) << 11) | ((c.g >> 2) << 5) | (c.b >> 3)
                        : ((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3);
  p[0] = static_cast<Byte>(value), p[1] = static_cast<Byte>(value >> 8);
}

// Sets pixel (x, y) of a YUV frame to (y, u, v); pixels that share chroma get it too.
void PutYuv(Byte* frame, const FrameFormat& f, int x, int y, int luma, int u, int v) {
  const size_t w = f.width, h = f.height, cw = (w + 1) / 2, ch = (h + 1) / 2;
  if (f.format == PixelFormat::Yuy2 || f.format == PixelFormat::Uyvy) {
    Byte* pair = frame + y * cw * 4 + (x / 2) * 4;
    const bool yuy2 = f.format == PixelFormat::Yuy2;
    pair[yuy2 ? (x % 2) * 2 : 1 + (x % 2) * 2] = static_cast<Byte>(luma);
    pair[yuy2 ? 1 : 0] = static_cast<Byte>(u);
    pair[yuy2 ? 3 : 2] = static_cast<Byte>(v);
    return;
  }
  frame[y * w + x] = static_cast<Byte>(luma);
  Byte* chroma = frame + w * h;
  const size_t at = (y / 2) * cw + x / 2;
  if (f.format == PixelFormat::Nv12) {
    chroma[2 * at] = static_cast<Byte>(u), chroma[2 * at + 1] = static_cast<Byte>(v);
  } else {
    const bool yv12 = f.format == PixelFormat::Yv12;
    chroma[at + (yv12 ? cw * ch : 0)] = static_cast<Byte>(u);
    chroma[at + (yv12 ? 0 : cw * ch)] = static_cast<Byte>(v);
  }
}

bool Near(int a, int b, int tolerance) { return std::abs(a - b) <= tolerance; }

// The camera's colour bars at 100 %: BT.601 limited YUV and the RGB they stand for.
struct Bar {
  const char* name;
  int y, u, v;
  Bgr rgb;
};
const Bar kBars[] = {
    {"white", 235, 128, 128, {255, 255, 255}}, {"yellow", 210, 16, 146, {0, 255, 255}},
    {"cyan", 170, 166, 16, {255, 255, 0}},     {"green", 145, 54, 34, {0, 255, 0}},
    {"magenta", 106, 202, 222, {255, 0, 255}}, {"red", 81, 90, 240, {0, 0, 255}},
    {"blue", 41, 240, 110, {255, 0, 0}},       {"black", 16, 128, 128, {0, 0, 0}},
};

}  // namespace

TEST(FrameConverter, FrameSizesMatchTheCameraAndTheHostLayouts) {
  // Source lengths: RGB rows padded to 4 bytes, packed YUV rows of an even pixel
  // count, planar chroma rounded up.
  EXPECT_EQ(SourceFrameBytes({PixelFormat::Rgb24, 3, 2, false}), 24);
  EXPECT_EQ(SourceFrameBytes({PixelFormat::Rgb555, 3, 2, false}), 16);
  EXPECT_EQ(SourceFrameBytes({PixelFormat::Rgb32, 3, 2, true}), 24);
  EXPECT_EQ(SourceFrameBytes({PixelFormat::Yuy2, 3, 2, false}), 16);
  EXPECT_EQ(SourceFrameBytes({PixelFormat::Uyvy, 640, 480, false}), 614400);
  EXPECT_EQ(SourceFrameBytes({PixelFormat::I420, 3, 3, false}), 17);
  EXPECT_EQ(SourceFrameBytes({PixelFormat::Nv12, 3, 3, false}), 17);
  EXPECT_EQ(SourceFrameBytes({PixelFormat::Yv12, 1920, 1080, false}), 3110400);
  EXPECT_EQ(SourceFrameBytes({PixelFormat::Yuy2, 0, 480, false}), -1);
  EXPECT_EQ(SourceFrameBytes({PixelFormat::Rgb24, 640, -480, false}), -1);
  EXPECT_EQ(SourceFrameBytes({PixelFormat::Rgb32, 40000, 40000, false}), -1);  // > 2^31

  // Targets are exactly the library's frame length for the host's format.
  for (const auto& [format, bits] : {std::pair{PixelFormat::Rgb24, 24},
                                     {PixelFormat::Rgb32, 32},
                                     {PixelFormat::Rgb555, 16},
                                     {PixelFormat::I420, 12}}) {
    for (const auto& [w, h] : {std::pair{640, 480}, {1920, 1080}, {2, 2}, {162, 90}}) {
      EXPECT_EQ(TargetFrameBytes(format, w, h), tesmo::ExpectedFrameLength(w, h, bits))
          << Name(format) << " " << w << "x" << h;
    }
  }
  EXPECT_EQ(TargetFrameBytes(PixelFormat::Rgb24, 161, 91), 161 * 91 * 3);  // no row padding
  EXPECT_EQ(TargetFrameBytes(PixelFormat::I420, 161, 90), -1);
  EXPECT_EQ(TargetFrameBytes(PixelFormat::I420, 160, 91), -1);
  EXPECT_EQ(TargetFrameBytes(PixelFormat::Rgb565, 160, 90), -1);
  EXPECT_EQ(TargetFrameBytes(PixelFormat::Yuy2, 160, 90), -1);
}

TEST(FrameConverter, ConfigureRefusesWhatItCannotConvertAndKeepsNoOldSetting) {
  FrameConverter converter;
  EXPECT_FALSE(converter.IsConfigured());
  ASSERT_TRUE(converter.Configure({PixelFormat::Yuy2, 640, 480, false}, PixelFormat::Rgb24));
  EXPECT_EQ(converter.SourceBytes(), 614400);
  EXPECT_EQ(converter.TargetBytes(), 921600);

  // An odd I420 target, a target that is no host format, a bad size: refused, and
  // the converter no longer claims the old setting.
  EXPECT_FALSE(converter.Configure({PixelFormat::Yuy2, 641, 480, false}, PixelFormat::I420));
  EXPECT_FALSE(converter.IsConfigured());
  EXPECT_EQ(converter.SourceBytes(), -1);
  EXPECT_EQ(converter.TargetBytes(), -1);
  EXPECT_FALSE(converter.Configure({PixelFormat::Yuy2, 640, 479, false}, PixelFormat::I420));
  EXPECT_FALSE(converter.Configure({PixelFormat::Rgb24, 64, 48, false}, PixelFormat::Rgb565));
  EXPECT_FALSE(converter.Configure({PixelFormat::Rgb24, 64, 48, false}, PixelFormat::Nv12));
  EXPECT_FALSE(converter.Configure({PixelFormat::Nv12, 0, 48, false}, PixelFormat::Rgb32));
  EXPECT_FALSE(converter.Configure({PixelFormat::Nv12, 64, -48, false}, PixelFormat::Rgb32));

  // Unconfigured, Convert touches nothing.
  Byte source[16] = {}, target[16];
  std::memset(target, 0xA5, sizeof target);
  converter.Convert(source, target);
  for (Byte b : target) EXPECT_EQ(b, 0xA5);

  // Odd sizes are fine for RGB targets, and from odd planar sources.
  ASSERT_TRUE(converter.Configure({PixelFormat::I420, 5, 3, false}, PixelFormat::Rgb555));
  EXPECT_EQ(converter.SourceBytes(), 15 + 2 * 6);
  EXPECT_EQ(converter.TargetBytes(), 30);
}

// An RGB camera scaled into a large I420 target goes through an ARGB picture of the
// target's size: 65534 x 21844 makes 5.7 GB of it, which a 32-bit process cannot
// hold and its size_t cannot even count. The converter refuses; it must not size a
// wrapped, smaller buffer and write past it. (A 64-bit process would really allocate
// it, so this runs in the x86 build.)
TEST(FrameConverter, AScratchPictureBeyondTheAddressSpaceIsRefused) {
  if (sizeof(void*) != 4) GTEST_SKIP() << "64-bit: the picture would be allocated";
  const int32_t width = 65534, height = 21844;
  ASSERT_GT(TargetFrameBytes(PixelFormat::I420, width, height), 0);  // a host may ask for it
  FrameConverter converter;
  EXPECT_FALSE(converter.Configure({PixelFormat::Rgb24, 64, 48, false}, PixelFormat::I420, width,
                                   height));
  EXPECT_FALSE(converter.IsConfigured());
  // The same converter still takes an ordinary setting afterwards.
  EXPECT_TRUE(converter.Configure({PixelFormat::Rgb24, 64, 48, false}, PixelFormat::I420, 32, 24));
}

// Every source into every target at odd and even sizes, reading and writing only
// inside exact-size buffers (the sanitizer's part) and writing every target byte.
TEST(FrameConverter, EveryPairStaysInsideItsBuffersAndWritesEveryByte) {
  std::vector<FrameFormat> sources;
  for (PixelFormat f : kYuvFormats) sources.push_back({f, 0, 0, false});
  for (PixelFormat f : kRgbFormats) {
    sources.push_back({f, 0, 0, false});
    sources.push_back({f, 0, 0, true});
  }
  const std::pair<int, int> sizes[] = {{1, 1}, {2, 2}, {3, 5}, {17, 3}, {33, 7}, {48, 4}, {70, 6}};
  for (FrameFormat f : sources) {
    for (const auto& [w, h] : sizes) {
      f.width = w, f.height = h;
      const ExactBuffer source = RandomFrame(f, 7);
      for (PixelFormat target : kRgbTargets) ConvertChecked(f, target, source.data());
      if (w % 2 == 0 && h % 2 == 0) ConvertChecked(f, PixelFormat::I420, source.data());
    }
  }
}

// The SSE2 rows take 16 pixels at a time and leave the rest of a row to the plain
// rows. The same picture at two widths puts the same pixels once in the SSE2 part
// and once in the plain tail: both must give the same bytes.
TEST(FrameConverter, FastAndPlainRowsGiveTheSameBytes) {
  constexpr int kWide = 64, kNarrow = 46, kHeight = 4;
  for (PixelFormat format : kYuvFormats) {
    const FrameFormat wide{format, kWide, kHeight, false}, narrow{format, kNarrow, kHeight, false};
    ExactBuffer wideFrame(SourceFrameBytes(wide)), narrowFrame(SourceFrameBytes(narrow));
    std::mt19937 random(11);
    std::vector<std::vector<int>> pixels(kHeight * kWide, std::vector<int>(3));
    for (int y = 0; y < kHeight; ++y) {
      for (int x = 0; x < kWide; x += 2) {
        const int u = static_cast<int>(random() % 256), v = static_cast<int>(random() % 256);
        for (int k = 0; k < 2; ++k) {
          const int luma = static_cast<int>(random() % 256);
          PutYuv(wideFrame.data(), wide, x + k, y, luma, u, v);
          if (x + k < kNarrow) PutYuv(narrowFrame.data(), narrow, x + k, y, luma, u, v);
        }
      }
    }
    // Planar chroma is shared by row pairs: the last writer of a pair wins in both.
    for (PixelFormat target : kRgbTargets) {
      const std::vector<Byte> a = ConvertChecked(wide, target, wideFrame.data());
      const std::vector<Byte> b = ConvertChecked(narrow, target, narrowFrame.data());
      const int bytes = static_cast<int>(b.size()) / (kNarrow * kHeight);
      for (int y = 0; y < kHeight; ++y) {
        EXPECT_EQ(0, std::memcmp(a.data() + y * kWide * bytes, b.data() + y * kNarrow * bytes,
                                 kNarrow * bytes))
            << Name(format) << " -> " << Name(target) << ", row " << y;
      }
    }
    const std::vector<Byte> a = ConvertChecked(wide, PixelFormat::I420, wideFrame.data());
    const std::vector<Byte> b = ConvertChecked(narrow, PixelFormat::I420, narrowFrame.data());
    for (int y = 0; y < kHeight; ++y) {
      EXPECT_EQ(0, std::memcmp(a.data() + y * kWide, b.data() + y * kNarrow, kNarrow))
          << Name(format) << " -> I420 Y row " << y;
    }
    for (int plane = 0; plane < 2; ++plane) {
      for (int y = 0; y < kHeight / 2; ++y) {
        const Byte* wideRow =
            a.data() + kWide * kHeight + plane * (kWide / 2) * (kHeight / 2) + y * (kWide / 2);
        const Byte* narrowRow = b.data() + kNarrow * kHeight +
                                plane * (kNarrow / 2) * (kHeight / 2) + y * (kNarrow / 2);
        EXPECT_EQ(0, std::memcmp(wideRow, narrowRow, kNarrow / 2))
            << Name(format) << " -> I420 chroma plane " << plane << " row " << y;
      }
    }
  }
}

// The bars stacked from the top, one per two rows, each at every pixel of a 37-wide
// row (SSE2 body and plain tail): every YUV source gives their colours, upright.
TEST(FrameConverter, ColourBarsComeOutInTheirColoursAndUpright) {
  constexpr int kWidth = 37;
  const int height = 2 * static_cast<int>(std::size(kBars));
  for (PixelFormat format : kYuvFormats) {
    const FrameFormat f{format, kWidth, height, false};
    ExactBuffer frame(SourceFrameBytes(f));
    std::memset(frame.data(), 0, frame.size);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < kWidth; ++x) {
        const Bar& bar = kBars[y / 2];
        PutYuv(frame.data(), f, x, y, bar.y, bar.u, bar.v);
      }
    }
    // The bars' RGB are the exact values; BT.601's rounded YUV in libyuv's fixed point
    // may miss them by two.
    for (PixelFormat target : kRgbTargets) {
      const std::vector<Byte> out = ConvertChecked(f, target, frame.data());
      const int tolerance = target == PixelFormat::Rgb555 ? 1 : 2;
      for (int y = 0; y < height; ++y) {
        const Bar& bar = kBars[y / 2];
        Bgr want = bar.rgb;
        if (target == PixelFormat::Rgb555) want = {want.b >> 3, want.g >> 3, want.r >> 3};
        for (int x = 0; x < kWidth; ++x) {
          const Bgr got = TargetPixel(out, target, kWidth, height, x, y);
          ASSERT_TRUE(Near(got.b, want.b, tolerance) && Near(got.g, want.g, tolerance) &&
                      Near(got.r, want.r, tolerance))
              << Name(format) << " -> " << Name(target) << " " << bar.name << " at " << x << ","
              << y << ": " << got.b << "," << got.g << "," << got.r;
        }
      }
    }
  }
}

// RGB into I420 gives the bars' YUV; RGB into RGB keeps the colours and turns a
// top-down source upright.
TEST(FrameConverter, RgbSourcesGiveTheBarsInEveryTargetAndEitherRowOrder) {
  constexpr int kWidth = 6;
  const int height = 2 * static_cast<int>(std::size(kBars));
  for (PixelFormat format : kRgbFormats) {
    for (bool topDown : {false, true}) {
      const FrameFormat f{format, kWidth, height, topDown};
      ExactBuffer frame(SourceFrameBytes(f));
      std::memset(frame.data(), 0, frame.size);
      for (int y = 0; y < height; ++y) {
        for (int x = 0; x < kWidth; ++x) PutRgb(frame.data(), f, x, y, kBars[y / 2].rgb);
      }
      const std::vector<Byte> i420 = ConvertChecked(f, PixelFormat::I420, frame.data());
      const Byte* u = i420.data() + kWidth * height;
      const Byte* v = u + (kWidth / 2) * (height / 2);
      for (int y = 0; y < height; ++y) {
        const Bar& bar = kBars[y / 2];
        const int cy = y / 2, tolerance = 1;
        EXPECT_TRUE(Near(i420[y * kWidth + 1], bar.y, tolerance) &&
                    Near(u[cy * (kWidth / 2)], bar.u, tolerance) &&
                    Near(v[cy * (kWidth / 2)], bar.v, tolerance))
            << Describe(f, PixelFormat::I420) << " " << bar.name << " row " << y << ": "
            << int{i420[y * kWidth + 1]} << "," << int{u[cy * (kWidth / 2)]} << ","
            << int{v[cy * (kWidth / 2)]};
      }
      for (PixelFormat target : kRgbTargets) {
        const std::vector<Byte> out = ConvertChecked(f, target, frame.data());
        for (int y = 0; y < height; ++y) {
          const Bgr got = TargetPixel(out, target, kWidth, height, kWidth - 1, y);
          Bgr want = kBars[y / 2].rgb;  // every bar is 0 or 255, which 5 and 6 bits keep
          if (target == PixelFormat::Rgb555) want = {want.b >> 3, want.g >> 3, want.r >> 3};
          EXPECT_TRUE(got.b == want.b && got.g == want.g && got.r == want.r)
              << Describe(f, target) << " row " << y << ": " << got.b << "," << got.g << ","
              << got.r;
        }
        if (target == PixelFormat::Rgb32) {
          EXPECT_EQ(out[3], 0xFF) << Describe(f, target);
        }
      }
    }
  }
}

// Bit depths: the 5- and 6-bit fields widen by repeating their top bits, narrow by
// dropping the low ones, so 565 -> 555 keeps red and blue and halves green.
TEST(FrameConverter, RgbBitDepthChangesAreExact) {
  const FrameFormat rgb565{PixelFormat::Rgb565, 2, 1, false};
  const Byte source565[4] = {0x35, 0xA6, 0xFF, 0xFF};  // 0xA635: r 20, g 49, b 21; white
  FrameConverter converter;
  ASSERT_TRUE(converter.Configure(rgb565, PixelFormat::Rgb555));
  Byte out555[4];
  converter.Convert(source565, out555);
  const int first = out555[0] | (out555[1] << 8), second = out555[2] | (out555[3] << 8);
  EXPECT_EQ(first, (20 << 10) | (24 << 5) | 21);
  EXPECT_EQ(second, 0x7FFF);

  ASSERT_TRUE(converter.Configure(rgb565, PixelFormat::Rgb24));
  Byte out24[6];
  converter.Convert(source565, out24);
  EXPECT_EQ(out24[0], (21 << 3) | (21 >> 2));
  EXPECT_EQ(out24[1], (49 << 2) | (49 >> 4));
  EXPECT_EQ(out24[2], (20 << 3) | (20 >> 2));
  EXPECT_EQ(out24[3], 255);

  const FrameFormat rgb555{PixelFormat::Rgb555, 1, 2, true};  // rows padded to 4 bytes
  const Byte source555[8] = {0x10, 0x42, 0xEE, 0xEE, 0x00, 0x7C, 0xEE, 0xEE};  // grey 16, red
  ASSERT_TRUE(converter.Configure(rgb555, PixelFormat::Rgb32));
  Byte out32[8];
  converter.Convert(source555, out32);
  const Byte wantBottomRed[8] = {0, 0, 255, 255, 132, 132, 132, 255};  // top-down, flipped
  EXPECT_EQ(0, std::memcmp(out32, wantBottomRed, 8));
}

namespace {

// libyuv's picture of a YUV frame as B,G,R,A pixels, top-down.
std::vector<Byte> LibyuvArgb(const FrameFormat& f, const Byte* frame) {
  const int w = f.width, h = f.height, cw = (w + 1) / 2, ch = (h + 1) / 2;
  std::vector<Byte> argb(static_cast<size_t>(w) * h * 4);
  const Byte* chroma = frame + static_cast<size_t>(w) * h;
  switch (f.format) {
    case PixelFormat::Yuy2: libyuv::YUY2ToARGB(frame, cw * 4, argb.data(), w * 4, w, h); break;
    case PixelFormat::Uyvy: libyuv::UYVYToARGB(frame, cw * 4, argb.data(), w * 4, w, h); break;
    case PixelFormat::Nv12:
      libyuv::NV12ToARGB(frame, w, chroma, cw * 2, argb.data(), w * 4, w, h);
      break;
    case PixelFormat::I420:
      libyuv::I420ToARGB(frame, w, chroma, cw, chroma + cw * ch, cw, argb.data(), w * 4, w, h);
      break;
    default:
      libyuv::I420ToARGB(frame, w, chroma + cw * ch, cw, chroma, cw, argb.data(), w * 4, w, h);
      break;
  }
  return argb;
}

// libyuv's I420 of an RGB source; libyuv reads a bottom-up source given a negative height.
std::vector<Byte> LibyuvI420(const FrameFormat& f, const Byte* frame) {
  const int w = f.width, h = f.height, stride = (SourceFrameBytes(f) / h);
  const int signedHeight = f.topDown ? h : -h;
  std::vector<Byte> out(static_cast<size_t>(w) * h * 3 / 2);
  Byte* y = out.data();
  Byte* u = y + w * h;
  Byte* v = u + (w / 2) * (h / 2);
  switch (f.format) {
    case PixelFormat::Rgb24:
      libyuv::RGB24ToI420(frame, stride, y, w, u, w / 2, v, w / 2, w, signedHeight);
      break;
    case PixelFormat::Rgb32:
      libyuv::ARGBToI420(frame, stride, y, w, u, w / 2, v, w / 2, w, signedHeight);
      break;
    case PixelFormat::Rgb565:
      libyuv::RGB565ToI420(frame, stride, y, w, u, w / 2, v, w / 2, w, signedHeight);
      break;
    default:
      libyuv::ARGB1555ToI420(frame, stride, y, w, u, w / 2, v, w / 2, w, signedHeight);
      break;
  }
  return out;
}

}  // namespace

TEST(FrameConverterAgainstLibyuv, YuvToRgbWithinTwoPerChannel) {
  const std::pair<int, int> sizes[] = {{64, 48}, {37, 11}, {33, 17}, {2, 2}, {1, 3}, {322, 7}};
  for (PixelFormat format : kYuvFormats) {
    for (const auto& [w, h] : sizes) {
      const FrameFormat f{format, w, h, false};
      const ExactBuffer frame = RandomFrame(f, static_cast<uint32_t>(w * 1000 + h));
      const std::vector<Byte> reference = LibyuvArgb(f, frame.data());
      for (PixelFormat target : kRgbTargets) {
        const std::vector<Byte> out = ConvertChecked(f, target, frame.data());
        // RGB555 against libyuv's 8-bit result cut to 5 bits: one step either way.
        const int tolerance = target == PixelFormat::Rgb555 ? 1 : 2,
                  shift = target == PixelFormat::Rgb555 ? 3 : 0;
        int worst = 0;
        for (int y = 0; y < h; ++y) {
          for (int x = 0; x < w; ++x) {
            const Byte* want = reference.data() + (static_cast<size_t>(y) * w + x) * 4;
            const Bgr got = TargetPixel(out, target, w, h, x, y);
            worst = std::max({worst, std::abs(got.b - (want[0] >> shift)),
                              std::abs(got.g - (want[1] >> shift)),
                              std::abs(got.r - (want[2] >> shift))});
          }
        }
        EXPECT_LE(worst, tolerance) << Describe(f, target);
        if (target == PixelFormat::Rgb32) {
          for (size_t i = 3; i < out.size(); i += 4) ASSERT_EQ(out[i], 0xFF) << Describe(f, target);
        }
      }
    }
  }
}

TEST(FrameConverterAgainstLibyuv, YuvToI420MatchesExactly) {
  const std::pair<int, int> sizes[] = {{64, 48}, {38, 12}, {2, 2}, {322, 6}};
  for (PixelFormat format : kYuvFormats) {
    for (const auto& [w, h] : sizes) {
      const FrameFormat f{format, w, h, false};
      const ExactBuffer frame = RandomFrame(f, static_cast<uint32_t>(w + h));
      std::vector<Byte> want(static_cast<size_t>(w) * h * 3 / 2);
      Byte* y = want.data();
      Byte* u = y + w * h;
      Byte* v = u + (w / 2) * (h / 2);
      const Byte* chroma = frame.data() + w * h;
      const int cw = w / 2, chromaPlane = cw * (h / 2);
      switch (format) {
        case PixelFormat::Yuy2:
          libyuv::YUY2ToI420(frame.data(), w * 2, y, w, u, cw, v, cw, w, h);
          break;
        case PixelFormat::Uyvy:
          libyuv::UYVYToI420(frame.data(), w * 2, y, w, u, cw, v, cw, w, h);
          break;
        case PixelFormat::Nv12:
          libyuv::NV12ToI420(frame.data(), w, chroma, w, y, w, u, cw, v, cw, w, h);
          break;
        case PixelFormat::I420:
          libyuv::I420Copy(frame.data(), w, chroma, cw, chroma + chromaPlane, cw, y, w, u, cw, v,
                           cw, w, h);
          break;
        default:
          libyuv::I420Copy(frame.data(), w, chroma + chromaPlane, cw, chroma, cw, y, w, u, cw, v,
                           cw, w, h);
          break;
      }
      EXPECT_EQ(ConvertChecked(f, PixelFormat::I420, frame.data()), want)
          << Describe(f, PixelFormat::I420);
    }
  }
}

TEST(FrameConverterAgainstLibyuv, RgbToI420WithinTwo) {
  const std::pair<int, int> sizes[] = {{64, 48}, {38, 12}, {2, 2}, {322, 6}};
  for (PixelFormat format : kRgbFormats) {
    for (bool topDown : {false, true}) {
      for (const auto& [w, h] : sizes) {
        const FrameFormat f{format, w, h, topDown};
        const ExactBuffer frame = RandomFrame(f, static_cast<uint32_t>(w * 7 + h));
        const std::vector<Byte> want = LibyuvI420(f, frame.data());
        const std::vector<Byte> got = ConvertChecked(f, PixelFormat::I420, frame.data());
        ASSERT_EQ(got.size(), want.size());
        int worst = 0;
        for (size_t i = 0; i < got.size(); ++i) worst = std::max(worst, std::abs(got[i] - want[i]));
        EXPECT_LE(worst, 2) << Describe(f, PixelFormat::I420);
      }
    }
  }
}

TEST(FrameConverterAgainstLibyuv, RgbToRgb32MatchesExactly) {
  for (PixelFormat format : {PixelFormat::Rgb24, PixelFormat::Rgb555, PixelFormat::Rgb565}) {
    const FrameFormat f{format, 37, 5, false};
    const ExactBuffer frame = RandomFrame(f, 3);
    const int w = f.width, h = f.height, stride = SourceFrameBytes(f) / h;
    std::vector<Byte> want(static_cast<size_t>(w) * h * 4);
    // Both bottom-up: the rows stay in the source's order.
    switch (format) {
      case PixelFormat::Rgb24:
        libyuv::RGB24ToARGB(frame.data(), stride, want.data(), w * 4, w, h);
        break;
      case PixelFormat::Rgb565:
        libyuv::RGB565ToARGB(frame.data(), stride, want.data(), w * 4, w, h);
        break;
      default: libyuv::ARGB1555ToARGB(frame.data(), stride, want.data(), w * 4, w, h); break;
    }
    std::vector<Byte> got = ConvertChecked(f, PixelFormat::Rgb32, frame.data());
    for (size_t i = 3; i < got.size(); i += 4) got[i] = want[i] = 0;  // ARGB1555 carries alpha
    EXPECT_EQ(got, want) << Name(format);
  }
}

