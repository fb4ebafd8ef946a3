// One 1920 x 1080 MJPG frame of the test camera (4:2:2, quality 85, as TurboJPEG
// encodes it here), decoded natively:
//   MjpgDecode/tjDecompress2/BGR              libjpeg-turbo alone into a bottom-up BGR
//                                             DIB: the yardstick of the decode under Wine
//   MjpgDecode/tjDecompressToYUVPlanes/1-<n>  libjpeg-turbo alone into the frame's
//                                             planes, whole and at 1/4 of each side
//   MjpgDecode/MjpegDecoder/<format>/<size>   the library's decoder into a host frame
// The library's 1920x1080 and 320x240 RGB24 decodes are the pair of the reduced-scale
// decode. The frame is also written into --jpeg_dir (default ".") for
// bench/MjpgDecodeWin32.cpp, which decodes the same bytes under Wine.
//   tesmo_mjpg_bench [--jpeg_dir=DIR] [benchmark flags]
#include <benchmark/benchmark.h>
#include <libyuv.h>
#include <turbojpeg.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "MjpgBenchPicture.h"
#include "video/MjpegDecoder.h"

namespace {

using tesmo::MjpegDecoder;
using tesmo::PixelFormat;

std::vector<uint8_t> jpeg;

bool Encode() {
  const std::vector<uint8_t> rgb = mjpgbench::DrawPicture(false);
  tjhandle compressor = tjInitCompress();
  unsigned char* out = nullptr;
  unsigned long size = 0;
  const bool ok = compressor &&
                  tjCompress2(compressor, rgb.data(), mjpgbench::kWidth, mjpgbench::kStride,
                              mjpgbench::kHeight, TJPF_RGB, &out, &size, TJSAMP_422,
                              mjpgbench::kQuality, 0) == 0;
  if (ok) jpeg.assign(out, out + size);
  tjFree(out);
  if (compressor) tjDestroy(compressor);
  return ok;
}

bool WriteFile(const std::string& path, const std::vector<uint8_t>& bytes) {
  std::ofstream file(path, std::ios::binary);
  file.write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return static_cast<bool>(file);
}

void BM_TurboJpegDecode(benchmark::State& state) {
  tjhandle decompressor = tjInitDecompress();
  std::vector<uint8_t> bgr(static_cast<size_t>(mjpgbench::kStride) * mjpgbench::kHeight);
  auto decode = [&] {
    return tjDecompress2(decompressor, jpeg.data(), jpeg.size(), bgr.data(), mjpgbench::kWidth,
                         mjpgbench::kStride, mjpgbench::kHeight, TJPF_BGR, TJFLAG_BOTTOMUP) == 0;
  };
  if (!decode() || mjpgbench::MeanDifference(bgr.data(), true) > 4.0) {
    state.SkipWithError("the frame does not decode to the picture");
  } else {
    for (auto _ : state) {
      decode();
      benchmark::DoNotOptimize(bgr.data());
      benchmark::ClobberMemory();
    }
  }
  state.counters["jpeg_bytes"] = static_cast<double>(jpeg.size());
  tjDestroy(decompressor);
}

// libjpeg-turbo alone into the frame's own 4:2:2 planes at 1/denominator of each side:
// the part of the library's decode that the DCT scale shrinks, and the part it cannot.
void BM_TurboJpegPlanes(benchmark::State& state, int denominator) {
  tjhandle decompressor = tjInitDecompress();
  const int width = (mjpgbench::kWidth + denominator - 1) / denominator;
  const int height = (mjpgbench::kHeight + denominator - 1) / denominator;
  const int chromaWidth = tjPlaneWidth(1, width, TJSAMP_422);
  std::vector<uint8_t> planes(static_cast<size_t>(width) * height * 2);
  unsigned char* starts[3] = {planes.data(), planes.data() + width * height,
                              planes.data() + width * height + chromaWidth * height};
  int strides[3] = {width, chromaWidth, chromaWidth};
  auto decode = [&] {
    return tjDecompressToYUVPlanes(decompressor, jpeg.data(), jpeg.size(), starts, width, strides,
                                   height, 0) == 0;
  };
  if (!decode()) {
    state.SkipWithError("the frame does not decode");
  } else {
    for (auto _ : state) {
      decode();
      benchmark::DoNotOptimize(planes.data());
      benchmark::ClobberMemory();
    }
  }
  tjDestroy(decompressor);
}

// The mean difference per byte between a smaller RGB24 host frame (a bottom-up DIB) and
// the picture cropped to its aspect ratio and scaled by libyuv from the drawn pixels.
double ScaledDifference(const uint8_t* frame, int width, int height) {
  const std::vector<uint8_t> bgr = mjpgbench::DrawPicture(true);
  const tesmo::CropRect crop =
      tesmo::CentreCrop(mjpgbench::kWidth, mjpgbench::kHeight, width, height);
  std::vector<uint8_t> argb(static_cast<size_t>(crop.width) * crop.height * 4);
  std::vector<uint8_t> small(static_cast<size_t>(width) * height * 4);
  std::vector<uint8_t> expected(static_cast<size_t>(width) * height * 3);
  libyuv::RGB24ToARGB(bgr.data() + crop.y * mjpgbench::kStride + crop.x * 3,
                      int(mjpgbench::kStride), argb.data(), crop.width * 4, crop.width,
                      crop.height);
  libyuv::ARGBScale(argb.data(), crop.width * 4, crop.width, crop.height, small.data(),
                    width * 4, width, height, libyuv::kFilterBox);
  libyuv::ARGBToRGB24(small.data(), width * 4, expected.data(), width * 3, width, -height);
  unsigned long long sum = 0;
  for (size_t i = 0; i < expected.size(); ++i) sum += std::abs(int(frame[i]) - int(expected[i]));
  return static_cast<double>(sum) / expected.size();
}

void BM_LibraryDecode(benchmark::State& state, PixelFormat format, int width, int height) {
  const std::unique_ptr<MjpegDecoder> decoder =
      MjpegDecoder::Create(mjpgbench::kWidth, mjpgbench::kHeight, format, width, height);
  if (!decoder) {
    state.SkipWithError("no decoder for this host format");
    return;
  }
  std::vector<uint8_t> out(static_cast<size_t>(decoder->TargetBytes()));
  auto decode = [&] {
    return decoder->Decode(jpeg.data(), static_cast<int32_t>(jpeg.size()), out.data());
  };
  // Whole-size frames in any format, smaller ones in RGB24, must show the picture.
  const bool whole = width == mjpgbench::kWidth && height == mjpgbench::kHeight;
  const double difference = !decode() ? 255
                            : whole   ? mjpgbench::MeanDifference(format, out.data())
                            : format == PixelFormat::Rgb24 ? ScaledDifference(out.data(), width, height)
                                                           : 0;
  state.counters["mean_difference"] = difference;
  // A picture scaled from a reduced decode differs more at the bars' and digits' edges.
  if (difference > (whole ? mjpgbench::MaxMeanDifference(format) : 8.0)) {
    state.SkipWithError("the frame does not decode to the picture");
    return;
  }
  for (auto _ : state) {
    decode();
    benchmark::DoNotOptimize(out.data());
    benchmark::ClobberMemory();
  }
  state.counters["scale_denominator"] = decoder->ScaleDenominator();
}

}  // namespace

