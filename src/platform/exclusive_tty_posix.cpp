// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <sys/file.h>

#include <cerrno>

#include "platform/exclusive_tty.h"
#include "platform/serial_tty.h"

namespace tavex::platform {

int ExclusiveTty::Open(const std::string& path) {
  Close();
  UniqueFd fd;
  do {
    fd.Reset(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC));
  } while (!fd && errno == EINTR);
  if (!fd) return errno;
  // Exclusive before anything else touches the device. flock stops other programs that lock
  // (and root, whom TIOCEXCL does not stop); TIOCEXCL stops every other opener but root.
  if (::flock(fd.Get(), LOCK_EX | LOCK_NB) != 0 && errno == EWOULDBLOCK) return EBUSY;
  // Root passes TIOCEXCL: a holder that set it without flock is still respected.
  bool heldElsewhere = false;
  if (tty::IsExclusive(fd.Get(), heldElsewhere) == 0 && heldElsewhere) return EBUSY;
  fd_ = std::move(fd);
  exclusive_ = tty::SetExclusive(fd_.Get(), true) == 0;
  if (int error = tty::MakeRaw(fd_.Get())) {
    Close();
    return error;
  }
  return 0;
}

void ExclusiveTty::Close() {
  if (!fd_) return;
  // On a pseudo-terminal the exclusive flag outlives our descriptor and would lock out the
  // next opener, ourselves included.
  if (exclusive_) tty::SetExclusive(fd_.Get(), false);
  exclusive_ = false;
  fd_.Reset();
}

}  // namespace tavex::platform
