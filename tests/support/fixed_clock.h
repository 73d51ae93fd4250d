// SPDX-License-Identifier: GPL-3.0-or-later
// A wall clock whose "now" the test fixes. Its pauses are skipped, or real where something on the
// line (the simulator) keeps real time.
#pragma once

#include "platform/wall_clock.h"

namespace tavex::test {

class FixedClock final : public platform::WallClock {
 public:
  enum class Pauses { Skipped, Real };

  explicit FixedClock(platform::CivilTime now, Pauses pauses = Pauses::Skipped)
      : now_(now), pauses_(pauses) {}
  platform::CivilTime LocalNow() const override { return now_; }
  void SleepMs(int ms) override {
    if (pauses_ == Pauses::Real) platform::SystemClock().SleepMs(ms);
  }

 private:
  platform::CivilTime now_;
  Pauses pauses_;
};

}  // namespace tavex::test
