// Tells the frames the library lost from those it dropped by design. At a pace as fast
// as the camera's, a frame is dropped only when a newer one came before it went out:
// then the one delivered before the gap waited at least most of a frame time (the
// delivery thread, at the lowest priority, was kept from running on a loaded machine).
// A gap after a frame that went out at once is a frame the library lost.
#pragma once

#include <sstream>
#include <string>
#include <vector>

namespace tesmo::test {

struct DeliveredFrame {
  long number;             // the camera's frame number
  unsigned long waitedMs;  // from its arrival to its OnData
};

// Empty when every gap in the numbers follows a frame that waited at least promptMs;
// else the gaps that do not. Numbers `skipped` says the camera never sent whole do
// not count as gaps.
inline std::string UnexplainedGaps(const std::vector<DeliveredFrame>& frames,
                                   bool (*skipped)(long number) = nullptr,
                                   unsigned long promptMs = 20) {
  std::ostringstream gaps;
  for (size_t i = 1; i < frames.size(); ++i) {
    long lost = 0;
    for (long number = frames[i - 1].number + 1; number < frames[i].number; ++number)
      lost += skipped && skipped(number) ? 0 : 1;
    if (lost > 0 && frames[i - 1].waitedMs < promptMs)
      gaps << lost << " after number " << frames[i - 1].number << " (which waited "
           << frames[i - 1].waitedMs << " ms); ";
  }
  return gaps.str();
}

}  // namespace tesmo::test
