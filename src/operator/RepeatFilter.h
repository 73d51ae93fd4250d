// SPDX-License-Identifier: GPL-3.0-or-later
// Keeps a recurring error from flooding standard error: the first line of a text is printed, its
// repeats are counted and summarised as "… repeated N times", at most once a period and whenever
// another text comes. Time is passed in, so the rule is tested without waiting.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace tavex::ui {

class RepeatFilter {
 public:
  static constexpr std::int64_t kDefaultPeriodMs = 10000;
  explicit RepeatFilter(std::int64_t periodMs = kDefaultPeriodMs) : periodMs_(periodMs) {}

  // The lines to print now for `line` arriving at `nowMs` (a monotonic time).
  std::vector<std::string> Add(const std::string& line, std::int64_t nowMs);
  // The summary of the repeats counted so far when the period since the last printed line is
  // over at `nowMs`; nothing otherwise.
  std::vector<std::string> Due(std::int64_t nowMs);
  // The summary of whatever repeats are still counted (at the end of the program).
  std::vector<std::string> Flush();

  int Pending() const { return repeats_; }
  // When Due() will have a summary, if repeats are counted.
  std::int64_t DueAtMs() const { return lastPrintedMs_ + periodMs_; }

  static std::string Summary(int repeats);

 private:
  std::int64_t periodMs_;
  std::string last_;
  bool any_ = false;
  int repeats_ = 0;
  std::int64_t lastPrintedMs_ = 0;
};

}  // namespace tavex::ui
