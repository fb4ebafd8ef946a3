// Reads the test camera's picture back from a delivered frame: the frame number from its
// black/white cells (which survive conversion, unlike the stamp in the first bytes) and the
// colour bars. Works on any layout the camera or a converter produces.
#pragma once
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "../../tools/testdevices/PictureLayout.h"

namespace testpicture {

using testdevices::PictureView;
using testdevices::PixelFormat;

// A host's frame: rows of exactly width * bits / 8 bytes (I420: width, then width / 2 for the
// chroma planes); RGB bottom-up for a positive height.
inline PictureView HostFrame(PixelFormat format, int width, int height, const void* data,
                             size_t size) {
  const long rowBytes = testdevices::IsRgb(format)
                            ? long(width) * testdevices::BitsPerPixel(format) / 8
                            : testdevices::RowBytes(format, width);
  return {format, width, height, static_cast<const uint8_t*>(data), size, rowBytes};
}

// The frame number the cells show (their low 24 bits), or -1 when the picture is too small to
// carry cells, or a cell is not clean black or white inside, or the check byte disagrees.
inline long ReadFrameNumber(const PictureView& view) {
  const int cell = testdevices::CellSize(view.width, view.height);
  if (cell == 0 || !view.Complete()) return -1;
  // The cell's inside: its edges may bleed in scaling, chroma subsampling or JPEG.
  const int margin = cell / 4;
  uint32_t bits = 0;
  for (int i = 0; i < testdevices::kCellColumns * testdevices::kCellRows; ++i) {
    const int left = (i % testdevices::kCellColumns + 1) * cell;
    const int top = (i / testdevices::kCellColumns + 1) * cell;
    bool white = false, black = false;
    for (int y = top + margin; y < top + cell - margin; ++y)
      for (int x = left + margin; x < left + cell - margin; ++x) {
        const int luma = testdevices::ReadLumaAt(view, x, y);
        white |= luma >= 180;
        black |= luma <= 60;
        if (luma > 60 && luma < 180) return -1;
      }
    if (white == black) return -1;
    if (white) bits |= 1u << i;
  }
  const uint32_t number = bits & 0xffffff;
  return testdevices::CellBits(number) == bits ? long(number) : -1;
}

// Empty when each of the eight bars shows, within `tolerance` per channel, the colour the
// camera drew in frame `frameNumber`; otherwise what differs. The bars are sampled at their
// middles on a row clear of the cells, the moving band and the first and last rows.
inline std::string CheckColourBars(const PictureView& view, uint32_t frameNumber,
                                   int tolerance = 40) {
  if (!view.Complete()) return "the frame is shorter than its picture";
  const int rows = view.Rows();
  const int cell = testdevices::CellSize(view.width, view.height);
  const int cellsEnd = cell * (testdevices::kCellRows + 1);
  const int band = testdevices::BandTop(view.height, frameNumber);
  int row = -1;
  for (int candidate :
       {(cellsEnd + rows) / 2, rows - 1 - cell / 2, rows * 3 / 4, rows / 2, cell / 2, 2}) {
    const bool inCells = cell && candidate >= cell && candidate < cellsEnd;
    const bool nearBand = candidate > band - 3 && candidate < band + testdevices::kBandRows + 3;
    if (candidate > 0 && candidate < rows - 1 && !inCells && !nearBand) {
      row = candidate;
      break;
    }
  }
  if (row < 0) return "no row clear of the cells and the band";
  std::string differences;
  for (int bar = 0; bar < 8; ++bar) {
    const int x = testdevices::BarCentre(bar, view.width, frameNumber);
    const testdevices::Rgb want = testdevices::kBarColours[bar];
    const testdevices::Rgb got = testdevices::ReadColourAt(view, x, row);
    if (std::abs(got.r - want.r) > tolerance || std::abs(got.g - want.g) > tolerance ||
        std::abs(got.b - want.b) > tolerance)
      differences += "bar " + std::to_string(bar) + " at (" + std::to_string(x) + "," +
                     std::to_string(row) + ") is " + std::to_string(got.r) + "/" +
                     std::to_string(got.g) + "/" + std::to_string(got.b) + ", drawn " +
                     std::to_string(want.r) + "/" + std::to_string(want.g) + "/" +
                     std::to_string(want.b) + "; ";
  }
  return differences;
}

// Empty when the bars show, within `tolerance` per channel, what the camera drew in frame
// `frameNumber` with its controls at `adjustment` (brightness added to every bar, the
// centre magnified by zoom); otherwise the first points that differ. Sampled across a row
// clear of the cells and the band, away from the bars' edges. A small tolerance (the
// default) tells a brightness shift of 24 or more from none in RGB frames.
inline std::string CheckAdjustedBars(const PictureView& view, uint32_t frameNumber,
                                     const testdevices::PictureAdjustment& adjustment,
                                     int tolerance = 10) {
  if (!view.Complete()) return "the frame is shorter than its picture";
  const int rows = view.Rows();
  const int cell = testdevices::CellSize(view.width, view.height);
  const int cellsEnd = cell * (testdevices::kCellRows + 1);
  auto clear = [&](int y) {
    if (y < 1 || y >= rows - 1 || (cell && y >= cell && y < cellsEnd + 2)) return false;
    for (int other = std::max(0, y - 3); other <= std::min(rows - 1, y + 3); ++other)
      if (testdevices::InBand(other, view.height, frameNumber, adjustment)) return false;
    return true;
  };
  int row = -1;
  for (int candidate : {(cellsEnd + rows) / 2, rows * 3 / 4, rows - 1 - cell / 2, rows / 2,
                        rows * 7 / 8, cell / 2, 2})
    if (clear(candidate)) {
      row = candidate;
      break;
    }
  if (row < 0) return "no row clear of the cells and the band";
  const int barWidth = testdevices::BarWidth(view.width);
  std::string differences;
  int compared = 0, differing = 0;
  for (int x = 1; x < view.width - 1; x += std::max(1, view.width / 64)) {
    const int from = testdevices::ZoomedFrom(x, view.width, adjustment);
    const int bar = testdevices::BarAt(from, view.width, frameNumber);
    if (std::abs(from - testdevices::BarCentre(bar, view.width, frameNumber)) > barWidth / 4)
      continue;
    const testdevices::Rgb want = testdevices::BarColourAt(x, view.width, frameNumber, adjustment);
    const testdevices::Rgb got = testdevices::ReadColourAt(view, x, row);
    ++compared;
    if (std::abs(got.r - want.r) > tolerance || std::abs(got.g - want.g) > tolerance ||
        std::abs(got.b - want.b) > tolerance) {
      if (++differing <= 3)
        differences += "(" + std::to_string(x) + "," + std::to_string(row) + ") is " +
                       std::to_string(got.r) + "/" + std::to_string(got.g) + "/" +
                       std::to_string(got.b) + ", drawn " + std::to_string(want.r) + "/" +
                       std::to_string(want.g) + "/" + std::to_string(want.b) + "; ";
    }
  }
  if (compared < 8) return "too few points away from the bars' edges";
  if (differing) differences += std::to_string(differing) + " of " + std::to_string(compared) + " differ";
  return differences;
}

// Empty when a host frame is the camera's picture of cameraWidth x cameraHeight,
// cropped about its centre to the host's aspect ratio and scaled to the host's size:
// for some position of the scrolling bars, every sampled pixel on two rows clear of
// the cells and the band shows the colour the camera drew at the matching point.
// Scaled cells cannot be read, so the frame number is searched instead; a stretched
// or bordered picture matches no position.
inline std::string CheckScaledBars(const PictureView& view, int cameraWidth, int cameraHeight,
                                   int tolerance = 48) {
  if (!view.Complete()) return "the frame is shorter than its picture";
  // The crop the library makes: the largest rectangle of the host's aspect ratio,
  // even-sized where cut, about the centre.
  const long long across = (long long)cameraWidth * view.Rows(),
                  down = (long long)cameraHeight * view.width;
  double cropX = 0, cropY = 0, cropWidth = cameraWidth, cropHeight = cameraHeight;
  if (across > down) {
    cropWidth = double((down + view.Rows()) / (2LL * view.Rows()) * 2);
    cropX = double(int((cameraWidth - cropWidth) / 2) / 2 * 2);
  } else if (across < down) {
    cropHeight = double((across + view.width) / (2LL * view.width) * 2);
    cropY = double(int((cameraHeight - cropHeight) / 2) / 2 * 2);
  }
  const int barWidth = testdevices::BarWidth(cameraWidth);
  const int positions = barWidth * 8 / testdevices::kBarShift;
  const int cell = testdevices::CellSize(cameraWidth, cameraHeight);
  const int cellsEnd = cell * (testdevices::kCellRows + 1);
  std::string best = "no sample point";
  for (int n = 0; n < positions; ++n) {
    const int band = testdevices::BandTop(cameraHeight, uint32_t(n));
    int compared = 0, differing = 0;
    std::string first;
    for (int row : {view.Rows() * 5 / 8, view.Rows() * 7 / 8}) {
      const double cameraY = cropY + (row + 0.5) * cropHeight / view.Rows();
      if (cameraY < cellsEnd + cell || (cameraY > band - 6 && cameraY < band + testdevices::kBandRows + 6))
        continue;
      for (int x = 1; x < view.width - 1; x += std::max(1, view.width / 64)) {
        const double cameraX = cropX + (x + 0.5) * cropWidth / view.width;
        // Away from a bar's edges, where the scaler blends two colours.
        const int at = testdevices::BarAt(int(cameraX), cameraWidth, uint32_t(n));
        const int centre = testdevices::BarCentre(at, cameraWidth, uint32_t(n));
        if (std::abs(int(cameraX) - centre) > barWidth / 4) continue;
        const testdevices::Rgb want =
            testdevices::PictureColourAt(int(cameraX), int(cameraY), cameraWidth, cameraHeight, uint32_t(n));
        const testdevices::Rgb got = testdevices::ReadColourAt(view, x, row);
        ++compared;
        if (std::abs(got.r - want.r) > tolerance || std::abs(got.g - want.g) > tolerance ||
            std::abs(got.b - want.b) > tolerance) {
          if (++differing == 1)
            first = "(" + std::to_string(x) + "," + std::to_string(row) + ") " +
                    std::to_string(got.r) + "," + std::to_string(got.g) + "," + std::to_string(got.b);
        }
      }
    }
    if (compared >= 8 && differing == 0) return "";
    if (compared >= 8 && n == 0) best = std::to_string(differing) + " of " + std::to_string(compared) + " differ, first " + first;
  }
  return "no bar position matches: at position 0 " + best;
}

}  // namespace testpicture
