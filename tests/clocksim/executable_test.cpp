// SPDX-License-Identifier: GPL-3.0-or-later
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <signal.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "clocklink/ClockFrames.h"
#include "platform/pseudo_terminal.h"
#include "platform/registry.h"
#include "support/clock_sim_process.h"

namespace tavex {
namespace {

using namespace std::chrono_literals;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

// tavex-clocksim as a child process with its standard output and error on pipes.
class SimProcess : public test::ClockSimProcess {
 public:
  explicit SimProcess(std::vector<std::string> args)
      : ClockSimProcess(TAVEX_CLOCKSIM_EXE, std::move(args), ErrorOutput::Captured) {}
};

// The program's side: opens the port path raw, sends 0x00 "R" and reads the status reply.
std::string ReadBack(const std::string& portPath, int* fdOut = nullptr) {
  const int fd = ::open(portPath.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) return "open failed";
  const char frame[] = {'\0', 'R'};
  for (char c : frame) {
    [[maybe_unused]] ssize_t n = ::write(fd, &c, 1);
    std::this_thread::sleep_for(10ms);
  }
  std::string reply;
  const auto deadline = Clock::now() + 1500ms;
  while (reply.size() < 19 && Clock::now() < deadline) {
    pollfd pfd{fd, POLLIN, 0};
    if (::poll(&pfd, 1, 100) <= 0) continue;
    char buffer[32];
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n <= 0) break;
    reply.append(buffer, static_cast<std::size_t>(n));
  }
  if (fdOut != nullptr) {
    *fdOut = fd;
  } else {
    ::close(fd);
  }
  return reply;
}

bool AcceptedNow(const std::string& reply) {
  // The minute may turn between the answer and the judgement: the minute before counts too.
  const time_t now = ::time(nullptr);
  for (time_t t : {now, now - 60}) {
    tm local{};
    ::localtime_r(&t, &local);
    const ClockInstant instant{local.tm_year + 1900, local.tm_mon + 1, local.tm_mday,
                               local.tm_hour,        local.tm_min,     local.tm_sec};
    if (AcceptStatusReply(instant, reply)) return true;
  }
  return false;
}

class TempDir {
 public:
  TempDir() : path_(fs::temp_directory_path() / ("clocksim-exe-" + std::to_string(::getpid()))) {
    fs::remove_all(path_);
    fs::create_directories(path_);
  }
  ~TempDir() { fs::remove_all(path_); }
  const fs::path& Path() const { return path_; }

