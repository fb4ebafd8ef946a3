// Tells the frames the library lost from those it dropped by design. At a pace as fast
// as the camera's, a frame is dropped only when it was already waiting behind an older
// one as that went out: the older one had waited long enough for the next to arrive
// (the delivery thread, at the lowest priority, kept from running on a loaded machine),
// or the camera sent it late, right before the next (a camera that fell behind sends
// its frames in a burst). A gap after a frame that came on time and went out at once is
// a frame the library lost.
#pragma once

#include <algorithm>
#include <sstream>
#include <string>
#include <vector>

namespace tesmo::test {

struct DeliveredFrame {
  long number;              // the camera's frame number
  unsigned long arrivalMs;  // the tick the library stamped on it
  unsigned long waitedMs;   // from its arrival to its OnData
};

// Empty when every gap in the numbers follows a frame that waited, or arrived late on
// the camera's schedule of one frame every frameMs, by at least promptMs; else the
// gaps that do not. Numbers `skipped` says the camera never sent whole are no gaps.
inline std::string UnexplainedGaps(const std::vector<DeliveredFrame>& frames, double frameMs,
                                   bool (*skipped)(long number) = nullptr,
                                   unsigned long promptMs = 20) {
  if (frames.empty()) return "";
  // The camera's schedule, from the frame that came earliest on it.
  auto offset = [&](const DeliveredFrame& frame) {
    return double(long(frame.arrivalMs - frames[0].arrivalMs)) -
           (frame.number - frames[0].number) * frameMs;
  };
  double onTime = 0;
  for (const DeliveredFrame& frame : frames) onTime = std::min(onTime, offset(frame));
  std::ostringstream gaps;
  for (size_t i = 1; i < frames.size(); ++i) {
    long lost = 0;
    for (long number = frames[i - 1].number + 1; number < frames[i].number; ++number)
      lost += skipped && skipped(number) ? 0 : 1;
    const DeliveredFrame& before = frames[i - 1];
    const double late = offset(before) - onTime;
    if (lost > 0 && before.waitedMs < promptMs && late < promptMs)
      gaps << lost << " after number " << before.number << " (which waited " << before.waitedMs
           << " ms and came " << late << " ms late); ";
  }
  return gaps.str();
}

}  // namespace tesmo::test
