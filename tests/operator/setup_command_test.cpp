// SPDX-License-Identifier: GPL-3.0-or-later
// The window's port setup command with the real dialog: polling stops while the dialog is open,
// the six basic settings are stored with the clock line's speed, polling restarts, and a port
// list or a hive that fails ends the command with an error box and polling stopped.

#include <QTest>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>

#include "operator/TForm1.h"
#include "platform/pseudo_terminal.h"
#include "serial/ComNames.h"
#include "serial/setup/ComCombo.h"
#include "serial/setup/ComSetup.h"
#include "serial/setup/ComSetupFrm.h"
#include "support.h"
#include "support/dialog_script.h"
#include "support/file_limits.h"
#include "support/fixed_clock.h"

namespace tavex::ui {
namespace {

using test::DialogScript;

std::map<std::string, std::string> StoredPortValues() {
  std::map<std::string, std::string> values;
  platform::RegistryKey key;
  if (!platform::RegistryKey::Open(platform::RegRoot::LocalMachine, "Software\\TAVEX\\ComPort", key)
           .Ok()) {
    return values;
  }
  for (std::uint32_t i = 0;; ++i) {
    std::string name, data;
    platform::RegType type{};
    if (!key.EnumValue(i, name, 256, type, data, 256).Ok()) break;
    values[name] = data.substr(0, data.find('\0'));
  }
  return values;
}

class SetupCommand : public ::testing::Test {
 protected:
  SetupCommand() {
    RegisterComSetupDialog();
    // The installed ports: the kernel's are read from an empty tree, so the list holds exactly
    // the pseudo-terminal registered here.
    std::filesystem::create_directory(KernelTree());
    previousSource_ = SetPortListSource([tree = KernelTree()](std::vector<std::string>& target) {
      ListComPortsFrom(tree, target);
    });
    if (pty_.Create() != 0) throw std::runtime_error("no pseudo-terminal");
    platform::RegistryKey key;
    EXPECT_EQ(platform::RegResult::kSuccess,
              platform::RegistryKey::Create(platform::RegRoot::LocalMachine,
                                            "HARDWARE\\DEVICEMAP\\SERIALCOMM", key));
    EXPECT_EQ(platform::RegResult::kSuccess, key.SetString("pty0", pty_.SlavePath()));
  }
  ~SetupCommand() override { SetPortListSource(previousSource_); }

  std::string KernelTree() const { return registry_.Dir() + "/sys-class-tty"; }

  // The polling state the command starts from: reading, with a configuration send pending.
  void StartPolling() {
    form_.Timer1->SetEnabled(true);
    form_.Timer2->SetEnabled(true);
  }

  void ExpectSixBasicValues(const std::string& port, const std::string& parity) {
    const auto values = StoredPortValues();
    const std::map<std::string, std::string> expected = {
        {"Port", port},    {"BaudRate", "4800"}, {"StopBits", "1"},
        {"DataBits", "8"}, {"Parity", parity},   {"FlowControl", "None"}};
    EXPECT_EQ(expected, values);
  }

