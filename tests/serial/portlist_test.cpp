// SPDX-License-Identifier: GPL-3.0-or-later
// The list of installed ports over a fake kernel tty class tree and a temporary hive.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/pseudo_terminal.h"
#include "platform/registry.h"
#include "serial/ComNames.h"
#include "support/scratch.h"

namespace tavex {
namespace {

namespace fs = std::filesystem;
using platform::RegistryKey;
using platform::RegResult;
using platform::RegRoot;

constexpr const char* kSerialComm = "HARDWARE\\DEVICEMAP\\SERIALCOMM";

class PortListTest : public ::testing::Test {
 protected:
  // A tty class entry; `type` is written for ttyS entries (0 = no UART behind it).
  void AddTty(const std::string& name, bool withDevice, const char* type = nullptr) {
    fs::create_directories(sysfs_ + "/" + name);
    if (withDevice) {
      fs::create_directories(root_ + "/devices/" + name);
      fs::create_directory_symlink(root_ + "/devices/" + name, sysfs_ + "/" + name + "/device");
    }
    if (type != nullptr) test::WriteFile(sysfs_ + "/" + name + "/type", std::string(type) + "\n");
  }
  void Register(const std::string& name, const std::string& device) {
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Create(RegRoot::LocalMachine, kSerialComm, key), RegResult::kSuccess);
    ASSERT_EQ(key.SetString(name, device), RegResult::kSuccess);
  }

  test::ScratchRegistry scratch_{"tavex-ports"};
  const std::string root_ = scratch_.Root();
  const std::string sysfs_ = root_ + "/class/tty";
};

TEST_F(PortListTest, KernelDevicesWithHardwareSortedAsText) {
  AddTty("ttyUSB10", true);
  AddTty("ttyUSB2", true);
  AddTty("ttyS0", true, "4");
  AddTty("ttyS1", true, "0");  // placeholder without a UART
  AddTty("ttyACM0", true);
  AddTty("tty5", false);  // virtual console: no device link
  AddTty("console", false);
  std::vector<std::string> ports{"stale"};
  ListComPortsFrom(sysfs_, ports);
  EXPECT_EQ(ports, (std::vector<std::string>{"ttyACM0", "ttyS0", "ttyUSB10", "ttyUSB2"}));
}

TEST_F(PortListTest, RegisteredPortsWhoseDevicesExistAreMerged) {
  fs::create_directories(sysfs_);
  AddTty("ttyUSB0", true);
  platform::PseudoTerminal pty;
  ASSERT_EQ(pty.Create(), 0);
  const std::string link = root_ + "/COM6";
  fs::create_symlink(pty.SlavePath(), link);
  Register("sim", link);              // a path: kept as written, usable as the port name
  Register("gone", root_ + "/COM9");  // its device is not there
  Register("dup", pty.SlavePath());
  Register("again", pty.SlavePath());  // duplicates stay
  Register("null", "");
  {
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Open(RegRoot::LocalMachine, kSerialComm, key), RegResult::kSuccess);
    ASSERT_EQ(key.SetDword("number", 5), RegResult::kSuccess);  // data that names no device
  }
  std::vector<std::string> ports;
  ListComPortsFrom(sysfs_, ports);
  std::vector<std::string> expected{link, pty.SlavePath(), pty.SlavePath(), "ttyUSB0"};
  std::sort(expected.begin(), expected.end(), [](const std::string& a, const std::string& b) {
    return strcasecmp(a.c_str(), b.c_str()) < 0;
  });
  EXPECT_EQ(ports, expected);
}

TEST_F(PortListTest, SortIgnoresCaseAndIsTextual) {
  platform::PseudoTerminal pty;
  ASSERT_EQ(pty.Create(), 0);
  for (const char* name : {"COM3", "com1", "COM10", "Com2"}) {
    fs::create_symlink(pty.SlavePath(), root_ + "/" + name);
    Register(name, root_ + "/" + name);
  }
  std::vector<std::string> ports;
  ListComPortsFrom(root_ + "/no-sysfs", ports);  // the hive alone is a source
  ASSERT_EQ(ports.size(), 4u);
  for (std::size_t i = 0; i < ports.size(); ++i) ports[i] = fs::path(ports[i]).filename();
  EXPECT_EQ(ports, (std::vector<std::string>{"com1", "COM10", "Com2", "COM3"}));
}

TEST_F(PortListTest, NoReadableSourceFailsAndKeepsTheTarget) {
  std::vector<std::string> ports{"keep"};
  try {
    ListComPortsFrom(root_ + "/no-sysfs", ports);
    ADD_FAILURE() << "no source at all must fail";
  } catch (const EComPort& e) {
    EXPECT_EQ(e.ErrorCode(), peRegistry);
    EXPECT_EQ(e.SystemCode(), ENOENT);
  }
  EXPECT_EQ(ports, std::vector<std::string>{"keep"});

  // An existing key that names no port, or a tty tree without serial devices, is an empty list.
  {
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Create(RegRoot::LocalMachine, kSerialComm, key), RegResult::kSuccess);
  }
  ListComPortsFrom(root_ + "/no-sysfs", ports);
  EXPECT_TRUE(ports.empty());

  // A name or a device path longer than the first buffers: asked again with room for it.
  platform::PseudoTerminal pty;
  ASSERT_EQ(pty.Create(), 0);
  const std::string deep = root_ + "/" + std::string(200, 'd') + "/" + std::string(200, 'e');
  fs::create_directories(deep);
  fs::create_symlink(pty.SlavePath(), deep + "/COM7");
  Register(std::string(300, 'n'), deep + "/COM7");
  ListComPortsFrom(root_ + "/no-sysfs", ports);
  EXPECT_EQ(ports, std::vector<std::string>{deep + "/COM7"});
}

}  // namespace
}  // namespace tavex