int main(int argc, char** argv) {
  std::string folder = ".";
  const std::string flag = "--jpeg_dir=";
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strncmp(argv[i], flag.c_str(), flag.size()) == 0)
      folder = argv[i] + flag.size();
    else
      argv[kept++] = argv[i];
  }
  argc = kept;
  if (!Encode()) {
    std::fprintf(stderr, "tesmo_mjpg_bench: libjpeg-turbo could not encode the frame\n");
    return 1;
  }
  if (!WriteFile(mjpgbench::JpegPath(folder), jpeg)) {
    std::fprintf(stderr, "tesmo_mjpg_bench: cannot write the frame into %s\n", folder.c_str());
    return 1;
  }
  benchmark::RegisterBenchmark("MjpgDecode/tjDecompress2/BGR", BM_TurboJpegDecode)
      ->Unit(benchmark::kMillisecond);
  for (int denominator : {1, 4}) {
    benchmark::RegisterBenchmark(
        ("MjpgDecode/tjDecompressToYUVPlanes/1-" + std::to_string(denominator)).c_str(),
        BM_TurboJpegPlanes, denominator)
        ->Unit(benchmark::kMillisecond);
  }
  struct Host {
    const char* name;
    PixelFormat format;
    int width, height;
  };
  const Host hosts[] = {{"RGB24/1920x1080", PixelFormat::Rgb24, 1920, 1080},
                        {"RGB24/320x240", PixelFormat::Rgb24, 320, 240},
                        {"RGB32/1920x1080", PixelFormat::Rgb32, 1920, 1080},
                        {"RGB555/1920x1080", PixelFormat::Rgb555, 1920, 1080},
                        {"I420/1920x1080", PixelFormat::I420, 1920, 1080}};
  for (const Host& host : hosts) {
    benchmark::RegisterBenchmark((std::string("MjpgDecode/MjpegDecoder/") + host.name).c_str(),
                                 BM_LibraryDecode, host.format, host.width, host.height)
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 64;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
