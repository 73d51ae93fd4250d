// SPDX-License-Identifier: GPL-3.0-or-later
#include "clocklink/ClockExchange.h"

#include <optional>
#include <stdexcept>

#include "clocklink/LinePacing.h"
#include "platform/text_codec.h"

namespace tavex {
namespace {

constexpr ExchangeParams TimeSettingRow(int clockNumber, const char* firstLogWord,
                                        const char* secondLogWord, Readout timeLabel,
                                        Readout temperatureLabel) {
  return {.clockNumber = clockNumber,
          .frame = FrameKind::TimeSetting,
          .firstLogWord = firstLogWord,
          .secondLogWord = secondLogWord,
          .bufferClears = 2,
          .pauseAfterByteMs = 5,
          .pauseBeforeReadMs = 50,
          .readCount = 12,
          .fallbackReply = "1234567890",
          .timeLabel = timeLabel,
          .temperatureLabel = temperatureLabel,
          .pressureLabel = Readout::None,
          .statusReply = false,
          .durationsOfAnOffClock = false,
          .refused = {},
          .accepted = {}};
}

// Clock 1's two exchanges differ only in their frame, first log word, pause before the read,
// timer switches and whether an off clock's durations are taken.
constexpr ExchangeParams StatusRow(FrameKind frame, const char* firstLogWord, int pauseBeforeReadMs,
                                   bool durationsOfAnOffClock, TimerSwitches refused,
                                   TimerSwitches accepted) {
  return {.clockNumber = 1,
          .frame = frame,
          .firstLogWord = firstLogWord,
          .secondLogWord = "Часы1",
          .bufferClears = 1,
          .pauseAfterByteMs = 10,
          .pauseBeforeReadMs = pauseBeforeReadMs,
          .readCount = static_cast<int>(kStatusReplyLength),
          .fallbackReply = "999999999999999999999",
          .timeLabel = Readout::Clock1Time,
          .temperatureLabel = Readout::Clock1Temperature,
          .pressureLabel = Readout::Clock1Pressure,
          .statusReply = true,
          .durationsOfAnOffClock = durationsOfAnOffClock,
          .refused = refused,
          .accepted = accepted};
}

const ExchangeParams kTimeSetting[3] = {
    TimeSettingRow(2, "Send2", "Часы2", Readout::Clock2Time, Readout::Clock2Temperature),
    TimeSettingRow(3, "Send3", "Часы3", Readout::Clock3Time, Readout::Clock3Temperature),
    TimeSettingRow(4, "Send4", "Часы4", Readout::Clock4Time, Readout::Clock4Temperature),
};

// A refused configuration keeps resending; an accepted one returns to polling.
const ExchangeParams kConfiguration =
    StatusRow(FrameKind::Configuration, "Send=====", 200, false,
              {2, {{{PollTimer::Resend, true}, {PollTimer::ReadBack, false}}}},
              {2, {{{PollTimer::ReadBack, true}, {PollTimer::Resend, false}}}});

// A refused read-back switches to resending; an accepted one leaves the timers alone.
const ExchangeParams kReadBack =
    StatusRow(FrameKind::ReadRequest, "READ----", 500, true,
              {2, {{{PollTimer::ReadBack, false}, {PollTimer::Resend, true}}}}, {});

ClockFrame BuildFrame(const ExchangeParams& params, const ClockPanel& panel,
                      const ClockInstant& t) {
  switch (params.frame) {
    case FrameKind::TimeSetting:
      return BuildTimeFrame(ClockAddress(params.clockNumber), t);
    case FrameKind::Configuration:
      return BuildConfigFrame(t, panel.DisplayDuration(DisplayItem::Time),
                              panel.DisplayDuration(DisplayItem::Date),
                              panel.DisplayDuration(DisplayItem::Temperature),
                              panel.DisplayDuration(DisplayItem::Pressure), panel.Brightness());
    case FrameKind::ReadRequest:
      break;
  }
  return kReadRequest;
}

void ApplySwitches(ClockPanel& panel, const TimerSwitches& switches) {
  for (int i = 0; i < switches.count; ++i) {
    const TimerSwitch& s = switches.at[static_cast<std::size_t>(i)];
    panel.SetTimerArmed(s.timer, s.armed);
  }
}

std::string Shown(const std::string& bytes) {
  return platform::Cp1251ToUtf8(bytes);
}

// Every readout of the exchange in its no-value form: what an exchange shows when it ends
// without an accepted answer, so that no earlier value passes for a current one.
void ShowNoValues(const ExchangeParams& params, ClockPanel& panel) {
  panel.SetReadout(params.timeLabel, kNoTimeText);
  panel.SetReadout(params.temperatureLabel, kNoValueText);
  if (params.pressureLabel != Readout::None) panel.SetReadout(params.pressureLabel, kNoValueText);
}

// Restores the settings and opens the port. Returns how the exchange ends when it cannot go on.
std::optional<ExchangeOutcome> OpenPort(const ExchangeParams& params, ClockPanel& panel,
                                        TCustomComPort& port) {
  // A port still open here was left so by an exchange that failed half-way, possibly because its
  // device went away; the settings and the device are taken afresh rather than reused.
  if (port.Connected()) port.Close();
  port.RestoreSettings(ssRegistry, std::string(kSettingsLocation));
  try {
    port.Open();
  } catch (const std::exception&) {
    panel.SetStatusText(std::string(kPortFailureText));
    ShowNoValues(params, panel);
    return ExchangeOutcome::PortFailed;
  }
  // The port opens again: an earlier failure's report no longer holds.
  panel.SetStatusText({});
  if (!panel.TryOpenPort()) {
    ShowNoValues(params, panel);
    return ExchangeOutcome::NotOpened;
  }
  return std::nullopt;
}

// Each duration is set as soon as it is read: a bad digit leaves the earlier ones set.
void TakeDurations(ClockPanel& panel, const StatusReply& reply) {
  constexpr DisplayItem kItems[] = {DisplayItem::Time, DisplayItem::Date, DisplayItem::Temperature,
                                    DisplayItem::Pressure};
  int position = static_cast<int>(kReplyDurations.first);
  for (DisplayItem item : kItems) panel.SetDisplayDuration(item, DurationDigit(reply, position++));
}

void ShowRefused(const ExchangeParams& params, ClockPanel& panel, const std::string& reply) {
  if (params.durationsOfAnOffClock && HasDurationDigits(reply)) TakeDurations(panel, reply);
  ShowNoValues(params, panel);
  ApplySwitches(panel, params.refused);
}

void ShowAccepted(const ExchangeParams& params, ClockPanel& panel, const ClockInstant& t,
                  const std::string& reply) {
  if (params.statusReply) {
    TakeDurations(panel, reply);
    panel.SetReadout(params.pressureLabel, Shown(PressureText(reply)));
  }
  ApplySwitches(panel, params.accepted);
  panel.SetReadout(params.timeLabel, Shown(ClockTimeText(t)));
  panel.SetReadout(params.temperatureLabel, Shown(TemperatureText(reply)));
}

}  // namespace

const ExchangeParams& TimeSettingExchange(int clockNumber) {
  if (clockNumber < 2 || clockNumber > 4) throw std::out_of_range("no time-setting clock");
  return kTimeSetting[clockNumber - 2];
}

const ExchangeParams& ConfigurationExchange() {
  return kConfiguration;
}
const ExchangeParams& ReadBackExchange() {
  return kReadBack;
}

namespace {

ExchangeOutcome RunOpenExchange(const ExchangeParams& params, ClockPanel& panel,
                                TCustomComPort& port, platform::WallClock& clock,
                                ExchangeReport& seen) {
  const ClockInstant t =
      CorrectedInstant(clock.LocalNow(), panel.CorrectionHours(params.clockNumber));
  seen.sent = t;
  const ClockFrame frame = BuildFrame(params, panel, t);

  port.ClearBuffer(true, true);
  panel.AppendLog(params.firstLogWord);
  panel.AppendLog(Shown(frame));
  if (params.bufferClears > 1) port.ClearBuffer(true, true);

  // The clock expects each byte on its own, paced; the leading 0x00 marks a new frame.
  const std::string lineImage = std::string(1, '\0') + frame;
  SendPaced(lineImage, params.pauseAfterByteMs, clock,
            [&port](char byte) { port.WriteStr(std::string(1, byte)); });
  clock.SleepMs(params.pauseBeforeReadMs);

  // An adapter that hears its own frame returns it ahead of the reply: room is made for that
  // copy, and the reply is what follows it, judged as on a line without echo. What was read is
  // then cut to the read count, as a read of that count would have done.
  const std::string echo = EchoOf(lineImage, port.DiscardNull());
  std::string reply;
  port.ReadStr(reply, params.readCount + static_cast<int>(echo.size()));
  reply = WithoutEcho(reply, echo);
  if (reply.size() > static_cast<std::size_t>(params.readCount)) {
    reply.resize(static_cast<std::size_t>(params.readCount));
  }
  // Nothing received is never an answer, even where the stand-in text would pass the check
  // (the time-setting stand-in matches a frame sent at 12:34:56).
  const bool received = !reply.empty();
  seen.received = received;
  seen.reply = reply;
  if (!received) reply = params.fallbackReply;

  panel.AppendLog(params.secondLogWord);
  panel.AppendLog(Shown(ReplyCheckText(t, reply)));
  if (params.statusReply) panel.AppendLog(Shown(reply));

  const bool accepted =
      received && (params.statusReply ? AcceptStatusReply(t, reply) : AcceptTimeReply(t, reply));
  if (accepted) {
    ShowAccepted(params, panel, t, reply);
  } else {
    ShowRefused(params, panel, reply);
  }
  port.Close();
  return accepted ? ExchangeOutcome::Accepted : ExchangeOutcome::Refused;
}

}  // namespace

ExchangeOutcome RunClockExchange(const ExchangeParams& params, ClockPanel& panel,
                                 TCustomComPort& port, platform::WallClock& clock,
                                 ExchangeReport* report) {
  ExchangeReport unused;
  ExchangeReport& seen = report != nullptr ? *report : unused;
  seen = {};
  try {
    if (const auto ended = OpenPort(params, panel, port)) return *ended;
    seen.opened = true;
    return RunOpenExchange(params, panel, port, clock, seen);
  } catch (...) {
    // An error that ends the exchange (settings that cannot be loaded, a failed transfer, a bad
    // digit in an accepted answer) leaves no answer to show either.
    ShowNoValues(params, panel);
    throw;
  }
}

}  // namespace tavex
