// Sequence-numbered bytes: byte i of a stream is SequenceByte(i), so a lost,
// repeated or reordered byte shows up at the first wrong offset.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace tesmo::test {

inline unsigned char SequenceByte(uint64_t offset) {
  // 251 is prime, so the pattern never lines up with block or buffer sizes.
  return static_cast<unsigned char>(offset % 251);
}

inline std::vector<unsigned char> SequenceBytes(uint64_t start, size_t length) {
  std::vector<unsigned char> bytes(length);
  for (size_t i = 0; i < length; ++i) bytes[i] = SequenceByte(start + i);
  return bytes;
}

// Offset of the first byte that breaks the sequence starting at `start`, or -1.
inline long long FirstSequenceBreak(const unsigned char* data, size_t length, uint64_t start) {
  for (size_t i = 0; i < length; ++i)
    if (data[i] != SequenceByte(start + i)) return static_cast<long long>(i);
  return -1;
}

}  // namespace tesmo::test
