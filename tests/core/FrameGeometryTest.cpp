// The geometry between a camera's picture and the host's: the centre crop, the mode
// asked of cameras that lack the host's size, and where a scaled frame's colours land.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "video/CameraModeChoice.h"
#include "video/FrameConverter.h"

using tesmo::CameraMode;
using tesmo::CentreCrop;
using tesmo::ChooseCameraMode;
using tesmo::CropRect;
using tesmo::FrameConverter;
using tesmo::FrameFormat;
using tesmo::PixelFormat;
using tesmo::SourceFrameBytes;

namespace {

using Byte = unsigned char;

std::string Text(const CropRect& c) {
  return std::to_string(c.x) + "," + std::to_string(c.y) + " " + std::to_string(c.width) + "x" +
         std::to_string(c.height);
}

}  // namespace

TEST(CentreCropGeometry, CutsTheSidesOrTheTopAndBottomToTheHostsAspect) {
  struct Case {
    int sw, sh, tw, th;
    CropRect want;
  };
  const Case cases[] = {
      // 16:9 into 4:3: the sides go, 720 * 4 / 3 = 960 wide, 160 off each side.
      {1280, 720, 640, 480, {160, 0, 960, 720}},
      {1920, 1080, 320, 240, {240, 0, 1440, 1080}},
      // 4:3 into 16:9: the top and bottom go, 640 * 9 / 16 = 360 high, 60 off each.
      {640, 480, 1280, 720, {0, 60, 640, 360}},
      // A camera smaller than the host is cut the same way; the scale comes after.
      {320, 240, 1920, 1080, {0, 30, 320, 180}},
      // Odd: 321 * 3 / 4 = 240.75 rows, to the nearest even 240 at row 0; the width,
      // uncut, stays odd.
      {321, 241, 320, 240, {0, 0, 321, 240}},
      // 721 * 4 / 3 = 961.3 columns, to the nearest even 962; the margin of 319 split
      // into an even 158 and 161.
      {1281, 721, 640, 480, {158, 0, 962, 721}},
      // One aspect: nothing cut, whatever the sizes.
      {1280, 720, 640, 360, {0, 0, 1280, 720}},
      {160, 120, 640, 480, {0, 0, 160, 120}},
      {641, 481, 641, 481, {0, 0, 641, 481}},
      // Less than a row off (1920 * 768 / 1366 = 1079.4): kept whole.
      {1920, 1080, 1366, 768, {0, 0, 1920, 1080}},
      // Never cut to nothing: two rows at least, about the middle.
      {2, 1000, 1000, 2, {0, 498, 2, 2}},
      // No size to aim at: the whole picture.
      {640, 480, 0, 480, {0, 0, 640, 480}},
      {640, 480, 320, -240, {0, 0, 640, 480}},
  };
  for (const Case& c : cases) {
    const CropRect got = CentreCrop(c.sw, c.sh, c.tw, c.th);
    EXPECT_EQ(got, c.want) << c.sw << "x" << c.sh << " for " << c.tw << "x" << c.th << ": "
                           << Text(got) << ", want " << Text(c.want);
  }
}

