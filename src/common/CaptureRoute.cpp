#include "common/CaptureRoute.h"

#include "common/DeviceEnumeration.h"

#include <vector>

namespace tesmo {

namespace {

// Filters between a capture pin and its grabber: a tee and a converter or two. The bound
// keeps a graph with a cycle in it from sending the walk round for good.
constexpr int kMaxFiltersBetween = 8;

bool SameObject(IUnknown* a, IUnknown* b) {
  ComPtr<IUnknown> first, second;
  if (!a || !b || a->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&first)) != S_OK ||
      b->QueryInterface(IID_IUnknown, reinterpret_cast<void**>(&second)) != S_OK)
    return false;
  return first.Get() == second.Get();
}

bool Reaches(IPin* output, IBaseFilter* target, int filtersLeft) {
  ComPtr<IPin> peer;
  if (!output || output->ConnectedTo(&peer) != S_OK || !peer) return false;
  PIN_INFO info;
  if (peer->QueryPinInfo(&info) != S_OK) return false;
  ComPtr<IBaseFilter> next = ComPtr<IBaseFilter>::Attach(info.pFilter);
  if (!next) return false;
  if (SameObject(next.Get(), target)) return true;
  if (filtersLeft == 0) return false;
  ComPtr<IEnumPins> pins;
  if (next->EnumPins(&pins) != S_OK || !pins) return false;
  ComPtr<IPin> pin;
  while (pins->Next(1, &pin, nullptr) == S_OK && pin) {
    auto direction = static_cast<PIN_DIRECTION>(-1);
    if (pin->QueryDirection(&direction) != S_OK || direction != PINDIR_OUTPUT) continue;
    if (Reaches(pin.Get(), target, filtersLeft - 1)) return true;
  }
  return false;
}

}  // namespace

ComPtr<IPin> FindCapturePin(ICaptureGraphBuilder2* builder, IBaseFilter* source,
                            const GUID& majorType) {
  ComPtr<IPin> pin;
  if (builder &&
      builder->FindPin(source, PINDIR_OUTPUT, &PIN_CATEGORY_CAPTURE, &majorType, FALSE, 0, &pin) ==
          S_OK &&
      pin)
    return pin;
  return FindPin(source, PINDIR_OUTPUT);
}

bool StreamReaches(IPin* output, IBaseFilter* target) {
  return Reaches(output, target, kMaxFiltersBetween);
}

void RemoveUnconnectedFilters(IGraphBuilder* graph) {
  ComPtr<IEnumFilters> filters;
  if (!graph || graph->EnumFilters(&filters) != S_OK || !filters) return;
  // Collected first: removing while enumerating invalidates the enumerator.
  std::vector<ComPtr<IBaseFilter>> unconnected;
  ComPtr<IBaseFilter> filter;
  while (filters->Next(1, &filter, nullptr) == S_OK && filter) {
    bool connected = false;
    ComPtr<IEnumPins> pins;
    if (filter->EnumPins(&pins) == S_OK && pins) {
      ComPtr<IPin> pin, peer;
      while (!connected && pins->Next(1, &pin, nullptr) == S_OK && pin)
        connected = pin->ConnectedTo(&peer) == S_OK && peer;
    }
    if (!connected) unconnected.push_back(std::move(filter));
  }
  for (auto& lonely : unconnected) graph->RemoveFilter(lonely.Get());
}

}  // namespace tesmo
