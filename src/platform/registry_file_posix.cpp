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

// The errno value the failed call just left.
Errno LastError() {
  return Errno{errno};
}

Errno MakeDirectories(const std::string& dir) {
  if (dir.empty()) return kNoError;
  struct stat st {};
  if (::stat(dir.c_str(), &st) == 0) return S_ISDIR(st.st_mode) ? kNoError : Errno{ENOTDIR};
  if (errno != ENOENT) return LastError();
  std::string parent = DirectoryOf(dir);
  if (parent != dir && parent != "." && parent != "/") {
    if (Errno rc = MakeDirectories(parent); rc != kNoError) return rc;
  }
  if (::mkdir(dir.c_str(), 0777) != 0 && errno != EEXIST) return LastError();
  return kNoError;
}

Errno WriteAll(int fd, const std::string& text) {
  std::size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    done += static_cast<std::size_t>(n);
  }
  return kNoError;
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

Errno LockDirectory(const std::string& dir, UniqueFd& lock) {
  lock.Reset(::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
  if (lock.Get() < 0) return LastError();
  while (::flock(lock.Get(), LOCK_EX) != 0) {
    if (errno != EINTR) return LastError();
  }
  return kNoError;
}

Errno ReplaceFile(int dirFd, const std::string& base, bool exists, mode_t oldMode,
                  const std::string& text) {
  static std::atomic<unsigned> counter{0};
  std::string tempName;
  UniqueFd temp;
  for (int attempt = 0; attempt < 100 && temp.Get() < 0; ++attempt) {
    tempName = TempPrefix(base) + std::to_string(::getpid()) + "." + std::to_string(counter++);
    temp.Reset(::openat(dirFd, tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666));
    if (temp.Get() < 0 && errno != EEXIST) return LastError();
  }
  if (temp.Get() < 0) return Errno{EEXIST};
  Errno rc = WriteAll(temp.Get(), text);
  if (rc == kNoError && exists && ::fchmod(temp.Get(), oldMode & 07777) != 0) rc = LastError();
  if (rc == kNoError && ::fsync(temp.Get()) != 0) rc = LastError();
  if (rc == kNoError) rc = Errno{temp.Close()};
  if (rc == kNoError && ::renameat(dirFd, tempName.c_str(), dirFd, base.c_str()) != 0) {
    rc = LastError();
  }
  if (rc != kNoError) {
    ::unlinkat(dirFd, tempName.c_str(), 0);
    return rc;
  }
  // The rename is durable only once the directory itself is flushed.
  if (::fsync(dirFd) != 0 && errno != EINVAL) return LastError();
  return kNoError;
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

Errno ReadWholeFile(const std::string& path, std::string& text, bool& exists) {
  text.clear();
  exists = false;
  UniqueFd fd(::open(path.c_str(), O_RDONLY | O_CLOEXEC));
  if (fd.Get() < 0) return errno == ENOENT ? kNoError : LastError();
  exists = true;
  char chunk[8192];
  for (;;) {
    ssize_t n = ::read(fd.Get(), chunk, sizeof chunk);
    if (n < 0) {
      if (errno == EINTR) continue;
      return LastError();
    }
    if (n == 0) return kNoError;
    text.append(chunk, static_cast<std::size_t>(n));
  }
}

Errno UpdateFileLocked(const std::string& path, bool createDirectory, const FileEdit& edit) {
  const std::string dir = DirectoryOf(path);
  const std::string base = BaseNameOf(path);
  if (base.empty()) return Errno{EISDIR};
  if (createDirectory) {
    if (Errno rc = MakeDirectories(dir); rc != kNoError) return rc;
  }
  UniqueFd lock;
  if (Errno rc = LockDirectory(dir, lock); rc != kNoError) return rc;
  RemoveStaleTemporaries(lock.Get(), base);

  std::string current;
  bool exists = false;
  if (Errno rc = ReadWholeFile(path, current, exists); rc != kNoError) return rc;
  struct stat st {};
  if (exists) {
    if (::fstatat(lock.Get(), base.c_str(), &st, 0) != 0) return LastError();
    if (::faccessat(lock.Get(), base.c_str(), W_OK, AT_EACCESS) != 0) return LastError();
  }
  std::string next;
  bool changed = false;
  if (Errno rc = edit(exists, current, next, changed); rc != kNoError) return rc;
  if (!changed) return kNoError;
  return ReplaceFile(lock.Get(), base, exists, st.st_mode, next);
}

}  // namespace tavex::platform
