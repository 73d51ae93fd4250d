// SPDX-License-Identifier: GPL-3.0-or-later
// Saving and restoring the port's settings in registry hives and profile files kept in a
// temporary registry directory.
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <tuple>

#include "platform/pseudo_terminal.h"
#include "platform/registry.h"
#include "platform/registry_hive.h"
#include "platform/text_codec.h"
#include "serial/ComNames.h"
#include "serial/ComPort.h"
#include "serial/ComStorage.h"
#include "support/file_limits.h"
#include "support/scratch.h"

namespace tavex {
namespace {

namespace fs = std::filesystem;
using platform::RegistryKey;
using platform::RegResult;
using platform::RegRoot;
using platform::RegType;

using Value = std::tuple<std::string, RegType, std::string>;

std::string Sz(const std::string& text) {
  return text + '\0';
}
std::string Dword(std::uint32_t v) {
  return platform::DwordData(v);
}

using test::ReadFile;
using test::WriteFile;

class StorageTest : public ::testing::Test {
 protected:
  // Every value of a key in enumeration order; empty when the key does not exist.
  static std::vector<Value> Values(RegRoot root, const std::string& path) {
    std::vector<Value> values;
    RegistryKey key;
    if (!RegistryKey::Open(root, path, key).Ok()) return values;
    for (std::uint32_t i = 0;; ++i) {
      std::string name, data;
      RegType type{};
      if (!key.EnumValue(i, name, 256, type, data, 1 << 20).Ok()) break;
      values.emplace_back(name, type, data);
    }
    return values;
  }
  static RegistryKey MakeKey(RegRoot root, const std::string& path) {
    RegistryKey key;
    EXPECT_EQ(RegistryKey::Create(root, path, key), RegResult::kSuccess);
    return key;
  }
  std::string Hklm() const { return dir_ + "/HKEY_LOCAL_MACHINE.reg"; }

