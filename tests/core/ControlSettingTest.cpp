#include "video/ControlSetting.h"

#include <gtest/gtest.h>

#include <climits>

using tesmo::AcceptsSetting;
using tesmo::ControlRange;
using tesmo::OfferedModes;

TEST(ControlSetting, ValuesOnTheStepsInsideTheRangeInOfferedModesOnly) {
  // Exposure as webcams report it: -13..-1 in steps of 1, auto and manual.
  const ControlRange exposure{-13, -1, 1, -6, 3};
  EXPECT_EQ(OfferedModes(exposure), kControlAuto | kControlManual);
  EXPECT_TRUE(AcceptsSetting(exposure, -13, kControlManual));
  EXPECT_TRUE(AcceptsSetting(exposure, -1, kControlManual));
  EXPECT_FALSE(AcceptsSetting(exposure, 0, kControlManual));
  EXPECT_FALSE(AcceptsSetting(exposure, -14, kControlManual));
  // Auto takes no value: whatever is passed.
  EXPECT_TRUE(AcceptsSetting(exposure, 12345, kControlAuto));
  EXPECT_FALSE(AcceptsSetting(exposure, -6, 0));
  EXPECT_FALSE(AcceptsSetting(exposure, -6, kControlAuto | kControlManual));

  // Steps count from the minimum, not from zero.
  const ControlRange zoom{100, 400, 10, 100, 2};
  EXPECT_EQ(OfferedModes(zoom), kControlManual);
  EXPECT_TRUE(AcceptsSetting(zoom, 110, kControlManual));
  EXPECT_TRUE(AcceptsSetting(zoom, 400, kControlManual));
  EXPECT_FALSE(AcceptsSetting(zoom, 105, kControlManual));
  EXPECT_FALSE(AcceptsSetting(zoom, 100, kControlAuto));
  const ControlRange odd{-7, 8, 3, -1, 2};
  EXPECT_TRUE(AcceptsSetting(odd, -4, kControlManual));
  EXPECT_TRUE(AcceptsSetting(odd, 8, kControlManual));
  EXPECT_FALSE(AcceptsSetting(odd, -6, kControlManual));

  // A camera that only runs it by itself.
  const ControlRange whiteBalance{2800, 6500, 100, 4600, 1};
  EXPECT_EQ(OfferedModes(whiteBalance), kControlAuto);
  EXPECT_FALSE(AcceptsSetting(whiteBalance, 4600, kControlManual));
  EXPECT_TRUE(AcceptsSetting(whiteBalance, 0, kControlAuto));

  // No flags at all: set by hand; a step of 0 counts as 1; a reversed range is unusable.
  const ControlRange plain{0, 255, 0, 128, 0};
  EXPECT_EQ(OfferedModes(plain), kControlManual);
  EXPECT_TRUE(AcceptsSetting(plain, 77, kControlManual));
  EXPECT_FALSE(AcceptsSetting(plain, 77, kControlAuto));
  const ControlRange reversed{10, 0, 1, 5, 2};
  EXPECT_FALSE(AcceptsSetting(reversed, 5, kControlManual));
  // The whole range of the type, without overflow.
  const ControlRange wide{INT_MIN, INT_MAX, 2, 0, 2};
  EXPECT_TRUE(AcceptsSetting(wide, INT_MAX - 1, kControlManual));
  EXPECT_FALSE(AcceptsSetting(wide, INT_MAX, kControlManual));
}
