// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <sstream>
#include <thread>
#include <type_traits>
#include <variant>

#include "platform/registry.h"
#include "platform/registry_hive.h"
#include "platform/system_text.h"
#include "platform/text_codec.h"
#include "support/file_limits.h"
#include "support/reg_status.h"
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
  EXPECT_EQ(key.QueryValue(name, t, data), RegResult::kSuccess) << name;
  if (type != nullptr) *type = t;
  return data;
}

TEST(RegistryDword, FourBytesLeastSignificantFirst) {
  struct Case {
    std::uint32_t value;
    std::string data;
  };
  for (const Case& c :
       {Case{0, std::string(4, '\0')}, Case{0x12345678, "\x78\x56\x34\x12"},
        Case{0x80000000, std::string("\0\0\0\x80", 4)}, Case{0xFFFFFFFF, "\xFF\xFF\xFF\xFF"}}) {
    EXPECT_EQ(DwordData(c.value), c.data) << c.value;
    EXPECT_EQ(DwordValue(c.data), c.value) << c.value;
  }
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
  ASSERT_EQ(RegistryKey::Create(RegRoot::LocalMachine, "Software\\TAVEX\\ComPort", key),
            RegResult::kSuccess);
  ASSERT_EQ(key.SetString("Port", "ttyUSB0"), RegResult::kSuccess);
  ASSERT_EQ(key.SetString("BaudRate", "Custom"), RegResult::kSuccess);
  ASSERT_EQ(key.SetDword("CustomBaudRate", 9600), RegResult::kSuccess);
  ASSERT_EQ(key.SetString("", "C:\\path \"quoted\""), RegResult::kSuccess);
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
      {"empty", RegType::Sz, ""},
      {"long", RegType::Sz, std::string(100000, 'x') + '\0'},
      {"short dword", RegType::Dword, "\x01\x02"},
      {"binary", RegType::Binary, allBytes},
      {"qword", RegType::QWord, std::string("\0\1\2\3\4\5\6\7", 8)},
      {"expand", RegType::ExpandSz, std::string("%HOME%") + '\0'},
      {"\xC8\xEC\xFF \"quoted\\\"", RegType::Sz, std::string("v") + '\0'},
      {"tab\tline\r\n[bracket]\x01", RegType::Sz, std::string("v") + '\0'},
  };
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Create(RegRoot::CurrentUser, "Software\\Test", key), RegResult::kSuccess);
  ASSERT_EQ(key.SetValues(values), RegResult::kSuccess);
  ASSERT_EQ(key.SetDword("minus one", 0xFFFFFFFFu), RegResult::kSuccess);
  // Text without its terminating zero gets one, as the file's text forms cannot do without it.
  ASSERT_EQ(key.SetValue("no terminator", RegType::Sz, "abc"), RegResult::kSuccess);
  ASSERT_EQ(key.SetValue("multi", RegType::MultiSz, std::string("a\0b", 3)), RegResult::kSuccess);
  EXPECT_EQ(Query(key, "no terminator"), std::string("abc\0", 4));
  EXPECT_EQ(Query(key, "multi"), std::string("a\0b\0", 4));
  for (const RegValueWrite& v : values) {
    RegType type{};
    EXPECT_EQ(Query(key, v.name, &type), v.data) << v.name;
    EXPECT_EQ(type, v.type) << v.name;
  }
  EXPECT_EQ(Query(key, "minus one"), std::string(4, '\xFF'));
  const std::string text = ReadFile(dir_ + "/HKEY_CURRENT_USER.reg");
  EXPECT_NE(text.find("\"cyrillic\"=\"Часы °\"\n"), std::string::npos);
  // hex(1) holds UTF-16LE text in a version 5 file.
  EXPECT_NE(text.find("\"controls\"=hex(1):61,00,0d,00,0a,00,62,00,01,00,1b,00,00,00\n"),
            std::string::npos);
  EXPECT_NE(text.find("\"expand\"=hex(2):25,00,48,00,4f,00,4d,00,45,00,25,00,00,00\n"),
            std::string::npos);
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
            "\"Blob\"=hex(1):41,00,42,00,\\\r\n"
            "  43,00,00,00\r\n"
            "\r\n"
            "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n"
            "@=\"default\"\r\n");
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Open(RegRoot::LocalMachine, "Software\\TAVEX\\COMPORT", key),
            RegResult::kSuccess);
  EXPECT_EQ(Query(key, "Port"), std::string("COM6") + '\0');
  EXPECT_EQ(Query(key, "FLOWCONTROL"), std::string("None") + '\0');
  EXPECT_EQ(Query(key, "CustomBaudRate"), std::string("\x80\x25\0\0", 4));
  EXPECT_EQ(Query(key, "blob"), std::string("ABC") + '\0');
  std::string name, data;
  RegType type{};
  ASSERT_EQ(key.EnumValue(0, name, 256, type, data, 256), RegResult::kSuccess);
  EXPECT_EQ(name, "FlowControl");  // the file's own order and spelling
  ASSERT_EQ(key.EnumValue(3, name, 256, type, data, 256), RegResult::kSuccess);
  EXPECT_EQ(name, "Blob");
  EXPECT_EQ(key.EnumValue(4, name, 256, type, data, 256), RegResult::kNoMoreItems);
  EXPECT_EQ(key.EnumValue(0, name, 11, type, data, 256),
            RegResult::kMoreData);  // "FlowControl" + 0
  EXPECT_EQ(key.EnumValue(0, name, 12, type, data, 4), RegResult::kMoreData);
  EXPECT_EQ(key.EnumValue(0, name, 12, type, data, 5), RegResult::kSuccess);

  RegistryKey other;
  ASSERT_EQ(RegistryKey::Open(RegRoot::LocalMachine, "software\\other", other),
            RegResult::kSuccess);
  EXPECT_EQ(Query(other, ""), std::string("default") + '\0');
  EXPECT_EQ(RegistryKey::Open(RegRoot::LocalMachine, "Software\\Missing", other),
            RegResult::kFileNotFound);
  EXPECT_EQ(other.QueryValue("nothing", type, data), RegResult::kFileNotFound);
}

