// SPDX-License-Identifier: GPL-3.0-or-later
// The simulator's end of the line: the master of a pseudo-terminal it creates, or a serial
// device it is given (raw 4800 8N1), so it can sit at the far end of a real cable.
#pragma once

#include <string>

#include "platform/exclusive_tty.h"
#include "platform/pseudo_terminal.h"
#include "platform/unique_fd.h"

namespace tavex::clocksim {

class SimLine {
 public:
  SimLine() = default;
  ~SimLine() { Close(); }
  SimLine(const SimLine&) = delete;
  SimLine& operator=(const SimLine&) = delete;

  // A new pseudo-terminal. Returns 0 or an errno value.
  int OpenPseudoTerminal();
  // A serial device, exclusive, raw at 4800 bit/s, 8 data bits, no parity, one stop bit.
  int OpenDevice(const std::string& path);
  // Closes the line; the far end of a pseudo-terminal sees a hang-up.
  void Close();

  bool IsOpen() const { return device_.IsOpen() || pty_.IsOpen(); }
  int Fd() const { return device_.IsOpen() ? device_.Fd() : pty_.MasterFd(); }
  // The path the operator program opens: the slave of the pseudo-terminal, or the device.
  const std::string& PortPath() const { return portPath_; }

 private:
  platform::PseudoTerminal pty_;
  // The simulator keeps the slave open too. Without it the master reads EIO and polls as hung
  // up whenever the program has closed its port, which it does between exchanges.
  platform::UniqueFd heldSlave_;
  platform::ExclusiveTty device_;
  std::string portPath_;
};

}  // namespace tavex::clocksim
