// SPDX-License-Identifier: GPL-3.0-or-later
// tavex-clocksim as a child process, for the tests and the benchmarks that talk to it over its
// line: standard output on a pipe (the line's path is its first line), standard error on a pipe
// or shared with the caller.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace tavex::test {

class ClockSimProcess {
 public:
  enum class ErrorOutput { Shared, Captured };

  // Starts `program` with `args`. Started() tells whether that worked.
  ClockSimProcess(std::string program, std::vector<std::string> args,
                  ErrorOutput errors = ErrorOutput::Shared);
  // Ends the simulator as Ctrl-C would (SIGTERM), so that it withdraws its link and
  // registration; kills it if it has not ended after three seconds.
  ~ClockSimProcess();
  ClockSimProcess(const ClockSimProcess&) = delete;
  ClockSimProcess& operator=(const ClockSimProcess&) = delete;

  bool Started() const { return pid_ > 0; }
  pid_t Pid() const { return pid_; }

  // The next line of standard output, or "" when none comes within `limit`.
  std::string ReadLine(std::chrono::milliseconds limit = std::chrono::milliseconds(3000));
  // All of standard output up to its end.
  std::string ReadAll(std::chrono::milliseconds limit = std::chrono::milliseconds(3000));
  // What the simulator wrote to standard error so far (with ErrorOutput::Captured).
  std::string Errors();

  // Sends `signal` and waits for the exit status; -1 when it does not end within `limit`.
  int Terminate(int signal, std::chrono::milliseconds limit = std::chrono::milliseconds(3000));
  // The exit status (128 + the signal's number after a signal), or -1 when the simulator does not
  // end within `limit`.
  int Wait(std::chrono::milliseconds limit = std::chrono::milliseconds(3000));

 private:
  // Adds what standard output has to the buffer, waiting until `deadline` at most; false at its
  // end or at the deadline.
  bool ReadMore(std::chrono::steady_clock::time_point deadline);

  pid_t pid_ = -1;
  int out_ = -1;
  int err_ = -1;
  std::string outBuffer_;
};

}  // namespace tavex::test
