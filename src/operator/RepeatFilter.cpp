// SPDX-License-Identifier: GPL-3.0-or-later
#include "operator/RepeatFilter.h"

namespace tavex::ui {

std::string RepeatFilter::Summary(int repeats) {
  return "… repeated " + std::to_string(repeats) + (repeats == 1 ? " time" : " times");
}

std::vector<std::string> RepeatFilter::Add(const std::string& line, std::int64_t nowMs) {
  if (any_ && line == last_) {
    ++repeats_;
    return Due(nowMs);
  }
  std::vector<std::string> out = Flush();
  out.push_back(line);
  last_ = line;
  any_ = true;
  lastPrintedMs_ = nowMs;
  return out;
}

std::vector<std::string> RepeatFilter::Due(std::int64_t nowMs) {
  if (repeats_ == 0 || nowMs - lastPrintedMs_ < periodMs_) return {};
  lastPrintedMs_ = nowMs;
  return Flush();
}

std::vector<std::string> RepeatFilter::Flush() {
  if (repeats_ == 0) return {};
  const int repeats = repeats_;
  repeats_ = 0;
  return {Summary(repeats)};
}

}  // namespace tavex::ui
