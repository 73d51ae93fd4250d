// SPDX-License-Identifier: GPL-3.0-or-later
// The three clock exchanges (time setting for clocks 2-4, configuration and read-back of clock 1)
// as one routine driven by a table of per-exchange parameters. The routine talks to the window
// only through ClockPanel, so it runs without a toolkit in tests.
#pragma once

#include <array>
#include <string>
#include <string_view>

#include "clocklink/ClockFrames.h"
#include "platform/wall_clock.h"
#include "serial/ComPort.h"

namespace tavex {

// Where the port settings live for every exchange and for the setup command.
inline constexpr std::string_view kSettingsLocation = "HKEY_LOCAL_MACHINE\\Software\\TAVEX";
inline constexpr std::string_view kPortFailureText =
    "Com порт выбран неверно или занят другим приложением.";

// Clock 1's display items, in frame order.
enum class DisplayItem { Time, Date, Temperature, Pressure };

// The readouts the exchanges write.
enum class Readout {
  Clock1Time,
  Clock1Temperature,
  Clock1Pressure,
  Clock2Time,
  Clock2Temperature,
  Clock3Time,
  Clock3Temperature,
  Clock4Time,
  Clock4Temperature,
  None
};

// The two polling timers the clock-1 exchanges switch.
enum class PollTimer { ReadBack, Resend };

// What an exchange needs from the window. Texts are UTF-8.
class ClockPanel {
 public:
  virtual int CorrectionHours(int clockNumber) const = 0;
  virtual int DisplayDuration(DisplayItem item) const = 0;
  // Raises the control's change notification when the shown value changes.
  virtual void SetDisplayDuration(DisplayItem item, int seconds) = 0;
  virtual int Brightness() const = 0;
  virtual void SetReadout(Readout readout, const std::string& text) = 0;
  virtual void SetStatusText(const std::string& text) = 0;
  virtual void AppendLog(const std::string& line) = 0;
  virtual void SetTimerArmed(PollTimer timer, bool armed) = 0;
  // The window's own open of its port, right after the exchange opened it: Open on an open port
  // does nothing, so this succeeds unless the port was closed meanwhile and cannot be opened
  // again. A failure is reported in a message box; false then.
  virtual bool TryOpenPort() = 0;

 protected:
  ~ClockPanel() = default;
};

enum class FrameKind { TimeSetting, Configuration, ReadRequest };

struct TimerSwitch {
  PollTimer timer = PollTimer::ReadBack;
  bool armed = false;
};

// The timer switches after an answer, in order.
struct TimerSwitches {
  int count = 0;
  std::array<TimerSwitch, 2> at{};
};

// One row of the exchange table.
struct ExchangeParams {
  int clockNumber;  // its correction control and its address
  FrameKind frame;
  const char* firstLogWord;
  const char* secondLogWord;
  int bufferClears;  // 1: before the log lines; 2: also after the first two
  int pauseAfterByteMs;
  int pauseBeforeReadMs;
  int readCount;
  const char* fallbackReply;
  Readout timeLabel;
  Readout temperatureLabel;
  Readout pressureLabel;  // Readout::None for the time-setting exchange
  bool statusReply;       // a status reply: logged itself, carries durations and pressure
  // A status reply refused only for its time still carries the clock's own durations: taken, so
  // that the configuration that follows gives the clock back its durations rather than the
  // window's.
  bool durationsOfAnOffClock;
  TimerSwitches refused;
  TimerSwitches accepted;
};

const ExchangeParams& TimeSettingExchange(int clockNumber);  // clocks 2..4
const ExchangeParams& ConfigurationExchange();
const ExchangeParams& ReadBackExchange();

// What happened, for the caller and the tests.
enum class ExchangeOutcome { PortFailed, NotOpened, Refused, Accepted };

// What one exchange saw on the line, filled in as it goes (so also when an error ends it): for
// whoever watches the program from outside (its metrics).
struct ExchangeReport {
  bool opened = false;    // the port opened
  bool received = false;  // the clock sent at least one byte
  std::string reply;      // the bytes received, as read (empty when none)
  ClockInstant sent{};    // the corrected time the frame carried
};

// Runs one exchange to its end on the calling thread. A failed Open is reported on the panel
// (and the report cleared by the next Open that succeeds); every other error propagates (the port
// then stays open). Whenever the exchange ends without an accepted answer, its readouts are set
// to their no-value form. `report`, when given, is filled in.
ExchangeOutcome RunClockExchange(const ExchangeParams& params, ClockPanel& panel,
                                 TCustomComPort& port, platform::WallClock& clock,
                                 ExchangeReport* report = nullptr);

}  // namespace tavex
