#include "DeviceTestSupport.h"

#include <chrono>

HRESULT WINAPI GrabbedSamples::QueryInterface(REFIID iid, void** out) {
  if (iid == IID_IUnknown || iid == IID_ISampleGrabberCB) {
    *out = static_cast<ISampleGrabberCB*>(this);
    return S_OK;
  }
  *out = nullptr;
  return E_NOINTERFACE;
}

HRESULT WINAPI GrabbedSamples::BufferCB(double time, BYTE* buffer, long length) {
  {
    std::lock_guard<std::mutex> guard(lock);
    samples.push_back({time, std::vector<BYTE>(buffer, buffer + length)});
  }
  arrived.notify_all();
  return S_OK;
}

bool GrabbedSamples::WaitFor(size_t count, unsigned timeoutMs) {
  std::unique_lock<std::mutex> guard(lock);
  return arrived.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                          [&] { return samples.size() >= count; });
}

std::vector<GrabbedSamples::Sample> GrabbedSamples::Take() {
  std::lock_guard<std::mutex> guard(lock);
  return std::move(samples);
}

void CaptureGraph::Release() {
  if (control) control->Stop();  // stopping first ends the streaming threads; result not needed
  control.Reset();
  builder.Reset();
  source.Reset();
  grabber.Reset();
  renderer.Reset();
  graph.Reset();
}

void DeviceTest::SetUp() {
  comResult = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
  ASSERT_EQ(S_OK, comResult);
  TestDevices_ResetRecords();
}

void DeviceTest::TearDown() {
  EXPECT_NOTHING_ALIVE();
  EXPECT_EQ(0, TestDevices_GetUnexpectedCalls(nullptr, 0));
  // The set is stored in the prefix: leave the defaults for whatever runs next (the demo).
  TestDevices_UseDefaultDevices();
  if (SUCCEEDED(comResult)) CoUninitialize();
}

void DeviceTest::UseDevices(const std::vector<std::wstring>& descriptions) {
  std::vector<const wchar_t*> pointers;
  for (const auto& d : descriptions) pointers.push_back(d.c_str());
  ASSERT_EQ(S_OK, TestDevices_SetDevices(pointers.data(), int(pointers.size())));
  TestDevices_ResetRecords();
}

ComPtr<IMoniker> DeviceTest::Moniker(const CLSID& category, int position) {
  ComPtr<ICreateDevEnum> devices;
  ComPtr<IEnumMoniker> monikers;
  ComPtr<IMoniker> moniker;
  if (CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                       reinterpret_cast<void**>(&devices)) != S_OK ||
      devices->CreateClassEnumerator(category, &monikers, 0) != S_OK)
    return {};
  // Wine 8's device enumerator answers Skip with S_OK without moving, so step with Next.
  for (int i = 0; i <= position; ++i)
    if (monikers->Next(1, &moniker, nullptr) != S_OK) return {};
  return moniker;
}

ComPtr<IBaseFilter> DeviceTest::BindFilter(const CLSID& category, int position) {
  ComPtr<IMoniker> moniker = Moniker(category, position);
  ComPtr<IBaseFilter> filter;
  if (moniker)
    moniker->BindToObject(nullptr, nullptr, IID_IBaseFilter, reinterpret_cast<void**>(&filter));
  return filter;
}

std::vector<std::wstring> DeviceTest::FriendlyNames(const CLSID& category) {
  std::vector<std::wstring> names;
  ComPtr<ICreateDevEnum> devices;
  ComPtr<IEnumMoniker> monikers;
  if (CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                       reinterpret_cast<void**>(&devices)) != S_OK ||
      devices->CreateClassEnumerator(category, &monikers, 0) != S_OK)
    return names;
  ComPtr<IMoniker> moniker;
  while (monikers->Next(1, &moniker, nullptr) == S_OK) {
    ComPtr<IPropertyBag> bag;
    std::wstring name = L"<none>";
    if (moniker->BindToStorage(nullptr, nullptr, IID_IPropertyBag,
                               reinterpret_cast<void**>(&bag)) == S_OK) {
      VARIANT value;
      VariantInit(&value);
      if (bag->Read(L"FriendlyName", &value, nullptr) == S_OK && value.vt == VT_BSTR)
        name = value.bstrVal;
      VariantClear(&value);
    }
    names.push_back(name);
  }
  return names;
}

