// SPDX-License-Identifier: GPL-3.0-or-later
// The three clock exchanges over a real pseudo-terminal: this test plays the clock on the master
// end, byte for byte, while the exchange drives the port on the slave end.
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <iterator>
#include <string>
#include <thread>
#include <vector>

#include "clocklink/ClockExchange.h"
#include "platform/pseudo_terminal.h"
#include "platform/registry.h"
#include "support/clock_sim_process.h"
#include "support/fixed_clock.h"
#include "support/recording_panel.h"
#include "support/scratch.h"
#include "support/stored_port.h"

namespace tavex {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;
using test::RecordingPanel;
using test::StorePort;

struct Arrival {
  unsigned char byte;
  Clock::time_point at;
};

// Plays one clock on the master: collects `expect` bytes, then after `delay` sends `reply`.
class ClockPlayer {
 public:
  ClockPlayer(int masterFd, std::size_t expect, std::string reply,
              std::chrono::milliseconds delay = 5ms)
      : thread_([=, this] { Run(masterFd, expect, reply, delay); }) {}
  ~ClockPlayer() { Join(); }
  void Join() {
    if (thread_.joinable()) thread_.join();
  }
  std::string Bytes() {
    Join();
    std::string bytes;
    for (const Arrival& a : arrivals_) bytes += static_cast<char>(a.byte);
    return bytes;
  }
  const std::vector<Arrival>& Arrivals() {
    Join();
    return arrivals_;
  }

 private:
  void Run(int fd, std::size_t expect, const std::string& reply, std::chrono::milliseconds delay) {
    const auto deadline = Clock::now() + 5s;
    while (arrivals_.size() < expect && Clock::now() < deadline) {
      pollfd p{fd, POLLIN, 0};
      if (poll(&p, 1, 50) <= 0) continue;
      unsigned char buffer[64];
      const ssize_t n = read(fd, buffer, sizeof buffer);
      if (n <= 0) continue;
      const auto now = Clock::now();
      for (ssize_t i = 0; i < n; ++i) arrivals_.push_back({buffer[i], now});
    }
    std::this_thread::sleep_for(delay);
    if (!reply.empty()) {
      [[maybe_unused]] const ssize_t written = write(fd, reply.data(), reply.size());
    }
  }

  std::vector<Arrival> arrivals_;
  std::thread thread_;
};

std::string Hex(const std::string& bytes) {
  std::string out;
  char part[4];
  for (char c : bytes) {
    std::snprintf(part, sizeof part, "%02X ", static_cast<unsigned char>(c));
    out += part;
  }
  if (!out.empty()) out.pop_back();
  return out;
}

class ExchangeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pty_.Create(), 0);
    StorePort(pty_.SlavePath());
    port_.SetDiscardNull(true);
  }
  void TearDown() override { port_.Close(); }

  ExchangeOutcome Run(const ExchangeParams& params, platform::CivilTime now) {
    // Pauses are real, since the clock on the line keeps real time.
    test::FixedClock clock(now, test::FixedClock::Pauses::Real);
    return RunClockExchange(params, panel_, port_, clock);
  }

  test::ScratchDir scratch_{"tavex-exchange"};
  test::ScopedEnv registryDir_{"TAVEX_REGISTRY_DIR", scratch_.Path()};
  const std::string dir_ = scratch_.Path();
  platform::PseudoTerminal pty_;
  TComPort port_;
  RecordingPanel panel_;
};

constexpr platform::CivilTime kWorkedExample{2026, 12, 7, 5, 54, 21, 300};

TEST_F(ExchangeTest, TimeSettingPutsTheFramePacedOnTheLineAndShowsTheAnswer) {
  ClockPlayer player(pty_.MasterFd(), 21, "055421 21o");
  const auto start = Clock::now();
  EXPECT_EQ(Run(TimeSettingExchange(2), kWorkedExample), ExchangeOutcome::Accepted);
  const auto took = Clock::now() - start;

  EXPECT_EQ(Hex(player.Bytes()), "00 63 6C 6B 30 30 32 30 35 35 34 32 31 30 37 31 32 32 36 2F 65");
  // 5 ms after each of 21 bytes, then 50 ms before the read.
  EXPECT_GE(took, 155ms);
  EXPECT_LT(took, 2s);
  // Each byte goes out on its own, 5 ms after the previous one. The reader may be late for
  // a byte on a busy machine, so the typical gap and the whole span are judged.
  const auto& arrivals = player.Arrivals();
  std::vector<Clock::duration> gaps;
  for (std::size_t i = 1; i < arrivals.size(); ++i) {
    gaps.push_back(arrivals[i].at - arrivals[i - 1].at);
  }
  std::sort(gaps.begin(), gaps.end());
  EXPECT_GE(gaps[gaps.size() / 2], 4ms);
  EXPECT_GE(arrivals.back().at - arrivals.front().at, 90ms);
  EXPECT_EQ(panel_.log,
            (std::vector<std::string>{"Send2", "clk002055421071226/e", "Часы2", "055421 21o"}));
  EXPECT_EQ(panel_.readouts[Readout::Clock2Time], " 5:54");
  EXPECT_EQ(panel_.readouts[Readout::Clock2Temperature], "+ 21°");
  EXPECT_TRUE(panel_.events.empty());
  EXPECT_FALSE(port_.Connected());
}

