// Where a capture filter's stream goes in a built graph: which of its pins is the capture
// pin, and whether the graph carries that pin's stream on to a given filter. Both capture
// objects use it, so that Open succeeds only when the grabber really gets the samples.
#pragma once

#include "common/ComPtr.h"
#include "common/MediaPlatform.h"

namespace tesmo {

// The source's PIN_CATEGORY_CAPTURE output pin of the given major type, as the capture
// graph builder finds it; the first output pin when the builder finds none (a device that
// cannot name its pins' categories).
ComPtr<IPin> FindCapturePin(ICaptureGraphBuilder2* builder, IBaseFilter* source,
                            const GUID& majorType);

// True when the pin is connected and, following connections downstream through the
// filters in between (a Smart Tee, a colour converter), some path ends at `target`.
bool StreamReaches(IPin* output, IBaseFilter* target);

// Takes out of the graph every filter with no pin connected: what a failed attempt to
// render a stream may leave behind.
void RemoveUnconnectedFilters(IGraphBuilder* graph);

}  // namespace tesmo
