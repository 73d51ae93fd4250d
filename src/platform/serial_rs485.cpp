// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/serial_rs485.h"

#include "platform/serial_tty.h"

namespace tavex::platform {

int Rs485Mode::Apply(int fd, bool rtsToggle, bool& driverDrivesRts) {
  driverDrivesRts = false;
  // Toggle was asked for earlier on this open and is no longer: the system's mode comes back.
  if (!rtsToggle && original_) {
    if (int error = Restore(fd)) return error;
  }
  Rs485Config current;
  const int error = ioctls_->Get(fd, current);
  if (tty::IsUnsupported(error)) return 0;
  if (error != 0) return error;
  const bool enabled = (current.flags & kRs485Enabled) != 0;
  driverDrivesRts = enabled;
  if (!rtsToggle || enabled) return 0;

  Rs485Config wanted = current;
  wanted.flags |= kRs485Enabled | kRs485RtsOnSend;
  wanted.flags &= ~kRs485RtsAfterSend;
  if (int setError = ioctls_->Set(fd, wanted)) {
    // A driver that reports the mode but refuses it leaves RTS to be set by hand.
    return tty::IsUnsupported(setError) ? 0 : setError;
  }
  if (!original_) original_ = current;
  driverDrivesRts = true;
  return 0;
}

int Rs485Mode::Restore(int fd) {
  if (!original_) return 0;
  const Rs485Config original = *original_;
  original_.reset();
  return ioctls_->Set(fd, original);
}

}  // namespace tavex::platform
