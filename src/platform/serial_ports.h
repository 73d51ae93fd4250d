// SPDX-License-Identifier: GPL-3.0-or-later
// Where serial devices are on this system: the device path of a port name, and the serial
// devices the kernel lists in its tty class directory.
#pragma once

#include <string>
#include <vector>

#include "platform/system_code.h"

namespace tavex::platform {

// The kernel's tty class directory.
inline constexpr char kTtyClassDirectory[] = "/sys/class/tty";

// Maps a port name to a device path: a name without "/" is a device under /dev ("ttyUSB0",
// "COM6" where a udev rule made that link); a name starting with "/" is the path itself.
std::string DevicePath(const std::string& port);

// Appends the kernel's serial devices in `classDirectory` (entries with a "device" link; a ttyS
// entry whose "type" reads 0 is a placeholder the driver registers whether or not a UART is
// there) to `names`, in directory order. `present` tells whether the directory is there; a
// missing one is no failure. Returns a failure to read it.
Errno ScanSerialDevices(const std::string& classDirectory, bool& present,
                        std::vector<std::string>& names);

}  // namespace tavex::platform
