// The key table of tools/testdevices/README.md against the description parser's own table.
#include <gtest/gtest.h>

#include <fstream>
#include <string>

#include "DeviceConfig.h"

namespace {

// The first column of the table under "### Description keys", one key a line.
std::string ReadmeKeys(const char* path) {
  std::ifstream readme(path);
  std::string keys;
  bool inSection = false;
  for (std::string line; std::getline(readme, line);) {
    if (line.rfind("### ", 0) == 0) inSection = line.rfind("### Description keys", 0) == 0;
    if (!inSection || line.rfind("| `", 0) != 0) continue;
    const size_t end = line.find('`', 3);
    if (end != std::string::npos) keys += line.substr(3, end - 3) + "\n";
  }
  return keys;
}

TEST(DescriptionKeys, TheReadmeTableListsEveryKeyOfTheParserInItsOrder) {
  const std::string documented = ReadmeKeys(TESTDEVICES_README);
  ASSERT_FALSE(documented.empty()) << "no key table read from " << TESTDEVICES_README;
  std::string parsed;
  for (const std::wstring& key : testdevices::DescriptionKeyNames())
    parsed += testdevices::ToUtf8(key) + "\n";
  EXPECT_EQ(parsed, documented);
}

}  // namespace
