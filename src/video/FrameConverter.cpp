#include "video/FrameConverter.h"

#include <cstddef>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(_M_X64)
#  include <emmintrin.h>
#  define TESMO_CONVERT_SSE2 1
#endif

namespace tesmo {
namespace {

using Byte = unsigned char;

// BT.601 limited range, the one place its arithmetic lives; the plain and the SSE2
// rows compute exactly these integers, so both give the same bytes.
// YUV -> RGB in 16-bit lanes with 6 fractional bits:
//   luma = ((Y * kYScale) >> 1) + kYBias   = 1.164 * 64 * (Y - 16) + 32 (rounding)
//   B = (luma + kUToB * (U - 128)) >> 6
//   G = (luma - kUToG * (U - 128) - kVToG * (V - 128)) >> 6
//   R = (luma + kVToR * (V - 128)) >> 6, each clamped to 0..255.
// Only B and R can pass 32767 (the SSE2 rows saturate there); both then clamp to 255
// either way, so the plain rows need no 16-bit saturation of their own.
constexpr int kYScale = 149;   // 1.164 * 64 * 2; Y * 149 still fits 16 unsigned bits
constexpr int kYBias = -1160;  // -16 * 1.164 * 64 + 32
constexpr int kUToB = 129;     // 2.018 * 64
constexpr int kUToG = 25;      // 0.391 * 64
constexpr int kVToG = 52;      // 0.813 * 64
constexpr int kVToR = 102;     // 1.596 * 64

// RGB -> YUV with 8 fractional bits; the offsets hold 16 or 128 and the rounding.
constexpr int kRToY = 66, kGToY = 129, kBToY = 25, kYOffset = 0x1080;
constexpr int kRToU = -38, kGToU = -74, kBToU = 112;
constexpr int kRToV = 112, kGToV = -94, kBToV = -18, kChromaOffset = 0x8080;

struct Bgr {
  Byte b, g, r;
};

inline Byte Clamp8(int value) {
  return static_cast<Byte>(value < 0 ? 0 : (value > 255 ? 255 : value));
}

inline Bgr YuvToBgr(int y, int u, int v) {
  const int luma = ((y * kYScale) >> 1) + kYBias;
  const int du = u - 128, dv = v - 128;
  return {Clamp8((luma + kUToB * du) >> 6), Clamp8((luma - kUToG * du - kVToG * dv) >> 6),
          Clamp8((luma + kVToR * dv) >> 6)};
}

inline Byte RgbToY(Bgr c) {
  return static_cast<Byte>((kRToY * c.r + kGToY * c.g + kBToY * c.b + kYOffset) >> 8);
}
inline Byte RgbToU(Bgr c) {
  return static_cast<Byte>((kRToU * c.r + kGToU * c.g + kBToU * c.b + kChromaOffset) >> 8);
}
inline Byte RgbToV(Bgr c) {
  return static_cast<Byte>((kRToV * c.r + kGToV * c.g + kBToV * c.b + kChromaOffset) >> 8);
}

bool IsRgb(PixelFormat format) {
  return format == PixelFormat::Rgb24 || format == PixelFormat::Rgb32 ||
         format == PixelFormat::Rgb555 || format == PixelFormat::Rgb565;
}

int BytesPerPixel(PixelFormat rgb) {
  return rgb == PixelFormat::Rgb32 ? 4 : (rgb == PixelFormat::Rgb24 ? 3 : 2);
}

// ---------------------------------------------------------------------------------
// Pixels of the RGB targets. x is the pixel's index in the row.

template <PixelFormat Target>
inline void StorePixel(Byte* row, int x, Bgr c);

template <>
inline void StorePixel<PixelFormat::Rgb24>(Byte* row, int x, Bgr c) {
  Byte* p = row + 3 * static_cast<ptrdiff_t>(x);
  p[0] = c.b, p[1] = c.g, p[2] = c.r;
}

template <>
inline void StorePixel<PixelFormat::Rgb32>(Byte* row, int x, Bgr c) {
  Byte* p = row + 4 * static_cast<ptrdiff_t>(x);
  p[0] = c.b, p[1] = c.g, p[2] = c.r, p[3] = 0xFF;
}

// X1R5G5B5, little-endian, the unused top bit 0.
template <>
inline void StorePixel<PixelFormat::Rgb555>(Byte* row, int x, Bgr c) {
  const unsigned value = ((c.r >> 3) << 10) | ((c.g >> 3) << 5) | (c.b >> 3);
  Byte* p = row + 2 * static_cast<ptrdiff_t>(x);
  p[0] = static_cast<Byte>(value), p[1] = static_cast<Byte>(value >> 8);
}

// ---------------------------------------------------------------------------------
// YUV source rows. Every YUV layout is described by where a row's Y, U and V samples
// start and how far apart they are: pixel x has Y at y[x * yStep] and shares U at
// u[(x / 2) * chromaStep] and V likewise with its neighbour.

enum class YuvLayout { Yuy2, Uyvy, SemiPlanar, Planar };

struct YuvRow {
  const Byte* y;
  const Byte* u;
  const Byte* v;
  int yStep;
  int chromaStep;
};

YuvLayout LayoutOf(PixelFormat format) {
  switch (format) {
    case PixelFormat::Yuy2: return YuvLayout::Yuy2;
    case PixelFormat::Uyvy: return YuvLayout::Uyvy;
    case PixelFormat::Nv12: return YuvLayout::SemiPlanar;
    default: return YuvLayout::Planar;
  }
}

// Row `y` (from the top) of a YUV frame.
YuvRow YuvRowAt(const FrameFormat& f, const Byte* frame, int y) {
  const ptrdiff_t width = f.width, height = f.height;
  const ptrdiff_t chromaWidth = (width + 1) / 2, chromaHeight = (height + 1) / 2;
  const ptrdiff_t packedStride = chromaWidth * 4;
  const Byte* lumaRow = frame + y * width;
  const Byte* chroma = frame + width * height;  // the first chroma plane
  const ptrdiff_t chromaRow = y / 2;
  switch (f.format) {
    case PixelFormat::Yuy2: {
      const Byte* row = frame + y * packedStride;
      return {row, row + 1, row + 3, 2, 4};
    }
    case PixelFormat::Uyvy: {
      const Byte* row = frame + y * packedStride;
      return {row + 1, row, row + 2, 2, 4};
    }
    case PixelFormat::Nv12: {
      const Byte* row = chroma + chromaRow * chromaWidth * 2;
      return {lumaRow, row, row + 1, 1, 2};
    }
    case PixelFormat::Yv12: {  // V plane before U
      const Byte* v = chroma + chromaRow * chromaWidth;
      return {lumaRow, v + chromaWidth * chromaHeight, v, 1, 1};
    }
    default: {
      const Byte* u = chroma + chromaRow * chromaWidth;
      return {lumaRow, u, u + chromaWidth * chromaHeight, 1, 1};
    }
  }
}

// The reference rows: plain C++ over [begin, end).
template <PixelFormat Target>
void YuvToRgbRowC(const YuvRow& row, Byte* target, int begin, int end) {
  for (int x = begin; x < end; ++x) {
    const ptrdiff_t chroma = static_cast<ptrdiff_t>(x / 2) * row.chromaStep;
    StorePixel<Target>(
        target, x,
        YuvToBgr(row.y[static_cast<ptrdiff_t>(x) * row.yStep], row.u[chroma], row.v[chroma]));
  }
}

void YuvToLumaRowC(const YuvRow& row, Byte* target, int begin, int end) {
  for (int x = begin; x < end; ++x) target[x] = row.y[static_cast<ptrdiff_t>(x) * row.yStep];
}

// One I420 chroma row from the source rows above and below (4:2:2 sources carry
// chroma on every row; their average is the 4:2:0 sample) or from the one 4:2:0
// chroma row both share (then `below` is the same row).
void YuvToChromaRowC(const YuvRow& above, const YuvRow& below, Byte* u, Byte* v, int begin,
                     int end) {
  for (int i = begin; i < end; ++i) {
    const ptrdiff_t at = static_cast<ptrdiff_t>(i) * above.chromaStep;
    u[i] = static_cast<Byte>((above.u[at] + below.u[at] + 1) >> 1);
    v[i] = static_cast<Byte>((above.v[at] + below.v[at] + 1) >> 1);
  }
}

#if TESMO_CONVERT_SSE2
// 16 pixels from x on: their 16 Y bytes, and the 8 U and 8 V samples they share, one
// per 16-bit lane.
template <YuvLayout Layout>
inline void Load16(const YuvRow& row, int x, __m128i& y, __m128i& u, __m128i& v) {
  const __m128i lowBytes = _mm_set1_epi16(0x00FF);
  __m128i chroma;
  if (Layout == YuvLayout::Yuy2 || Layout == YuvLayout::Uyvy) {
    const Byte* p = (Layout == YuvLayout::Yuy2 ? row.y : row.u) + 2 * static_cast<ptrdiff_t>(x);
    const __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
    const __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 16));
    const __m128i evenA = _mm_and_si128(a, lowBytes), evenB = _mm_and_si128(b, lowBytes);
    const __m128i oddA = _mm_srli_epi16(a, 8), oddB = _mm_srli_epi16(b, 8);
    if (Layout == YuvLayout::Yuy2) {
      y = _mm_packus_epi16(evenA, evenB);
      chroma = _mm_packus_epi16(oddA, oddB);
    } else {
      y = _mm_packus_epi16(oddA, oddB);
      chroma = _mm_packus_epi16(evenA, evenB);
    }
  } else {
    y = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row.y + x));
    if (Layout == YuvLayout::SemiPlanar) {
      chroma = _mm_loadu_si128(reinterpret_cast<const __m128i*>(row.u + x));
    } else {
      const __m128i zero = _mm_setzero_si128();
      u = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row.u + x / 2)), zero);
      v = _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(row.v + x / 2)), zero);
      return;
    }
  }
  u = _mm_and_si128(chroma, lowBytes);
  v = _mm_srli_epi16(chroma, 8);
}

