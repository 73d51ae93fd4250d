// SPDX-License-Identifier: GPL-3.0-or-later
// The three clock exchanges end to end on arbitrary replies: settings from a real hive, the port
// on a real pseudo-terminal whose far end plays the fuzzed reply at the moment the exchange reads.
// Pauses are skipped (the reply is in place before the read), so one run takes about a millisecond.
//
// Input: kind of exchange, correction, durations and brightness, the computer's time, then the
// reply. The log must carry exactly what the port received (0x00 dropped, cut to the read count),
// and the only error an exchange may end with is a refused duration digit.
#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <iterator>
#include <string>
#include <vector>

#include "clocklink/ClockExchange.h"
#include "platform/pseudo_terminal.h"
#include "platform/registry.h"
#include "platform/text_codec.h"
#include "support/recording_panel.h"

namespace {

using namespace tavex;

void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "clock_exchange_fuzz: %s\n", what);
    std::abort();
  }
}

// The line, the hive and the port, made once per process.
struct Line {
  std::string dir;
  platform::PseudoTerminal pty;
  int heldSlave = -1;  // keeps the line up while the port is closed between exchanges
  TComPort port;

  Line() {
    char dirTemplate[] = "/tmp/tavex-fuzz-exchange-XXXXXX";
    Check(::mkdtemp(dirTemplate) != nullptr, "no temporary directory");
    dir = dirTemplate;
    ::setenv("TAVEX_REGISTRY_DIR", dir.c_str(), 1);
    Check(pty.Create() == 0, "no pseudo-terminal");
    heldSlave = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
    Check(heldSlave >= 0, "cannot hold the line");
    platform::RegistryKey key;
    Check(platform::RegistryKey::Create(platform::RegRoot::LocalMachine, "Software\\TAVEX\\ComPort",
                                        key)
              .Ok(),
          "cannot create the settings key");
    Check(key.SetString("Port", pty.SlavePath()).Ok() && key.SetString("BaudRate", "4800").Ok() &&
              key.SetString("StopBits", "1").Ok() && key.SetString("DataBits", "8").Ok() &&
              key.SetString("Parity", "None").Ok() && key.SetString("FlowControl", "None").Ok(),
          "cannot store the settings");
    port.SetName("ComPort");
    port.SetDiscardNull(true);
    port.SetEvents(kAllComEvents);
  }
  ~Line() {
    port.Close();
    if (heldSlave >= 0) ::close(heldSlave);
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }

  void DrainMaster() {
    char buffer[256];
    while (::read(pty.MasterFd(), buffer, sizeof buffer) > 0) {
    }
  }

  // Puts the reply on the line and waits until the port's side can read it.
  void Play(const std::string& reply) {
    DrainMaster();
    if (reply.empty()) return;
    const ssize_t written = ::write(pty.MasterFd(), reply.data(), reply.size());
    Check(written == static_cast<ssize_t>(reply.size()), "short write of the reply");
    pollfd p{heldSlave, POLLIN, 0};
    ::poll(&p, 1, 1000);
  }
};

Line& TheLine() {
  static Line line;
  return line;
}

// The computer's clock fixed by the input; the pause before the read plays the reply.
class ReplyClock final : public platform::WallClock {
 public:
  ReplyClock(platform::CivilTime now, int pauseBeforeReadMs, std::string reply)
      : now_(now), pauseBeforeReadMs_(pauseBeforeReadMs), reply_(std::move(reply)) {}
  platform::CivilTime LocalNow() const override { return now_; }
  void SleepMs(int milliseconds) override {
    if (milliseconds == pauseBeforeReadMs_) TheLine().Play(reply_);
  }

 private:
  platform::CivilTime now_;
  int pauseBeforeReadMs_;
  std::string reply_;
};

const ExchangeParams& ExchangeOf(std::uint8_t selector) {
  switch (selector % 5) {
    case 0:
      return TimeSettingExchange(2);
    case 1:
      return TimeSettingExchange(3);
    case 2:
      return TimeSettingExchange(4);
    case 3:
      return ConfigurationExchange();
    default:
      return ReadBackExchange();
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kHeader = 10;
  constexpr std::size_t kMaxReply = 64;
  if (size < kHeader || size > kHeader + kMaxReply) return 0;
  Line& line = TheLine();
  const ExchangeParams& params = ExchangeOf(data[0]);
  test::RecordingPanel panel;
  // An open port clears the report of an earlier failure; any text means the port did not open.
  panel.onStatus = [](const std::string& text) { Check(text.empty(), "the port did not open"); };
  const int correction = data[1] % 25 - 12;
  std::fill(std::begin(panel.corrections), std::end(panel.corrections), correction);
  for (int i = 0; i < 4; ++i) panel.durations[i] = data[2 + i] % 10;
  panel.brightness = data[6] % 10;
  const platform::CivilTime now{2026, 12, 7, data[7] % 24, data[8] % 60, data[9] % 60, 0};
  const std::string reply(reinterpret_cast<const char*>(data + kHeader), size - kHeader);

  // What the exchange must have read: the port drops 0x00 and takes at most the read count.
  std::string expected;
  for (char c : reply) {
    if (c != '\0') expected.push_back(c);
  }
  if (expected.size() > static_cast<std::size_t>(params.readCount)) {
    expected.resize(static_cast<std::size_t>(params.readCount));
  }
  const bool received = !expected.empty();
  if (!received) expected = params.fallbackReply;
  const ClockInstant t = CorrectedInstant(now, correction);
  const bool accepted = received && (params.statusReply ? AcceptStatusReply(t, expected)
                                                        : AcceptTimeReply(t, expected));

  ReplyClock clock(now, params.pauseBeforeReadMs, reply);
  try {
    const ExchangeOutcome outcome = RunClockExchange(params, panel, line.port, clock);
    Check(outcome == (accepted ? ExchangeOutcome::Accepted : ExchangeOutcome::Refused),
          "outcome differs from the judgement of the reply");
    Check(!line.port.Connected(), "port left open");
  } catch (const EConvertError&) {
    Check(accepted && params.statusReply, "conversion error without an accepted status reply");
    Check(panel.readouts[params.pressureLabel] == kNoValueText &&
              panel.readouts[params.timeLabel] == kNoTimeText,
          "readouts of a failed exchange keep a value");
    line.port.Close();
  }

  Check(panel.log.size() >= 4, "log lines missing");
  Check(panel.log[3] == platform::Cp1251ToUtf8(ReplyCheckText(t, expected)),
        "check text is not that of the received reply");
  if (params.statusReply) {
    Check(panel.log.size() == 5 && panel.log[4] == platform::Cp1251ToUtf8(expected),
          "logged reply is not the received reply");
  }
  for (int seconds : panel.durations) {
    Check(seconds >= 0 && seconds <= 9, "duration out of range");
  }
  return 0;
}
