#include "SampleContent.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace testdevices {

void FillByteSequence(uint8_t* data, long size, uint64_t firstByteIndex) {
  unsigned value = unsigned(firstByteIndex % kSequenceModulus);
  for (long i = 0; i < size; ++i) {
    data[i] = uint8_t(value);
    if (++value == kSequenceModulus) value = 0;
  }
}

void FillTone(uint8_t* data, long size, int channels, int samplesPerSec, int bitsPerSample,
              int toneHz, uint64_t firstFrame) {
  const int bytesPerSample = bitsPerSample / 8;
  const long frameBytes = long(channels) * bytesPerSample;
  if (frameBytes <= 0 || samplesPerSec <= 0) return;
  const double step = 2.0 * 3.14159265358979323846 * toneHz / samplesPerSec;
  for (long frame = 0; (frame + 1) * frameBytes <= size; ++frame) {
    // Phase from the frame index modulo the sample rate keeps the argument small.
    double s =
        0.25 * std::sin(step * double((firstFrame + uint64_t(frame)) % uint64_t(samplesPerSec)));
    int32_t level = int32_t(s * 2147483647.0);
    uint8_t* out = data + frame * frameBytes;
    for (int c = 0; c < channels; ++c, out += bytesPerSample) {
      if (bytesPerSample == 1) {
        out[0] = uint8_t(128 + (level >> 24));  // 8-bit PCM is unsigned
      } else {
        for (int b = 0; b < bytesPerSample; ++b)
          out[b] = uint8_t(uint32_t(level) >> (32 - 8 * (bytesPerSample - b)));
      }
    }
  }
}

namespace {

// Picture row y of frame `frameNumber` (PictureColourAt for each x), from the frame's bars row:
// whole rows at a time, so that large frames stay cheap to draw.
void PictureRow(int y, int width, int height, uint32_t frameNumber, const std::vector<Rgb>& bars,
                std::vector<Rgb>& line, const PictureAdjustment& adjustment) {
  if (InBand(y, height, frameNumber, adjustment))
    std::fill(line.begin(), line.end(), Rgb{255, 255, 255});
  else
    line = bars;
  const int cell = CellSize(width, height);
  if (CellAt(cell, y, cell) < 0) return;
  const uint32_t bits = CellBits(frameNumber);
  for (int x = cell; x < (kCellColumns + 1) * cell; ++x) {
    const bool white = bits >> CellAt(x, y, cell) & 1;
    line[size_t(x)] = white ? Rgb{255, 255, 255} : Rgb{0, 0, 0};
  }
}

}  // namespace

