// SPDX-License-Identifier: GPL-3.0-or-later
// The port-bound list on its own: entries, preselection, the operator's pick against selections
// made by the program, applying, and the life of the bound port.
#include <QSignalSpy>
#include <QTest>
#include <algorithm>
#include <memory>

#include "serial/ComNames.h"
#include "serial/setup/ComCombo.h"
#include "setup_test_support.h"

namespace tavex {
namespace {

using test::PortListHive;
using test::PtyPorts;
using test::RecordingPort;

TEST(ComComboEntries, ListEveryValueInValueOrder) {
  EXPECT_TRUE(ComPropertyEntries(cpNone).empty());

  const auto baud = ComPropertyEntries(cpBaudRate);
  ASSERT_FALSE(baud.empty());
  EXPECT_EQ("Custom", baud.front());
  EXPECT_EQ("256000", baud.back());
  EXPECT_EQ((std::vector<std::string>{"5", "6", "7", "8"}), ComPropertyEntries(cpDataBits));
  EXPECT_EQ((std::vector<std::string>{"1", "1.5", "2"}), ComPropertyEntries(cpStopBits));
  EXPECT_EQ((std::vector<std::string>{"None", "Odd", "Even", "Mark", "Space"}),
            ComPropertyEntries(cpParity));
  EXPECT_EQ((std::vector<std::string>{"Hardware", "Software", "None", "Custom"}),
            ComPropertyEntries(cpFlowControl));
  // Entry i names value i, so a chosen entry converts back to the value it shows.
  const auto valueOf = [](TComProperty property, const std::string& entry) {
    switch (property) {
      case cpBaudRate:
        return static_cast<int>(TextToBaudRate(entry));
      case cpDataBits:
        return static_cast<int>(TextToDataBits(entry));
      case cpStopBits:
        return static_cast<int>(TextToStopBits(entry));
      case cpParity:
        return static_cast<int>(TextToParity(entry));
      default:
        return static_cast<int>(TextToFlowControl(entry));
    }
  };
  for (TComProperty property : {cpBaudRate, cpDataBits, cpStopBits, cpParity, cpFlowControl}) {
    const auto entries = ComPropertyEntries(property);
    for (std::size_t i = 0; i < entries.size(); ++i) {
      EXPECT_EQ(static_cast<int>(i), valueOf(property, entries[i])) << entries[i];
    }
  }
}

TEST(ComComboBinding, UnboundListSelectsItsFirstEntryAndAppliesNothing) {
  TComComboBox list;
  list.SetComProperty(cpParity);
  EXPECT_EQ(0, list.currentIndex());
  EXPECT_EQ("None", list.Text());
  list.ApplyChoice();  // no port: nothing to write, nothing to fail

  list.SetComProperty(cpNone);
  EXPECT_EQ(0, list.count());
  EXPECT_EQ(-1, list.currentIndex());
  EXPECT_EQ("", list.Text());
}

TEST(ComComboBinding, PreselectsThePortsValueAndTakesItAsPending) {
  RecordingPort port;
  port.SetBaudRate(brCustom);
  port.SetStopBits(sbOne5StopBits);
  port.Parity().SetBits(prMark);

  TComComboBox baud, stop, parity;
  baud.SetComProperty(cpBaudRate);
  stop.SetComProperty(cpStopBits);
  parity.SetComProperty(cpParity);
  baud.SetComPort(&port);
  stop.SetComPort(&port);
  parity.SetComPort(&port);
  EXPECT_EQ("Custom", baud.Text());
  EXPECT_EQ("1.5", stop.Text());
  EXPECT_EQ("Mark", parity.Text());
  EXPECT_EQ(brCustom, baud.Select().PendingBaudRate());
  EXPECT_EQ(sbOne5StopBits, stop.Select().PendingStopBits());
  EXPECT_EQ(prMark, parity.Select().PendingParity());

  // Setting the property of a bound list refills it and shows the port's value again.
  port.SetDataBits(dbSix);
  parity.SetComProperty(cpDataBits);
  EXPECT_EQ("6", parity.Text());
  EXPECT_EQ(dbSix, parity.Select().PendingDataBits());
}

TEST(ComComboPick, ProgramSelectionLeavesThePendingValueButTheOperatorsPickSetsIt) {
  RecordingPort port;
  port.SetBaudRate(br4800);
  TComComboBox list;
  list.SetComProperty(cpBaudRate);
  list.SetComPort(&port);
  QSignalSpy picks(&list, &QComboBox::activated);

  list.SetText("19200");  // by program
  EXPECT_EQ("19200", list.Text());
  list.SetText("19201");  // no such entry: nothing changes
  EXPECT_EQ("19200", list.Text());
  list.setCurrentIndex(1);  // the toolkit's own selection, also by program
  EXPECT_EQ(0, picks.count());
  list.ApplyChoice();
  EXPECT_EQ(br4800, port.BaudRate());

  // Down from "110" is "300": a keyboard pick by the operator.
  QTest::keyClick(&list, Qt::Key_Down);
  EXPECT_EQ(1, picks.count());
  EXPECT_EQ("300", list.Text());
  EXPECT_EQ(br300, list.Select().PendingBaudRate());
  EXPECT_EQ(br4800, port.BaudRate()) << "a pick is written only when told to";
  list.ApplyChoice();
  EXPECT_EQ(br300, port.BaudRate());
}

TEST(ComComboPick, AutoApplyWritesEveryPickAtOnce) {
  RecordingPort port;
  port.Parity().SetBits(prNone);
  TComComboBox list;
  list.SetComProperty(cpParity);
  list.SetComPort(&port);
  list.SetAutoApply(true);
  QTest::keyClick(&list, Qt::Key_End);
  EXPECT_EQ(prSpace, port.Parity().Bits());
  QTest::keyClick(&list, Qt::Key_Up);
  EXPECT_EQ(prMark, port.Parity().Bits());
}

TEST(ComComboFlowControl, FieldsMatchingNoPresetShowCustomAndApplyingKeepsThem) {
  RecordingPort port;
  port.FlowControl().SetControlRTS(rtsEnable);
  port.FlowControl().SetXonXoffIn(true);
  TComComboBox list;
  list.SetComProperty(cpFlowControl);
  list.SetComPort(&port);
  EXPECT_EQ("Custom", list.Text());
  list.ApplyChoice();
  EXPECT_EQ(rtsEnable, port.FlowControl().ControlRTS());
  EXPECT_TRUE(port.FlowControl().XonXoffIn());

  // A preset picked by the operator replaces the fields.
  QTest::keyClick(&list, Qt::Key_Home);
  list.ApplyChoice();
  EXPECT_EQ(rtsHandshake, port.FlowControl().ControlRTS());
  EXPECT_TRUE(port.FlowControl().OutCTSFlow());
  EXPECT_FALSE(port.FlowControl().XonXoffIn());
}

TEST(ComComboBinding, PortNotInstalledStaysListedSelectedAndMarked) {
  PortListHive hive;
  PtyPorts ptys(hive, 1);
  RecordingPort port;
  port.SetPort("ttyNoSuchPort");
  TComComboBox list;
  list.SetComProperty(cpPort);
  list.SetComPort(&port);
  ASSERT_EQ(2, list.count());
  EXPECT_EQ(1, list.currentIndex());
  EXPECT_EQ("ttyNoSuchPort", list.Text());
  EXPECT_EQ("ttyNoSuchPort (not present)", list.currentText().toStdString());
  list.ApplyChoice();
  EXPECT_EQ("ttyNoSuchPort", port.Port()) << "without a pick the stored port is kept";

  // Shown again after a rename: one such entry, the new name; the installed port is still there.
  port.SetPort("ttyGoneToo");
  list.ShowCurrentValue();
  ASSERT_EQ(2, list.count());
  EXPECT_EQ("ttyGoneToo", list.Text());
  // The operator's pick replaces it; a pick back keeps the absent name.
  QTest::keyClick(&list, Qt::Key_Home);
  list.ApplyChoice();
  EXPECT_EQ(ptys.Path(0), port.Port());
  QTest::keyClick(&list, Qt::Key_End);
  list.ApplyChoice();
  EXPECT_EQ("ttyGoneToo", port.Port());
}

TEST(ComComboBinding, NoStoredPortSelectsNothingAndApplyingKeepsItEmpty) {
  PortListHive hive;
  PtyPorts ptys(hive, 1);
  RecordingPort port;
  port.SetPort("");
  TComComboBox list;
  list.SetComProperty(cpPort);
  list.SetComPort(&port);
  EXPECT_EQ(1, list.count());
  EXPECT_EQ(-1, list.currentIndex());
  EXPECT_EQ("", list.Text());
  list.ApplyChoice();
  EXPECT_EQ("", port.Port());
}

TEST(ComComboBinding, PortNameIsFoundIgnoringCaseAndAppliedInTheEntrysCase) {
  PortListHive hive;
  PtyPorts ptys(hive, 2);
  RecordingPort port;
  std::string shouted = ptys.Path(1);
  std::transform(shouted.begin(), shouted.end(), shouted.begin(),
                 [](unsigned char c) { return static_cast<char>(std::toupper(c)); });
  port.SetPort(shouted);
  TComComboBox list;
  list.SetComProperty(cpPort);
  list.SetComPort(&port);
  EXPECT_EQ(ptys.Path(1), list.Text());
  list.ApplyChoice();
  EXPECT_EQ(ptys.Path(1), port.Port());
}

TEST(ComComboBinding, PortListThatCannotBeReadLeavesTheListAsItWas) {
  PortListHive hive;
  PtyPorts ptys(hive, 1);
  RecordingPort port;
  port.SetPort(ptys.Path(0));
  TComComboBox list;
  list.SetComProperty(cpPort);
  list.SetComPort(&port);
  ASSERT_EQ(ptys.Path(0), list.Text());

  hive.RemoveKernelTree();
  std::filesystem::remove(platform::HivePath(platform::RegRoot::LocalMachine));
  EXPECT_THROW(list.SetComProperty(cpPort), EComPort);
  EXPECT_EQ(cpPort, list.ComProperty());
  ASSERT_EQ(1, list.count());
  EXPECT_EQ(ptys.Path(0), list.Text());
}

TEST(ComComboLifetime, ForgetsADestroyedPortAndSelectsTheFirstEntry) {
  TComComboBox list;
  list.SetComProperty(cpDataBits);
  {
    RecordingPort port;
    port.SetDataBits(dbSeven);
    list.SetComPort(&port);
    EXPECT_EQ("7", list.Text());
  }
  EXPECT_EQ(nullptr, list.ComPort());
  EXPECT_EQ("5", list.Text());
  list.ApplyChoice();  // must not reach the destroyed port
  QTest::keyClick(&list, Qt::Key_Down);
}

TEST(ComComboLifetime, ListsDestroyedFirstOrReboundAreNoLongerTold) {
  auto first = std::make_unique<RecordingPort>();
  RecordingPort second;
  TComComboBox rebound;
  rebound.SetComProperty(cpParity);
  rebound.SetComPort(first.get());
  rebound.SetComPort(&second);
  {
    TComComboBox shortLived;
    shortLived.SetComProperty(cpParity);
    shortLived.SetComPort(first.get());
  }
  first.reset();  // tells nobody: one list is gone, the other bound elsewhere
  EXPECT_EQ(&second, rebound.ComPort());
  rebound.SetComPort(nullptr);
  EXPECT_EQ(nullptr, rebound.ComPort());
}

}  // namespace
}  // namespace tavex
