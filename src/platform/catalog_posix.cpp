// SPDX-License-Identifier: GPL-3.0-or-later
#include <unistd.h>

#include <string>

#include "platform/catalog_paths.h"

namespace tavex::platform {

std::string ExecutableDirectory() {
  std::string path(4096, '\0');
  ssize_t n = ::readlink("/proc/self/exe", path.data(), path.size());
  if (n <= 0 || static_cast<std::size_t>(n) >= path.size()) return {};
  path.resize(static_cast<std::size_t>(n));
  auto slash = path.rfind('/');
  return slash == std::string::npos ? std::string{} : path.substr(0, slash);
}

}  // namespace tavex::platform
