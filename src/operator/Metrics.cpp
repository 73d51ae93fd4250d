// SPDX-License-Identifier: GPL-3.0-or-later
#include "operator/Metrics.h"

#include <algorithm>
#include <charconv>
#include <chrono>

namespace tavex::ui {
namespace {

const char* ExchangeName(FrameKind frame) {
  switch (frame) {
    case FrameKind::TimeSetting:
      return "time";
    case FrameKind::Configuration:
      return "configuration";
    case FrameKind::ReadRequest:
      break;
  }
  return "readback";
}

const char* ResultName(ExchangeResult result) {
  switch (result) {
    case ExchangeResult::Accepted:
      return "accepted";
    case ExchangeResult::Refused:
      return "refused";
    case ExchangeResult::Silent:
      return "silent";
    case ExchangeResult::PortFailed:
      return "port_failed";
    case ExchangeResult::Error:
      break;
  }
  return "error";
}

const char* StateName(PollingState state) {
  switch (state) {
    case PollingState::Start:
      return "start";
    case PollingState::Reading:
      return "reading";
    case PollingState::Sending:
      return "sending";
    case PollingState::Stopped:
      break;
  }
  return "stopped";
}

constexpr ExchangeResult kResults[] = {ExchangeResult::Accepted, ExchangeResult::Refused,
                                       ExchangeResult::Silent, ExchangeResult::PortFailed,
                                       ExchangeResult::Error};
constexpr PollingState kStates[] = {PollingState::Start, PollingState::Reading,
                                    PollingState::Sending, PollingState::Stopped};

// The field of a reply at `span`, as far as the reply reaches.
std::string Field(const std::string& reply, FieldSpan span) {
  if (reply.size() < span.first) return {};
  return reply.substr(span.first - 1, span.length);
}

std::optional<double> Number(const std::string& text) {
  if (text.empty()) return std::nullopt;
  double value = 0;
  const char* end = text.data() + text.size();
  const auto [last, error] = std::from_chars(text.data(), end, value);
  if (error != std::errc() || last != end) return std::nullopt;
  return value;
}

std::optional<int> TwoDigitsAt(const std::string& text, std::size_t index) {
  if (text.size() < index + 2) return std::nullopt;
  const char a = text[index], b = text[index + 1];
  if (a < '0' || a > '9' || b < '0' || b > '9') return std::nullopt;
  return (a - '0') * 10 + (b - '0');
}

// The shortest text that reads back as the same double, without an exponent for the values the
// program has (time stamps, temperatures, counts).
std::string FormatValue(double value) {
  char text[64];
  const auto format =
      value > -1e15 && value < 1e15 ? std::chars_format::fixed : std::chars_format::general;
  const auto [last, error] = std::to_chars(text, text + sizeof text, value, format);
  if (error != std::errc()) return "NaN";
  return std::string(text, last);
}

// Cuts a text to at most `bytes` without splitting a UTF-8 character.
std::string Truncated(const std::string& text, std::size_t bytes) {
  if (text.size() <= bytes) return text;
  std::size_t end = bytes;
  while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80) --end;
  return text.substr(0, end);
}

// Length of the valid UTF-8 sequence at `i`, or 0.
std::size_t Utf8Length(const std::string& s, std::size_t i) {
  const auto byte = [&s](std::size_t k) { return static_cast<unsigned char>(s[k]); };
  const unsigned char c = byte(i);
  std::size_t n = 0;
  unsigned minimum = 0;
  unsigned code = 0;
  if (c < 0x80) return 1;
  if ((c & 0xE0) == 0xC0) {
    n = 2, minimum = 0x80, code = c & 0x1F;
  } else if ((c & 0xF0) == 0xE0) {
    n = 3, minimum = 0x800, code = c & 0x0F;
  } else if ((c & 0xF8) == 0xF0) {
    n = 4, minimum = 0x10000, code = c & 0x07;
  } else {
    return 0;
  }
  if (i + n > s.size()) return 0;
  for (std::size_t k = 1; k < n; ++k) {
    if ((byte(i + k) & 0xC0) != 0x80) return 0;
    code = (code << 6) | (byte(i + k) & 0x3F);
  }
  if (code < minimum || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)) return 0;
  return n;
}

void Family(std::string& out, const char* name, const char* type, const char* help) {
  out += "# HELP ";
  out += name;
  out += ' ';
  out += help;
  out += "\n# TYPE ";
  out += name;
  out += ' ';
  out += type;
  out += '\n';
}

void Sample(std::string& out, const char* name, const std::string& labels, double value) {
  out += name;
  if (!labels.empty()) out += '{' + labels + '}';
  out += ' ';
  out += FormatValue(value);
  out += '\n';
}

