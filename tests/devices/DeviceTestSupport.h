// What the device self-tests share: COM per test, a device set per test, a capture graph
// built the way the library builds it, and a grabber callback that keeps every buffer.
#pragma once
#include <dshow.h>
#include <qedit.h>

#include <condition_variable>
#include <mutex>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "../../src/common/ComPtr.h"
#include "TestDeviceControl.h"

using tesmo::ComPtr;

// QueryInterface into a holder, answering the HRESULT (E_POINTER from an empty one), which
// the tests compare; the holder's own As answers only whether it was S_OK.
template <class T, class U>
HRESULT QueryInto(const ComPtr<T>& from, ComPtr<U>& to, REFIID iid) {
  return from ? from->QueryInterface(iid, reinterpret_cast<void**>(&to)) : E_POINTER;
}

extern "C" const CLSID CLSID_SampleGrabber;
extern "C" const CLSID CLSID_NullRenderer;

// Keeps a copy of each buffer the grabber hands over; the waits are bounded.
class GrabbedSamples : public ISampleGrabberCB {
public:
  struct Sample {
    double time;
    std::vector<BYTE> bytes;
  };

  HRESULT WINAPI QueryInterface(REFIID iid, void** out) override;
  ULONG WINAPI AddRef() override { return 2; }  // lives on the test's stack
  ULONG WINAPI Release() override { return 1; }
  HRESULT WINAPI SampleCB(double, IMediaSample*) override { return S_OK; }
  HRESULT WINAPI BufferCB(double time, BYTE* buffer, long length) override;

  bool WaitFor(size_t count, unsigned timeoutMs);
  std::vector<Sample> Take();

private:
  std::mutex lock;
  std::condition_variable arrived;
  std::vector<Sample> samples;
};

// Source -> sample grabber (callback mode 1) -> null renderer, as the audio side does.
struct CaptureGraph {
  ComPtr<IGraphBuilder> graph;
  ComPtr<ICaptureGraphBuilder2> builder;
  ComPtr<IBaseFilter> source, grabber, renderer;
  ComPtr<IMediaControl> control;

  ~CaptureGraph() { Release(); }
  void Release();
};

class DeviceTest : public ::testing::Test {
protected:
  void SetUp() override;
  void TearDown() override;

  // Registers exactly these devices (TestDevices_SetDevices) and clears the records.
  void UseDevices(const std::vector<std::wstring>& descriptions);

  // The position-th moniker of a category, as the library counts devices.
  ComPtr<IMoniker> Moniker(const CLSID& category, int position);
  ComPtr<IBaseFilter> BindFilter(const CLSID& category, int position);
  // Friendly names in enumeration order; "<none>" where the property bag has none.
  std::vector<std::wstring> FriendlyNames(const CLSID& category);

  // Builds the graph with RenderStream(PIN_CATEGORY_CAPTURE, majorType, ...); the filters
  // are added under the names the library uses. A given source is used as it is (its format
  // belongs to that filter object); otherwise the device at `position` is bound.
  ::testing::AssertionResult BuildGraph(const CLSID& category, int position, const GUID& majorType,
                                        GrabbedSamples& callback, CaptureGraph& out,
                                        IBaseFilter* source = nullptr);

  // A camera filter object, its format as set, captured through BuildGraph until `count`
  // frames arrived (at most 5 s); the graph is gone again when this returns.
  ::testing::AssertionResult CaptureFrames(ComPtr<IBaseFilter> camera, size_t count,
                                           std::vector<GrabbedSamples::Sample>& frames);

  // Run: S_OK, or S_FALSE while the renderer still waits for its first sample (Wine then
  // completes the transition on its own); the samples that follow are the real proof.
  static ::testing::AssertionResult RunGraph(CaptureGraph& g);
  static ComPtr<IPin> FirstPin(IBaseFilter* filter, PIN_DIRECTION direction);
  static std::string LiveObjects();

  HRESULT comResult = E_FAIL;
};

// Frees a type IAMStreamConfig or IEnumMediaTypes handed out.
void FreeType(AM_MEDIA_TYPE* type);
// The first pin's IAMStreamConfig: the capture pin of a camera as described by default.
ComPtr<IAMStreamConfig> VideoStreamConfig(IBaseFilter* source);

// Fails with the live-object report unless the test devices hold no object and no reference.
#define EXPECT_NOTHING_ALIVE()                                             \
  do {                                                                     \
    EXPECT_EQ(0, TestDevices_GetLiveObjectCount()) << LiveObjects();       \
    EXPECT_EQ(0, TestDevices_GetOutstandingReferences()) << LiveObjects(); \
  } while (0)
