// SPDX-License-Identifier: GPL-3.0-or-later
#include <pwd.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "platform/registry.h"

namespace tavex::platform {
namespace {

std::string Environment(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? std::string(value) : std::string();
}

std::string HomeDirectory() {
  std::string home = Environment("HOME");
  if (!home.empty()) return home;
  std::vector<char> buffer(16384);
  passwd entry{};
  passwd* result = nullptr;
  if (::getpwuid_r(::getuid(), &entry, buffer.data(), buffer.size(), &result) == 0 &&
      result != nullptr && result->pw_dir != nullptr) {
    return result->pw_dir;
  }
  return "/";
}

}  // namespace

std::string RegistryDirectory() {
  std::string dir = Environment("TAVEX_REGISTRY_DIR");
  if (!dir.empty()) return dir;
  // A relative XDG_CONFIG_HOME is invalid and is ignored, as the base directory rules say.
  std::string config = Environment("XDG_CONFIG_HOME");
  if (config.empty() || config.front() != '/') config = HomeDirectory() + "/.config";
  return config + "/tavex/registry";
}

}  // namespace tavex::platform