// A coefficient the compiler must keep as a multiplier: GCC otherwise turns each
// constant pmullw into shifts and adds, which cost more of the vector ports.
inline __m128i Coefficient(int value) {
  __m128i c = _mm_set1_epi16(static_cast<short>(value));
#  if defined(__GNUC__)
  __asm__("" : "+x"(c));
#  endif
  return c;
}

// The chroma offsets (and the luma bias) folded into one constant per term; the
// 16-bit products may wrap, the sums they give are exact.
constexpr int kBlueOffset = kYBias - 128 * kUToB;
constexpr int kRedOffset = kYBias - 128 * kVToR;
constexpr int kGreenOffset = -kYBias - 128 * (kUToG + kVToG);

// YuvToBgr on 16 pixels. Each 16-bit lane of y holds a pixel pair (even pixel low,
// odd high) whose shared chroma is the same lane of u and v, so the even and the
// odd pixels are worked on apart and nothing is shuffled until the pixels are
// stored. Out: B, G and R bytes, the 8 even pixels' first, then the 8 odd ones'.
inline void YuvToBgr16(__m128i y, __m128i u, __m128i v, __m128i& b, __m128i& g, __m128i& r) {
  const __m128i blue = _mm_add_epi16(_mm_mullo_epi16(u, Coefficient(kUToB)),
                                     _mm_set1_epi16(static_cast<short>(kBlueOffset)));
  const __m128i red = _mm_add_epi16(_mm_mullo_epi16(v, Coefficient(kVToR)),
                                    _mm_set1_epi16(static_cast<short>(kRedOffset)));
  const __m128i green = _mm_add_epi16(
      _mm_add_epi16(_mm_mullo_epi16(u, Coefficient(kUToG)), _mm_mullo_epi16(v, Coefficient(kVToG))),
      _mm_set1_epi16(static_cast<short>(kGreenOffset)));
  // (Y << 8) * (kYScale << 7) >> 16 is (Y * kYScale) >> 1 exactly.
  const __m128i scale = _mm_set1_epi16(static_cast<short>(kYScale << 7));
  const __m128i lumaEven = _mm_mulhi_epu16(_mm_slli_epi16(y, 8), scale);
  const __m128i lumaOdd = _mm_mulhi_epu16(_mm_and_si128(y, _mm_set1_epi16(-256)), scale);
  b = _mm_packus_epi16(_mm_srai_epi16(_mm_adds_epi16(lumaEven, blue), 6),
                       _mm_srai_epi16(_mm_adds_epi16(lumaOdd, blue), 6));
  g = _mm_packus_epi16(_mm_srai_epi16(_mm_subs_epi16(lumaEven, green), 6),
                       _mm_srai_epi16(_mm_subs_epi16(lumaOdd, green), 6));
  r = _mm_packus_epi16(_mm_srai_epi16(_mm_adds_epi16(lumaEven, red), 6),
                       _mm_srai_epi16(_mm_adds_epi16(lumaOdd, red), 6));
}

