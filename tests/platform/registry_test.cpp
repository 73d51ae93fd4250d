#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <thread>

#include "platform/registry.h"
#include "platform/registry_hive.h"
#include "support/scratch.h"

namespace tavex::platform {
namespace {

namespace fs = std::filesystem;

using test::ReadFile;
using test::WriteFile;

// Every test gets a registry directory of its own.
class RegistryTest : public ::testing::Test {
 protected:
  void TearDown() override {
    // A test may leave the registry directory read-only; the scratch directory must still go.
    std::error_code ec;
    fs::permissions(dir_, fs::perms::owner_all, fs::perm_options::add, ec);
  }
  std::string Hklm() const { return dir_ + "/HKEY_LOCAL_MACHINE.reg"; }

  test::ScratchRegistry scratch_{"tavex-registry"};
  const std::string root_ = scratch_.Root();
  const std::string dir_ = scratch_.Dir();
};

std::string Query(const RegistryKey& key, const std::string& name, RegType* type = nullptr) {
  RegType t{};
  std::string data;
  EXPECT_EQ(key.QueryValue(name, t, data), 0) << name;
  if (type != nullptr) *type = t;
  return data;
}

TEST_F(RegistryTest, DirectoryFollowsTheEnvironment) {
  EXPECT_EQ(RegistryDirectory(), dir_);
  ::unsetenv("TAVEX_REGISTRY_DIR");
  ::setenv("XDG_CONFIG_HOME", "/cfg", 1);
  EXPECT_EQ(RegistryDirectory(), "/cfg/tavex/registry");
  ::setenv("XDG_CONFIG_HOME", "relative", 1);  // not absolute: ignored
  ::setenv("HOME", "/home/op", 1);
  EXPECT_EQ(RegistryDirectory(), "/home/op/.config/tavex/registry");
  ::unsetenv("XDG_CONFIG_HOME");
  EXPECT_EQ(HivePath(RegRoot::LocalMachine),
            "/home/op/.config/tavex/registry/HKEY_LOCAL_MACHINE.reg");
}

TEST_F(RegistryTest, WritesTheExportFormat) {
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Create(RegRoot::LocalMachine, "Software\\TAVEX\\ComPort", key), 0);
  ASSERT_EQ(key.SetString("Port", "ttyUSB0"), 0);
  ASSERT_EQ(key.SetString("BaudRate", "Custom"), 0);
  ASSERT_EQ(key.SetDword("CustomBaudRate", 9600), 0);
  ASSERT_EQ(key.SetString("", "C:\\path \"quoted\""), 0);
  EXPECT_EQ(ReadFile(Hklm()),
            "Windows Registry Editor Version 5.00\n"
            "\n[HKEY_LOCAL_MACHINE\\Software]\n"
            "\n[HKEY_LOCAL_MACHINE\\Software\\TAVEX]\n"
            "\n[HKEY_LOCAL_MACHINE\\Software\\TAVEX\\ComPort]\n"
            "\"Port\"=\"ttyUSB0\"\n"
            "\"BaudRate\"=\"Custom\"\n"
            "\"CustomBaudRate\"=dword:00002580\n"
            "@=\"C:\\\\path \\\"quoted\\\"\"\n");
  EXPECT_FALSE(fs::exists(dir_ + "/HKEY_CURRENT_USER.reg"));
}

// Whatever bytes a value holds, writing the hive and reading it back gives the same bytes.
TEST_F(RegistryTest, EveryByteStringRoundTrips) {
  std::string allBytes;
  for (int b = 1; b < 256; ++b) allBytes.push_back(static_cast<char>(b));
  const std::vector<RegValueWrite> values = {
      {"cyrillic", RegType::Sz, std::string("\xD7\xE0\xF1\xFB \xB0", 6) + '\0'},
      {"controls", RegType::Sz, std::string("a\r\nb\x01\x1b", 6) + '\0'},
      {"all bytes", RegType::Sz, allBytes + '\0'},
      {"unassigned 0x98", RegType::Sz, std::string("\x98", 1) + '\0'},
      {"inner zero", RegType::Sz, std::string("ab\0cd\0", 6)},
      {"no terminator", RegType::Sz, "abc"},
      {"empty", RegType::Sz, ""},
      {"long", RegType::Sz, std::string(100000, 'x') + '\0'},
      {"short dword", RegType::Dword, "\x01\x02"},
      {"binary", RegType::Binary, allBytes},
      {"qword", RegType::QWord, std::string("\0\1\2\3\4\5\6\7", 8)},
      {"expand", RegType::ExpandSz, std::string("%HOME%") + '\0'},
      {"\xC8\xEC\xFF \"quoted\\\"", RegType::Sz, std::string("v") + '\0'},
  };
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Create(RegRoot::CurrentUser, "Software\\Test", key), 0);
  ASSERT_EQ(key.SetValues(values), 0);
  ASSERT_EQ(key.SetDword("minus one", 0xFFFFFFFFu), 0);
  for (const RegValueWrite& v : values) {
    RegType type{};
    EXPECT_EQ(Query(key, v.name, &type), v.data) << v.name;
    EXPECT_EQ(type, v.type) << v.name;
  }
  EXPECT_EQ(Query(key, "minus one"), std::string(4, '\xFF'));
  const std::string text = ReadFile(dir_ + "/HKEY_CURRENT_USER.reg");
  EXPECT_NE(text.find("\"cyrillic\"=\"Часы °\"\n"), std::string::npos);
  EXPECT_NE(text.find("\"controls\"=hex(1):61,0d,0a,62,01,1b,00\n"), std::string::npos);
  EXPECT_NE(text.find("\"binary\"=hex:01,02,"), std::string::npos);
  EXPECT_NE(text.find("\"qword\"=hex(b):00,01,"), std::string::npos);
  EXPECT_NE(text.find("\"minus one\"=dword:ffffffff\n"), std::string::npos);
  // Long hex data is continued over several lines, none of them very long.
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) {
    if (line.find("=hex") != std::string::npos || line.starts_with("  ")) {
      EXPECT_LE(line.size(), 80u);
    }
  }
}

