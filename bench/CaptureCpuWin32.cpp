// CPU cost of capturing through the library, beside a bare host that builds the same
// graphs with only the sample grabbers (its callbacks just count bytes). Both capture
// RGB24 video at 30 frames per second (320 x 240 unless told) plus 16-bit audio
// (11025 Hz mono unless told) from the first devices; the process's user + kernel
// time over the capture and its peak private memory are reported.
//
// For an MJPG camera, two more bare hosts ask the camera for its MJPG frames, which go
// to a null renderer: bare-mjpg only grabs them, bare-mjpg-decode also decodes every
// frame into RGB24 at the camera's size with the library's own decoder
// (tesmo::MjpegDecoder), as a host that decodes what it grabs must: on a thread of its
// own, as the library decodes on its delivery thread, so the camera's streaming thread
// keeps its 30 fps. Their
// difference is the decoding alone: the camera's own encoding runs in the process
// too, the same in every host.
//
//   tesmo_capture_cpu tesmo|bare|bare-mjpg|bare-mjpg-decode [SECONDS [WIDTHxHEIGHT [RATE CHANNELS]]]
// TESMO_CPU_FPM sets the library's video pace (frames per minute, default 1800).
#include <windows.h>
#include <objbase.h>
#include <psapi.h>

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "Tesmo.h"
#include "TestDeviceControl.h"
#include "common/ComPtr.h"
#include "common/DeviceEnumeration.h"
#include "common/GraphControl.h"
#include "common/MediaPlatform.h"
#include "common/MediaType.h"
#include "video/MjpegDecoder.h"

namespace {

using tesmo::ComPtr;

std::atomic<long long> videoBytes{0}, audioBytes{0};
std::atomic<long> videoFrames{0}, decodedFrames{0}, framesUndecodable{0};

enum class BareVideo { Rgb24, Mjpg, MjpgDecoded };

// What both hosts capture.
struct Formats {
  int width = 320, height = 240;
  int samplesPerSec = 11025, channels = 1;
  // The library's default block (320 bytes, 14.5 ms at 11025 Hz mono) scaled to the
  // format's byte rate, in whole sample frames and at most the library's 1024 bytes;
  // the bare host suggests the same buffers of three blocks.
  int BlockBytes() const {
    const int frameBytes = 2 * channels;
    const long long scaled = 320LL * samplesPerSec * channels / 11025 / frameBytes * frameBytes;
    if (scaled < frameBytes) return frameBytes;
    return scaled > 1024 ? 1024 / frameBytes * frameBytes : static_cast<int>(scaled);
  }
};
Formats formats;

// The video pace of the library's capture: TESMO_CPU_FPM, or the camera's 30 a second.
int FramesPerMinute() {
  const char* value = std::getenv("TESMO_CPU_FPM");
  return value ? std::atoi(value) : 1800;
}

// The frames the test camera has sent downstream so far, from its own record in this
// process; -1 where the camera is another one.
long long CameraFramesSent() {
  const HMODULE devices = GetModuleHandleW(L"TesmoTestDevices.dll");
  if (!devices) return -1;
  using CountFunction = int (*)();
  using RecordFunction = int (*)(int, TestDeviceRecord*);
  const auto count = reinterpret_cast<CountFunction>(
      reinterpret_cast<void*>(GetProcAddress(devices, "TestDevices_GetDeviceCount")));
  const auto getRecord = reinterpret_cast<RecordFunction>(
      reinterpret_cast<void*>(GetProcAddress(devices, "TestDevices_GetRecord")));
  if (!count || !getRecord) return -1;
  for (int device = 0; device < count(); ++device) {
    TestDeviceRecord record{};
    if (getRecord(device, &record) && record.connections > 0 &&
        IsEqualGUID(record.lastFormatType.majortype, MEDIATYPE_Video))
      return record.samplesDelivered;
  }
  return -1;
}

SIZE_T PeakPrivateBytes() {
  PROCESS_MEMORY_COUNTERS counters{};
  counters.cb = sizeof counters;
  GetProcessMemoryInfo(GetCurrentProcess(), &counters, sizeof counters);
  return counters.PeakPagefileUsage;  // the peak of the private committed memory
}

ULONGLONG ProcessCpu100ns() {
  FILETIME created, exited, kernel, user;
  GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
  auto value = [](const FILETIME& t) {
    return (ULONGLONG(t.dwHighDateTime) << 32) | t.dwLowDateTime;
  };
  return value(kernel) + value(user);
}

void PumpFor(DWORD ms) {
  for (DWORD start = GetTickCount(); GetTickCount() - start < ms;) {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) DispatchMessageW(&msg);
    Sleep(10);
  }
}

