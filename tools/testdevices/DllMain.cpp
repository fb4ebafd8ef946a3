// COM server entry points and the control API of TestDeviceControl.h.
#include <windows.h>

#include <atomic>
#include <cstring>
#include <string>

#include "CaptureFilter.h"
#include "ColourConverter.h"
#include "DeviceConfig.h"
#include "DeviceRecords.h"
#include "PictureControls.h"
#include "LiveObjects.h"
#include "ComSupport.h"
#include "Registration.h"
#include "TestDeviceControl.h"

namespace testdevices {
namespace {

HMODULE thisModule = nullptr;
std::atomic<long> serverLocks{0};

class ClassFactory : public ComObject<IClassFactory, IID_IClassFactory> {
public:
  // Makes the filter of one device position, or the colour converter.
  using Maker = HRESULT (*)(int device, REFIID iid, void** out);
  ClassFactory(std::string label, Maker make, int device)
      : ComObject("ClassFactory", std::move(label)), make(make), device(device) {}

  HRESULT WINAPI CreateInstance(IUnknown* outer, REFIID iid, void** out) override {
    if (out) *out = nullptr;
    if (outer) return CLASS_E_NOAGGREGATION;
    return make(device, iid, out);
  }
  HRESULT WINAPI LockServer(WINBOOL lock) override {
    serverLocks += lock ? 1 : -1;
    return S_OK;
  }

private:
  const Maker make;
  const int device;
};

int CopyOut(const std::string& text, char* buffer, int capacity) {
  if (buffer && capacity > 0) {
    size_t n = std::min(text.size(), size_t(capacity - 1));
    std::memcpy(buffer, text.data(), n);
    buffer[n] = 0;
  }
  return int(text.size()) + 1;
}

}  // namespace
}  // namespace testdevices

using namespace testdevices;

extern "C" BOOL WINAPI DllMain(HINSTANCE instance, DWORD reason, LPVOID) {
  if (reason == DLL_PROCESS_ATTACH) {
    thisModule = instance;
    DisableThreadLibraryCalls(instance);
  }
  return TRUE;
}

extern "C" HRESULT WINAPI DllGetClassObject(REFCLSID id, REFIID iid, void** out) {
  if (!out) return E_POINTER;
  *out = nullptr;
  for (int device = 0; device < TESTDEVICES_MAX_DEVICES; ++device) {
    if (id != DeviceClassId(device)) continue;
    return HandOutNew(
        new ClassFactory("#" + std::to_string(device), &CaptureFilter::Create, device), iid, out);
  }
  if (id == kConverterClassId) {
    auto make = [](int, REFIID iid, void** out) { return ColourConverter::Create(iid, out); };
    return HandOutNew(new ClassFactory("colour converter", make, -1), iid, out);
  }
  return CLASS_E_CLASSNOTAVAILABLE;
}

extern "C" HRESULT WINAPI DllCanUnloadNow() {
  return LiveObjects::Count() == 0 && serverLocks == 0 ? S_OK : S_FALSE;
}

extern "C" HRESULT WINAPI DllRegisterServer() {
  return RegisterDevices(thisModule, LoadDeviceDescriptions());
}

extern "C" HRESULT WINAPI DllUnregisterServer() { return UnregisterDevices(); }

extern "C" HRESULT TestDevices_SetDevices(const wchar_t* const* descriptions, int count) {
  if (count < 0 || count > TESTDEVICES_MAX_DEVICES || (count > 0 && !descriptions))
    return E_INVALIDARG;
  std::vector<std::wstring> list;
  for (int i = 0; i < count; ++i) {
    DeviceConfig config;
    std::wstring error;
    if (!descriptions[i] || !ParseDeviceDescription(descriptions[i], config, error))
      return E_INVALIDARG;
    list.push_back(descriptions[i]);
  }
  HRESULT hr = StoreDeviceDescriptions(list);
  return hr == S_OK ? RegisterDevices(thisModule, list) : hr;
}

extern "C" HRESULT TestDevices_UseDefaultDevices() {
  auto list = DefaultDeviceDescriptions();
  std::vector<const wchar_t*> pointers;
  for (const auto& text : list) pointers.push_back(text.c_str());
  return TestDevices_SetDevices(pointers.data(), int(pointers.size()));
}

extern "C" int TestDevices_GetDeviceCount() { return int(LoadDeviceDescriptions().size()); }

extern "C" void TestDevices_ResetRecords() {
  DeviceRecords::Instance().Reset();
  ControlValues::Reset();
}

extern "C" int TestDevices_GetRecord(int device, TestDeviceRecord* record) {
  return record && DeviceRecords::Instance().Read(device, *record) ? 1 : 0;
}

extern "C" int TestDevices_GetCallCount(int device, const char* call) {
  return call ? DeviceRecords::Instance().CallCount(device, call) : 0;
}

extern "C" int TestDevices_WaitForSamples(int device, LONGLONG samples, DWORD timeoutMs) {
  return DeviceRecords::Instance().WaitForSamples(device, samples, timeoutMs) ? 1 : 0;
}

extern "C" int TestDevices_GetLiveObjectCount() { return LiveObjects::Count(); }

extern "C" LONG TestDevices_GetOutstandingReferences() {
  return LiveObjects::OutstandingReferences();
}

extern "C" int TestDevices_DescribeLiveObjects(char* buffer, int capacity) {
  return CopyOut(LiveObjects::Describe(), buffer, capacity);
}

extern "C" int TestDevices_GetUnexpectedCalls(char* buffer, int capacity) {
  auto calls = DeviceRecords::Instance().UnexpectedCalls();
  std::string text;
  for (const auto& call : calls) text += call + "\n";
  CopyOut(text, buffer, capacity);
  return int(calls.size());
}