TEST_F(RegistryTest, NamesCompareWithoutCaseAndKeepTheirCreationOrder) {
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Create(RegRoot::CurrentUser, "A\\\\B\\", key), RegResult::kSuccess);
  EXPECT_EQ(key.Path(), "A\\B");  // doubled and trailing separators name the same key
  ASSERT_EQ(key.SetString("Zeta", "1"), RegResult::kSuccess);
  ASSERT_EQ(key.SetString("alpha", "2"), RegResult::kSuccess);
  ASSERT_EQ(key.SetString("ZETA", "3"), RegResult::kSuccess);  // replaces in place
  RegistryKey same;
  ASSERT_EQ(RegistryKey::Create(RegRoot::CurrentUser, "a\\b", same), RegResult::kSuccess);
  std::string name, data;
  RegType type{};
  ASSERT_EQ(same.EnumValue(0, name, 256, type, data, 256), RegResult::kSuccess);
  EXPECT_EQ(name, "Zeta");
  EXPECT_EQ(data, std::string("3") + '\0');
  ASSERT_EQ(same.EnumValue(1, name, 256, type, data, 256), RegResult::kSuccess);
  EXPECT_EQ(name, "alpha");
  ASSERT_EQ(same.DeleteValue("ZeTa"), RegResult::kSuccess);
  EXPECT_EQ(same.DeleteValue("zeta"), RegResult::kFileNotFound);
  ASSERT_EQ(same.EnumValue(0, name, 256, type, data, 256), RegResult::kSuccess);
  EXPECT_EQ(name, "alpha");
}

