#include "common/NameList.h"

#include "Tesmo.h"
#include "common/Kernel.h"

namespace tesmo {

namespace {
int TextLength(const char16_t* text) {
  int length = 0;
  while (text[length]) ++length;
  return length;
}

bool IsHighSurrogate(char16_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
bool IsLowSurrogate(char16_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }
}  // namespace

void WriteNameEntry(char* entry, const char16_t* name) {
  const int maxText = kNameEntryLimit - 1;
  const int length = name ? TextLength(name) : 0;
  int written = length > 0 ? WideToAnsi(name, length, entry, maxText) : 0;
  if (length > 0 && written == 0) {
    // Too long (or partly unconvertible): keep the whole characters that fit. Each
    // character converts on its own, so a multi-byte character is never split.
    for (int i = 0; i < length;) {
      int units =
          (IsHighSurrogate(name[i]) && i + 1 < length && IsLowSurrogate(name[i + 1])) ? 2 : 1;
      int size = WideToAnsi(name + i, units, nullptr, 0);
      if (size <= 0 || written + size > maxText) break;
      WideToAnsi(name + i, units, entry + written, size);
      written += size;
      i += units;
    }
  }
  entry[written] = '\0';
}

void NameListWriter::Add(const char16_t* name) {
  WriteNameEntry(names + static_cast<size_t>(count) * kNameEntryBytes, name);
  ++count;
}

}  // namespace tesmo