// Over every source up to 64 x 64 and hosts of many aspects: the crop lies inside the
// source, cuts at most one side, and a cut side is even, centred to within the even
// offset's rounding, and as long as the host's aspect allows to within a pixel; a
// side is left whole only where the cut would be under a pixel.
TEST(CentreCropGeometry, EveryCutIsEvenCentredAndAsLargeAsTheAspectAllows) {
  const std::pair<int, int> hosts[] = {{4, 3},    {16, 9},   {3, 4},     {1, 1},   {320, 240},
                                       {321, 241}, {1920, 1080}, {11, 9}, {1, 100}, {100, 1}};
  int failures = 0;
  for (int sw = 1; sw <= 64; ++sw) {
    for (int sh = 1; sh <= 64; ++sh) {
      for (const auto& [tw, th] : hosts) {
        const CropRect c = CentreCrop(sw, sh, tw, th);
        std::string fault;
        const bool cutX = c.width != sw, cutY = c.height != sh;
        const double idealWidth = double(sh) * tw / th, idealHeight = double(sw) * th / tw;
        if (c.width <= 0 || c.height <= 0 || c.x < 0 || c.y < 0 || c.x + c.width > sw ||
            c.y + c.height > sh)
          fault = "outside the source";
        else if (cutX && cutY)
          fault = "both sides cut";
        else if ((!cutX && c.x != 0) || (!cutY && c.y != 0))
          fault = "an uncut side has an offset";
        else if (cutX && (c.width % 2 || c.x % 2 || std::abs(sw - 2 * c.x - c.width) > 3))
          fault = "the cut width is odd or off centre";
        else if (cutY && (c.height % 2 || c.y % 2 || std::abs(sh - 2 * c.y - c.height) > 3))
          fault = "the cut height is odd or off centre";
        else if (cutX && c.width > 2 && std::abs(c.width - idealWidth) > 1)
          fault = "the width is not the aspect's";
        else if (cutY && c.height > 2 && std::abs(c.height - idealHeight) > 1)
          fault = "the height is not the aspect's";
        // Uncut: the nearest even length of the aspect's reached the source's (or the
        // source is at most the two pixels a cut keeps).
        else if (!cutX && !cutY &&
                 ((idealWidth < sw - 1 && sw > 2) || (idealHeight < sh - 1 && sh > 2)))
          fault = "a side more than a pixel off the aspect is kept";
        if (!fault.empty() && ++failures <= 10)
          ADD_FAILURE() << sw << "x" << sh << " for " << tw << "x" << th << ": " << Text(c) << ", "
                        << fault;
      }
    }
  }
  EXPECT_EQ(failures, 0);
}

namespace {

CameraMode Fixed(std::optional<PixelFormat> format, int32_t width, int32_t height,
                 int64_t minInterval = 333333) {
  CameraMode mode;
  mode.format = format;
  mode.minWidth = mode.maxWidth = width;
  mode.minHeight = mode.maxHeight = height;
  mode.minInterval = minInterval;
  mode.maxInterval = 2000000;
  return mode;
}

CameraMode Mjpg(int32_t width, int32_t height) {
  CameraMode mode = Fixed(std::nullopt, width, height);
  mode.motionJpeg = true;
  return mode;
}

constexpr int64_t kFiveFrames = 2000000;
const std::optional<PixelFormat> kOwnFormat;  // the host takes the camera's frames as they come

}  // namespace

// The cropped size of each mode for each host, worked out once:
//   to 4:3  1920x1080 -> 1440x1080, 1280x720 -> 960x720, 640x360 -> 480x360,
//           424x240 -> 320x240, 320x180 -> 240x180, 640x480 whole.
// "Covers" means that crop is at least the host's size in both directions.

// One 1920x1080 mode, in NV12 and in YUY2: every host size gets it, cropped and
// scaled, the first entry of the two (same size, same rank: the camera's order).
TEST(CameraModeLayouts, VirtualCameraWithOneHdMode) {
  const std::vector<CameraMode> modes = {Fixed(PixelFormat::Nv12, 1920, 1080),
                                         Fixed(PixelFormat::Yuy2, 1920, 1080)};
  // 1440x1080 covers 320x240, 640x480, 1280x960; not 1920x1440, where the largest
  // wins, and both are the largest.
  for (PixelFormat host : {PixelFormat::Rgb24, PixelFormat::I420})
    for (const auto& [w, h] : {std::pair{320, 240}, {640, 480}, {1280, 960}, {1920, 1440}})
      EXPECT_EQ(ChooseCameraMode(modes, w, h, host), 0) << w << "x" << h;
  EXPECT_EQ(ChooseCameraMode(modes, 321, 241, PixelFormat::I420), -1);  // odd I420: none
  EXPECT_EQ(ChooseCameraMode(modes, 321, 241, PixelFormat::Rgb32), 0);
  // The camera's own format: the exact size or nothing.
  EXPECT_EQ(ChooseCameraMode(modes, 1920, 1080, kOwnFormat), 0);
  EXPECT_EQ(ChooseCameraMode(modes, 640, 480, kOwnFormat), -1);
}

