// SPDX-License-Identifier: GPL-3.0-or-later
// A pseudo-terminal pair: the far end (master) is what a clock simulator or a test holds; the
// device path of the near end (slave) is what the port opens, like a real serial device.
#pragma once

#include <string>

#include "platform/unique_fd.h"

namespace tavex::platform {

class PseudoTerminal {
 public:
  PseudoTerminal() = default;

  // Creates the pair, both ends raw, the master non-blocking and close-on-exec. The slave is
  // not kept open, so the port can open it exclusively. Returns 0 or an errno value.
  int Create();
  // Closes the master: the slave side sees a hang-up.
  void Close();

  int MasterFd() const { return master_.Get(); }
  const std::string& SlavePath() const { return slavePath_; }
  bool IsOpen() const { return master_.IsOpen(); }

 private:
  UniqueFd master_;
  std::string slavePath_;
};

}  // namespace tavex::platform
