// tesmo-barehost: the yardstick for the library on a device the project did not write.
// It captures from one audio capture device, chosen by its friendly name, through the
// plainest graph there is (source -> sample grabber -> null renderer, routed by the
// capture graph builder), at the library's default format, and counts the bytes the
// grabber hands to its callback. It copies nothing.
//
//   tesmo-barehost --device NAME [--seconds S] [--buffers none|COUNTxBYTES]
//
// --buffers suggests the capture pin's allocator before it connects (the library
// suggests 8x960 at 1 ch, 11025 Hz, 16 bits); none leaves the device's default.
#include <windows.h>
#include <objbase.h>

#include <atomic>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "common/ComPtr.h"
#include "common/DeviceEnumeration.h"
#include "common/GrabberCallback.h"
#include "common/GraphControl.h"
#include "common/MediaPlatform.h"
#include "common/MediaType.h"

namespace {

using tesmo::ComPtr;

constexpr int kChannels = 1, kRate = 11025, kBits = 16;
constexpr int kBytesPerSecond = kRate * kChannels * kBits / 8;

// What the grabber handed over, counted on the streaming thread (its only writer).
class ByteCounter {
public:
  void StoreSample(const unsigned char*, int32_t length, uint32_t tickMs) {
    if (buffers++ == 0) {
      firstTick = tickMs;
      firstBytes = length;
    }
    lastTick = tickMs;
    bytes += length;
    if (length < smallest) smallest = length;
    if (length > largest) largest = length;
  }
  std::atomic<long long> bytes{0};
  std::atomic<long> buffers{0}, firstBytes{0};
  std::atomic<long> smallest{LONG_MAX}, largest{0};
  std::atomic<uint32_t> firstTick{0}, lastTick{0};
};

struct Options {
  std::wstring device;
  double seconds = 10;
  long bufferCount = 0, bufferBytes = 0;  // 0: no suggestion
};

bool ParseOptions(int argc, char** argv, Options& options) {
  for (int i = 1; i + 1 < argc; i += 2) {
    const char* value = argv[i + 1];
    if (std::strcmp(argv[i], "--device") == 0) {
      wchar_t name[MAX_PATH];
      if (!MultiByteToWideChar(CP_ACP, 0, value, -1, name, MAX_PATH)) return false;
      options.device = name;
    } else if (std::strcmp(argv[i], "--seconds") == 0) {
      if ((options.seconds = std::atof(value)) <= 0) return false;
    } else if (std::strcmp(argv[i], "--buffers") == 0) {
      if (std::strcmp(value, "none") != 0 &&
          (std::sscanf(value, "%ldx%ld", &options.bufferCount, &options.bufferBytes) != 2 ||
           options.bufferCount <= 0 || options.bufferBytes <= 0))
        return false;
    } else {
      return false;
    }
  }
  return argc % 2 == 1 && !options.device.empty();
}

ComPtr<IBaseFilter> FindDevice(const std::wstring& name) {
  ComPtr<IBaseFilter> filter;
  ComPtr<IEnumMoniker> monikers;
  if (!tesmo::EnumerateCategory(CLSID_AudioInputDeviceCategory, monikers)) return filter;
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, &moniker, nullptr) == S_OK && moniker) {
    ComPtr<IPropertyBag> bag;
    if (moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                               reinterpret_cast<void**>(&bag)) != S_OK)
      continue;
    VARIANT friendly;
    VariantInit(&friendly);
    const bool match = bag->Read(L"FriendlyName", &friendly, nullptr) == S_OK &&
                       friendly.vt == VT_BSTR && name == friendly.bstrVal;
    VariantClear(&friendly);
    if (match) {
      moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
      break;
    }
  }
  return filter;
}

// 1 ch, 11025 Hz, 16 bits, set through the capture pin's IAMStreamConfig.
bool SetFormat(ICaptureGraphBuilder2* builder, IBaseFilter* source) {
  ComPtr<IAMStreamConfig> config;
  tesmo::MediaType type;
  if (builder->FindInterface(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, source, IID_IAMStreamConfig,
                             reinterpret_cast<void**>(&config)) != S_OK ||
      config->GetFormat(&type) != S_OK || !type || type->formattype != FORMAT_WaveFormatEx ||
      !type->pbFormat || type->cbFormat < sizeof(WAVEFORMATEX))
    return false;
  auto* wave = reinterpret_cast<WAVEFORMATEX*>(type->pbFormat);
  *wave = {WAVE_FORMAT_PCM, kChannels, kRate, kBytesPerSecond, kChannels * kBits / 8, kBits, 0};
  type->lSampleSize = wave->nBlockAlign;
  return config->SetFormat(type.Get()) == S_OK;
}

