// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the conformance runner on one sequence, plays the far end of its serial line, and compares
// what it printed with the recorded Windows results.
//
//   conformance-driver SEQUENCE EXPECTED [options] -- RUNNER [ARGS...]
//     --record FILE      also write what the runner printed to FILE
//     --faults FILE      cases where Wine is known to differ from Windows (see wine-faults.txt)
//     --windows PATH     the runner is the Windows build: compare with the recording as it is;
//                        PATH becomes a link to the line (the prefix maps COM1 to it)
//     --known FILE       differences of our stand-ins still being worked on: reported, not failed
//     --fixtures DIR     where "import" finds its files (default: ../fixtures beside SEQUENCE)
//     --keep DIR         copy the work directory (files the sequence wrote) to DIR afterwards
//
// The runner gets SEQUENCE, a fresh work directory, the fixtures folder and the serial device
// appended to its arguments. Lines it prints that start with "@" are requests to the line's far
// end: "@feed MS HEX" writes the bytes MS milliseconds later, "@drain" prints what arrived.
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "canonical_text.h"
#include "comparison.h"
#include "platform/pseudo_terminal.h"

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;

struct Options {
  std::string sequence;
  std::string expected;
  std::string record;
  std::string faults;
  std::string known;
  std::string fixtures;
  std::string keep;
  bool windows = false;
  std::string comLink;
  std::vector<std::string> runner;
};

bool ParseOptions(int argc, char** argv, Options& options) {
  int i = 1;
  for (; i < argc && std::string(argv[i]) != "--"; ++i) {
    std::string a = argv[i];
    auto value = [&](std::string& into) {
      if (i + 1 < argc) into = argv[++i];
    };
    if (a == "--record")
      value(options.record);
    else if (a == "--faults")
      value(options.faults);
    else if (a == "--known")
      value(options.known);
    else if (a == "--fixtures")
      value(options.fixtures);
    else if (a == "--keep")
      value(options.keep);
    else if (a == "--windows") {
      options.windows = true;
      value(options.comLink);
    } else if (options.sequence.empty())
      options.sequence = a;
    else
      options.expected = a;
  }
  for (++i; i < argc; ++i) options.runner.push_back(argv[i]);
  return !options.sequence.empty() && !options.expected.empty() && !options.runner.empty();
}

// The Windows form of a path on Wine's drive Z:.
std::string WinePath(const std::string& path) {
  std::string out = "Z:" + fs::absolute(path).lexically_normal().string();
  for (char& c : out) {
    if (c == '/') c = '\\';
  }
  return out;
}

std::string Unhex(const std::string& hex) {
  std::string out;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    out += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
  }
  return out;
}

// The far end of the line while the runner runs.
class Line {
 public:
  explicit Line(int master) : master_(master) {}

