#include <cerrno>
#include <ctime>

#include "platform/wall_clock.h"

namespace tavex::platform {
namespace {

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
    timespec deadline{};
    clock_gettime(CLOCK_MONOTONIC, &deadline);
    deadline.tv_sec += milliseconds / 1000;
    deadline.tv_nsec += static_cast<long>(milliseconds % 1000) * 1000000L;
    if (deadline.tv_nsec >= 1000000000L) {
      deadline.tv_sec += 1;
      deadline.tv_nsec -= 1000000000L;
    }
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
