#include "common/DeviceList.h"

#include <gtest/gtest.h>

#include "Tesmo.h"

using namespace tesmo;

namespace {

ListedDevice Video(const char* identity, const char* name = "Camera") {
  return {kDeviceVideo, identity, name};
}

}  // namespace

TEST(DeviceList, ChangesGoByKindAndIdentityAndCountDevicesListedTwice) {
  const DeviceList before = {{kDeviceAudio, "a1", "Microphone"}, Video("v1"), Video("v2")};
  // Reordered, renamed: no change.
  EXPECT_TRUE(ChangesBetween(before, {Video("v2"), {kDeviceAudio, "a1", "Mic"}, Video("v1", "Cam")})
                  .empty());
  // One gone, one come: the removal first, with the name it had.
  std::vector<DeviceChange> changes =
      ChangesBetween(before, {{kDeviceAudio, "a1", "Microphone"}, Video("v2"), Video("v3", "New")});
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].change, kDeviceRemoved);
  EXPECT_EQ(changes[0].device.identity, "v1");
  EXPECT_EQ(changes[1].change, kDeviceArrived);
  EXPECT_EQ(changes[1].device.identity, "v3");
  EXPECT_EQ(changes[1].device.name, "New");
  // The same identity in the other kind is another device.
  changes = ChangesBetween({Video("x")}, {{kDeviceAudio, "x", "Camera"}});
  ASSERT_EQ(changes.size(), 2u);
  EXPECT_EQ(changes[0].device.kind, kDeviceVideo);
  EXPECT_EQ(changes[1].device.kind, kDeviceAudio);
  // Two devices of one identity: the second's arrival and leaving are each one change.
  changes = ChangesBetween({Video("v1")}, {Video("v1"), Video("v1")});
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].change, kDeviceArrived);
  changes = ChangesBetween({Video("v1"), Video("v1")}, {Video("v1")});
  ASSERT_EQ(changes.size(), 1u);
  EXPECT_EQ(changes[0].change, kDeviceRemoved);
  // Everything gone, and all there from nothing.
  EXPECT_EQ(ChangesBetween(before, {}).size(), 3u);
  EXPECT_EQ(ChangesBetween({}, before).size(), 3u);
  EXPECT_TRUE(IsListed(before, kDeviceVideo, "v2"));
  EXPECT_FALSE(IsListed(before, kDeviceAudio, "v2"));
}
