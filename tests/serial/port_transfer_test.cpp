// SPDX-License-Identifier: GPL-3.0-or-later
// Transfers and queries with the time-outs the operator program uses (a read returns at once
// with what is queued), on a closed port, and when the far end hangs up.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <functional>
#include <string>

#include "platform/pseudo_terminal.h"
#include "serial/ComPort.h"

namespace tavex {
namespace {

using Clock = std::chrono::steady_clock;
using namespace std::chrono_literals;

class Transfers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pty.Create(), 0);
    port.SetPort(pty.SlavePath());
    port.SetBaudRate(br4800);
    port.SetDiscardNull(true);
    port.Open();
  }
  void FarEndSends(const std::string& bytes) {
    ASSERT_EQ(::write(pty.MasterFd(), bytes.data(), bytes.size()),
              static_cast<ssize_t>(bytes.size()));
  }
  // Waits (at most two seconds) until the port counts `n` bytes waiting.
  void AwaitQueued(std::int32_t n) {
    auto deadline = Clock::now() + 2s;
    while (port.InputCount() < n && Clock::now() < deadline) ::usleep(2000);
    ASSERT_EQ(port.InputCount(), n);
  }
  platform::PseudoTerminal pty;
  TComPort port;
};

TEST_F(Transfers, AReadReturnsAtOnceWithWhatIsQueued) {
  std::string reply = "stale";
  auto start = Clock::now();
  EXPECT_EQ(port.ReadStr(reply, 12), 0);
  EXPECT_EQ(reply, "");
  EXPECT_LT(Clock::now() - start, 200ms);

  FarEndSends("12345");
  AwaitQueued(5);
  start = Clock::now();
  EXPECT_EQ(port.ReadStr(reply, 12), 5);
  EXPECT_LT(Clock::now() - start, 200ms);
  EXPECT_EQ(reply, "12345");
}

TEST_F(Transfers, ALongReplyIsReadInPartsAndClearedWithTheBuffer) {
  FarEndSends("ABCDEFGHIJKLMNOPQRSTUVWXY");
  AwaitQueued(25);
  std::string reply;
  EXPECT_EQ(port.ReadStr(reply, 19), 19);
  EXPECT_EQ(reply, "ABCDEFGHIJKLMNOPQRS");
  EXPECT_EQ(port.InputCount(), 6);
  port.ClearBuffer(true, true);
  EXPECT_EQ(port.InputCount(), 0);
  EXPECT_EQ(port.ReadStr(reply, 19), 0);
  EXPECT_EQ(reply, "");
  port.ClearBuffer(false, false);
}

TEST_F(Transfers, ReceivedNulBytesAreNeitherCountedNorRead) {
  FarEndSends(
      std::string("\0"
                  "12\0"
                  "34\0",
                  7));
  AwaitQueued(4);
  std::string reply;
  EXPECT_EQ(port.ReadStr(reply, 19), 4);
  EXPECT_EQ(reply, "1234");
}

TEST_F(Transfers, WritesReachTheFarEndAndCountNothingForEmptyText) {
  EXPECT_EQ(port.WriteStr(std::string("\0R", 2)), 2);
  EXPECT_EQ(port.WriteStr(""), 0);
  std::string got;
  auto deadline = Clock::now() + 2s;
  char buffer[16];
  while (got.size() < 2 && Clock::now() < deadline) {
    ssize_t n = ::read(pty.MasterFd(), buffer, sizeof buffer);
    if (n > 0) got.append(buffer, static_cast<std::size_t>(n));
    ::usleep(2000);
  }
  EXPECT_EQ(got, std::string("\0R", 2));
  std::string reply = "x";
  EXPECT_EQ(port.ReadStr(reply, 0), 0);
  EXPECT_EQ(reply, "");
  EXPECT_EQ(port.ReadStr(reply, -3), 0);
}

constexpr int kAnySystemCode = -2;

void ExpectError(const std::function<void()>& operation, TPortError code, int systemCode) {
  try {
    operation();
    ADD_FAILURE() << "no error, expected code " << code;
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), code);
    if (systemCode == kAnySystemCode) {
      EXPECT_GT(e.SystemCode(), 0) << "code " << code;
    } else {
      EXPECT_EQ(e.SystemCode(), systemCode) << "code " << code;
    }
  }
}

TEST(ClosedPort, DeviceOperationsFailWithTheirOwnCode) {
  TComPort port;
  std::string text = "keep";
  ExpectError([&] { port.WriteStr("R"); }, peWriteFailed, EBADF);
  ExpectError([&] { port.ReadStr(text, 12); }, peReadFailed, EBADF);
  ExpectError([&] { port.ClearBuffer(true, true); }, pePurgeFailed, EBADF);
  ExpectError([&] { port.InputCount(); }, peClearErrorFailed, EBADF);
  ExpectError([&] { port.LineErrors(); }, peClearErrorFailed, EBADF);
  ExpectError([&] { port.LineSignals(); }, peModemStatusFailed, EBADF);
  // Nothing to move: no device call, no error.
  EXPECT_EQ(port.WriteStr(""), 0);
  EXPECT_EQ(port.ReadStr(text, 0), 0);
  EXPECT_EQ(text, "");
}

TEST_F(Transfers, AHungUpFarEndFailsTransfersAtOnceAndCloseStillWorks) {
  pty.Close();
  std::string reply;
  auto start = Clock::now();
  ExpectError([&] { port.WriteStr("R"); }, peWriteFailed, kAnySystemCode);
  ExpectError([&] { port.ReadStr(reply, 19); }, peReadFailed, kAnySystemCode);
  EXPECT_LT(Clock::now() - start, 500ms) << "no waiting out the write time-out";
  EXPECT_NO_THROW(port.Close());
  EXPECT_FALSE(port.Connected());
}

}  // namespace
}  // namespace tavex
