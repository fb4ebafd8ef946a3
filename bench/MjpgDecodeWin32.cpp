// The library's MJPG decoder on one 1920 x 1080 frame of the test camera, under Wine
// (or Windows): tesmo::MjpegDecoder into each host format at the camera's size, RGB24,
// RGB32, RGB555 and I420. The frame is the one the native tesmo_mjpg_bench wrote, whose
// bare libjpeg-turbo decode of the same bytes is the yardstick. Each case runs
// REPETITIONS batches of DECODES frames and prints one line: the median wall time of
// one decode, and the median over the batches of the thread's CPU time a decode (the
// thread times tick coarsely, hence whole batches). Run by scripts/bench.sh.
//   tesmo_mjpg_decode FOLDER [REPETITIONS [DECODES]]
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "MjpgBenchPicture.h"
#include "video/MjpegDecoder.h"

namespace {

using tesmo::PixelFormat;

std::vector<uint8_t> ReadFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

double Now() {
  LARGE_INTEGER counter, frequency;
  QueryPerformanceCounter(&counter);
  QueryPerformanceFrequency(&frequency);
  return 1e3 * static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// The calling thread's user + kernel time in milliseconds.
double ThreadCpu() {
  FILETIME created, exited, kernel, user;
  GetThreadTimes(GetCurrentThread(), &created, &exited, &kernel, &user);
  auto value = [](const FILETIME& t) {
    return static_cast<double>((ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime);
  };
  return (value(kernel) + value(user)) / 1e4;
}

double Median(std::vector<double> values) {
  std::sort(values.begin(), values.end());
  const size_t middle = values.size() / 2;
  return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

// One host format: checks the first decode against the picture, then times the batches.
bool Measure(const char* name, PixelFormat format, const std::vector<uint8_t>& jpeg,
             int repetitions, int decodes) {
  const std::unique_ptr<tesmo::MjpegDecoder> decoder = tesmo::MjpegDecoder::Create(
      mjpgbench::kWidth, mjpgbench::kHeight, format, mjpgbench::kWidth, mjpgbench::kHeight);
  if (!decoder) {
    std::printf("library %s: no decoder\n", name);
    return false;
  }
  std::vector<uint8_t> out(static_cast<size_t>(decoder->TargetBytes()));
  auto decode = [&] {
    return decoder->Decode(jpeg.data(), static_cast<int32_t>(jpeg.size()), out.data());
  };
  if (!decode()) {
    std::printf("library %s: does not decode\n", name);
    return false;
  }
  const double difference = mjpgbench::MeanDifference(format, out.data());
  if (difference > mjpgbench::MaxMeanDifference(format)) {
    std::printf("library %s: decodes to another picture (mean difference %.1f)\n", name,
                difference);
    return false;
  }
  std::vector<double> wall, cpu;
  for (int r = 0; r < repetitions; ++r) {
    const double cpuAtStart = ThreadCpu();
    for (int i = 0; i < decodes; ++i) {
      const double start = Now();
      if (!decode()) {
        std::printf("library %s: a later decode failed\n", name);
        return false;
      }
      wall.push_back(Now() - start);
    }
    cpu.push_back((ThreadCpu() - cpuAtStart) / decodes);
  }
  std::printf("library %s: %.2f ms wall (median of %zu), %.2f ms CPU (median of %d batches of %d)\n",
              name, Median(wall), wall.size(), Median(cpu), repetitions, decodes);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tesmo_mjpg_decode FOLDER [REPETITIONS [DECODES]]\n");
    return 64;
  }
  const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const int decodes = argc > 3 ? std::max(1, std::atoi(argv[3])) : 60;
  const std::vector<uint8_t> jpeg = ReadFile(mjpgbench::JpegPath(argv[1]));
  if (jpeg.empty()) {
    std::fprintf(stderr, "tesmo_mjpg_decode: no frame in %s (tesmo_mjpg_bench writes it)\n",
                 argv[1]);
    return 1;
  }
  bool ok = true;
  ok &= Measure("RGB24", PixelFormat::Rgb24, jpeg, repetitions, decodes);
  ok &= Measure("RGB32", PixelFormat::Rgb32, jpeg, repetitions, decodes);
  ok &= Measure("RGB555", PixelFormat::Rgb555, jpeg, repetitions, decodes);
  ok &= Measure("I420", PixelFormat::I420, jpeg, repetitions, decodes);
  return ok ? 0 : 1;
}
