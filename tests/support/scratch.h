// SPDX-License-Identifier: GPL-3.0-or-later
// Pieces every kind of test needs: a scratch directory that is removed afterwards, an environment
// variable set for a while, whole-file reads and writes, and the process's thread count.
#pragma once

#include <stdlib.h>

#include <cstddef>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <stdexcept>
#include <string>
#include <thread>

namespace tavex::test {

// A new directory under the system's temporary folder, removed with everything in it.
class ScratchDir {
 public:
  explicit ScratchDir(const std::string& prefix = "tavex") {
    std::string pattern = (std::filesystem::temp_directory_path() / (prefix + "-XXXXXX")).string();
    if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = pattern;
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& Path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Sets an environment variable for the lifetime of the object, then restores it.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const std::string& value) : name_(name) {
    if (const char* old = ::getenv(name)) old_ = old;
    ::setenv(name, value.c_str(), 1);
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }
  ScopedEnv(const ScopedEnv&) = delete;
  ScopedEnv& operator=(const ScopedEnv&) = delete;

 private:
  const char* name_;
  std::optional<std::string> old_;
};

// A registry of its own: the hives live in `registry/` below a scratch directory, which also has
// room for other files of the test.
class ScratchRegistry {
 public:
  explicit ScratchRegistry(const std::string& prefix = "tavex-registry")
      : root_(prefix), dir_(root_ / "registry"), env_("TAVEX_REGISTRY_DIR", dir_) {}

  const std::string& Root() const { return root_.Path(); }
  const std::string& Dir() const { return dir_; }

 private:
  ScratchDir root_;
  std::string dir_;
  ScopedEnv env_;
};

inline std::string ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

inline void WriteFile(const std::string& path, const std::string& text) {
  std::ofstream(path, std::ios::binary) << text;
}

inline std::size_t ThreadCount() {
  // A sanitizer's runtime starts a helper thread along with the process's first new thread; let
  // that happen before anything is counted.
  static const bool warmedUp = [] {
    std::thread([] {}).join();
    return true;
  }();
  static_cast<void>(warmedUp);
  std::size_t n = 0;
  for ([[maybe_unused]] auto& entry : std::filesystem::directory_iterator("/proc/self/task")) ++n;
  return n;
}

}  // namespace tavex::test
