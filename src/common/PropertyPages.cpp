#include "common/PropertyPages.h"

#include "common/ComPtr.h"

namespace tesmo {

CaptureResult ShowFilterPropertyPages(IBaseFilter* filter) {
  if (!filter) return kCaptureFailed;
  try {
    ComPtr<ISpecifyPropertyPages> pages;
    if (filter->QueryInterface(IID_ISpecifyPropertyPages, reinterpret_cast<void**>(&pages)) != S_OK)
      return kCaptureFailed;
    CAUUID pageIds{0, nullptr};
    pages->GetPages(&pageIds);  // result deliberately ignored: an empty list shows an empty frame
    IUnknown* object = pages.Get();
    // Modal: returns when the user closes the frame. Its result is not reported.
    OleCreatePropertyFrame(nullptr, 30, 30, nullptr, 1, &object, pageIds.cElems, pageIds.pElems, 0,
                           0, nullptr);
    CoTaskMemFree(pageIds.pElems);
    return kCaptureDone;
  } catch (...) {
    return kCaptureFailed;
  }
}

}  // namespace tesmo