std::string Label(const char* name, const std::string& value) {
  return std::string(name) + "=\"" + EscapeLabelValue(value) + '"';
}

std::string ClockLabel(int clock) {
  return Label("clock", std::to_string(clock));
}

}  // namespace

ExchangeResult ResultOf(ExchangeOutcome outcome, const ExchangeReport& report) {
  switch (outcome) {
    case ExchangeOutcome::Accepted:
      return ExchangeResult::Accepted;
    case ExchangeOutcome::Refused:
      return report.received ? ExchangeResult::Refused : ExchangeResult::Silent;
    case ExchangeOutcome::PortFailed:
    case ExchangeOutcome::NotOpened:
      break;
  }
  return ExchangeResult::PortFailed;
}

std::optional<double> ReplyTemperatureCelsius(const std::string& reply) {
  const std::string field = Field(reply, kReplyTemperature);
  if (field.size() < kReplyTemperature.length || field == "6666") return std::nullopt;
  // Blanks pad the number, the letter o stands for the degree sign, a leading "+" is allowed.
  std::string number;
  for (char c : field) {
    if (c != ' ' && c != 'o') number.push_back(c);
  }
  if (!number.empty() && number[0] == '+') number.erase(0, 1);
  return Number(number);
}

std::optional<double> ReplyPressureMmHg(const std::string& reply) {
  std::string field = Field(reply, kReplyPressure);
  if (field.size() < kReplyPressure.length) return std::nullopt;
  field.erase(std::remove(field.begin(), field.end(), ' '), field.end());
  if (field.empty() ||
      !std::all_of(field.begin(), field.end(), [](char c) { return c >= '0' && c <= '9'; })) {
    return std::nullopt;
  }
  return Number(field);
}

std::optional<int> ReplyMinutesOff(const ClockInstant& sent, const std::string& reply) {
  const std::optional<int> hour = TwoDigitsAt(reply, 0);
  const std::optional<int> minute = TwoDigitsAt(reply, 2);
  if (!hour || !minute || *hour > 23 || *minute > 59) return std::nullopt;
  int off = (*hour * 60 + *minute) - (sent.hour * 60 + sent.minute);
  constexpr int kDay = 24 * 60;
  off = ((off % kDay) + kDay) % kDay;  // 0 .. 1439
  if (off >= kDay / 2) off -= kDay;    // -720 .. 719
  return off;
}

std::string EscapeLabelValue(const std::string& value) {
  std::string out;
  out.reserve(value.size());
  for (std::size_t i = 0; i < value.size();) {
    const std::size_t n = Utf8Length(value, i);
    if (n == 0) {
      out += "\xEF\xBF\xBD";  // U+FFFD
      ++i;
      continue;
    }
    if (n == 1) {
      const char c = value[i];
      if (c == '\\') {
        out += "\\\\";
      } else if (c == '"') {
        out += "\\\"";
      } else if (c == '\n') {
        out += "\\n";
      } else {
        out += c;
      }
    } else {
      out.append(value, i, n);
    }
    i += n;
  }
  return out;
}

MetricsRecorder::MetricsRecorder(std::string version) : version_(std::move(version)) {
  // Every counter the program can raise exists from the start at 0, so that a rate over the
  // first minutes is right and an alert on an increase sees the first one.
  for (ExchangeResult result : kResults) {
    state_.exchanges[{1, ExchangeName(FrameKind::ReadRequest), result}] = 0;
    state_.exchanges[{1, ExchangeName(FrameKind::Configuration), result}] = 0;
    for (int clock = 2; clock <= 4; ++clock) {
      state_.exchanges[{clock, ExchangeName(FrameKind::TimeSetting), result}] = 0;
    }
  }
}

void MetricsRecorder::RecordExchange(const ExchangeParams& params, ExchangeResult result,
                                     const ExchangeReport& report, double unixSeconds) {
  const int clock = params.clockNumber;
  std::lock_guard lock(mutex_);
  ++state_.exchanges[{clock, ExchangeName(params.frame), result}];
  if (result == ExchangeResult::PortFailed) {
    state_.portUp = false;
  } else if (report.opened) {
    state_.portUp = true;
  }
  if (result == ExchangeResult::Accepted) {
    ClockValues& values = state_.clocks[clock];
    values.lastAcceptedSeconds = unixSeconds;
    values.temperature = ReplyTemperatureCelsius(report.reply);
    if (params.statusReply) values.pressure = ReplyPressureMmHg(report.reply);
  }
  // Only a reply carries a time: after silence or a failed port nothing is known.
  if (clock == 1) {
    state_.minutesOff = report.received ? ReplyMinutesOff(report.sent, report.reply) : std::nullopt;
  }
}