 private:
  fs::path path_;
};

TEST(ClockSimExecutableTest, AnswersAndWithdrawsLinkAndRegistrationOnTermination) {
  TempDir dir;
  const std::string link = (dir.Path() / "COM6").string();
  const std::string hive = (dir.Path() / "registry").string();
  SimProcess sim({"--link", link, "--register", hive});
  const std::string path = sim.ReadLine();
  ASSERT_EQ(path.rfind("/dev/pts/", 0), 0u) << path << sim.Errors();
  EXPECT_EQ(fs::read_symlink(link), path);

  ::setenv("TAVEX_REGISTRY_DIR", hive.c_str(), 1);
  const std::string valueName = "tavexsim" + std::to_string(sim.Pid());
  platform::RegistryKey key;
  ASSERT_EQ(platform::RegistryKey::Open(platform::RegRoot::LocalMachine,
                                        "HARDWARE\\DEVICEMAP\\SERIALCOMM", key),
            platform::RegResult::kSuccess);
  platform::RegType type{};
  std::string data;
  ASSERT_EQ(key.QueryValue(valueName, type, data), platform::RegResult::kSuccess);
  EXPECT_EQ(type, platform::RegType::Sz);
  EXPECT_EQ(data.substr(0, data.find('\0')), link);

  const std::string reply = ReadBack(link);
  ASSERT_EQ(reply.size(), 19u) << reply;
  EXPECT_TRUE(AcceptedNow(reply)) << reply;

  EXPECT_EQ(sim.Terminate(SIGTERM), 0);
  EXPECT_FALSE(fs::exists(fs::symlink_status(link)));
  EXPECT_EQ(key.QueryValue(valueName, type, data), platform::RegResult::kFileNotFound);
  EXPECT_NE(sim.Errors().find("1 frames, 0 bad frames, 1 replies"), std::string::npos);
  ::unsetenv("TAVEX_REGISTRY_DIR");
}

// A registration that fails names its cause by kind: here the hive file is a folder.
TEST(ClockSimExecutableTest, ARegistrationThatFailsSaysWhyAndEndsTheSimulator) {
  TempDir dir;
  const std::string hive = (dir.Path() / "registry").string();
  fs::create_directories(fs::path(hive) / "HKEY_LOCAL_MACHINE.reg");
  SimProcess sim({"--link", (dir.Path() / "COM8").string(), "--register", hive});
  EXPECT_EQ(sim.Wait(), 1);
  EXPECT_NE(sim.Errors().find("cannot register the port in " + hive + ": errno " +
                              std::to_string(EISDIR) + ", " + std::strerror(EISDIR)),
            std::string::npos)
      << sim.Errors();
  EXPECT_FALSE(fs::exists(fs::symlink_status(dir.Path() / "COM8")));
}

TEST(ClockSimExecutableTest, HangsUpAndComesBackBehindTheSameLink) {
  TempDir dir;
  const std::string link = (dir.Path() / "COM7").string();
  SimProcess sim({"--link", link, "--fault", "1:hangup=1", "--reconnect-ms", "200"});
  ASSERT_FALSE(sim.ReadLine().empty()) << sim.Errors();

  int fd = -1;
  EXPECT_EQ(ReadBack(link, &fd), "");
  ASSERT_GE(fd, 0);
  // The far end has gone: the port sees a hang-up rather than silence.
  pollfd pfd{fd, POLLIN, 0};
  ASSERT_EQ(::poll(&pfd, 1, 1000), 1);
  EXPECT_NE(pfd.revents & POLLHUP, 0);
  ::close(fd);

  const std::string second = sim.ReadLine();
  ASSERT_FALSE(second.empty()) << sim.Errors();
  EXPECT_EQ(fs::read_symlink(link), second);
  const std::string reply = ReadBack(link);
  EXPECT_EQ(reply.size(), 19u);
  EXPECT_EQ(sim.Terminate(SIGINT), 0);
}

// A pseudo-terminal's slave stands in for the far end of a real cable: the simulator opens it as
// a device, and this test talks to it through the master.
TEST(ClockSimExecutableTest, ServesADeviceUntilItGoesAway) {
  platform::PseudoTerminal cable;
  ASSERT_EQ(cable.Create(), 0);
  SimProcess sim({"--device", cable.SlavePath()});
  ASSERT_EQ(sim.ReadLine(), cable.SlavePath()) << sim.Errors();
  const char frame[] = {'\0', 'R'};
  ASSERT_EQ(::write(cable.MasterFd(), frame, 2), 2);
  std::string reply;
  const auto deadline = Clock::now() + 1500ms;
  while (reply.size() < 19 && Clock::now() < deadline) {
    pollfd pfd{cable.MasterFd(), POLLIN, 0};
    if (::poll(&pfd, 1, 100) <= 0) continue;
    char buffer[32];
    const ssize_t n = ::read(cable.MasterFd(), buffer, sizeof buffer);
    if (n > 0) reply.append(buffer, static_cast<std::size_t>(n));
  }
  EXPECT_TRUE(AcceptedNow(reply)) << reply;
  // A device that disappears ends the simulator with a failure instead of a busy loop.
  cable.Close();
  EXPECT_EQ(sim.Wait(), 1);
  EXPECT_NE(sim.Errors().find("line failed"), std::string::npos);
}

TEST(ClockSimExecutableTest, HelpAndRefusedArguments) {
  {
    SimProcess sim({"--help"});
    const std::string help = sim.ReadAll();
    EXPECT_EQ(sim.Wait(), 0);
    for (const char* word : {"--device",
                             "--link",
                             "--register",
                             "--log",
                             "--byte-time-us",
                             "--answer-delay-ms",
                             "--resync-gap-ms",
                             "--fault",
                             "--control",
                             "--reconnect-ms",
                             "--temperature",
                             "--pressure",
                             "--offset",
                             "--durations",
                             "--brightness",
                             "silent",
                             "late",
                             "wrong-minute",
                             "no-temperature",
                             "below-zero",
                             "degree-letters",
                             "nul",
                             "bad-digit",
                             "truncate",
                             "noise",
                             "hangup",
                             "drift"}) {
      EXPECT_NE(help.find(word), std::string::npos) << word;
    }
  }
  TempDir dir;
  const std::string plainFile = (dir.Path() / "not-a-link").string();
  std::ofstream(plainFile) << "keep\n";
  for (const std::vector<std::string>& bad :
       {std::vector<std::string>{"--fault", "9:silent"},
        std::vector<std::string>{"--temperature", "21"},
        std::vector<std::string>{"--durations", "55x3"},
        std::vector<std::string>{"--device", "/nonexistent/tty"},
        std::vector<std::string>{"--link", plainFile}}) {
    SimProcess sim(bad);
    EXPECT_EQ(sim.ReadLine(1000ms), "") << bad[0];
    const int status = sim.Wait();
    EXPECT_TRUE(status == 1 || status == 2) << bad[0] << " " << status;
  }
  // A --link naming an ordinary file leaves that file alone.
  EXPECT_TRUE(fs::is_regular_file(fs::symlink_status(plainFile)));
}

}  // namespace
}  // namespace tavex