// A laptop camera with 16:9 modes only, all at 30 fps: the smallest that covers the
// host once cut to 4:3, whatever order the camera lists them in.
TEST(CameraModeLayouts, LaptopCameraWithSixteenByNineModesOnly) {
  const std::vector<CameraMode> listed = {
      Fixed(PixelFormat::Yuy2, 1280, 720), Fixed(PixelFormat::Yuy2, 640, 360),
      Fixed(PixelFormat::Yuy2, 424, 240), Fixed(PixelFormat::Yuy2, 320, 180)};
  const std::vector<CameraMode> reversed(listed.rbegin(), listed.rend());
  auto inReverse = [](int index) { return index < 0 ? index : 3 - index; };
  struct Case {
    int w, h, index;
  };
  const Case cases[] = {
      // 320x240: 424x240 cuts to 320x240 exactly and is the smallest that covers it
      // (320x180 gives 240x180).
      {320, 240, 2},
      // 640x480: only 1280x720 (960x720) covers it; 640x360 gives 480x360.
      {640, 480, 0},
      // 1280x960 and 1920x1440: none covers; the largest, 1280x720.
      {1280, 960, 0},
      {1920, 1440, 0},
      // Odd 321x241 for RGB: 640x360 cuts to 480x360, covering it; 424x240 is a row short.
      {321, 241, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::Message() << c.w << "x" << c.h);
    EXPECT_EQ(ChooseCameraMode(listed, c.w, c.h, PixelFormat::Rgb24), c.index);
    EXPECT_EQ(ChooseCameraMode(reversed, c.w, c.h, PixelFormat::Rgb24), inReverse(c.index));
    if (c.w % 2 == 0 && c.h % 2 == 0) {
      EXPECT_EQ(ChooseCameraMode(listed, c.w, c.h, PixelFormat::I420), c.index);
    }
  }
  EXPECT_EQ(ChooseCameraMode(listed, 321, 241, PixelFormat::I420), -1);
  EXPECT_EQ(ChooseCameraMode(listed, 640, 360, kOwnFormat), 1);
  EXPECT_EQ(ChooseCameraMode(reversed, 640, 360, kOwnFormat), 2);
  EXPECT_EQ(ChooseCameraMode(listed, 320, 240, kOwnFormat), -1);
}

// A capture card with YUY2 1920x1080 and 1280x720 at 30 fps.
TEST(CameraModeLayouts, CaptureCardWithTwoHdModes) {
  const std::vector<CameraMode> modes = {Fixed(PixelFormat::Yuy2, 1920, 1080),
                                         Fixed(PixelFormat::Yuy2, 1280, 720)};
  // 320x240, 640x480: both cover (1440x1080, 960x720); the smaller, 1280x720.
  EXPECT_EQ(ChooseCameraMode(modes, 320, 240, PixelFormat::Rgb32), 1);
  EXPECT_EQ(ChooseCameraMode(modes, 640, 480, PixelFormat::I420), 1);
  // 1280x960: 960x720 is too narrow, 1440x1080 covers.
  EXPECT_EQ(ChooseCameraMode(modes, 1280, 960, PixelFormat::Rgb555), 0);
  // 1920x1440: neither covers; the larger.
  EXPECT_EQ(ChooseCameraMode(modes, 1920, 1440, PixelFormat::Rgb24), 0);
  // Exact sizes come first, even where a larger mode would cover too.
  EXPECT_EQ(ChooseCameraMode(modes, 1280, 720, PixelFormat::Rgb24), 1);
  EXPECT_EQ(ChooseCameraMode(modes, 1920, 1080, PixelFormat::Rgb24), 0);
  EXPECT_EQ(ChooseCameraMode(modes, 1921, 1081, PixelFormat::I420), -1);
  EXPECT_EQ(ChooseCameraMode(modes, 1280, 720, kOwnFormat), 1);
  EXPECT_EQ(ChooseCameraMode(modes, 640, 480, kOwnFormat), -1);
}