// YuvToBgr16's bytes as four registers of 4 B,G,R,A pixels each, in pixel order.
inline void InterleaveBgra(__m128i b, __m128i g, __m128i r, __m128i a, __m128i out[4]) {
  const __m128i bgEven = _mm_unpacklo_epi8(b, g), bgOdd = _mm_unpackhi_epi8(b, g);
  const __m128i raEven = _mm_unpacklo_epi8(r, a), raOdd = _mm_unpackhi_epi8(r, a);
  const __m128i even0 = _mm_unpacklo_epi16(bgEven, raEven);  // pixels 0, 2, 4, 6
  const __m128i even1 = _mm_unpackhi_epi16(bgEven, raEven);  // 8, 10, 12, 14
  const __m128i odd0 = _mm_unpacklo_epi16(bgOdd, raOdd);
  const __m128i odd1 = _mm_unpackhi_epi16(bgOdd, raOdd);
  out[0] = _mm_unpacklo_epi32(even0, odd0);
  out[1] = _mm_unpackhi_epi32(even0, odd0);
  out[2] = _mm_unpacklo_epi32(even1, odd1);
  out[3] = _mm_unpackhi_epi32(even1, odd1);
}

// 4 B,G,R,x pixels -> in each 8-byte half, the half's two pixels' 6 B,G,R bytes
// (SSE2 has no byte shuffle).
inline __m128i DropFourth(__m128i p) {
  const __m128i first = _mm_set_epi32(0, 0x00FFFFFF, 0, 0x00FFFFFF);
  const __m128i second = _mm_set_epi32(0x0000FFFF, static_cast<int>(0xFF000000u), 0x0000FFFF,
                                       static_cast<int>(0xFF000000u));
  return _mm_or_si128(_mm_and_si128(p, first), _mm_and_si128(_mm_srli_epi64(p, 8), second));
}

