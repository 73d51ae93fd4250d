// SPDX-License-Identifier: GPL-3.0-or-later
#include "clocklink/LinePacing.h"

#include <algorithm>

namespace tavex {

void SendPaced(const std::string& lineImage, int pauseMs, platform::WallClock& clock,
               const std::function<void(char)>& writeByte) {
  const std::int64_t pause = std::int64_t{pauseMs} * 1000000;
  std::int64_t due = clock.MonotonicNs();
  bool first = true;
  std::int64_t previous = 0;  // when the previous write began
  for (char byte : lineImage) {
    if (!first) {
      due = std::max(due, previous + pause - kPacingToleranceNs);
      clock.SleepUntilNs(due);
    }
    first = false;
    previous = clock.MonotonicNs();
    writeByte(byte);
    due += pause;
  }
  if (!first) clock.SleepUntilNs(std::max(due, previous + pause - kPacingToleranceNs));
}

}  // namespace tavex
