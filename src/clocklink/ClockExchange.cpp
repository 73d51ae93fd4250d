#include "clocklink/ClockExchange.h"

#include <stdexcept>

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
          .refusedSwitchCount = 0,
          .refusedSwitches = {},
          .acceptedSwitchCount = 0,
          .acceptedSwitches = {}};
}

const ExchangeParams kTimeSetting[3] = {
    TimeSettingRow(2, "Send2", "Часы2", Readout::Clock2Time, Readout::Clock2Temperature),
    TimeSettingRow(3, "Send3", "Часы3", Readout::Clock3Time, Readout::Clock3Temperature),
    TimeSettingRow(4, "Send4", "Часы4", Readout::Clock4Time, Readout::Clock4Temperature),
};

// A refused configuration keeps resending; an accepted one returns to polling.
const ExchangeParams kConfiguration = {
    .clockNumber = 1,
    .frame = FrameKind::Configuration,
    .firstLogWord = "Send=====",
    .secondLogWord = "Часы1",
    .bufferClears = 1,
    .pauseAfterByteMs = 10,
    .pauseBeforeReadMs = 200,
    .readCount = 19,
    .fallbackReply = "999999999999999999999",
    .timeLabel = Readout::Clock1Time,
    .temperatureLabel = Readout::Clock1Temperature,
    .pressureLabel = Readout::Clock1Pressure,
    .statusReply = true,
    .refusedSwitchCount = 2,
    .refusedSwitches = {{PollTimer::Resend, true}, {PollTimer::ReadBack, false}},
    .acceptedSwitchCount = 2,
    .acceptedSwitches = {{PollTimer::ReadBack, true}, {PollTimer::Resend, false}}};

// A refused read-back switches to resending; an accepted one leaves the timers alone.
const ExchangeParams kReadBack = {
    .clockNumber = 1,
    .frame = FrameKind::ReadRequest,
    .firstLogWord = "READ----",
    .secondLogWord = "Часы1",
    .bufferClears = 1,
    .pauseAfterByteMs = 10,
    .pauseBeforeReadMs = 500,
    .readCount = 19,
    .fallbackReply = "999999999999999999999",
    .timeLabel = Readout::Clock1Time,
    .temperatureLabel = Readout::Clock1Temperature,
    .pressureLabel = Readout::Clock1Pressure,
    .statusReply = true,
    .refusedSwitchCount = 2,
    .refusedSwitches = {{PollTimer::ReadBack, false}, {PollTimer::Resend, true}},
    .acceptedSwitchCount = 0,
    .acceptedSwitches = {}};

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

void ApplySwitches(ClockPanel& panel, int count, const TimerSwitch* switches) {
  for (int i = 0; i < count; ++i) panel.SetTimerArmed(switches[i].timer, switches[i].armed);
}

std::string Shown(const std::string& bytes) {
  return platform::Cp1251ToUtf8(bytes);
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

ExchangeOutcome RunClockExchange(const ExchangeParams& params, ClockPanel& panel,
                                 TCustomComPort& port, platform::WallClock& clock) {
  // A port still open here was left so by an exchange that failed half-way, possibly because its
  // device went away; the settings and the device are taken afresh rather than reused.
  if (port.Connected()) port.Close();
  const std::string location(kSettingsLocation);
  port.RestoreSettings(ssRegistry, location);
  try {
    port.Open();
  } catch (const std::exception&) {
    panel.SetStatusText(std::string(kPortFailureText));
    panel.SetReadout(params.timeLabel, kNoTimeText);
    panel.SetReadout(params.temperatureLabel, kNoValueText);
    return ExchangeOutcome::PortFailed;
  }
  if (!panel.TryOpenPort()) return ExchangeOutcome::NotOpened;

  const ClockInstant t =
      CorrectedInstant(clock.LocalNow(), panel.CorrectionHours(params.clockNumber));
  const ClockFrame frame = BuildFrame(params, panel, t);

  port.ClearBuffer(true, true);
  panel.AppendLog(params.firstLogWord);
  panel.AppendLog(Shown(frame));
  if (params.bufferClears > 1) port.ClearBuffer(true, true);

  // The clock expects each byte on its own, paced; the leading 0x00 marks a new frame.
  port.WriteStr(std::string(1, '\0'));
  clock.SleepMs(params.pauseAfterByteMs);
  for (char byte : frame) {
    port.WriteStr(std::string(1, byte));
    clock.SleepMs(params.pauseAfterByteMs);
  }
  clock.SleepMs(params.pauseBeforeReadMs);

  std::string reply;
  port.ReadStr(reply, params.readCount);
  // Nothing received is never an answer, even where the stand-in text would pass the check
  // (the time-setting stand-in matches a frame sent at 12:34:56).
  const bool received = !reply.empty();
  if (!received) reply = params.fallbackReply;

  panel.AppendLog(params.secondLogWord);
  panel.AppendLog(Shown(ReplyCheckText(t, reply)));
  if (params.statusReply) panel.AppendLog(Shown(reply));

  const bool accepted =
      received && (params.statusReply ? AcceptStatusReply(t, reply) : AcceptTimeReply(t, reply));
  if (!accepted) {
    panel.SetReadout(params.timeLabel, kNoTimeText);
    panel.SetReadout(params.temperatureLabel, kNoValueText);
    if (params.pressureLabel != Readout::None) panel.SetReadout(params.pressureLabel, kNoValueText);
    ApplySwitches(panel, params.refusedSwitchCount, params.refusedSwitches);
  } else {
    if (params.statusReply) {
      // Each duration is set as soon as it is read: a bad digit leaves the earlier ones set.
      panel.SetDisplayDuration(DisplayItem::Time, DurationDigit(reply, 11));
      panel.SetDisplayDuration(DisplayItem::Date, DurationDigit(reply, 12));
      panel.SetDisplayDuration(DisplayItem::Temperature, DurationDigit(reply, 13));
      panel.SetDisplayDuration(DisplayItem::Pressure, DurationDigit(reply, 14));
      panel.SetReadout(params.pressureLabel, Shown(PressureText(reply)));
    }
    ApplySwitches(panel, params.acceptedSwitchCount, params.acceptedSwitches);
    panel.SetReadout(params.timeLabel, Shown(ClockTimeText(t)));
    panel.SetReadout(params.temperatureLabel, Shown(TemperatureText(reply)));
  }
  port.Close();
  return accepted ? ExchangeOutcome::Accepted : ExchangeOutcome::Refused;
}

}  // namespace tavex
