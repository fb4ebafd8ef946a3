// Module-wide memory of what each device saw, kept across filter objects so a test can read
// it after the library has released the graph. Any thread; one lock guards everything.
#pragma once
#include <condition_variable>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "DeviceConfig.h"
#include "TestDeviceControl.h"

namespace testdevices {

class DeviceRecords {
public:
  static DeviceRecords& Instance();

  void Reset();
  // `edit` runs under the lock; device positions outside the table are ignored.
  void Update(int device, const std::function<void(TestDeviceRecord&)>& edit);
  bool Read(int device, TestDeviceRecord& out);

  void CountCall(int device, const std::string& call);
  int CallCount(int device, const std::string& call);

  void NoteUnexpected(const std::string& call);
  std::vector<std::string> UnexpectedCalls();

  void NoteDelivered(int device, long bytes, bool wrongSize);
  bool WaitForSamples(int device, long long samples, unsigned timeoutMs);

private:
  DeviceRecords();
  std::mutex lock;
  std::condition_variable delivered;
  TestDeviceRecord records[TESTDEVICES_MAX_DEVICES];
  std::map<std::string, int> callCounts[TESTDEVICES_MAX_DEVICES];
  std::vector<std::string> unexpected;
};

// The faults one filter object injects, with its own call counts (for "name@k").
class FaultPlan {
public:
  FaultPlan(int device, std::vector<FaultDescription> faults);
  // Counts the call; true when it is to fail.
  bool Fails(const char* call) { return Fault(call) != S_OK; }
  // Counts the call; what it is to answer: S_OK, or the fault's result.
  HRESULT Fault(const char* call);
  // The same for a call made before any filter object exists (the class factory's), counted
  // per device since the last reset.
  static HRESULT FaultForDevice(int device, const std::vector<FaultDescription>& faults,
                                const char* call);

private:
  int device;
  std::vector<FaultDescription> faults;
  std::mutex lock;
  std::map<std::string, int> counts;
};

}  // namespace testdevices
