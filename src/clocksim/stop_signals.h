// SPDX-License-Identifier: GPL-3.0-or-later
// SIGINT and SIGTERM as readable data on a descriptor, so that the simulator's poll loop sees
// them between writes instead of being interrupted in the middle of one.
#pragma once

#include "platform/unique_fd.h"

namespace tavex::clocksim {

class StopSignals {
 public:
  // Blocks SIGINT and SIGTERM for the process and opens the descriptor they arrive on; ignores
  // SIGPIPE, so a vanished reader is an error return rather than the end of the process.
  StopSignals();

  // 0, or the errno value of a failed signalfd (then Fd() is -1).
  int Error() const { return error_; }
  // Readable once a stop signal has arrived.
  int Fd() const { return fd_.Get(); }

 private:
  platform::UniqueFd fd_;
  int error_ = 0;
};

// Waits `ms` milliseconds unless a signal arrives on `signalFd` first; gives false on a signal.
bool QuietWait(int signalFd, int ms);

// The simulator's process id, which makes its temporary names and registry value unique.
int ProcessId();

}  // namespace tavex::clocksim
