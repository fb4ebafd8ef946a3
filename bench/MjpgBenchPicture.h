// The picture both MJPG decode benchmarks decode: one 1920 x 1080 frame of the test
// camera (colour bars, the moving band, the number cells), and the check that a
// decoded frame shows it, so that neither side times a decode of the wrong bytes.
// Portable: the native benchmark encodes the JPEG, the program under Wine reads it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "PictureLayout.h"

namespace mjpgbench {

constexpr int kWidth = 1920, kHeight = 1080;
constexpr uint32_t kFrameNumber = 271;  // the band mid-picture, bars shifted
constexpr long kStride = kWidth * 3;    // already a multiple of 4, as DIB rows are

// The files the native benchmark writes into its build folder: the frame as libjpeg-turbo
// encodes it (quality 85, 4:2:0, the standard Huffman tables), and the same frame with its
// DHT segments taken out, as webcams that rely on the standard tables send it.
inline std::string JpegPath(const std::string& folder, bool withTables) {
  return folder + (withTables ? "/mjpg-1920x1080.jpg" : "/mjpg-1920x1080-nodht.jpg");
}

// The picture as top-down rows, each pixel in BGR (as WIC decodes) or RGB order.
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

constexpr double kMaxMeanDifference = 4.0;

}  // namespace mjpgbench
