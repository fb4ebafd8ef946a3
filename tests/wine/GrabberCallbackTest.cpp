#include "common/GrabberCallback.h"

#include <gtest/gtest.h>

#include <vector>

namespace {

struct RecordingOwner {
  struct Call {
    const unsigned char* data;
    int32_t length;
    uint32_t tickMs;
  };
  std::vector<Call> calls;
  void StoreSample(const unsigned char* data, int32_t length, uint32_t tickMs) {
    calls.push_back({data, length, tickMs});
  }
};

void* const kSentinel = reinterpret_cast<void*>(0xdeadbeef);

}  // namespace

TEST(GrabberCallback, OffersOnlyItsTwoInterfacesAndCountsNoReferences) {
  tesmo::GrabberCallback<RecordingOwner> callback;
  void* asUnknown = kSentinel;
  void* asCallback = kSentinel;
  EXPECT_EQ(callback.QueryInterface(IID_IUnknown, &asUnknown), S_OK);
  EXPECT_EQ(callback.QueryInterface(IID_ISampleGrabberCB, &asCallback), S_OK);
  EXPECT_EQ(asUnknown, asCallback);
  EXPECT_EQ(asUnknown, static_cast<ISampleGrabberCB*>(&callback));
  for (REFIID other : {IID_ISampleGrabber, IID_IBaseFilter, IID_IMemInputPin, IID_IClassFactory}) {
    void* out = kSentinel;
    EXPECT_EQ(callback.QueryInterface(other, &out), E_NOINTERFACE);
    EXPECT_EQ(out, kSentinel);  // left alone
  }
  EXPECT_EQ(callback.QueryInterface(IID_IUnknown, nullptr), E_POINTER);
  for (int i = 0; i < 5; ++i) {
    EXPECT_EQ(callback.AddRef(), 2u);
    EXPECT_EQ(callback.Release(), 1u);
    EXPECT_EQ(callback.Release(), 1u);  // more releases than references change nothing
  }
}

TEST(GrabberCallback, BufferCBStampsAndForwardsEveryBufferOnceOwned) {
  tesmo::GrabberCallback<RecordingOwner> callback;
  RecordingOwner owner;
  BYTE bytes[16] = {1, 2, 3};
  EXPECT_EQ(callback.BufferCB(0.0, bytes, 16), S_OK);  // no owner yet: dropped
  EXPECT_TRUE(owner.calls.empty());
  callback.SetOwner(&owner);
  DWORD before = GetTickCount();
  EXPECT_EQ(callback.BufferCB(1.5, bytes, 16), S_OK);
  EXPECT_EQ(callback.BufferCB(2.5, bytes, 0), S_OK);  // an empty buffer is still passed on
  DWORD after = GetTickCount();
  ASSERT_EQ(owner.calls.size(), 2u);
  EXPECT_EQ(owner.calls[0].data, bytes);
  EXPECT_EQ(owner.calls[0].length, 16);
  EXPECT_EQ(owner.calls[1].length, 0);
  for (const auto& call : owner.calls) {
    EXPECT_GE(call.tickMs, before);
    EXPECT_LE(call.tickMs, after);
  }
  EXPECT_EQ(callback.SampleCB(0.0, nullptr), S_OK);
  EXPECT_EQ(owner.calls.size(), 2u);
}
