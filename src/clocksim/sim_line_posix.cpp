// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <termios.h>

#include <cerrno>

#include "clocksim/sim_line.h"

namespace tavex::clocksim {

int SimLine::OpenPseudoTerminal() {
  Close();
  if (int error = pty_.Create(); error != 0) return error;
  // Never read, only held open (see heldSlave_).
  heldSlave_.Reset(::open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  if (!heldSlave_) {
    const int error = errno;
    pty_.Close();
    return error;
  }
  portPath_ = pty_.SlavePath();
  return 0;
}

int SimLine::OpenDevice(const std::string& path) {
  Close();
  if (int error = device_.Open(path); error != 0) return error;
  const int fd = device_.Fd();
  int error = 0;
  termios tio{};
  if (::tcgetattr(fd, &tio) != 0) {
    error = errno;
  } else {
    ::cfmakeraw(&tio);
    tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | CSTOPB | CRTSCTS);
    tio.c_cflag |= CS8 | CLOCAL | CREAD;
    tio.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
    tio.c_cc[VMIN] = 1;
    tio.c_cc[VTIME] = 0;
    if (::cfsetispeed(&tio, B4800) != 0 || ::cfsetospeed(&tio, B4800) != 0 ||
        ::tcsetattr(fd, TCSANOW, &tio) != 0) {
      error = errno;
    }
  }
  if (error != 0) {
    device_.Close();
    return error;
  }
  ::tcflush(fd, TCIOFLUSH);
  portPath_ = path;
  return 0;
}

void SimLine::Close() {
  heldSlave_.Reset();
  device_.Close();
  pty_.Close();
  portPath_.clear();
}

}  // namespace tavex::clocksim