  test::ScratchRegistry scratch_{"tavex-storage"};
  const std::string root_ = scratch_.Root();
  const std::string dir_ = scratch_.Dir();
};

// The last error ErrorOf caught, with the causes nested in it, and what the operator is told
// beside its text.
std::string lastDetail;
std::string lastExplanation;

// Runs `action` and returns the EComPort code it raised (0 when none), checking the code's form:
// the operator reads only the port's own text; what failed inside the store is nested in it.
template <typename Action>
int ErrorOf(Action action) {
  lastDetail.clear();
  lastExplanation.clear();
  try {
    action();
  } catch (const EComPort& e) {
    EXPECT_EQ(e.SystemCode(), -1);
    const std::string text =
        e.ErrorCode() == peStoreFailed ? "Failed to store settings" : "Failed to load settings";
    EXPECT_EQ(std::string(e.what()), text);
    lastDetail = MessageWithCauses(e);
    lastExplanation = e.Explanation();
    EXPECT_TRUE(lastDetail.starts_with(text + ": ")) << "no cause in " << lastDetail;
    return e.ErrorCode();
  }
  return 0;
}

TEST_F(StorageTest, BasicGroupIsSixTextValuesInOrder) {
  TComPort port;
  port.SetPort("COM6");
  port.SetBaudRate(br4800);
  port.SaveSettings(ssRegistry, "HKEY_LOCAL_MACHINE\\Software\\TAVEX");
  EXPECT_EQ(Values(RegRoot::LocalMachine, "Software\\TAVEX\\ComPort"),
            (std::vector<Value>{{"Port", RegType::Sz, Sz("COM6")},
                                {"BaudRate", RegType::Sz, Sz("4800")},
                                {"StopBits", RegType::Sz, Sz("1")},
                                {"DataBits", RegType::Sz, Sz("8")},
                                {"Parity", RegType::Sz, Sz("None")},
                                {"FlowControl", RegType::Sz, Sz("None")}}));
  EXPECT_FALSE(fs::exists(dir_ + "/HKEY_CURRENT_USER.reg"));

  // The custom rate comes right after the rate, and stays once the rate is no longer custom.
  port.SetBaudRate(brCustom);
  port.SaveSettings(ssRegistry, "HKEY_LOCAL_MACHINE\\Software\\TAVEX\\");
  auto values = Values(RegRoot::LocalMachine, "Software\\TAVEX\\ComPort");
  ASSERT_EQ(values.size(), 7u);
  EXPECT_EQ(values[1], Value("BaudRate", RegType::Sz, Sz("Custom")));
  EXPECT_EQ(values[6], Value("CustomBaudRate", RegType::Dword, Dword(9600)));
  port.SetBaudRate(br9600);
  port.SaveSettings(ssRegistry, "HKEY_LOCAL_MACHINE\\Software\\TAVEX");
  EXPECT_EQ(Values(RegRoot::LocalMachine, "Software\\TAVEX\\ComPort").size(), 7u);

  TComPort back;
  back.RestoreSettings(ssRegistry, "HKEY_LOCAL_MACHINE\\Software\\TAVEX");
  EXPECT_EQ(back.Port(), "COM6");
  EXPECT_EQ(back.BaudRate(), br9600);
}

TEST_F(StorageTest, FreshKeyWithCustomRateHasItBetweenRateAndStopBits) {
  TComPort port;
  port.SetBaudRate(brCustom);
  port.SetCustomBaudRate(250000);
  port.SaveSettings(ssRegistry, "HKEY_CURRENT_USER\\Software\\TAVEX");
  auto values = Values(RegRoot::CurrentUser, "Software\\TAVEX\\ComPort");
  ASSERT_EQ(values.size(), 7u);
  EXPECT_EQ(values[2], Value("CustomBaudRate", RegType::Dword, Dword(250000)));
  EXPECT_EQ(std::get<0>(values[3]), "StopBits");
  TComPort back;
  back.RestoreSettings(ssRegistry, "HKEY_CURRENT_USER\\Software\\TAVEX");
  EXPECT_EQ(back.BaudRate(), brCustom);
  EXPECT_EQ(back.CustomBaudRate(), 250000);
}

// Every stored field away from its default, so that a row that misses its field shows.
void SetEveryField(TCustomComPort& port) {
  port.SetPort("/dev/ttyUSB3");
  port.SetBaudRate(brCustom);
  port.SetCustomBaudRate(31250);
  port.SetStopBits(sbTwoStopBits);
  port.SetDataBits(dbSeven);
  port.Parity().SetBits(prMark);
  port.SetEventChar(1);
  port.SetDiscardNull(true);
  port.Parity().SetCheck(true);
  port.Parity().SetReplace(true);
  port.Parity().SetReplaceChar('?');
  port.Buffer().SetOutputSize(4096);
  port.Buffer().SetInputSize(8192);
  port.Timeouts().SetReadInterval(-3);
  port.Timeouts().SetReadTotalConstant(7);
  port.Timeouts().SetReadTotalMultiplier(-2);
  port.Timeouts().SetWriteTotalConstant(INT32_MIN);
  port.Timeouts().SetWriteTotalMultiplier(INT32_MAX);
  TComFlowControl& f = port.FlowControl();
  f.SetControlRTS(rtsToggle);
  f.SetControlDTR(dtrEnable);
  f.SetDSRSensitivity(true);
  f.SetOutCTSFlow(true);
  f.SetOutDSRFlow(true);
  f.SetTxContinueOnXoff(true);
  f.SetXonXoffIn(true);
  f.SetXonXoffOut(true);
  f.SetXonChar(18);
  f.SetXoffChar(200);
}

// Every field of every stored group, compared group by group.
void ExpectSameSettings(const TCustomComPort& a, const TCustomComPort& b) {
  EXPECT_EQ(a.Port(), b.Port());
  EXPECT_EQ(a.BaudRate(), b.BaudRate());
  EXPECT_EQ(a.CustomBaudRate(), b.CustomBaudRate());
  EXPECT_EQ(a.StopBits(), b.StopBits());
  EXPECT_EQ(a.DataBits(), b.DataBits());
  EXPECT_EQ(a.EventChar(), b.EventChar());
  EXPECT_EQ(a.DiscardNull(), b.DiscardNull());
  EXPECT_TRUE(a.Parity().Values() == b.Parity().Values());
  EXPECT_TRUE(a.Buffer().Values() == b.Buffer().Values());
  EXPECT_TRUE(a.Timeouts().Values() == b.Timeouts().Values());
  EXPECT_TRUE(a.FlowControl().Values() == b.FlowControl().Values());
}

const TSettingsGroups kAllGroups{sgBasic, sgFlowControl, sgBuffer, sgTimeouts, sgParity, sgOthers};

TEST_F(StorageTest, AllGroupsInTheirStoredOrderAndForms) {
  TComPort port;
  port.SavedGroups = kAllGroups;
  SetEveryField(port);
  port.SaveSettings(ssRegistry, "HKEY_CURRENT_USER\\Software\\TAVEX");
  std::vector<std::string> names;
  for (const Value& v : Values(RegRoot::CurrentUser, "Software\\TAVEX\\ComPort")) {
    names.push_back(std::get<0>(v));
  }
  EXPECT_EQ(names, (std::vector<std::string>{"Port",
                                             "BaudRate",
                                             "CustomBaudRate",
                                             "StopBits",
                                             "DataBits",
                                             "Parity",
                                             "FlowControl",
                                             "EventChar",
                                             "DiscardNull",
                                             "Parity.Check",
                                             "Parity.Replace",
                                             "Parity.ReplaceChar",
                                             "Buffer.OutputSize",
                                             "Buffer.InputSize",
                                             "Timeouts.ReadInterval",
                                             "Timeouts.ReadTotalConstant",
                                             "Timeouts.ReadTotalMultiplier",
                                             "Timeouts.WriteTotalConstant",
                                             "Timeouts.WriteTotalMultiplier",
                                             "FlowControl.ControlRTS",
                                             "FlowControl.ControlDTR",
                                             "FlowControl.DSRSensitivity",
                                             "FlowControl.OutCTSFlow",
                                             "FlowControl.OutDSRFlow",
                                             "FlowControl.TxContinueOnXoff",
                                             "FlowControl.XonXoffIn",
                                             "FlowControl.XonXoffOut",
                                             "FlowControl.XoffChar",
                                             "FlowControl.XonChar"}));
  const std::string text = ReadFile(dir_ + "/HKEY_CURRENT_USER.reg");
  for (const char* line : {"\"EventChar\"=\"#1\"", "\"FlowControl.XonChar\"=\"#18\"",
                           "\"FlowControl.XoffChar\"=\"#200\"", "\"Parity.ReplaceChar\"=\"?\"",
                           "\"FlowControl.ControlDTR\"=\"Enable\"", "\"DiscardNull\"=\"Yes\"",
                           "\"Timeouts.ReadInterval\"=dword:fffffffd",
                           "\"Timeouts.WriteTotalConstant\"=dword:80000000"}) {
    EXPECT_NE(text.find(line), std::string::npos) << line;
  }
  TComPort back;
  back.SavedGroups = kAllGroups;
  back.RestoreSettings(ssRegistry, "HKEY_CURRENT_USER\\Software\\TAVEX");
  ExpectSameSettings(port, back);

  // The same through a profile file.
  port.SaveSettings(ssIniFile, root_ + "/port.ini");
  TComPort fromIni;
  fromIni.SavedGroups = kAllGroups;
  fromIni.RestoreSettings(ssIniFile, root_ + "/port.ini");
  ExpectSameSettings(port, fromIni);
  const std::string ini = ReadFile(root_ + "/port.ini");
  EXPECT_TRUE(
      ini.starts_with("[ComPort]\r\nPort=/dev/ttyUSB3\r\nBaudRate=Custom\r\n"
                      "CustomBaudRate=31250\r\n"))
      << ini;
  EXPECT_NE(ini.find("\r\nTimeouts.WriteTotalConstant=-2147483648\r\n"), std::string::npos);
}

TEST_F(StorageTest, RootNamesAndLocations) {
  struct Case {
    const char* location;
    RegRoot root;
    const char* key;
  } cases[] = {
      {"hkey_local_machine\\A", RegRoot::LocalMachine, "A\\ComPort"},
      {"Hkey_Current_User\\B\\", RegRoot::CurrentUser, "B\\ComPort"},
      {"HKLM\\C\\D", RegRoot::CurrentUser, "C\\D\\ComPort"},  // no abbreviations
      {"Software\\E", RegRoot::CurrentUser, "E\\ComPort"},    // the first segment always goes
      {"HKEY_LOCAL_MACHINE\\", RegRoot::LocalMachine, "ComPort"},
  };
  for (const Case& c : cases) {
    TComPort port;
    port.SetPort(c.location);
    port.SaveSettings(ssRegistry, c.location);
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Open(c.root, c.key, key), RegResult::kSuccess) << c.location;
    RegType type{};
    std::string data;
    ASSERT_EQ(key.QueryValue("Port", type, data), RegResult::kSuccess) << c.location;
    EXPECT_EQ(data, Sz(c.location));
  }
  // Without any "\" no key is opened: a save fails, a restore reads empty texts.
  TComPort port;
  EXPECT_EQ(ErrorOf([&] { port.SaveSettings(ssRegistry, "ComPortSettings"); }), peStoreFailed);
  port.FlowControl().SetFlowControl(fcHardware);
  EXPECT_EQ(ErrorOf([&] { port.RestoreSettings(ssRegistry, "ComPortSettings"); }), 0);
  EXPECT_EQ(port.Port(), "");
  EXPECT_EQ(port.FlowControl().FlowControl(), fcHardware);  // empty text is the custom preset
}

TEST_F(StorageTest, RegistryRestoreHasNoFallbacksAndStopsAtAMissingInteger) {
  RegistryKey key = MakeKey(RegRoot::LocalMachine, "Software\\TAVEX\\ComPort");
  TComPort port;
  port.SetPort("COM6");
  port.SetBaudRate(br4800);
  port.SetStopBits(sbTwoStopBits);
  port.FlowControl().SetFlowControl(fcSoftware);
  // An empty key succeeds with the fallbacks of empty text.
  EXPECT_EQ(
      ErrorOf([&] { port.RestoreSettings(ssRegistry, "HKEY_LOCAL_MACHINE\\Software\\TAVEX"); }), 0);
  EXPECT_EQ(port.Port(), "");
  EXPECT_EQ(port.BaudRate(), br9600);
  EXPECT_EQ(port.StopBits(), sbOneStopBit);
  EXPECT_EQ(port.FlowControl().FlowControl(), fcSoftware);

  port.SetPort("COM6");
  ASSERT_EQ(key.SetString("BaudRate", "Custom"), RegResult::kSuccess);
  ASSERT_EQ(key.SetString("StopBits", "2"), RegResult::kSuccess);
  EXPECT_EQ(
      ErrorOf([&] { port.RestoreSettings(ssRegistry, "HKEY_LOCAL_MACHINE\\Software\\TAVEX"); }),
      peLoadFailed);
  EXPECT_EQ(lastDetail,
            "Failed to load settings: cannot read value \"CustomBaudRate\" (registry result 2)");
  EXPECT_EQ(port.Port(), "");
  EXPECT_EQ(port.BaudRate(), brCustom);
  EXPECT_EQ(port.StopBits(), sbOneStopBit);  // never reached

  // Values of the wrong type fail; a text value holds only up to its first zero byte.
  ASSERT_EQ(key.SetString("CustomBaudRate", "9600"), RegResult::kSuccess);
  EXPECT_EQ(
      ErrorOf([&] { port.RestoreSettings(ssRegistry, "HKEY_LOCAL_MACHINE\\Software\\TAVEX"); }),
      peLoadFailed);
  EXPECT_EQ(lastDetail,
            "Failed to load settings: not a 4-byte integer value: \"CustomBaudRate\" (registry "
            "result 13)");
  ASSERT_EQ(key.SetDword("CustomBaudRate", 57600), RegResult::kSuccess);
  ASSERT_EQ(key.SetValue("Port", RegType::ExpandSz, std::string("COM7\0junk\0", 10)),
            RegResult::kSuccess);
  EXPECT_EQ(
      ErrorOf([&] { port.RestoreSettings(ssRegistry, "HKEY_LOCAL_MACHINE\\Software\\TAVEX"); }), 0);
  EXPECT_EQ(port.Port(), "COM7");
  EXPECT_EQ(port.CustomBaudRate(), 57600);
  EXPECT_EQ(port.StopBits(), sbTwoStopBits);
  ASSERT_EQ(key.SetDword("Port", 1), RegResult::kSuccess);
  EXPECT_EQ(
      ErrorOf([&] { port.RestoreSettings(ssRegistry, "HKEY_LOCAL_MACHINE\\Software\\TAVEX"); }),
      peLoadFailed);
  ASSERT_EQ(key.SetValue("Port", RegType::Dword, ""),
            RegResult::kSuccess);  // size 0 reads as empty text
  EXPECT_EQ(
      ErrorOf([&] { port.RestoreSettings(ssRegistry, "HKEY_LOCAL_MACHINE\\Software\\TAVEX"); }), 0);
  EXPECT_EQ(port.Port(), "");
}

TEST_F(StorageTest, FlowControlFieldsOverrideThePreset) {
  RegistryKey key = MakeKey(RegRoot::CurrentUser, "S\\ComPort");
  ASSERT_EQ(key.SetString("FlowControl", "Hardware"), RegResult::kSuccess);
  ASSERT_EQ(key.SetString("FlowControl.ControlRTS", "Disable"), RegResult::kSuccess);
  TComPort port;
  port.SavedGroups = TSettingsGroups{sgBasic, sgFlowControl};
  port.RestoreSettings(ssRegistry, "HKEY_CURRENT_USER\\S");
  EXPECT_EQ(port.FlowControl().ControlRTS(), rtsDisable);
  EXPECT_FALSE(port.FlowControl().OutCTSFlow());  // a missing row is empty text, "No"
}

TEST_F(StorageTest, IniRestoreFallsBackToTheCurrentSettings) {
  const std::string path = root_ + "/port.ini";
  WriteFile(path, "[Other]\r\nPort=COM9\r\n");
  TComPort port;
  port.SavedGroups = kAllGroups;
  SetEveryField(port);
  TComPort before;
  before.SavedGroups = kAllGroups;
  SetEveryField(before);
  port.RestoreSettings(ssIniFile, path);  // no section of its own: nothing changes ...
  before.SetCustomBaudRate(9600);         // ... but the custom rate, which falls back to 9600
  ExpectSameSettings(before, port);

  std::ofstream(path, std::ios::binary)
      << "[comport]\r\nPort=\r\nBuffer.OutputSize=0x20\r\nBuffer.InputSize=$40\r\n"
         "Timeouts.ReadInterval=abc\r\nTimeouts.ReadTotalConstant= -5 \r\n"
         "Timeouts.WriteTotalConstant=99999999999\r\nCustomBaudRate=\r\nEventChar=#x\r\n";
  port.RestoreSettings(ssIniFile, path);
  EXPECT_EQ(port.Port(), "");  // present but empty is not missing
  EXPECT_EQ(port.Buffer().OutputSize(), 32);
  EXPECT_EQ(port.Buffer().InputSize(), 64);
  EXPECT_EQ(port.Timeouts().ReadInterval(), -3);  // "abc" keeps the current value
  EXPECT_EQ(port.Timeouts().ReadTotalConstant(), -5);
  EXPECT_EQ(port.Timeouts().WriteTotalConstant(), INT32_MIN);
  EXPECT_EQ(port.CustomBaudRate(), 9600);
  EXPECT_EQ(port.EventChar(), 0);
  EXPECT_EQ(port.StopBits(), sbTwoStopBits);

  // A bare file name lives in the registry directory.
  TComPort plain;
  plain.SaveSettings(ssIniFile, "settings.ini");
  EXPECT_EQ(ReadFile(dir_ + "/settings.ini"),
            "[ComPort]\r\nPort=COM1\r\nBaudRate=9600\r\nStopBits=1\r\nDataBits=8\r\n"
            "Parity=None\r\nFlowControl=None\r\n");
  EXPECT_EQ(ErrorOf([&] { plain.SaveSettings(ssIniFile, root_ + "/missing/dir.ini"); }),
            peStoreFailed);
  EXPECT_EQ(lastDetail,
            "Failed to store settings: cannot write key \"Port\" (errno 2, No such file or "
            "directory)");
  EXPECT_EQ(ErrorOf([&] { plain.SaveSettings(static_cast<TSettingsStore>(7), root_ + "/x.ini"); }),
            0);
  EXPECT_TRUE(fs::exists(root_ + "/x.ini"));  // any store kind but the registry is a file
}

TEST_F(StorageTest, BrokenOrUnwritableHiveFailsTheSaveAndKeepsTheFile) {
  fs::create_directories(dir_);
  // No header: nothing of the file can be trusted.
  const std::string broken =
      "\r\nWindows Registry Editor Version "
      "6.00\r\n\r\n[HKEY_LOCAL_MACHINE\\Software\\TAVEX\\ComPort]\r\n"
      "\"Port\"=\"COM6\"\r\n\"BaudRate\"=4800\r\n";
  WriteFile(Hklm(), broken);
  TComPort port;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(ErrorOf([&] { port.SaveSettings(ssRegistry, "HKEY_LOCAL_MACHINE\\Software\\TAVEX"); }),
            peStoreFailed);
  port.SetPort("COM3");
  EXPECT_EQ(
      ErrorOf([&] { port.RestoreSettings(ssRegistry, "HKEY_LOCAL_MACHINE\\Software\\TAVEX"); }), 0);
  const std::string diagnostics = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(port.Port(), "");  // the empty-key result
  EXPECT_EQ(ReadFile(Hklm()), broken);
  EXPECT_NE(diagnostics.find(Hklm() + ", line 2"), std::string::npos) << diagnostics;

  // The registry directory's path runs through a regular file.
  WriteFile(root_ + "/file", "x");
  ::setenv("TAVEX_REGISTRY_DIR", (root_ + "/file/registry").c_str(), 1);
  EXPECT_EQ(ErrorOf([&] { port.SaveSettings(ssRegistry, "HKEY_CURRENT_USER\\Software\\TAVEX"); }),
            peStoreFailed);
  EXPECT_EQ(
      ErrorOf([&] { port.RestoreSettings(ssRegistry, "HKEY_CURRENT_USER\\Software\\TAVEX"); }), 0);
}

// A store's failure reaches the operator and the journal with its code in its own kind: 13 of the
// registry (a value of the wrong type) and EACCES of the hive file read differently.
TEST_F(StorageTest, AFailuresCodeReadsAsItsOwnKind) {
  const std::string location = "HKEY_LOCAL_MACHINE\\Software\\TAVEX";
  TComPort port;
  port.SaveSettings(ssRegistry, location);
  RegistryKey key = MakeKey(RegRoot::LocalMachine, "Software\\TAVEX\\ComPort");
  struct Case {
    const char* name;
    std::function<int()> run;
    int error;
    std::string reported;
    std::string detail;
  };
  const Case cases[] = {
      {"registry result 13",
       [&] {
         EXPECT_EQ(key.SetString("BaudRate", "Custom"), RegResult::kSuccess);
         EXPECT_EQ(key.SetString("CustomBaudRate", "9600"), RegResult::kSuccess);
         return ErrorOf([&] { port.RestoreSettings(ssRegistry, location); });
       },
       peLoadFailed, "Permission denied, or a registry value of the wrong type",
       "Failed to load settings: not a 4-byte integer value: \"CustomBaudRate\" (registry result "
       "13)"},
      {"hive file EACCES",
       [&] {
         test::UnwritableFile unwritable(Hklm(), {root_});
         return ErrorOf([&] { port.SaveSettings(ssRegistry, location); });
       },
       peStoreFailed, "Permission denied",
       "Failed to store settings: cannot write value \"Port\" (errno 13, Permission denied)"},
      {"hive file EFBIG",
       [&] {
         port.SetPort(std::string(4096, 'p'));
         test::FileSizeLimit limit(fs::file_size(Hklm()));
         return ErrorOf([&] { port.SaveSettings(ssRegistry, location); });
       },
       peStoreFailed, "File too large",
       "Failed to store settings: cannot write value \"Port\" (errno 27, File too large)"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(c.run(), c.error) << c.name;
    EXPECT_EQ(lastExplanation, "The system reports: " + c.reported + ".\nFile: " + Hklm())
        << c.name;
    EXPECT_EQ(lastDetail, c.detail) << c.name;
  }
}

// A registry editor's export (UTF-16LE, CR LF) with the port as an expandable string and values
// the store cannot read in another key: the port restores, and a save keeps the file's form and
// every line it did not change.
TEST_F(StorageTest, WindowsExportRestoresAndASaveKeepsItsForm) {
  fs::create_directories(dir_);
  const std::string before =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n"
      "\"Note\"=\"caf\xC3\xA9\"\r\n"
      "\"Lines\"=\"line1\\r\\nline2\"\r\n"
      "\"Odd\"=hex:01,,02\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\TAVEX\\ComPort]\r\n"
      "\"Port\"=hex(2):43,00,4f,00,4d,00,37,00,00,00\r\n"
      "\"BaudRate\"=\"4800\"\r\n\r\n";
  const auto utf16 = [](const std::string& utf8) {
    std::u16string units;
    EXPECT_TRUE(platform::Utf8ToUtf16(utf8, units));
    return "\xFF\xFE" + platform::ToUtf16Le(units);
  };
  WriteFile(Hklm(), utf16(before));
  TComPort port;
  ::testing::internal::CaptureStderr();
  EXPECT_EQ(
      ErrorOf([&] { port.RestoreSettings(ssRegistry, "HKEY_LOCAL_MACHINE\\Software\\TAVEX"); }), 0);
  EXPECT_EQ(port.Port(), "COM7");
  port.SetPort("COM8");
  EXPECT_EQ(ErrorOf([&] { port.SaveSettings(ssRegistry, "HKEY_LOCAL_MACHINE\\Software\\TAVEX"); }),
            0);
  const std::string diagnostics = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(diagnostics.find(Hklm() + ", line 6: bad hex data"), std::string::npos) << diagnostics;
  const std::string after = ReadFile(Hklm());
  const std::string prefix = before.substr(0, before.find("\"Port\""));
  EXPECT_TRUE(after.starts_with(utf16(prefix)));
  const std::string rewritten = "\"Port\"=\"COM8\"\r\n\"BaudRate\"=\"4800\"\r\n\"StopBits\"=\"1\"";
  EXPECT_NE(after.find(utf16(rewritten).substr(2)), std::string::npos);
  port.SetPort("");
  EXPECT_EQ(
      ErrorOf([&] { port.RestoreSettings(ssRegistry, "HKEY_LOCAL_MACHINE\\Software\\TAVEX"); }), 0);
  EXPECT_EQ(port.Port(), "COM8");
}

// A save that cannot write its file (here: a file size limit, which holds for root as well)
// fails and leaves the previous file exactly as it was, with no temporary file beside it.
TEST_F(StorageTest, FailedWriteKeepsThePreviousFile) {
  TComPort port;
  port.SaveSettings(ssRegistry, "HKEY_LOCAL_MACHINE\\Software\\TAVEX");
  const std::string before = ReadFile(Hklm());
  pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    ::signal(SIGXFSZ, SIG_IGN);
    rlimit limit{static_cast<rlim_t>(before.size() + 16), static_cast<rlim_t>(before.size() + 16)};
    ::setrlimit(RLIMIT_FSIZE, &limit);
    port.SetPort(std::string(4096, 'p'));
    int code =
        ErrorOf([&] { port.SaveSettings(ssRegistry, "HKEY_LOCAL_MACHINE\\Software\\TAVEX"); });
    ::_exit(code);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), peStoreFailed);
  EXPECT_EQ(ReadFile(Hklm()), before);
  int entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_)) ++entries;
  EXPECT_EQ(entries, 1);
}

