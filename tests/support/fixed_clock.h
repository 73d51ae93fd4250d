// SPDX-License-Identifier: GPL-3.0-or-later
// Wall clocks for tests: one whose "now" the test fixes, and the computer's clock moved away from
// the turn of a minute.
#pragma once

#include <time.h>

#include <cstdint>

#include "platform/wall_clock.h"

namespace tavex::test {

// A clock whose "now" the test fixes. Its pauses are skipped, or real where something on the line
// (the simulator) keeps real time.
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

// The computer's clock moved by whole seconds so that it reads second 20 of a minute when it is
// made: a test that runs for less than 40 seconds sees no minute turn, and whether a clock's
// hour and minute agree with the computer's is decided the same way whenever the test runs. A
// simulator started with `--offset ShiftSeconds()` keeps the same time. Pauses are real.
class MidMinuteClock final : public platform::WallClock {
 public:
  MidMinuteClock() : shift_((80 - platform::SystemClock().LocalNow().second) % 60) {}
  int ShiftSeconds() const { return shift_; }

  platform::CivilTime LocalNow() const override {
    const platform::CivilTime now = platform::SystemClock().LocalNow();
    // Civil-time arithmetic on the UTC calendar, which has no daylight-saving jumps.
    std::tm t{};
    t.tm_year = now.year - 1900;
    t.tm_mon = now.month - 1;
    t.tm_mday = now.day;
    t.tm_hour = now.hour;
    t.tm_min = now.minute;
    t.tm_sec = now.second + shift_;
    const time_t seconds = ::timegm(&t);
    ::gmtime_r(&seconds, &t);
    return {t.tm_year + 1900, t.tm_mon + 1, t.tm_mday,      t.tm_hour,
            t.tm_min,         t.tm_sec,     now.millisecond};
  }
  void SleepMs(int ms) override { platform::SystemClock().SleepMs(ms); }
  std::int64_t MonotonicNs() const override { return platform::SystemClock().MonotonicNs(); }
  void SleepUntilNs(std::int64_t deadlineNs) override {
    platform::SystemClock().SleepUntilNs(deadlineNs);
  }

 private:
  int shift_;
};

}  // namespace tavex::test
