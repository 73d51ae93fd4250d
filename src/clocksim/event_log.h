// SPDX-License-Identifier: GPL-3.0-or-later
// The simulator's record of the line: JSON lines, one per byte received or sent and one per
// frame, reply and event, each with a monotonic timestamp in nanoseconds, so that a test or an
// operator can see exactly what passed and when.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

#include "clocksim/clock_sim.h"

namespace tavex::clocksim {

class EventLog {
 public:
  EventLog() = default;
  ~EventLog();
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;

  // Opens (truncating) the file; returns 0 or an errno value.
  int Open(const std::string& path);
  bool IsOpen() const { return file_ != nullptr; }

  void Byte(SteadyTime at, bool received, std::uint8_t byte);
  void Frame(SteadyTime at, const ReceivedFrame& frame);
  void Reply(SteadyTime at, int clock, const std::string& bytes, const std::string& faults);
  void Event(SteadyTime at, const std::string& name, const std::string& detail);

 private:
  void WriteLine(const std::string& line);
  FILE* file_ = nullptr;
};

std::string HexText(const std::string& bytes);
std::string JsonString(const std::string& text);  // quoted, control and non-ASCII bytes escaped

}  // namespace tavex::clocksim
