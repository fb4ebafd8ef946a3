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

#include <vector>

namespace tesmo::test {

inline DWORD HandleCount() {
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
  for (;;) {
    ULONG length = 0;
    const NTSTATUS status =
        NtQuerySystemInformation(static_cast<SYSTEM_INFORMATION_CLASS>(16), table.data(),
                                 static_cast<ULONG>(table.size() * sizeof table[0]), &length);
    if (status == static_cast<NTSTATUS>(0xC0000004L) && table.size() < (1u << 24)) {  // too small
      table.resize(table.size() * 4);
      continue;
    }
    if (status != 0) break;
    const ULONG count = *reinterpret_cast<const ULONG*>(table.data());
    const auto* entries = reinterpret_cast<const Entry*>(table.data() + 1);
    DWORD mine = 0;
    for (ULONG i = 0; i < count; ++i)
      if (entries[i].process == static_cast<USHORT>(GetCurrentProcessId())) ++mine;
    return mine;
  }
  DWORD count = 0;
  GetProcessHandleCount(GetCurrentProcess(), &count);
  return count;
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
