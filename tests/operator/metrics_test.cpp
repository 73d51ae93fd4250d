// SPDX-License-Identifier: GPL-3.0-or-later
// The metrics recorder: the numbers read from replies, label escaping, what each exchange result
// changes, the bound on error texts, and an exposition Prometheus can read (a family's HELP and
// TYPE before its samples, one sample per line, escaped labels).
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <regex>
#include <set>
#include <sstream>
#include <string>

#include "operator/Metrics.h"

namespace tavex::ui {
namespace {

TEST(MetricsReplies, TemperatureField) {
  const struct {
    const char* field;
    std::optional<double> celsius;
  } cases[] = {
      {" 21o", 21},
      {"-12o", -12},
      {"+23o", 23},
      {" 2oo", 2},
      {"  5o", 5},
      {"6666", {}},
      {"ab1o", {}},
      {"    ", {}},
      {"1-2o", {}},
      {"12.5", 12.5},
      {"\xB0\xB0\xB0\xB0", {}},
  };
  for (const auto& c : cases) {
    const std::string reply = std::string("123456") + c.field + "5533xx745";
    EXPECT_EQ(ReplyTemperatureCelsius(reply), c.celsius) << c.field;
  }
  EXPECT_EQ(ReplyTemperatureCelsius("123456 2"), std::nullopt) << "a field cut short";
}

TEST(MetricsReplies, PressureField) {
  const struct {
    const char* field;
    std::optional<double> mmhg;
  } cases[] = {{"745", 745}, {" 99", 99}, {"7x5", {}}, {"   ", {}}, {"-10", {}}, {"1e3", {}}};
  for (const auto& c : cases) {
    EXPECT_EQ(ReplyPressureMmHg(std::string("123456 21o5533xx") + c.field), c.mmhg) << c.field;
  }
  EXPECT_EQ(ReplyPressureMmHg("123456 21o5533xx74"), std::nullopt);
}

TEST(MetricsReplies, MinutesOffAgainstTheTimeSent) {
  const struct {
    int hour, minute;
    const char* reply;
    std::optional<int> off;
  } cases[] = {
      {12, 34, "123456", 0},   {12, 34, "123356", -1},         {12, 34, "133400", 60},
      {23, 59, "000000", 1},   {0, 0, "235900", -1},           {0, 0, "120000", -720},
      {12, 0, "000000", -720}, {11, 59, "000000", 721 - 1440}, {12, 34, "1x3456", {}},
      {12, 34, "2534", {}},    {12, 34, "1260", {}},           {12, 34, "123", {}},
  };
  for (const auto& c : cases) {
    ClockInstant sent;
    sent.hour = c.hour;
    sent.minute = c.minute;
    EXPECT_EQ(ReplyMinutesOff(sent, c.reply), c.off) << c.hour << ":" << c.minute << " " << c.reply;
  }
}

TEST(MetricsLabels, EscapedAsTheTextFormatWants) {
  const struct {
    std::string raw, escaped;
  } cases[] = {
      {"plain", "plain"},
      {R"(a\b)", R"(a\\b)"},
      {R"(say "no")", R"(say \"no\")"},
      {"two\nlines", R"(two\nlines)"},
      {"Com порт выбран неверно.", "Com порт выбран неверно."},
      {"bad \xFF byte", "bad \xEF\xBF\xBD byte"},
      {"cut \xD0", "cut \xEF\xBF\xBD"},
      {"overlong \xC0\xAF", "overlong \xEF\xBF\xBD\xEF\xBF\xBD"},
      {"surrogate \xED\xA0\x80", "surrogate \xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},
  };
  for (const auto& c : cases) EXPECT_EQ(EscapeLabelValue(c.raw), c.escaped) << c.raw;
}

// The samples of an exposition, by their full name with labels; checks the format on the way.
std::map<std::string, std::string> Samples(const std::string& text) {
  std::map<std::string, std::string> samples;
  static const std::regex sample(
      R"re(([a-z_]+)(\{[a-z_]+="(?:[^"\\\n]|\\[\\"n])*"(?:,[a-z_]+="(?:[^"\\\n]|\\[\\"n])*")*\})? (-?[0-9.e+]+|NaN))re");
  static const std::regex help(R"(# HELP ([a-z_]+) .+)");
  static const std::regex type(R"(# TYPE ([a-z_]+) (counter|gauge))");
  std::istringstream in(text);
  std::string line, helped, typed;
  std::set<std::string> families;
  std::smatch m;
  while (std::getline(in, line)) {
    if (std::regex_match(line, m, help)) {
      helped = m[1];
      EXPECT_TRUE(families.insert(helped).second) << "family twice: " << helped;
    } else if (std::regex_match(line, m, type)) {
      typed = m[1];
      EXPECT_EQ(typed, helped) << "TYPE without its HELP";
    } else if (std::regex_match(line, m, sample)) {
      EXPECT_EQ(m[1].str(), typed) << "sample outside its family: " << line;
      EXPECT_TRUE(samples.emplace(m[1].str() + m[2].str(), m[3].str()).second) << line;
    } else {
      ADD_FAILURE() << "not a line of the text format: " << line;
    }
  }
  EXPECT_FALSE(text.empty() || text.back() != '\n') << "the last line must end";
  return samples;
}

const std::string kClock1Reply = "123456 21o5533xx745";

ExchangeReport Report(bool opened, const std::string& reply) {
  ExchangeReport report;
  report.opened = opened;
  report.received = !reply.empty();
  report.reply = reply;
  report.sent.hour = 12;
  report.sent.minute = 34;
  return report;
}

TEST(MetricsRecorder, BeforeAnyExchangeOnlyCountersStateAndVersion) {
  MetricsRecorder metrics("1.2.3");
  const auto samples = Samples(metrics.Exposition());
  EXPECT_EQ(samples.at(R"(tavex_build_info{version="1.2.3"})"), "1");
  EXPECT_EQ(samples.at(R"(tavex_polling_state{state="start"})"), "1");
  EXPECT_EQ(samples.at(R"(tavex_polling_state{state="reading"})"), "0");
  EXPECT_EQ(samples.at(R"(tavex_exchanges_total{clock="1",exchange="readback",result="silent"})"),
            "0");
  EXPECT_EQ(samples.at(R"(tavex_exchanges_total{clock="4",exchange="time",result="error"})"), "0");
  for (const auto& [name, value] : samples) {
    EXPECT_EQ(name.find("tavex_clock_"), std::string::npos) << "a gauge before any reply: " << name;
    EXPECT_EQ(name.find("tavex_port_up"), std::string::npos);
  }
}

TEST(MetricsRecorder, EachResultChangesWhatItSays) {
  MetricsRecorder metrics("0");
  metrics.RecordExchange(ReadBackExchange(), ExchangeResult::Accepted, Report(true, kClock1Reply),
                         1.8e9);
  auto samples = Samples(metrics.Exposition());
  EXPECT_EQ(samples.at(R"(tavex_clock_last_accepted_timestamp_seconds{clock="1"})"), "1800000000");
  EXPECT_EQ(samples.at(R"(tavex_clock_temperature_celsius{clock="1"})"), "21");
  EXPECT_EQ(samples.at(R"(tavex_clock_pressure_mmhg{clock="1"})"), "745");
  EXPECT_EQ(samples.at(R"(tavex_clock_minutes_off{clock="1"})"), "0");
  EXPECT_EQ(samples.at("tavex_port_up"), "1");
  EXPECT_EQ(samples.at(R"(tavex_exchanges_total{clock="1",exchange="readback",result="accepted"})"),
            "1");

  // A refused reply: the time it carries, the readouts of the last accepted one kept.
  metrics.RecordExchange(ConfigurationExchange(), ExchangeResult::Refused,
                         Report(true, "123356 30o5533xx700"), 1.8e9 + 5);
  samples = Samples(metrics.Exposition());
  EXPECT_EQ(samples.at(R"(tavex_clock_minutes_off{clock="1"})"), "-1");
  EXPECT_EQ(samples.at(R"(tavex_clock_temperature_celsius{clock="1"})"), "21");
  EXPECT_EQ(samples.at(R"(tavex_clock_last_accepted_timestamp_seconds{clock="1"})"), "1800000000");

  // Silence: no time known any more.
  metrics.RecordExchange(ConfigurationExchange(), ExchangeResult::Silent, Report(true, ""), 1.8e9);
  samples = Samples(metrics.Exposition());
  EXPECT_EQ(samples.count(R"(tavex_clock_minutes_off{clock="1"})"), 0u);
  EXPECT_EQ(
      samples.at(R"(tavex_exchanges_total{clock="1",exchange="configuration",result="silent"})"),
      "1");

  // The port gone; an accepted time setting of clock 3 has no pressure.
  metrics.RecordExchange(ReadBackExchange(), ExchangeResult::PortFailed, Report(false, ""), 1.8e9);
  EXPECT_EQ(Samples(metrics.Exposition()).at("tavex_port_up"), "0");
  metrics.RecordExchange(TimeSettingExchange(3), ExchangeResult::Accepted,
                         Report(true, "123456-12o"), 1.8e9 + 0.25);
  samples = Samples(metrics.Exposition());
  EXPECT_EQ(samples.at("tavex_port_up"), "1");
  EXPECT_EQ(samples.at(R"(tavex_clock_temperature_celsius{clock="3"})"), "-12");
  EXPECT_EQ(samples.at(R"(tavex_clock_last_accepted_timestamp_seconds{clock="3"})"),
            "1800000000.25");
  EXPECT_EQ(samples.count(R"(tavex_clock_pressure_mmhg{clock="3"})"), 0u);
  EXPECT_EQ(samples.at(R"(tavex_exchanges_total{clock="3",exchange="time",result="accepted"})"),
            "1");

  // An accepted reply without a temperature withdraws the old one.
  metrics.RecordExchange(ReadBackExchange(), ExchangeResult::Accepted,
                         Report(true, "1234566666553300745"), 1.8e9);
  EXPECT_EQ(Samples(metrics.Exposition()).count(R"(tavex_clock_temperature_celsius{clock="1"})"),
            0u);
}

TEST(MetricsRecorder, PollingStateIsOneOfFour) {
  MetricsRecorder metrics("0");
  metrics.RecordPollingState(PollingState::Sending);
  const auto samples = Samples(metrics.Exposition());
  int ones = 0;
  for (const char* state : {"start", "reading", "sending", "stopped"}) {
    ones += samples.at(std::string(R"(tavex_polling_state{state=")") + state + "\"}") == "1";
  }
  EXPECT_EQ(ones, 1);
  EXPECT_EQ(samples.at(R"(tavex_polling_state{state="sending"})"), "1");
}

TEST(MetricsRecorder, ErrorTextsAreBoundedAndEscaped) {
  MetricsRecorder metrics("0");
  metrics.RecordError("Unable to open com port (win error code: 2).");
  metrics.RecordError("Unable to open com port (win error code: 2).");
  metrics.RecordError("a \"quoted\"\ntext\\");
  for (int i = 0; i < 50; ++i) metrics.RecordError("error number " + std::to_string(i));
  metrics.RecordError(std::string(1000, 'x'));
  const auto samples = Samples(metrics.Exposition());
  std::size_t texts = 0;
  for (const auto& [name, value] : samples) texts += name.rfind("tavex_errors_total", 0) == 0;
  EXPECT_EQ(texts, MetricsRecorder::kMaxErrorTexts + 1);
  EXPECT_EQ(
      samples.at(R"(tavex_errors_total{text="Unable to open com port (win error code: 2)."})"),
      "2");
  EXPECT_EQ(samples.at(R"(tavex_errors_total{text="a \"quoted\"\ntext\\"})"), "1");
  EXPECT_EQ(samples.at(std::string(R"(tavex_errors_total{text=")") + MetricsRecorder::kOtherErrors +
                       "\"}"),
            std::to_string(50 + 1 + 2 - MetricsRecorder::kMaxErrorTexts));
}

}  // namespace
}  // namespace tavex::ui
