#include "DeviceRecords.h"

#include <chrono>
#include <cstring>

namespace testdevices {
namespace {
bool InTable(int device) { return device >= 0 && device < TESTDEVICES_MAX_DEVICES; }
}  // namespace

DeviceRecords& DeviceRecords::Instance() {
  static DeviceRecords instance;
  return instance;
}

DeviceRecords::DeviceRecords() { std::memset(records, 0, sizeof records); }

void DeviceRecords::Reset() {
  std::lock_guard<std::mutex> guard(lock);
  std::memset(records, 0, sizeof records);
  for (auto& counts : callCounts) counts.clear();
  unexpected.clear();
}

void DeviceRecords::Update(int device, const std::function<void(TestDeviceRecord&)>& edit) {
  if (!InTable(device)) return;
  std::lock_guard<std::mutex> guard(lock);
  edit(records[device]);
}

bool DeviceRecords::Read(int device, TestDeviceRecord& out) {
  if (!InTable(device)) return false;
  std::lock_guard<std::mutex> guard(lock);
  out = records[device];
  return true;
}

void DeviceRecords::CountCall(int device, const std::string& call) {
  if (!InTable(device)) return;
  std::lock_guard<std::mutex> guard(lock);
  ++callCounts[device][call];
}

int DeviceRecords::CallCount(int device, const std::string& call) {
  if (!InTable(device)) return 0;
  std::lock_guard<std::mutex> guard(lock);
  auto it = callCounts[device].find(call);
  return it == callCounts[device].end() ? 0 : it->second;
}

void DeviceRecords::NoteUnexpected(const std::string& call) {
  std::lock_guard<std::mutex> guard(lock);
  unexpected.push_back(call);
}

std::vector<std::string> DeviceRecords::UnexpectedCalls() {
  std::lock_guard<std::mutex> guard(lock);
  return unexpected;
}

void DeviceRecords::NoteDelivered(int device, long bytes, bool wrongSize) {
  if (!InTable(device)) return;
  {
    std::lock_guard<std::mutex> guard(lock);
    records[device].samplesDelivered += 1;
    records[device].bytesDelivered += bytes;
    if (wrongSize) records[device].wrongSizeSamples += 1;
  }
  delivered.notify_all();
}

bool DeviceRecords::WaitForSamples(int device, long long samples, unsigned timeoutMs) {
  if (!InTable(device)) return false;
  std::unique_lock<std::mutex> guard(lock);
  return delivered.wait_for(guard, std::chrono::milliseconds(timeoutMs),
                            [&] { return records[device].samplesDelivered >= samples; });
}

FaultPlan::FaultPlan(int device, std::vector<FaultDescription> faults)
    : device(device), faults(std::move(faults)) {}

HRESULT FaultPlan::Fault(const char* call) {
  DeviceRecords::Instance().CountCall(device, call);
  std::lock_guard<std::mutex> guard(lock);
  int count = ++counts[call];
  for (const auto& fault : faults)
    if (fault.call == call && (fault.onCall == 0 || fault.onCall == count)) return fault.result;
  return S_OK;
}

HRESULT FaultPlan::FaultForDevice(int device, const std::vector<FaultDescription>& faults,
                                  const char* call) {
  DeviceRecords& records = DeviceRecords::Instance();
  records.CountCall(device, call);
  const int count = records.CallCount(device, call);
  for (const auto& fault : faults)
    if (fault.call == call && (fault.onCall == 0 || fault.onCall == count)) return fault.result;
  return S_OK;
}

}  // namespace testdevices