  QApplication& app_ = test::App();  // before any widget
  test::TempRegistry registry_;
  platform::PseudoTerminal pty_;
  PortListSource previousSource_;
  test::MidMinuteClock clock_;  // the read-backs judge the clock's minute on it
  TForm1 form_;
};

TEST_F(SetupCommand, OkStoresTheChoiceWithTheLineSpeedAndRestartsPolling) {
  StartPolling();
  DialogScript script([&](TComSetupFrm& dialog) {
    EXPECT_FALSE(form_.Timer1->Enabled());
    EXPECT_FALSE(form_.Timer3->Enabled());
    EXPECT_TRUE(form_.Timer2->Enabled()) << "a pending configuration send keeps going";
    QTest::keyClick(dialog.Combo1, Qt::Key_Home);
    QTest::keyClick(dialog.Combo2, Qt::Key_End);   // 256000, replaced by the line's speed
    QTest::keyClick(dialog.Combo5, Qt::Key_Down);  // Odd
    QTest::mouseClick(dialog.Button1, Qt::LeftButton);
  });
  form_.Button2->click();
  ASSERT_TRUE(script.Ran());

  ExpectSixBasicValues(pty_.SlavePath(), "Odd");
  EXPECT_EQ(br4800, form_.ComPort.BaudRate());
  EXPECT_TRUE(form_.Timer3->Enabled());
  EXPECT_FALSE(form_.Timer1->Enabled());
  EXPECT_TRUE(form_.Timer2->Enabled());
}

// The dialog opens over the window, centred on it wherever the window stands, and has a close
// box but no minimise or maximise box.
TEST_F(SetupCommand, TheDialogOpensCentredOverTheWindowWithOnlyACloseBox) {
  form_.move(40, 30);
  form_.show();
  form_.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form_));
  QPoint dialogCentre;
  Qt::WindowFlags flags;
  DialogScript script([&](TComSetupFrm& dialog) {
    dialogCentre = dialog.frameGeometry().center();
    flags = dialog.windowFlags();
    EXPECT_EQ(dialog.parentWidget(), &form_);
    // A window manager that minimises it anyway: the dialog and the window come back.
    form_.setWindowState(Qt::WindowMinimized);
    dialog.setWindowState(Qt::WindowMinimized);
    test::Pump(100);
    EXPECT_FALSE(dialog.windowState() & Qt::WindowMinimized);
    EXPECT_FALSE(form_.windowState() & Qt::WindowMinimized);
    dialog.reject();
  });
  form_.Button2->click();
  ASSERT_TRUE(script.Ran());
  const QPoint formCentre = form_.frameGeometry().center();
  EXPECT_LE((dialogCentre - formCentre).manhattanLength(), 4)
      << dialogCentre.x() << "," << dialogCentre.y() << " against " << formCentre.x() << ","
      << formCentre.y();
  EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
  EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
  EXPECT_TRUE(flags & Qt::CustomizeWindowHint);
}

TEST_F(SetupCommand, CancelStoresThePortsOwnSettingsAndRestartsPolling) {
  form_.ComPort.SetBaudRate(br19200);
  DialogScript script([&](TComSetupFrm& dialog) {
    QTest::keyClick(dialog.Combo1, Qt::Key_Home);
    QTest::keyClick(dialog.Combo5, Qt::Key_End);
    QTest::mouseClick(dialog.Button2, Qt::LeftButton);
  });
  form_.Button2->click();
  ASSERT_TRUE(script.Ran());

  ExpectSixBasicValues(form_.ComPort.Port(), "None");
  EXPECT_NE(pty_.SlavePath(), form_.ComPort.Port());
  EXPECT_TRUE(form_.Timer3->Enabled());
}

// The adapter is unplugged: the stored port is not among the installed ones. The dialog still
// shows it, selected, and Enter stores it back unchanged.
TEST_F(SetupCommand, AStoredPortThatIsNotThereNowIsShownAndEnterKeepsIt) {
  registry_.StorePort("ttyUSB7");
  form_.Timer3Timer(form_.Timer3);  // a read-back: the port does not open
  DialogScript script([&](TComSetupFrm& dialog) {
    EXPECT_EQ("ttyUSB7", dialog.Combo1->Text());
    EXPECT_EQ("ttyUSB7 (not present)", dialog.Combo1->currentText().toStdString());
    QTest::keyClick(dialog.Combo1, Qt::Key_Return);  // the list has the focus when it opens
  });
  form_.Button2->click();
  ASSERT_TRUE(script.Ran());
  ExpectSixBasicValues("ttyUSB7", "None");

  // Stored by another program meanwhile: the dialog shows the stored port, and Cancel keeps it.
  registry_.StorePort("ttyUSB9");
  DialogScript cancel([&](TComSetupFrm& dialog) {
    EXPECT_EQ("ttyUSB9", dialog.Combo1->Text());
    QTest::mouseClick(dialog.Button2, Qt::LeftButton);
  });
  form_.Button2->click();
  ASSERT_TRUE(cancel.Ran());
  ExpectSixBasicValues("ttyUSB9", "None");
}

