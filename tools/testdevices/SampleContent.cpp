#include "SampleContent.h"

#include <cmath>
#include <cstdlib>
#include <cstring>

namespace testdevices {

void FillByteSequence(BYTE* data, long size, uint64_t firstByteIndex) {
  unsigned value = unsigned(firstByteIndex % kSequenceModulus);
  for (long i = 0; i < size; ++i) {
    data[i] = BYTE(value);
    if (++value == kSequenceModulus) value = 0;
  }
}

void FillTone(BYTE* data, long size, int channels, int samplesPerSec, int bitsPerSample, int toneHz,
              uint64_t firstFrame) {
  const int bytesPerSample = bitsPerSample / 8;
  const long frameBytes = long(channels) * bytesPerSample;
  if (frameBytes <= 0 || samplesPerSec <= 0) return;
  const double step = 2.0 * 3.14159265358979323846 * toneHz / samplesPerSec;
  for (long frame = 0; (frame + 1) * frameBytes <= size; ++frame) {
    // Phase from the frame index modulo the sample rate keeps the argument small.
    double s =
        0.25 * std::sin(step * double((firstFrame + uint64_t(frame)) % uint64_t(samplesPerSec)));
    int32_t level = int32_t(s * 2147483647.0);
    BYTE* out = data + frame * frameBytes;
    for (int c = 0; c < channels; ++c, out += bytesPerSample) {
      if (bytesPerSample == 1) {
        out[0] = BYTE(128 + (level >> 24));  // 8-bit PCM is unsigned
      } else {
        for (int b = 0; b < bytesPerSample; ++b)
          out[b] = BYTE(uint32_t(level) >> (32 - 8 * (bytesPerSample - b)));
      }
    }
  }
}

namespace {

struct Rgb {
  BYTE r, g, b;
};

// Top-down picture coordinates.
Rgb PatternAt(int x, int y, int width, int height, uint32_t frameNumber) {
  static const Rgb bars[8] = {{255, 255, 255}, {255, 255, 0}, {0, 255, 255}, {0, 255, 0},
                              {255, 0, 255},   {255, 0, 0},   {0, 0, 255},   {0, 0, 0}};
  const int band = height > 0 ? int((uint64_t(frameNumber) * 2) % uint64_t(height)) : 0;
  if (y >= band && y < band + 8) return {255, 255, 255};
  const int barWidth = width >= 8 ? width / 8 : 1;
  const int shifted = int((uint64_t(x) + uint64_t(frameNumber) * 4) % uint64_t(barWidth * 8));
  return bars[(shifted / barWidth) & 7];
}

BYTE Luma(Rgb c) { return BYTE((66 * c.r + 129 * c.g + 25 * c.b + 128) / 256 + 16); }
BYTE ChromaU(Rgb c) { return BYTE((-38 * c.r - 74 * c.g + 112 * c.b + 128) / 256 + 128); }
BYTE ChromaV(Rgb c) { return BYTE((112 * c.r - 94 * c.g - 18 * c.b + 128) / 256 + 128); }

}  // namespace

void FillVideoFrame(PixelFormat format, int width, int height, uint32_t frameNumber, BYTE* data,
                    long size) {
  const int rows = std::abs(height);
  // A positive height is a bottom-up DIB: the first row in memory is the bottom of the picture.
  const bool bottomUp = height > 0 && format != PixelFormat::I420;
  auto pictureRow = [&](int memoryRow) { return bottomUp ? rows - 1 - memoryRow : memoryRow; };
  if (format == PixelFormat::I420) {
    const long lumaSize = long(width) * rows;
    const int chromaWidth = width / 2, chromaRows = rows / 2;
    BYTE* u = data + lumaSize;
    BYTE* v = u + long(chromaWidth) * chromaRows;
    for (int y = 0; y < rows; ++y)
      for (int x = 0; x < width; ++x) {
        long at = long(y) * width + x;
        if (at < size) data[at] = Luma(PatternAt(x, y, width, rows, frameNumber));
      }
    for (int y = 0; y < chromaRows; ++y)
      for (int x = 0; x < chromaWidth; ++x) {
        Rgb c = PatternAt(2 * x, 2 * y, width, rows, frameNumber);
        long at = long(y) * chromaWidth + x;
        if (u + at - data < size) u[at] = ChromaU(c);
        if (v + at - data < size) v[at] = ChromaV(c);
      }
  } else {
    const int bytesPerPixel = format == PixelFormat::Rgb24   ? 3
                              : format == PixelFormat::Rgb32 ? 4
                                                             : 2;
    const long stride = long(width) * bytesPerPixel;
    for (int row = 0; row < rows && (row + 1) * stride <= size; ++row) {
      BYTE* out = data + row * stride;
      for (int x = 0; x < width; ++x, out += bytesPerPixel) {
        Rgb c = PatternAt(x, pictureRow(row), width, rows, frameNumber);
        if (format == PixelFormat::Rgb555) {
          unsigned word =
              (unsigned(c.r >> 3) << 10) | (unsigned(c.g >> 3) << 5) | unsigned(c.b >> 3);
          out[0] = BYTE(word);
          out[1] = BYTE(word >> 8);
        } else {
          out[0] = c.b;
          out[1] = c.g;
          out[2] = c.r;
          if (bytesPerPixel == 4) out[3] = 0;
        }
      }
    }
  }
  for (int i = 0; i < 4 && i < size; ++i) data[i] = BYTE(frameNumber >> (8 * i));
}

}  // namespace testdevices
