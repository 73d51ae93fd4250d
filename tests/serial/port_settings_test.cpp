// SPDX-License-Identifier: GPL-3.0-or-later
// Settings, their device form and when they reach an open device (observed through the termios
// of the pseudo-terminal, which its master side reports; a pty keeps the rate, the stop bits and
// the input flags but forces 8 data bits without parity).
#include <gtest/gtest.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>

#include "platform/pseudo_terminal.h"
#include "platform/serial_device.h"
#include "platform/serial_ports.h"
#include "serial/ComPort.h"

namespace tavex {
namespace {

termios MasterTermios(const platform::PseudoTerminal& pty) {
  termios tio{};
  EXPECT_EQ(tcgetattr(pty.MasterFd(), &tio), 0);
  return tio;
}

speed_t OutSpeed(const platform::PseudoTerminal& pty) {
  termios tio = MasterTermios(pty);
  return cfgetospeed(&tio);
}

// The rate of a custom speed is only visible through the termios2 form of the kernel.
struct KernelTermios2 {
  tcflag_t iflag, oflag, cflag, lflag;
  cc_t line;
  cc_t cc[19];
  speed_t ispeed, ospeed;
};
speed_t CustomOutputSpeed(const platform::PseudoTerminal& pty) {
  KernelTermios2 t2{};
  EXPECT_EQ(ioctl(pty.MasterFd(), _IOR('T', 0x2A, KernelTermios2), &t2), 0);
  return t2.ospeed;
}

class OpenPort : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_EQ(pty.Create(), 0);
    port.SetPort(pty.SlavePath());
    port.SetEvents({});
  }
  platform::PseudoTerminal pty;
  TComPort port;
};

TEST(PortSettings, DefaultsAreTheDocumentedOnes) {
  TComPort port;
  EXPECT_EQ(port.Port(), "COM1");
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.CustomBaudRate(), 9600);
  EXPECT_EQ(port.Events().ToBits(), 1023);
  EXPECT_EQ(port.SyncMethod(), smThreadSync);
  EXPECT_FALSE(port.Connected());
  EXPECT_EQ(port.Parity().ComPort(), &port);
  EXPECT_EQ(port.Buffer().ComPort(), &port);

  platform::Timeouts t = port.BuildTimeouts();
  EXPECT_EQ(t.readInterval, platform::Timeouts::kMaxDword);  // -1, bit for bit
  EXPECT_EQ(t.readTotalMultiplier, 0u);
  EXPECT_EQ(t.readTotalConstant, 0u);
  EXPECT_EQ(t.writeTotalMultiplier, 100u);
  EXPECT_EQ(t.writeTotalConstant, 1000u);

  platform::LineSettings s = port.BuildLineSettings();
  EXPECT_EQ(s.baudRate, 9600u);
  EXPECT_EQ(s.byteSize, 8);
  EXPECT_EQ(s.parity, 0);
  EXPECT_EQ(s.stopBits, 0);
  EXPECT_EQ(s.xonLim, 256);
  EXPECT_EQ(s.xoffLim, 256);
  EXPECT_EQ(s.xonChar, 17);
  EXPECT_EQ(s.xoffChar, 19);
  EXPECT_FALSE(s.discardNull);
}

TEST(PortSettings, DeviceFormOfTheSettings) {
  TComPort port;
  port.SetBaudRate(brCustom);
  EXPECT_EQ(port.BuildLineSettings().baudRate, 9600u) << "custom rate defaults to 9600";
  port.SetCustomBaudRate(250000);
  EXPECT_EQ(port.BuildLineSettings().baudRate, 250000u);
  port.SetBaudRate(br256000);
  EXPECT_EQ(port.BuildLineSettings().baudRate, 256000u);
  port.SetBaudRate(br110);
  EXPECT_EQ(port.BuildLineSettings().baudRate, 110u);

  port.SetDataBits(dbFive);
  port.SetStopBits(sbTwoStopBits);
  port.Parity().SetBits(prSpace);
  port.FlowControl().SetControlDTR(dtrHandshake);
  port.FlowControl().SetControlRTS(rtsToggle);
  port.SetEventChar('\r');
  platform::LineSettings s = port.BuildLineSettings();
  EXPECT_EQ(s.byteSize, 5);
  EXPECT_EQ(s.stopBits, 2);
  EXPECT_EQ(s.parity, 4);
  EXPECT_EQ(s.dtrControl, 2);
  EXPECT_EQ(s.rtsControl, 3);
  EXPECT_EQ(s.evtChar, '\r');

  // The error character is used only when parity is both checked and replaced.
  port.Parity().SetReplace(true);
  port.Parity().SetReplaceChar('?');
  EXPECT_FALSE(port.BuildLineSettings().errorCharEnabled);
  EXPECT_EQ(port.BuildLineSettings().errorChar, 0);
  port.Parity().SetCheck(true);
  EXPECT_TRUE(port.BuildLineSettings().errorCharEnabled);
  EXPECT_EQ(port.BuildLineSettings().errorChar, '?');
  EXPECT_TRUE(port.BuildLineSettings().parityCheck);
}