void MetricsRecorder::RecordPollingState(PollingState state) {
  std::lock_guard lock(mutex_);
  state_.polling = state;
}

void MetricsRecorder::RecordError(const std::string& text) {
  const std::string kept = Truncated(text, kMaxErrorTextBytes);
  std::lock_guard lock(mutex_);
  auto& errors = state_.errors;
  auto found = std::find_if(errors.begin(), errors.end(),
                            [&kept](const auto& entry) { return entry.first == kept; });
  if (found == errors.end() && errors.size() >= kMaxErrorTexts) {
    found = std::find_if(errors.begin(), errors.end(),
                         [](const auto& entry) { return entry.first == kOtherErrors; });
    if (found == errors.end()) {
      errors.emplace_back(kOtherErrors, 0);
      found = errors.end() - 1;
    }
  } else if (found == errors.end()) {
    errors.emplace_back(kept, 0);
    found = errors.end() - 1;
  }
  ++found->second;
}

std::string MetricsRecorder::Exposition() const {
  State copy;
  {
    std::lock_guard lock(mutex_);
    copy = state_;
  }
  return Render(copy, version_);
}

std::string MetricsRecorder::Render(const State& state, const std::string& version) {
  std::string out;
  out.reserve(8192);

  Family(out, "tavex_exchanges_total", "counter",
         "Clock exchanges by clock, kind and how they ended.");
  for (const auto& [key, count] : state.exchanges) {
    const auto& [clock, exchange, result] = key;
    Sample(out, "tavex_exchanges_total",
           ClockLabel(clock) + ',' + Label("exchange", exchange) + ',' +
               Label("result", ResultName(result)),
           static_cast<double>(count));
  }

  Family(out, "tavex_clock_last_accepted_timestamp_seconds", "gauge",
         "Unix time of the clock's last accepted reply.");
  for (const auto& [clock, values] : state.clocks) {
    if (values.lastAcceptedSeconds) {
      Sample(out, "tavex_clock_last_accepted_timestamp_seconds", ClockLabel(clock),
             *values.lastAcceptedSeconds);
    }
  }
  Family(out, "tavex_clock_temperature_celsius", "gauge",
         "Temperature in the clock's last accepted reply.");
  for (const auto& [clock, values] : state.clocks) {
    if (values.temperature) {
      Sample(out, "tavex_clock_temperature_celsius", ClockLabel(clock), *values.temperature);
    }
  }
  Family(out, "tavex_clock_pressure_mmhg", "gauge",
         "Air pressure in the clock's last accepted reply, mm of mercury.");
  for (const auto& [clock, values] : state.clocks) {
    if (values.pressure) {
      Sample(out, "tavex_clock_pressure_mmhg", ClockLabel(clock), *values.pressure);
    }
  }
  Family(out, "tavex_clock_minutes_off", "gauge",
         "The last reply's hour and minute against the corrected computer time, in minutes.");
  if (state.minutesOff) {
    Sample(out, "tavex_clock_minutes_off", ClockLabel(1), static_cast<double>(*state.minutesOff));
  }

  Family(out, "tavex_port_up", "gauge",
         "1 when the last exchange opened the serial port, 0 when it could not.");
  if (state.portUp) Sample(out, "tavex_port_up", {}, *state.portUp ? 1 : 0);

  Family(out, "tavex_polling_state", "gauge", "1 for the polling cycle's current state.");
  for (PollingState s : kStates) {
    Sample(out, "tavex_polling_state", Label("state", StateName(s)), s == state.polling ? 1 : 0);
  }

  Family(out, "tavex_errors_total", "counter",
         "Errors shown to the operator (or written to standard error), by text.");
  for (const auto& [text, count] : state.errors) {
    Sample(out, "tavex_errors_total", Label("text", text), static_cast<double>(count));
  }

  Family(out, "tavex_build_info", "gauge", "The program's version.");
  Sample(out, "tavex_build_info", Label("version", version), 1);
  return out;
}

namespace {
double UnixNow() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}
}  // namespace

ExchangeOutcome RunRecordedExchange(MetricsRecorder* metrics, const ExchangeParams& params,
                                    ClockPanel& panel, TCustomComPort& port,
                                    platform::WallClock& clock) {
  if (metrics == nullptr) return RunClockExchange(params, panel, port, clock);
  ExchangeReport report;
  ExchangeOutcome outcome;
  try {
    outcome = RunClockExchange(params, panel, port, clock, &report);
  } catch (...) {
    metrics->RecordExchange(params, ExchangeResult::Error, report, UnixNow());
    throw;
  }
  metrics->RecordExchange(params, ResultOf(outcome, report), report, UnixNow());
  return outcome;
}

}  // namespace tavex::ui