// --- through the library ---------------------------------------------------------

class CountingVideoSink : public VideoSink {
public:
  void OnData(const unsigned char*, int length, unsigned long) override {
    videoBytes += length;
    ++videoFrames;
  }
};

class CountingAudioSink : public AudioSink {
public:
  void OnData(const unsigned char*, int length, unsigned long) override { audioBytes += length; }
};

struct LibraryCapture {
  AudioSourceCapture* audio = CreateASC();
  VideoSourceCapture* video = CreateVSC();
  CountingAudioSink audioSink;
  CountingVideoSink videoSink;
  bool Start() {
    if (!audio || !video) return false;
    audio->SetSink(&audioSink);
    video->SetSink(&videoSink);
    return audio->SetFormat(formats.channels, formats.samplesPerSec, 16, formats.BlockBytes()) ==
               kCaptureDone &&
           video->SetFormat(formats.width, formats.height, kVideoRgb24) == kCaptureDone &&
           video->SetFrameRate(FramesPerMinute()) == kCaptureDone &&
           audio->Open(0) == kCaptureDone && video->Open(0) == kCaptureDone &&
           audio->Start() == kCaptureDone && video->Start() == kCaptureDone;
  }
  ~LibraryCapture() {
    if (video) video->Destroy();
    if (audio) audio->Destroy();
  }
};

// --- the bare host ---------------------------------------------------------------

// Decodes every frame handed to it, in order, on its own thread. The streaming thread
// copies each frame in; it waits only when kMaxQueued frames are still undecoded (the
// decode cannot keep up), so no frame is skipped.
class DecodingThread {
public:
  explicit DecodingThread(std::unique_ptr<tesmo::MjpegDecoder> frameDecoder)
      : decoder(std::move(frameDecoder)), thread([this] { Run(); }) {}
  ~DecodingThread() {
    {
      std::lock_guard<std::mutex> lock(mutex);
      stopping = true;
    }
    changed.notify_all();
    thread.join();
  }
  // The streaming thread only.
  void Push(const BYTE* data, long length) {
    std::unique_lock<std::mutex> lock(mutex);
    changed.wait(lock, [this] { return queued.size() < kMaxQueued; });
    std::vector<unsigned char> frame;
    if (!spare.empty()) {
      frame = std::move(spare.back());
      spare.pop_back();
    }
    frame.assign(data, data + length);
    queued.push_back(std::move(frame));
    changed.notify_all();
  }

private:
  static constexpr size_t kMaxQueued = 4;

  void Run() {
    std::vector<unsigned char> decoded(static_cast<size_t>(decoder->TargetBytes()));
    std::unique_lock<std::mutex> lock(mutex);
    for (;;) {
      changed.wait(lock, [this] { return stopping || !queued.empty(); });
      if (stopping) break;
      std::vector<unsigned char> frame = std::move(queued.front());
      queued.pop_front();
      changed.notify_all();
      lock.unlock();
      if (decoder->Decode(frame.data(), static_cast<int32_t>(frame.size()), decoded.data()))
        ++decodedFrames;
      else
        ++framesUndecodable;
      lock.lock();
      spare.push_back(std::move(frame));
    }
  }

  std::unique_ptr<tesmo::MjpegDecoder> decoder;
  std::mutex mutex;
  std::condition_variable changed;
  std::deque<std::vector<unsigned char>> queued;  // guarded by mutex
  std::vector<std::vector<unsigned char>> spare;  // guarded by mutex
  bool stopping = false;                          // guarded by mutex
  std::thread thread;                             // last: starts once the rest exists
};

class CountingGrabberCallback : public ISampleGrabberCB {
public:
  explicit CountingGrabberCallback(bool isVideo) : isVideo(isVideo) {}
  // Every video frame is then decoded as well.
  void DecodeWith(std::unique_ptr<tesmo::MjpegDecoder> decoder) {
    decoding = std::make_unique<DecodingThread>(std::move(decoder));
  }
  STDMETHODIMP QueryInterface(REFIID iid, void** out) override {
    if (!out) return E_POINTER;
    if (iid == IID_IUnknown || iid == IID_ISampleGrabberCB) {
      *out = static_cast<ISampleGrabberCB*>(this);
      return S_OK;
    }
    *out = nullptr;
    return E_NOINTERFACE;
  }
  STDMETHODIMP_(ULONG) AddRef() override { return 2; }
  STDMETHODIMP_(ULONG) Release() override { return 1; }
  STDMETHODIMP SampleCB(double, IMediaSample*) override { return S_OK; }
  STDMETHODIMP BufferCB(double, BYTE* data, long length) override {
    if (isVideo) {
      videoBytes += length;
      ++videoFrames;
      if (decoding) decoding->Push(data, length);
    } else {
      audioBytes += length;
    }
    return S_OK;
  }

private:
  bool isVideo;
  std::unique_ptr<DecodingThread> decoding;  // outlives the graph, which stops first
};

