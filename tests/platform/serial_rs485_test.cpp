// SPDX-License-Identifier: GPL-3.0-or-later
// The driver's RS-485 mode as an open port leaves it, over a stand-in for the two ioctls (no
// RS-485 driver is reachable here), and through a real device on a pseudo-terminal.
#include <gtest/gtest.h>

#include <cerrno>
#include <memory>
#include <optional>
#include <vector>

#include "platform/pseudo_terminal.h"
#include "platform/serial_device.h"
#include "platform/serial_rs485.h"

namespace tavex::platform {
namespace {

// A serial driver's RS-485 settings: none at all (no such ioctl), or one configuration that Set
// replaces as a driver does.
class DriverRs485 final : public Rs485Ioctls {
 public:
  explicit DriverRs485(std::optional<Rs485Config> config) : config_(config) {}

  int Get(int /*fd*/, Rs485Config& config) override {
    if (getError_ != 0) return getError_;
    if (!config_) return ENOTTY;
    config = *config_;
    return 0;
  }
  int Set(int /*fd*/, const Rs485Config& config) override {
    if (!config_) return ENOTTY;
    sets.push_back(config);
    config_ = config;
    return 0;
  }

  const std::optional<Rs485Config>& Config() const { return config_; }
  void FailGets(int error) { getError_ = error; }
  std::vector<Rs485Config> sets;

