// SPDX-License-Identifier: GPL-3.0-or-later
#include <poll.h>
#include <signal.h>
#include <sys/signalfd.h>
#include <unistd.h>

#include <cerrno>

#include "clocksim/stop_signals.h"

namespace tavex::clocksim {

StopSignals::StopSignals() {
  sigset_t signals;
  sigemptyset(&signals);
  sigaddset(&signals, SIGINT);
  sigaddset(&signals, SIGTERM);
  sigprocmask(SIG_BLOCK, &signals, nullptr);
  fd_.Reset(::signalfd(-1, &signals, SFD_CLOEXEC));
  if (!fd_) {
    error_ = errno;
    return;
  }
  ::signal(SIGPIPE, SIG_IGN);
}

bool QuietWait(int signalFd, int ms) {
  pollfd pfd{signalFd, POLLIN, 0};
  for (;;) {
    const int ready = ::poll(&pfd, 1, ms);
    if (ready < 0 && errno == EINTR) continue;
    return ready == 0;
  }
}

int ProcessId() {
  return static_cast<int>(::getpid());
}

}  // namespace tavex::clocksim
