#include "audio/RecordLevel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

using namespace tesmo;

namespace {
// The level a host reads back after the value was written to both channels.
int ReadBack(uint32_t value, uint32_t range) {
  float level = -1.0f;
  EXPECT_TRUE(LevelFromChannels(value, value, range, level));
  return PercentFromLevel(level);
}
}  // namespace

TEST(RecordLevel, SourceKindIsTheMicrophoneOnlyForExactlyMic) {
  EXPECT_EQ(RecordSourceKind("mic"), kSourceMicrophone);
  EXPECT_EQ(RecordSourceKind("line"), kSourceLine);
  EXPECT_EQ(RecordSourceKind(""), kSourceLine);  // nothing selected yet
  EXPECT_EQ(RecordSourceKind("MIC"), kSourceLine);
  EXPECT_EQ(RecordSourceKind("mic "), kSourceLine);
  EXPECT_EQ(RecordSourceKind("mi"), kSourceLine);
  EXPECT_EQ(kSourceMicrophone, 4099u);
  EXPECT_EQ(kSourceLine, 4098u);
}

TEST(RecordLevel, WrittenValuesReadBackAsTheHostHasAlwaysSeenThem) {
  const uint32_t range = 0 + 65535;
  EXPECT_EQ(ChannelValueForLevel(100.0f, range), 65534u);
  EXPECT_EQ(ReadBack(65534, range), 99);
  EXPECT_EQ(ChannelValueForLevel(50.0f, range), 32767u);
  EXPECT_EQ(ReadBack(32767, range), 49);
  EXPECT_EQ(ChannelValueForLevel(0.0f, range), 0u);
  EXPECT_EQ(ReadBack(0, range), 0);
  EXPECT_EQ(ReadBack(65535, range), 100);
  EXPECT_EQ(ChannelValueForLevel(1.0f, range), 655u);
  // The range is minimum plus maximum, not their difference.
  EXPECT_EQ(ChannelValueForLevel(100.0f, 100 + 200), 299u);
}

TEST(RecordLevel, LevelAveragesTheFirstAndLastChannelInDoublePrecision) {
  float level = -1.0f;
  ASSERT_TRUE(LevelFromChannels(20000, 40000, 65535, level));
  EXPECT_FLOAT_EQ(level, static_cast<float>(60000.0 * 0.5 / 65535.0 * 100.0));
  EXPECT_EQ(PercentFromLevel(level), 45);
  ASSERT_TRUE(LevelFromChannels(65534, 65534, 65535, level));
  EXPECT_FLOAT_EQ(level, 99.998474f);
  // One channel (a uniform control) counts twice: its own value.
  ASSERT_TRUE(LevelFromChannels(13107, 13107, 65535, level));
  EXPECT_FLOAT_EQ(level, 20.0f);
  // The sum wraps in 32 bits, as the mixer's values do.
  ASSERT_TRUE(LevelFromChannels(0xFFFFFFFFu, 2, 100, level));
  EXPECT_FLOAT_EQ(level, 0.5f);
}

TEST(RecordLevel, ARangeOfZeroGivesNoLevelAndOddInputsStayDefined) {
  float level = -7.0f;
  EXPECT_FALSE(LevelFromChannels(10, 10, 0, level));
  EXPECT_EQ(level, -7.0f);  // left alone
  EXPECT_EQ(ChannelValueForLevel(50.0f, 0), 0u);

  EXPECT_EQ(PercentFromLevel(99.999f), 99);  // truncated, not rounded
  EXPECT_EQ(PercentFromLevel(-0.5f), 0);     // toward zero
  EXPECT_EQ(PercentFromLevel(1e12f), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(PercentFromLevel(-1e12f), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(PercentFromLevel(std::nanf("")), 0);
  // Percentages are not range-checked: the low 32 bits of the truncated product.
  EXPECT_EQ(ChannelValueForLevel(200.0f, 65535), 131069u);
  EXPECT_EQ(ChannelValueForLevel(-1.0f, 65535), static_cast<uint32_t>(-655));
  // A full 32-bit range keeps its top values: 4294967295 * 100 * 0.01f.
  EXPECT_EQ(ChannelValueForLevel(100.0f, 0xFFFFFFFFu), 4294967199u);
  EXPECT_EQ(ChannelValueForLevel(std::nanf(""), 65535), 0u);
  EXPECT_EQ(ChannelValueForLevel(1e30f, 65535), 0u);
}
