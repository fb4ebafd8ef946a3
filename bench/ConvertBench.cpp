// The frame converter beside libyuv doing the same conversion, at 640 x 480 and
// 1920 x 1080: "Convert/<source>/<target>/<size>/tesmo" and ".../libyuv".
// scripts/bench.sh prints the ratio of their rates. Where libyuv has no single call
// for a pair it takes the two a libyuv user would (through ARGB), on whole frames.
// libyuv writes top-down; a negative height makes it write the bottom-up DIB ours does.
#include <benchmark/benchmark.h>
#include <libyuv.h>

#include <cstdint>
#include <functional>
#include <random>
#include <string>
#include <vector>

#include "video/FrameConverter.h"

namespace {

using tesmo::FrameConverter;
using tesmo::FrameFormat;
using tesmo::PixelFormat;
using Byte = unsigned char;

const char* Name(PixelFormat f) {
  static const char* const names[] = {"YUY2",  "UYVY",  "NV12",   "I420",  "YV12",
                                      "RGB24", "RGB32", "RGB555", "RGB565"};
  return names[static_cast<int>(f)];
}

// One frame's planes as libyuv takes them.
struct Planes {
  const Byte* y;
  const Byte* u;
  const Byte* v;
  int w, h, cw;
};

// libyuv's conversion of `source` (laid out as FrameConverter takes it) into a
// bottom-up `target`; `scratch` holds an ARGB frame for the two-step pairs.
void LibyuvConvert(PixelFormat from, PixelFormat to, const Planes& p, Byte* target,
                   std::vector<Byte>& scratch) {
  const int w = p.w, h = p.h, cw = p.cw;
  const int flipped = -h;
  Byte* argb = scratch.data();
  if (to == PixelFormat::I420) {
    Byte* u = target + w * h;
    Byte* v = u + cw * (h / 2);
    switch (from) {
      case PixelFormat::Yuy2:
        libyuv::YUY2ToI420(p.y, cw * 4, target, w, u, cw, v, cw, w, h);
        return;
      case PixelFormat::Uyvy:
        libyuv::UYVYToI420(p.y, cw * 4, target, w, u, cw, v, cw, w, h);
        return;
      case PixelFormat::Nv12:
        libyuv::NV12ToI420(p.y, w, p.u, cw * 2, target, w, u, cw, v, cw, w, h);
        return;
      case PixelFormat::I420:
        libyuv::I420Copy(p.y, w, p.u, cw, p.v, cw, target, w, u, cw, v, cw, w, h);
        return;
      default:
        libyuv::RGB24ToI420(p.y, (w * 3 + 3) / 4 * 4, target, w, u, cw, v, cw, w, flipped);
        return;
    }
  }
  // Direct calls first.
  if (to == PixelFormat::Rgb32 || from == PixelFormat::I420 ||
      (to == PixelFormat::Rgb24 && from == PixelFormat::Nv12)) {
    const int stride = w * (to == PixelFormat::Rgb32 ? 4 : (to == PixelFormat::Rgb24 ? 3 : 2));
    switch (from) {
      case PixelFormat::Yuy2: libyuv::YUY2ToARGB(p.y, cw * 4, target, stride, w, flipped); return;
      case PixelFormat::Uyvy: libyuv::UYVYToARGB(p.y, cw * 4, target, stride, w, flipped); return;
      case PixelFormat::Nv12:
        if (to == PixelFormat::Rgb24) {
          libyuv::NV12ToRGB24(p.y, w, p.u, cw * 2, target, stride, w, flipped);
        } else {
          libyuv::NV12ToARGB(p.y, w, p.u, cw * 2, target, stride, w, flipped);
        }
        return;
      default:
        if (to == PixelFormat::Rgb32) {
          libyuv::I420ToARGB(p.y, w, p.u, cw, p.v, cw, target, stride, w, flipped);
        } else if (to == PixelFormat::Rgb24) {
          libyuv::I420ToRGB24(p.y, w, p.u, cw, p.v, cw, target, stride, w, flipped);
        } else {
          libyuv::I420ToARGB1555(p.y, w, p.u, cw, p.v, cw, target, stride, w, flipped);
        }
        return;
    }
  }
  // Through a whole ARGB frame.
  switch (from) {
    case PixelFormat::Yuy2: libyuv::YUY2ToARGB(p.y, cw * 4, argb, w * 4, w, flipped); break;
    case PixelFormat::Uyvy: libyuv::UYVYToARGB(p.y, cw * 4, argb, w * 4, w, flipped); break;
    default: libyuv::NV12ToARGB(p.y, w, p.u, cw * 2, argb, w * 4, w, flipped); break;
  }
  if (to == PixelFormat::Rgb24) {
    libyuv::ARGBToRGB24(argb, w * 4, target, w * 3, w, h);
  } else {
    libyuv::ARGBToARGB1555(argb, w * 4, target, w * 2, w, h);
  }
}

void Run(benchmark::State& state, PixelFormat from, PixelFormat to, int w, int h, bool ours) {
  const FrameFormat format{from, w, h, false};
  FrameConverter converter;
  if (!converter.Configure(format, to)) {
    state.SkipWithError("not configured");
    return;
  }
  std::vector<Byte> source(converter.SourceBytes()), target(converter.TargetBytes());
  std::vector<Byte> scratch(static_cast<size_t>(w) * h * 4);
  std::mt19937 random(5);
  for (Byte& b : source) b = static_cast<Byte>(random());
  const int cw = (w + 1) / 2;
  const Byte* chroma = source.data() + w * h;
  const Planes planes{source.data(), chroma, chroma + cw * ((h + 1) / 2), w, h, cw};
  for (auto _ : state) {
    if (ours) {
      converter.Convert(source.data(), target.data());
    } else {
      LibyuvConvert(from, to, planes, target.data(), scratch);
    }
    benchmark::DoNotOptimize(target.data());
    benchmark::ClobberMemory();
  }
  // Rates in pixels per second, comparable across formats.
  state.SetItemsProcessed(static_cast<int64_t>(state.iterations()) * w * h);
}

int RegisterAll() {
  const PixelFormat sources[] = {PixelFormat::Yuy2, PixelFormat::Nv12, PixelFormat::Uyvy,
                                 PixelFormat::I420};
  const PixelFormat targets[] = {PixelFormat::Rgb24, PixelFormat::Rgb32, PixelFormat::I420,
                                 PixelFormat::Rgb555};
  const std::pair<int, int> sizes[] = {{640, 480}, {1920, 1080}};
  std::vector<std::pair<PixelFormat, PixelFormat>> pairs;
  for (PixelFormat from : sources) {
    for (PixelFormat to : targets) pairs.push_back({from, to});
  }
  pairs.push_back({PixelFormat::Rgb24, PixelFormat::I420});
  for (const auto& [from, to] : pairs) {
    for (const auto& [w, h] : sizes) {
      for (bool ours : {true, false}) {
        const std::string name = std::string("Convert/") + Name(from) + "/" + Name(to) + "/" +
                                 std::to_string(w) + "x" + std::to_string(h) +
                                 (ours ? "/tesmo" : "/libyuv");
        benchmark::RegisterBenchmark(name.c_str(), Run, from, to, w, h, ours)
            ->Unit(benchmark::kMicrosecond);
      }
    }
  }
  return 0;
}

const int registered = RegisterAll();

}  // namespace
