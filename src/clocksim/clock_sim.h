// SPDX-License-Identifier: GPL-3.0-or-later
// The clock network simulator: clocks 1 to 4 on one serial line. It reads what the operator
// program sends, answers as the clocks would, paces its answer at the line's byte rate and
// misbehaves on request. It takes an open line descriptor, so it runs over a pseudo-terminal, a
// real serial device, or inside a test.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/wall_clock.h"

namespace tavex::clocksim {

using SteadyClock = std::chrono::steady_clock;
using SteadyTime = SteadyClock::time_point;

inline constexpr int kClockCount = 4;

// ---------------------------------------------------------------------------------------------
// Framing of the received byte stream.
//
// Every transmission starts with one 0x00 and then either "R" (a read request for clock 1) or a
// six-character address, which fixes the length of the rest: "clk001" is followed by 19 more
// characters, "clk002".."clk004" by 14. Frames are cut by that length alone, never by looking for
// 0x00 or "e": the checksum byte can be either.
//
// When the stream does not fit (an unknown start, a wrong address, a frame that does not end in
// "e", bytes between frames) the reader hunts: it discards bytes until one 0x00 arrives after a
// quiet gap on the line. The sender paces its bytes a few milliseconds apart and waits far longer
// between transmissions, so a gap of about 100 ms separates transmissions reliably while a 0x00
// inside a frame (a checksum) never follows one. A gap inside a frame abandons the partial frame:
// the sender stopped mid-frame, and the next 0x00 begins a new one.

enum class FrameKind { ReadRequest, Time, Config, Broken };

struct ReceivedFrame {
  FrameKind kind = FrameKind::Broken;
  std::string bytes;    // without the leading 0x00; for Broken what was discarded (capped)
  int clock = 0;        // 1..4, 0 when unknown
  std::string problem;  // empty when the frame is sound
  bool Ok() const { return problem.empty(); }
};

class FrameReader {
 public:
  explicit FrameReader(std::chrono::nanoseconds resyncGap) : resyncGap_(resyncGap) {}

  // One received byte at its arrival time; frames completed or abandoned are appended to `out`.
  void Feed(std::uint8_t byte, SteadyTime at, std::vector<ReceivedFrame>& out);
  // Abandons a partial frame or ends a hunt once the line has been quiet for the resync gap.
  void Expire(SteadyTime now, std::vector<ReceivedFrame>& out);
  // When Expire has something to do, if anything.
  std::optional<SteadyTime> Deadline() const;

 private:
  enum class State { Idle, Start, Address, Body, Hunting };
  void FeedIdle(char c);
  void FeedStart(char c, std::vector<ReceivedFrame>& out);
  void FeedAddress(char c);
  void FeedBody(char c, std::vector<ReceivedFrame>& out);
  void Abandon(std::string problem, std::vector<ReceivedFrame>& out);
  void Hunt(std::string problem);