// An HD webcam: MJPG at 30 fps in three sizes, YUY2 at 30 fps only at 640x480 (USB's
// bandwidth), 5 fps above it.
TEST(CameraModeLayouts, HdWebcamWithMjpgAndSlowYuy2) {
  const std::vector<CameraMode> modes = {
      Mjpg(1280, 720),                                   // 0
      Mjpg(1920, 1080),                                  // 1
      Mjpg(640, 480),                                    // 2
      Fixed(PixelFormat::Yuy2, 1280, 720, kFiveFrames),  // 3
      Fixed(PixelFormat::Yuy2, 1920, 1080, kFiveFrames), // 4
      Fixed(PixelFormat::Yuy2, 640, 480)};               // 5
  for (PixelFormat host : {PixelFormat::Rgb24, PixelFormat::I420}) {
    SCOPED_TRACE(testing::Message() << "host format " << static_cast<int>(host));
    // 320x240: no such mode. Every 30 fps mode covers it; the smallest are the two
    // 640x480, and YUY2 ranks before MJPG.
    EXPECT_EQ(ChooseCameraMode(modes, 320, 240, host), 5);
    // 640x480 exactly: both at 30 fps, YUY2 before MJPG.
    EXPECT_EQ(ChooseCameraMode(modes, 640, 480, host), 5);
    // 1280x960: of the 30 fps modes only 1920x1080 (1440x1080) covers it; YUY2
    // 1920x1080 covers it too but at 5 fps.
    EXPECT_EQ(ChooseCameraMode(modes, 1280, 960, host), 1);
    // 1920x1440: none covers; the largest at 30 fps, not the 5 fps one of its size.
    EXPECT_EQ(ChooseCameraMode(modes, 1920, 1440, host), 1);
    // 1280x720 exactly: 30 fps MJPG before 5 fps YUY2.
    EXPECT_EQ(ChooseCameraMode(modes, 1280, 720, host), 0);
  }
  EXPECT_EQ(ChooseCameraMode(modes, 641, 481, PixelFormat::I420), -1);
  // Its own format: uncompressed at the exact size, however slow; never MJPG.
  EXPECT_EQ(ChooseCameraMode(modes, 1280, 720, kOwnFormat), 3);
  EXPECT_EQ(ChooseCameraMode(modes, 1920, 1080, kOwnFormat), 4);
  EXPECT_EQ(ChooseCameraMode(modes, 640, 480, kOwnFormat), 5);
  EXPECT_EQ(ChooseCameraMode(modes, 320, 240, kOwnFormat), -1);
}

