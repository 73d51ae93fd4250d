#include "clocklink/ClockExchange.h"

#include <stdexcept>

#include "platform/text_codec.h"

namespace tavex {
namespace {

constexpr TimerSwitch kNoSwitch{PollTimer::ReadBack, false};

const ExchangeParams kTimeSetting[3] = {
    {2,
     FrameKind::TimeSetting,
     "Send2",
     "Часы2",
     2,
     5,
     50,
     12,
     "1234567890",
     Readout::Clock2Time,
     Readout::Clock2Temperature,
     Readout::None,
     false,
     0,
     {kNoSwitch, kNoSwitch},
     0,
     {kNoSwitch, kNoSwitch}},
    {3,
     FrameKind::TimeSetting,
     "Send3",
     "Часы3",
     2,
     5,
     50,
     12,
     "1234567890",
     Readout::Clock3Time,
     Readout::Clock3Temperature,
     Readout::None,
     false,
     0,
     {kNoSwitch, kNoSwitch},
     0,
     {kNoSwitch, kNoSwitch}},
    {4,
     FrameKind::TimeSetting,
     "Send4",
     "Часы4",
     2,
     5,
     50,
     12,
     "1234567890",
     Readout::Clock4Time,
     Readout::Clock4Temperature,
     Readout::None,
     false,
     0,
     {kNoSwitch, kNoSwitch},
     0,
     {kNoSwitch, kNoSwitch}},
};

// A refused configuration keeps resending; an accepted one returns to polling.
const ExchangeParams kConfiguration = {1,
                                       FrameKind::Configuration,
                                       "Send=====",
                                       "Часы1",
                                       1,
                                       10,
                                       200,
                                       19,
                                       "999999999999999999999",
                                       Readout::Clock1Time,
                                       Readout::Clock1Temperature,
                                       Readout::Clock1Pressure,
                                       true,
                                       2,
                                       {{PollTimer::Resend, true}, {PollTimer::ReadBack, false}},
                                       2,
                                       {{PollTimer::ReadBack, true}, {PollTimer::Resend, false}}};

// A refused read-back switches to resending; an accepted one leaves the timers alone.
const ExchangeParams kReadBack = {1,
                                  FrameKind::ReadRequest,
                                  "READ----",
                                  "Часы1",
                                  1,
                                  10,
                                  500,
                                  19,
                                  "999999999999999999999",
                                  Readout::Clock1Time,
                                  Readout::Clock1Temperature,
                                  Readout::Clock1Pressure,
                                  true,
                                  2,
                                  {{PollTimer::ReadBack, false}, {PollTimer::Resend, true}},
                                  0,
                                  {kNoSwitch, kNoSwitch}};

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
