// SPDX-License-Identifier: GPL-3.0-or-later
// The program's state as the site's monitoring sees it: what each exchange ended in, the last
// accepted readouts, the port, the polling state and the errors shown. The window thread records
// (each record is a short update under a mutex); the metrics server's thread takes a copy under
// the same mutex and renders it in the Prometheus text format outside it, so a scrape never waits
// for an exchange and an exchange never waits for a scrape. No toolkit here: tested as plain code.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <optional>
#include <string>
#include <tuple>
#include <utility>
#include <vector>

#include "clocklink/ClockExchange.h"

namespace tavex::ui {

enum class ExchangeResult { Accepted, Refused, Silent, PortFailed, Error };
enum class PollingState { Start, Reading, Sending, Stopped };

// How an exchange ended, for the metrics: a refusal of nothing received is "silent"; a port
// opened but not taken a second time counts as the port failing.
ExchangeResult ResultOf(ExchangeOutcome outcome, const ExchangeReport& report);

// Numbers read from a reply; nothing where the reply holds none ("6666", letters, too short).
std::optional<double> ReplyTemperatureCelsius(const std::string& reply);
std::optional<double> ReplyPressureMmHg(const std::string& reply);
// The reply's hour and minute against the time sent, in minutes, from -720 to 719 (a clock an
// hour ahead gives 60, one a minute behind -1).
std::optional<int> ReplyMinutesOff(const ClockInstant& sent, const std::string& reply);

// A label value as the text format carries it: backslash, double quote and line feed escaped,
// bytes that are not UTF-8 replaced by U+FFFD.
std::string EscapeLabelValue(const std::string& value);

class MetricsRecorder {
 public:
  // Error texts with a series of their own; any further text is counted under kOtherErrors.
  static constexpr std::size_t kMaxErrorTexts = 20;
  static constexpr std::size_t kMaxErrorTextBytes = 200;
  static constexpr const char* kOtherErrors = "(other texts)";

  explicit MetricsRecorder(std::string version);

  // `unixSeconds`: the wall time the exchange ended, for the last accepted reply's time stamp.
  void RecordExchange(const ExchangeParams& params, ExchangeResult result,
                      const ExchangeReport& report, double unixSeconds);
  void RecordPollingState(PollingState state);
  void RecordError(const std::string& text);

  // The whole exposition (text format 0.0.4).
  std::string Exposition() const;

 private:
  struct ClockValues {
    std::optional<double> lastAcceptedSeconds;
    std::optional<double> temperature;
    std::optional<double> pressure;
  };
  // clock, exchange, result -> count
  using ExchangeKey = std::tuple<int, std::string, ExchangeResult>;
  struct State {
    std::map<ExchangeKey, std::uint64_t> exchanges;
    std::map<int, ClockValues> clocks;
    std::optional<int> minutesOff;
    std::optional<bool> portUp;
    PollingState polling = PollingState::Start;
    std::vector<std::pair<std::string, std::uint64_t>> errors;  // in order of first appearance
  };
  static std::string Render(const State& state, const std::string& version);

  const std::string version_;
  mutable std::mutex mutex_;
  State state_;
};

// Runs the exchange as RunClockExchange does and, when `metrics` is given, records how it ended
// (an error that ends it is recorded, then passed on).
ExchangeOutcome RunRecordedExchange(MetricsRecorder* metrics, const ExchangeParams& params,
                                    ClockPanel& panel, TCustomComPort& port,
                                    platform::WallClock& clock);

}  // namespace tavex::ui