TEST_F(ExchangeTest, CorrectionIsAddedOnTheCivilDateAcrossMidnightAndTheYear) {
  panel_.corrections[3] = 3;
  ClockPlayer plus(pty_.MasterFd(), 21, "");
  Run(TimeSettingExchange(3), {2026, 12, 31, 22, 30, 0, 0});
  EXPECT_EQ(plus.Bytes().substr(1, 18), "clk003013000010127");

  panel_.corrections[4] = -12;
  ClockPlayer minus(pty_.MasterFd(), 21, "");
  Run(TimeSettingExchange(4), {2026, 3, 1, 5, 0, 0, 0});
  EXPECT_EQ(minus.Bytes().substr(1, 18), "clk004170000280226");
}

TEST_F(ExchangeTest, SilenceIsRefusedEvenWhenTheStandInTextWouldMatch) {
  ClockPlayer player(pty_.MasterFd(), 21, "");
  // At 12:34:56 the stand-in text "1234567890" equals its own check text.
  EXPECT_EQ(Run(TimeSettingExchange(2), {2026, 5, 1, 12, 34, 56, 0}), ExchangeOutcome::Refused);
  EXPECT_EQ(panel_.log.back(), "1234567890");
  EXPECT_EQ(panel_.readouts[Readout::Clock2Time], "--:--");
  EXPECT_EQ(panel_.readouts[Readout::Clock2Temperature], "-----");
}

TEST_F(ExchangeTest, TimeRepliesOfTheWrongLengthOrLateAreRefusedAndLateBytesAreDiscarded) {
  {
    ClockPlayer tooLong(pty_.MasterFd(), 21, "055421 21o1");
    EXPECT_EQ(Run(TimeSettingExchange(2), kWorkedExample), ExchangeOutcome::Refused);
  }
  {
    // Answers 150 ms after the frame: the read 50 ms after it finds nothing.
    ClockPlayer late(pty_.MasterFd(), 21, "055421 21o", 150ms);
    EXPECT_EQ(Run(TimeSettingExchange(2), kWorkedExample), ExchangeOutcome::Refused);
  }
  std::this_thread::sleep_for(200ms);  // the late answer now waits in the line's queue
  ClockPlayer prompt(pty_.MasterFd(), 21, "055421-05o");
  EXPECT_EQ(Run(TimeSettingExchange(2), kWorkedExample), ExchangeOutcome::Accepted);
  EXPECT_EQ(panel_.readouts[Readout::Clock2Temperature], " -05°");
}

TEST_F(ExchangeTest, NulBytesInAnAnswerAreDroppedOnReceipt) {
  ClockPlayer player(pty_.MasterFd(), 21,
                     std::string("0554\0"
                                 "216666\0",
                                 12));
  EXPECT_EQ(Run(TimeSettingExchange(2), kWorkedExample), ExchangeOutcome::Accepted);
  EXPECT_EQ(panel_.log.back(), "0554216666");
  EXPECT_EQ(panel_.readouts[Readout::Clock2Time], " 5:54");
  EXPECT_EQ(panel_.readouts[Readout::Clock2Temperature], "-----");
}

