// SPDX-License-Identifier: GPL-3.0-or-later
// The window as the clock exchanges see it, for the tests, the fuzz target and the benchmarks: it
// holds the controls' values and records every effect, in order.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "clocklink/ClockExchange.h"

namespace tavex::test {

class RecordingPanel final : public ClockPanel {
 public:
  int corrections[5] = {0, 0, 0, 0, 0};  // by clock number, 1 to 4
  int durations[4] = {0, 0, 0, 0};       // in DisplayItem order
  int brightness = 0;
  std::map<Readout, std::string> readouts;
  std::string status;
  std::vector<std::string> log;
  std::vector<std::string> events;  // timer switches and duration changes, in order
  bool tryOpenResult = true;
  // False: log lines and events are not kept (a benchmark's thousands of exchanges).
  bool keepRecords = true;
  // Called with every status text (the exchanges set one when the port does not open).
  std::function<void(const std::string&)> onStatus;

  int CorrectionHours(int clock) const override { return corrections[clock]; }
  int DisplayDuration(DisplayItem item) const override { return durations[Index(item)]; }
  void SetDisplayDuration(DisplayItem item, int seconds) override {
    int& value = durations[Index(item)];
    if (value != seconds) Record(events, "duration" + std::to_string(Index(item)));
    value = seconds;
  }
  int Brightness() const override { return brightness; }
  void SetReadout(Readout readout, const std::string& text) override { readouts[readout] = text; }
  void SetStatusText(const std::string& text) override {
    status = text;
    if (onStatus) onStatus(text);
  }
  void AppendLog(const std::string& line) override { Record(log, line); }
  void SetTimerArmed(PollTimer timer, bool armed) override {
    Record(events,
           std::string(timer == PollTimer::ReadBack ? "Timer1" : "Timer2") + (armed ? "+" : "-"));
  }
  bool TryOpenPort() override { return tryOpenResult; }

 private:
  static int Index(DisplayItem item) { return static_cast<int>(item); }
  void Record(std::vector<std::string>& to, std::string what) const {
    if (keepRecords) to.push_back(std::move(what));
  }
};

}  // namespace tavex::test