// Rows of 3-byte pixels are written 6 bytes at a time by 8-byte stores, each one's
// last 2 bytes overwritten by the next: the 16 pixels' last store runs 2 bytes into
// the following pixel, so a row needs one pixel beyond a block (see kSlack).
template <PixelFormat Target>
constexpr int kSlack = Target == PixelFormat::Rgb24 ? 1 : 0;

template <PixelFormat Target>
inline void Store16(Byte* row, int x, __m128i b, __m128i g, __m128i r);

template <>
inline void Store16<PixelFormat::Rgb32>(Byte* row, int x, __m128i b, __m128i g, __m128i r) {
  __m128i pixels[4];
  InterleaveBgra(b, g, r, _mm_set1_epi8(-1), pixels);
  __m128i* out = reinterpret_cast<__m128i*>(row + 4 * static_cast<ptrdiff_t>(x));
  for (int i = 0; i < 4; ++i) _mm_storeu_si128(out + i, pixels[i]);
}

template <>
inline void Store16<PixelFormat::Rgb24>(Byte* row, int x, __m128i b, __m128i g, __m128i r) {
  __m128i pixels[4];
  InterleaveBgra(b, g, r, _mm_setzero_si128(), pixels);
  Byte* out = row + 3 * static_cast<ptrdiff_t>(x);
  for (int i = 0; i < 4; ++i) {
    const __m128i six = DropFourth(pixels[i]);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(out + 12 * i), six);
    _mm_storeh_pi(reinterpret_cast<__m64*>(out + 12 * i + 6), _mm_castsi128_ps(six));
  }
}

