// SPDX-License-Identifier: GPL-3.0-or-later
// Files a test cannot write, for root too: a limit on the size of files, and a file without write
// permission.
#pragma once

#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <exception>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace tavex::test {

// Writes beyond `bytes` fail with EFBIG while it lives.
class FileSizeLimit {
 public:
  explicit FileSizeLimit(rlim_t bytes) : previousSignal_(std::signal(SIGXFSZ, SIG_IGN)) {
    ::getrlimit(RLIMIT_FSIZE, &previous_);
    rlimit limit = previous_;
    limit.rlim_cur = bytes;
    ::setrlimit(RLIMIT_FSIZE, &limit);
  }
  ~FileSizeLimit() {
    ::setrlimit(RLIMIT_FSIZE, &previous_);
    std::signal(SIGXFSZ, previousSignal_);
  }
  FileSizeLimit(const FileSizeLimit&) = delete;
  FileSizeLimit& operator=(const FileSizeLimit&) = delete;

 private:
  rlimit previous_{};
  void (*previousSignal_)(int);
};

// A file this process may read but not write while it lives: its mode loses the write bits, and
// a process running as root (which writes whatever the mode says) acts as the unprivileged user
// "nobody" meanwhile, with the file's folders open to it.
class UnwritableFile {
 public:
  // `folders` are the folders above the file that root alone may enter (a scratch folder).
  UnwritableFile(std::string path, std::vector<std::string> folders) : path_(std::move(path)) {
    Keep(path_, 0444);
    if (::geteuid() != 0) return;
    for (const std::string& folder : folders) Keep(folder, 0755);
    if (::seteuid(kNobody) != 0) throw std::runtime_error("cannot act as nobody");
    actingAsNobody_ = true;
  }
  ~UnwritableFile() {
    if (actingAsNobody_ && ::seteuid(0) != 0) std::terminate();
    for (auto it = kept_.rbegin(); it != kept_.rend(); ++it) ::chmod(it->first.c_str(), it->second);
  }
  UnwritableFile(const UnwritableFile&) = delete;
  // False where the file cannot even be read (a temporary folder inside root's home).
  bool Readable() const { return ::faccessat(AT_FDCWD, path_.c_str(), R_OK, AT_EACCESS) == 0; }
  UnwritableFile& operator=(const UnwritableFile&) = delete;

 private:
  static constexpr uid_t kNobody = 65534;

  void Keep(const std::string& path, mode_t mode) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) throw std::runtime_error("no such file: " + path);
    kept_.emplace_back(path, st.st_mode & 07777);
    ::chmod(path.c_str(), mode);
  }

  std::string path_;
  std::vector<std::pair<std::string, mode_t>> kept_;
  bool actingAsNobody_ = false;
};

}  // namespace tavex::test
