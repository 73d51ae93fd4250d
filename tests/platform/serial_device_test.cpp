// SPDX-License-Identifier: GPL-3.0-or-later
// The serial driver stand-in over real pseudo-terminals: the test holds the master end and plays
// the far side of the line.
#include <dirent.h>
#include <fcntl.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <termios.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <future>
#include <string>
#include <thread>
#include <vector>

#include "platform/pseudo_terminal.h"
#include "platform/serial_device.h"

namespace tavex::platform {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
constexpr std::uint32_t kMax = Timeouts::kMaxDword;

long long MillisecondsSince(Clock::time_point start) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start).count();
}

// User plus system CPU time of the whole process, in milliseconds.
long long CpuMilliseconds() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return (usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1000LL +
         (usage.ru_utime.tv_usec + usage.ru_stime.tv_usec) / 1000;
}

int OpenDescriptorCount() {
  int count = 0;
  for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    ++count;
  }
  return count;
}

// The driver's own descriptor of `devicePath`, found in /proc/self/fd (a second open of the
// device is refused), or -1.
int DriverDescriptor(const std::string& devicePath) {
  for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
    std::error_code error;
    if (std::filesystem::read_symlink(entry.path(), error) == devicePath) {
      return std::stoi(entry.path().filename().string());
    }
  }
  return -1;
}

termios ActualTermios(const std::string& devicePath) {
  termios tio{};
  int fd = DriverDescriptor(devicePath);
  EXPECT_GE(fd, 0) << "no descriptor for " << devicePath;
  if (fd >= 0) {
    EXPECT_EQ(tcgetattr(fd, &tio), 0);
  }
  return tio;
}

class SerialDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pty_.Create(), 0);
    Errno error{-1};
    device_ = SerialDevice::Open(pty_.SlavePath(), error);
    ASSERT_NE(device_, nullptr) << "errno " << Value(error);
    ASSERT_EQ(error, kNoError);
  }

  // Sends from the far end and waits until the kernel has handed the bytes to the near end.
  void Send(const std::string& bytes) {
    const int near = DriverDescriptor(pty_.SlavePath());
    int before = 0;
    ioctl(near, FIONREAD, &before);
    ASSERT_EQ(::write(pty_.MasterFd(), bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
    // The kernel hands the bytes over on a worker thread: wait until they are readable.
    const auto deadline = Clock::now() + 2s;
    int now = 0;
    while (ioctl(near, FIONREAD, &now) == 0 && now < before + static_cast<int>(bytes.size()) &&
           Clock::now() < deadline) {
      std::this_thread::sleep_for(2ms);
    }
  }

  // What arrived at the far end within `wait`.
  std::string Receive(std::chrono::milliseconds wait = 200ms) {
    std::string got;
    auto deadline = Clock::now() + wait;
    while (Clock::now() < deadline) {
      pollfd fd{pty_.MasterFd(), POLLIN, 0};
      if (::poll(&fd, 1, 20) <= 0) {
        if (!got.empty()) break;
        continue;
      }
      char buffer[256];
      ssize_t n = ::read(pty_.MasterFd(), buffer, sizeof buffer);
      if (n <= 0) break;
      got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
  }

  void SetReadTimeouts(std::uint32_t interval, std::uint32_t multiplier, std::uint32_t constant) {
    Timeouts t;
    t.readInterval = interval;
    t.readTotalMultiplier = multiplier;
    t.readTotalConstant = constant;
    ASSERT_EQ(device_->SetTimeouts(t), kNoError);
  }

  std::string ReadString(std::size_t length, Errno* errorOut = nullptr) {
    std::string buffer(length, '\0');
    std::size_t got = 99999;
    Errno error = device_->Read(buffer.data(), length, got);
    if (errorOut) {
      *errorOut = error;
    } else {
      EXPECT_EQ(error, kNoError);
    }
    EXPECT_LE(got, length);
    buffer.resize(std::min(got, length));
    return buffer;
  }

  std::uint32_t Waiting() {
    CommStatus status;
    EXPECT_EQ(device_->ClearError(status), kNoError);
    return status.inQueue;
  }

  // WaitEvent with a bound: a wait still pending after `limit` is cancelled (ECANCELED).
  Errno WaitWithLimit(std::uint32_t& occurred, std::chrono::milliseconds limit) {
    auto result = std::async(std::launch::async, [&] { return device_->WaitEvent(occurred); });
    if (result.wait_for(limit) == std::future_status::timeout) device_->CancelWait();
    Errno error = result.get();
    device_->ResetCancel();
    return error;
  }

  PseudoTerminal pty_;
  std::unique_ptr<SerialDevice> device_;
};

// ---- Opening ----

TEST_F(SerialDeviceTest, SecondOpenIsBusyAndTheHolderKeepsWorking) {
  Errno error = kNoError;
  EXPECT_EQ(SerialDevice::Open(pty_.SlavePath(), error), nullptr);
  EXPECT_EQ(error, Errno{EBUSY});

  SetReadTimeouts(kMax, 0, 0);
  Send("ping");
  EXPECT_EQ(ReadString(10), "ping");
  std::size_t written = 0;
  ASSERT_EQ(device_->Write("pong", 4, written), kNoError);
  EXPECT_EQ(written, 4u);
  EXPECT_EQ(Receive(), "pong");

  // Closing releases both locks, so the device can be opened again.
  device_.reset();
  auto again = SerialDevice::Open(pty_.SlavePath(), error);
  EXPECT_NE(again, nullptr) << "errno " << Value(error);
}

TEST(SerialDeviceOpenTest, RespectsAnExclusiveHolderThatDoesNotLock) {
  PseudoTerminal pty;
  ASSERT_EQ(pty.Create(), 0);
  int other = ::open(pty.SlavePath().c_str(), O_RDWR | O_NOCTTY | O_CLOEXEC);
  ASSERT_GE(other, 0);
  ASSERT_EQ(ioctl(other, TIOCEXCL), 0);  // exclusive by the kernel's flag alone, no flock
  Errno error = kNoError;
  EXPECT_EQ(SerialDevice::Open(pty.SlavePath(), error), nullptr);
  EXPECT_EQ(error, Errno{EBUSY});
  ioctl(other, TIOCNXCL);
  ::close(other);
  auto device = SerialDevice::Open(pty.SlavePath(), error);
  EXPECT_NE(device, nullptr) << "errno " << Value(error);
}

TEST(SerialDeviceOpenTest, ReportsWhyAnOpenFailed) {
  Errno error = kNoError;
  EXPECT_EQ(SerialDevice::Open("/dev/tavex-no-such-device", error), nullptr);
  EXPECT_EQ(error, Errno{ENOENT});
  // Not a terminal: refused rather than half-configured.
  EXPECT_EQ(SerialDevice::Open("/dev/null", error), nullptr);
  EXPECT_EQ(error, Errno{ENOTTY});
}

TEST(SerialDeviceOpenTest, PermissionDeniedIsEacces) {
  if (geteuid() == 0) GTEST_SKIP() << "root opens any file regardless of its mode bits";
  auto path = std::filesystem::temp_directory_path() / ("tavex-noperm-" + std::to_string(getpid()));
  { std::ofstream(path) << "x"; }
  std::filesystem::permissions(path, std::filesystem::perms::none);
  Errno error = kNoError;
  EXPECT_EQ(SerialDevice::Open(path.string(), error), nullptr);
  EXPECT_EQ(error, Errno{EACCES});
  std::filesystem::remove(path);
}

TEST(SerialDeviceOpenTest, NoDescriptorLeaksOnAnyPath) {
  PseudoTerminal pty;
  ASSERT_EQ(pty.Create(), 0);
  const int before = OpenDescriptorCount();
  for (int round = 0; round < 3; ++round) {
    Errno error = kNoError;
    auto holder = SerialDevice::Open(pty.SlavePath(), error);
    ASSERT_NE(holder, nullptr);
    holder->SetEventMask(kEvRxChar);
    EXPECT_EQ(SerialDevice::Open(pty.SlavePath(), error), nullptr);  // busy
    EXPECT_EQ(SerialDevice::Open("/dev/null", error), nullptr);      // not a terminal
    EXPECT_EQ(SerialDevice::Open("/nonexistent/tty", error), nullptr);
  }
  EXPECT_EQ(OpenDescriptorCount(), before);
}

// ---- Line settings ----

TEST_F(SerialDeviceTest, AcceptsEveryLineSettingAPseudoTerminalCanTake) {
  // Optional ioctls (modem lines, RS-485) fail on a pseudo-terminal; that must not matter.
  for (std::uint32_t rate :
       {110u, 300u, 4800u, 9600u, 14400u, 56000u, 115200u, 128000u, 256000u, 12345u}) {
    LineSettings s;
    s.baudRate = rate;
    EXPECT_EQ(device_->SetLineSettings(s), kNoError) << rate;
  }
  for (std::uint8_t bits = 5; bits <= 8; ++bits) {
    for (std::uint8_t parity = 0; parity <= 4; ++parity) {
      for (std::uint8_t stop = 0; stop <= 2; ++stop) {
        LineSettings s;
        s.byteSize = bits;
        s.parity = parity;
        s.stopBits = stop;
        EXPECT_EQ(device_->SetLineSettings(s), kNoError) << int{bits} << int{parity} << int{stop};
      }
    }
  }
  for (std::uint8_t dtr = 0; dtr <= 2; ++dtr) {
    for (std::uint8_t rts = 0; rts <= 3; ++rts) {
      LineSettings s;
      s.dtrControl = dtr;
      s.rtsControl = rts;
      s.outxCtsFlow = rts == 2;
      s.outX = s.inX = dtr == 1;
      EXPECT_EQ(device_->SetLineSettings(s), kNoError) << int{dtr} << int{rts};
    }
  }
  std::uint32_t lines = 0xFFFF;
  EXPECT_EQ(device_->ModemStatus(lines), kNoError);
  EXPECT_EQ(lines, 0u);  // a pseudo-terminal has no modem lines: all off
}

struct TermiosCase {
  const char* name;
  void (*change)(LineSettings&);
  tcflag_t cflagMask, cflag;
  tcflag_t iflagMask, iflag;
};

TEST_F(SerialDeviceTest, LineSettingsReachTheTerminal) {
  constexpr tcflag_t kBother = 0010000;  // the kernel's "rate in c_ospeed" code
  // A pseudo-terminal forces CS8 and clears PARENB whatever it is given; the other framing
  // bits stay as set.
  constexpr tcflag_t kFraming = PARODD | CMSPAR | CSTOPB;
  const TermiosCase cases[] = {
      {"4800 8N1", [](LineSettings& s) { s.baudRate = 4800; }, CBAUD | kFraming | CRTSCTS, B4800,
       IXON | IXOFF | INPCK | PARMRK, 0},
      {"custom rate", [](LineSettings& s) { s.baudRate = 12345; }, CBAUD, kBother, 0, 0},
      {"7O1", [](LineSettings& s) { s.byteSize = 7, s.parity = 1; }, kFraming, PARODD, 0, 0},
      {"5E1.5", [](LineSettings& s) { s.byteSize = 5, s.parity = 2, s.stopBits = 1; }, kFraming,
       CSTOPB, 0, 0},
      {"6M2", [](LineSettings& s) { s.byteSize = 6, s.parity = 3, s.stopBits = 2; }, kFraming,
       PARODD | CMSPAR | CSTOPB, 0, 0},
      {"8S1", [](LineSettings& s) { s.parity = 4; }, kFraming, CMSPAR, 0, 0},
      {"RTS handshake", [](LineSettings& s) { s.rtsControl = 2; }, CRTSCTS, CRTSCTS, 0, 0},
      {"CTS flow", [](LineSettings& s) { s.outxCtsFlow = true; }, CRTSCTS, CRTSCTS, 0, 0},
      {"Xon/Xoff", [](LineSettings& s) { s.outX = s.inX = true; }, CRTSCTS, 0, IXON | IXOFF,
       IXON | IXOFF},
      {"parity check", [](LineSettings& s) { s.parityCheck = true; }, 0, 0,
       INPCK | PARMRK | IGNPAR | ISTRIP, INPCK | PARMRK},
  };
  for (const TermiosCase& c : cases) {
    LineSettings s;
    s.xonChar = 0x11;
    s.xoffChar = 0x13;
    c.change(s);
    ASSERT_EQ(device_->SetLineSettings(s), kNoError) << c.name;
    termios tio = ActualTermios(pty_.SlavePath());
    EXPECT_EQ(tio.c_cflag & c.cflagMask, c.cflag) << c.name;
    EXPECT_EQ(tio.c_iflag & c.iflagMask, c.iflag) << c.name;
    // Always raw, local and receiving, whatever else changed.
    EXPECT_EQ(tio.c_cflag & (CLOCAL | CREAD), tcflag_t{CLOCAL | CREAD}) << c.name;
    EXPECT_EQ(tio.c_lflag & (ICANON | ECHO | ISIG | IEXTEN), 0u) << c.name;
    EXPECT_EQ(tio.c_oflag & OPOST, 0u) << c.name;
    EXPECT_EQ(tio.c_iflag & (ICRNL | INLCR | IGNCR | ISTRIP), 0u) << c.name;
    EXPECT_EQ(tio.c_cc[VMIN], 1) << c.name;
    EXPECT_EQ(tio.c_cc[VTIME], 0) << c.name;
    EXPECT_EQ(tio.c_cc[VSTART], 0x11) << c.name;
    EXPECT_EQ(tio.c_cc[VSTOP], 0x13) << c.name;
  }
}

TEST_F(SerialDeviceTest, RefusesLineSettingsNoLineCanHave) {
  auto refused = [&](auto change) {
    LineSettings s;
    change(s);
    return device_->SetLineSettings(s) == Errno{EINVAL};
  };
  EXPECT_TRUE(refused([](LineSettings& s) { s.baudRate = 0; }));
  EXPECT_TRUE(refused([](LineSettings& s) { s.byteSize = 4; }));
  EXPECT_TRUE(refused([](LineSettings& s) { s.byteSize = 9; }));
  EXPECT_TRUE(refused([](LineSettings& s) { s.parity = 5; }));
  EXPECT_TRUE(refused([](LineSettings& s) { s.stopBits = 3; }));
  EXPECT_EQ(device_->SetupQueues(1u << 30, 1024), Errno{ENOMEM});  // no gigabyte queues
}

// ---- Read time-outs ----

TEST_F(SerialDeviceTest, IntervalMaxWithoutTotalsReturnsWhatIsQueuedAtOnce) {
  SetReadTimeouts(kMax, 0, 0);
  auto start = Clock::now();
  EXPECT_EQ(ReadString(12), "");
  EXPECT_LT(MillisecondsSince(start), 250);

  Send("abcdefghijklmnopqrstuvwxy");  // 25 bytes
  EXPECT_EQ(ReadString(19), "abcdefghijklmnopqrs");
  EXPECT_EQ(Waiting(), 6u);
  EXPECT_EQ(ReadString(19), "tuvwxy");
}

TEST_F(SerialDeviceTest, FirstArrivalModeWaitsForTheFirstBytesUpToTheConstant) {
  SetReadTimeouts(kMax, kMax, 600);
  auto start = Clock::now();
  EXPECT_EQ(ReadString(10), "");
  EXPECT_GE(MillisecondsSince(start), 580);
  EXPECT_LT(MillisecondsSince(start), 2500);

  std::thread sender([&] {
    std::this_thread::sleep_for(80ms);
    ASSERT_EQ(::write(pty_.MasterFd(), "hi", 2), 2);
  });
  start = Clock::now();
  EXPECT_EQ(ReadString(10), "hi");
  EXPECT_LT(MillisecondsSince(start), 500);  // returned on arrival, not at the constant
  sender.join();

  Send("q");
  start = Clock::now();
  EXPECT_EQ(ReadString(10), "q");
  EXPECT_LT(MillisecondsSince(start), 250);
}

TEST_F(SerialDeviceTest, TotalTimeoutIsMultiplierTimesCountPlusConstant) {
  SetReadTimeouts(0, 20, 100);  // 10 bytes: 300 ms
  Send("abc");
  auto start = Clock::now();
  EXPECT_EQ(ReadString(10), "abc");
  EXPECT_GE(MillisecondsSince(start), 280);
  EXPECT_LT(MillisecondsSince(start), 1500);
}

TEST_F(SerialDeviceTest, IntervalTimeoutCountsFromTheLastByte) {
  SetReadTimeouts(400, 0, 0);
  std::thread sender([&] {
    std::this_thread::sleep_for(300ms);  // no limit until the first byte
    ASSERT_EQ(::write(pty_.MasterFd(), "ab", 2), 2);
    std::this_thread::sleep_for(80ms);  // within the interval
    ASSERT_EQ(::write(pty_.MasterFd(), "c", 1), 1);
  });
  auto start = Clock::now();
  EXPECT_EQ(ReadString(10), "abc");
  auto elapsed = MillisecondsSince(start);
  sender.join();
  EXPECT_GE(elapsed, 300 + 80 + 380);
  EXPECT_LT(elapsed, 3000);
}

TEST_F(SerialDeviceTest, AllZeroTimeoutsBlockUntilTheCountArrives) {
  SetReadTimeouts(0, 0, 0);
  std::thread sender([&] {
    ASSERT_EQ(::write(pty_.MasterFd(), "123", 3), 3);
    std::this_thread::sleep_for(250ms);
    ASSERT_EQ(::write(pty_.MasterFd(), "45", 2), 2);
  });
  auto start = Clock::now();
  EXPECT_EQ(ReadString(5), "12345");
  EXPECT_GE(MillisecondsSince(start), 230);
  sender.join();
}

TEST_F(SerialDeviceTest, ReadOfNothingTouchesNothing) {
  SetReadTimeouts(0, 0, 0);  // would block for ever if it waited
  std::size_t got = 7;
  EXPECT_EQ(device_->Read(nullptr, 0, got), kNoError);
  EXPECT_EQ(got, 0u);
  std::size_t written = 7;
  EXPECT_EQ(device_->Write(nullptr, 0, written), kNoError);
  EXPECT_EQ(written, 0u);
}

// ---- Write time-outs ----

TEST_F(SerialDeviceTest, WriteStopsAtItsTotalTimeoutWithAShortCount) {
  Timeouts t;
  t.writeTotalConstant = 200;
  ASSERT_EQ(device_->SetTimeouts(t), kNoError);
  std::vector<char> big(1 << 20, 'x');  // far more than the far end buffers
  std::size_t written = 0;
  auto start = Clock::now();
  EXPECT_EQ(device_->Write(big.data(), big.size(), written), kNoError);
  EXPECT_GT(written, 0u);
  EXPECT_LT(written, big.size());
  EXPECT_GE(MillisecondsSince(start), 180);
  EXPECT_LT(MillisecondsSince(start), 1500);
}

TEST_F(SerialDeviceTest, WriteWithoutLimitWaitsForRoom) {
  ASSERT_EQ(device_->SetTimeouts(Timeouts{}), kNoError);
  std::vector<char> big(200 * 1024, 'y');
  std::atomic<std::size_t> received{0};
  std::thread reader([&] {
    auto deadline = Clock::now() + 5s;
    while (received < big.size() && Clock::now() < deadline) {
      pollfd fd{pty_.MasterFd(), POLLIN, 0};
      if (::poll(&fd, 1, 50) <= 0) continue;
      char buffer[4096];
      ssize_t n = ::read(pty_.MasterFd(), buffer, sizeof buffer);
      if (n > 0) received += static_cast<std::size_t>(n);
    }
  });
  std::size_t written = 0;
  EXPECT_EQ(device_->Write(big.data(), big.size(), written), kNoError);
  EXPECT_EQ(written, big.size());
  reader.join();
  EXPECT_EQ(received, big.size());
}

// ---- The receive queue ----

TEST_F(SerialDeviceTest, NulBytesAreDroppedOnEntryOnlyWhenAsked) {
  SetReadTimeouts(kMax, 0, 0);
  Send(std::string("A\0B\0", 4));
  EXPECT_EQ(Waiting(), 4u);
  EXPECT_EQ(ReadString(10), std::string("A\0B\0", 4));

  LineSettings s;
  s.discardNull = true;
  ASSERT_EQ(device_->SetLineSettings(s), kNoError);
  Send(std::string("\0A\0\0B\0", 6));
  EXPECT_EQ(Waiting(), 2u);  // neither read nor counted
  EXPECT_EQ(ReadString(10), "AB");
}

TEST_F(SerialDeviceTest, ParityCheckingKeepsDataBytesFF) {
  // With parity checking the kernel marks errors with 0xFF and doubles a data 0xFF; neither
  // marking may reach the reader.
  LineSettings s;
  s.parityCheck = true;
  s.parity = 2;
  ASSERT_EQ(device_->SetLineSettings(s), kNoError);
  SetReadTimeouts(kMax, 0, 0);
  Send(
      "\xFF"
      "A\xFF\xFF"
      "B");
  EXPECT_EQ(ReadString(10),
            "\xFF"
            "A\xFF\xFF"
            "B");
  CommStatus status;
  ASSERT_EQ(device_->ClearError(status), kNoError);
  EXPECT_EQ(status.errors, 0u);
}

TEST_F(SerialDeviceTest, QueueRaisesEightyPercentAndOverflowsWithoutCorruption) {
  ASSERT_EQ(device_->SetupQueues(10, 10), kNoError);
  ASSERT_EQ(device_->SetupQueues(0, 0), kNoError);  // no particular size: the queue stays at 10
  ASSERT_EQ(device_->SetEventMask(kEvRx80Full | kEvErr), kNoError);
  std::uint32_t occurred = 0;
  Send("1234567");  // 70 %
  EXPECT_EQ(WaitWithLimit(occurred, 200ms), Errno{ECANCELED});
  Send("8");  // 80 %
  EXPECT_EQ(WaitWithLimit(occurred, 2s), kNoError);
  EXPECT_EQ(occurred, kEvRx80Full);

  Send("9ABCDE");  // two fit, four are lost
  EXPECT_EQ(WaitWithLimit(occurred, 2s), kNoError);
  EXPECT_EQ(occurred, kEvRx80Full | kEvErr);
  CommStatus status;
  ASSERT_EQ(device_->ClearError(status), kNoError);
  EXPECT_EQ(status.errors, kCeRxOver);
  EXPECT_EQ(status.inQueue, 10u);
  ASSERT_EQ(device_->ClearError(status), kNoError);
  EXPECT_EQ(status.errors, 0u);  // cleared by the first call

  SetReadTimeouts(kMax, 0, 0);
  EXPECT_EQ(ReadString(20), "123456789A");
  Send("xyz");  // the queue works on after an overflow
  EXPECT_EQ(ReadString(20), "xyz");
}

TEST_F(SerialDeviceTest, RxCharReportsArrivalsNotBytesStillWaiting) {
  ASSERT_EQ(device_->SetEventMask(kEvRxChar), kNoError);
  std::uint32_t occurred = 0;
  Send("abc");
  EXPECT_EQ(WaitWithLimit(occurred, 2s), kNoError);
  EXPECT_EQ(occurred, kEvRxChar);
  // The three bytes still wait in the queue; that is no new arrival.
  EXPECT_EQ(WaitWithLimit(occurred, 200ms), Errno{ECANCELED});
  EXPECT_EQ(Waiting(), 3u);
  Send("d");
  EXPECT_EQ(WaitWithLimit(occurred, 2s), kNoError);
  EXPECT_EQ(occurred, kEvRxChar);
}

// Bytes that arrived while the mask lacked EV_RXCHAR are no arrival once it holds it.
TEST_F(SerialDeviceTest, RxCharIsNotRaisedForBytesFromBeforeTheMaskHeldIt) {
  for (std::uint32_t before : {0u, kEvTxEmpty, kEvRxChar}) {
    ASSERT_EQ(device_->SetEventMask(before), kNoError);
    Send("early");
    ASSERT_EQ(device_->SetEventMask(kEvRxChar | kEvTxEmpty), kNoError);
    std::uint32_t occurred = 0;
    EXPECT_EQ(WaitWithLimit(occurred, 200ms), Errno{ECANCELED}) << before;
    EXPECT_EQ(Waiting(), 5u) << before;
    Send("x");
    EXPECT_EQ(WaitWithLimit(occurred, 2s), kNoError) << before;
    EXPECT_EQ(occurred, kEvRxChar) << before;
    ASSERT_EQ(device_->Purge(kPurgeRxClear), kNoError);
  }
}

TEST_F(SerialDeviceTest, EventCharacterRaisesRxFlag) {
  LineSettings s;
  s.evtChar = '\n';
  s.discardNull = true;
  ASSERT_EQ(device_->SetLineSettings(s), kNoError);
  ASSERT_EQ(device_->SetEventMask(kEvRxChar | kEvRxFlag), kNoError);
  std::uint32_t occurred = 0;
  Send("x");
  EXPECT_EQ(WaitWithLimit(occurred, 2s), kNoError);
  EXPECT_EQ(occurred, kEvRxChar);
  Send("y\n");
  EXPECT_EQ(WaitWithLimit(occurred, 2s), kNoError);
  EXPECT_EQ(occurred, kEvRxChar | kEvRxFlag);

  // A dropped NUL is not the event character 0.
  s.evtChar = 0;
  ASSERT_EQ(device_->SetLineSettings(s), kNoError);
  Send(std::string("\0", 1));
  EXPECT_EQ(WaitWithLimit(occurred, 200ms), Errno{ECANCELED});
}

// ---- Purge and status ----

TEST_F(SerialDeviceTest, PurgeEmptiesOurQueueAndTheKernels) {
  SetReadTimeouts(kMax, 0, 0);
  Send("stale bytes");
  ASSERT_EQ(device_->SetEventMask(kEvRxChar), kNoError);  // drains them into our queue
  EXPECT_EQ(Waiting(), 11u);
  Send("more");  // still in the kernel
  ASSERT_EQ(device_->Purge(kPurgeRxClear | kPurgeTxClear), kNoError);
  EXPECT_EQ(Waiting(), 0u);
  EXPECT_EQ(ReadString(20), "");
  Send("fresh");
  EXPECT_EQ(ReadString(20), "fresh");
  EXPECT_EQ(device_->Purge(0), kNoError);
  EXPECT_EQ(device_->Purge(kPurgeTxAbort | kPurgeRxAbort), kNoError);
}

TEST_F(SerialDeviceTest, AbortEndsATransferPendingInAnotherThread) {
  SetReadTimeouts(0, 0, 0);  // would wait for ever for 10 bytes
  Send("ab");
  auto read = std::async(std::launch::async, [&] { return ReadString(10); });
  std::this_thread::sleep_for(100ms);
  ASSERT_EQ(read.wait_for(0ms), std::future_status::timeout);
  ASSERT_EQ(device_->Purge(kPurgeRxAbort), kNoError);
  ASSERT_EQ(read.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(read.get(), "ab");  // what had arrived is kept

  std::vector<char> big(1 << 20, 'x');  // the far end never reads: the write blocks
  std::size_t written = 0;
  auto write = std::async(std::launch::async,
                          [&] { return device_->Write(big.data(), big.size(), written); });
  std::this_thread::sleep_for(100ms);
  ASSERT_EQ(write.wait_for(0ms), std::future_status::timeout);
  ASSERT_EQ(device_->Purge(kPurgeTxAbort | kPurgeTxClear), kNoError);
  ASSERT_EQ(write.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(write.get(), kNoError);
  EXPECT_LT(written, big.size());
}

// ---- Event waits ----

TEST_F(SerialDeviceTest, MaskChangeEndsAPendingWaitWithNothing) {
  ASSERT_EQ(device_->SetEventMask(kEvRxChar), kNoError);
  std::uint32_t occurred = 99;
  auto wait = std::async(std::launch::async, [&] { return device_->WaitEvent(occurred); });
  std::this_thread::sleep_for(100ms);
  ASSERT_EQ(wait.wait_for(0ms), std::future_status::timeout);
  ASSERT_EQ(device_->SetEventMask(kEvRxChar | kEvTxEmpty), kNoError);
  ASSERT_EQ(wait.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(wait.get(), kNoError);
  EXPECT_EQ(occurred, 0u);
}

TEST_F(SerialDeviceTest, CancelEndsThisWaitAndEveryOneUntilReset) {
  ASSERT_EQ(device_->SetEventMask(0), kNoError);
  std::uint32_t occurred = 0;
  auto wait = std::async(std::launch::async, [&] { return device_->WaitEvent(occurred); });
  std::this_thread::sleep_for(100ms);
  // Only one wait at a time.
  std::uint32_t second = 0;
  EXPECT_EQ(device_->WaitEvent(second), Errno{EBUSY});
  device_->CancelWait();
  ASSERT_EQ(wait.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(wait.get(), Errno{ECANCELED});
  EXPECT_EQ(device_->WaitEvent(occurred), Errno{ECANCELED});
  device_->ResetCancel();
  ASSERT_EQ(device_->SetEventMask(kEvRxChar), kNoError);
  Send("z");
  EXPECT_EQ(WaitWithLimit(occurred, 2s), kNoError);
  EXPECT_EQ(occurred, kEvRxChar);
}

TEST_F(SerialDeviceTest, TxEmptyFollowsAWrite) {
  ASSERT_EQ(device_->SetEventMask(kEvTxEmpty), kNoError);
  std::uint32_t occurred = 0;
  EXPECT_EQ(WaitWithLimit(occurred, 150ms), Errno{ECANCELED});  // nothing written yet
  std::size_t written = 0;
  ASSERT_EQ(device_->Write("abc", 3, written), kNoError);
  EXPECT_EQ(WaitWithLimit(occurred, 2s), kNoError);
  EXPECT_EQ(occurred, kEvTxEmpty);
  EXPECT_EQ(Receive(), "abc");
}

TEST_F(SerialDeviceTest, BytesReadByTheTransferThreadWakeNoStaleEvents) {
  // The waiting thread and the reading thread share the queue: bytes drained by one are seen by
  // the other, and a read that takes them all leaves no event pending for old bytes.
  SetReadTimeouts(0, 0, 0);
  ASSERT_EQ(device_->SetEventMask(kEvRxChar), kNoError);
  std::uint32_t occurred = 0;
  auto wait = std::async(std::launch::async, [&] { return device_->WaitEvent(occurred); });
  auto read = std::async(std::launch::async, [&] { return ReadString(8); });
  std::this_thread::sleep_for(50ms);
  ASSERT_EQ(::write(pty_.MasterFd(), "abcd", 4), 4);
  std::this_thread::sleep_for(50ms);
  ASSERT_EQ(::write(pty_.MasterFd(), "efgh", 4), 4);
  ASSERT_EQ(read.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(read.get(), "abcdefgh");
  ASSERT_EQ(wait.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(wait.get(), kNoError);
  EXPECT_EQ(occurred, kEvRxChar);
}

// ---- A device that goes away ----

TEST_F(SerialDeviceTest, HangUpDuringAReadFailsAtOnceWithoutSpinning) {
  SetReadTimeouts(0, 0, 0);
  std::thread closer([&] {
    std::this_thread::sleep_for(100ms);
    pty_.Close();
  });
  const auto cpuBefore = CpuMilliseconds();
  auto start = Clock::now();
  Errno error = kNoError;
  EXPECT_EQ(ReadString(10, &error), "");
  EXPECT_NE(error, kNoError);
  EXPECT_LT(MillisecondsSince(start), 1500);
  closer.join();

  // Every further transfer fails at once too.
  start = Clock::now();
  for (int i = 0; i < 100; ++i) ReadString(10, &error);
  EXPECT_NE(error, kNoError);
  std::size_t written = 0;
  EXPECT_NE(device_->Write("x", 1, written), kNoError);
  EXPECT_LT(MillisecondsSince(start), 500);
  EXPECT_LT(CpuMilliseconds() - cpuBefore, 300);

  // Status calls and the abort of Close still succeed; the error shows as an I/O error.
  CommStatus status;
  EXPECT_EQ(device_->ClearError(status), kNoError);
  EXPECT_EQ(status.errors & kCeIoe, kCeIoe);
  EXPECT_EQ(device_->Purge(kPurgeTxAbort | kPurgeRxAbort), kNoError);
}

TEST_F(SerialDeviceTest, HangUpDuringAWaitReportsAnErrorOnceAndThenSleeps) {
  ASSERT_EQ(device_->SetEventMask(kEvRxChar | kEvErr | kEvCts | kEvTxEmpty), kNoError);
  std::uint32_t occurred = 0;
  auto wait = std::async(std::launch::async, [&] { return device_->WaitEvent(occurred); });
  std::this_thread::sleep_for(100ms);
  pty_.Close();
  ASSERT_EQ(wait.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(wait.get(), kNoError);
  EXPECT_EQ(occurred, kEvErr);

  const auto cpuBefore = CpuMilliseconds();
  EXPECT_EQ(WaitWithLimit(occurred, 500ms), Errno{ECANCELED});
  EXPECT_LT(CpuMilliseconds() - cpuBefore, 100);
}

}  // namespace
}  // namespace tavex::platform