template <>
inline void Store16<PixelFormat::Rgb555>(Byte* row, int x, __m128i b, __m128i g, __m128i r) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i greenMask = _mm_set1_epi16(0x03E0), redMask = _mm_set1_epi16(0x7C00);
  __m128i* out = reinterpret_cast<__m128i*>(row + 2 * static_cast<ptrdiff_t>(x));
  __m128i pixels[2];  // the even pixels' values, then the odd ones'
  for (int half = 0; half < 2; ++half) {
    const __m128i b16 = half ? _mm_unpackhi_epi8(b, zero) : _mm_unpacklo_epi8(b, zero);
    const __m128i g16 = half ? _mm_unpackhi_epi8(g, zero) : _mm_unpacklo_epi8(g, zero);
    const __m128i r16 = half ? _mm_unpackhi_epi8(r, zero) : _mm_unpacklo_epi8(r, zero);
    pixels[half] = _mm_or_si128(_mm_srli_epi16(b16, 3),
                                _mm_or_si128(_mm_and_si128(_mm_slli_epi16(g16, 2), greenMask),
                                             _mm_and_si128(_mm_slli_epi16(r16, 7), redMask)));
  }
  _mm_storeu_si128(out, _mm_unpacklo_epi16(pixels[0], pixels[1]));
  _mm_storeu_si128(out + 1, _mm_unpackhi_epi16(pixels[0], pixels[1]));
}

template <YuvLayout Layout, PixelFormat Target>
void YuvToRgbRow(const YuvRow& row, Byte* target, int width) {
  int x = 0;
  for (; x + 16 + kSlack<Target> <= width; x += 16) {
    __m128i y, u, v, b, g, r;
    Load16<Layout>(row, x, y, u, v);
    YuvToBgr16(y, u, v, b, g, r);
    Store16<Target>(target, x, b, g, r);
  }
  YuvToRgbRowC<Target>(row, target, x, width);
}

template <YuvLayout Layout>
void YuvToLumaRow(const YuvRow& row, Byte* target, int width) {
  if (Layout == YuvLayout::SemiPlanar || Layout == YuvLayout::Planar) {
    std::memcpy(target, row.y, static_cast<size_t>(width));
    return;
  }
  int x = 0;
  for (; x + 16 <= width; x += 16) {
    __m128i y, u, v;
    Load16<Layout>(row, x, y, u, v);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(target + x), y);
  }
  YuvToLumaRowC(row, target, x, width);
}

template <YuvLayout Layout>
void YuvToChromaRow(const YuvRow& above, const YuvRow& below, Byte* u, Byte* v, int chromaWidth) {
  if (Layout == YuvLayout::Planar) {
    std::memcpy(u, above.u, static_cast<size_t>(chromaWidth));
    std::memcpy(v, above.v, static_cast<size_t>(chromaWidth));
    return;
  }
  const __m128i lowBytes = _mm_set1_epi16(0x00FF);
  int i = 0;
  for (; i + 16 <= chromaWidth; i += 16) {
    __m128i us, vs;  // 16 U and 16 V samples in 16-bit lanes, 8 per register
    if (Layout == YuvLayout::SemiPlanar) {
      const __m128i* p = reinterpret_cast<const __m128i*>(above.u + 2 * static_cast<ptrdiff_t>(i));
      const __m128i a = _mm_loadu_si128(p), b = _mm_loadu_si128(p + 1);
      us = _mm_packus_epi16(_mm_and_si128(a, lowBytes), _mm_and_si128(b, lowBytes));
      vs = _mm_packus_epi16(_mm_srli_epi16(a, 8), _mm_srli_epi16(b, 8));
    } else {
      // 32 pixels of two rows, their chroma averaged (pavgb rounds up like the C row).
      const Byte* pa =
          (Layout == YuvLayout::Yuy2 ? above.y : above.u) + 4 * static_cast<ptrdiff_t>(i);
      const Byte* pb =
          (Layout == YuvLayout::Yuy2 ? below.y : below.u) + 4 * static_cast<ptrdiff_t>(i);
      __m128i chroma[2];
      for (int k = 0; k < 2; ++k) {
        const __m128i* qa = reinterpret_cast<const __m128i*>(pa + 32 * k);
        const __m128i* qb = reinterpret_cast<const __m128i*>(pb + 32 * k);
        const __m128i a0 = _mm_avg_epu8(_mm_loadu_si128(qa), _mm_loadu_si128(qb));
        const __m128i a1 = _mm_avg_epu8(_mm_loadu_si128(qa + 1), _mm_loadu_si128(qb + 1));
        chroma[k] =
            Layout == YuvLayout::Yuy2
                ? _mm_packus_epi16(_mm_srli_epi16(a0, 8), _mm_srli_epi16(a1, 8))
                : _mm_packus_epi16(_mm_and_si128(a0, lowBytes), _mm_and_si128(a1, lowBytes));
      }
      us = _mm_packus_epi16(_mm_and_si128(chroma[0], lowBytes), _mm_and_si128(chroma[1], lowBytes));
      vs = _mm_packus_epi16(_mm_srli_epi16(chroma[0], 8), _mm_srli_epi16(chroma[1], 8));
    }
    _mm_storeu_si128(reinterpret_cast<__m128i*>(u + i), us);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(v + i), vs);
  }
  YuvToChromaRowC(above, below, u, v, i, chromaWidth);
}
#else
template <YuvLayout Layout, PixelFormat Target>
void YuvToRgbRow(const YuvRow& row, Byte* target, int width) {
  YuvToRgbRowC<Target>(row, target, 0, width);
}

