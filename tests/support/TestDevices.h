// Shared steps of the tests that drive the library against the test capture devices.
#pragma once

#include <gtest/gtest.h>
#include <objbase.h>

#include <string>
#include <vector>

#include "TestDeviceControl.h"

namespace tesmo::test {

// One line per COM object of the test devices still alive, for failure messages.
inline std::string LiveObjects() {
  std::string text(8192, '\0');
  text.resize(TestDevices_DescribeLiveObjects(text.data(), static_cast<int>(text.size())));
  return text;
}

// Registers exactly these devices, in this order, and clears their records.
inline void UseTestDevices(const std::vector<std::wstring>& descriptions) {
  std::vector<const wchar_t*> pointers;
  for (const auto& d : descriptions) pointers.push_back(d.c_str());
  ASSERT_EQ(TestDevices_SetDevices(pointers.data(), static_cast<int>(pointers.size())), S_OK);
  TestDevices_ResetRecords();
}

// What the device at this position saw since the records were cleared.
inline TestDeviceRecord DeviceRecord(int device) {
  TestDeviceRecord record{};
  EXPECT_TRUE(TestDevices_GetRecord(device, &record));
  return record;
}

// The end of a test on the test devices: nothing of them is held any more, and the
// default set is back for the next test.
inline void ExpectDevicesReleasedThenUseDefaults() {
  EXPECT_EQ(TestDevices_GetLiveObjectCount(), 0) << LiveObjects();
  EXPECT_EQ(TestDevices_GetOutstandingReferences(), 0) << LiveObjects();
  TestDevices_UseDefaultDevices();
}

// A test on the test devices from COM's multithreaded apartment, ending with
// nothing of them held and the default set back.
template <class Base = ::testing::Test>
class TestDevicesTest : public Base {
protected:
  void SetUp() override { ASSERT_TRUE(SUCCEEDED(CoInitializeEx(nullptr, COINIT_MULTITHREADED))); }
  void TearDown() override {
    ExpectDevicesReleasedThenUseDefaults();
    CoUninitialize();
  }
};

}  // namespace tesmo::test
