// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "platform/pseudo_terminal.h"
#include "platform/serial_tty.h"

namespace tavex::platform {

int PseudoTerminal::Create() {
  Close();
  UniqueFd fd(posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC));
  if (!fd) return errno;
  char name[128];
  if (grantpt(fd.Get()) != 0 || unlockpt(fd.Get()) != 0 ||
      ptsname_r(fd.Get(), name, sizeof name) != 0) {
    return errno;
  }
  // Raw on the master, so bytes pass unchanged in both directions. The line discipline of the
  // slave is set by whoever opens it; until then make it raw too by opening it once here.
  // The raw mode of the serial device itself; a failure leaves the terminal as it was.
  tty::MakeRaw(fd.Get());
  if (const UniqueFd slave(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC)); slave) {
    tty::MakeRaw(slave.Get());
  }
  int flags = fcntl(fd.Get(), F_GETFL);
  if (flags >= 0) fcntl(fd.Get(), F_SETFL, flags | O_NONBLOCK);
  master_ = std::move(fd);
  slavePath_ = name;
  return 0;
}

void PseudoTerminal::Close() {
  master_.Reset();
}

}  // namespace tavex::platform
