// SPDX-License-Identifier: GPL-3.0-or-later
#include "serial/setup/ComSetup.h"

#include "serial/ComPort.h"
#include "serial/setup/ComSetupFrm.h"

namespace tavex {

void RegisterComSetupDialog() {
  TCustomComPort::RegisterSetupDialog(RunComSetupDialog);
}

}  // namespace tavex
