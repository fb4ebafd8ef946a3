#include "FrameImage.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "Tesmo.h"

namespace {

uint8_t Clamp(int value) { return static_cast<uint8_t>(std::min(255, std::max(0, value))); }

void PutLe(std::vector<uint8_t>& out, size_t at, uint32_t value, int bytes) {
  for (int i = 0; i < bytes; ++i) out[at + i] = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace

void I420ToBottomUpBgr(const uint8_t* i420, int width, int height, uint8_t* bgr, int stride) {
  const uint8_t* yPlane = i420;
  const uint8_t* uPlane = yPlane + static_cast<size_t>(width) * height;
  const uint8_t* vPlane = uPlane + static_cast<size_t>(width / 2) * (height / 2);
  const int chromaWidth = width / 2, chromaHeight = height / 2;
  for (int y = 0; y < height; ++y) {
    uint8_t* out = bgr + static_cast<size_t>(height - 1 - y) * stride;
    const int cy = std::min(y / 2, chromaHeight - 1);
    for (int x = 0; x < width; ++x, out += 3) {
      const int cx = std::min(x / 2, chromaWidth - 1);
      const size_t chroma = static_cast<size_t>(cy) * chromaWidth + cx;
      const int c = yPlane[static_cast<size_t>(y) * width + x] - 16;
      const int d = chromaWidth > 0 && chromaHeight > 0 ? uPlane[chroma] - 128 : 0;
      const int e = chromaWidth > 0 && chromaHeight > 0 ? vPlane[chroma] - 128 : 0;
      out[0] = Clamp((298 * c + 516 * d + 128) >> 8);
      out[1] = Clamp((298 * c - 100 * d - 208 * e + 128) >> 8);
      out[2] = Clamp((298 * c + 409 * e + 128) >> 8);
    }
  }
}

int BitsPerPixel(int formatCode) {
  switch (formatCode) {
    case kVideoRgb24: return 24;
    case kVideoI420: return 12;
    case kVideoRgb555: return 16;
    case kVideoRgb32: return 32;
    default: return 0;
  }
}

std::vector<uint8_t> EncodeBmp(int width, int height, int formatCode, const uint8_t* frame,
                               int length) {
  const int bits = BitsPerPixel(formatCode);
  if (bits == 0 || width <= 0 || height <= 0 || !frame) return {};
  const int64_t needed = static_cast<int64_t>(width) * height * bits / 8;
  if (length < needed) return {};
  const bool planar = formatCode == kVideoI420;
  const int outBits = planar ? 24 : bits;
  // Frames come without row padding; BMP rows are padded to four bytes.
  const size_t inStride = static_cast<size_t>(width) * bits / 8;
  const size_t outStride = (static_cast<size_t>(width) * outBits / 8 + 3) & ~size_t(3);
  const size_t headerBytes = 14 + 40;
  std::vector<uint8_t> out(headerBytes + outStride * height, 0);
  out[0] = 'B';
  out[1] = 'M';
  PutLe(out, 2, static_cast<uint32_t>(out.size()), 4);
  PutLe(out, 10, headerBytes, 4);
  PutLe(out, 14, 40, 4);  // BITMAPINFOHEADER
  PutLe(out, 18, static_cast<uint32_t>(width), 4);
  PutLe(out, 22, static_cast<uint32_t>(height), 4);  // positive: bottom-up rows
  PutLe(out, 26, 1, 2);
  PutLe(out, 28, static_cast<uint32_t>(outBits), 2);
  PutLe(out, 30, 0, 4);  // BI_RGB; 16-bit BI_RGB is 5-5-5, as RGB555 frames are
  PutLe(out, 34, static_cast<uint32_t>(outStride * height), 4);
  uint8_t* pixels = out.data() + headerBytes;
  if (planar) {
    I420ToBottomUpBgr(frame, width, height, pixels, static_cast<int>(outStride));
  } else {
    for (int row = 0; row < height; ++row)
      std::memcpy(pixels + row * outStride, frame + row * inStride, inStride);
  }
  return out;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  FILE* file = std::fopen(path.c_str(), "wb");
  if (!file) return false;
  const bool written = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
  return std::fclose(file) == 0 && written;
}
