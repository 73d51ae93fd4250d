// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/wall_clock.h"

namespace tavex::platform {

void WallClock::SleepUntilNs(std::int64_t deadlineNs) {
  if (deadlineNs <= sleptNs_) return;
  constexpr std::int64_t kNsPerMs = 1000000;
  const std::int64_t remainingMs = (deadlineNs - sleptNs_ + kNsPerMs - 1) / kNsPerMs;
  SleepMs(static_cast<int>(remainingMs));
  sleptNs_ = deadlineNs;
}

}  // namespace tavex::platform
