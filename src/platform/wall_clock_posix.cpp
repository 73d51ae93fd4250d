// SPDX-License-Identifier: GPL-3.0-or-later
#include <sys/prctl.h>

#include <cerrno>
#include <ctime>

#include "platform/wall_clock.h"

namespace tavex::platform {
namespace {

constexpr long kNsPerSecond = 1000000000L;

timespec ToTimespec(std::int64_t ns) {
  return timespec{static_cast<time_t>(ns / kNsPerSecond), static_cast<long>(ns % kNsPerSecond)};
}

// The kernel may wake a sleeper up to its timer slack late (50 µs by default) to merge wake-ups;
// the byte pacing of the clock line wants its deadlines met closely. The slack is per thread.
void UseSmallTimerSlack() {
  thread_local const bool set = [] {
    constexpr unsigned long kSlackNs = 1000;
    return ::prctl(PR_SET_TIMERSLACK, kSlackNs, 0, 0, 0) == 0;
  }();
  static_cast<void>(set);
}

class SystemWallClock final : public WallClock {
 public:
  CivilTime LocalNow() const override {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    tm local{};
    localtime_r(&now.tv_sec, &local);
    return CivilTime{local.tm_year + 1900,
                     local.tm_mon + 1,
                     local.tm_mday,
                     local.tm_hour,
                     local.tm_min,
                     local.tm_sec,
                     static_cast<int>(now.tv_nsec / 1000000)};
  }

  void SleepMs(int milliseconds) override {
    if (milliseconds <= 0) return;
    // An absolute deadline on the monotonic clock: a signal does not lengthen or shorten the pause.
    SleepUntilNs(MonotonicNs() + std::int64_t{milliseconds} * 1000000);
  }

  std::int64_t MonotonicNs() const override {
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return std::int64_t{now.tv_sec} * kNsPerSecond + now.tv_nsec;
  }

  void SleepUntilNs(std::int64_t deadlineNs) override {
    UseSmallTimerSlack();
    const timespec deadline = ToTimespec(deadlineNs);
    while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
    }
  }
};

}  // namespace

WallClock& SystemClock() {
  static SystemWallClock clock;
  return clock;
}

}  // namespace tavex::platform
