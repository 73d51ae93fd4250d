// SPDX-License-Identifier: GPL-3.0-or-later
#include "clocksim/port_presence.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <system_error>

#include "platform/registry.h"

namespace tavex::clocksim {
namespace {

std::string ErrorText(int error) {
  return std::error_code(error, std::generic_category()).message();
}

}  // namespace

std::string PortPresence::Publish(const std::string& portPath) {
  if (!linkPath_.empty()) {
    // Only a symbolic link may be replaced: a mistyped --link must never swap a file or a
    // device node for a link.
    std::error_code ignored;
    const auto status = std::filesystem::symlink_status(linkPath_, ignored);
    if (std::filesystem::exists(status) && !std::filesystem::is_symlink(status)) {
      return "cannot create link " + linkPath_ + ": it exists and is not a symbolic link";
    }
    // Replace a link left by an earlier run (or by our previous line) in one step: make the new
    // link under a temporary name and rename it over the old one.
    const std::string temporary = linkPath_ + ".tmp" + std::to_string(::getpid());
    ::unlink(temporary.c_str());
    if (::symlink(portPath.c_str(), temporary.c_str()) != 0) {
      return "cannot create link " + linkPath_ + ": " + ErrorText(errno);
    }
    if (::rename(temporary.c_str(), linkPath_.c_str()) != 0) {
      const int error = errno;
      ::unlink(temporary.c_str());
      return "cannot create link " + linkPath_ + ": " + ErrorText(error);
    }
    linkedTo_ = portPath;
  }
  if (!registryDir_.empty()) {
    // The hive directory is chosen through the environment, for us and for the registry code.
    ::setenv("TAVEX_REGISTRY_DIR", registryDir_.c_str(), 1);
    std::error_code ignored;
    std::filesystem::create_directories(registryDir_, ignored);
    platform::RegistryKey key;
    platform::RegStatus status =
        platform::RegistryKey::Create(platform::RegRoot::LocalMachine, kSerialCommKey, key);
    if (status.Ok()) status = key.SetString(valueName_, PortName(portPath));
    if (!status.Ok()) {
      return "cannot register the port in " + registryDir_ + ": " +
             platform::CodeDetail(status.Get());
    }
    registered_ = true;
  }
  return {};
}

void PortPresence::Withdraw() {
  if (!linkedTo_.empty()) {
    // Remove the link only while it still points to our line: another simulator may have
    // taken the name over meanwhile.
    std::error_code error;
    const auto target = std::filesystem::read_symlink(linkPath_, error);
    if (!error && target == linkedTo_) ::unlink(linkPath_.c_str());
    linkedTo_.clear();
  }
  if (registered_) {
    platform::RegistryKey key;
    if (platform::RegistryKey::Open(platform::RegRoot::LocalMachine, kSerialCommKey, key).Ok()) {
      key.DeleteValue(valueName_);
    }
    registered_ = false;
  }
}

}  // namespace tavex::clocksim