// Two processes saving different settings over and over: every state of the file parses and
// holds one complete set of one of them, and a restore reads one such set.
TEST_F(StorageTest, ConcurrentSavesNeverMixOrTear) {
  auto saver = [](const std::string& name, TBaudRate rate, TParityBits parity) {
    TComPort port;
    port.SetPort(name);
    port.SetBaudRate(rate);
    port.Parity().SetBits(parity);
    for (int i = 0; i < 200; ++i) port.SaveSettings(ssRegistry, "HKEY_CURRENT_USER\\Shared");
  };
  pid_t a = ::fork();
  if (a == 0) {
    saver("ttyA", br4800, prOdd);
    ::_exit(0);
  }
  pid_t b = ::fork();
  if (b == 0) {
    saver("ttyB", br19200, prEven);
    ::_exit(0);
  }
  ASSERT_GT(a, 0);
  ASSERT_GT(b, 0);
  const std::string hive = dir_ + "/HKEY_CURRENT_USER.reg";
  int checks = 0;
  int status = 0;
  auto check = [&] {
    if (!fs::exists(hive)) return;
    platform::Hive parsed;
    platform::HiveParseError error;
    ASSERT_TRUE(platform::ParseHive(ReadFile(hive), RegRoot::CurrentUser, parsed, error))
        << error.line << ": " << error.message;
    const platform::HiveKey* key = parsed.Find("Shared\\ComPort");
    // The key is made by the first save just before its values are written.
    if (key == nullptr || key->values.empty()) return;
    ASSERT_EQ(key->values.size(), 6u);
    const std::string port = key->values[0].data;
    const bool fromA = port == Sz("ttyA");
    EXPECT_TRUE(fromA || port == Sz("ttyB")) << port;
    EXPECT_EQ(key->values[1].data, Sz(fromA ? "4800" : "19200"));
    EXPECT_EQ(key->values[4].data, Sz(fromA ? "Odd" : "Even"));
    // A restore meanwhile reads one save, never half of each.
    TComPort reader;
    reader.RestoreSettings(ssRegistry, "HKEY_CURRENT_USER\\Shared");
    const bool readA = reader.Port() == "ttyA";
    EXPECT_TRUE(readA || reader.Port() == "ttyB") << reader.Port();
    EXPECT_EQ(reader.BaudRate(), readA ? br4800 : br19200);
    EXPECT_EQ(reader.Parity().Bits(), readA ? prOdd : prEven);
    ++checks;
  };
  while (::waitpid(a, &status, WNOHANG) == 0 || ::waitpid(b, &status, WNOHANG) == 0) check();
  ::waitpid(a, &status, 0);
  ::waitpid(b, &status, 0);
  check();
  EXPECT_GT(checks, 0);
  int entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_)) ++entries;
  EXPECT_EQ(entries, 1);
}

