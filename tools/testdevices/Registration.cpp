#include "Registration.h"

#include <dshow.h>

#include "CaptureFilter.h"
#include "ColourConverter.h"
#include "ComSupport.h"
#include "DeviceConfig.h"
#include "TestDeviceControl.h"

namespace testdevices {
namespace {

// regsvr32 does not initialise COM for us; a caller that already did keeps its apartment.
class ComScope {
public:
  ComScope() : hr(CoInitializeEx(nullptr, COINIT_MULTITHREADED)) {}
  ~ComScope() {
    if (SUCCEEDED(hr)) CoUninitialize();
  }

private:
  HRESULT hr;
};

std::wstring GuidText(const GUID& id) {
  wchar_t text[40] = {};
  StringFromGUID2(id, text, 40);
  return text;
}

bool SetValue(HKEY root, const std::wstring& path, const wchar_t* name, DWORD type,
              const void* data, DWORD bytes) {
  HKEY key = nullptr;
  if (RegCreateKeyExW(root, path.c_str(), 0, nullptr, 0, KEY_WRITE, nullptr, &key, nullptr) !=
      ERROR_SUCCESS)
    return false;
  bool ok =
      RegSetValueExW(key, name, 0, type, static_cast<const BYTE*>(data), bytes) == ERROR_SUCCESS;
  RegCloseKey(key);
  return ok;
}

bool SetString(HKEY root, const std::wstring& path, const wchar_t* name,
               const std::wstring& value) {
  return SetValue(root, path, name, REG_SZ, value.c_str(),
                  DWORD((value.size() + 1) * sizeof(wchar_t)));
}

bool SetDword(HKEY root, const std::wstring& path, const wchar_t* name, DWORD value) {
  return SetValue(root, path, name, REG_DWORD, &value, sizeof value);
}

const CLSID& CategoryOf(DeviceKind kind) {
  return kind == DeviceKind::Audio ? CLSID_AudioInputDeviceCategory
                                   : CLSID_VideoInputDeviceCategory;
}

// Where the moniker's property bag of each device of the kind reads its values from.
std::wstring InstancesKey(DeviceKind kind) {
  return L"CLSID\\" + GuidText(CategoryOf(kind)) + L"\\Instance";
}

std::wstring InstanceKey(DeviceKind kind, int device) {
  return InstancesKey(kind) + L"\\" + GuidText(DeviceClassId(device));
}

// A device path as the system's devices have one: "\\?\<bus>#<device>#<instance>#{<interface
// category>}". Made from the kind and the name, so it stays with the device when a new set
// changes the order; letters and digits stay, anything else becomes _XXXX (its code), so that
// no two names meet; the second and later devices of one kind and name count on (&2, &3, ...),
// as two cameras of one model have paths of their own.
std::wstring DerivedDevicePath(DeviceKind kind, const std::wstring& name, int sameNameBefore) {
  std::wstring safe;
  for (wchar_t c : name) {
    if ((c >= L'a' && c <= L'z') || (c >= L'A' && c <= L'Z') || (c >= L'0' && c <= L'9')) {
      safe += c;
    } else {
      const wchar_t* digits = L"0123456789abcdef";
      safe += L'_';
      for (int shift = 12; shift >= 0; shift -= 4) safe += digits[unsigned(c) >> shift & 15];
    }
  }
  if (sameNameBefore > 0) safe += L"&" + std::to_wstring(sameNameBefore + 1);
  // KSCATEGORY_CAPTURE for cameras, KSCATEGORY_AUDIO for microphones.
  const wchar_t* category = kind == DeviceKind::Video ? L"{65e8773d-8f56-11d0-a3b9-00a0c9223196}"
                                                      : L"{33d9a762-90c8-11d0-bd43-00a0c911ce86}";
  return L"\\\\?\\root#tesmo_test#" + safe + L"#" + category;
}

bool RegisterComClass(const CLSID& id, const std::wstring& title, const wchar_t* path) {
  const std::wstring classKey = L"CLSID\\" + GuidText(id);
  return SetString(HKEY_CLASSES_ROOT, classKey, nullptr, title) &&
         SetString(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32", nullptr, path) &&
         SetString(HKEY_CLASSES_ROOT, classKey + L"\\InprocServer32", L"ThreadingModel", L"Both");
}

// A transform for intelligent connect: the mapper's pin types are what the graph builder
// matches against the type an unconnectable output pin offers.
HRESULT RegisterConverter(IFilterMapper2* mapper, const wchar_t* path) {
  if (!RegisterComClass(kConverterClassId, kConverterName, path)) return E_FAIL;
  static const REGPINTYPES inputTypes[] = {
      {&MEDIATYPE_Video, &kSubtypeI420},       {&MEDIATYPE_Video, &MEDIASUBTYPE_YV12},
      {&MEDIATYPE_Video, &MEDIASUBTYPE_NV12},  {&MEDIATYPE_Video, &MEDIASUBTYPE_YUY2},
      {&MEDIATYPE_Video, &MEDIASUBTYPE_UYVY},  {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB555},
      {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB565}};
  static const REGPINTYPES outputTypes[] = {{&MEDIATYPE_Video, &MEDIASUBTYPE_RGB32},
                                            {&MEDIATYPE_Video, &MEDIASUBTYPE_RGB24}};
  REGFILTERPINS2 pins[2] = {};
  pins[0].cInstances = 1;
  pins[0].nMediaTypes = sizeof inputTypes / sizeof inputTypes[0];
  pins[0].lpMediaType = inputTypes;
  pins[1].dwFlags = REG_PINFLAG_B_OUTPUT;
  pins[1].cInstances = 1;
  pins[1].nMediaTypes = sizeof outputTypes / sizeof outputTypes[0];
  pins[1].lpMediaType = outputTypes;
  REGFILTER2 filterData = {};
  filterData.dwVersion = 2;
  // Tried by the graph builder (above MERIT_DO_NOT_USE), but after a system's own
  // converters where it has them, so registering the test devices changes no graph
  // that already worked.
  filterData.dwMerit = MERIT_UNLIKELY;
  filterData.cPins2 = 2;
  filterData.rgPins2 = pins;
  return mapper->RegisterFilter(kConverterClassId, kConverterName, nullptr,
                                &CLSID_LegacyAmFilterCategory, nullptr, &filterData);
}

// Unregisters device position `device` from the category it is not in now (both
// where `kept` is null): a position that stays keeps its registration, so a program
// listing the devices meanwhile never sees a device that stays go missing, as no
// device does when another is plugged in.
void UnregisterPosition(IFilterMapper2* mapper, int device, const CLSID* kept) {
  const CLSID id = DeviceClassId(device);
  if (mapper) {
    // Most positions were never registered in one of the two categories: results ignored.
    for (const CLSID* category : {&CLSID_AudioInputDeviceCategory, &CLSID_VideoInputDeviceCategory})
      if (!kept || !IsEqualGUID(*kept, *category)) mapper->UnregisterFilter(category, nullptr, id);
  }
  if (!kept) RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidText(id)).c_str());
}

void UnregisterConverter(IFilterMapper2* mapper) {
  if (mapper) mapper->UnregisterFilter(&CLSID_LegacyAmFilterCategory, nullptr, kConverterClassId);
  RegDeleteTreeW(HKEY_CLASSES_ROOT, (L"CLSID\\" + GuidText(kConverterClassId)).c_str());
}

}  // namespace