TEST_F(RegistryTest, BatchStopsAtAValueItCannotStoreAndKeepsTheOnesBefore) {
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Create(RegRoot::CurrentUser, "K", key), RegResult::kSuccess);
  std::size_t applied = 99;
  EXPECT_EQ(key.SetValues({{"first", RegType::Sz, std::string("1") + '\0'},
                           {"bad\x98name", RegType::Sz, std::string("2") + '\0'},
                           {"third", RegType::Sz, std::string("3") + '\0'}},
                          &applied),
            RegResult::kInvalidParameter);
  EXPECT_EQ(applied, 1u);
  RegType type{};
  std::string data;
  EXPECT_EQ(key.QueryValue("first", type, data), RegResult::kSuccess);
  EXPECT_EQ(key.QueryValue("third", type, data), RegResult::kFileNotFound);
  EXPECT_EQ(RegistryKey::Create(RegRoot::CurrentUser, "bad\nkey", key),
            RegResult::kInvalidParameter);
  RegistryKey closed;
  EXPECT_EQ(closed.SetString("x", "y"), RegResult::kInvalidHandle);
}

TEST_F(RegistryTest, BrokenHiveIsNeverOverwrittenAndReadsAsEmpty) {
  fs::create_directories(dir_);
  // A header the store does not know: nothing below it can be trusted.
  const std::string broken =
      "\n; exported\n\n\n[HKEY_LOCAL_MACHINE\\Software\\TAVEX\\ComPort]\n"
      "\"Port\"=\"COM6\"\n\"BaudRate\"=\"4800\"\n";
  WriteFile(Hklm(), broken);
  ::testing::internal::CaptureStderr();
  RegistryKey key;
  EXPECT_EQ(RegistryKey::Open(RegRoot::LocalMachine, "Software\\TAVEX\\ComPort", key),
            RegResult::kFileNotFound);
  // The file is not rewritten: a change fails as a file that holds no hive.
  EXPECT_EQ(RegistryKey::Create(RegRoot::LocalMachine, "Software\\TAVEX\\ComPort", key),
            Errno{EBADMSG});
  RegistryKey direct(RegRoot::LocalMachine, "Software\\TAVEX\\ComPort");
  const RegStatus rc = direct.SetString("Port", "COM1");
  const std::string diagnostics = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(rc, Errno{EBADMSG});
  EXPECT_EQ(ReadFile(Hklm()), broken);
  // One diagnostic for this state of the file, naming the file and the line.
  EXPECT_NE(diagnostics.find(Hklm() + ", line 2"), std::string::npos) << diagnostics;
  EXPECT_EQ(diagnostics.find('\n'), diagnostics.size() - 1) << diagnostics;
}

