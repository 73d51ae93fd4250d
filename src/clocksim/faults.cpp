// SPDX-License-Identifier: GPL-3.0-or-later
#include <charconv>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <string_view>

#include "clocksim/clock_sim.h"
#include "clocksim/frame_layout.h"

namespace tavex::clocksim {
namespace {

struct KindInfo {
  const char* name;
  FaultKind kind;
  bool takesArg;
  int minArg;
  int maxArg;
  const char* help;
};

// Reply positions, counted from 1 as everywhere in the layout.
constexpr int kReplyLength = static_cast<int>(layout::kStatusReplyLength);
constexpr int kFirstDuration = static_cast<int>(layout::kReplyDurations);
constexpr int kLastDuration = kFirstDuration + static_cast<int>(layout::kDurationCount) - 1;
constexpr int kFirstNul = static_cast<int>(layout::kReplyTemperature);

constexpr KindInfo kKinds[] = {
    {"silent", FaultKind::Silent, false, 0, 0, "never answers"},
    {"late", FaultKind::Late, true, 0, 60000, "=MS: answers MS ms after the frame (required)"},
    {"wrong-minute", FaultKind::WrongMinute, false, 0, 0, "answers one minute behind"},
    {"no-temperature", FaultKind::NoTemperature, false, 0, 0, "temperature field 6666"},
    {"below-zero", FaultKind::BelowZero, true, 0, 99, "[=DEG]: temperature -DEG (12): \"-12o\""},
    {"degree-letters", FaultKind::DegreeLetters, false, 0, 0,
     "letter o at both degree positions: \" 2oo\""},
    {"nul", FaultKind::NulBytes, true, 1, kReplyLength - kFirstNul + 1,
     "[=N]: N characters (1) from position 7 sent as 0x00"},
    {"bad-digit", FaultKind::BadDigit, true, kFirstDuration, kLastDuration,
     "[=POS]: letter x at duration position POS (11), clock 1"},
    {"truncate", FaultKind::Truncate, true, 0, kReplyLength,
     "[=N]: sends only the first N characters (all but the last)"},
    {"noise", FaultKind::Noise, true, 1, 64, "[=N]: N noise bytes (3) before the answer"},
    {"hangup", FaultKind::HangUp, true, 1, 1000000,
     "[=N]: the Nth frame (1) goes unanswered and the line hangs up"},
    {"drift", FaultKind::Drift, true, 1, 1000000,
     "[=N]: after the Nth frame (1) clock 1's durations change by themselves"},
};

std::string_view Trim(std::string_view s) {
  while (!s.empty() && (s.front() == ' ' || s.front() == '\t' || s.front() == '\r')) {
    s.remove_prefix(1);
  }
  while (!s.empty() && (s.back() == ' ' || s.back() == '\t' || s.back() == '\r')) {
    s.remove_suffix(1);
  }
  return s;
}

int ParseInt(std::string_view s, const std::string& what) {
  int value = 0;
  const auto [end, error] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (s.empty() || error != std::errc{} || end != s.data() + s.size()) {
    throw std::invalid_argument("not a number in " + what);
  }
  return value;
}

}  // namespace

std::vector<Fault> ParseFault(const std::string& text) {
  const std::string_view t = Trim(text);
  const auto colon = t.find(':');
  if (colon == std::string_view::npos) {
    throw std::invalid_argument("fault \"" + text + "\" is not CLOCK:KIND[=ARG]");
  }
  const std::string_view clockText = t.substr(0, colon);
  std::string_view kindText = t.substr(colon + 1);
  std::optional<std::string_view> argText;
  if (const auto eq = kindText.find('='); eq != std::string_view::npos) {
    argText = kindText.substr(eq + 1);
    kindText = kindText.substr(0, eq);
  }

  int first = 1, last = kClockCount;
  if (clockText != "all") {
    first = last = ParseInt(clockText, "fault \"" + text + "\"");
    if (first < 1 || first > kClockCount) {
      throw std::invalid_argument("fault \"" + text + "\": clock must be 1-4 or all");
    }
  }

  for (const KindInfo& info : kKinds) {
    if (kindText != info.name) continue;
    int arg = -1;
    if (argText) {
      if (!info.takesArg) {
        throw std::invalid_argument("fault \"" + text + "\" takes no argument");
      }
      arg = ParseInt(*argText, "fault \"" + text + "\"");
      if (arg < info.minArg || arg > info.maxArg) {
        throw std::invalid_argument("fault \"" + text + "\": argument must be " +
                                    std::to_string(info.minArg) + "-" +
                                    std::to_string(info.maxArg));
      }
    } else if (info.kind == FaultKind::Late) {
      throw std::invalid_argument("fault \"" + text + "\" needs =MS");
    }
    std::vector<Fault> faults;
    for (int clock = first; clock <= last; ++clock) faults.push_back({clock, info.kind, arg});
    return faults;
  }
  throw std::invalid_argument("fault \"" + text + "\": unknown kind (see --help)");
}

std::vector<Fault> ParseFaultList(const std::string& text) {
  std::vector<Fault> faults;
  std::istringstream lines(text);
  std::string line;
  while (std::getline(lines, line)) {
    if (const auto hash = line.find('#'); hash != std::string::npos) line.erase(hash);
    if (Trim(line).empty()) continue;
    for (const Fault& f : ParseFault(line)) faults.push_back(f);
  }
  return faults;
}

std::string FaultHelp() {
  std::string help = "Fault kinds (CLOCK:KIND[=ARG], CLOCK 1-4 or all):\n";
  for (const KindInfo& info : kKinds) {
    help += "  ";
    help += info.name;
    help += std::string(16 - std::string_view(info.name).size(), ' ');
    help += info.help;
    help += '\n';
  }
  return help;
}

}  // namespace tavex::clocksim