// Counts how often the complete settings reach the device and what the far end saw meanwhile.
class CountingPort : public TComPort {
 public:
  int applied = 0;
  int masterFd = -1;
  std::vector<speed_t> speedsSeenByLineChanges;

 protected:
  void ApplySettings() override {
    ++applied;
    inApply_ = true;
    TComPort::ApplySettings();
    inApply_ = false;
  }
  void ApplyLineSettings() override {
    TComPort::ApplyLineSettings();
    if (!inApply_ && masterFd >= 0) {
      termios t{};
      ::tcgetattr(masterFd, &t);
      speedsSeenByLineChanges.push_back(::cfgetospeed(&t));
    }
  }

 private:
  bool inApply_ = false;
};

TEST_F(StorageTest, RestoreOnAnOpenPortAppliesOnceEvenWhenItFails) {
  platform::PseudoTerminal pty;
  ASSERT_EQ(pty.Create(), 0);
  CountingPort port;
  port.masterFd = pty.MasterFd();
  port.SetPort(pty.SlavePath());
  port.Open();
  termios t{};
  ASSERT_EQ(::tcgetattr(pty.MasterFd(), &t), 0);
  ASSERT_EQ(::cfgetospeed(&t), B9600);

  RegistryKey key = MakeKey(RegRoot::CurrentUser, "Dev\\ComPort");
  ASSERT_EQ(key.SetString("Port", pty.SlavePath()), RegResult::kSuccess);
  ASSERT_EQ(key.SetString("BaudRate", "4800"), RegResult::kSuccess);
  ASSERT_EQ(key.SetString("StopBits", "2"), RegResult::kSuccess);
  ASSERT_EQ(key.SetString("DataBits", "7"), RegResult::kSuccess);
  ASSERT_EQ(key.SetString("Parity", "Even"), RegResult::kSuccess);
  ASSERT_EQ(key.SetString("FlowControl", "None"), RegResult::kSuccess);
  // The buffer group is selected but missing: the restore fails after the basic values.
  port.SavedGroups = TSettingsGroups{sgBasic, sgBuffer};
  port.applied = 0;
  EXPECT_EQ(ErrorOf([&] { port.RestoreSettings(ssRegistry, "HKEY_CURRENT_USER\\Dev"); }),
            peLoadFailed);
  EXPECT_EQ(port.applied, 1);
  for (speed_t s : port.speedsSeenByLineChanges) EXPECT_EQ(s, B9600);  // nothing pushed early
  ASSERT_EQ(::tcgetattr(pty.MasterFd(), &t), 0);
  EXPECT_EQ(::cfgetospeed(&t), B4800);
  // A pseudo-terminal keeps only the rate of the line settings; the rest is in the port.
  EXPECT_EQ(port.DataBits(), dbSeven);
  EXPECT_EQ(port.Parity().Bits(), prEven);
  EXPECT_TRUE(port.Connected());
  port.Close();
}

}  // namespace
}  // namespace tavex