int Capture(const Options& options) {
  ComPtr<IBaseFilter> source = FindDevice(options.device);
  if (!source) {
    std::fprintf(stderr, "tesmo-barehost: no audio capture device of that name\n");
    return 2;
  }
  ComPtr<IGraphBuilder> graph;
  ComPtr<ICaptureGraphBuilder2> builder;
  ComPtr<IBaseFilter> grabberFilter, nullRenderer;
  if (!tesmo::CreateInProcess(CLSID_FilterGraph, graph) ||
      !tesmo::CreateInProcess(CLSID_CaptureGraphBuilder2, builder) ||
      builder->SetFiltergraph(graph.Get()) != S_OK ||
      !tesmo::CreateInProcess(CLSID_SampleGrabber, grabberFilter) ||
      !tesmo::CreateInProcess(CLSID_NullRenderer, nullRenderer) ||
      graph->AddFilter(grabberFilter.Get(), L"Data Capture") != S_OK ||
      graph->AddFilter(nullRenderer.Get(), L"Null Render") != S_OK ||
      graph->AddFilter(source.Get(), L"Audio Source") != S_OK) {
    std::fprintf(stderr, "tesmo-barehost: the graph could not be made\n");
    return 1;
  }
  if (!SetFormat(builder.Get(), source.Get())) {
    std::fprintf(stderr, "tesmo-barehost: the device refused 1 ch, 11025 Hz, 16 bits\n");
    return 3;
  }
  ComPtr<IAMBufferNegotiation> negotiation;
  ComPtr<IPin> output = tesmo::FindPin(source.Get(), PINDIR_OUTPUT);
  const bool negotiates = output && output.As(negotiation);
  char asked[64] = "the device's default buffers";
  if (options.bufferCount) {
    ALLOCATOR_PROPERTIES properties = {options.bufferCount, options.bufferBytes, 2, 0};
    if (!negotiates || negotiation->SuggestAllocatorProperties(&properties) != S_OK) {
      std::fprintf(stderr, "tesmo-barehost: the capture pin takes no buffer suggestion\n");
      return 3;
    }
    std::snprintf(asked, sizeof asked, "%ld x %ld bytes suggested", options.bufferCount,
                  options.bufferBytes);
  }
  ByteCounter counter;
  tesmo::GrabberCallback<ByteCounter> callback;
  if (!tesmo::AttachGrabberCallback(grabberFilter, callback, &counter) ||
      builder->RenderStream(&PIN_CATEGORY_CAPTURE, &MEDIATYPE_Audio, source.Get(),
                            grabberFilter.Get(), nullRenderer.Get()) != S_OK) {
    std::fprintf(stderr, "tesmo-barehost: the capture pin could not be rendered\n");
    return 3;
  }
  ALLOCATOR_PROPERTIES used = {};
  if (negotiates && negotiation->GetAllocatorProperties(&used) == S_OK)
    std::printf("allocator: %ld buffers of %ld bytes\n", used.cBuffers, used.cbBuffer);

  const DWORD start = GetTickCount();
  if (tesmo::RunGraph(graph) != S_OK) return 1;
  // Another host may enumerate the devices now: under Wine 10, a host enumerating at the
  // same moment as this one once found no device at all.
  std::printf("capturing for %.1f s\n", options.seconds);
  std::fflush(stdout);
  Sleep(static_cast<DWORD>(options.seconds * 1000));
  tesmo::StopGraph(graph);
  const double elapsed = (GetTickCount() - start) / 1000.0;
  const long long bytes = counter.bytes;
  std::printf("bare host, %s: %lld bytes in %.1f s = %.1f %% of real time", asked, bytes, elapsed,
              100.0 * bytes / (kBytesPerSecond * elapsed));
  if (counter.buffers) {
    std::printf("; %ld buffers of %ld..%ld bytes (%.1f ms), the first after %lu ms",
                counter.buffers.load(), counter.smallest.load(), counter.largest.load(),
                1000.0 * counter.largest / kBytesPerSecond,
                static_cast<unsigned long>(counter.firstTick - start));
    // From the first buffer on: the device's own pace, without its start-up.
    const uint32_t span = counter.lastTick - counter.firstTick;
    if (counter.buffers > 1 && span > 0)
      std::printf(", then %.1f %% of real time",
                  100.0 * (bytes - counter.firstBytes) * 1000 / (kBytesPerSecond * double(span)));
  }
  std::printf("\n");
  return bytes > 0 ? 0 : 4;
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::fprintf(
        stderr, "usage: tesmo-barehost --device NAME [--seconds S] [--buffers none|COUNTxBYTES]\n");
    return 64;
  }
  // A multithreaded apartment: the main thread only waits, and has no messages to pump.
  if (FAILED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))) return 1;
  const int result = Capture(options);
  CoUninitialize();
  return result;
}