TEST_F(RegistryTest, ReadsHandEditedFiles) {
  fs::create_directories(dir_);
  WriteFile(Hklm(),
            "\xEF\xBB\xBFWindows Registry Editor Version 5.00\r\n"
            "\r\n"
            "; written by hand\r\n"
            "[hkey_local_machine\\SOFTWARE\\tavex\\ComPort]\r\n"
            "  \"FlowControl\" = \"None\"\r\n"
            "\"port\"=\"COM6\"\r\n"
            "\"CustomBaudRate\"=dword:2580\r\n"
            "\"Blob\"=hex(1):41,42,\\\r\n"
            "  43,00\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n"
            "@=\"default\"\r\n");
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Open(RegRoot::LocalMachine, "Software\\TAVEX\\COMPORT", key), 0);
  EXPECT_EQ(Query(key, "Port"), std::string("COM6") + '\0');
  EXPECT_EQ(Query(key, "FLOWCONTROL"), std::string("None") + '\0');
  EXPECT_EQ(Query(key, "CustomBaudRate"), std::string("\x80\x25\0\0", 4));
  EXPECT_EQ(Query(key, "blob"), std::string("ABC") + '\0');
  std::string name, data;
  RegType type{};
  ASSERT_EQ(key.EnumValue(0, name, 256, type, data, 256), 0);
  EXPECT_EQ(name, "FlowControl");  // the file's own order and spelling
  ASSERT_EQ(key.EnumValue(3, name, 256, type, data, 256), 0);
  EXPECT_EQ(name, "Blob");
  EXPECT_EQ(key.EnumValue(4, name, 256, type, data, 256), kErrorNoMoreItems);
  EXPECT_EQ(key.EnumValue(0, name, 11, type, data, 256), kErrorMoreData);  // "FlowControl" + 0
  EXPECT_EQ(key.EnumValue(0, name, 12, type, data, 4), kErrorMoreData);
  EXPECT_EQ(key.EnumValue(0, name, 12, type, data, 5), 0);

  RegistryKey other;
  ASSERT_EQ(RegistryKey::Open(RegRoot::LocalMachine, "software\\other", other), 0);
  EXPECT_EQ(Query(other, ""), std::string("default") + '\0');
  EXPECT_EQ(RegistryKey::Open(RegRoot::LocalMachine, "Software\\Missing", other),
            kErrorFileNotFound);
  EXPECT_EQ(other.QueryValue("nothing", type, data), kErrorFileNotFound);
}

