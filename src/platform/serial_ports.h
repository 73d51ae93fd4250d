// SPDX-License-Identifier: GPL-3.0-or-later
// Where serial devices are on this system: the device path of a port name, the serial devices
// the kernel lists in its tty class directory, and the stable names udev gives them.
#pragma once

#include <string>
#include <vector>

#include "platform/system_code.h"

namespace tavex::platform {

// The kernel's tty class directory.
inline constexpr char kTtyClassDirectory[] = "/sys/class/tty";
// udev's stable links to serial devices, in "by-id" and "by-path" below it.
inline constexpr char kSerialLinksDirectory[] = "/dev/serial";

// The two directories under `root`, the root of the device tree: empty for this system; a test
// builds a fake tree in a temporary folder.
std::string TtyClassDirectory(const std::string& root);
std::string SerialLinksDirectory(const std::string& root);

// Maps a port name to a device path: a name without "/" is a device under /dev ("ttyUSB0",
// "COM6" where a udev rule made that link); a name starting with "/" is the path itself.
std::string DevicePath(const std::string& port);

// Appends the kernel's serial devices in `classDirectory` (entries with a "device" link; a ttyS
// entry whose "type" reads 0 is a placeholder the driver registers whether or not a UART is
// there) to `names`, in directory order. `present` tells whether the directory is there; a
// missing one is no failure. Returns a failure to read it.
Errno ScanSerialDevices(const std::string& classDirectory, bool& present,
                        std::vector<std::string>& names);

// A stable name of a serial device and the device it stands for today.
struct StableSerialName {
  std::string path;    // the link, absolute: /dev/serial/by-id/usb-FTDI_...-if00-port0
  std::string device;  // its device relative to the links' /dev ("ttyUSB0"), else absolute
  friend bool operator==(const StableSerialName&, const StableSerialName&) = default;
};

// Appends the links of `linksDirectory`'s by-id folder, and those of its by-path folder whose
// device has no by-id link, to `names`, each folder in name order. A link whose device is gone
// is left out. A missing folder is no failure (no udev, or no device); returns a failure to
// read one that is there.
Errno ScanStableSerialNames(const std::string& linksDirectory,
                            std::vector<StableSerialName>& names);

// The device a stable name stands for today, as ScanStableSerialNames gives it; empty when `path`
// is not a link in a by-id or by-path folder of serial links, or its device is gone.
std::string StableNameDevice(const std::string& path);

}  // namespace tavex::platform
