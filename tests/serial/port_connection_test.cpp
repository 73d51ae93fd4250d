// SPDX-License-Identifier: GPL-3.0-or-later
// Opening and closing the port over pseudo-terminals: the order of the notifications, failures of
// the device and what they leave behind, deferred opening, destruction.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/pseudo_terminal.h"
#include "serial/ComPort.h"
#include "support/scratch.h"

namespace tavex {
namespace {

using test::ThreadCount;

// Records every notification of the port as a short word.
void Record(TCustomComPort& port, std::vector<std::string>& log) {
  port.OnBeforeOpen = [&](TCustomComPort& p) {
    log.push_back(p.Connected() ? "BeforeOpen(open)" : "BeforeOpen");
  };
  port.OnAfterOpen = [&](TCustomComPort& p) {
    log.push_back(p.Connected() ? "AfterOpen" : "AfterOpen(closed)");
  };
  port.OnBeforeClose = [&](TCustomComPort&) { log.push_back("BeforeClose"); };
  port.OnAfterClose = [&](TCustomComPort& p) {
    log.push_back(p.Connected() ? "AfterClose(open)" : "AfterClose");
  };
  port.OnCTSChange = [&](TCustomComPort&, bool on) { log.push_back(on ? "CTS+" : "CTS-"); };
  port.OnDSRChange = [&](TCustomComPort&, bool on) { log.push_back(on ? "DSR+" : "DSR-"); };
  port.OnRLSDChange = [&](TCustomComPort&, bool on) { log.push_back(on ? "RLSD+" : "RLSD-"); };
}

class PortOnPty : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pty.Create(), 0);
    port.SetPort(pty.SlavePath());
  }
  // What the far end received within a short while.
  std::string Received() {
    std::string got;
    char buffer[256];
    for (int i = 0; i < 50; ++i) {
      ssize_t n = ::read(pty.MasterFd(), buffer, sizeof buffer);
      if (n > 0) {
        got.append(buffer, static_cast<std::size_t>(n));
        break;
      }
      ::usleep(10000);
    }
    return got;
  }
  platform::PseudoTerminal pty;
  TComPort port;
};

TEST_F(PortOnPty, OpenAndCloseRaiseTheirNotificationsInOrder) {
  std::vector<std::string> log;
  Record(port, log);
  port.Open();
  EXPECT_TRUE(port.Connected());
  // A pseudo-terminal has no modem lines: every signal reads off.
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeOpen", "AfterOpen", "CTS-", "DSR-", "RLSD-"}));
  log.clear();
  port.Open();
  EXPECT_TRUE(log.empty()) << "Open on an open port does nothing";

  port.Close();
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(log, (std::vector<std::string>{"CTS-", "DSR-", "RLSD-", "BeforeClose", "AfterClose"}));
  log.clear();
  port.Close();
  port.SetConnected(false);
  EXPECT_TRUE(log.empty()) << "Close on a closed port does nothing";

  port.SetConnected(true);
  EXPECT_TRUE(port.Connected());
  port.SetConnected(false);
  EXPECT_FALSE(port.Connected());
}

TEST_F(PortOnPty, AMissingDeviceLeavesThePortClosed) {
  std::vector<std::string> log;
  Record(port, log);
  port.SetPort("/dev/tavex-no-such-device");
  try {
    port.Open();
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), peOpenFailed);
    EXPECT_EQ(e.SystemCode(), ENOENT);
    EXPECT_EQ(std::string(e.what()),
              "Unable to open com port (win error code: " + std::to_string(ENOENT) + ")");
  }
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeOpen"}));
  EXPECT_NO_THROW(port.Close());
}

TEST_F(PortOnPty, ABusyDeviceFailsAndTheHolderKeepsWorking) {
  port.Open();
  TComPort second;
  second.SetPort(pty.SlavePath());
  try {
    second.Open();
    FAIL() << "opened a device held by another port";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), peOpenFailed);
    EXPECT_EQ(e.SystemCode(), EBUSY);
  }
  EXPECT_FALSE(second.Connected());
  EXPECT_EQ(port.WriteStr("ok"), 2);
  EXPECT_EQ(Received(), "ok");
  port.Close();
  EXPECT_NO_THROW(second.Open()) << "free again once closed";
}

TEST_F(PortOnPty, TheEventThreadRunsOnlyWhenEventsAreWatched) {
  std::size_t before = ThreadCount();
  port.Open();
  EXPECT_EQ(ThreadCount(), before + 1);
  port.SetEvents({});
  EXPECT_EQ(ThreadCount(), before + 1) << "Events take effect at the next open";
  port.Close();
  EXPECT_EQ(ThreadCount(), before);

  std::vector<std::string> log;
  Record(port, log);
  port.Open();
  EXPECT_EQ(ThreadCount(), before);
  port.Close();
  EXPECT_EQ(log, (std::vector<std::string>{"BeforeOpen", "AfterOpen", "CTS-", "DSR-", "RLSD-",
                                           "CTS-", "DSR-", "RLSD-", "BeforeClose", "AfterClose"}));
}

TEST_F(PortOnPty, LoadedOpensADeferredConnectionAndReportsItsFailure) {
  std::vector<std::string> reports;
  SetDefaultExceptionReporter([&](const std::exception& e) { reports.push_back(e.what()); });
  port.BeginLoading();
  port.SetConnected(true);
  EXPECT_FALSE(port.Connected());
  port.Loaded();
  EXPECT_TRUE(port.Connected());
  EXPECT_TRUE(reports.empty());

  TComPort missing;
  missing.SetPort("/dev/tavex-no-such-device");
  missing.BeginLoading();
  missing.SetConnected(true);
  EXPECT_NO_THROW(missing.Loaded());
  SetDefaultExceptionReporter(nullptr);
  EXPECT_FALSE(missing.Connected());
  ASSERT_EQ(reports.size(), 1u);
  EXPECT_EQ(reports[0].rfind("Unable to open com port", 0), 0u);
}

struct Observer final : TComPortObserver {
  void ComPortDestroyed(TCustomComPort& port) override { destroyed.push_back(&port); }
  std::vector<TCustomComPort*> destroyed;
};

TEST_F(PortOnPty, DestroyingAnOpenPortTellsObserversAndReleasesTheDevice) {
  Observer told, removed;
  std::vector<std::string> log;
  auto doomed = std::make_unique<TComPort>();
  doomed->SetPort(pty.SlavePath());
  doomed->FreeNotification(&told);
  doomed->FreeNotification(&told);
  doomed->FreeNotification(&removed);
  doomed->RemoveFreeNotification(&removed);
  doomed->Open();
  Record(*doomed, log);
  TCustomComPort* address = doomed.get();
  doomed.reset();
  EXPECT_EQ(told.destroyed, (std::vector<TCustomComPort*>{address}));
  EXPECT_TRUE(removed.destroyed.empty());
  EXPECT_EQ(log.back(), "AfterClose");
  EXPECT_NO_THROW(port.Open());
}

TEST(PortSetupDialog, RunsTheRegisteredDialogOrSaysNoneIsRegistered) {
  TComPort port;
  TCustomComPort::RegisterSetupDialog(nullptr);
  EXPECT_THROW(port.ShowSetupDialog(), std::logic_error);
  TCustomComPort* shown = nullptr;
  TCustomComPort::RegisterSetupDialog([&](TCustomComPort& p) { shown = &p; });
  port.ShowSetupDialog();
  TCustomComPort::RegisterSetupDialog(nullptr);
  EXPECT_EQ(shown, &port);
}

}  // namespace
}  // namespace tavex
