// libjpeg-turbo (TurboJPEG, Debian's libturbojpeg0-dev) decoding one 1920 x 1080 MJPG
// frame of the test camera natively: the yardstick for the library's decoder, which
// runs under Wine (bench/MjpgDecodeWin32.cpp) on the same bytes. This program makes
// those bytes: it encodes the picture at quality 85, 4:2:0, and writes the frame with
// and without its Huffman tables into the folder given by --jpeg_dir (default ".").
//   tesmo_mjpg_bench [--jpeg_dir=DIR] [benchmark flags]
// "MjpgDecode/libjpeg-turbo/dht" and ".../nodht", milliseconds of real time a frame.
#include <benchmark/benchmark.h>
#include <turbojpeg.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <string>
#include <vector>

#include "JpegFrames.h"
#include "MjpgBenchPicture.h"

namespace {

std::vector<uint8_t> jpegWithTables, jpegWithoutTables;

bool Encode(std::vector<uint8_t>& jpeg) {
  const std::vector<uint8_t> rgb = mjpgbench::DrawPicture(false);
  tjhandle compressor = tjInitCompress();
  unsigned char* out = nullptr;
  unsigned long size = 0;
  const bool ok =
      compressor && tjCompress2(compressor, rgb.data(), mjpgbench::kWidth, mjpgbench::kStride,
                                mjpgbench::kHeight, TJPF_RGB, &out, &size, TJSAMP_420, 85, 0) == 0;
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

// The frames, written for the program under Wine; false with a message on stderr.
bool MakeFrames(const std::string& folder) {
  if (!Encode(jpegWithTables)) {
    std::fprintf(stderr, "tesmo_mjpg_bench: libjpeg-turbo could not encode the frame\n");
    return false;
  }
  jpegWithoutTables = jpegWithTables;
  jpegWithoutTables.resize(
      testdevices::RemoveHuffmanTables(jpegWithoutTables.data(), jpegWithoutTables.size()));
  if (testdevices::CountHuffmanSegments(jpegWithoutTables.data(), jpegWithoutTables.size()) != 0) {
    std::fprintf(stderr, "tesmo_mjpg_bench: the frame has tables other than the standard ones\n");
    return false;
  }
  if (!WriteFile(mjpgbench::JpegPath(folder, true), jpegWithTables) ||
      !WriteFile(mjpgbench::JpegPath(folder, false), jpegWithoutTables)) {
    std::fprintf(stderr, "tesmo_mjpg_bench: cannot write the frames into %s\n", folder.c_str());
    return false;
  }
  return true;
}

// Into top-down BGR rows, as WIC hands the library its picture.
void BM_TurboJpegDecode(benchmark::State& state, const std::vector<uint8_t>* jpeg) {
  tjhandle decompressor = tjInitDecompress();
  std::vector<uint8_t> bgr(static_cast<size_t>(mjpgbench::kStride) * mjpgbench::kHeight);
  auto decode = [&] {
    return tjDecompress2(decompressor, jpeg->data(), jpeg->size(), bgr.data(), mjpgbench::kWidth,
                         mjpgbench::kStride, mjpgbench::kHeight, TJPF_BGR, 0) == 0;
  };
  if (!decode() || mjpgbench::MeanDifference(bgr.data(), false) > mjpgbench::kMaxMeanDifference) {
    state.SkipWithError("the frame does not decode to the picture");
  } else {
    for (auto _ : state) {
      decode();
      benchmark::DoNotOptimize(bgr.data());
      benchmark::ClobberMemory();
    }
  }
  state.counters["jpeg_bytes"] = static_cast<double>(jpeg->size());
  tjDestroy(decompressor);
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
  if (!MakeFrames(folder)) return 1;
  for (const bool withTables : {true, false}) {
    benchmark::RegisterBenchmark(
        withTables ? "MjpgDecode/libjpeg-turbo/dht" : "MjpgDecode/libjpeg-turbo/nodht",
        BM_TurboJpegDecode, withTables ? &jpegWithTables : &jpegWithoutTables)
        ->UseRealTime()
        ->Unit(benchmark::kMillisecond);
  }
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 64;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