TEST_F(SetupCommand, PortsThatCannotBeListedShowAnErrorAndPollingGoesOn) {
  std::filesystem::remove_all(KernelTree());
  std::filesystem::remove(platform::HivePath(platform::RegRoot::LocalMachine));
  StartPolling();
  test::MessageBoxCatcher boxes;
  DialogScript script([](TComSetupFrm& dialog) { dialog.reject(); });
  form_.Button2->click();
  test::Pump(100);

  EXPECT_FALSE(script.Ran()) << "no dialog without a port list";
  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_TRUE(boxes.boxes[0].text.startsWith("Registry error"))
      << boxes.boxes[0].text.toStdString();
  EXPECT_TRUE(
      boxes.boxes[0].text.contains("\nThe system reports: No such file or directory.\nFile: " +
                                   QString::fromStdString(KernelTree())))
      << boxes.boxes[0].text.toStdString();
  EXPECT_EQ(QMessageBox::Critical, boxes.boxes[0].icon);
  EXPECT_TRUE(StoredPortValues().empty()) << "nothing is stored";
  // The cycle starts again as after a setup: the first read-back is due (it has run by now).
  EXPECT_TRUE(form_.Timer3->Enabled() || form_.Timer1->Enabled());
}

TEST_F(SetupCommand, HiveThatCannotBeWrittenShowsTheStoreErrorAndPollingGoesOn) {
  const std::string hive = platform::HivePath(platform::RegRoot::LocalMachine);
  const std::string broken = "this is not a registry file\n";
  std::ofstream(hive) << broken;
  test::MessageBoxCatcher boxes;
  DialogScript script(
      [](TComSetupFrm& dialog) { QTest::mouseClick(dialog.Button1, Qt::LeftButton); });
  form_.Button2->click();
  test::Pump(100);

  ASSERT_TRUE(script.Ran());
  ASSERT_EQ(1u, boxes.boxes.size());
  // The port's own text, then what the system reports and the file it concerns.
  const QStringList lines = boxes.boxes[0].text.split(QLatin1Char('\n'));
  ASSERT_EQ(3, lines.size()) << boxes.boxes[0].text.toStdString();
  EXPECT_EQ("Failed to store settings.", lines[0]);
  EXPECT_TRUE(lines[1].startsWith("The system reports: ")) << lines[1].toStdString();
  EXPECT_EQ("File: " + QString::fromStdString(hive), lines[2]);
  std::string kept(std::filesystem::file_size(hive), '\0');
  std::ifstream(hive, std::ios::binary)
      .read(kept.data(), static_cast<std::streamsize>(kept.size()));
  EXPECT_EQ(broken, kept) << "a hive that does not parse is left as it was";
  EXPECT_TRUE(form_.Timer3->Enabled() || form_.Timer1->Enabled());
}

// The settings cannot be stored (the file cannot grow): the error box names the file, and the
// read-backs go on with the settings in force.
TEST_F(SetupCommand, AStoreThatFailsIsReportedAndTheReadBacksGoOn) {
  test::Simulator sim(registry_.Dir(), {"--offset", std::to_string(clock_.ShiftSeconds()),
                                        "--answer-delay-ms", "0", "--byte-time-us", "0"});
  if (!sim.Running()) GTEST_SKIP() << "tavex-clocksim is not built";
  registry_.StorePort(sim.Path());
  form_.SetWallClock(clock_);
  form_.Timer3->SetEnabled(false);
  form_.Timer5->SetEnabled(false);
  test::MessageBoxCatcher boxes;
  DialogScript script([](TComSetupFrm& dialog) {
    QTest::keyClick(dialog.Combo5, Qt::Key_Down);  // Odd: a change the store must write
    QTest::mouseClick(dialog.Button1, Qt::LeftButton);
  });
  {
    test::FileSizeLimit limit(16);
    form_.Button2->click();
  }
  ASSERT_TRUE(script.Ran());
  EXPECT_TRUE(form_.Timer3->Enabled());
  test::Pump(1200);

  ASSERT_EQ(1u, boxes.boxes.size());
  EXPECT_EQ("Failed to store settings.\nThe system reports: File too large.\nFile: " +
                QString::fromStdString(platform::HivePath(platform::RegRoot::LocalMachine)),
            boxes.boxes[0].text);
  EXPECT_EQ(1u, sim.Frames().size()) << "the read-back after the box";
  EXPECT_TRUE(form_.Timer1->Enabled());
  EXPECT_NE("--:--", form_.Label5->text().toStdString());
  EXPECT_EQ("None", StoredPortValues()["Parity"]) << "the settings in force are the stored ones";
}

}  // namespace
}  // namespace tavex::ui