TEST_F(ExchangeTest, ConfigurationSendsTheDurationsAndTakesTheClocksBack) {
  panel_.durations[0] = 5;
  panel_.durations[1] = 5;
  panel_.durations[2] = 3;
  panel_.durations[3] = 3;
  panel_.brightness = 9;
  ClockPlayer player(pty_.MasterFd(), 26, "055400-12o2049xx745");
  const auto start = Clock::now();
  EXPECT_EQ(Run(ConfigurationExchange(), kWorkedExample), ExchangeOutcome::Accepted);
  EXPECT_GE(Clock::now() - start, 460ms);

  EXPECT_EQ(Hex(player.Bytes()),
            "00 63 6C 6B 30 30 31 30 35 35 34 32 31 30 37 31 32 32 36 35 35 33 33 39 37 65");
  EXPECT_EQ(panel_.log, (std::vector<std::string>{"Send=====",
                                                  "clk00105542107122655339"
                                                  "7e",
                                                  "Часы1", "055421-12o", "055400-12o2049xx745"}));
  EXPECT_EQ((std::vector<int>{panel_.durations[0], panel_.durations[1], panel_.durations[2],
                              panel_.durations[3]}),
            (std::vector<int>{2, 0, 4, 9}));
  // The durations change first (each raising its notification), then the timers switch.
  EXPECT_EQ(panel_.events, (std::vector<std::string>{"duration0", "duration1", "duration2",
                                                     "duration3", "Timer1+", "Timer2-"}));
  EXPECT_EQ(panel_.readouts[Readout::Clock1Time], " 5:54");
  EXPECT_EQ(panel_.readouts[Readout::Clock1Temperature], " -12°");
  EXPECT_EQ(panel_.readouts[Readout::Clock1Pressure], "745");
}

// tavex-clocksim --echo sends every byte back ahead of its answer, as a 2-wire adapter that hears
// its own driver does: each exchange judges the answer behind the echo.
TEST_F(ExchangeTest, EveryExchangeJudgesTheAnswerBehindAnAdaptersEcho) {
  // Answering at once, unpaced, leaves the time reply room within the 50 ms that a busy machine
  // eats into.
  test::ClockSimProcess sim(std::string(TAVEX_TEST_BIN_DIR) + "/tavex-clocksim",
                            {"--echo", "--answer-delay-ms", "0", "--byte-time-us", "0"},
                            test::ClockSimProcess::ErrorOutput::Captured);
  ASSERT_TRUE(sim.Started());
  const std::string line = sim.ReadLine();
  ASSERT_FALSE(line.empty());
  StorePort(line);
  const platform::CivilTime now{2026, 12, 7, 5, 54, 10, 0};

  EXPECT_EQ(Run(TimeSettingExchange(2), now), ExchangeOutcome::Accepted);
  EXPECT_EQ(panel_.log.back(), "055410 21o");
  EXPECT_EQ(panel_.readouts[Readout::Clock2Time], " 5:54");

  panel_.durations[0] = 2;
  panel_.durations[1] = 0;
  panel_.durations[2] = 4;
  panel_.durations[3] = 9;
  panel_.brightness = 1;
  EXPECT_EQ(Run(ConfigurationExchange(), now), ExchangeOutcome::Accepted);
  const std::string configReply = panel_.log.back();
  EXPECT_EQ(configReply.size(), 19u) << configReply;
  EXPECT_EQ(configReply.substr(0, 4), "0554");
  EXPECT_EQ(configReply.substr(10, 5), "20491");

  EXPECT_EQ(Run(ReadBackExchange(), now), ExchangeOutcome::Accepted);
  const std::string readReply = panel_.log.back();
  EXPECT_EQ(readReply.size(), 19u) << readReply;
  EXPECT_EQ(readReply.substr(0, 4), "0554");
  EXPECT_EQ(readReply.substr(10, 4), "2049");
  EXPECT_EQ(panel_.readouts[Readout::Clock1Pressure], "745");

  EXPECT_EQ(sim.Terminate(SIGTERM), 0);
  // 21 + 26 + 2 bytes went out and came back.
  EXPECT_NE(sim.Errors().find("(49 of them echoed)"), std::string::npos) << sim.Errors();
}

TEST_F(ExchangeTest, WithoutEchoAReplyIsStillCutAtTheReadCount) {
  ClockPlayer player(pty_.MasterFd(), 2, "055421 21o2049xx745ABCDEF");
  EXPECT_EQ(Run(ReadBackExchange(), kWorkedExample), ExchangeOutcome::Accepted);
  EXPECT_EQ(panel_.log.back(), "055421 21o2049xx745");
}

TEST_F(ExchangeTest, ConfigurationRefusedKeepsResending) {
  ClockPlayer player(pty_.MasterFd(), 26, "");
  EXPECT_EQ(Run(ConfigurationExchange(), kWorkedExample), ExchangeOutcome::Refused);
  EXPECT_EQ(panel_.log.back(), "999999999999999999999");
  EXPECT_EQ(panel_.events, (std::vector<std::string>{"Timer2+", "Timer1-"}));
  EXPECT_EQ(panel_.readouts[Readout::Clock1Pressure], "-----");
}

