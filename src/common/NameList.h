// Device and pin names handed to the host: consecutive 260-byte entries, entry k at
// byte 260 * k, each a zero-terminated name in the system ANSI code page within its
// first 259 bytes. The 260th byte of an entry is never written.
#pragma once

#include <cstddef>

namespace tesmo {

constexpr int kNameEntryLimit = 259;  // bytes of an entry that may be written, zero included

// Converts a UTF-16 name into one entry. A name that needs more room is cut after
// the last whole character that fits, so the entry is always terminated.
void WriteNameEntry(char* entry, const char16_t* name);

class NameListWriter {
public:
  explicit NameListWriter(char* names) : names(names) {}
  void Add(const char16_t* name);
  int Count() const { return count; }

private:
  char* names;
  int count = 0;
};

}  // namespace tesmo
