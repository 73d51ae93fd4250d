// SPDX-License-Identifier: GPL-3.0-or-later
// The port setup dialog library: registers the dialog as the port object's setup dialog, so that
// the port (which knows no toolkit) can show it.
#pragma once

namespace tavex {

// Makes TCustomComPort::ShowSetupDialog run the setup dialog. Call once at start, after the
// QApplication exists.
void RegisterComSetupDialog();

}  // namespace tavex
