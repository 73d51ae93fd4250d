// SPDX-License-Identifier: GPL-3.0-or-later
#include "support/clock_sim_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
#include <utility>

extern char** environ;

namespace tavex::test {

using Clock = std::chrono::steady_clock;

ClockSimProcess::ClockSimProcess(std::string program, std::vector<std::string> args,
                                 ErrorOutput errors) {
  int out[2] = {-1, -1};
  int err[2] = {-1, -1};
  if (::pipe2(out, O_CLOEXEC) != 0) return;
  if (errors == ErrorOutput::Captured && ::pipe2(err, O_CLOEXEC) != 0) {
    ::close(out[0]);
    ::close(out[1]);
    return;
  }
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
  if (err[1] >= 0) posix_spawn_file_actions_adddup2(&actions, err[1], STDERR_FILENO);
  std::vector<char*> argv{program.data()};
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
    pid_ = -1;
  }
  posix_spawn_file_actions_destroy(&actions);
  ::close(out[1]);
  if (err[1] >= 0) ::close(err[1]);
  out_ = out[0];
  err_ = err[0];
}

ClockSimProcess::~ClockSimProcess() {
  if (pid_ > 0 && Terminate(SIGTERM) < 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
  if (out_ >= 0) ::close(out_);
  if (err_ >= 0) ::close(err_);
}

bool ClockSimProcess::ReadMore(Clock::time_point deadline) {
  const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
  pollfd pfd{out_, POLLIN, 0};
  if (left.count() <= 0 || ::poll(&pfd, 1, static_cast<int>(left.count())) <= 0) return false;
  char buffer[256];
  const ssize_t n = ::read(out_, buffer, sizeof buffer);
  if (n <= 0) return false;
  outBuffer_.append(buffer, static_cast<std::size_t>(n));
  return true;
}

std::string ClockSimProcess::ReadLine(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  for (;;) {
    if (const auto nl = outBuffer_.find('\n'); nl != std::string::npos) {
      std::string line = outBuffer_.substr(0, nl);
      outBuffer_.erase(0, nl + 1);
      return line;
    }
    if (!ReadMore(deadline)) return {};
  }
}

std::string ClockSimProcess::ReadAll(std::chrono::milliseconds limit) {
  const auto deadline = Clock::now() + limit;
  while (ReadMore(deadline)) {
  }
  return std::exchange(outBuffer_, {});
}

std::string ClockSimProcess::Errors() {
  std::string text;
  if (err_ < 0) return text;
  char buffer[512];
  ssize_t n;
  ::fcntl(err_, F_SETFL, O_NONBLOCK);
  while ((n = ::read(err_, buffer, sizeof buffer)) > 0) {
    text.append(buffer, static_cast<std::size_t>(n));
  }
  return text;
}

int ClockSimProcess::Terminate(int signal, std::chrono::milliseconds limit) {
  if (pid_ <= 0) return -1;  // never signal a whole process group
  ::kill(pid_, signal);
  return Wait(limit);
}

int ClockSimProcess::Wait(std::chrono::milliseconds limit) {
  if (pid_ <= 0) return -1;
  const auto deadline = Clock::now() + limit;
  while (Clock::now() < deadline) {
    int status = 0;
    if (::waitpid(pid_, &status, WNOHANG) == pid_) {
      pid_ = -1;
      return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return -1;
}

}  // namespace tavex::test
