// SPDX-License-Identifier: GPL-3.0-or-later
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/journal_files.h"

namespace tavex::platform::journal_files {

int MakeFolders(const std::string& path) {
  if (path.empty()) return ENOENT;
  for (std::size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string part = path.substr(0, slash);
    if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return errno;
    if (slash == std::string::npos) break;
  }
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return errno;
  return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
}

int OpenForAppend(const std::string& path, UniqueFd& fd) {
  const int opened =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NOCTTY, 0644);
  if (opened < 0) return errno;
  fd.Reset(opened);
  return 0;
}

int AppendWhole(const UniqueFd& fd, std::string_view bytes) {
  ssize_t n;
  do {
    n = ::write(fd.Get(), bytes.data(), bytes.size());
  } while (n < 0 && errno == EINTR);
  if (n < 0) return errno;
  // Only a full disk cuts a write to a file short.
  return static_cast<std::size_t>(n) == bytes.size() ? 0 : ENOSPC;
}

int ListNames(const std::string& folder, std::vector<std::string>& names) {
  DIR* dir = ::opendir(folder.c_str());
  if (dir == nullptr) return errno;
  while (const dirent* entry = ::readdir(dir)) names.emplace_back(entry->d_name);
  ::closedir(dir);
  return 0;
}

int RemoveFile(const std::string& path) {
  return ::unlink(path.c_str()) == 0 ? 0 : errno;
}

std::string ErrorText(int error) {
  return std::strerror(error);
}

}  // namespace tavex::platform::journal_files
