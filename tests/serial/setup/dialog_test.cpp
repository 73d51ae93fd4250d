// SPDX-License-Identifier: GPL-3.0-or-later
// The setup dialog as the operator meets it: its layout and keyboard, and what OK, Cancel and
// closing by the frame do to the port.
#include <termios.h>

#include <QCloseEvent>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTest>

#include "serial/ComNames.h"
#include "serial/setup/ComSetup.h"
#include "serial/setup/ComSetupFrm.h"
#include "setup_test_support.h"

namespace tavex {
namespace {

using test::DialogScript;
using test::PortListHive;
using test::PtyPorts;
using test::RecordingPort;

class ComSetupDialog : public ::testing::Test {
 protected:
  void SetUp() override { RegisterComSetupDialog(); }

  // Operator picks by keyboard: Home, then Down until the entry is reached.
  static void Pick(TComComboBox* list, const std::string& entry) {
    QTest::keyClick(list, Qt::Key_Home);
    for (int i = 0; i < list->count() && list->Text() != entry; ++i) {
      QTest::keyClick(list, Qt::Key_Down);
    }
    ASSERT_EQ(entry, list->Text());
  }

  PortListHive hive_;
  PtyPorts ptys_{hive_, 2};
};

TEST_F(ComSetupDialog, LayoutNamesAndKeyboardOrder) {
  TComSetupFrm dialog;
  EXPECT_EQ("Setup", dialog.windowTitle());
  EXPECT_EQ(QSize(231, 216), dialog.size());
  EXPECT_EQ(dialog.minimumSize(), dialog.maximumSize()) << "the frame must not be resizable";
  EXPECT_EQ(11, dialog.font().pixelSize());
  EXPECT_EQ("MS Sans Serif", dialog.font().family());

  EXPECT_EQ(" Settings ", dialog.GroupBox1->title());
  EXPECT_EQ(QRect(8, 8, 217, 169), dialog.GroupBox1->geometry());
  const char* labels[] = {"Port", "Baud rate", "Data bits", "Stop bits", "Parity", "Flow control"};
  const TComProperty properties[] = {cpPort,     cpBaudRate, cpDataBits,
                                     cpStopBits, cpParity,   cpFlowControl};
  for (int n = 1; n <= 6; ++n) {
    SCOPED_TRACE(n);
    auto* label = dialog.findChild<QLabel*>(QStringLiteral("Label%1").arg(n));
    ASSERT_NE(nullptr, label);
    EXPECT_EQ(labels[n - 1], label->text());
    EXPECT_EQ(QPoint(8, 24 * n), label->pos());
    EXPECT_EQ(dialog.GroupBox1, label->parentWidget());
    auto* list = dialog.findChild<TComComboBox*>(QStringLiteral("Combo%1").arg(n));
    ASSERT_EQ(dialog.Combo(n), list);
    EXPECT_EQ(QRect(80, 16 + 24 * (n - 1), 129, 21), list->geometry());
    EXPECT_EQ(properties[n - 1], list->ComProperty());
    EXPECT_FALSE(list->isEditable());
    EXPECT_EQ(dialog.GroupBox1, list->parentWidget());
  }
  EXPECT_EQ(QRect(70, 184, 75, 25), dialog.Button1->geometry());
  EXPECT_EQ(QRect(150, 184, 75, 25), dialog.Button2->geometry());
  EXPECT_EQ("OK", dialog.Button1->text());
  EXPECT_EQ("Cancel", dialog.Button2->text());
  EXPECT_TRUE(dialog.Button1->isDefault());
  EXPECT_FALSE(dialog.Button2->isDefault());

  // Tab goes through the six lists, then OK, then Cancel, and round again.
  std::vector<QWidget*> order;
  QWidget* widget = dialog.Combo1;
  do {
    if (widget->focusPolicy() & Qt::TabFocus) order.push_back(widget);
    widget = widget->nextInFocusChain();
  } while (widget != dialog.Combo1);
  const std::vector<QWidget*> expected = {dialog.Combo1,  dialog.Combo2, dialog.Combo3,
                                          dialog.Combo4,  dialog.Combo5, dialog.Combo6,
                                          dialog.Button1, dialog.Button2};
  EXPECT_EQ(expected, order);
}

TEST_F(ComSetupDialog, OkWritesTheSixPicksInOrderAndAppliesOnce) {
  RecordingPort port;
  port.SetPort(ptys_.Path(0));
  port.SetBaudRate(br4800);
  port.SetDataBits(dbEight);
  port.SetStopBits(sbOneStopBit);
  port.Parity().SetBits(prNone);
  port.FlowControl().SetFlowControl(fcNone);
  port.lineApplies.clear();
  port.settingsApplies = 0;

  DialogScript script([&](TComSetupFrm& dialog) {
    // Every list is bound to the port and shows its value.
    for (int n = 1; n <= 6; ++n) EXPECT_EQ(&port, dialog.Combo(n)->ComPort());
    EXPECT_EQ(ptys_.Path(0), dialog.Combo1->Text());
    EXPECT_EQ("4800", dialog.Combo2->Text());
    EXPECT_EQ("None", dialog.Combo6->Text());
    Pick(dialog.Combo1, ptys_.Path(1));
    Pick(dialog.Combo2, "19200");
    Pick(dialog.Combo3, "7");
    Pick(dialog.Combo4, "2");
    Pick(dialog.Combo5, "Even");
    Pick(dialog.Combo6, "Hardware");
    EXPECT_EQ(br4800, port.BaudRate()) << "picks stay in the dialog until OK";
    QTest::keyClick(dialog.Combo6, Qt::Key_Return);  // Enter presses OK
  });
  port.ShowSetupDialog();
  ASSERT_TRUE(script.Ran());

  EXPECT_EQ(ptys_.Path(1), port.Port());
  EXPECT_EQ(br19200, port.BaudRate());
  EXPECT_EQ(dbSeven, port.DataBits());
  EXPECT_EQ(sbTwoStopBits, port.StopBits());
  EXPECT_EQ(prEven, port.Parity().Bits());
  EXPECT_EQ(fcHardware, port.FlowControl().FlowControl());
  EXPECT_EQ(1, port.settingsApplies) << "one apply, at the end of the update";

  // Each line-settings request saw the settings before it already written: port name, baud
  // rate, data bits, stop bits, parity, flow control, in that order.
  ASSERT_GE(port.lineApplies.size(), 5u);
  const auto& at = port.lineApplies;
  EXPECT_EQ(ptys_.Path(1), at[0].port);
  EXPECT_EQ(br19200, at[0].baudRate);
  EXPECT_EQ(dbEight, at[0].dataBits);
  EXPECT_EQ(dbSeven, at[1].dataBits);
  EXPECT_EQ(sbOneStopBit, at[1].stopBits);
  EXPECT_EQ(sbTwoStopBits, at[2].stopBits);
  EXPECT_EQ(prNone, at[2].parity);
  EXPECT_EQ(prEven, at[3].parity);
  EXPECT_EQ(fcNone, at[3].flowControl);
}

TEST_F(ComSetupDialog, OkReconfiguresAnOpenDeviceOnceAndFollowsAPortChange) {
  // The line settings as the device holds them (the master end reports the slave's). A
  // pseudo-terminal always keeps 8 data bits without parity, but its stop bits and parity sense
  // show what was applied.
  const auto lineFlags = [](int masterFd) {
    termios line{};
    EXPECT_EQ(0, ::tcgetattr(masterFd, &line));
    return line.c_cflag;
  };
  RecordingPort port;
  port.SetPort(ptys_.Path(0));
  port.Open();
  ASSERT_TRUE(port.Connected());
  ASSERT_FALSE(lineFlags(ptys_.MasterFd(0)) & (CSTOPB | PARODD));
  port.settingsApplies = 0;

  DialogScript sameDevice([&](TComSetupFrm& dialog) {
    Pick(dialog.Combo4, "2");
    Pick(dialog.Combo5, "Odd");
    QTest::mouseClick(dialog.Button1, Qt::LeftButton);
  });
  port.ShowSetupDialog();
  ASSERT_TRUE(sameDevice.Ran());
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(1, port.settingsApplies);
  EXPECT_TRUE(lineFlags(ptys_.MasterFd(0)) & CSTOPB);
  EXPECT_TRUE(lineFlags(ptys_.MasterFd(0)) & PARODD);

  DialogScript otherDevice([&](TComSetupFrm& dialog) {
    Pick(dialog.Combo1, ptys_.Path(1));
    Pick(dialog.Combo5, "Mark");
    QTest::mouseClick(dialog.Button1, Qt::LeftButton);
  });
  port.ShowSetupDialog();
  ASSERT_TRUE(otherDevice.Ran());
  EXPECT_TRUE(port.Connected());
  EXPECT_EQ(ptys_.Path(1), port.Port());
  EXPECT_TRUE(lineFlags(ptys_.MasterFd(1)) & CSTOPB);
  EXPECT_TRUE(lineFlags(ptys_.MasterFd(1)) & CMSPAR);
  port.Close();
}

TEST_F(ComSetupDialog, APortThatFailsToOpenStillEndsTheUpdate) {
  // Another program holds the chosen device: reopening under the new name fails, the error
  // reaches the caller, and the port must still apply later changes to a device.
  RecordingPort holder;
  holder.SetPort(ptys_.Path(1));
  holder.Open();
  RecordingPort port;
  port.SetPort(ptys_.Path(0));
  port.Open();
  DialogScript script([&](TComSetupFrm& dialog) {
    Pick(dialog.Combo1, ptys_.Path(1));
    QTest::mouseClick(dialog.Button1, Qt::LeftButton);
  });
  EXPECT_THROW(port.ShowSetupDialog(), EComPort);
  ASSERT_TRUE(script.Ran());

  port.SetPort(ptys_.Path(0));
  port.Open();
  ASSERT_TRUE(port.Connected());
  port.SetStopBits(sbTwoStopBits);
  termios line{};
  ASSERT_EQ(0, ::tcgetattr(ptys_.MasterFd(0), &line));
  EXPECT_TRUE(line.c_cflag & CSTOPB) << "the port was left inside an update";
}

TEST_F(ComSetupDialog, CancelFrameCloseAndEscapeWriteNothing) {
  enum class Way { CancelButton, FrameClose, EscapeThenCancel };
  for (Way way : {Way::CancelButton, Way::FrameClose, Way::EscapeThenCancel}) {
    SCOPED_TRACE(static_cast<int>(way));
    RecordingPort port;
    port.SetPort(ptys_.Path(0));
    port.SetBaudRate(br4800);
    port.lineApplies.clear();
    DialogScript script([&](TComSetupFrm& dialog) {
      Pick(dialog.Combo1, ptys_.Path(1));
      Pick(dialog.Combo2, "115200");
      Pick(dialog.Combo5, "Odd");
      switch (way) {
        case Way::CancelButton:
          QTest::mouseClick(dialog.Button2, Qt::LeftButton);
          break;
        case Way::FrameClose: {
          QCloseEvent close;
          QApplication::sendEvent(&dialog, &close);
          break;
        }
        case Way::EscapeThenCancel:
          QTest::keyClick(&dialog, Qt::Key_Escape);
          EXPECT_TRUE(dialog.isVisible()) << "no key is bound to Cancel";
          QTest::mouseClick(dialog.Button2, Qt::LeftButton);
          break;
      }
    });
    port.ShowSetupDialog();
    ASSERT_TRUE(script.Ran());
    EXPECT_EQ(ptys_.Path(0), port.Port());
    EXPECT_EQ(br4800, port.BaudRate());
    EXPECT_EQ(prNone, port.Parity().Bits());
    EXPECT_EQ(0, port.settingsApplies);
    EXPECT_TRUE(port.lineApplies.empty());
  }
}

TEST_F(ComSetupDialog, OkKeepsWhatTheOperatorDidNotChange) {
  // A port name in other letter case is preselected and written back as listed; flow-control
  // fields that match no preset stay as they are.
  RecordingPort port;
  std::string shouted = ptys_.Path(1);
  for (char& c : shouted) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  port.SetPort(shouted);
  port.SetBaudRate(brCustom);
  port.SetCustomBaudRate(31250);
  port.FlowControl().SetControlRTS(rtsToggle);
  port.FlowControl().SetOutDSRFlow(true);
  DialogScript script([&](TComSetupFrm& dialog) {
    EXPECT_EQ(ptys_.Path(1), dialog.Combo1->Text());
    EXPECT_EQ("Custom", dialog.Combo2->Text());
    EXPECT_EQ("Custom", dialog.Combo6->Text());
    QTest::mouseClick(dialog.Button1, Qt::LeftButton);
  });
  port.ShowSetupDialog();
  ASSERT_TRUE(script.Ran());
  EXPECT_EQ(ptys_.Path(1), port.Port());
  EXPECT_EQ(brCustom, port.BaudRate());
  EXPECT_EQ(31250, port.CustomBaudRate());
  EXPECT_EQ(rtsToggle, port.FlowControl().ControlRTS());
  EXPECT_TRUE(port.FlowControl().OutDSRFlow());
}

TEST_F(ComSetupDialog, PortNotInstalledNowIsShownMarkedAndEnterKeepsIt) {
  RecordingPort port;
  port.SetPort("ttyUSB0");
  DialogScript script([&](TComSetupFrm& dialog) {
    EXPECT_EQ("ttyUSB0", dialog.Combo1->Text());
    EXPECT_EQ("ttyUSB0 (not present)", dialog.Combo1->currentText().toStdString());
    EXPECT_EQ(3, dialog.Combo1->count()) << "the installed ports are still offered";
    QTest::keyClick(&dialog, Qt::Key_Return);
  });
  port.ShowSetupDialog();
  ASSERT_TRUE(script.Ran());
  EXPECT_EQ("ttyUSB0", port.Port());
}

TEST(ComSetupPortList, NoInstalledPortsListOnlyTheStoredOneAndOkKeepsIt) {
  PortListHive hive;
  RegisterComSetupDialog();
  RecordingPort port;
  port.SetPort("ttyUSB0");
  DialogScript script([&](TComSetupFrm& dialog) {
    EXPECT_EQ(1, dialog.Combo1->count());
    EXPECT_EQ("ttyUSB0", dialog.Combo1->Text());
    QTest::keyClick(dialog.Combo1, Qt::Key_Down);  // nothing else to pick
    QTest::mouseClick(dialog.Button1, Qt::LeftButton);
  });
  port.ShowSetupDialog();
  ASSERT_TRUE(script.Ran());
  EXPECT_EQ("ttyUSB0", port.Port());

  port.SetPort("");
  DialogScript none([&](TComSetupFrm& dialog) {
    EXPECT_EQ(0, dialog.Combo1->count());
    QTest::mouseClick(dialog.Button1, Qt::LeftButton);
  });
  port.ShowSetupDialog();
  ASSERT_TRUE(none.Ran());
  EXPECT_EQ("", port.Port());
}

TEST(ComSetupPortList, UnreadablePortListPassesOutAndShowsNoDialog) {
  PortListHive hive;
  hive.RemoveKernelTree();  // and no key of registered ports either
  RegisterComSetupDialog();
  RecordingPort port;
  port.SetPort("ttyUSB0");
  port.SetBaudRate(br4800);
  DialogScript script([](TComSetupFrm& dialog) { dialog.reject(); });
  try {
    port.ShowSetupDialog();
    ADD_FAILURE() << "the port list error must reach the caller";
  } catch (const EComPort& error) {
    EXPECT_EQ(peRegistry, error.ErrorCode());
    EXPECT_NE(-1, error.SystemCode());
  }
  QApplication::processEvents();
  EXPECT_FALSE(script.Ran());
  EXPECT_EQ("ttyUSB0", port.Port());
  EXPECT_EQ(br4800, port.BaudRate());
  EXPECT_EQ(0, port.settingsApplies);
}

}  // namespace
}  // namespace tavex
