#include <fcntl.h>
#include <sys/file.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>

#include "clocksim/sim_line.h"

namespace tavex::clocksim {

int SimLine::OpenPseudoTerminal() {
  Close();
  if (int error = pty_.Create(); error != 0) return error;
  // Never read, only held open (see heldSlave_).
  heldSlave_ = ::open(pty_.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (heldSlave_ < 0) {
    const int error = errno;
    pty_.Close();
    return error;
  }
  fd_ = pty_.MasterFd();
  portPath_ = pty_.SlavePath();
  return 0;
}

int SimLine::OpenDevice(const std::string& path) {
  Close();
  const int fd = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return errno;
  int error = 0;
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    error = errno == EWOULDBLOCK ? EBUSY : errno;
  } else {
    ::ioctl(fd, TIOCEXCL);  // optional: some devices refuse it, which is no failure
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
  }
  if (error != 0) {
    ::ioctl(fd, TIOCNXCL);
    ::close(fd);
    return error;
  }
  ::tcflush(fd, TCIOFLUSH);
  fd_ = fd;
  ownsFd_ = true;
  portPath_ = path;
  return 0;
}

void SimLine::Close() {
  if (heldSlave_ >= 0) {
    ::close(heldSlave_);
    heldSlave_ = -1;
  }
  if (ownsFd_ && fd_ >= 0) {
    ::ioctl(fd_, TIOCNXCL);
    ::close(fd_);
  }
  pty_.Close();
  fd_ = -1;
  ownsFd_ = false;
  portPath_.clear();
}

}  // namespace tavex::clocksim