namespace {

// A string value of an open key; empty when it has none.
std::wstring ReadText(HKEY key, const wchar_t* name) {
  wchar_t text[512] = {};
  DWORD bytes = sizeof text - sizeof(wchar_t), type = 0;
  if (RegQueryValueExW(key, name, nullptr, &type, reinterpret_cast<BYTE*>(text), &bytes) !=
          ERROR_SUCCESS ||
      type != REG_SZ)
    return L"";
  return text;
}

}  // namespace

std::wstring RegisteredDevicePath(int device, DeviceKind kind) {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, InstanceKey(kind, device).c_str(), 0, KEY_READ, &key) !=
      ERROR_SUCCESS)
    return L"";
  std::wstring devicePath = ReadText(key, L"DevicePath");
  RegCloseKey(key);
  return devicePath;
}

bool IsDevicePathRegistered(const std::wstring& devicePath, DeviceKind kind) {
  HKEY instances = nullptr;
  if (RegOpenKeyExW(HKEY_CLASSES_ROOT, InstancesKey(kind).c_str(), 0, KEY_READ, &instances) !=
      ERROR_SUCCESS)
    return false;
  bool found = false;
  wchar_t name[64];
  for (DWORD i = 0; !found; ++i) {
    DWORD length = 64;
    if (RegEnumKeyExW(instances, i, name, &length, nullptr, nullptr, nullptr, nullptr) !=
        ERROR_SUCCESS)
      break;
    HKEY instance = nullptr;
    if (RegOpenKeyExW(instances, name, 0, KEY_READ, &instance) != ERROR_SUCCESS) continue;
    found = ReadText(instance, L"DevicePath") == devicePath;
    RegCloseKey(instance);
  }
  RegCloseKey(instances);
  return found;
}

