// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <termios.h>

#include <cerrno>
#include <cstdlib>
#include <utility>

#include "platform/pseudo_terminal.h"

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
  termios tio{};
  if (tcgetattr(fd.Get(), &tio) == 0) {
    cfmakeraw(&tio);
    tcsetattr(fd.Get(), TCSANOW, &tio);
  }
  if (const UniqueFd slave(::open(name, O_RDWR | O_NOCTTY | O_CLOEXEC)); slave) {
    if (tcgetattr(slave.Get(), &tio) == 0) {
      cfmakeraw(&tio);
      tcsetattr(slave.Get(), TCSANOW, &tio);
    }
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