ComPtr<IBaseFilter> FirstDevice(REFCLSID category) {
  ComPtr<IEnumMoniker> monikers;
  ComPtr<IMoniker> moniker;
  ComPtr<IBaseFilter> filter;
  if (tesmo::EnumerateCategory(category, monikers) && monikers->Next(1, &moniker, nullptr) == S_OK)
    moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
  return filter;
}

struct BareGraph {
  ComPtr<IGraphBuilder> graph;
  ComPtr<ICaptureGraphBuilder2> builder;
  ComPtr<IBaseFilter> source, grabberFilter, sink;
  CountingGrabberCallback callback;
  explicit BareGraph(bool isVideo) : callback(isVideo) {}

  bool Build(bool isVideo, BareVideo videoKind = BareVideo::Rgb24) {
    const bool mjpg = isVideo && videoKind != BareVideo::Rgb24;
    const GUID& major = isVideo ? MEDIATYPE_Video : MEDIATYPE_Audio;
    source = FirstDevice(isVideo ? CLSID_VideoInputDeviceCategory : CLSID_AudioInputDeviceCategory);
    if (!source || !tesmo::CreateInProcess(CLSID_FilterGraph, graph) ||
        !tesmo::CreateInProcess(CLSID_CaptureGraphBuilder2, builder) ||
        builder->SetFiltergraph(graph.Get()) != S_OK ||
        !tesmo::CreateInProcess(CLSID_SampleGrabber, grabberFilter) ||
        graph->AddFilter(grabberFilter.Get(), L"Data Capture") != S_OK)
      return false;
    // MJPG frames go nowhere after the grabber: a video renderer would decode them.
    if ((!isVideo || mjpg) && (!tesmo::CreateInProcess(CLSID_NullRenderer, sink) ||
                               graph->AddFilter(sink.Get(), L"Null Render") != S_OK))
      return false;
    if (graph->AddFilter(source.Get(), isVideo ? L"Video Source" : L"Audio Source") != S_OK)
      return false;

    ComPtr<IAMStreamConfig> config;
    tesmo::MediaType type;
    if (builder->FindInterface(&PIN_CATEGORY_CAPTURE, &major, source.Get(), IID_IAMStreamConfig,
                               reinterpret_cast<void**>(&config)) == S_OK &&
        config->GetFormat(&type) == S_OK && type && type->pbFormat) {
      if (isVideo && type->cbFormat >= sizeof(VIDEOINFOHEADER)) {
        auto* info = reinterpret_cast<VIDEOINFOHEADER*>(type->pbFormat);
        info->bmiHeader.biWidth = formats.width;
        info->bmiHeader.biHeight = formats.height;
        info->bmiHeader.biBitCount = 24;
        info->bmiHeader.biCompression = mjpg ? MAKEFOURCC('M', 'J', 'P', 'G') : BI_RGB;
        info->bmiHeader.biSizeImage = DWORD(formats.width) * DWORD(formats.height) * 3;
        info->AvgTimePerFrame = 333333;
        type->subtype = mjpg ? MEDIASUBTYPE_MJPG : MEDIASUBTYPE_RGB24;
      } else if (!isVideo && type->cbFormat >= sizeof(WAVEFORMATEX)) {
        auto* wave = reinterpret_cast<WAVEFORMATEX*>(type->pbFormat);
        const WORD align = static_cast<WORD>(2 * formats.channels);
        *wave = {WAVE_FORMAT_PCM,
                 static_cast<WORD>(formats.channels),
                 static_cast<DWORD>(formats.samplesPerSec),
                 static_cast<DWORD>(formats.samplesPerSec) * align,
                 align,
                 16,
                 0};
        type->lSampleSize = align;
      }
      config->SetFormat(type.Get());
    }
    if (!isVideo) {
      // The same buffers as the library asks for: eight of three delivery blocks.
      ComPtr<IPin> output = tesmo::FindPin(source.Get(), PINDIR_OUTPUT);
      ComPtr<IAMBufferNegotiation> negotiation;
      ALLOCATOR_PROPERTIES properties = {8, 3 * formats.BlockBytes(), 2 * formats.channels, 0};
      if (output && output.As(negotiation)) negotiation->SuggestAllocatorProperties(&properties);
    }
    if (isVideo && videoKind == BareVideo::MjpgDecoded) {
      auto decoder = tesmo::MjpegDecoder::Create(formats.width, formats.height,
                                                 tesmo::PixelFormat::Rgb24, formats.width,
                                                 formats.height);
      if (!decoder) return false;
      callback.DecodeWith(std::move(decoder));
    }
    ComPtr<ISampleGrabber> grabber;
    if (!grabberFilter.As(grabber)) return false;
    grabber->SetBufferSamples(FALSE);
    grabber->SetOneShot(FALSE);
    grabber->SetCallback(&callback, 1);
    if (builder->RenderStream(&PIN_CATEGORY_CAPTURE, &major, source.Get(), grabberFilter.Get(),
                              sink.Get()) != S_OK)
      return false;
    ComPtr<IVideoWindow> window;
    if (isVideo && graph.As(window, IID_IVideoWindow)) window->put_AutoShow(OAFALSE);
    return true;
  }
  bool Run() { return tesmo::RunGraph(graph) == S_OK; }
  ~BareGraph() {
    if (graph) tesmo::StopGraph(graph);
  }
};

}  // namespace