  std::chrono::nanoseconds resyncGap_;
  State state_ = State::Idle;
  std::string buffer_;
  std::string huntProblem_;
  std::size_t expected_ = 0;
  std::optional<SteadyTime> last_;
};

// Checks a complete Time or Config frame: end letter, checksum, digits and field ranges. Fills
// `problem` and gives false for an unsound frame.
bool CheckFrame(ReceivedFrame& frame);

// ---------------------------------------------------------------------------------------------
// Faults, per clock, from "CLOCK:KIND[=ARG]" (CLOCK 1..4 or "all").

enum class FaultKind {
  Silent,         // never answers
  Late,           // answers after ARG ms instead of the answer delay
  WrongMinute,    // answers with its time one minute behind
  NoTemperature,  // temperature field "6666"
  BelowZero,      // temperature -ARG degrees (default 12): "-12o"
  DegreeLetters,  // letter o at both degree positions: " 2oo"
  NulBytes,       // ARG characters (default 1) from position 7 replaced by 0x00
  BadDigit,       // letter "x" at duration position ARG (11..14, default 11)
  Truncate,       // only the first ARG characters (default: all but the last)
  Noise,          // ARG noise bytes (default 3) sent before the answer
  HangUp,         // the ARGth frame (default 1) goes unanswered and the line hangs up
  Drift,          // after the ARGth frame (default 1) the display durations change by themselves
};

struct Fault {
  int clock = 0;  // 1..4
  FaultKind kind = FaultKind::Silent;
  int arg = -1;  // -1: the kind's default
  friend bool operator==(const Fault&, const Fault&) = default;
};

// Parses one fault text; "all:" gives one fault per clock. Throws std::invalid_argument.
std::vector<Fault> ParseFault(const std::string& text);
// Parses a control file's text: one fault per line, blank lines and "#" comments ignored.
std::vector<Fault> ParseFaultList(const std::string& text);
// The help text listing the fault kinds.
std::string FaultHelp();

// ---------------------------------------------------------------------------------------------

struct Options {
  std::chrono::microseconds byteTime{2083};  // 4800 bit/s, 8N1: 10 bits per byte
  std::chrono::milliseconds answerDelay{20};
  std::chrono::milliseconds resyncGap{100};
  std::array<std::string, kClockCount> temperature{" 21o", " 21o", " 21o", " 21o"};
  std::string pressure = "745";
  std::array<std::int64_t, kClockCount> offsetSeconds{};  // each clock's time against local time
  std::array<int, 4> durations{5, 5, 3, 3};               // clock 1: time, date, temp., pressure
  int brightness = 9;
  std::vector<Fault> faults;
  // A line fault: every byte received is sent back on the line as it arrives, ahead of any
  // answer, as a 2-wire adapter whose receiver hears its own driver does.
  bool echo = false;
  std::string controlFile;  // re-read when it changes; its faults add to `faults`
  std::string logFile;      // JSON lines; empty: no log
};

struct Counts {
  std::uint64_t frames = 0;     // sound frames received
  std::uint64_t badFrames = 0;  // unsound or abandoned frames, runs of stray bytes
  std::uint64_t replies = 0;    // answers sent in full
  std::uint64_t echoed = 0;     // bytes sent back by the echo fault
  std::uint64_t bytesIn = 0;
  std::uint64_t bytesOut = 0;
};

class EventLog;

// Why Run returned.
enum class RunEnd {
  Stopped,   // the stop descriptor became readable
  HangUp,    // a hang-up fault: the caller closes the line (and may bring up a new one)
  LineGone,  // the line failed (device removed, descriptor closed); errno in LastError()
};

class Simulator {
 public:
  Simulator(Options options, platform::WallClock& wallClock);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  // Serves the line until `stopFd` (an eventfd, pipe or signalfd; -1 for none) is readable, a
  // hang-up fault fires or the line fails. The clocks keep their state across calls, so a caller
  // can serve a new line after a hang-up.
  RunEnd Run(int lineFd, int stopFd);

  const Counts& GetCounts() const { return counts_; }
  int LastError() const { return lastError_; }
  std::string SummaryLine() const;
  // Records an event (line up, hang-up, ...) in the log, if there is one.
  void LogEvent(const std::string& name, const std::string& detail);

  // The state of a clock as the replies show it.
  std::array<int, 4> Durations() const { return durations_; }
  int Brightness() const { return brightness_; }

 private:
  struct Pending {
    std::string bytes;
    SteadyTime due;
    int clock = 0;  // 0: an echo, not an answer
  };

  void Handle(const ReceivedFrame& frame, SteadyTime at);
  void Answer(int clock, const ReceivedFrame& frame, SteadyTime at);
  void TakeSettings(std::size_t index, const ReceivedFrame& frame);
  std::vector<Fault> ActiveFaults(int clock) const;
  void ReloadControlFile();
  std::int64_t LocalSeconds() const;
  std::int64_t FrameSeconds(const std::string& frame) const;
  bool SendDue(int lineFd);
  std::optional<RunEnd> DrainLine(int lineFd);
  std::optional<SteadyTime> NextWake() const;

  Options options_;
  platform::WallClock& wallClock_;
  std::unique_ptr<EventLog> log_;
  FrameReader reader_;
  Counts counts_;
  int lastError_ = 0;
  std::array<std::int64_t, kClockCount> offset_{};
  std::array<std::uint64_t, kClockCount> framesPerClock_{};
  std::array<int, 4> durations_{};
  int brightness_ = 0;
  std::deque<Pending> outgoing_;
  std::size_t sentOfFront_ = 0;
  std::optional<SteadyTime> nextByteDue_;
  bool hangUpNow_ = false;
  bool writeBlocked_ = false;
  std::vector<Fault> fileFaults_;
  std::optional<std::pair<std::int64_t, std::int64_t>> controlStamp_;  // mtime ns, size
  std::uint32_t noiseState_ = 0x2545F491u;
};

}  // namespace tavex::clocksim
