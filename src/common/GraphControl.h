// Small steps both capture graphs share: creating framework objects in-process and
// running or stopping a graph through its IMediaControl.
#pragma once

#include "Tesmo.h"
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

enum class GraphCommand { Run, Stop };

// False when the graph offers no IMediaControl. The command's own result is not
// reported: a graph still starting (S_FALSE) runs all the same.
inline bool ControlGraph(const ComPtr<IGraphBuilder>& graph, GraphCommand command) {
  ComPtr<IMediaControl> control;
  if (!graph.As(control)) return false;
  if (command == GraphCommand::Run)
    control->Run();
  else
    control->Stop();
  return true;
}

// Start and Stop of an opened object whose delivery has a running flag. Running is
// set before Run, so the first buffers are not dropped, and put back when the graph
// cannot be told to run.
template <class Delivery>
CaptureResult StartCapture(const ComPtr<IGraphBuilder>& graph, Delivery& delivery) {
  const bool wasRunning = delivery.IsRunning();
  delivery.SetRunning(true);
  if (ControlGraph(graph, GraphCommand::Run)) return kCaptureDone;
  delivery.SetRunning(wasRunning);
  return kCaptureFailed;
}

// The end of a successful Open: the watcher asks for the close of this generation of
// the data path when the graph reports the device lost. The request names the
// generation, so it never closes a device opened later.
template <class Delivery>
void WatchForDeviceLoss(DeviceLossWatcher& watcher, const ComPtr<IGraphBuilder>& graph,
                        Delivery& delivery, uint32_t generation) {
  Delivery* target = &delivery;
  // A graph without an event queue still captures; its loss goes unnoticed.
  watcher.Start(graph, [target, generation] { target->RequestClose(generation); });
}

template <class Delivery>
CaptureResult StopCapture(const ComPtr<IGraphBuilder>& graph, Delivery& delivery) {
  if (!ControlGraph(graph, GraphCommand::Stop)) return kCaptureFailed;
  delivery.SetRunning(false);
  return kCaptureDone;
}

}  // namespace tesmo
