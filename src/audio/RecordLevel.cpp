#include "audio/RecordLevel.h"

#include <cmath>
#include <limits>

namespace tesmo {

uint32_t RecordSourceKind(const std::string& inputName) {
  return inputName == "mic" ? kSourceMicrophone : kSourceLine;
}

bool LevelFromChannels(uint32_t first, uint32_t last, uint32_t range, float& level) {
  if (range == 0) return false;
  // The sum wraps as the mixer's 32-bit values do; then double precision, left to right.
  const uint32_t sum = first + last;
  level = static_cast<float>(static_cast<double>(sum) * 0.5 / static_cast<double>(range) * 100.0);
  return true;
}

uint32_t ChannelValueForLevel(float level, uint32_t range) {
  // 0.01 as a float constant: 100 % of 65535 becomes 65534, the value hosts have
  // always seen written.
  const double product =
      static_cast<double>(range) * static_cast<double>(level) * static_cast<double>(0.01f);
  // The level is not range-checked: keep the conversion defined for any input and
  // hand the mixer the low 32 bits of the truncated product.
  constexpr double kBound = 9.0e18;
  if (!(product > -kBound && product < kBound)) return 0;
  return static_cast<uint32_t>(static_cast<int64_t>(product));
}

int32_t PercentFromLevel(float level) {
  if (std::isnan(level)) return 0;
  if (level >= 2147483647.0f) return std::numeric_limits<int32_t>::max();
  if (level <= -2147483648.0f) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(level);
}

}  // namespace tesmo
