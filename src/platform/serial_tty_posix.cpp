// SPDX-License-Identifier: GPL-3.0-or-later
// The kernel's termios2 (asm/termbits.h) instead of glibc's <termios.h>: only termios2 carries
// an arbitrary rate (BOTHER with c_ispeed/c_ospeed). The two headers define the same names, so
// nothing in this file may include <termios.h>.
#include <asm/termbits.h>
#include <linux/serial.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstdint>

#include "platform/serial_tty.h"

namespace tavex::platform::tty {
namespace {

int Ioctl(int fd, unsigned long request, void* argument) {
  int result;
  do {
    result = ::ioctl(fd, request, argument);
  } while (result < 0 && errno == EINTR);
  return result < 0 ? errno : 0;
}

// The rates with a Bnnn constant; every other rate goes through BOTHER. Standard constants are
// preferred because some older drivers ignore BOTHER.
struct StandardRate {
  std::uint32_t rate;
  tcflag_t code;
};
constexpr StandardRate kStandardRates[] = {
    {50, B50},           {75, B75},           {110, B110},         {134, B134},
    {150, B150},         {200, B200},         {300, B300},         {600, B600},
    {1200, B1200},       {1800, B1800},       {2400, B2400},       {4800, B4800},
    {9600, B9600},       {19200, B19200},     {38400, B38400},     {57600, B57600},
    {115200, B115200},   {230400, B230400},   {460800, B460800},   {500000, B500000},
    {576000, B576000},   {921600, B921600},   {1000000, B1000000}, {1152000, B1152000},
    {1500000, B1500000}, {2000000, B2000000}, {2500000, B2500000}, {3000000, B3000000},
    {3500000, B3500000}, {4000000, B4000000},
};

void SetRate(termios2& tio, std::uint32_t rate) {
  tcflag_t code = BOTHER;
  for (const StandardRate& entry : kStandardRates) {
    if (entry.rate == rate) code = entry.code;
  }
  // Input speed bits zero: the input rate follows the output rate.
  tio.c_cflag &= ~static_cast<tcflag_t>(CBAUD | (CBAUD << IBSHIFT));
  tio.c_cflag |= code;
  tio.c_ispeed = rate;
  tio.c_ospeed = rate;
}

void SetRaw(termios2& tio) {
  tio.c_iflag &=
      ~static_cast<tcflag_t>(IGNBRK | BRKINT | IGNPAR | PARMRK | INPCK | ISTRIP | INLCR | IGNCR |
                             ICRNL | IUCLC | IXON | IXANY | IXOFF | IMAXBEL | IUTF8);
  tio.c_oflag &= ~static_cast<tcflag_t>(OPOST);
  tio.c_lflag &= ~static_cast<tcflag_t>(ISIG | ICANON | ECHO | ECHOE | ECHOK | ECHONL | ECHOCTL |
                                        ECHOPRT | ECHOKE | IEXTEN | NOFLSH | TOSTOP);
  tio.c_cflag |= CLOCAL | CREAD;
  tio.c_cc[VMIN] = 1;
  tio.c_cc[VTIME] = 0;
}

// Sets or clears modem-control lines; a device without them is not an error.
int SetModemLine(int fd, int line, bool on) {
  int bits = line;
  int error = Ioctl(fd, on ? TIOCMBIS : TIOCMBIC, &bits);
  return IsUnsupported(error) ? 0 : error;
}

}  // namespace

int MakeRaw(int fd) {
  termios2 tio{};
  if (int error = Ioctl(fd, TCGETS2, &tio)) return error;
  SetRaw(tio);
  return Ioctl(fd, TCSETS2, &tio);
}

bool LineSettingsValid(const LineSettings& s) {
  return s.baudRate != 0 && s.byteSize >= 5 && s.byteSize <= 8 && s.parity <= 4 &&
         s.stopBits <= 2 && s.dtrControl <= 2 && s.rtsControl <= 3;
}

int ConfigureLine(int fd, const LineSettings& s, bool driverDrivesRts) {
  if (!LineSettingsValid(s)) return EINVAL;
  termios2 tio{};
  if (int error = Ioctl(fd, TCGETS2, &tio)) return error;
  SetRaw(tio);
  SetRate(tio, s.baudRate);

  constexpr tcflag_t kSizes[] = {CS5, CS6, CS7, CS8};
  tio.c_cflag &= ~static_cast<tcflag_t>(CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS);
  tio.c_cflag |= kSizes[s.byteSize - 5];
  switch (s.parity) {
    case 1:
      tio.c_cflag |= PARENB | PARODD;
      break;
    case 2:
      tio.c_cflag |= PARENB;
      break;
    case 3:
      tio.c_cflag |= PARENB | PARODD | CMSPAR;
      break;  // mark: parity bit always 1
    case 4:
      tio.c_cflag |= PARENB | CMSPAR;
      break;  // space: parity bit always 0
    default:
      break;
  }
  // A UART has one "long stop" switch: 2 stop bits, or 1.5 when the word has 5 data bits. So
  // 1.5 stop bits become 2 with 6 to 8 data bits, and 2 become 1.5 with 5.
  if (s.stopBits != 0) tio.c_cflag |= CSTOPB;
  // Linux has one switch for both directions of RTS/CTS handshaking.
  if (s.outxCtsFlow || s.rtsControl == 2) tio.c_cflag |= CRTSCTS;

  // Parity errors are marked in the byte stream (0xFF 0x00 byte), and a 0xFF arrives doubled;
  // the receive queue above undoes the marking.
  if (s.parityCheck) tio.c_iflag |= INPCK | PARMRK;
  if (s.outX) tio.c_iflag |= IXON;
  if (s.inX) tio.c_iflag |= IXOFF;
  tio.c_cc[VSTART] = s.xonChar;
  tio.c_cc[VSTOP] = s.xoffChar;

  if (int error = Ioctl(fd, TCSETS2, &tio)) return error;

  // DTR handshake does not exist here: the line is held on, which lets a peer that waits for
  // DTR talk to us. In the driver's RS-485 mode RTS switches the line driver and is the driver's
  // own; otherwise RTS toggle leaves RTS at its idle level (off).
  if (int error = SetModemLine(fd, TIOCM_DTR, s.dtrControl != 0)) return error;
  if (driverDrivesRts) return 0;
  return SetModemLine(fd, TIOCM_RTS, s.rtsControl == 1 || s.rtsControl == 2);
}

int SetExclusive(int fd, bool exclusive) {
  return Ioctl(fd, exclusive ? TIOCEXCL : TIOCNXCL, nullptr);
}

int IsExclusive(int fd, bool& exclusive) {
  int flag = 0;
  int error = Ioctl(fd, TIOCGEXCL, &flag);
  exclusive = error == 0 && flag != 0;
  return error;
}

int Flush(int fd, bool input, bool output) {
  if (!input && !output) return 0;
  int which = input && output ? TCIOFLUSH : input ? TCIFLUSH : TCOFLUSH;
  int result;
  do {
    result = ::ioctl(fd, TCFLSH, which);
  } while (result < 0 && errno == EINTR);
  return result < 0 ? errno : 0;
}

int InputQueue(int fd, std::uint32_t& bytes) {
  int count = 0;
  int error = Ioctl(fd, FIONREAD, &count);
  bytes = error == 0 && count > 0 ? static_cast<std::uint32_t>(count) : 0;
  return error;
}

int OutputQueue(int fd, std::uint32_t& bytes) {
  int count = 0;
  int error = Ioctl(fd, TIOCOUTQ, &count);
  bytes = error == 0 && count > 0 ? static_cast<std::uint32_t>(count) : 0;
  return error;
}

int ModemLines(int fd, std::uint32_t& status) {
  status = 0;
  int bits = 0;
  if (int error = Ioctl(fd, TIOCMGET, &bits)) return error;
  if (bits & TIOCM_CTS) status |= kMsCtsOn;
  if (bits & TIOCM_DSR) status |= kMsDsrOn;
  if (bits & TIOCM_RNG) status |= kMsRingOn;
  if (bits & TIOCM_CAR) status |= kMsRlsdOn;
  return 0;
}

int ReadLineCounters(int fd, LineCounters& counters) {
  serial_icounter_struct icount{};
  if (int error = Ioctl(fd, TIOCGICOUNT, &icount)) return error;
  counters.frame = static_cast<std::uint32_t>(icount.frame);
  counters.overrun = static_cast<std::uint32_t>(icount.overrun + icount.buf_overrun);
  counters.parity = static_cast<std::uint32_t>(icount.parity);
  counters.brk = static_cast<std::uint32_t>(icount.brk);
  return 0;
}

}  // namespace tavex::platform::tty
