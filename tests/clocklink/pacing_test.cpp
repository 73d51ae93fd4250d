// SPDX-License-Identifier: GPL-3.0-or-later
// The pacing of a frame's bytes, on a scripted monotonic clock: when each write begins, given
// how long writes take and how late each wake-up is. No test here sleeps.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

#include "clocklink/LinePacing.h"

namespace tavex {
namespace {

constexpr std::int64_t kMs = 1000000;
constexpr std::int64_t kUs = 1000;

// Time moves only by the writes and sleeps of the exchange, by the amounts the script says.
class ScriptedClock final : public platform::WallClock {
 public:
  std::int64_t wakeLateNs = 0;              // every wake-up this late
  std::map<int, std::int64_t> extraLateNs;  // the wake-up before byte n this much later
  std::int64_t writeNs = 0;                 // every write this long
  std::map<int, std::int64_t> stallNs;      // write n this much longer
  std::vector<std::int64_t> writes;         // when each write began
  std::int64_t now = 5 * 1000 * kMs;        // any origin
  std::vector<int> plainSleeps;

  platform::CivilTime LocalNow() const override { return {}; }
  void SleepMs(int ms) override { plainSleeps.push_back(ms); }
  std::int64_t MonotonicNs() const override { return now; }
  void SleepUntilNs(std::int64_t deadline) override {
    const int next = static_cast<int>(writes.size());
    now = std::max(now, deadline) + wakeLateNs + (extraLateNs.count(next) ? extraLateNs[next] : 0);
  }
  void Write() {
    const int n = static_cast<int>(writes.size());
    writes.push_back(now);
    now += writeNs + (stallNs.count(n) ? stallNs[n] : 0);
  }
};

struct Spans {
  std::int64_t firstToLast;
  std::int64_t smallestGap;
  std::int64_t end;  // when the pause after the last byte was over, from the first byte
};

Spans Send(ScriptedClock& clock, std::size_t bytes, int pauseMs) {
  const std::int64_t start = clock.now;
  SendPaced(std::string(bytes, 'x'), pauseMs, clock, [&clock](char) { clock.Write(); });
  EXPECT_EQ(clock.writes.size(), bytes);
  std::int64_t smallest = INT64_MAX;
  for (std::size_t i = 1; i < clock.writes.size(); ++i) {
    smallest = std::min(smallest, clock.writes[i] - clock.writes[i - 1]);
  }
  EXPECT_EQ(clock.writes.front(), start);  // the first byte goes at once
  return {clock.writes.back() - clock.writes.front(), smallest, clock.now - clock.writes.front()};
}

TEST(Pacing, DeadlinesCountFromTheFirstByteSoWritesAndWakeUpsDoNotAddUp) {
  struct Case {
    const char* name;
    std::size_t bytes;
    int pauseMs;
    std::int64_t writeNs, wakeLateNs;
    std::int64_t maxSpanNs;  // first to last byte
  };
  const Case cases[] = {
      {"configuration, ideal", 26, 10, 0, 0, 250 * kMs},
      {"configuration, 300 µs writes, 60 µs late wake-ups", 26, 10, 300 * kUs, 60 * kUs,
       250 * kMs + 60 * kUs},
      {"time setting, 300 µs writes, 60 µs late wake-ups", 21, 5, 300 * kUs, 60 * kUs,
       100 * kMs + 60 * kUs},
      {"read request", 2, 10, 300 * kUs, 60 * kUs, 10 * kMs + 60 * kUs},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedClock clock;
    clock.writeNs = c.writeNs;
    clock.wakeLateNs = c.wakeLateNs;
    const Spans s = Send(clock, c.bytes, c.pauseMs);
    EXPECT_LE(s.firstToLast, c.maxSpanNs);
    EXPECT_GE(s.firstToLast, std::int64_t(c.bytes - 1) * c.pauseMs * kMs);
    EXPECT_GE(s.smallestGap, c.pauseMs * kMs - kPacingToleranceNs);
    // The pause after the last byte is kept too.
    EXPECT_GE(s.end, std::int64_t(c.bytes) * c.pauseMs * kMs);
    EXPECT_TRUE(clock.plainSleeps.empty());
  }
}

TEST(Pacing, ALateByteMovesTheRestOnInsteadOfBunchingIt) {
  struct Case {
    const char* name;
    std::map<int, std::int64_t> stalls, lateWakeUps;
  };
  const Case cases[] = {
      {"write 5 stalls 25 ms", {{5, 25 * kMs}}, {}},
      {"wake-up before byte 8 is 3 ms late", {}, {{8, 3 * kMs}}},
      {"both, and a stall on the last byte", {{3, 12 * kMs}, {25, 40 * kMs}}, {{8, 700 * kUs}}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScriptedClock clock;
    clock.writeNs = 200 * kUs;
    clock.stallNs = c.stalls;
    clock.extraLateNs = c.lateWakeUps;
    const Spans s = Send(clock, 26, 10);
    EXPECT_GE(s.smallestGap, 10 * kMs - kPacingToleranceNs);
    // After the disturbance the frame catches up with its schedule as far as the gap allows,
    // never stretching more than the time lost.
    std::int64_t lost = 0;
    for (const auto& [n, ns] : c.stalls) lost += n < 25 ? ns : 0;
    for (const auto& [n, ns] : c.lateWakeUps) lost += ns;
    EXPECT_LE(s.firstToLast, 250 * kMs + lost);
    EXPECT_GE(s.end - s.firstToLast, 10 * kMs - kPacingToleranceNs);
  }
}

TEST(Pacing, AClockThatOnlySleepsGetsEveryPauseWhole) {
  // Test clocks and the fuzzer keep only SleepMs: they see one whole pause per byte, as before.
  class SleepOnly final : public platform::WallClock {
   public:
    std::vector<int> sleeps;
    platform::CivilTime LocalNow() const override { return {}; }
    void SleepMs(int ms) override { sleeps.push_back(ms); }
  } clock;
  int writes = 0;
  SendPaced(std::string(21, 'x'), 5, clock, [&writes](char) { ++writes; });
  EXPECT_EQ(writes, 21);
  EXPECT_EQ(clock.sleeps, std::vector<int>(21, 5));
  SendPaced("", 10, clock, [&writes](char) { ++writes; });
  EXPECT_EQ(writes, 21);
}

}  // namespace
}  // namespace tavex
