// SPDX-License-Identifier: GPL-3.0-or-later
// Where the message catalogues may live; the operating-system part of the catalogue support.
#pragma once

#include <string>

namespace tavex::platform {

// The folder of the running executable, or "" when it cannot be found.
std::string ExecutableDirectory();

}  // namespace tavex::platform
