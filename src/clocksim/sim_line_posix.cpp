// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <termios.h>

#include <cerrno>

#include "clocksim/sim_line.h"
#include "platform/serial_tty.h"

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
  // The port's own terminal setup, with the clocks' line settings: 4800 bit/s, 8 data bits, no
  // parity, one stop bit, no flow control, DTR and RTS on as an open leaves them.
  platform::LineSettings line;
  line.baudRate = 4800;
  line.dtrControl = 1;
  line.rtsControl = 1;
  if (int error = platform::tty::ConfigureLine(fd, line, false); error != 0) {
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
