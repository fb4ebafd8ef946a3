// The sample grabber's callback: stamps each media buffer with the tick count on
// the streaming thread and hands it to the owner's StoreSample, which copies what
// it keeps before returning (the buffer belongs to the grabber).
//
// Embedded by value in its owner and living exactly as long as it: AddRef and
// Release count nothing, and the object never deletes itself.
#pragma once

#include <atomic>
#include <cstdint>

#include "common/ComPtr.h"
#include "common/Kernel.h"
#include "common/MediaPlatform.h"

namespace tesmo {

template <class Owner>
class GrabberCallback final : public ISampleGrabberCB {
public:
  GrabberCallback() = default;
  GrabberCallback(const GrabberCallback&) = delete;
  GrabberCallback& operator=(const GrabberCallback&) = delete;

  // Set on the host's thread before the graph first runs.
  void SetOwner(Owner* value) { owner.store(value, std::memory_order_release); }

  HRESULT STDMETHODCALLTYPE QueryInterface(REFIID riid, void** ppv) override {
    if (!ppv) return E_POINTER;
    if (riid == IID_ISampleGrabberCB || riid == IID_IUnknown) {
      *ppv = static_cast<ISampleGrabberCB*>(this);
      return S_OK;
    }
    return E_NOINTERFACE;  // *ppv deliberately left as it was
  }
  ULONG STDMETHODCALLTYPE AddRef() override { return 2; }
  ULONG STDMETHODCALLTYPE Release() override { return 1; }

  HRESULT STDMETHODCALLTYPE SampleCB(double, IMediaSample*) override { return S_OK; }

  HRESULT STDMETHODCALLTYPE BufferCB(double, BYTE* buffer, long length) override {
    if (Owner* target = owner.load(std::memory_order_acquire))
      target->StoreSample(buffer, static_cast<int32_t>(length), TickCount());
    return S_OK;
  }

private:
  std::atomic<Owner*> owner{nullptr};
};

// Sets the sample grabber up to keep no copies and hand every buffer to `callback`
// through BufferCB, for `owner`. The grabber's interface, or an empty holder when
// the filter is not a sample grabber.
template <class Owner>
ComPtr<ISampleGrabber> AttachGrabberCallback(const ComPtr<IBaseFilter>& grabberFilter,
                                             GrabberCallback<Owner>& callback, Owner* owner) {
  ComPtr<ISampleGrabber> grabber;
  if (!grabberFilter.As(grabber)) return grabber;
  // Results deliberately ignored.
  grabber->SetBufferSamples(FALSE);
  grabber->SetOneShot(FALSE);
  grabber->SetCallback(&callback, 1);
  callback.SetOwner(owner);
  return grabber;
}

}  // namespace tesmo
