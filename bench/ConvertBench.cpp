// The frame converter (FrameConverter::Convert) beside libyuv's bare calls for the same
// work: "Convert/<source>/<target>/<size>/seam" and ".../libyuv" at the same size, and
// "CropScale/<source>/<size>/<target>/<size>/..." for a 16:9 camera picture cropped to
// a 4:3 host and scaled down. The bare side is the calls the converter makes (two
// where it goes through ARGB), written as a libyuv user would, without the converter's
// layout bookkeeping. Both sides must write the same bytes, checked before timing.
// scripts/bench.sh prints the ratios of their rates.
#include <benchmark/benchmark.h>
#include <libyuv.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <tuple>
#include <vector>

#include "video/FrameConverter.h"

namespace {

using tesmo::CropRect;
using tesmo::FrameConverter;
using tesmo::FrameFormat;
using tesmo::PixelFormat;
using Byte = unsigned char;

const char* Name(PixelFormat f) {
  switch (f) {
    case PixelFormat::Yuy2: return "YUY2";
    case PixelFormat::Uyvy: return "UYVY";
    case PixelFormat::Nv12: return "NV12";
    case PixelFormat::I420: return "I420";
    case PixelFormat::Rgb24: return "RGB24";
    case PixelFormat::Rgb32: return "RGB32";
    case PixelFormat::Rgb555: return "RGB555";
    default: return "other";
  }
}

// The frames of one case: the camera's (as FrameConverter takes it), the host's (RGB a
// bottom-up DIB of tight rows, I420 tight planes) and room for the steps between.
struct Frames {
  int w, h;    // camera
  int tw, th;  // host
  const Byte* src;
  Byte* dst;
  Byte* scratch;  // an ARGB or I420 picture of the camera's size
  Byte* scratch2;  // an I420 picture of the host's size
  // The camera's planes: NV12's interleaved chroma, I420's U and V.
  const Byte* Chroma() const { return src + w * h; }
  const Byte* V() const { return src + w * h + (w / 2) * (h / 2); }
  // The host's I420 planes.
  Byte* DstU() const { return dst + tw * th; }
  Byte* DstV() const { return DstU() + (tw / 2) * (th / 2); }
};

using Bare = std::function<void(const Frames&)>;

struct Case {
  PixelFormat from, to;
  int w, h, tw, th;
  Bare bare;
};

// The same-size pairs, the bare calls of each. A negative height makes libyuv write
// (or read) bottom-up.
std::vector<std::pair<PixelFormat, PixelFormat>> SameSizePairs() {
  return {{PixelFormat::Yuy2, PixelFormat::Rgb24},  {PixelFormat::Yuy2, PixelFormat::Rgb32},
          {PixelFormat::Yuy2, PixelFormat::I420},   {PixelFormat::Nv12, PixelFormat::Rgb24},
          {PixelFormat::Nv12, PixelFormat::Rgb32},  {PixelFormat::Nv12, PixelFormat::I420},
          {PixelFormat::I420, PixelFormat::Rgb24},  {PixelFormat::I420, PixelFormat::I420},
          {PixelFormat::Uyvy, PixelFormat::Rgb555}, {PixelFormat::Rgb24, PixelFormat::Rgb24}};
}

Bare SameSizeBare(PixelFormat from, PixelFormat to) {
  using F = const Frames&;
  switch (from) {
    case PixelFormat::Yuy2:
      if (to == PixelFormat::Rgb24)
        return [](F f) {
          libyuv::YUY2ToARGB(f.src, f.w * 2, f.scratch, f.w * 4, f.w, f.h);
          libyuv::ARGBToRGB24(f.scratch, f.w * 4, f.dst, f.w * 3, f.w, -f.h);
        };
      if (to == PixelFormat::Rgb32)
        return [](F f) { libyuv::YUY2ToARGB(f.src, f.w * 2, f.dst, f.w * 4, f.w, -f.h); };
      return [](F f) {
        libyuv::YUY2ToI420(f.src, f.w * 2, f.dst, f.w, f.DstU(), f.w / 2, f.DstV(), f.w / 2, f.w,
                           f.h);
      };
    case PixelFormat::Nv12:
      if (to == PixelFormat::Rgb24)
        return [](F f) {
          libyuv::NV12ToRGB24(f.src, f.w, f.Chroma(), f.w, f.dst, f.w * 3, f.w, -f.h);
        };
      if (to == PixelFormat::Rgb32)
        return [](F f) { libyuv::NV12ToARGB(f.src, f.w, f.Chroma(), f.w, f.dst, f.w * 4, f.w, -f.h); };
      return [](F f) {
        libyuv::NV12ToI420(f.src, f.w, f.Chroma(), f.w, f.dst, f.w, f.DstU(), f.w / 2, f.DstV(),
                           f.w / 2, f.w, f.h);
      };
    case PixelFormat::I420:
      if (to == PixelFormat::Rgb24)
        return [](F f) {
          libyuv::I420ToRGB24(f.src, f.w, f.Chroma(), f.w / 2, f.V(), f.w / 2, f.dst, f.w * 3, f.w,
                              -f.h);
        };
      return [](F f) {
        libyuv::I420Copy(f.src, f.w, f.Chroma(), f.w / 2, f.V(), f.w / 2, f.dst, f.w, f.DstU(),
                         f.w / 2, f.DstV(), f.w / 2, f.w, f.h);
      };
    case PixelFormat::Uyvy:
      return [](F f) {
        libyuv::UYVYToARGB(f.src, f.w * 2, f.scratch, f.w * 4, f.w, f.h);
        libyuv::ARGBToARGB1555(f.scratch, f.w * 4, f.dst, f.w * 2, f.w, -f.h);
      };
    default:  // RGB24, both bottom-up DIBs of rows without padding: one copy
      return [](F f) { libyuv::CopyPlane(f.src, f.w * 3, f.dst, f.w * 3, f.w * 3, f.h); };
  }
}

// 1920 x 1080 NV12 cropped about its centre to 4:3 and scaled down: NV12 into I420 of
// the crop, the box filter, then (RGB24) the host's format.
Bare CropScaleBare(PixelFormat to) {
  return [to](const Frames& f) {
    const CropRect c = tesmo::CentreCrop(f.w, f.h, f.tw, f.th);
    Byte* y = f.scratch;
    Byte* u = y + c.width * c.height;
    Byte* v = u + (c.width / 2) * (c.height / 2);
    libyuv::NV12ToI420(f.src + c.y * f.w + c.x, f.w, f.Chroma() + (c.y / 2) * f.w + c.x, f.w, y,
                       c.width, u, c.width / 2, v, c.width / 2, c.width, c.height);
    if (to == PixelFormat::I420) {
      libyuv::I420Scale(y, c.width, u, c.width / 2, v, c.width / 2, c.width, c.height, f.dst, f.tw,
                        f.DstU(), f.tw / 2, f.DstV(), f.tw / 2, f.tw, f.th, libyuv::kFilterBox);
      return;
    }
    Byte* sy = f.scratch2;
    Byte* su = sy + f.tw * f.th;
    Byte* sv = su + (f.tw / 2) * (f.th / 2);
    libyuv::I420Scale(y, c.width, u, c.width / 2, v, c.width / 2, c.width, c.height, sy, f.tw, su,
                      f.tw / 2, sv, f.tw / 2, f.tw, f.th, libyuv::kFilterBox);
    libyuv::I420ToRGB24(sy, f.tw, su, f.tw / 2, sv, f.tw / 2, f.dst, f.tw * 3, f.tw, -f.th);
  };
}

// Whether the two host frames hold the same picture; RGB555's top bit is unused (the
// converter clears it, libyuv's ARGB1555 sets it as alpha).
bool Same(PixelFormat to, const std::vector<Byte>& a, const std::vector<Byte>& b) {
  if (to != PixelFormat::Rgb555) return a == b;
  for (size_t i = 0; i < a.size(); ++i) {
    const Byte mask = i % 2 ? 0x7F : 0xFF;
    if ((a[i] & mask) != (b[i] & mask)) return false;
  }
  return true;
}

void Run(benchmark::State& state, const Case& c, bool seam) {
  FrameConverter converter;
  if (!converter.Configure(FrameFormat{c.from, c.w, c.h, false}, c.to, c.tw, c.th)) {
    state.SkipWithError("not configured");
    return;
  }
  std::vector<Byte> source(static_cast<size_t>(converter.SourceBytes()));
  std::vector<Byte> target(static_cast<size_t>(converter.TargetBytes()));
  std::vector<Byte> check(target.size());
  std::vector<Byte> scratch(static_cast<size_t>(c.w) * c.h * 4);
  std::vector<Byte> scratch2(static_cast<size_t>(c.tw) * c.th * 3 / 2);
  std::mt19937 random(5);
  for (Byte& b : source) b = static_cast<Byte>(random());
  const Frames frames{c.w, c.h, c.tw, c.th, source.data(), target.data(), scratch.data(),
                      scratch2.data()};
  Frames checkFrames = frames;
  checkFrames.dst = check.data();
  converter.Convert(source.data(), target.data());
  c.bare(checkFrames);
  if (!Same(c.to, target, check)) {
    state.SkipWithError("the converter and the bare calls write different frames");
    return;
  }
  for (auto _ : state) {
    if (seam) {
      converter.Convert(source.data(), target.data());
    } else {
      c.bare(frames);
    }
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  // Rates in camera pixels per second, comparable across formats.
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * c.w * c.h);
}

std::string Size(int w, int h) { return std::to_string(w) + "x" + std::to_string(h); }

void Register(const std::string& name, const Case& c) {
  for (bool seam : {true, false}) {
    benchmark::RegisterBenchmark((name + (seam ? "/seam" : "/libyuv")).c_str(), Run, c, seam)
        ->Unit(benchmark::kMicrosecond);
  }
}

int RegisterAll() {
  const std::pair<int, int> sizes[] = {{640, 480}, {1920, 1080}};
  for (const auto& [from, to] : SameSizePairs()) {
    for (const auto& [w, h] : sizes) {
      Register(std::string("Convert/") + Name(from) + "/" + Name(to) + "/" + Size(w, h),
               Case{from, to, w, h, w, h, SameSizeBare(from, to)});
    }
  }
  for (const auto& [to, tw, th] : {std::tuple{PixelFormat::Rgb24, 320, 240},
                                   std::tuple{PixelFormat::I420, 640, 480}}) {
    Register(std::string("CropScale/NV12/1920x1080/") + Name(to) + "/" + Size(tw, th),
             Case{PixelFormat::Nv12, to, 1920, 1080, tw, th, CropScaleBare(to)});
  }
  return 0;
}

const int registered = RegisterAll();

}  // namespace