HRESULT UnregisterDevices() {
  ComScope com;
  ComPtr<IFilterMapper2> mapper;
  CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER, IID_IFilterMapper2,
                   reinterpret_cast<void**>(&mapper));
  for (int device = 0; device < TESTDEVICES_MAX_DEVICES; ++device)
    UnregisterPosition(mapper.Get(), device, nullptr);
  UnregisterConverter(mapper.Get());
  return S_OK;
}

HRESULT RegisterDevices(HMODULE module, const std::vector<std::wstring>& descriptions) {
  if (descriptions.size() > TESTDEVICES_MAX_DEVICES) return E_INVALIDARG;
  std::vector<DeviceConfig> configs(descriptions.size());
  for (size_t i = 0; i < descriptions.size(); ++i) {
    std::wstring error;
    if (!ParseDeviceDescription(descriptions[i], configs[i], error)) return E_INVALIDARG;
  }
  wchar_t path[MAX_PATH] = {};
  if (!GetModuleFileNameW(module, path, MAX_PATH)) return E_FAIL;

  ComScope com;
  ComPtr<IFilterMapper2> mapper;
  HRESULT hr = CoCreateInstance(CLSID_FilterMapper2, nullptr, CLSCTX_INPROC_SERVER,
                                IID_IFilterMapper2, reinterpret_cast<void**>(&mapper));
  if (hr != S_OK) return hr;
  for (int device = int(configs.size()); device < TESTDEVICES_MAX_DEVICES; ++device)
    UnregisterPosition(mapper.Get(), device, nullptr);
  for (size_t i = 0; i < configs.size(); ++i) {
    const DeviceConfig& config = configs[i];
    UnregisterPosition(mapper.Get(), int(i), &CategoryOf(config.kind));
    const std::wstring title = config.hasName ? config.name : L"Tesmo test device without a name";
    if (!RegisterComClass(DeviceClassId(int(i)), title, path)) return E_FAIL;

    // The moniker's property bag reads its values from this key. The values beside the
    // filter's go in first: a program listing the devices meanwhile sees the device
    // arrive with its identity, as a plugged device does, not with another first.
    const std::wstring instanceKey = InstanceKey(config.kind, int(i));
    // As the system's audio capture devices name the wave-in device they record from.
    if (config.waveInId < 0)
      RegDeleteKeyValueW(HKEY_CLASSES_ROOT, instanceKey.c_str(), L"WaveInID");
    else if (!SetDword(HKEY_CLASSES_ROOT, instanceKey, L"WaveInID",
                       static_cast<DWORD>(config.waveInId)))
      return E_FAIL;
    // Beside FriendlyName, as the system's devices have it: the identity a client keeps.
    int sameNameBefore = 0;
    for (size_t j = 0; j < i; ++j)
      sameNameBefore += configs[j].kind == config.kind && configs[j].name == config.name;
    const std::wstring devicePath =
        config.devicePath.empty() ? DerivedDevicePath(config.kind, config.name, sameNameBefore)
                                  : config.devicePath;
    if (!config.hasPath)
      RegDeleteKeyValueW(HKEY_CLASSES_ROOT, instanceKey.c_str(), L"DevicePath");
    else if (!SetString(HKEY_CLASSES_ROOT, instanceKey, L"DevicePath", devicePath))
      return E_FAIL;
    REGFILTER2 filterData = {};
    filterData.dwVersion = 1;
    filterData.dwMerit = MERIT_DO_NOT_USE;  // a source: never picked by intelligent connect
    filterData.cPins = 0;
    filterData.rgPins = nullptr;
    hr = mapper->RegisterFilter(DeviceClassId(int(i)), title.c_str(), nullptr,
                                &CategoryOf(config.kind), nullptr, &filterData);
    if (hr != S_OK) return hr;
    // Without the value the bag has no FriendlyName, while BindToObject still works.
    if (!config.hasName)
      RegDeleteKeyValueW(HKEY_CLASSES_ROOT, instanceKey.c_str(), L"FriendlyName");
  }
  for (const DeviceConfig& config : configs) {
    if (config.withoutConverter) {
      UnregisterConverter(mapper.Get());
      return S_OK;
    }
  }
  return RegisterConverter(mapper.Get(), path);
}

}  // namespace testdevices