TEST(PortSettings, BufferSizesAreEvenAndSetTheFlowThresholds) {
  struct Case {
    std::int32_t given, stored;
    std::uint16_t quarter;
  };
  for (Case c : {Case{1025, 1024, 256}, Case{1000, 1000, 250}, Case{7, 6, 1},
                 Case{1 << 20, 1 << 20, 0xFFFF}}) {
    TComPort port;
    port.Buffer().SetInputSize(c.given);
    port.Buffer().SetOutputSize(c.given);
    EXPECT_EQ(port.Buffer().InputSize(), c.stored) << c.given;
    EXPECT_EQ(port.Buffer().OutputSize(), c.stored) << c.given;
    EXPECT_EQ(port.BuildLineSettings().xonLim, c.quarter) << c.given;
    EXPECT_EQ(port.BuildLineSettings().xoffLim, c.quarter) << c.given;
  }
}

TEST(PortSettings, FlowControlPresetReadAndWrite) {
  TComFlowControl f;
  EXPECT_EQ(f.FlowControl(), fcNone);
  f.SetControlDTR(dtrEnable);
  f.SetOutDSRFlow(true);
  EXPECT_EQ(f.FlowControl(), fcNone) << "DTR and DSR take no part in the preset";
  f.SetFlowControl(fcHardware);
  EXPECT_EQ(f.ControlRTS(), rtsHandshake);
  EXPECT_TRUE(f.OutCTSFlow());
  EXPECT_EQ(f.FlowControl(), fcHardware);
  f.SetFlowControl(fcNone);
  EXPECT_EQ(f.ControlRTS(), rtsDisable);
  EXPECT_FALSE(f.OutCTSFlow());
  EXPECT_EQ(f.ControlDTR(), dtrEnable);
  EXPECT_TRUE(f.OutDSRFlow());
  f.SetFlowControl(fcSoftware);
  EXPECT_TRUE(f.XonXoffIn());
  EXPECT_TRUE(f.XonXoffOut());
  EXPECT_EQ(f.FlowControl(), fcSoftware);
  f.SetXonXoffIn(false);
  EXPECT_EQ(f.FlowControl(), fcCustom);
  f.SetFlowControl(fcCustom);
  EXPECT_FALSE(f.XonXoffIn());
  EXPECT_TRUE(f.XonXoffOut()) << "fcCustom changes nothing";
  f.SetControlRTS(rtsEnable);
  f.SetXonXoffOut(false);
  EXPECT_EQ(f.FlowControl(), fcCustom);
}

TEST(PortSettings, CopiesAreFreeStanding) {
  TComPort port;
  port.Timeouts().SetReadTotalConstant(77);
  TComTimeouts copy(port.Timeouts());
  EXPECT_EQ(copy.ComPort(), nullptr);
  EXPECT_EQ(copy.ReadTotalConstant(), 77);
  EXPECT_EQ(copy.ReadInterval(), -1);
  copy.SetWriteTotalConstant(5);
  port.SetTimeouts(copy);
  EXPECT_EQ(port.Timeouts().WriteTotalConstant(), 5);
  EXPECT_EQ(port.Timeouts().ComPort(), &port) << "assignment keeps the owner";
}

TEST(PortErrors, MessagesAndCodes) {
  EXPECT_STREQ(EComPort(peOpenFailed, platform::Errno{2}).what(),
               "Unable to open com port (win error code: 2)");
  EComPort plain(peSetWhileConnected);
  EXPECT_STREQ(plain.what(), "Cannot set property while connected");
  EXPECT_EQ(plain.ErrorCode(), peSetWhileConnected);
  EXPECT_EQ(plain.SystemCode(), -1);
  EXPECT_EQ(ComErrorText(peRegistry), "Registry error");
  EXPECT_EQ(ComErrorText(0), "");
  EXPECT_EQ(ComErrorText(24), "");
  EXPECT_EQ(platform::DevicePath("ttyUSB0"), "/dev/ttyUSB0");
  EXPECT_EQ(platform::DevicePath("COM6"), "/dev/COM6");
  EXPECT_EQ(platform::DevicePath("/dev/pts/3"), "/dev/pts/3");
}

