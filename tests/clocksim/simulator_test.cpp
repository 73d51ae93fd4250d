// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>

#include "clocklink/ClockFrames.h"
#include "sim_harness.h"

namespace tavex::clocksim {
namespace {

using namespace std::chrono_literals;
using testing::SimulatedLine;

const platform::CivilTime kNow{2026, 12, 7, 5, 54, 21, 0};
const ClockInstant kT = CorrectedInstant(kNow, 0);

Options FastOptions() {
  Options o;
  o.byteTime = 0us;
  o.answerDelay = 0ms;
  return o;
}

std::string WithoutNul(std::string s) {
  s.erase(std::remove(s.begin(), s.end(), '\0'), s.end());
  return s;
}

TEST(SimulatorTest, AnswersEachFrameKindAndKeepsEachClocksTime) {
  SimulatedLine line(FastOptions(), kNow);
  ASSERT_TRUE(line.Ready());

  line.SendFrame(kReadRequest);
  const std::string status = line.ReceiveText(19);
  ASSERT_EQ(status.size(), 19u) << status;
  EXPECT_TRUE(AcceptStatusReply(kT, status));
  EXPECT_EQ(status.substr(10, 4), "5533");
  EXPECT_EQ(TemperatureText(status), "+ 21\xB0");
  EXPECT_EQ(PressureText(status), "745");

  // Clock 3 set two hours ahead echoes the time it was sent.
  const ClockInstant ahead = CorrectedInstant(kNow, 2);
  line.SendFrame(BuildTimeFrame(ClockAddress(3), ahead));
  const std::string timeReply = line.ReceiveText(12);
  EXPECT_EQ(timeReply.size(), 10u);
  EXPECT_TRUE(AcceptTimeReply(ahead, timeReply)) << timeReply;

  // Configuring clock 1 an hour behind sets its durations and its own time: the reply and a
  // later read-back carry both.
  const ClockInstant behind = CorrectedInstant(kNow, -1);
  line.SendFrame(BuildConfigFrame(behind, 2, 0, 4, 9, 1));
  const std::string configReply = line.ReceiveText(19);
  ASSERT_EQ(configReply.size(), 19u);
  EXPECT_TRUE(AcceptStatusReply(behind, configReply));
  line.SendFrame(kReadRequest);
  const std::string readBack = line.ReceiveText(19);
  ASSERT_EQ(readBack.size(), 19u);
  EXPECT_TRUE(AcceptStatusReply(behind, readBack));
  EXPECT_FALSE(AcceptStatusReply(kT, readBack));
  for (int position = 11; position <= 14; ++position) {
    EXPECT_EQ(DurationDigit(readBack, position), DurationDigit(configReply, position));
  }
  EXPECT_EQ(readBack.substr(10, 4), "2049");

  // A frame with a wrong checksum is counted and not answered.
  ClockFrame corrupt = BuildTimeFrame(ClockAddress(2), kT);
  corrupt[18] = static_cast<char>(corrupt[18] ^ 0x01);
  line.SendFrame(corrupt);
  EXPECT_EQ(line.ReceiveText(12, 300ms), "");
  line.Stop();
  EXPECT_EQ(line.Sim().GetCounts().frames, 4u);
  EXPECT_EQ(line.Sim().GetCounts().badFrames, 1u);
  EXPECT_EQ(line.Sim().GetCounts().replies, 4u);
  EXPECT_EQ(line.Sim().Brightness(), 1);
}

struct FaultCase {
  const char* fault;
  int clock;           // 1: read request, else a time frame to that clock
  std::size_t length;  // of the raw answer, 0 for none
  std::function<void(const std::string& raw)> check;
};

TEST(SimulatorTest, HonoursEachFault) {
  const FaultCase cases[] = {
      {"2:silent", 2, 0, [](const std::string& raw) { EXPECT_EQ(raw, ""); }},
      {"2:silent", 3, 10, [](const std::string& raw) { EXPECT_TRUE(AcceptTimeReply(kT, raw)); }},
      {"1:wrong-minute", 1, 19,
       [](const std::string& raw) {
         EXPECT_FALSE(AcceptStatusReply(kT, raw));
         EXPECT_TRUE(AcceptStatusReply(CorrectedInstant({2026, 12, 7, 5, 53, 21, 0}, 0), raw));
       }},
      {"2:no-temperature", 2, 10,
       [](const std::string& raw) {
         EXPECT_TRUE(AcceptTimeReply(kT, raw));
         EXPECT_EQ(TemperatureText(raw), kNoValueText);
       }},
      {"2:below-zero=5", 2, 10,
       [](const std::string& raw) { EXPECT_EQ(TemperatureText(raw), " - 5\xB0"); }},
      {"3:degree-letters", 3, 10,
       [](const std::string& raw) { EXPECT_EQ(TemperatureText(raw), "+ 2\xB0\xB0"); }},
      {"1:nul=2", 1, 19,
       [](const std::string& raw) {
         ASSERT_EQ(raw.size(), 19u);
         EXPECT_EQ(raw.substr(6, 2), std::string(2, '\0'));
         // The receiving port drops the 0x00 bytes: the reply arrives two characters short.
         EXPECT_EQ(WithoutNul(raw).size(), 17u);
         EXPECT_TRUE(AcceptStatusReply(kT, WithoutNul(raw)));
       }},
      {"1:bad-digit=13", 1, 19,
       [](const std::string& raw) {
         EXPECT_TRUE(AcceptStatusReply(kT, raw));
         EXPECT_EQ(DurationDigit(raw, 12), 5);
         EXPECT_THROW(DurationDigit(raw, 13), EConvertError);
       }},
      {"2:truncate=6", 2, 6,
       [](const std::string& raw) {
         EXPECT_EQ(raw.size(), 6u);
         EXPECT_FALSE(AcceptTimeReply(kT, raw));
       }},
      {"1:truncate", 1, 18, [](const std::string& raw) { EXPECT_EQ(raw.size(), 18u); }},
      {"2:noise=4", 2, 14,
       [](const std::string& raw) {
         ASSERT_EQ(raw.size(), 14u);
         EXPECT_EQ(raw.find('\0'), std::string::npos);
         EXPECT_FALSE(AcceptTimeReply(kT, raw.substr(0, 12)));
         EXPECT_TRUE(AcceptTimeReply(kT, raw.substr(4)));
       }},
  };
  for (const FaultCase& c : cases) {
    SCOPED_TRACE(std::string(c.fault) + " asking clock " + std::to_string(c.clock));
    Options options = FastOptions();
    options.faults = ParseFault(c.fault);
    SimulatedLine line(options, kNow);
    ASSERT_TRUE(line.Ready());
    line.SendFrame(c.clock == 1 ? kReadRequest : BuildTimeFrame(ClockAddress(c.clock), kT));
    const std::string raw = line.ReceiveText(std::max<std::size_t>(c.length, 1), 400ms);
    EXPECT_EQ(raw.size(), c.length);
    c.check(raw);
  }
}

TEST(SimulatorTest, FaultsThatActOverTime) {
  {
    Options options = FastOptions();
    options.faults = ParseFault("2:late=300");
    SimulatedLine line(options, kNow);
    line.SendFrame(BuildTimeFrame(ClockAddress(2), kT));
    const auto sent = SteadyClock::now();
    const auto got = line.Receive(10, 2000ms);
    ASSERT_EQ(got.size(), 10u);
    EXPECT_GE(got.front().at - sent, 250ms);
  }
  {
    Options options = FastOptions();
    options.faults = ParseFault("1:drift=1");
    SimulatedLine line(options, kNow);
    line.SendFrame(kReadRequest);
    EXPECT_EQ(line.ReceiveText(19).substr(10, 4), "5533");
    line.SendFrame(kReadRequest);
    EXPECT_EQ(line.ReceiveText(19).substr(10, 4), "6644");
  }
  {
    // The second frame to clock 3 is not answered: the simulator hands the line back to be
    // hung up.
    Options options = FastOptions();
    options.faults = ParseFault("3:hangup=2");
    SimulatedLine line(options, kNow);
    line.SendFrame(BuildTimeFrame(ClockAddress(3), kT));
    EXPECT_EQ(line.ReceiveText(10).size(), 10u);
    line.SendFrame(BuildTimeFrame(ClockAddress(3), kT));
    ASSERT_TRUE(line.WaitForEnd(2000ms));
    EXPECT_EQ(line.End(), RunEnd::HangUp);
    EXPECT_EQ(line.ReceiveText(10, 200ms), "");
  }
}

TEST(SimulatorTest, EchoSendsEveryByteBackAheadOfTheAnswer) {
  Options options = FastOptions();
  options.echo = true;
  options.faults = ParseFault("3:silent");
  SimulatedLine line(options, kNow);
  ASSERT_TRUE(line.Ready());
  const std::string request = std::string(1, '\0') + kReadRequest;
  line.SendFrame(kReadRequest);
  const std::string back = line.ReceiveText(request.size() + 19);
  ASSERT_EQ(back.size(), request.size() + 19) << back;
  EXPECT_EQ(back.substr(0, request.size()), request);
  EXPECT_TRUE(AcceptStatusReply(kT, back.substr(request.size())));

  // A silent clock's frame comes back all the same; so do stray bytes.
  const ClockFrame frame = BuildTimeFrame(ClockAddress(3), kT);
  line.SendFrame(frame);
  EXPECT_EQ(line.ReceiveText(21), std::string(1, '\0') + frame);
  line.SendRaw("zz", 0ms);
  EXPECT_EQ(line.ReceiveText(2), "zz");
  line.Stop();
  EXPECT_EQ(line.Sim().GetCounts().replies, 1u);
  EXPECT_EQ(line.Sim().GetCounts().echoed, 2u + 21u + 2u);
  EXPECT_NE(line.Sim().SummaryLine().find("(25 of them echoed)"), std::string::npos);
}

TEST(SimulatorTest, ControlFileSwitchesFaultsWhileRunning) {
  const auto dir =
      std::filesystem::temp_directory_path() / ("clocksim-control-" + std::to_string(::getpid()));
  std::filesystem::create_directories(dir);
  const auto control = dir / "faults";
  std::ofstream(control) << "# clock 2 stays quiet\n2:silent\n";
  Options options = FastOptions();
  options.controlFile = control.string();
  {
    SimulatedLine line(options, kNow);
    const ClockFrame frame = BuildTimeFrame(ClockAddress(2), kT);
    line.SendFrame(frame);
    EXPECT_EQ(line.ReceiveText(10, 300ms), "");
    std::ofstream(control) << "2:no-temperature\n";
    line.SendFrame(frame);
    EXPECT_EQ(TemperatureText(line.ReceiveText(10)), kNoValueText);
    std::ofstream(control) << "2:sleepy\n";  // refused: the previous faults stay in force
    line.SendFrame(frame);
    EXPECT_EQ(TemperatureText(line.ReceiveText(10)), kNoValueText);
    std::filesystem::remove(control);
    line.SendFrame(frame);
    EXPECT_EQ(TemperatureText(line.ReceiveText(10)), "+ 21\xB0");
  }
  std::filesystem::remove_all(dir);
}

TEST(SimulatorTest, PacesItsBytesAtTheByteTime) {
  Options options;
  options.byteTime = 4ms;
  options.answerDelay = 30ms;
  SimulatedLine line(options, kNow);
  line.SendFrame(kReadRequest, 0ms);
  const auto sent = SteadyClock::now();
  const auto got = line.Receive(19, 2000ms);
  ASSERT_EQ(got.size(), 19u);
  const auto spread = got.back().at - got.front().at;
  // 18 gaps of 4 ms; a loaded machine may stretch them, never shrink them much.
  EXPECT_GE(spread, 18 * 4ms * 8 / 10);
  EXPECT_LE(spread, 18 * 4ms * 6);
  EXPECT_GE(got.front().at - sent, 25ms);
  // Never a burst: no half of the reply arrives within one byte time.
  EXPECT_GE(got[18].at - got[9].at, 9 * 4ms * 7 / 10);

  // At the default 4800 bit/s a status reply takes about 37.5 ms on the line.
  SimulatedLine realRate(Options{}, kNow);
  realRate.SendFrame(kReadRequest, 0ms);
  const auto real = realRate.Receive(19, 2000ms);
  ASSERT_EQ(real.size(), 19u);
  EXPECT_GE(real.back().at - real.front().at, 30ms);
}

TEST(SimulatorTest, LogHoldsWhatPassed) {
  const auto path = std::filesystem::temp_directory_path() /
                    ("clocksim-log-" + std::to_string(::getpid()) + ".jsonl");
  Options options = FastOptions();
  options.logFile = path.string();
  {
    SimulatedLine line(options, kNow);
    line.SendFrame(kReadRequest);
    const std::string reply = line.ReceiveText(19);
    line.SendRaw("zz", 1ms);
    std::this_thread::sleep_for(250ms);  // the stray bytes end at the resync gap
    line.Stop();
    ASSERT_EQ(reply.size(), 19u);
  }
  std::ifstream in(path);
  std::string text, l;
  std::size_t rx = 0, tx = 0;
  long long lastT = 0;
  bool monotonic = true;
  while (std::getline(in, l)) {
    text += l + "\n";
    rx += l.find("\"dir\":\"rx\"") != std::string::npos;
    tx += l.find("\"dir\":\"tx\"") != std::string::npos;
    const long long t = std::stoll(l.substr(l.find("\"t\":") + 4));
    monotonic = monotonic && t >= lastT;
    lastT = t;
  }
  std::filesystem::remove(path);
  EXPECT_EQ(rx, 4u);  // 0x00, "R", "z", "z"
  EXPECT_EQ(tx, 19u);
  EXPECT_TRUE(monotonic);
  EXPECT_NE(text.find("\"dir\":\"rx\",\"byte\":0}"), std::string::npos);
  EXPECT_NE(text.find("\"frame\":\"52\",\"kind\":\"read\",\"clock\":1,\"ok\":true"),
            std::string::npos);
  EXPECT_NE(text.find("\"frame\":\"7a7a\",\"kind\":\"broken\",\"clock\":0,\"ok\":false"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("\"reply\":\"303535343231"), std::string::npos);
}

}  // namespace
}  // namespace tavex::clocksim