int main(int argc, char** argv) {
  const char* mode = argc > 1 ? argv[1] : "";
  const bool bare = std::strncmp(mode, "bare", 4) == 0;
  const BareVideo videoKind = std::strcmp(mode, "bare-mjpg") == 0          ? BareVideo::Mjpg
                              : std::strcmp(mode, "bare-mjpg-decode") == 0 ? BareVideo::MjpgDecoded
                                                                           : BareVideo::Rgb24;
  if (std::strcmp(mode, "tesmo") != 0 && std::strcmp(mode, "bare") != 0 &&
      videoKind == BareVideo::Rgb24) {
    std::fprintf(stderr,
                 "usage: tesmo_capture_cpu tesmo|bare|bare-mjpg|bare-mjpg-decode [SECONDS]\n");
    return 64;
  }
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 30;
  if (argc > 3 && std::sscanf(argv[3], "%dx%d", &formats.width, &formats.height) != 2) return 64;
  if (argc > 5) {
    formats.samplesPerSec = std::atoi(argv[4]);
    formats.channels = std::atoi(argv[5]);
  }
  CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
  int status = 0;
  {
    LibraryCapture library;
    BareGraph video(true), audio(false);
    bool started = false;
    if (bare) {
      started = video.Build(true, videoKind) && audio.Build(false) && video.Run() && audio.Run();
    } else {
      started = library.Start();
    }
    if (!started) {
      std::fprintf(stderr, "tesmo_capture_cpu: the %s capture could not start\n",
                   bare ? "bare" : "library");
      status = 1;
    } else {
      PumpFor(1000);  // past the start-up work
      const long long audioAtStart = audioBytes, framesAtStart = videoFrames,
                      decodedAtStart = decodedFrames, cameraAtStart = CameraFramesSent();
      const ULONGLONG cpuAtStart = ProcessCpu100ns();
      const DWORD tickAtStart = GetTickCount();
      PumpFor(DWORD(seconds) * 1000);
      const double cpuMs = (ProcessCpu100ns() - cpuAtStart) / 10000.0;
      const double wallMs = GetTickCount() - tickAtStart;
      std::printf(
          "%s: %.0f ms CPU in %.1f s = %.1f%% of one core; %ld frames, %lld audio bytes; "
          "peak private %.1f MB",
          bare ? mode : "library host", cpuMs, wallMs / 1000, 100.0 * cpuMs / wallMs,
          long(videoFrames - framesAtStart), audioBytes - audioAtStart,
          PeakPrivateBytes() / 1048576.0);
      if (videoKind == BareVideo::MjpgDecoded)
        std::printf("; %ld frames decoded", long(decodedFrames - decodedAtStart));
      if (cameraAtStart >= 0)
        std::printf("; %lld camera frames", CameraFramesSent() - cameraAtStart);
      std::printf("\n");
      if (framesUndecodable > 0)
        std::fprintf(stderr, "tesmo_capture_cpu: %ld frames did not decode\n",
                     long(framesUndecodable));
    }
  }
  CoUninitialize();
  return status;
}
