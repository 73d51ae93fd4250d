// SPDX-License-Identifier: GPL-3.0-or-later
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <string>

#include "platform/registry_file.h"
#include "platform/unique_fd.h"

namespace tavex::platform {
namespace {

int MakeDirectories(const std::string& dir) {
  if (dir.empty()) return 0;
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? 0 : ENOTDIR;
  if (errno != ENOENT) return errno;
  std::string parent = DirectoryOf(dir);
  if (parent != dir && parent != "." && parent != "/") {
    if (int rc = MakeDirectories(parent); rc != 0) return rc;
  }
  if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) return errno;
  return 0;
}

int WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    done += static_cast<std::size_t>(n);
  }
  return 0;
}

std::string TempPrefix(const std::string& base) {
  return "." + base + ".tmp.";
}

// Under the directory lock no other writer is busy, so a temporary file of ours that is still
// there was left by a writer that died half-way.
void RemoveStaleTemporaries(int dirFd, const std::string& base) {
  UniqueFd scanFd(::openat(dirFd, ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (!scanFd) return;
  DIR* dir = ::fdopendir(scanFd.Get());
  if (dir == nullptr) return;
  scanFd.Release();  // closedir closes it
  const std::string prefix = TempPrefix(base);
  while (dirent* entry = ::readdir(dir)) {
    if (std::string(entry->d_name).starts_with(prefix)) ::unlinkat(dirFd, entry->d_name, 0);
  }
  ::closedir(dir);
}

int LockDirectory(const std::string& dir, UniqueFd& lock) {
  lock.Reset(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (lock.Get() < 0) return errno;
  while (::flock(lock.Get(), LOCK_EX) != 0) {
    if (errno != EINTR) return errno;
  }
  return 0;
}

int ReplaceFile(int dirFd, const std::string& base, bool exists, mode_t oldMode,
                const std::string& text) {
  static std::atomic<unsigned> counter{0};
  std::string tempName;
  UniqueFd temp;
  for (int attempt = 0; attempt < 100 && temp.Get() < 0; ++attempt) {
    tempName = TempPrefix(base) + std::to_string(::getpid()) + "." + std::to_string(counter++);
    temp.Reset(::openat(dirFd, tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (temp.Get() < 0 && errno != EEXIST) return errno;
  }
  if (temp.Get() < 0) return EEXIST;
  int rc = WriteAll(temp.Get(), text);
  if (rc == 0 && exists && ::fchmod(temp.Get(), oldMode & 07777) != 0) rc = errno;
  if (rc == 0 && ::fsync(temp.Get()) != 0) rc = errno;
  if (rc == 0) rc = temp.Close();
  if (rc == 0 && ::renameat(dirFd, tempName.c_str(), dirFd, base.c_str()) != 0) rc = errno;
  if (rc != 0) {
    ::unlinkat(dirFd, tempName.c_str(), 0);
    return rc;
  }
  // The rename is durable only once the directory itself is flushed.
  if (::fsync(dirFd) != 0 && errno != EINVAL) return errno;
  return 0;
}

}  // namespace

std::string DirectoryOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path) {
  auto slash = path.find_last_of('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

std::string FileStateStamp(const std::string& path) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) return {};
  return std::to_string(st.st_ino) + ":" + std::to_string(st.st_size) + ":" +
         std::to_string(st.st_mtim.tv_sec) + "." + std::to_string(st.st_mtim.tv_nsec);
}

int ReadWholeFile(const std::string& path, std::string& text, bool& exists) {
  text.clear();
  exists = false;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) return errno == ENOENT ? 0 : errno;
  exists = true;
  char chunk[8192];
  for (;;) {
    ssize_t n = ::read(fd.Get(), chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return errno;
    }
    if (n == 0) return 0;
    text.append(chunk, static_cast<std::size_t>(n));
  }
}

int UpdateFileLocked(const std::string& path, bool createDirectory, const FileEdit& edit) {
  const std::string dir = DirectoryOf(path);
  const std::string base = BaseNameOf(path);
  if (base.empty()) return EISDIR;
  if (createDirectory) {
    if (int rc = MakeDirectories(dir); rc != 0) return rc;
  }
  UniqueFd lock;
  if (int rc = LockDirectory(dir, lock); rc != 0) return rc;
  RemoveStaleTemporaries(lock.Get(), base);

  std::string current;
  bool exists = false;
  if (int rc = ReadWholeFile(path, current, exists); rc != 0) return rc;
  struct stat st {};
  if (exists) {
    if (::fstatat(lock.Get(), base.c_str(), &st, 0) != 0) return errno;
    if (::faccessat(lock.Get(), base.c_str(), W_OK, AT_EACCESS) != 0) return errno;
  }
  std::string next;
  bool changed = false;
  if (int rc = edit(exists, current, next, changed); rc != 0) return rc;
  if (!changed) return 0;
  return ReplaceFile(lock.Get(), base, exists, st.st_mode, next);
}

}  // namespace tavex::platform
