// SPDX-License-Identifier: GPL-3.0-or-later
// The one owner of an operating-system descriptor: move-only, closed when the owner goes away.
// Every descriptor the program and the simulator open is held in one of these.
#pragma once

#include <utility>

namespace tavex::platform {

class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int fd) : fd_(fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(const UniqueFd&) = delete;
  UniqueFd& operator=(const UniqueFd&) = delete;
  UniqueFd(UniqueFd&& other) noexcept : fd_(other.Release()) {}
  UniqueFd& operator=(UniqueFd&& other) noexcept {
    if (this != &other) Reset(other.Release());
    return *this;
  }

  int Get() const { return fd_; }
  bool IsOpen() const { return fd_ >= 0; }
  explicit operator bool() const { return IsOpen(); }

  // Gives up ownership without closing.
  int Release() { return std::exchange(fd_, -1); }
  // Closes the descriptor held (if any) and takes `fd`.
  void Reset(int fd = -1) {
    if (fd_ >= 0 && fd_ != fd) CloseDescriptor(fd_);
    fd_ = fd;
  }
  // Closes now and reports the result: 0, or the errno value of a failed close (a write-back
  // that did not reach the disk shows up here). Nothing held: 0.
  int Close() {
    const int fd = Release();
    return fd >= 0 ? CloseDescriptor(fd) : 0;
  }

 private:
  // The only place descriptors are closed. Returns 0 or an errno value.
  static int CloseDescriptor(int fd);

  int fd_ = -1;
};

}  // namespace tavex::platform
