// Handles and threads of this process, to show that objects leave none behind, and the
// Open/Start/Stop/Close cycle that the leak tests repeat.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include "Tesmo.h"
#include "support/ProcessUsage.h"

namespace tesmo::test {

// The threads and handles of the process when made; ExpectNoGrowth fails the test when
// they have grown since (Wine's own worker threads may come and go: a small allowance),
// beyond what the platform keeps of the `opens` graphs built since on devices of
// `category` (see PlatformHandles).
class ProcessBaseline {
public:
  void ExpectNoGrowth(int opens = 0, REFCLSID category = CLSID_AudioInputDeviceCategory) const {
    const DWORD now = HandleCount();  // before the measurement's own graphs
    EXPECT_LE(ThreadCount(), threads + 2);
    double platform = 0;
    if (opens > 0) {
      const PlatformHandles kept = MeasurePlatformHandles(category);
      platform = opens * (kept.perGraph + kept.perEnumeration);
    }
    EXPECT_LE(now, handles + 8 + platform)
        << "of which the platform keeps " << platform << " for " << opens << " graphs";
  }

private:
  DWORD handles = HandleCount();
  int threads = ThreadCount();
};

// Open(0), Start, Stop and Close of a capture object, `cycles` times; `afterEach` runs after
// every cycle (a host with windows pumps their messages there).
template <class Capture, class AfterEach>
void CycleOpenStartStopClose(Capture* capture, int cycles, AfterEach afterEach) {
  for (int i = 0; i < cycles; ++i) {
    ASSERT_EQ(capture->Open(0), kCaptureDone) << i;
    ASSERT_EQ(capture->Start(), kCaptureDone);
    ASSERT_EQ(capture->Stop(), kCaptureDone);
    ASSERT_EQ(capture->Close(), kCaptureDone);
    afterEach();
  }
}

}  // namespace tesmo::test