// A line the store cannot read is left out with a note naming it, the rest is read, and the
// hive writes back byte for byte.
TEST_F(RegistryTest, LinesItCannotReadAreLeftOutAndKept) {
  const std::string header = "Windows Registry Editor Version 5.00\n[HKEY_CURRENT_USER\\A]\n";
  const struct {
    const char* lines;
    std::size_t line;  // of the note
  } cases[] = {
      {"\"P\"=\"a\\\n", 3},                           // a backslash ends the line in quotes
      {"\"P\"=dword:123456789\n", 3},                 // too many digits
      {"\"P\"=hex:1,xyz\n", 3},                       // bad hex byte
      {"\"P\"=hex:01,\\\n\"Q\"=\"1\"\n", 3},          // continued into a value line
      {"\"P\"=\"a\" junk\n", 3},                      // text after the quote
      {"\"P\"=Hex:01\n", 3},                          // an unknown data type
      {"junk\n", 3},                                  // neither key nor value
      {"[ HKEY_CURRENT_USER\\B]\n", 3},               // a blank after "[": A stays open
      {"[HKEY_LOCAL_MACHINE\\A]\n\"Q\"=\"1\"\n", 3},  // another root's key
      {"\"P\"=\"\xFF\"\n", 3},                        // not UTF-8
  };
  for (const auto& c : cases) {
    const std::string text = header + c.lines + "[HKEY_CURRENT_USER\\A]\n\"Z\"=\"z\"\n";
    Hive hive;
    HiveParseError error;
    std::vector<HiveParseError> skipped;
    ASSERT_TRUE(ParseHive(text, RegRoot::CurrentUser, hive, error, &skipped)) << text;
    ASSERT_EQ(skipped.size(), 1u) << text;
    EXPECT_EQ(skipped[0].line, c.line) << text;
    const HiveKey* key = hive.Find("a");
    ASSERT_NE(key, nullptr) << text;
    ASSERT_EQ(key->values.size(), 1u) << text;
    EXPECT_EQ(key->values[0].name, "Z");
    EXPECT_EQ(FormatHive(hive, RegRoot::CurrentUser), text);
  }
  // Only a file without its header fails, empty files are new hives.
  Hive hive;
  HiveParseError error;
  EXPECT_FALSE(ParseHive("\nno header\n", RegRoot::CurrentUser, hive, error));
  EXPECT_EQ(error.line, 2u);
  EXPECT_FALSE(ParseHive(std::string_view("\xFF\xFEW\0i", 5), RegRoot::CurrentUser, hive, error));
  EXPECT_FALSE(ParseHive("\xEF\xBB\xBFREGEDIT4\n", RegRoot::CurrentUser, hive, error));
  EXPECT_TRUE(hive.Keys().empty());
  EXPECT_TRUE(ParseHive("", RegRoot::CurrentUser, hive, error));
  EXPECT_TRUE(ParseHive("\n \r\n", RegRoot::CurrentUser, hive, error));
}

std::string Utf16File(const std::string& utf8) {
  std::u16string units;
  EXPECT_TRUE(Utf8ToUtf16(utf8, units));
  return "\xFF\xFE" + ToUtf16Le(units);
}

// A UTF-16 hive with an odd number of bytes ends in a byte that is no character: the hive is not
// read, and no change rewrites it without that byte.
TEST_F(RegistryTest, OddLengthUtf16HiveIsRefusedAndKept) {
  fs::create_directories(dir_);
  const std::string hive =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\TAVEX\\ComPort]\r\n\"Port\"=\"COM6\"\r\n";
  const std::string odd = Utf16File(hive) + "\x0D";
  WriteFile(Hklm(), odd);
  ::testing::internal::CaptureStderr();
  RegistryKey key;
  EXPECT_FALSE(RegistryKey::Open(RegRoot::LocalMachine, "Software\\TAVEX\\ComPort", key).Ok());
  RegistryKey direct(RegRoot::LocalMachine, "Software\\TAVEX\\ComPort");
  EXPECT_FALSE(direct.SetString("Port", "COM1").Ok());
  const std::string diagnostics = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(ReadFile(Hklm()), odd);
  EXPECT_NE(diagnostics.find("even number of bytes"), std::string::npos) << diagnostics;
}

