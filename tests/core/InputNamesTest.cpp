#include "audio/InputNames.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace tesmo;
using Names = std::vector<std::string>;

TEST(InputNames, MicAndLineStandForTheirEnglishAndChineseNamesThenThemselves) {
  EXPECT_EQ(InputCandidates("mic"), (Names{"Microphone", "Mic", "\xC2\xF3\xBF\xCB\xB7\xE7",
                                           "\xC2\xBC\xD2\xF4", "\xBB\xB0\xCD\xB2", "mic"}));
  EXPECT_EQ(InputCandidates("line"),
            (Names{"Line In", "Line-In", "\xCF\xDF\xD0\xD4\xCA\xE4\xC8\xEB", "LineIn", "line"}));
  // Recognised only exactly: anything else is tried as itself alone.
  EXPECT_EQ(InputCandidates("MIC"), (Names{"MIC"}));
  EXPECT_EQ(InputCandidates("Line"), (Names{"Line"}));
  EXPECT_EQ(InputCandidates("aux"), (Names{"aux"}));
}

TEST(InputNames, MatchingIsExactUpToAsciiCase) {
  EXPECT_TRUE(InputNameMatches("MIC", "mic"));
  EXPECT_TRUE(InputNameMatches("mIc", "Mic"));
  EXPECT_TRUE(InputNameMatches("LINE IN", "Line In"));
  EXPECT_FALSE(InputNameMatches("Mic Boost", "mic"));  // no prefix match
  EXPECT_FALSE(InputNameMatches("Mi", "mic"));
  EXPECT_FALSE(InputNameMatches("Line-In", "Line In"));
  EXPECT_FALSE(InputNameMatches("", ""));  // an empty candidate matches nothing
  EXPECT_TRUE(InputNameMatches("\xC2\xF3\xBF\xCB\xB7\xE7", "\xC2\xF3\xBF\xCB\xB7\xE7"));
  // Bytes outside A to Z are never folded: GBK bytes, Latin-1 capitals, digits.
  EXPECT_EQ(AsciiLower("AZaz09[@`{\xC2\xC9\xDD"), "azaz09[@`{\xC2\xC9\xDD");
  EXPECT_FALSE(InputNameMatches("\xC9", "\xE9"));  // É is not é
}
