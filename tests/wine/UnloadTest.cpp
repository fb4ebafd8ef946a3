// A host that loads Tesmo.dll itself and frees it right after Destroy, while a
// delivery is still inside its slow OnData: the library must stay mapped until its
// own thread has left it, and then go.
#include <windows.h>
#include <objbase.h>

#include <gtest/gtest.h>

#include <atomic>
#include <string>

#include "TestDeviceControl.h"
#include "Tesmo.h"
#include "support/CaptureSides.h"
#include "support/Messages.h"
#include "support/TestDevices.h"

namespace {

// Lives in this program, so its code stays mapped whatever happens to the DLL.
class SlowSink : public tesmo::test::AnySink {
public:
  SlowSink() : entered(CreateEventW(nullptr, TRUE, FALSE, nullptr)) {}
  ~SlowSink() { CloseHandle(entered); }
  void OnData(const unsigned char*, int, unsigned long) override {
    if (++calls == 1) {
      SetEvent(entered);
      Sleep(3000);
    }
    ++returned;
  }
  bool WaitUntilEntered() { return WaitForSingleObject(entered, 5000) == WAIT_OBJECT_0; }
  std::atomic<int> calls{0};
  std::atomic<int> returned{0};

private:
  HANDLE entered;
};

using tesmo::test::PumpUntil;

bool Loaded() { return GetModuleHandleW(L"Tesmo.dll") != nullptr; }

class Unload : public ::testing::Test {
protected:
  void SetUp() override {
    ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED)));
    ASSERT_FALSE(Loaded()) << "this program must not link Tesmo.dll";
    library = LoadLibraryW(L"Tesmo.dll");
    ASSERT_NE(library, nullptr);
  }
  void TearDown() override {
    TestDevices_UseDefaultDevices();
    CoUninitialize();
  }
  template <class Factory>
  Factory Find(const char* name) {
    return reinterpret_cast<Factory>(reinterpret_cast<void*>(GetProcAddress(library, name)));
  }
  // Destroy with OnData blocked, FreeLibrary at once; the process must live on.
  template <class Object, class Sink>
  void DestroyAndFree(Object* object, SlowSink& sink) {
    object->SetSink(static_cast<Sink*>(&sink));
    ASSERT_EQ(object->Open(0), kCaptureDone);
    ASSERT_EQ(object->Start(), kCaptureDone);
    ASSERT_TRUE(sink.WaitUntilEntered());
    EXPECT_EQ(object->Destroy(), kCaptureDone);
    EXPECT_EQ(sink.returned, 0);  // still inside OnData
    FreeLibrary(library);
    // The delivery thread still runs in the library, so it is still there ...
    EXPECT_TRUE(Loaded());
    // ... until OnData has returned and the thread has ended.
    EXPECT_TRUE(PumpUntil([&] { return sink.returned == 1; }, 5000));
    EXPECT_TRUE(PumpUntil([] { return !Loaded(); }, 5000)) << "the library was never unloaded";
    EXPECT_EQ(sink.calls, 1);
  }

  HMODULE library = nullptr;
};

}  // namespace

TEST_F(Unload, AudioObject) {
  tesmo::test::UseTestDevices({L"kind=audio;name=Tesmo Test Microphone"});
  auto create = Find<AudioSourceCapture* (*)()>("CreateASC");
  ASSERT_NE(create, nullptr);
  SlowSink sink;
  DestroyAndFree<AudioSourceCapture, AudioSink>(create(), sink);
}

TEST_F(Unload, VideoObject) {
  tesmo::test::UseTestDevices({L"kind=video;name=Tesmo Test Camera"});
  auto create = Find<VideoSourceCapture* (*)()>("CreateVSC");
  ASSERT_NE(create, nullptr);
  SlowSink sink;
  DestroyAndFree<VideoSourceCapture, VideoSink>(create(), sink);
}