// Every form a registry editor writes gives an ANSI reader the same Windows-1251 bytes.
TEST_F(RegistryTest, ReadsEveryFormARegistryEditorWrites) {
  const std::string v5 = "Windows Registry Editor Version 5.00";
  const std::string key = "[HKEY_LOCAL_MACHINE\\Software\\TAVEX\\ComPort]";
  const struct {
    const char* what;
    std::string file;
    RegType type;
    std::string data;
  } cases[] = {
      {"UTF-16LE, CR LF", Utf16File(v5 + "\r\n\r\n" + key + "\r\n\"Port\"=\"COM6\"\r\n"),
       RegType::Sz, "COM6"},
      {"UTF-8 with mark", "\xEF\xBB\xBF" + v5 + "\n" + key + "\n\"Port\"=\"Порт\"\n", RegType::Sz,
       "\xCF\xEE\xF0\xF2"},
      {"UTF-8, LF", v5 + "\n" + key + "\n\"Port\"=\"ttyUSB0\"\n", RegType::Sz, "ttyUSB0"},
      {"REGEDIT4, Windows-1251", "REGEDIT4\r\n\r\n" + key + "\r\n\"Port\"=\"\xCF\xEE\xF0\xF2\"\r\n",
       RegType::Sz, "\xCF\xEE\xF0\xF2"},
      {"expandable, UTF-16LE data",
       Utf16File(v5 + "\r\n" + key + "\r\n\"Port\"=hex(2):43,00,4f,00,4d,00,36,00,00,00\r\n"),
       RegType::ExpandSz, "COM6"},
      {"expandable in REGEDIT4", "REGEDIT4\n" + key + "\n\"Port\"=hex(2):43,4f,4d,36,00\n",
       RegType::ExpandSz, "COM6"},
      {"multi-string", v5 + "\n" + key + "\n\"Port\"=hex(7):61,00,00,00,1f,04,00,00,00,00\n",
       RegType::MultiSz, std::string("a\0\xCF\0", 4)},
      {"escapes", Utf16File(v5 + "\r\n" + key + "\r\n\"Port\"=\"1\\r\\n2\\0\\\\\\\"\"\r\n"),
       RegType::Sz, std::string("1\r\n2\0\\\"", 7)},
      // No Windows-1251 byte: the best-fit one, else "?", per UTF-16 unit.
      {"best fit", v5 + "\n" + key + "\n\"Port\"=\"café ＣＯＭ 中 😀\"\n", RegType::Sz,
       "cafe COM ? ??"},
  };
  fs::create_directories(dir_);
  for (const auto& c : cases) {
    WriteFile(Hklm(), c.file);
    RegistryKey k;
    ASSERT_EQ(RegistryKey::Open(RegRoot::LocalMachine, "Software\\TAVEX\\ComPort", k),
              RegResult::kSuccess)
        << c.what;
    RegType type{};
    EXPECT_EQ(Query(k, "Port", &type), c.data + '\0') << c.what;
    EXPECT_EQ(type, c.type) << c.what;
  }
}

// What the files a registry editor exported give an ANSI reader: the same bytes a Windows
// program gets from RegQueryValueExA for the values the files were made from.
TEST_F(RegistryTest, ReadsRegistryEditorExportsAsAnAnsiProgramDoes) {
  const std::string dir = TAVEX_REG_FIXTURES;
  const struct {
    const char* name;
    RegType type;
    std::string data;
  } foreign[] = {
      {"Note", RegType::Sz, std::string("cafe\0", 5)},
      {"Euro", RegType::Sz, std::string("\x88 u ?\0", 6)},
      {"Lines", RegType::Sz, std::string("line1\r\nline2\0", 13)},
      {"Quote", RegType::Sz, std::string("say \"hi\" C:\\dir\\\0", 17)},
      {"Empty", RegType::Sz, std::string("\0", 1)},
      {"", RegType::Sz, std::string("default value\0", 14)},
      {"Path", RegType::ExpandSz, "%SystemRoot%\\\xCF\xE0\xEF\xEA\xE0" + std::string(1, '\0')},
      {"List", RegType::MultiSz, std::string("one\0\xE4\xE2\xE0\0cafe\0\0", 14)},
      {"Count", RegType::Dword, "\x78\x56\x34\x12"},
      {"Big", RegType::QWord, "\x08\x07\x06\x05\x04\x03\x02\x01"},
      {"Nothing", RegType::None, ""},
      {"\xCF\xEE\xF0\xF2", RegType::Sz,
       "\xD1\xE5\xF0\xE8\xE9\xED\xFB\xE9 \xEF\xEE\xF0\xF2 \xB9 1" + std::string(1, '\0')},
  };
  fs::create_directories(dir_);
  ::testing::internal::CaptureStderr();
  for (const char* file : {"regedit-export.reg", "reg-export.reg", "expand-port.reg"}) {
    WriteFile(Hklm(), ReadFile(dir + "/" + file));
    RegistryKey port;
    ASSERT_EQ(RegistryKey::Open(RegRoot::LocalMachine, "Software\\TAVEX\\ComPort", port),
              RegResult::kSuccess);
    EXPECT_EQ(Query(port, "Port"), std::string("ttyUSB0") + '\0') << file;
    RegistryKey key;
    if (!RegistryKey::Open(RegRoot::LocalMachine, "Software\\TAVEX\\Foreign", key).Ok()) continue;
    for (const auto& f : foreign) {
      RegType type{};
      EXPECT_EQ(Query(key, f.name, &type), f.data) << file << " " << f.name;
      EXPECT_EQ(type, f.type) << file << " " << f.name;
    }
  }
  WriteFile(Hklm(), ReadFile(dir + "/regedit4-1251.reg"));
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Open(RegRoot::LocalMachine, "Software\\TAVEX\\Foreign", key),
            RegResult::kSuccess);
  EXPECT_EQ(Query(key, "Path"), "%SystemRoot%\\\xCF\xE0\xEF\xEA\xE0" + std::string(1, '\0'));
  EXPECT_EQ(Query(key, "List"), std::string("one\0\xE4\xE2\xE0\0\0", 9));
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");  // nothing left out

  // A save changes the one line it must and keeps the export's form.
  const std::string exported = ReadFile(dir + "/regedit-export.reg");
  WriteFile(Hklm(), exported);
  RegistryKey port;
  ASSERT_EQ(RegistryKey::Open(RegRoot::LocalMachine, "Software\\TAVEX\\ComPort", port),
            RegResult::kSuccess);
  ASSERT_EQ(port.SetString("Port", "COM6"), RegResult::kSuccess);
  std::string expected = exported;
  const std::string from = ToUtf16Le(u"\"Port\"=\"ttyUSB0\"");
  expected.replace(expected.find(from), from.size(), ToUtf16Le(u"\"Port\"=\"COM6\""));
  EXPECT_EQ(ReadFile(Hklm()), expected);
}

