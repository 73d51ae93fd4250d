// SPDX-License-Identifier: GPL-3.0-or-later
// Start-up to first frame: starts a program and waits until the clock simulator's log shows the
// first byte it received, then prints the time between the two in milliseconds. The simulator's
// log stamps bytes with the monotonic clock, which this program reads too.
//   tavex-startup-probe SIMULATOR_LOG PROGRAM [ARGS...]
// The program keeps running; the caller ends it.
#include <fcntl.h>
#include <spawn.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>
#include <thread>

extern char** environ;

namespace {

// The time of the first received byte in the log, or -1.
long long FirstReceived(const char* logPath) {
  std::ifstream in(logPath);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find("\"dir\":\"rx\"") != std::string::npos) return std::stoll(line.substr(5));
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: tavex-startup-probe SIMULATOR_LOG PROGRAM [ARGS...]\n");
    return 2;
  }
  if (FirstReceived(argv[1]) >= 0) {
    std::fprintf(stderr, "startup-probe: the log already holds received bytes\n");
    return 2;
  }
  using Steady = std::chrono::steady_clock;
  const long long started =
      std::chrono::duration_cast<std::chrono::nanoseconds>(Steady::now().time_since_epoch())
          .count();
  // The program's output goes nowhere: it outlives this probe and must not hold the caller's pipe.
  posix_spawn_file_actions_t quiet;
  ::posix_spawn_file_actions_init(&quiet);
  ::posix_spawn_file_actions_addopen(&quiet, 0, "/dev/null", O_RDONLY, 0);
  ::posix_spawn_file_actions_addopen(&quiet, 1, "/dev/null", O_WRONLY, 0);
  ::posix_spawn_file_actions_addopen(&quiet, 2, "/dev/null", O_WRONLY, 0);
  pid_t child = 0;
  const int spawned = ::posix_spawn(&child, argv[2], &quiet, nullptr, argv + 2, environ);
  ::posix_spawn_file_actions_destroy(&quiet);
  if (spawned != 0) {
    std::fprintf(stderr, "startup-probe: cannot start %s\n", argv[2]);
    return 1;
  }
  for (int i = 0; i < 3000; ++i) {
    const long long first = FirstReceived(argv[1]);
    if (first >= 0) {
      std::printf("pid=%d startup_to_first_frame_ms=%.1f\n", static_cast<int>(child),
                  static_cast<double>(first - started) / 1e6);
      return 0;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  std::printf("pid=%d startup_to_first_frame_ms=none\n", static_cast<int>(child));
  return 1;
}