namespace {

// Solid colours in BT.601 limited YUV and the RGB they stand for.
struct Colour {
  const char* name;
  int r, g, b, y, u, v;
};
constexpr Colour kRed{"red", 255, 0, 0, 81, 90, 240};
constexpr Colour kBlue{"blue", 0, 0, 255, 41, 240, 110};
constexpr Colour kYellow{"yellow", 255, 255, 0, 210, 16, 146};
constexpr Colour kWhite{"white", 255, 255, 255, 235, 128, 128};
constexpr Colour kGreen{"green", 0, 255, 0, 145, 54, 34};

// The 1280x720 test picture: green strips on the sides that a 4:3 host's crop
// removes (x < 160, x >= 1120), and four quadrants between them about the centre:
// red, blue above, yellow, white below. Every edge is on an even column and row, so
// 4:2:x chroma holds one colour per sample.
constexpr int kWidth = 1280, kHeight = 720;
constexpr int kVerticalEdges[] = {160, 640, 1120};
constexpr int kHorizontalEdge = 360;

const Colour& PictureAt(int x, int y) {
  if (x < 160 || x >= 1120) return kGreen;
  if (y < kHorizontalEdge) return x < 640 ? kRed : kBlue;
  return x < 640 ? kYellow : kWhite;
}

std::unique_ptr<Byte[]> PaintPicture(const FrameFormat& f) {
  const int32_t bytes = SourceFrameBytes(f);
  std::unique_ptr<Byte[]> frame(new Byte[static_cast<size_t>(bytes)]);
  const size_t w = kWidth, h = kHeight;
  for (int y = 0; y < kHeight; ++y) {
    for (int x = 0; x < kWidth; ++x) {
      const Colour& c = PictureAt(x, y);
      switch (f.format) {
        case PixelFormat::Yuy2: {
          Byte* pair = frame.get() + y * w * 2 + (x / 2) * 4;
          pair[(x % 2) * 2] = static_cast<Byte>(c.y);
          pair[1] = static_cast<Byte>(c.u);
          pair[3] = static_cast<Byte>(c.v);
          break;
        }
        case PixelFormat::Nv12:
        case PixelFormat::I420: {
          frame[y * w + x] = static_cast<Byte>(c.y);
          Byte* chroma = frame.get() + w * h;
          const size_t at = (y / 2) * (w / 2) + x / 2;
          if (f.format == PixelFormat::Nv12) {
            chroma[2 * at] = static_cast<Byte>(c.u);
            chroma[2 * at + 1] = static_cast<Byte>(c.v);
          } else {
            chroma[at] = static_cast<Byte>(c.u);
            chroma[w * h / 4 + at] = static_cast<Byte>(c.v);
          }
          break;
        }
        default: {  // RGB24 or RGB32, a DIB: rows of w * bytes (already 4-aligned)
          const size_t bpp = f.format == PixelFormat::Rgb32 ? 4 : 3;
          const size_t row = f.topDown ? y : h - 1 - y;
          Byte* p = frame.get() + (row * w + x) * bpp;
          p[0] = static_cast<Byte>(c.b), p[1] = static_cast<Byte>(c.g), p[2] = static_cast<Byte>(c.r);
          if (bpp == 4) p[3] = 0;
          break;
        }
      }
    }
  }
  return frame;
}

const char* Name(PixelFormat f) {
  switch (f) {
    case PixelFormat::Yuy2: return "YUY2";
    case PixelFormat::Nv12: return "NV12";
    case PixelFormat::I420: return "I420";
    case PixelFormat::Rgb24: return "RGB24";
    case PixelFormat::Rgb32: return "RGB32";
    case PixelFormat::Rgb555: return "RGB555";
    default: return "?";
  }
}

// Checks a host frame against the picture by plain geometry: host pixel (x, y) shows
// the colour at the centre of its part of the 960x720 middle (the 4:3 crop: x from
// 160), except within a few camera pixels of an edge, where the filter blends.
// Returns the mismatches' count and describes the first; `checked` counts the pixels
// looked at.
int CompareWithPicture(PixelFormat target, int width, int height, const Byte* frame, int& checked,
                       std::string& first) {
  constexpr double cropX = 160, cropWidth = 960;
  const double stepX = cropWidth / width, stepY = double(kHeight) / height;
  auto nearEdge = [&](double sx, double sy, double margin) {
    for (int edge : kVerticalEdges)
      if (std::abs(sx - edge) < margin * stepX + 2) return true;
    return std::abs(sy - kHorizontalEdge) < margin * stepY + 2;
  };
  int mismatches = 0;
  checked = 0;
  auto mismatch = [&](int x, int y, const Colour& want, int a, int b, int c) {
    if (mismatches++ == 0)
      first = std::string("at ") + std::to_string(x) + "," + std::to_string(y) + " want " +
              want.name + ", got " + std::to_string(a) + "," + std::to_string(b) + "," +
              std::to_string(c);
  };
  if (target == PixelFormat::I420) {
    const Byte* u = frame + static_cast<size_t>(width) * height;
    const Byte* v = u + static_cast<size_t>(width / 2) * (height / 2);
    for (int y = 0; y < height; ++y) {
      for (int x = 0; x < width; ++x) {
        const double sx = cropX + (x + 0.5) * stepX, sy = (y + 0.5) * stepY;
        if (nearEdge(sx, sy, 2)) continue;
        ++checked;
        const Colour& want = PictureAt(static_cast<int>(sx), static_cast<int>(sy));
        const int luma = frame[static_cast<size_t>(y) * width + x];
        if (std::abs(luma - want.y) > 2) mismatch(x, y, want, luma, -1, -1);
        if (x % 2 || y % 2 || nearEdge(sx + stepX / 2, sy + stepY / 2, 4)) continue;
        const size_t at = static_cast<size_t>(y / 2) * (width / 2) + x / 2;
        if (std::abs(u[at] - want.u) > 2 || std::abs(v[at] - want.v) > 2)
          mismatch(x, y, want, luma, u[at], v[at]);
      }
    }
    return mismatches;
  }
  const int bpp = target == PixelFormat::Rgb32 ? 4 : target == PixelFormat::Rgb24 ? 3 : 2;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      const Byte* p = frame + (static_cast<size_t>(height - 1 - y) * width + x) * bpp;
      if (bpp == 4 && p[3] != 0xFF) mismatch(x, y, kWhite, -1, -1, p[3]);  // not opaque
      const double sx = cropX + (x + 0.5) * stepX, sy = (y + 0.5) * stepY;
      if (nearEdge(sx, sy, 2)) continue;
      ++checked;
      const Colour& want = PictureAt(static_cast<int>(sx), static_cast<int>(sy));
      // libyuv's box filter at 3:1 rounds each plane down a level, which blue's 2x
      // chroma gain makes 255 -> 250; a misplaced colour is 255 off.
      int r, g, b, tolerance = 8;
      if (bpp == 2) {
        const int value = p[0] | (p[1] << 8);
        r = (value >> 10) & 31, g = (value >> 5) & 31, b = value & 31;
        if (value & 0x8000) mismatch(x, y, want, r, g, b);
        r <<= 3, g <<= 3, b <<= 3;
        tolerance = 8 + 4;  // a five-bit step more
      } else {
        b = p[0], g = p[1], r = p[2];
      }
      if (std::abs(r - want.r) > tolerance || std::abs(g - want.g) > tolerance ||
          std::abs(b - want.b) > tolerance)
        mismatch(x, y, want, r, g, b);
    }
  }
  return mismatches;
}

}  // namespace

