// SPDX-License-Identifier: GPL-3.0-or-later
// The computer's clock, injectable so that tests can fix "now" (12:34:56, a midnight, a new
// year) and need not sleep to prove a rule.
#pragma once

#include <cstdint>

namespace tavex::platform {

// A civil (wall-clock) local date and time.
struct CivilTime {
  int year = 1970;
  int month = 1;  // 1..12
  int day = 1;    // 1..31
  int hour = 0;
  int minute = 0;
  int second = 0;
  int millisecond = 0;
  friend bool operator==(const CivilTime&, const CivilTime&) = default;
};

class WallClock {
 public:
  virtual ~WallClock() = default;
  virtual CivilTime LocalNow() const = 0;
  // Pauses the calling thread (the pacing of the clock exchanges).
  virtual void SleepMs(int milliseconds) = 0;

  // Monotonic time in nanoseconds from an arbitrary origin: deadlines are counted on it. A clock
  // that keeps only SleepMs gets a time of its own that moves by exactly what it has slept, so a
  // pause until a deadline reaches its SleepMs as the whole remaining pause.
  virtual std::int64_t MonotonicNs() const { return sleptNs_; }
  // Pauses until MonotonicNs() reaches `deadlineNs`; returns at once when it has passed.
  virtual void SleepUntilNs(std::int64_t deadlineNs);

 private:
  std::int64_t sleptNs_ = 0;
};

// The real clock: local time from the system, pauses on the monotonic clock that resume after
// signals, with a timer slack of about a microsecond so that a deadline is met closely.
WallClock& SystemClock();

}  // namespace tavex::platform
