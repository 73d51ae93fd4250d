// SPDX-License-Identifier: GPL-3.0-or-later
// A terminal device opened for one user only, in raw mode: the open shared by the port's serial
// device and the simulator's end of a real cable.
#pragma once

#include <string>
#include <utility>

#include "platform/unique_fd.h"

namespace tavex::platform {

class ExclusiveTty {
 public:
  ExclusiveTty() = default;
  ~ExclusiveTty() { Close(); }
  ExclusiveTty(const ExclusiveTty&) = delete;
  ExclusiveTty& operator=(const ExclusiveTty&) = delete;
  ExclusiveTty(ExclusiveTty&& other) noexcept
      : fd_(std::move(other.fd_)), exclusive_(std::exchange(other.exclusive_, false)) {}

  // Opens `path` for reading and writing, non-blocking and close-on-exec, exclusively (flock and
  // TIOCEXCL; EBUSY when another holder has either), in raw mode (VMIN 1, VTIME 0; speed and
  // framing as they were). Returns 0 or an errno value; on failure nothing stays open.
  int Open(const std::string& path);
  // Gives up the exclusive mode, then closes. Nothing open: nothing happens.
  void Close();

  bool IsOpen() const { return fd_.IsOpen(); }
  int Fd() const { return fd_.Get(); }
  // Whether TIOCEXCL was set (some devices refuse it, which is no failure).
  bool Exclusive() const { return exclusive_; }

 private:
  UniqueFd fd_;
  bool exclusive_ = false;
};

}  // namespace tavex::platform