// A save rewrites only the values it changes, in the file's encoding, mark and line ends.
TEST_F(RegistryTest, SaveKeepsTheFileAndEveryLineItDidNotChange) {
  const std::string before =
      "Windows Registry Editor Version 5.00\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\Other]\r\n"
      "\"Note\"=\"café\"\r\n"
      "\"Lines\"=\"line1\\r\\nline2\"\r\n"
      "\"Tab\"=\"a\\tb\"\r\n"
      "\"Expand\"=hex(2):25,00,41,00,25,00,00,00\r\n"
      "\"Wrapped\"=hex:01,02,\\\r\n    03\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\Software\\TAVEX\\ComPort]\r\n"
      "\"Port\"=\"COM6\"\r\n"
      "  \"Parity\" = \"None\"\r\n\r\n";
  fs::create_directories(dir_);
  ::testing::internal::CaptureStderr();
  for (bool utf16 : {true, false}) {
    WriteFile(Hklm(), utf16 ? Utf16File(before) : before);
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Open(RegRoot::LocalMachine, "Software\\TAVEX\\ComPort", key),
              RegResult::kSuccess);
    ASSERT_EQ(key.SetValues({{"PORT", RegType::Sz, std::string("\xCF\xEE\xF0\xF2") + '\0'},
                             {"Parity", RegType::Sz, std::string("None") + '\0'},
                             {"Path", RegType::ExpandSz, std::string("%\xA8%") + '\0'}}),
              RegResult::kSuccess);
    RegistryKey other;
    ASSERT_EQ(RegistryKey::Create(RegRoot::LocalMachine, "Software\\Other", other),
              RegResult::kSuccess);
    ASSERT_EQ(other.SetString("Note", "cafe"),
              RegResult::kSuccess);  // the best-fit reading is not what it holds
    ASSERT_EQ(RegistryKey::Create(RegRoot::LocalMachine, "Software\\New", other),
              RegResult::kSuccess);
    std::string expected = before;
    const auto replace = [&](const std::string& from, const std::string& to) {
      expected.replace(expected.find(from), from.size(), to);
    };
    replace("\"Note\"=\"café\"", "\"Note\"=\"cafe\"");
    replace("\"Port\"=\"COM6\"", "\"Port\"=\"Порт\"");
    replace("= \"None\"\r\n", "= \"None\"\r\n\"Path\"=hex(2):25,00,01,04,25,00,00,00\r\n");
    expected += "[HKEY_LOCAL_MACHINE\\Software\\New]\r\n";  // after the file's blank line
    EXPECT_EQ(ReadFile(Hklm()), utf16 ? Utf16File(expected) : expected);
  }
  const std::string diagnostics = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(diagnostics, "");
}

