// The arithmetic of the recording level and the choice of the mixer source it
// addresses. Pure functions, no platform headers, so they run under the sanitizers.
#pragma once

#include <cstdint>
#include <string>

namespace tesmo {

// Mixer component types of the two recording sources (MIXERLINE_COMPONENTTYPE_SRC_*).
constexpr uint32_t kSourceLine = 0x1002;
constexpr uint32_t kSourceMicrophone = 0x1003;

// The microphone only for exactly "mic"; the line for anything else, including the
// empty name before any selection.
uint32_t RecordSourceKind(const std::string& inputName);

// The level in percent from the first and last channel values and the control's
// range (minimum + maximum). False, level untouched, when the range is 0.
bool LevelFromChannels(uint32_t first, uint32_t last, uint32_t range, float& level);

// The channel value that puts the control at `level` percent of the range.
uint32_t ChannelValueForLevel(float level, uint32_t range);

// The level as the host's whole percentage, truncated toward zero.
int32_t PercentFromLevel(float level);

}  // namespace tesmo