TEST_F(ExchangeTest, ReadBackJudgesByTheCorrectedHourAndMinute) {
  panel_.corrections[1] = 2;
  {
    ClockPlayer player(pty_.MasterFd(), 2, "075459 21o0000xx750");
    EXPECT_EQ(Run(ReadBackExchange(), kWorkedExample), ExchangeOutcome::Accepted);
    EXPECT_EQ(player.Bytes(), std::string("\0R", 2));
    EXPECT_EQ(panel_.log, (std::vector<std::string>{"READ----", "R", "Часы1", "075421 21o",
                                                    "075459 21o0000xx750"}));
    EXPECT_TRUE(panel_.events.empty());  // same durations, no timer change
    EXPECT_EQ(panel_.readouts[Readout::Clock1Time], " 7:54");
  }
  // One minute behind: refused, and the cycle switches to resending.
  ClockPlayer behind(pty_.MasterFd(), 2, "075359 21o0000xx750");
  EXPECT_EQ(Run(ReadBackExchange(), kWorkedExample), ExchangeOutcome::Refused);
  EXPECT_EQ(panel_.events, (std::vector<std::string>{"Timer1-", "Timer2+"}));
  EXPECT_EQ(panel_.readouts[Readout::Clock1Time], "--:--");
  EXPECT_EQ(panel_.readouts[Readout::Clock1Temperature], "-----");
  EXPECT_EQ(panel_.readouts[Readout::Clock1Pressure], "-----");
}