// In a REGEDIT4 file text stays Windows-1251, in hex(2) too; a new file is UTF-8.
TEST_F(RegistryTest, WritesTextInTheFilesCharacterSet) {
  fs::create_directories(dir_);
  WriteFile(Hklm(), "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=\"\xC0\"\n");
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Open(RegRoot::LocalMachine, "k", key), RegResult::kSuccess);
  ASSERT_EQ(key.SetString("B", "\xC1"), RegResult::kSuccess);
  ASSERT_EQ(key.SetValue("C", RegType::ExpandSz, std::string("\xC2") + '\0'), RegResult::kSuccess);
  EXPECT_EQ(ReadFile(Hklm()),
            "REGEDIT4\n\n[HKEY_LOCAL_MACHINE\\K]\n\"A\"=\"\xC0\"\n\"B\"=\"\xC1\"\n"
            "\"C\"=hex(2):c2,00\n");
  RegistryKey user;
  ASSERT_EQ(RegistryKey::Create(RegRoot::CurrentUser, "K", user), RegResult::kSuccess);
  ASSERT_EQ(user.SetString("B", "\xC1"), RegResult::kSuccess);
  EXPECT_EQ(ReadFile(dir_ + "/HKEY_CURRENT_USER.reg"),
            "Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\K]\n\"B\"=\"Б\"\n");
}

// Key and value names ignore the case of Cyrillic letters as well as Latin ones.
TEST_F(RegistryTest, CyrillicNamesIgnoreLetterCase) {
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Create(RegRoot::CurrentUser, "\xCA\xEB\xFE\xF7\\\xB8", key),
            RegResult::kSuccess);                                      // Ключ\ё
  ASSERT_EQ(key.SetString("\xC8\xEC\xFF", "1"), RegResult::kSuccess);  // Имя
  RegistryKey same;
  ASSERT_EQ(RegistryKey::Open(RegRoot::CurrentUser, "\xEA\xCB\xDE\xD7\\\xA8", same),
            RegResult::kSuccess);                                   // кЛЮЧ\Ё
  EXPECT_EQ(Query(same, "\xE8\xCC\xDF"), std::string("1") + '\0');  // иМЯ
}

TEST_F(RegistryTest, UnwritableLocationFailsAndKeepsTheOldFile) {
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Create(RegRoot::LocalMachine, "K", key), RegResult::kSuccess);
  ASSERT_EQ(key.SetString("v", "old"), RegResult::kSuccess);
  const std::string before = ReadFile(Hklm());

  // The registry directory's path runs through a regular file: nothing can be made there.
  WriteFile(root_ + "/plainfile", "x");
  ::setenv("TAVEX_REGISTRY_DIR", (root_ + "/plainfile/registry").c_str(), 1);
  RegistryKey elsewhere;
  EXPECT_EQ(RegistryKey::Create(RegRoot::LocalMachine, "K", elsewhere), Errno{ENOTDIR});
  RegistryKey direct(RegRoot::LocalMachine, "K");
  EXPECT_EQ(direct.SetString("v", "new"), Errno{ENOTDIR});
  ::setenv("TAVEX_REGISTRY_DIR", dir_.c_str(), 1);

  // A hive file replaced by a directory cannot be read or rewritten.
  if (::geteuid() != 0) {
    ::chmod(dir_.c_str(), 0555);
    EXPECT_EQ(key.SetString("v", "new"), Errno{EACCES});
    ::chmod(dir_.c_str(), 0755);
    ::chmod(Hklm().c_str(), 0444);
    EXPECT_EQ(key.SetString("v", "new"), Errno{EACCES});  // though the rename would succeed
    ::chmod(Hklm().c_str(), 0644);
  }
  EXPECT_EQ(ReadFile(Hklm()), before);
  EXPECT_EQ(Query(key, "v"), std::string("old") + '\0');
}