 private:
  std::optional<Rs485Config> config_;
  int getError_ = 0;
};

// What a board's device tree may set: RTS low while sending, delays, an address word.
Rs485Config SystemMode() {
  Rs485Config config;
  config.flags = kRs485Enabled | kRs485RtsAfterSend;
  config.delayRtsBeforeSend = 1;
  config.delayRtsAfterSend = 2;
  config.rest = {7, 0, 0, 0, 0};
  return config;
}

Rs485Config ModeOff() {
  Rs485Config config;
  config.rest = {7, 0, 0, 0, 0};
  return config;
}

struct Case {
  const char* name;
  std::optional<Rs485Config> before;  // nothing: the device has no RS-485 ioctls
  bool rtsToggle;
  bool driverDrivesRts;  // what Apply reports
  std::optional<Rs485Config> whileOpen;
  int setsWhileOpen;
};

TEST(Rs485ModeTest, IsLeftAsTheSystemSetItUnlessToggleIsAskedForAndGivenBackOnClose) {
  Rs485Config toggled = ModeOff();
  toggled.flags = kRs485Enabled | kRs485RtsOnSend;
  const Case cases[] = {
      {"on, no toggle: kept", SystemMode(), false, true, SystemMode(), 0},
      {"on, toggle: kept with its polarity and delays", SystemMode(), true, true, SystemMode(), 0},
      {"off, no toggle: kept", ModeOff(), false, false, ModeOff(), 0},
      {"off, toggle: switched on", ModeOff(), true, true, toggled, 1},
      {"no ioctl, no toggle", std::nullopt, false, false, std::nullopt, 0},
      {"no ioctl, toggle: RTS by hand", std::nullopt, true, false, std::nullopt, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    DriverRs485 driver(c.before);
    Rs485Mode mode(driver);
    bool driverDrivesRts = !c.driverDrivesRts;
    ASSERT_EQ(mode.Apply(3, c.rtsToggle, driverDrivesRts), 0);
    EXPECT_EQ(driverDrivesRts, c.driverDrivesRts);
    // Settings re-applied while open change nothing more.
    ASSERT_EQ(mode.Apply(3, c.rtsToggle, driverDrivesRts), 0);
    EXPECT_EQ(driver.Config(), c.whileOpen);
    EXPECT_EQ(static_cast<int>(driver.sets.size()), c.setsWhileOpen);
    EXPECT_EQ(mode.Changed(), c.setsWhileOpen > 0);

    EXPECT_EQ(mode.Restore(3), 0);
    EXPECT_EQ(driver.Config(), c.before);  // every word, not just the flag
    EXPECT_FALSE(mode.Changed());
    EXPECT_EQ(mode.Restore(3), 0);
    EXPECT_EQ(static_cast<int>(driver.sets.size()), c.setsWhileOpen * 2);
  }
}

TEST(Rs485ModeTest, ToggleDroppedWhileOpenGivesTheModeBackAtOnce) {
  DriverRs485 driver(ModeOff());
  Rs485Mode mode(driver);
  bool driverDrivesRts = false;
  ASSERT_EQ(mode.Apply(3, true, driverDrivesRts), 0);
  EXPECT_TRUE(driverDrivesRts);
  ASSERT_EQ(mode.Apply(3, false, driverDrivesRts), 0);
  EXPECT_FALSE(driverDrivesRts);
  EXPECT_EQ(driver.Config(), ModeOff());
  EXPECT_FALSE(mode.Changed());
  // Asked for again: switched on again, and given back again.
  ASSERT_EQ(mode.Apply(3, true, driverDrivesRts), 0);
  EXPECT_TRUE(mode.Changed());
  EXPECT_EQ(mode.Restore(3), 0);
  EXPECT_EQ(driver.Config(), ModeOff());
}

TEST(Rs485ModeTest, AFailingDeviceIsReportedNotTakenForOneWithoutTheMode) {
  DriverRs485 driver(ModeOff());
  driver.FailGets(EIO);
  Rs485Mode mode(driver);
  bool driverDrivesRts = true;
  EXPECT_EQ(mode.Apply(3, true, driverDrivesRts), EIO);
  EXPECT_EQ(mode.Apply(3, false, driverDrivesRts), EIO);
  EXPECT_TRUE(driver.sets.empty());
}

// The device gives the mode back when it goes away, which is how the port closes it.
TEST(Rs485ModeTest, AnOpenDeviceFollowsTheRulesAndGivesTheModeBackWhenClosed) {
  PseudoTerminal pty;
  ASSERT_EQ(pty.Create(), 0);
  for (const bool systemOn : {false, true}) {
    SCOPED_TRACE(systemOn ? "system mode on" : "system mode off");
    const Rs485Config before = systemOn ? SystemMode() : ModeOff();
    DriverRs485 driver(before);
    Errno error{-1};
    auto device = SerialDevice::Open(pty.SlavePath(), error, driver);
    ASSERT_NE(device, nullptr) << Value(error);

    LineSettings plain;
    plain.baudRate = 4800;
    ASSERT_EQ(device->SetLineSettings(plain), kNoError);
    EXPECT_EQ(driver.Config(), before);
    EXPECT_TRUE(driver.sets.empty());

    LineSettings toggle = plain;
    toggle.rtsControl = 3;
    ASSERT_EQ(device->SetLineSettings(toggle), kNoError);
    EXPECT_TRUE(driver.Config()->flags & kRs485Enabled);
    // Settings the device refuses do not touch the mode.
    LineSettings invalid = plain;
    invalid.byteSize = 9;
    EXPECT_EQ(device->SetLineSettings(invalid), Errno{EINVAL});
    EXPECT_TRUE(driver.Config()->flags & kRs485Enabled);

    device.reset();
    EXPECT_EQ(driver.Config(), before);
  }
}

TEST(Rs485ModeTest, APseudoTerminalHasNoModeAndStillTakesRtsToggle) {
  PseudoTerminal pty;
  ASSERT_EQ(pty.Create(), 0);
  Errno error{-1};
  auto device = SerialDevice::Open(pty.SlavePath(), error);
  ASSERT_NE(device, nullptr) << Value(error);
  Rs485Config config;
  EXPECT_EQ(SystemRs485Ioctls().Get(pty.MasterFd(), config), ENOTTY);
  LineSettings toggle;
  toggle.rtsControl = 3;
  EXPECT_EQ(device->SetLineSettings(toggle), kNoError);
}

}  // namespace
}  // namespace tavex::platform
