// SPDX-License-Identifier: GPL-3.0-or-later
// Makes the simulator's line findable while it is up: a symbolic link to its path (such as
// /tmp/COM6) and a value under HKEY_LOCAL_MACHINE\HARDWARE\DEVICEMAP\SERIALCOMM in the registry
// hive, where the program's port list looks for virtual ports. Both go away with Withdraw or
// the destructor.
#pragma once

#include <string>

namespace tavex::clocksim {

inline const char* const kSerialCommKey = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

class PortPresence {
 public:
  // linkPath empty: no link; registryDir empty: no registration.
  PortPresence(std::string linkPath, std::string registryDir, std::string valueName)
      : linkPath_(std::move(linkPath)),
        registryDir_(std::move(registryDir)),
        valueName_(std::move(valueName)) {}
  ~PortPresence() { Withdraw(); }
  PortPresence(const PortPresence&) = delete;
  PortPresence& operator=(const PortPresence&) = delete;

  // Publishes `portPath`: the link points to it, and the registry names the link when there is
  // one, else the path itself. Gives an empty text or what went wrong.
  std::string Publish(const std::string& portPath);
  // Removes the link (only if it is still ours) and the registry value.
  void Withdraw();

  // The port name the program should use.
  std::string PortName(const std::string& portPath) const {
    return linkPath_.empty() ? portPath : linkPath_;
  }

 private:
  std::string linkPath_;
  std::string registryDir_;
  std::string valueName_;
  std::string linkedTo_;
  bool registered_ = false;
};

}  // namespace tavex::clocksim
