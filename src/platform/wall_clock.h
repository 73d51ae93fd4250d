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
};

// The real clock: local time from the system, pauses that resume after signals.
WallClock& SystemClock();

}  // namespace tavex::platform