// A 1280x720 picture of solid colours in each kind of camera frame, scaled to 4:3
// hosts in each host format: the green sides are gone, the quadrants are in their
// places (the right way up), and the converter writes only its frame's exact length.
TEST(ScaledFrames, QuadrantsKeepTheirPlacesAndTheSidesGo) {
  const FrameFormat sources[] = {{PixelFormat::Yuy2, kWidth, kHeight, true},
                                 {PixelFormat::Nv12, kWidth, kHeight, true},
                                 {PixelFormat::I420, kWidth, kHeight, true},
                                 {PixelFormat::Rgb24, kWidth, kHeight, false},
                                 {PixelFormat::Rgb32, kWidth, kHeight, true}};
  const PixelFormat targets[] = {PixelFormat::Rgb24, PixelFormat::Rgb32, PixelFormat::Rgb555,
                                 PixelFormat::I420};
  for (const FrameFormat& source : sources) {
    const std::unique_ptr<Byte[]> picture = PaintPicture(source);
    for (const auto& [width, height] : {std::pair{320, 240}, {640, 480}}) {
      for (PixelFormat target : targets) {
        SCOPED_TRACE(testing::Message() << Name(source.format) << " -> " << Name(target) << " "
                                        << width << "x" << height);
        FrameConverter converter;
        ASSERT_TRUE(converter.Configure(source, target, width, height));
        EXPECT_EQ(converter.Crop(), (CropRect{160, 0, 960, 720}));
        const int32_t bytes = converter.TargetBytes();
        const int32_t want = target == PixelFormat::I420 ? width * height * 3 / 2
                             : width * height * (target == PixelFormat::Rgb32   ? 4
                                                 : target == PixelFormat::Rgb24 ? 3
                                                                                : 2);
        ASSERT_EQ(bytes, want);
        // Exactly the frame's length on the heap: a byte past it is the sanitizer's.
        std::unique_ptr<Byte[]> frame(new Byte[static_cast<size_t>(bytes)]);
        std::fill(frame.get(), frame.get() + bytes, Byte{0x80});
        converter.Convert(picture.get(), frame.get());
        int checked = 0;
        std::string first;
        const int mismatches = CompareWithPicture(target, width, height, frame.get(), checked, first);
        EXPECT_EQ(mismatches, 0) << first;
        EXPECT_GT(checked, width * height * 8 / 10);  // the edges' margins leave most pixels
      }
    }
  }
}
