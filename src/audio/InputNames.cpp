#include "audio/InputNames.h"

namespace tesmo {

std::vector<std::string> InputCandidates(const std::string& request) {
  // The Chinese names are GBK bytes: they can match only where the ANSI code page is 936.
  if (request == "mic")
    return {"Microphone",
            "Mic",
            "\xC2\xF3\xBF\xCB\xB7\xE7",  // 麦克风
            "\xC2\xBC\xD2\xF4",          // 录音
            "\xBB\xB0\xCD\xB2",          // 话筒
            request};
  if (request == "line")
    return {"Line In", "Line-In",
            "\xCF\xDF\xD0\xD4\xCA\xE4\xC8\xEB",  // 线性输入
            "LineIn", request};
  return {request};
}

std::string AsciiLower(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return text;
}

bool InputNameMatches(const std::string& pinName, const std::string& candidate) {
  return !candidate.empty() && AsciiLower(pinName) == AsciiLower(candidate);
}

}  // namespace tesmo