TEST_F(RegistryTest, NamesCompareWithoutCaseAndKeepTheirCreationOrder) {
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Create(RegRoot::CurrentUser, "A\\\\B\\", key), 0);
  EXPECT_EQ(key.Path(), "A\\B");  // doubled and trailing separators name the same key
  ASSERT_EQ(key.SetString("Zeta", "1"), 0);
  ASSERT_EQ(key.SetString("alpha", "2"), 0);
  ASSERT_EQ(key.SetString("ZETA", "3"), 0);  // replaces in place
  RegistryKey same;
  ASSERT_EQ(RegistryKey::Create(RegRoot::CurrentUser, "a\\b", same), 0);
  std::string name, data;
  RegType type{};
  ASSERT_EQ(same.EnumValue(0, name, 256, type, data, 256), 0);
  EXPECT_EQ(name, "Zeta");
  EXPECT_EQ(data, std::string("3") + '\0');
  ASSERT_EQ(same.EnumValue(1, name, 256, type, data, 256), 0);
  EXPECT_EQ(name, "alpha");
  ASSERT_EQ(same.DeleteValue("ZeTa"), 0);
  EXPECT_EQ(same.DeleteValue("zeta"), kErrorFileNotFound);
  ASSERT_EQ(same.EnumValue(0, name, 256, type, data, 256), 0);
  EXPECT_EQ(name, "alpha");
}

TEST_F(RegistryTest, BatchStopsAtAValueItCannotStoreAndKeepsTheOnesBefore) {
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Create(RegRoot::CurrentUser, "K", key), 0);
  std::size_t applied = 99;
  EXPECT_EQ(key.SetValues({{"first", RegType::Sz, std::string("1") + '\0'},
                           {"bad\nname", RegType::Sz, std::string("2") + '\0'},
                           {"third", RegType::Sz, std::string("3") + '\0'}},
                          &applied),
            kErrorInvalidParameter);
  EXPECT_EQ(applied, 1u);
  RegType type{};
  std::string data;
  EXPECT_EQ(key.QueryValue("first", type, data), 0);
  EXPECT_EQ(key.QueryValue("third", type, data), kErrorFileNotFound);
  EXPECT_EQ(RegistryKey::Create(RegRoot::CurrentUser, "bad[key]", key), kErrorInvalidParameter);
  RegistryKey closed;
  EXPECT_EQ(closed.SetString("x", "y"), kErrorInvalidHandle);
}

TEST_F(RegistryTest, BrokenHiveIsNeverOverwrittenAndReadsAsEmpty) {
  fs::create_directories(dir_);
  const std::string broken =
      "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\TAVEX\\ComPort]\n"
      "\"Port\"=\"COM6\"\n\"BaudRate\"=\"4800\n";
  WriteFile(Hklm(), broken);
  ::testing::internal::CaptureStderr();
  RegistryKey key;
  EXPECT_EQ(RegistryKey::Open(RegRoot::LocalMachine, "Software\\TAVEX\\ComPort", key),
            kErrorFileNotFound);
  EXPECT_NE(RegistryKey::Create(RegRoot::LocalMachine, "Software\\TAVEX\\ComPort", key), 0);
  RegistryKey direct(RegRoot::LocalMachine, "Software\\TAVEX\\ComPort");
  int rc = direct.SetString("Port", "COM1");
  const std::string diagnostics = ::testing::internal::GetCapturedStderr();
  EXPECT_NE(rc, 0);
  EXPECT_NE(rc, kErrorFileNotFound);
  EXPECT_EQ(ReadFile(Hklm()), broken);
  // One diagnostic for this state of the file, naming the file and the line.
  EXPECT_NE(diagnostics.find(Hklm() + ", line 5"), std::string::npos) << diagnostics;
  EXPECT_EQ(diagnostics.find('\n'), diagnostics.size() - 1) << diagnostics;
}