template <YuvLayout Layout>
void YuvToLumaRow(const YuvRow& row, Byte* target, int width) {
  YuvToLumaRowC(row, target, 0, width);
}

template <YuvLayout Layout>
void YuvToChromaRow(const YuvRow& above, const YuvRow& below, Byte* u, Byte* v, int chromaWidth) {
  YuvToChromaRowC(above, below, u, v, 0, chromaWidth);
}
#endif

using YuvToRgbRowFunction = void (*)(const YuvRow&, Byte*, int);

template <YuvLayout Layout>
YuvToRgbRowFunction PickYuvToRgbRow(PixelFormat target) {
  switch (target) {
    case PixelFormat::Rgb24: return YuvToRgbRow<Layout, PixelFormat::Rgb24>;
    case PixelFormat::Rgb32: return YuvToRgbRow<Layout, PixelFormat::Rgb32>;
    default: return YuvToRgbRow<Layout, PixelFormat::Rgb555>;
  }
}

YuvToRgbRowFunction PickYuvToRgbRow(YuvLayout layout, PixelFormat target) {
  switch (layout) {
    case YuvLayout::Yuy2: return PickYuvToRgbRow<YuvLayout::Yuy2>(target);
    case YuvLayout::Uyvy: return PickYuvToRgbRow<YuvLayout::Uyvy>(target);
    case YuvLayout::SemiPlanar: return PickYuvToRgbRow<YuvLayout::SemiPlanar>(target);
    default: return PickYuvToRgbRow<YuvLayout::Planar>(target);
  }
}

// ---------------------------------------------------------------------------------
// RGB source rows, unpacked to 4-byte B,G,R,x pixels a chunk at a time, so that a row
// needs no buffer beyond the stack. Every RGB pair is rare from a camera: plain C++.

constexpr int kChunkPixels = 256;

inline int Expand5(unsigned value) { return static_cast<int>((value << 3) | (value >> 2)); }
inline int Expand6(unsigned value) { return static_cast<int>((value << 2) | (value >> 4)); }

// Pixels [begin, begin + count) of an RGB row as B,G,R,x quadruples; Rgb32 rows are
// that already and are returned in place.
const Byte* RgbToBgraChunk(PixelFormat format, const Byte* row, int begin, int count, Byte* chunk) {
  if (format == PixelFormat::Rgb32) return row + 4 * static_cast<ptrdiff_t>(begin);
  for (int i = 0; i < count; ++i) {
    const ptrdiff_t x = begin + i;
    Byte* p = chunk + 4 * i;
    if (format == PixelFormat::Rgb24) {
      p[0] = row[3 * x], p[1] = row[3 * x + 1], p[2] = row[3 * x + 2];
    } else {
      const unsigned value = row[2 * x] | (row[2 * x + 1] << 8);
      const bool is565 = format == PixelFormat::Rgb565;
      p[0] = static_cast<Byte>(Expand5(value & 0x1F));
      p[1] = static_cast<Byte>(is565 ? Expand6((value >> 5) & 0x3F) : Expand5((value >> 5) & 0x1F));
      p[2] = static_cast<Byte>(Expand5(is565 ? value >> 11 : (value >> 10) & 0x1F));
    }
    p[3] = 0xFF;
  }
  return chunk;
}

inline Bgr BgrAt(const Byte* bgra, int i) {
  return {bgra[4 * i], bgra[4 * i + 1], bgra[4 * i + 2]};
}

