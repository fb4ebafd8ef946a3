// What this process holds: handles, threads and private bytes. Wine 8 answers
// GetProcessHandleCount with 0 and PrivateUsage with 0, so handles are counted in the
// system's handle table and private bytes read as PagefileUsage (the same figure on
// Windows). And what the platform itself keeps of the objects the library makes.
#pragma once

#include <windows.h>
#include <dshow.h>
#include <psapi.h>
#include <tlhelp32.h>
#include <winternl.h>

#include <algorithm>
#include <vector>

namespace tesmo::test {

// This process's entries of the system's handle table: the object type index of each.
// None when the table cannot be read.
inline std::vector<UCHAR> HandleTypes() {
  // SystemHandleInformation: a count, then one entry per handle of the system.
  struct Entry {
    USHORT process;  // the low 16 bits of the owner's id
    USHORT backTrace;
    UCHAR type, attributes;
    USHORT value;
    PVOID object;
    ACCESS_MASK access;
  };
  std::vector<ULONG_PTR> table(1 << 16);
  std::vector<UCHAR> types;
  for (;;) {
    ULONG length = 0;
    const NTSTATUS status =
        NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(16), table.data(),
                                 static_cast<ULONG>(table.size() * sizeof table[0]), &length);
    if (status == static_cast<NTSTATUS>(0xC0000004L) && table.size() < (1u << 24)) {  // too small
      table.resize(table.size() * 4);
      continue;
    }
    if (status != 0) return types;
    const ULONG count = *reinterpret_cast<const ULONG*>(table.data());
    const auto* entries = reinterpret_cast<const Entry*>(table.data() + 1);
    for (ULONG i = 0; i < count; ++i)
      if (entries[i].process == static_cast<USHORT>(GetCurrentProcessId()))
        types.push_back(entries[i].type);
    return types;
  }
}

inline DWORD HandleCount() {
  const std::vector<UCHAR> types = HandleTypes();
  if (!types.empty()) return static_cast<DWORD>(types.size());
  DWORD count = 0;
  GetProcessHandleCount(GetCurrentProcess(), &count);
  return count;
}

// The handles other than registry keys: Wine keeps registry keys of every device listing
// (see PlatformHandles), and a watch lists the devices every second. The key type is
// the one a key opened here has; 0 when the table cannot be read.
inline DWORD HandleCountExceptKeys() {
  // Opening a second key adds one handle of the key type (the first may open HKCU too).
  HKEY first = nullptr, second = nullptr;
  if (RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &first) != ERROR_SUCCESS) return 0;
  const std::vector<UCHAR> before = HandleTypes();
  RegOpenKeyExW(HKEY_CURRENT_USER, L"Software", 0, KEY_READ, &second);
  std::vector<UCHAR> with = HandleTypes();
  if (second) RegCloseKey(second);
  RegCloseKey(first);
  for (int type = 0; type < 256; ++type) {
    const auto counted = [type](const std::vector<UCHAR>& types) {
      return std::count(types.begin(), types.end(), static_cast<UCHAR>(type));
    };
    if (counted(with) == counted(before) + 1) {
      // Less the two keys of this measurement.
      return static_cast<DWORD>(with.size() - counted(with));
    }
  }
  return 0;
}

inline int ThreadCount() {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPTHREAD, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return -1;
  THREADENTRY32 entry{};
  entry.dwSize = sizeof entry;
  int count = 0;
  for (BOOL more = Thread32First(snapshot, &entry); more; more = Thread32Next(snapshot, &entry))
    if (entry.th32OwnerProcessID == GetCurrentProcessId()) ++count;
  CloseHandle(snapshot);
  return count;
}

inline SIZE_T PrivateBytes() {
  PROCESS_MEMORY_COUNTERS memory{};
  memory.cb = sizeof memory;
  GetProcessMemoryInfo(GetCurrentProcess(), &memory, sizeof memory);
  return memory.PagefileUsage;
}

// Wine 8 keeps handles of its own that nothing can release: one for every filter graph
// made (an event), and two for every device enumeration (registry keys). Measured here by
// making them without the library, so that a test can tell the library's leaks from
// them; 0 where the platform keeps nothing.
struct PlatformHandles {
  double perGraph = 0;
  double perEnumeration = 0;  // CreateClassEnumerator and Next to the end, as a listing does
};

inline PlatformHandles MeasurePlatformHandles(REFCLSID category) {
  const int rounds = 20;
  PlatformHandles kept;
  DWORD before = HandleCount();
  for (int i = 0; i < rounds; ++i) {
    IUnknown* graph = nullptr;
    if (CoCreateInstance(CLSID_FilterGraph, nullptr, CLSCTX_INPROC_SERVER, IID_IUnknown,
                         reinterpret_cast<void**>(&graph)) == S_OK)
      graph->Release();
  }
  kept.perGraph = (static_cast<double>(HandleCount()) - before) / rounds;
  before = HandleCount();
  for (int i = 0; i < rounds; ++i) {
    ICreateDevEnum* devices = nullptr;
    if (CoCreateInstance(CLSID_SystemDeviceEnum, nullptr, CLSCTX_INPROC_SERVER, IID_ICreateDevEnum,
                         reinterpret_cast<void**>(&devices)) != S_OK)
      continue;
    IEnumMoniker* monikers = nullptr;
    if (devices->CreateClassEnumerator(category, &monikers, 0) == S_OK) {
      for (IMoniker* moniker = nullptr; monikers->Next(1, &moniker, nullptr) == S_OK;)
        moniker->Release();
      monikers->Release();
    }
    devices->Release();
  }
  kept.perEnumeration = (static_cast<double>(HandleCount()) - before) / rounds;
  return kept;
}

}  // namespace tesmo::test
