// SPDX-License-Identifier: GPL-3.0-or-later
#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <fstream>
#include <optional>
#include <set>

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

std::string TtyClassDirectory(const std::string& root) {
  return root + kTtyClassDirectory;
}

std::string SerialLinksDirectory(const std::string& root) {
  return root + kSerialLinksDirectory;
}

namespace {

namespace fs = std::filesystem;

constexpr const char* kStableFolders[] = {"by-id", "by-path"};

bool InStableFolder(const fs::path& link) {
  const fs::path folder = link.parent_path();
  const std::string name = folder.filename().string();
  return (name == kStableFolders[0] || name == kStableFolders[1]) &&
         folder.parent_path().filename() == fs::path(kSerialLinksDirectory).filename();
}

// The device a link in <dev>/serial/<folder>/ resolves to, or nothing when it is no link or its
// device is gone; `shown` is that device relative to <dev> when it lies there.
std::optional<fs::path> LinkedDevice(const fs::path& link, std::string& shown) {
  std::error_code ec;
  if (!fs::is_symlink(fs::symlink_status(link, ec))) return std::nullopt;
  const fs::path device = fs::canonical(link, ec);
  if (ec) return std::nullopt;
  const fs::path dev = fs::canonical(link.parent_path().parent_path().parent_path(), ec);
  const fs::path relative = ec ? fs::path() : device.lexically_relative(dev);
  const bool inside = !relative.empty() && *relative.begin() != "..";
  shown = inside ? relative.string() : device.string();
  return device;
}

}  // namespace

Errno ScanStableSerialNames(const std::string& linksDirectory,
                            std::vector<StableSerialName>& names) {
  std::set<fs::path> devicesNamed;
  for (const char* folder : kStableFolders) {
    std::error_code ec;
    fs::directory_iterator it(fs::path(linksDirectory) / folder, ec);
    if (ec) {
      if (ec.value() == ENOENT || ec.value() == ENOTDIR) continue;
      return Errno{ec.value()};
    }
    std::vector<fs::path> links;
    for (; it != fs::directory_iterator(); it.increment(ec)) links.push_back(it->path());
    if (ec) return Errno{ec.value()};
    std::sort(links.begin(), links.end());
    std::set<fs::path> devicesHere;
    for (const fs::path& link : links) {
      std::string shown;
      const std::optional<fs::path> device = LinkedDevice(link, shown);
      if (!device || devicesNamed.contains(*device)) continue;
      devicesHere.insert(*device);
      names.push_back({fs::absolute(link).lexically_normal().string(), shown});
    }
    // by-path adds only devices that have no by-id name; two by-path names of one device
    // (a port on a hub reached two ways) are both kept.
    devicesNamed.insert(devicesHere.begin(), devicesHere.end());
  }
  return kNoError;
}

std::string StableNameDevice(const std::string& path) {
  const fs::path link(path);
  if (!link.is_absolute() || !InStableFolder(link)) return {};
  std::string shown;
  return LinkedDevice(link, shown) ? shown : std::string();
}

}  // namespace tavex::platform