void RgbToRgbRow(PixelFormat source, PixelFormat target, const Byte* from, Byte* to, int width) {
  // RGB32's fourth byte is whatever the camera left there; the host gets it opaque.
  if (source == target && source != PixelFormat::Rgb32) {
    std::memcpy(to, from, static_cast<size_t>(width) * static_cast<size_t>(BytesPerPixel(source)));
    return;
  }
  Byte chunk[4 * kChunkPixels];
  for (int begin = 0; begin < width; begin += kChunkPixels) {
    const int count = width - begin < kChunkPixels ? width - begin : kChunkPixels;
    const Byte* bgra = RgbToBgraChunk(source, from, begin, count, chunk);
    for (int i = 0; i < count; ++i) {
      switch (target) {
        case PixelFormat::Rgb24:
          StorePixel<PixelFormat::Rgb24>(to, begin + i, BgrAt(bgra, i));
          break;
        case PixelFormat::Rgb32:
          StorePixel<PixelFormat::Rgb32>(to, begin + i, BgrAt(bgra, i));
          break;
        default: StorePixel<PixelFormat::Rgb555>(to, begin + i, BgrAt(bgra, i)); break;
      }
    }
  }
}

// Two RGB rows (even width) into two Y rows and one U and one V row; each chroma
// sample is that of the 2 x 2 block's average colour.
void RgbToI420Rows(PixelFormat source, const Byte* above, const Byte* below, Byte* yAbove,
                   Byte* yBelow, Byte* u, Byte* v, int width) {
  Byte chunkAbove[4 * kChunkPixels], chunkBelow[4 * kChunkPixels];
  for (int begin = 0; begin < width; begin += kChunkPixels) {
    const int count = width - begin < kChunkPixels ? width - begin : kChunkPixels;
    const Byte* a = RgbToBgraChunk(source, above, begin, count, chunkAbove);
    const Byte* b = RgbToBgraChunk(source, below, begin, count, chunkBelow);
    for (int i = 0; i < count; i += 2) {
      const Bgr pixels[4] = {BgrAt(a, i), BgrAt(a, i + 1), BgrAt(b, i), BgrAt(b, i + 1)};
      yAbove[begin + i] = RgbToY(pixels[0]);
      yAbove[begin + i + 1] = RgbToY(pixels[1]);
      yBelow[begin + i] = RgbToY(pixels[2]);
      yBelow[begin + i + 1] = RgbToY(pixels[3]);
      const Bgr mean = {
          static_cast<Byte>((pixels[0].b + pixels[1].b + pixels[2].b + pixels[3].b + 2) >> 2),
          static_cast<Byte>((pixels[0].g + pixels[1].g + pixels[2].g + pixels[3].g + 2) >> 2),
          static_cast<Byte>((pixels[0].r + pixels[1].r + pixels[2].r + pixels[3].r + 2) >> 2)};
      u[(begin + i) / 2] = RgbToU(mean);
      v[(begin + i) / 2] = RgbToV(mean);
    }
  }
}

ptrdiff_t RgbStride(PixelFormat format, int32_t width) {
  return (static_cast<ptrdiff_t>(width) * BytesPerPixel(format) * 8 + 31) / 32 * 4;
}

int64_t FrameBytes64(const FrameFormat& f) {
  const int64_t width = f.width, height = f.height;
  if (IsRgb(f.format)) return RgbStride(f.format, f.width) * height;
  const int64_t chroma = ((width + 1) / 2) * ((height + 1) / 2);
  switch (f.format) {
    case PixelFormat::Yuy2:
    case PixelFormat::Uyvy: return ((width + 1) / 2) * 4 * height;
    default: return width * height + 2 * chroma;
  }
}

}  // namespace

int32_t SourceFrameBytes(const FrameFormat& format) {
  // 65535 keeps every row and plane offset far from overflow; no camera comes close.
  if (format.width <= 0 || format.height <= 0 || format.width > 65535 || format.height > 65535)
    return -1;
  const int64_t bytes = FrameBytes64(format);
  return bytes > INT32_MAX ? -1 : static_cast<int32_t>(bytes);
}

