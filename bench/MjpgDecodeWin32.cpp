// The library's MJPG decoder on one 1920 x 1080 frame of the test camera, under Wine
// (or Windows): tesmo::MjpegDecoder into RGB24, the frame with its Huffman tables and
// without them (the library puts the standard ones in), and the bare WIC decode into
// BGR rows that the decoder wraps, without the library's conversion. The frames are the
// ones the native tesmo_mjpg_bench wrote with libjpeg-turbo, its yardstick, from the
// same picture. Each case runs REPETITIONS batches of DECODES frames and prints one
// line: the median wall time of one decode, and the median over the batches of the
// thread's CPU time a decode. Run by scripts/bench.sh.
//   tesmo_mjpg_decode FOLDER [REPETITIONS [DECODES]]
#include <windows.h>
#include <objbase.h>
#include <wincodec.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "MjpgBenchPicture.h"
#include "common/ComPtr.h"
#include "video/MjpegDecoder.h"

namespace {

using tesmo::ComPtr;

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

// The calling thread's user + kernel time in milliseconds (the kernel's tick resolution,
// hence whole batches are timed).
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

// WIC's own decode of a frame into top-down BGR rows: what the library's decoder does
// before its conversion, with the same factory kept and a new decoder a frame.
class WicDecode {
public:
  bool Decode(const std::vector<uint8_t>& jpeg, uint8_t* bgr) {
    if (!factory &&
        CoCreateInstance(CLSID_WICImagingFactory, nullptr, CLSCTX_INPROC_SERVER,
                         IID_IWICImagingFactory, reinterpret_cast<void**>(&factory)) != S_OK)
      return false;
    ComPtr<IWICStream> stream;
    ComPtr<IWICBitmapDecoder> decoder;
    ComPtr<IWICBitmapFrameDecode> frame;
    const UINT bytes = static_cast<UINT>(mjpgbench::kStride) * mjpgbench::kHeight;
    return factory->CreateStream(&stream) == S_OK &&
           stream->InitializeFromMemory(const_cast<BYTE*>(jpeg.data()),
                                        static_cast<DWORD>(jpeg.size())) == S_OK &&
           factory->CreateDecoder(GUID_ContainerFormatJpeg, nullptr, &decoder) == S_OK &&
           decoder->Initialize(stream.Get(), WICDecodeMetadataCacheOnDemand) == S_OK &&
           decoder->GetFrame(0, &frame) == S_OK &&
           frame->CopyPixels(nullptr, static_cast<UINT>(mjpgbench::kStride), bytes, bgr) == S_OK;
  }

private:
  ComPtr<IWICImagingFactory> factory;
};

// One case: checks the first decode against the picture, then times the batches.
bool Measure(const char* name, const std::function<bool()>& decode, const uint8_t* output,
             bool bottomUp, int repetitions, int decodes) {
  if (!decode()) {
    std::printf("%s: does not decode\n", name);
    return false;
  }
  const double difference = mjpgbench::MeanDifference(output, bottomUp);
  if (difference > mjpgbench::kMaxMeanDifference) {
    std::printf("%s: decodes to another picture (mean difference %.1f)\n", name, difference);
    return false;
  }
  std::vector<double> wall, cpu;
  for (int r = 0; r < repetitions; ++r) {
    const double cpuAtStart = ThreadCpu();
    for (int i = 0; i < decodes; ++i) {
      const double start = Now();
      if (!decode()) {
        std::printf("%s: a later decode failed\n", name);
        return false;
      }
      wall.push_back(Now() - start);
    }
    cpu.push_back((ThreadCpu() - cpuAtStart) / decodes);
  }
  std::printf("%s: %.2f ms wall (median of %zu), %.2f ms CPU (median of %d batches of %d)\n", name,
              Median(wall), wall.size(), Median(cpu), repetitions, decodes);
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: tesmo_mjpg_decode FOLDER [REPETITIONS [DECODES]]\n");
    return 64;
  }
  const int repetitions = argc > 2 ? std::max(1, std::atoi(argv[2])) : 5;
  const int decodes = argc > 3 ? std::max(1, std::atoi(argv[3])) : 30;
  const std::vector<uint8_t> withTables = ReadFile(mjpgbench::JpegPath(argv[1], true));
  const std::vector<uint8_t> withoutTables = ReadFile(mjpgbench::JpegPath(argv[1], false));
  if (withTables.empty() || withoutTables.empty()) {
    std::fprintf(stderr, "tesmo_mjpg_decode: no frames in %s (tesmo_mjpg_bench writes them)\n",
                 argv[1]);
    return 1;
  }
  // The library decodes on its delivery thread, which is in the multithreaded apartment.
  CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  bool ok = true;
  {
    std::vector<uint8_t> output(static_cast<size_t>(mjpgbench::kStride) * mjpgbench::kHeight);
    auto library = tesmo::MjpegDecoder::Create(mjpgbench::kWidth, mjpgbench::kHeight,
                                               tesmo::PixelFormat::Rgb24);
    // The library's RGB24 is a bottom-up DIB.
    for (const auto* jpeg : {&withTables, &withoutTables}) {
      ok &= Measure(
          jpeg == &withTables ? "library RGB24, dht" : "library RGB24, nodht",
          [&] {
            return library->Decode(jpeg->data(), static_cast<int32_t>(jpeg->size()), output.data());
          },
          output.data(), true, repetitions, decodes);
    }
    WicDecode wic;
    ok &= Measure(
        "bare WIC BGR, dht", [&] { return wic.Decode(withTables, output.data()); }, output.data(),
        false, repetitions, decodes);
  }
  CoUninitialize();
  return ok ? 0 : 1;
}
