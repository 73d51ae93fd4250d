// SPDX-License-Identifier: GPL-3.0-or-later
// Terminal ioctls of the serial driver stand-in, kept apart because the kernel's termios2 header
// (needed for arbitrary rates) and glibc's <termios.h> cannot be included in the same file.
// Every function returns 0 or an errno value.
#pragma once

#include <cerrno>
#include <cstdint>

#include "platform/serial_device.h"

namespace tavex::platform::tty {

// Raw mode (no ICANON, ECHO, ISIG, OPOST; CLOCAL | CREAD; VMIN 1, VTIME 0), speed and framing
// left as they are. Fails with ENOTTY when `fd` is not a terminal.
int MakeRaw(int fd);

// False for what no line can do: rate 0, data bits outside 5..8, unknown parity, stop bits or
// DTR/RTS control.
bool LineSettingsValid(const LineSettings& settings);

// Rate, framing, parity checking, flow control and the DTR/RTS levels. Rejects settings that are
// not LineSettingsValid with EINVAL and leaves the device unchanged then. With `driverDrivesRts`
// (the driver's RS-485 mode is on) RTS is left to the driver. Modem-line ioctls that the device
// lacks (ENOTTY, EINVAL) are skipped. The RS-485 mode itself is serial_rs485.h's.
int ConfigureLine(int fd, const LineSettings& settings, bool driverDrivesRts);

// Exclusive mode of the terminal (TIOCEXCL / TIOCNXCL, TIOCGEXCL).
int SetExclusive(int fd, bool exclusive);
int IsExclusive(int fd, bool& exclusive);

// Discards the kernel's queues.
int Flush(int fd, bool input, bool output);

int InputQueue(int fd, std::uint32_t& bytes);   // FIONREAD
int OutputQueue(int fd, std::uint32_t& bytes);  // TIOCOUTQ

// Modem lines as kMsCtsOn | kMsDsrOn | kMsRingOn | kMsRlsdOn. Returns ENOTTY or EINVAL on devices
// without modem lines (pseudo-terminals); callers treat those as "all off".
int ModemLines(int fd, std::uint32_t& status);

// The kernel's running line-error counters (TIOCGICOUNT).
struct LineCounters {
  std::uint32_t frame = 0;
  std::uint32_t overrun = 0;
  std::uint32_t parity = 0;
  std::uint32_t brk = 0;
};
int ReadLineCounters(int fd, LineCounters& counters);

// True for the answers of a device that simply lacks an optional ioctl.
inline bool IsUnsupported(int error) {
  return error == ENOTTY || error == EINVAL;
}

}  // namespace tavex::platform::tty