// A clock whose time is off still reports its own durations: a read-back refused for its time
// alone takes them, so that the configuration it leads to gives the clock back its own durations.
// Anything less than a full reply with four digits changes nothing, and the configuration's own
// reply is never used this way.
TEST_F(ExchangeTest, ARefusedReadBackTakesTheDurationsOfAClockThatIsOnlyOff) {
  struct Case {
    const char* name;
    const ExchangeParams* exchange;
    std::string reply;
    std::vector<int> durations;  // afterwards, from 1 1 1 1
  };
  const Case cases[] = {
      {"two minutes behind", &ReadBackExchange(), "055221 21o2049xx745", {2, 0, 4, 9}},
      {"an hour ahead, same durations", &ReadBackExchange(), "065421 21o1111xx745", {1, 1, 1, 1}},
      {"one character short", &ReadBackExchange(), "055221 21o2049xx74", {1, 1, 1, 1}},
      {"a letter among the durations", &ReadBackExchange(), "055221 21o20x9xx745", {1, 1, 1, 1}},
      {"a blank among the durations", &ReadBackExchange(), "055221 21o 049xx745", {1, 1, 1, 1}},
      {"silence", &ReadBackExchange(), "", {1, 1, 1, 1}},
      {"the configuration's reply", &ConfigurationExchange(), "055221 21o2049xx745", {1, 1, 1, 1}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    panel_ = RecordingPanel{};
    std::fill(std::begin(panel_.durations), std::end(panel_.durations), 1);
    panel_.brightness = 7;
    ClockPlayer player(pty_.MasterFd(), c.exchange == &ReadBackExchange() ? 2 : 26, c.reply);
    EXPECT_EQ(Run(*c.exchange, kWorkedExample), ExchangeOutcome::Refused);
    EXPECT_EQ((std::vector<int>(std::begin(panel_.durations), std::end(panel_.durations))),
              c.durations);
    EXPECT_EQ(panel_.brightness, 7);
    // The durations change first, each with its notification; then the refusal as ever.
    std::vector<std::string> events;
    for (int i = 0; i < 4; ++i) {
      if (c.durations[static_cast<std::size_t>(i)] != 1) {
        events.push_back("duration" + std::to_string(i));
      }
    }
    if (c.exchange == &ReadBackExchange()) {
      events.insert(events.end(), {"Timer1-", "Timer2+"});
    } else {
      events.insert(events.end(), {"Timer2+", "Timer1-"});
    }
    EXPECT_EQ(panel_.events, events);
    EXPECT_EQ(panel_.readouts[Readout::Clock1Time], "--:--");
    EXPECT_EQ(panel_.readouts[Readout::Clock1Temperature], "-----");
    EXPECT_EQ(panel_.readouts[Readout::Clock1Pressure], "-----");
    EXPECT_EQ(panel_.log.size(), 5u);
    EXPECT_FALSE(port_.Connected());
  }
}

TEST_F(ExchangeTest, LetterAtADurationStopsTheExchangeWithThePortOpen) {
  panel_.readouts[Readout::Clock1Pressure] = "740";
  ClockPlayer player(pty_.MasterFd(), 2, "055421 21o37x1xx745");
  try {
    Run(ReadBackExchange(), kWorkedExample);
    FAIL() << "no conversion error";
  } catch (const EConvertError& error) {
    EXPECT_STREQ(error.what(), "'x' is not a valid floating point value");
  }
  EXPECT_EQ(panel_.durations[0], 3);
  EXPECT_EQ(panel_.durations[1], 7);
  EXPECT_EQ(panel_.durations[2], 0);
  // No readout keeps a value the exchange could not confirm.
  EXPECT_EQ(panel_.readouts[Readout::Clock1Pressure], "-----");
  EXPECT_EQ(panel_.readouts[Readout::Clock1Time], "--:--");
  EXPECT_EQ(panel_.readouts[Readout::Clock1Temperature], "-----");
  EXPECT_TRUE(port_.Connected());
  // The next exchange finds a sane line again.
  ClockPlayer next(pty_.MasterFd(), 2, "055421 21o3701xx745");
  EXPECT_EQ(Run(ReadBackExchange(), kWorkedExample), ExchangeOutcome::Accepted);
}

TEST_F(ExchangeTest, APortThatDoesNotOpenIsReportedWithoutTouchingTheLine) {
  const ExchangeParams* kinds[] = {&TimeSettingExchange(4), &ConfigurationExchange(),
                                   &ReadBackExchange()};
  for (const std::string& name : {std::string(""), dir_ + "/missing-tty"}) {
    StorePort(name);
    for (const ExchangeParams* kind : kinds) {
      panel_ = RecordingPanel{};
      panel_.readouts[Readout::Clock1Pressure] = "745";
      EXPECT_EQ(Run(*kind, kWorkedExample), ExchangeOutcome::PortFailed) << name;
      EXPECT_EQ(panel_.status, "Com порт выбран неверно или занят другим приложением.");
      EXPECT_EQ(panel_.readouts[kind->timeLabel], "--:--");
      EXPECT_EQ(panel_.readouts[kind->temperatureLabel], "-----");
      EXPECT_EQ(panel_.readouts[Readout::Clock1Pressure], kind->clockNumber == 1 ? "-----" : "745");
      EXPECT_TRUE(panel_.log.empty());
      EXPECT_TRUE(panel_.events.empty());
    }
  }
  // Busy: another program holds the device.
  StorePort(pty_.SlavePath());
  TComPort holder;
  holder.SetPort(pty_.SlavePath());
  holder.Open();
  EXPECT_EQ(Run(ReadBackExchange(), kWorkedExample), ExchangeOutcome::PortFailed);
  holder.Close();
  char byte;
  EXPECT_LE(read(pty_.MasterFd(), &byte, 1), 0) << "bytes reached the line";
  // The next exchange that opens the port clears the report.
  panel_.status = "x";
  ClockPlayer player(pty_.MasterFd(), 2, "055421 21o0000xx745");
  EXPECT_EQ(Run(ReadBackExchange(), kWorkedExample), ExchangeOutcome::Accepted);
  EXPECT_EQ(panel_.status, "");
}

TEST_F(ExchangeTest, ALineThatVanishesFailsTheExchangeAndTheNextOneRecovers) {
  // The far end goes away while the frame is being sent.
  std::thread hangUp([this] {
    std::this_thread::sleep_for(60ms);
    pty_.Close();
  });
  panel_.readouts[Readout::Clock1Pressure] = "745";
  EXPECT_ANY_THROW(Run(ConfigurationExchange(), kWorkedExample));
  hangUp.join();
  EXPECT_EQ(panel_.readouts[Readout::Clock1Pressure], "-----");
  EXPECT_TRUE(port_.Connected());  // left open by the failed exchange
  // The clock's line comes back under a new name; the stored settings follow it, and the port
  // left open on the vanished device is opened afresh.
  ASSERT_EQ(pty_.Create(), 0);
  StorePort(pty_.SlavePath());
  ClockPlayer player(pty_.MasterFd(), 2, "055421 21o0000xx745");
  EXPECT_EQ(Run(ReadBackExchange(), kWorkedExample), ExchangeOutcome::Accepted);
}

TEST_F(ExchangeTest, AFailedSecondOpenEndsTheExchangeBeforeAnyByte) {
  panel_.tryOpenResult = false;
  panel_.readouts[Readout::Clock1Pressure] = "745";
  EXPECT_EQ(Run(ReadBackExchange(), kWorkedExample), ExchangeOutcome::NotOpened);
  EXPECT_EQ(panel_.readouts[Readout::Clock1Pressure], "-----");
  EXPECT_EQ(panel_.readouts[Readout::Clock1Time], "--:--");
  EXPECT_TRUE(panel_.log.empty());
  EXPECT_TRUE(port_.Connected());
}

}  // namespace
}  // namespace tavex
