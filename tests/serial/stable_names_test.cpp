// SPDX-License-Identifier: GPL-3.0-or-later
// The stable names udev gives USB adapters, over a fake device tree in a temporary folder: the
// port list offers them with the device each stands for today, and a stored one opens that device.
#include <gtest/gtest.h>
#include <poll.h>
#include <strings.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/pseudo_terminal.h"
#include "platform/serial_ports.h"
#include "serial/ComNames.h"
#include "serial/ComPort.h"
#include "support/scratch.h"
#include "support/stored_port.h"

namespace tavex {
namespace {

namespace fs = std::filesystem;

constexpr char kAdapterA[] = "usb-FTDI_FT232R_USB_UART_A9XYZ123-if00-port0";
constexpr char kAdapterB[] = "usb-Prolific_Technology_Inc._USB-Serial_Controller_D-if00-port0";

// sys/class/tty and dev/ under a scratch folder, as the kernel and udev lay them out.
class DeviceTree : public ::testing::Test {
 protected:
  // A serial device: its tty class entry with a device link, and its node (a plain file here).
  void AddDevice(const std::string& name) {
    fs::create_directories(root_ + "/sys/devices/" + name);
    fs::create_directories(root_ + "/sys/class/tty/" + name);
    fs::create_directory_symlink(root_ + "/sys/devices/" + name,
                                 root_ + "/sys/class/tty/" + name + "/device");
    fs::create_directories(root_ + "/dev");
    test::WriteFile(root_ + "/dev/" + name, "");
  }
  // A link as udev makes it: relative, "../../ttyUSB0".
  std::string Link(const std::string& folder, const std::string& name, const std::string& to) {
    fs::create_directories(Links() + "/" + folder);
    const std::string link = Links() + "/" + folder + "/" + name;
    fs::create_symlink(to, link);
    return link;
  }
  std::string Links() const { return root_ + "/dev/serial"; }

  test::ScratchRegistry scratch_{"tavex-stable-names"};
  const std::string root_ = scratch_.Root() + "/tree";
};

std::vector<std::string> SortedAsText(std::vector<std::string> names) {
  std::sort(names.begin(), names.end(), [](const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
  });
  return names;
}

TEST_F(DeviceTree, TwoAdaptersAreListedByTheirStableNamesBesideTheKernelNames) {
  AddDevice("ttyUSB0");
  AddDevice("ttyUSB1");
  AddDevice("ttyACM0");
  const std::string a = Link("by-id", kAdapterA, "../../ttyUSB0");
  const std::string b = Link("by-id", kAdapterB, "../../ttyUSB1");
  Link("by-path", "pci-0000:00:14.0-usb-0:1:1.0-port0", "../../ttyUSB0");  // has a by-id name
  Link("by-path", "pci-0000:00:14.0-usb-0:2:1.0-port0", "../../ttyUSB1");
  // A modem without a serial number has only a by-path name.
  const std::string acm = Link("by-path", "pci-0000:00:14.0-usb-0:3:1.0", "../../ttyACM0");
  Link("by-id", "usb-Gone_Adapter-if00-port0", "../../ttyUSB7");  // unplugged, link left over

  std::vector<std::string> ports{"stale"};
  ListComPortsUnder(root_, ports);
  EXPECT_EQ(ports, SortedAsText({a, b, acm, "ttyACM0", "ttyUSB0", "ttyUSB1"}));

  EXPECT_EQ(PortListText(a), a + " (ttyUSB0)");
  EXPECT_EQ(PortListText(b), b + " (ttyUSB1)");
  EXPECT_EQ(PortListText(acm), acm + " (ttyACM0)");
  // Every other name is shown as it is.
  for (const std::string& plain :
       {std::string("ttyUSB0"), root_ + "/dev/ttyUSB0", root_ + "/dev/serial/by-id",
        Links() + "/by-id/usb-Gone_Adapter-if00-port0", std::string("by-id/x"), std::string()}) {
    EXPECT_EQ(PortListText(plain), plain);
  }

  // After a replug the names stay and the devices they stand for change.
  fs::remove(a);
  fs::remove(b);
  fs::create_symlink("../../ttyUSB1", a);
  fs::create_symlink("../../ttyUSB0", b);
  EXPECT_EQ(PortListText(a), a + " (ttyUSB1)");
  EXPECT_EQ(PortListText(b), b + " (ttyUSB0)");
}

TEST_F(DeviceTree, NoStableLinksListTheKernelNamesAlone) {
  AddDevice("ttyS0");
  std::vector<std::string> ports;
  ListComPortsUnder(root_, ports);
  EXPECT_EQ(ports, std::vector<std::string>{"ttyS0"});
  // by-id present but empty (its last adapter unplugged), by-path missing.
  fs::create_directories(Links() + "/by-id");
  ListComPortsUnder(root_, ports);
  EXPECT_EQ(ports, std::vector<std::string>{"ttyS0"});

  std::vector<platform::StableSerialName> names;
  EXPECT_EQ(platform::ScanStableSerialNames(root_ + "/nowhere", names), platform::kNoError);
  EXPECT_TRUE(names.empty());
}

TEST_F(DeviceTree, AStoredStableNameOpensTheDeviceItPointsTo) {
  platform::PseudoTerminal pty;
  ASSERT_EQ(pty.Create(), 0);
  AddDevice("ttyUSB0");
  const std::string link = Link("by-id", kAdapterA, pty.SlavePath());
  std::vector<std::string> ports;
  ListComPortsUnder(root_, ports);
  ASSERT_NE(std::find(ports.begin(), ports.end(), link), ports.end());
  // A device outside the tree's /dev is shown by its full path.
  EXPECT_EQ(PortListText(link), link + " (" + pty.SlavePath() + ")");

  test::StorePort(link);
  TComPort port;
  port.RestoreSettings(ssRegistry, "HKEY_LOCAL_MACHINE\\Software\\TAVEX");
  EXPECT_EQ(port.Port(), link);
  port.Open();
  port.WriteStr("R");
  pollfd master{pty.MasterFd(), POLLIN, 0};
  ASSERT_EQ(poll(&master, 1, 2000), 1);
  char byte = 0;
  ASSERT_EQ(read(pty.MasterFd(), &byte, 1), 1);
  EXPECT_EQ(byte, 'R');
  port.Close();
}

}  // namespace
}  // namespace tavex
