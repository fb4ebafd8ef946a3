// The picture both MJPG decode benchmarks decode: one 1920 x 1080 frame of the test
// camera (colour bars, the moving band, the number cells), and the check that a
// decoded frame shows it, so that neither side times a decode of the wrong bytes.
// Portable: the native benchmark encodes the JPEG, the program under Wine reads it.
#pragma once

#include <libyuv.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "PictureLayout.h"
#include "video/FrameConverter.h"

namespace mjpgbench {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr uint32_t kFrameNumber = 271;  // the band mid-picture, bars shifted
constexpr long kStride = kWidth * 3;    // already a multiple of 4, as DIB rows are
// As the test camera's frames: quality 85, 4:2:2 (TJSAMP_422), the standard Huffman tables.
constexpr int kQuality = 85;

// The file the native benchmark writes into its build folder for the program under Wine.
inline std::string JpegPath(const std::string& folder) { return folder + "/mjpg-1920x1080.jpg"; }

// The picture as top-down rows, each pixel in BGR or RGB order.
inline std::vector<uint8_t> DrawPicture(bool bgr) {
  std::vector<uint8_t> pixels(static_cast<size_t>(kStride) * kHeight);
  for (int y = 0; y < kHeight; ++y) {
    uint8_t* p = pixels.data() + static_cast<size_t>(y) * kStride;
    for (int x = 0; x < kWidth; ++x, p += 3) {
      const testdevices::Rgb c = testdevices::PictureColourAt(x, y, kWidth, kHeight, kFrameNumber);
      p[0] = bgr ? c.b : c.r;
      p[1] = c.g;
      p[2] = bgr ? c.r : c.b;
    }
  }
  return pixels;
}

// The mean absolute difference per byte between a decoded BGR frame (top-down rows, or
// a bottom-up DIB) and the picture; JPEG at quality 85 stays within a few levels, a
// wrong or failed decode is far off.
inline double MeanDifference(const uint8_t* bgr, bool bottomUp) {
  static const std::vector<uint8_t> picture = DrawPicture(true);
  unsigned long long sum = 0;
  for (int y = 0; y < kHeight; ++y) {
    const uint8_t* row = bgr + static_cast<size_t>(bottomUp ? kHeight - 1 - y : y) * kStride;
    const uint8_t* expected = picture.data() + static_cast<size_t>(y) * kStride;
    for (long i = 0; i < kStride; ++i) sum += std::abs(int(row[i]) - int(expected[i]));
  }
  return static_cast<double>(sum) / picture.size();
}

// The same for a whole-size host frame of the library (RGB24, RGB32 or RGB555 as a
// bottom-up DIB, I420 as top-down planes), turned back into BGR by libyuv first.
inline double MeanDifference(tesmo::PixelFormat format, const uint8_t* frame) {
  using tesmo::PixelFormat;
  if (format == PixelFormat::Rgb24) return MeanDifference(frame, true);
  std::vector<uint8_t> bgr(static_cast<size_t>(kStride) * kHeight);
  std::vector<uint8_t> argb(static_cast<size_t>(kWidth) * kHeight * 4);
  const uint8_t* from = frame;
  if (format == PixelFormat::Rgb555) {
    libyuv::ARGB1555ToARGB(frame, kWidth * 2, argb.data(), kWidth * 4, kWidth, kHeight);
    from = argb.data();
  }
  if (format == PixelFormat::I420) {
    const uint8_t* u = frame + kWidth * kHeight;
    const uint8_t* v = u + (kWidth / 2) * (kHeight / 2);
    libyuv::I420ToRGB24(frame, kWidth, u, kWidth / 2, v, kWidth / 2, bgr.data(), int(kStride),
                        kWidth, kHeight);
    return MeanDifference(bgr.data(), false);
  }
  libyuv::ARGBToRGB24(from, kWidth * 4, bgr.data(), int(kStride), kWidth, kHeight);
  return MeanDifference(bgr.data(), true);
}

// RGB555 keeps 5 bits a channel: its truncation alone is up to 7 levels.
inline double MaxMeanDifference(tesmo::PixelFormat format) {
  return format == tesmo::PixelFormat::Rgb555 ? 8.0 : 4.0;
}

}  // namespace mjpgbench
