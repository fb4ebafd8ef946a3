#include "common/NameList.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Tesmo.h"
#include "common/Kernel.h"

using namespace tesmo;

namespace {
std::string Ansi(const std::u16string& text) {
  int size = WideToAnsi(text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::string out(size, '\0');
  WideToAnsi(text.data(), static_cast<int>(text.size()), out.data(), size);
  return out;
}
}  // namespace

TEST(NameList, EntriesAreLaidOutEvery260BytesAndTheLastByteIsNeverWritten) {
  std::vector<char> names(3 * kNameEntryBytes, '\xCD');
  NameListWriter list(names.data());
  list.Add(u"Microphone");
  list.Add(u"");
  list.Add(u"Line In");
  EXPECT_EQ(list.Count(), 3);
  EXPECT_STREQ(names.data(), "Microphone");
  EXPECT_STREQ(names.data() + kNameEntryBytes, "");
  EXPECT_STREQ(names.data() + 2 * kNameEntryBytes, "Line In");
  for (int k = 0; k < 3; ++k) EXPECT_EQ(names[k * kNameEntryBytes + 259], '\xCD') << k;
  EXPECT_EQ(names[kNameEntryBytes + 1], '\xCD');  // only the name and its zero
}

TEST(NameList, LongNamesAreCutAtAWholeCharacterAndTerminated) {
  const std::u16string ascii(300, u'a');
  // U+00E9 takes one byte in Western code pages and two in UTF-8; U+4E2D takes
  // two bytes in code page 936 and three in UTF-8. Either way no character may be
  // split and the entry must stay terminated inside its 259 bytes.
  for (const std::u16string& name :
       {ascii, std::u16string(300, u'\u00E9'), std::u16string(300, u'\u4E2D'),
        u"x" + std::u16string(300, u'\u00E9')}) {
    std::vector<char> names(2 * kNameEntryBytes, '\xCD');
    NameListWriter list(names.data());
    list.Add(name.c_str());
    list.Add(u"next");
    EXPECT_EQ(list.Count(), 2);
    const size_t length = strnlen(names.data(), kNameEntryBytes);
    ASSERT_LE(length, 258u);
    EXPECT_EQ(names[259], '\xCD');
    EXPECT_STREQ(names.data() + kNameEntryBytes, "next");
    // The entry is the conversion of a whole-character prefix of the name, as long
    // as fits: one more character would not.
    std::string full = Ansi(name);
    ASSERT_GT(full.size(), 258u);
    size_t prefixChars = 0, prefixBytes = 0;
    while (prefixBytes + Ansi(name.substr(prefixChars, 1)).size() <= 258)
      prefixBytes += Ansi(name.substr(prefixChars++, 1)).size();
    EXPECT_EQ(length, prefixBytes);
    EXPECT_EQ(std::string(names.data(), length), Ansi(name.substr(0, prefixChars)));
  }
}
