// Small steps both capture graphs share: creating framework objects in-process and
// running or stopping a graph through its IMediaControl.
#pragma once

#include "Tesmo.h"
#include <functional>

#include "common/CaptureFailure.h"
#include "common/ComPtr.h"
#include "common/DeviceLossWatcher.h"
#include "common/MediaPlatform.h"

namespace tesmo {

template <class T>
bool CreateInProcess(REFCLSID clsid, ComPtr<T>& out) {
  return CoCreateInstance(clsid, nullptr, CLSCTX_INPROC_SERVER, __uuidof(T),
                          reinterpret_cast<void**>(&out)) == S_OK;
}

// True when the calling thread entered a COM apartment itself. A thread that never did
// is put in the implicit MTA as soon as any thread of the process (a delivery thread of
// ours, say) is in the MTA, so CoCreateInstance there would work or fail by timing.
inline bool CallerInitialisedCom() {
  APTTYPE type;
  APTTYPEQUALIFIER qualifier;
  return CoGetApartmentType(&type, &qualifier) == S_OK &&
         qualifier != APTTYPEQUALIFIER_IMPLICIT_MTA;
}

// The graph both objects build: the filter graph, its capture graph builder, the sample
// grabber "Data Capture" and, where `nullRenderer` is given, a "Null Render", then the
// device's filter under `sourceName`. False, with what failed noted in `failures`.
inline bool BuildCaptureGraph(ComPtr<IGraphBuilder>& graph, ComPtr<ICaptureGraphBuilder2>& builder,
                              ComPtr<IBaseFilter>& grabber, ComPtr<IBaseFilter>* nullRenderer,
                              IBaseFilter* source, const wchar_t* sourceName, const char* device,
                              FailureRecord& failures) {
  if (!CreateInProcess(CLSID_FilterGraph, graph) ||
      !CreateInProcess(CLSID_CaptureGraphBuilder2, builder) ||
      builder->SetFiltergraph(graph.Get()) != S_OK ||
      !CreateInProcess(CLSID_SampleGrabber, grabber) ||
      graph->AddFilter(grabber.Get(), L"Data Capture") != S_OK ||
      (nullRenderer && (!CreateInProcess(CLSID_NullRenderer, *nullRenderer) ||
                        graph->AddFilter(nullRenderer->Get(), L"Null Render") != S_OK))) {
    failures.NoteStepCause(kCauseDeviceFailed, 0,
                           "The system's DirectShow filter graph, capture graph builder, sample "
                           "grabber or null renderer could not be made: repair the system's "
                           "media components, then Open again.");
    return false;
  }
  const HRESULT added = graph->AddFilter(source, sourceName);
  if (added == S_OK) return true;
  failures.NoteStep(FailureStep::Binding, added, device, "adding it to the graph", "Open");
  return false;
}

// The graph's stream starts this long after Run, as the graph manager's own Run
// leaves its filters time to get going (100 ns units).
constexpr REFERENCE_TIME kStartLead = 100000;

inline void StopGraph(const ComPtr<IGraphBuilder>& graph) {
  ComPtr<IMediaControl> control;
  if (graph.As(control)) control->Stop();  // result deliberately ignored
}

// Runs the graph and answers what its filters answered. IMediaControl::Run may return
// S_FALSE and run the filters later, so a camera that fails to start (held by another
// application, say) would never be reported; the graph manager's IMediaFilter::Pause
// and Run change the filters' state now and return the first failure. The start time is the
// graph clock's now, plus kStartLead. A graph that failed is stopped again, so the
// device is not left half started.
inline HRESULT RunGraph(const ComPtr<IGraphBuilder>& graph) {
  ComPtr<IMediaFilter> filter;
  if (!graph) return E_POINTER;
  if (!graph.As(filter, IID_IMediaFilter)) {
    ComPtr<IMediaControl> control;
    if (!graph.As(control)) return E_NOINTERFACE;
    const HRESULT hr = control->Run();
    return SUCCEEDED(hr) ? S_OK : hr;
  }
  // A running graph is left as it runs: paused and run again with a new start time,
  // its sources' times would lie behind the new stream time and the renderer would
  // hold each sample until the clock caught up with it.
  FILTER_STATE state = State_Stopped;
  if (SUCCEEDED(filter->GetState(0, &state)) && state == State_Running) return S_OK;
  ComPtr<IReferenceClock> clock;
  if (filter->GetSyncSource(&clock) != S_OK || !clock) {
    clock.Reset();
    // The clock the graph manager would choose at its own Run; a graph without one
    // runs its filters as fast as they go.
    if (graph->SetDefaultSyncSource() == S_OK) filter->GetSyncSource(&clock);
  }
  // Paused first, as a stopped graph always is before it runs: a device that cannot
  // stream (held elsewhere) answers there, and the graph manager may not ask it again.
  HRESULT hr = filter->Pause();
  REFERENCE_TIME now = 0;
  const bool timed = clock && clock->GetTime(&now) == S_OK;
  if (SUCCEEDED(hr)) hr = filter->Run(timed ? now + kStartLead : 0);
  if (FAILED(hr)) {
    StopGraph(graph);
    return hr;
  }
  return S_OK;
}

// Start and Stop of an opened object whose delivery has a running flag. Running is
// set before Run, so the first buffers are not dropped, and cleared when the graph
// does not run (RunGraph has stopped it); `runResult` gets what the graph answered.
template <class Delivery>
bool StartCapture(const ComPtr<IGraphBuilder>& graph, Delivery& delivery, HRESULT& runResult) {
  delivery.SetRunning(true);
  runResult = RunGraph(graph);
  if (runResult == S_OK) return true;
  delivery.SetRunning(false);
  return false;
}

// The end of a successful Open: the watcher asks for the close of this generation of
// the data path when the graph reports the device lost or the device (of `kind` and
// `identity`) leaves the device list, and runs `check` between events. The request
// names the generation, so it never closes a device opened later.
template <class Delivery>
void WatchForDeviceLoss(DeviceLossWatcher& watcher, const ComPtr<IGraphBuilder>& graph,
                        Delivery& delivery, uint32_t generation, std::function<bool()> check,
                        int kind, const std::string& identity) {
  Delivery* target = &delivery;
  // A graph without an event queue still captures; its loss goes unnoticed.
  watcher.Start(
      graph,
      [target, generation](long code, LONG_PTR param1) {
        // The stream errors carry the HRESULT behind them.
        const uint32_t detail = code == EC_ERRORABORT || code == EC_STREAM_ERROR_STOPPED
                                    ? static_cast<uint32_t>(param1)
                                    : 0;
        target->RequestClose(generation, CloseReason{kCauseDeviceLost, static_cast<uint32_t>(code),
                                                     detail}
                                             .Packed());
      },
      std::move(check), kind, identity);
}

// Stop: false when the graph offers no IMediaControl; the Stop's own result is not
// reported, as a graph stops its filters whatever one of them answers.
template <class Delivery>
bool StopCapture(const ComPtr<IGraphBuilder>& graph, Delivery& delivery) {
  ComPtr<IMediaControl> control;
  if (!graph.As(control)) return false;
  control->Stop();
  delivery.SetRunning(false);
  return true;
}

}  // namespace tesmo
