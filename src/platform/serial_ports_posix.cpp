// SPDX-License-Identifier: GPL-3.0-or-later
#include <cerrno>
#include <filesystem>
#include <fstream>

#include "platform/serial_ports.h"

namespace tavex::platform {

std::string DevicePath(const std::string& port) {
  if (!port.empty() && port.front() == '/') return port;
  return "/dev/" + port;
}

Errno ScanSerialDevices(const std::string& classDirectory, bool& present,
                        std::vector<std::string>& names) {
  namespace fs = std::filesystem;
  std::error_code ec;
  fs::directory_iterator it(classDirectory, ec);
  if (ec) {
    present = false;
    return ec.value() == ENOENT || ec.value() == ENOTDIR ? kNoError : Errno{ec.value()};
  }
  present = true;
  for (; it != fs::directory_iterator(); it.increment(ec)) {
    const fs::path entry = it->path();
    std::error_code linkError;
    if (!fs::exists(fs::symlink_status(entry / "device", linkError))) continue;
    const std::string name = entry.filename().string();
    if (name.starts_with("ttyS")) {
      std::ifstream typeFile(entry / "type");
      std::string type;
      if (typeFile >> type && type == "0") continue;
    }
    names.push_back(name);
  }
  return ec ? Errno{ec.value()} : kNoError;
}

}  // namespace tavex::platform