int32_t TargetFrameBytes(PixelFormat target, int32_t width, int32_t height) {
  if (width <= 0 || height <= 0 || width > 65535 || height > 65535) return -1;
  int64_t bytes;
  switch (target) {
    case PixelFormat::Rgb24:
    case PixelFormat::Rgb32:
    case PixelFormat::Rgb555: bytes = int64_t{width} * height * BytesPerPixel(target); break;
    case PixelFormat::I420:
      if (width % 2 != 0 || height % 2 != 0) return -1;
      bytes = int64_t{width} * height * 3 / 2;
      break;
    default: return -1;
  }
  return bytes > INT32_MAX ? -1 : static_cast<int32_t>(bytes);
}

bool FrameConverter::Configure(const FrameFormat& source, PixelFormat target) {
  sourceBytes = targetBytes = -1;
  const int32_t fromBytes = SourceFrameBytes(source);
  const int32_t toBytes = TargetFrameBytes(target, source.width, source.height);
  if (fromBytes < 0 || toBytes < 0) return false;
  from = source;
  if (!IsRgb(from.format)) from.topDown = true;
  to = target;
  sourceBytes = fromBytes;
  targetBytes = toBytes;
  return true;
}

void FrameConverter::Convert(const unsigned char* source, unsigned char* target) const {
  if (!IsConfigured()) return;
  const int width = from.width, height = from.height;
  // Rows are walked from the top of the picture; these give each side's row y.
  const ptrdiff_t sourceStride = IsRgb(from.format) ? RgbStride(from.format, width) : 0;
  auto rgbSourceRow = [&](int y) {
    return source + (from.topDown ? y : height - 1 - y) * sourceStride;
  };
  const ptrdiff_t targetStride =
      to == PixelFormat::I420 ? width : static_cast<ptrdiff_t>(width) * BytesPerPixel(to);
  auto rgbTargetRow = [&](int y) { return target + (height - 1 - y) * targetStride; };
  Byte* const targetU = target + static_cast<ptrdiff_t>(width) * height;
  Byte* const targetV = targetU + static_cast<ptrdiff_t>(width / 2) * (height / 2);

  if (IsRgb(from.format)) {
    if (to != PixelFormat::I420) {
      for (int y = 0; y < height; ++y)
        RgbToRgbRow(from.format, to, rgbSourceRow(y), rgbTargetRow(y), width);
      return;
    }
    for (int y = 0; y < height; y += 2) {
      RgbToI420Rows(from.format, rgbSourceRow(y), rgbSourceRow(y + 1), target + y * targetStride,
                    target + (y + 1) * targetStride, targetU + (y / 2) * (width / 2),
                    targetV + (y / 2) * (width / 2), width);
    }
    return;
  }

  const YuvLayout layout = LayoutOf(from.format);
  if (to != PixelFormat::I420) {
    const YuvToRgbRowFunction row = PickYuvToRgbRow(layout, to);
    for (int y = 0; y < height; ++y) row(YuvRowAt(from, source, y), rgbTargetRow(y), width);
    return;
  }
  void (*lumaRow)(const YuvRow&, Byte*, int);
  void (*chromaRow)(const YuvRow&, const YuvRow&, Byte*, Byte*, int);
  switch (layout) {
    case YuvLayout::Yuy2:
      lumaRow = YuvToLumaRow<YuvLayout::Yuy2>, chromaRow = YuvToChromaRow<YuvLayout::Yuy2>;
      break;
    case YuvLayout::Uyvy:
      lumaRow = YuvToLumaRow<YuvLayout::Uyvy>, chromaRow = YuvToChromaRow<YuvLayout::Uyvy>;
      break;
    case YuvLayout::SemiPlanar:
      lumaRow = YuvToLumaRow<YuvLayout::SemiPlanar>,
      chromaRow = YuvToChromaRow<YuvLayout::SemiPlanar>;
      break;
    default:
      lumaRow = YuvToLumaRow<YuvLayout::Planar>, chromaRow = YuvToChromaRow<YuvLayout::Planar>;
      break;
  }
  for (int y = 0; y < height; y += 2) {
    const YuvRow above = YuvRowAt(from, source, y), below = YuvRowAt(from, source, y + 1);
    lumaRow(above, target + y * targetStride, width);
    lumaRow(below, target + (y + 1) * targetStride, width);
    chromaRow(above, below, targetU + (y / 2) * (width / 2), targetV + (y / 2) * (width / 2),
              width / 2);
  }
}

}  // namespace tesmo
