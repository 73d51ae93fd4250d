// SPDX-License-Identifier: GPL-3.0-or-later
#include <unistd.h>

#include <cerrno>

#include "platform/unique_fd.h"

namespace tavex::platform {

int UniqueFd::CloseDescriptor(int fd) {
  // Not retried on EINTR: on Linux the descriptor is gone even then.
  return ::close(fd) == 0 ? 0 : errno;
}

}  // namespace tavex::platform
