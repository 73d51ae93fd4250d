// SPDX-License-Identifier: GPL-3.0-or-later
// build/bin/tavex as a child process, offscreen, on the registry of TAVEX_REGISTRY_DIR, with its
// metrics endpoint on a free loopback port and its standard error in a file: for the tests that
// watch the program from outside, as a scraper does.
#pragma once

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <optional>
#include <regex>
#include <string>
#include <thread>

#include "support/http_probe.h"
#include "support/scratch.h"

extern char** environ;

namespace tavex::test {

class MetricsProgram {
 public:
  // Starts the program with its state (the journal) below `dir` and its standard error in
  // `dir`/tavex.err, and waits up to five seconds for the line that names the metrics' port.
  explicit MetricsProgram(const std::string& dir) : errors_(dir + "/tavex.err") {
    const char* bin = std::getenv("TAVEX_TEST_BIN");
    const std::string program = std::string(bin ? bin : TAVEX_TEST_BIN_DIR) + "/tavex";
    ScopedEnv metrics("TAVEX_METRICS_ADDRESS", "127.0.0.1:0");
    ScopedEnv state("XDG_STATE_HOME", dir + "/state");
    ScopedEnv unattended("TAVEX_UNATTENDED", "");  // the offscreen rule decides
    ::unsetenv("TAVEX_UNATTENDED");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors_.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    std::string name = program, platform = "-platform", offscreen = "offscreen";
    char* argv[] = {name.data(), platform.data(), offscreen.data(), nullptr};
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
    // "tavex: metrics at http://127.0.0.1:PORT/metrics"
    static const std::regex line(R"(metrics at http://127\.0\.0\.1:([0-9]+)/metrics)");
    for (int i = 0; i < 100 && port_ == 0 && pid_ > 0; ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
      std::smatch m;
      const std::string text = Errors();
      if (std::regex_search(text, m, line)) port_ = static_cast<std::uint16_t>(std::stoi(m[1]));
    }
  }
  ~MetricsProgram() { Stop(); }
  MetricsProgram(const MetricsProgram&) = delete;
  MetricsProgram& operator=(const MetricsProgram&) = delete;

  // Ends the program as systemd stops a service.
  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
  }
  bool Alive() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }
  std::uint16_t Port() const { return port_; }
  std::string Errors() const { return ReadFile(errors_); }

  std::optional<double> Sample(const std::string& name) const {
    return SampleValue(GetMetrics(port_).Body(), name);
  }
  // Waits up to `seconds` for the sample to satisfy `ok`.
  template <class Ok>
  bool WaitFor(const std::string& name, Ok ok, int seconds) const {
    for (int i = 0; i < seconds * 10; ++i) {
      if (ok(Sample(name))) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
    return false;
  }

 private:
  std::string errors_;
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
};

}  // namespace tavex::test