TEST_F(OpenPort, SettersReachTheOpenDevice) {
  port.Open();
  EXPECT_EQ(OutSpeed(pty), B9600);
  port.SetBaudRate(br19200);
  EXPECT_EQ(OutSpeed(pty), B19200);
  port.SetStopBits(sbTwoStopBits);
  EXPECT_NE(MasterTermios(pty).c_cflag & CSTOPB, 0u);
  port.SetBaudRate(brCustom);
  port.SetCustomBaudRate(12345);
  EXPECT_EQ(CustomOutputSpeed(pty), 12345u);
}

TEST_F(OpenPort, SettingsAssignedWhileClosedApplyAtOpen) {
  port.SetBaudRate(br4800);
  port.FlowControl().SetFlowControl(fcSoftware);
  port.Open();
  termios tio = MasterTermios(pty);
  EXPECT_EQ(cfgetospeed(&tio), B4800);
  EXPECT_NE(tio.c_iflag & IXON, 0u);
  EXPECT_NE(tio.c_iflag & IXOFF, 0u);
}

TEST_F(OpenPort, ObjectAssignmentCopiesButOnlyThePortSetterReapplies) {
  port.Open();
  TComFlowControl software;
  software.SetFlowControl(fcSoftware);
  port.FlowControl() = software;
  EXPECT_EQ(port.FlowControl().FlowControl(), fcSoftware);
  EXPECT_EQ(MasterTermios(pty).c_iflag & IXON, 0u) << "plain assignment re-applies nothing";
  port.SetFlowControl(software);
  EXPECT_NE(MasterTermios(pty).c_iflag & IXON, 0u);
}

TEST_F(OpenPort, UpdateBatchReachesTheDeviceAtTheLastEndUpdate) {
  port.Open();
  port.BeginUpdate();
  port.BeginUpdate();
  port.SetBaudRate(br38400);
  port.SetStopBits(sbTwoStopBits);
  port.EndUpdate();
  EXPECT_EQ(OutSpeed(pty), B9600) << "still inside the outer batch";
  port.EndUpdate();
  termios tio = MasterTermios(pty);
  EXPECT_EQ(cfgetospeed(&tio), B38400);
  EXPECT_NE(tio.c_cflag & CSTOPB, 0u);

  // An unmatched EndUpdate applies nothing: a rate set behind the port's back stays.
  cfsetospeed(&tio, B1200);
  cfsetispeed(&tio, B1200);
  ASSERT_EQ(tcsetattr(pty.MasterFd(), TCSANOW, &tio), 0);
  port.EndUpdate();
  EXPECT_EQ(OutSpeed(pty), B1200);
}

TEST_F(OpenPort, SyncMethodIsFixedWhileOpen) {
  port.SetSyncMethod(smNone);
  EXPECT_EQ(port.SyncMethod(), smNone);
  port.Open();
  try {
    port.SetSyncMethod(smWindowSync);
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), peSetWhileConnected);
    EXPECT_EQ(e.SystemCode(), -1);
  }
  EXPECT_EQ(port.SyncMethod(), smNone);
  port.SetSyncMethod(smNone);  // the same value is no change
}

TEST_F(OpenPort, ChangingThePortWhileOpenReopensOnTheNewDevice) {
  platform::PseudoTerminal second;
  ASSERT_EQ(second.Create(), 0);
  int opens = 0, closes = 0;
  port.OnAfterOpen = [&](TCustomComPort&) { ++opens; };
  port.OnAfterClose = [&](TCustomComPort&) { ++closes; };
  port.Open();
  port.SetPort(second.SlavePath());
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(opens, 2);
  EXPECT_EQ(closes, 1);
  EXPECT_EQ(port.WriteStr("x"), 1);
  char c = 0;
  for (int i = 0; i < 100 && ::read(second.MasterFd(), &c, 1) != 1; ++i) ::usleep(10000);
  EXPECT_EQ(c, 'x');
  // The first device was released.
  TComPort other;
  other.SetEvents({});
  other.SetPort(pty.SlavePath());
  EXPECT_NO_THROW(other.Open());
  // The handlers count into this test's locals; the fixture's port outlives them.
  port.OnAfterOpen = nullptr;
  port.OnAfterClose = nullptr;
}

TEST_F(OpenPort, ANegativeBufferSizeFailsTheOpenAndReleasesTheDevice) {
  port.Buffer().SetInputSize(-4);
  try {
    port.Open();
    FAIL() << "no error";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), peSetupCommFailed);
    EXPECT_EQ(e.SystemCode(), EINVAL);
  }
  EXPECT_FALSE(port.Connected());
  port.Buffer().SetInputSize(1024);
  EXPECT_NO_THROW(port.Open());
}

}  // namespace
}  // namespace tavex