std::string Described(const RegStatus& status) {
  if (const auto* error = std::get_if<Errno>(&status.Get())) return DescribeErrno(*error);
  return DescribeRegResult(std::get<RegResult>(status.Get()));
}

// The two kinds of code stay apart even where their numbers meet.
static_assert(RegStatus{Errno{EACCES}} != RegStatus{RegResult::kInvalidData});
static_assert(RegStatus{Errno{ENOENT}} != RegStatus{RegResult::kFileNotFound});
static_assert(RegStatus{kNoError}.Ok() && RegStatus{}.Ok());
static_assert(!std::is_convertible_v<int, RegStatus>);

// A hive file that fails gives its errno value, never a registry result, and reads as that
// errno's text; the store's own results read as theirs, though 2 is also ENOENT.
TEST_F(RegistryTest, HiveFileFailuresAreErrnoValuesWithTheirOwnText) {
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Create(RegRoot::LocalMachine, "K", key), RegResult::kSuccess);
  ASSERT_EQ(key.SetString("v", "old"), RegResult::kSuccess);
  const std::string before = ReadFile(Hklm());
  struct Case {
    const char* name;
    std::function<RegStatus()> run;
    RegStatus expected;
    const char* text;
  };
  const Case cases[] = {
      {"hive file that may not be written",
       [&] {
         test::UnwritableFile unwritable(Hklm(), {root_});
         return key.SetString("v", "new");
       },
       Errno{EACCES}, "Permission denied"},
      {"hive file that cannot grow",
       [&] {
         test::FileSizeLimit limit(before.size());
         return key.SetString("v", std::string(4096, 'x'));
       },
       Errno{EFBIG}, "File too large"},
      {"a folder where the hive file should be",
       [&] {
         const std::string other = root_ + "/other";
         fs::create_directories(other + "/HKEY_LOCAL_MACHINE.reg");
         test::ScopedEnv env("TAVEX_REGISTRY_DIR", other);
         RegistryKey opened;
         return RegistryKey::Open(RegRoot::LocalMachine, "K", opened);
       },
       Errno{EISDIR}, "Is a directory"},
      {"missing value",
       [&] {
         RegType type{};
         std::string data;
         return key.QueryValue("absent", type, data);
       },
       RegResult::kFileNotFound, "The registry key or value does not exist"},
      {"name the file cannot hold", [&] { return key.SetString("bad\x98name", "x"); },
       RegResult::kInvalidParameter, "A name the registry file cannot hold"},
  };
  for (const Case& c : cases) {
    const RegStatus status = c.run();
    EXPECT_EQ(status, c.expected) << c.name;
    EXPECT_EQ(Described(status), c.text) << c.name;
  }
  EXPECT_EQ(ReadFile(Hklm()), before);
}

// A writer killed at any moment leaves the previous complete file, which still parses.
TEST_F(RegistryTest, WriterKilledHalfWayLeavesACompleteFile) {
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Create(RegRoot::CurrentUser, "K", key), RegResult::kSuccess);
  const std::string big(200000, 'a');
  ASSERT_EQ(key.SetValues({{"a", RegType::Sz, big + '\0'}, {"b", RegType::Sz, big + '\0'}}),
            RegResult::kSuccess);
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
  ASSERT_EQ(key.SetString("c", "x"), RegResult::kSuccess);
  int entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(dir_)) ++entries;
  EXPECT_EQ(entries, 1);
}

}  // namespace
}  // namespace tavex::platform