TEST_F(RegistryTest, RejectsWhatItCannotRepresent) {
  const char* bad[] = {
      "no header\n",
      "Windows Registry Editor Version 5.00\n\"Port\"=\"x\"\n",  // value before a key
      "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"P\"=\"a\\q\"\n",
      "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"P\"=dword:123456789\n",
      "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"P\"=hex:1,xyz\n",
      "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"P\"=hex:01,\\",
      "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"P\"=\"a\" junk\n",
      "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"P\"=-\n",
      "Windows Registry Editor Version 5.00\n[-HKEY_CURRENT_USER\\A]\n",
      "Windows Registry Editor Version 5.00\n[HKEY_LOCAL_MACHINE\\A]\n",  // other root
      "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n\"P\"=\"\xE4\xB8\xAD\"\n",
  };
  for (const char* text : bad) {
    Hive hive;
    HiveParseError error;
    EXPECT_FALSE(ParseHive(text, RegRoot::CurrentUser, hive, error)) << text;
    EXPECT_GT(error.line, 0u) << text;
    EXPECT_TRUE(hive.Keys().empty());
  }
  Hive hive;
  HiveParseError error;
  EXPECT_TRUE(ParseHive("", RegRoot::CurrentUser, hive, error));
  EXPECT_TRUE(ParseHive("\n \r\n", RegRoot::CurrentUser, hive, error));
}

TEST_F(RegistryTest, UnwritableLocationFailsAndKeepsTheOldFile) {
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Create(RegRoot::LocalMachine, "K", key), 0);
  ASSERT_EQ(key.SetString("v", "old"), 0);
  const std::string before = ReadFile(Hklm());

  // The registry directory's path runs through a regular file: nothing can be made there.
  WriteFile(root_ + "/plainfile", "x");
  ::setenv("TAVEX_REGISTRY_DIR", (root_ + "/plainfile/registry").c_str(), 1);
  RegistryKey elsewhere;
  EXPECT_EQ(RegistryKey::Create(RegRoot::LocalMachine, "K", elsewhere), ENOTDIR);
  RegistryKey direct(RegRoot::LocalMachine, "K");
  EXPECT_EQ(direct.SetString("v", "new"), ENOTDIR);
  ::setenv("TAVEX_REGISTRY_DIR", dir_.c_str(), 1);

  // A hive file replaced by a directory cannot be read or rewritten.
  if (::geteuid() != 0) {
    ::chmod(dir_.c_str(), 0555);
    EXPECT_EQ(key.SetString("v", "new"), EACCES);
    ::chmod(dir_.c_str(), 0755);
    ::chmod(Hklm().c_str(), 0444);
    EXPECT_EQ(key.SetString("v", "new"), EACCES);  // though the rename would succeed
    ::chmod(Hklm().c_str(), 0644);
  }
  EXPECT_EQ(ReadFile(Hklm()), before);
  EXPECT_EQ(Query(key, "v"), std::string("old") + '\0');
}

// A writer killed at any moment leaves the previous complete file, which still parses.
TEST_F(RegistryTest, WriterKilledHalfWayLeavesACompleteFile) {
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Create(RegRoot::CurrentUser, "K", key), 0);
  const std::string big(200000, 'a');
  ASSERT_EQ(key.SetValues({{"a", RegType::Sz, big + '\0'}, {"b", RegType::Sz, big + '\0'}}), 0);
  for (int round = 0; round < 20; ++round) {
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
      for (char c = 'b';; c = c == 'y' ? 'b' : static_cast<char>(c + 1)) {
        std::string v(200000, c);
        key.SetValues({{"a", RegType::Sz, v + '\0'}, {"b", RegType::Sz, v + '\0'}});
      }
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5 + round * 3));
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    Hive hive;
    HiveParseError error;
    ASSERT_TRUE(
        ParseHive(ReadFile(dir_ + "/HKEY_CURRENT_USER.reg"), RegRoot::CurrentUser, hive, error))
        << error.line << " " << error.message;
    const HiveKey* k = hive.Find("K");
    ASSERT_NE(k, nullptr);
    ASSERT_EQ(k->values.size(), 2u);
    EXPECT_EQ(k->values[0].data, k->values[1].data);  // both from the same write
    EXPECT_EQ(k->values[0].data.size(), 200001u);
  }
  // The next writer clears what the killed ones left behind.
  ASSERT_EQ(key.SetString("c", "x"), 0);
  int entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_)) ++entries;
  EXPECT_EQ(entries, 1);
}

}  // namespace
}  // namespace tavex::platform
