// SPDX-License-Identifier: GPL-3.0-or-later
// The setup dialog's port list over a fake device tree holding two USB adapters: their stable
// names are offered with the devices they stand for today, and choosing one stores the name.
#include <QAbstractItemView>
#include <QTest>
#include <filesystem>

#include "serial/ComNames.h"
#include "serial/setup/ComCombo.h"
#include "setup_test_support.h"

namespace tavex {
namespace {

namespace fs = std::filesystem;

TEST(StablePortNames, TheListShowsBothAdaptersByNameAndDeviceAndStoresTheName) {
  test::ScratchRegistry scratch("tavex-stable-list");
  const std::string root = scratch.Root() + "/tree";
  std::vector<std::string> links;
  for (const char* device : {"ttyUSB0", "ttyUSB1"}) {
    fs::create_directories(root + "/sys/class/tty/" + device);
    fs::create_directory_symlink(root, root + "/sys/class/tty/" + device + "/device");
    fs::create_directories(root + "/dev/serial/by-id");
    test::WriteFile(root + "/dev/" + device, "");
    links.push_back(root + "/dev/serial/by-id/usb-FTDI_FT232R_USB_UART_" + device + "-if00-port0");
    fs::create_symlink(std::string("../../") + device, links.back());
  }
  const PortListSource previous = SetPortListSource(
      [root](std::vector<std::string>& target) { ListComPortsUnder(root, target); });

  test::RecordingPort port;
  port.SetPort(links[1]);
  TComComboBox list;
  list.SetComProperty(cpPort);
  list.SetComPort(&port);
  ASSERT_EQ(list.count(), 4);
  EXPECT_EQ(list.itemText(0).toStdString(), links[0] + " (ttyUSB0)");
  EXPECT_EQ(list.itemText(1).toStdString(), links[1] + " (ttyUSB1)");
  EXPECT_EQ(list.itemText(2).toStdString(), "ttyUSB0");
  EXPECT_EQ(list.itemText(3).toStdString(), "ttyUSB1");
  EXPECT_EQ(list.currentIndex(), 1);
  // The box is narrow; the list it opens shows the longest entry whole.
  EXPECT_GE(list.view()->minimumWidth(),
            list.view()->fontMetrics().horizontalAdvance(list.itemText(1)));

  QTest::keyClick(&list, Qt::Key_Home);
  list.ApplyChoice();
  EXPECT_EQ(port.Port(), links[0]) << "the stable name is stored, not the text shown";
  SetPortListSource(previous);
}

}  // namespace
}  // namespace tavex