void DrawRow(PixelFormat format, int width, int height, int y, const std::vector<Rgb>& line,
             uint8_t* data, long stride) {
  const int rows = std::abs(height);
  auto colour = [&](int x, int) { return line[size_t(x)]; };
  if (IsRgb(format)) {
    // A positive height is a bottom-up DIB: the first row in memory is the bottom of the picture.
    uint8_t* out = data + long(height > 0 ? rows - 1 - y : y) * stride;
    const int bytesPerPixel = BitsPerPixel(format) / 8;
    for (int x = 0; x < width; ++x, out += bytesPerPixel) {
      const Rgb c = colour(x, y);
      if (bytesPerPixel >= 3) {
        out[0] = c.b;
        out[1] = c.g;
        out[2] = c.r;
        if (bytesPerPixel == 4) out[3] = 0;
        continue;
      }
      const unsigned word = format == PixelFormat::Rgb555
                                ? unsigned(c.r >> 3) << 10 | unsigned(c.g >> 3) << 5 | c.b >> 3
                                : unsigned(c.r >> 3) << 11 | unsigned(c.g >> 2) << 5 | c.b >> 3;
      out[0] = uint8_t(word);
      out[1] = uint8_t(word >> 8);
    }
    return;
  }
  if (format == PixelFormat::Yuy2 || format == PixelFormat::Uyvy) {
    // Chroma of each pixel pair from its left pixel, as for the planar layouts' 2x2 blocks.
    const int lumaAt = format == PixelFormat::Yuy2 ? 0 : 1, chromaAt = 1 - lumaAt;
    uint8_t* out = data + long(y) * stride;
    for (int x = 0; x + 1 < width; x += 2, out += 4) {
      const Rgb left = colour(x, y);
      out[lumaAt] = LumaOf(left);
      out[lumaAt + 2] = LumaOf(colour(x + 1, y));
      out[chromaAt] = ChromaUOf(left);
      out[chromaAt + 2] = ChromaVOf(left);
    }
    return;
  }
  uint8_t* luma = data + long(y) * stride;
  for (int x = 0; x < width; ++x) luma[x] = LumaOf(colour(x, y));
  // One chroma row for each pair of rows, from the pair's top-left pixels.
  if (y % 2 || y / 2 >= rows / 2) return;
  uint8_t* chroma = data + stride * rows;
  const long chromaRows = rows / 2;
  if (format == PixelFormat::Nv12) {
    uint8_t* uv = chroma + long(y / 2) * stride;
    for (int x = 0; x + 1 < width; x += 2, uv += 2) {
      const Rgb c = colour(x, y);
      uv[0] = ChromaUOf(c);
      uv[1] = ChromaVOf(c);
    }
    return;
  }
  const long chromaStride = stride / 2;
  uint8_t* first = chroma + long(y / 2) * chromaStride;
  uint8_t* second = first + chromaStride * chromaRows;
  uint8_t* u = format == PixelFormat::I420 ? first : second;
  uint8_t* v = format == PixelFormat::I420 ? second : first;
  for (int x = 0; x < width / 2; ++x) {
    const Rgb c = colour(2 * x, y);
    u[x] = ChromaUOf(c);
    v[x] = ChromaVOf(c);
  }
}

void FillVideoFrame(PixelFormat format, int width, int height, uint32_t frameNumber, uint8_t* data,
                    long size, long rowBytes, const PictureAdjustment& adjustment) {
  if (width <= 0 || height == 0 || size <= 0) return;
  const long stride = rowBytes > 0 ? rowBytes : RowBytes(format, width);
  const long frameBytes = FrameBytes(format, width, height, stride);
  // A short sample gets the start of a whole frame.
  std::vector<uint8_t> whole;
  uint8_t* target = data;
  if (size < frameBytes) {
    whole.resize(size_t(frameBytes));
    target = whole.data();
  }
  std::vector<Rgb> bars(static_cast<size_t>(width)), line(bars.size());
  for (int x = 0; x < width; ++x) bars[size_t(x)] = BarColourAt(x, width, frameNumber, adjustment);
  // Every row outside the cells shows the bars or the band. An RGB row stands alone in memory,
  // so each of those two is drawn once and copied, which keeps HD frames cheap to draw.
  const int rows = std::abs(height), cell = CellSize(width, height);
  const uint8_t* drawn[2] = {nullptr, nullptr};  // a bars row, a band row
  for (int y = 0; y < rows; ++y) {
    uint8_t* row = target + long(height > 0 ? rows - 1 - y : y) * stride;
    const bool plain = IsRgb(format) && CellAt(cell, y, cell) < 0;
    const int kind = InBand(y, height, frameNumber, adjustment);
    if (plain && drawn[kind]) {
      std::memcpy(row, drawn[kind], size_t(stride));
      continue;
    }
    PictureRow(y, width, height, frameNumber, bars, line, adjustment);
    DrawRow(format, width, height, y, line, target, stride);
    if (plain) drawn[kind] = row;
  }
  if (target != data) std::memcpy(data, target, size_t(size));
  for (int i = 0; i < 4 && i < size; ++i) data[i] = uint8_t(frameNumber >> (8 * i));
}

}  // namespace testdevices
