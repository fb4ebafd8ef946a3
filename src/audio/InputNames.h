// Which pin names a recording-input request stands for, and how names compare.
// Pure functions, no platform headers.
#pragma once

#include <string>
#include <vector>

namespace tesmo {

// Longest request that fits the pin search's 260-byte name buffers with its zero.
constexpr size_t kInputNameLimit = 259;

// The pin names to try, in order: for "mic" and "line" (exactly, case-sensitive)
// their English names and the Chinese ones as code page 936 bytes, then the request
// itself; for any other request the request only.
std::vector<std::string> InputCandidates(const std::string& request);

// Lowercases A to Z only; every other byte (a GBK byte among them) is kept.
std::string AsciiLower(std::string text);

// Whether a pin name (in the ANSI code page) is the candidate, in any ASCII case.
// Exact: a name that merely begins with the candidate does not match.
bool InputNameMatches(const std::string& pinName, const std::string& candidate);

}  // namespace tesmo