::testing::AssertionResult DeviceTest::BuildGraph(const CLSID& category, int position,
                                                  const GUID& majorType, GrabbedSamples& callback,
                                                  CaptureGraph& g, IBaseFilter* source) {
  if (source) source->AddRef();  // the graph's holder takes a reference of its own
  g.source = source ? ComPtr<IBaseFilter>::Attach(source) : BindFilter(category, position);
  if (!g.source) return ::testing::AssertionFailure() << "no device at position " << position;
  HRESULT hr;
  if ((hr = CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IGraphBuilder,
                             reinterpret_cast<void**>(&g.graph))) != S_OK ||
      (hr = CoCreateInstance(CLSID_CaptureGraphBuilder2, nullptr, CLSCTX_INPROC_SERVER,
                             IID_ICaptureGraphBuilder2, reinterpret_cast<void**>(&g.builder))) !=
          S_OK ||
      (hr = g.builder->SetFiltergraph(g.graph.Get())) != S_OK ||
      (hr = CoCreateInstance(CLSID_SampleGrabber, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             reinterpret_cast<void**>(&g.grabber))) != S_OK ||
      (hr = CoCreateInstance(CLSID_NullRenderer, nullptr, CLSCTX_INPROC_SERVER, IID_IBaseFilter,
                             reinterpret_cast<void**>(&g.renderer))) != S_OK ||
      (hr = g.graph->AddFilter(g.grabber.Get(), L"Data Capture")) != S_OK ||
      (hr = g.graph->AddFilter(g.renderer.Get(), L"Null Renderer")) != S_OK ||
      (hr = g.graph->AddFilter(g.source.Get(), L"Source")) != S_OK)
    return ::testing::AssertionFailure() << "graph set-up failed: 0x" << std::hex << hr;
  ComPtr<ISampleGrabber> grab;
  if ((hr = QueryInto(g.grabber, grab, IID_ISampleGrabber)) != S_OK)
    return ::testing::AssertionFailure() << "no ISampleGrabber: 0x" << std::hex << hr;
  grab->SetBufferSamples(FALSE);
  grab->SetOneShot(FALSE);
  grab->SetCallback(&callback, 1);
  hr = g.builder->RenderStream(&PIN_CATEGORY_CAPTURE, &majorType, g.source.Get(), g.grabber.Get(),
                               g.renderer.Get());
  if (hr != S_OK) return ::testing::AssertionFailure() << "RenderStream: 0x" << std::hex << hr;
  if ((hr = QueryInto(g.graph, g.control, IID_IMediaControl)) != S_OK)
    return ::testing::AssertionFailure() << "no IMediaControl: 0x" << std::hex << hr;
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult DeviceTest::CaptureFrames(ComPtr<IBaseFilter> camera, size_t count,
                                                     std::vector<GrabbedSamples::Sample>& frames) {
  GrabbedSamples grabbed;
  bool arrived = false;
  {
    CaptureGraph g;
    ::testing::AssertionResult built =
        BuildGraph(CLSID_VideoInputDeviceCategory, 0, MEDIATYPE_Video, grabbed, g, camera.Get());
    if (!built) return built;
    camera.Reset();
    ::testing::AssertionResult running = RunGraph(g);
    if (!running) return running;
    arrived = grabbed.WaitFor(count, 5000);
    g.Release();
  }
  frames = grabbed.Take();
  if (!arrived)
    return ::testing::AssertionFailure() << frames.size() << " of " << count << " frames";
  return ::testing::AssertionSuccess();
}

::testing::AssertionResult DeviceTest::RunGraph(CaptureGraph& g) {
  HRESULT hr = g.control->Run();
  if (hr == S_OK || hr == S_FALSE) return ::testing::AssertionSuccess();
  return ::testing::AssertionFailure() << "Run: 0x" << std::hex << hr;
}

ComPtr<IPin> DeviceTest::FirstPin(IBaseFilter* filter, PIN_DIRECTION direction) {
  ComPtr<IEnumPins> pins;
  ComPtr<IPin> pin;
  if (!filter || filter->EnumPins(&pins) != S_OK) return {};
  while (pins->Next(1, &pin, nullptr) == S_OK) {
    PIN_DIRECTION d;
    if (pin->QueryDirection(&d) == S_OK && d == direction) return pin;
  }
  return {};
}

std::string DeviceTest::LiveObjects() {
  std::string text(size_t(TestDevices_DescribeLiveObjects(nullptr, 0)), '\0');
  TestDevices_DescribeLiveObjects(&text[0], int(text.size()));
  return "live objects:\n" + text;
}

void FreeType(AM_MEDIA_TYPE* type) {
  if (!type) return;
  CoTaskMemFree(type->pbFormat);
  if (type->pUnk) type->pUnk->Release();
  CoTaskMemFree(type);
}

ComPtr<IAMStreamConfig> VideoStreamConfig(IBaseFilter* source) {
  ComPtr<IPin> capture;
  ComPtr<IEnumPins> pins;
  ComPtr<IAMStreamConfig> config;
  if (source && source->EnumPins(&pins) == S_OK && pins->Next(1, &capture, nullptr) == S_OK)
    QueryInto(capture, config, IID_IAMStreamConfig);
  return config;
}