  void Schedule(int delayMs, std::string bytes) {
    pending_.emplace(Clock::now() + std::chrono::milliseconds(delayMs), std::move(bytes));
    Flush();
  }
  // Writes what is due; returns the milliseconds until the next write, or -1.
  int Flush() {
    auto now = Clock::now();
    while (!pending_.empty() && pending_.begin()->first <= now) {
      const std::string& bytes = pending_.begin()->second;
      [[maybe_unused]] ssize_t n = ::write(master_, bytes.data(), bytes.size());
      pending_.erase(pending_.begin());
    }
    if (pending_.empty()) return -1;
    return static_cast<int>(
        std::chrono::ceil<std::chrono::milliseconds>(pending_.begin()->first - now).count());
  }
  // What the runner sent: everything that arrives until the line is quiet for 200 ms.
  std::string Drain() {
    std::string got;
    char buffer[256];
    pollfd p{master_, POLLIN, 0};
    while (::poll(&p, 1, 200) > 0 && (p.revents & POLLIN)) {
      ssize_t n = ::read(master_, buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }

 private:
  int master_;
  std::multimap<Clock::time_point, std::string> pending_;
};

struct Child {
  pid_t pid = -1;
  int out = -1;  // its standard output
  int in = -1;   // its standard input
};

bool Spawn(const std::vector<std::string>& args, Child& child) {
  int toChild[2];
  int fromChild[2];
  if (::pipe2(toChild, O_CLOEXEC) != 0 || ::pipe2(fromChild, O_CLOEXEC) != 0) return false;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, toChild[0], 0);
  posix_spawn_file_actions_adddup2(&actions, fromChild[1], 1);
  std::vector<char*> argv;
  for (const std::string& a : args) argv.push_back(const_cast<char*>(a.c_str()));
  argv.push_back(nullptr);
  int rc = posix_spawnp(&child.pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  ::close(toChild[0]);
  ::close(fromChild[1]);
  child.in = toChild[1];
  child.out = fromChild[0];
  return rc == 0;
}

// Answers one request line of the runner.
void Serve(const std::string& request, Line& line, std::string& output, int answer) {
  std::istringstream words(request);
  std::string op;
  words >> op;
  if (op == "@feed") {
    int delay = 0;
    std::string hex;
    words >> delay >> hex;
    line.Schedule(delay, hex == "-" ? "" : Unhex(hex));
  } else if (op == "@drain") {
    output += "  line received " + conformance::Show(line.Drain()) + "\n";
  }
  [[maybe_unused]] ssize_t n = ::write(answer, "ok\n", 3);
}

// Runs the child to its end (at most two minutes), serving its requests. Returns its output.
std::string Converse(Child& child, Line& line, int& status) {
  std::string output;
  std::string partial;
  auto deadline = Clock::now() + std::chrono::minutes(2);
  char buffer[4096];
  for (;;) {
    int next = line.Flush();
    pollfd p{child.out, POLLIN, 0};
    int wait = next < 0 ? 1000 : next;
    if (::poll(&p, 1, wait) < 0) continue;
    if (Clock::now() > deadline) {
      ::kill(child.pid, SIGKILL);
      output += "driver: runner killed after two minutes\n";
      break;
    }
    if (!(p.revents & (POLLIN | POLLHUP))) continue;
    ssize_t n = ::read(child.out, buffer, sizeof buffer);
    if (n <= 0) break;
    partial.append(buffer, static_cast<std::size_t>(n));
    for (std::size_t end; (end = partial.find('\n')) != std::string::npos;) {
      std::string text = partial.substr(0, end);
      partial.erase(0, end + 1);
      if (!text.empty() && text.back() == '\r') text.pop_back();
      if (!text.empty() && text[0] == '@') {
        Serve(text, line, output, child.in);
      } else {
        output += text + "\n";
      }
    }
  }
  ::close(child.in);
  ::close(child.out);
  ::waitpid(child.pid, &status, 0);
  return output + partial;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

}  // namespace

int main(int argc, char** argv) {
  Options options;
  if (!ParseOptions(argc, argv, options)) {
    std::cerr << "usage: conformance-driver SEQUENCE EXPECTED [--record F] [--faults F] "
                 "[--known F] [--windows LINK] -- RUNNER [ARGS...]\n";
    return 2;
  }
  char pattern[] = "/tmp/tavex-conformance-XXXXXX";
  if (::mkdtemp(pattern) == nullptr) return 2;
  const std::string work = pattern;
  ::setenv("TAVEX_REGISTRY_DIR", (work + "/registry").c_str(), 1);

  tavex::platform::PseudoTerminal pty;
  if (int rc = pty.Create(); rc != 0) {
    std::cerr << "conformance-driver: no pseudo-terminal (errno " << rc << ")\n";
    return 2;
  }
  const fs::path fixtures = !options.fixtures.empty()
                                ? fs::path(options.fixtures)
                                : fs::path(options.sequence).parent_path() / ".." / "fixtures";
  std::vector<std::string> args = options.runner;
  if (options.windows) {
    std::error_code ignored;
    fs::remove(options.comLink, ignored);
    fs::create_symlink(pty.SlavePath(), options.comLink);
    args.insert(args.end(), {WinePath(options.sequence), WinePath(work),
                             WinePath(fixtures.string()), "\\\\.\\COM1"});
  } else {
    args.insert(args.end(),
                {options.sequence, work, fixtures.lexically_normal().string(), pty.SlavePath()});
  }
  Child child;
  if (!Spawn(args, child)) {
    std::cerr << "conformance-driver: cannot start " << args[0] << "\n";
    return 2;
  }
  Line line(pty.MasterFd());
  int status = 0;
  std::string output = Converse(child, line, status);
  std::error_code ignored;
  if (!options.keep.empty()) {
    fs::create_directories(options.keep, ignored);
    fs::copy(work, options.keep, fs::copy_options::recursive | fs::copy_options::overwrite_existing,
             ignored);
  }
  fs::remove_all(work, ignored);
  if (!options.record.empty()) std::ofstream(options.record, std::ios::binary) << output;

  conformance::Comparison comparison(fs::path(options.sequence).stem().string());
  if (!options.faults.empty()) comparison.LoadFaults(ReadAll(options.faults));
  if (!options.known.empty()) comparison.LoadKnown(ReadAll(options.known));
  bool ok = comparison.Compare(ReadAll(options.expected), output, options.windows, std::cout);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
    std::cout << "runner ended abnormally (status " << status << ")\n";
    ok = false;
  }
  return ok ? 0 : 1;
}
