// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>
#include <optional>

#include <cerrno>
#include <cstdlib>
#include <filesystem>

#include "platform/profile.h"
#include "platform/text_codec.h"
#include "support/scratch.h"

namespace tavex::platform {
namespace {

namespace fs = std::filesystem;

using test::ReadFile;
using test::WriteFile;

TEST(ProfileLookup, TrimsUnquotesAndIgnoresCase) {
  const std::string text =
      "; comment=ignored\r\n"
      "[other]\r\n"
      "Port=wrong\r\n"
      "[ ComPort ]\r\n"
      "  PORT \t=  COM6 \r\n"
      "Quoted=\"  spaced  \"\r\n"
      "Single=' x '\r\n"
      "Mixed=\"x'\r\n"
      "Empty=\r\n"
      "port=second\r\n"
      "[comport]\r\n"
      "Late=ignored: only the first matching section counts\n";
  struct Case {
    const char* section;
    const char* key;
    const char* defaultText;
    const char* expected;
  } cases[] = {
      {"comport", "port", "d", "COM6"},     {"ComPort", "Quoted", "d", "  spaced  "},
      {"ComPort", "single", "d", " x "},    {"ComPort", "Mixed", "d", "\"x'"},
      {"ComPort", "Empty", "d", ""},        {"ComPort", "Missing", "dflt  ", "dflt"},
      {"ComPort", "Missing", "\"q\"", "q"}, {"ComPort", "Late", "d", "d"},
      {"Nowhere", "Port", "", ""},          {"ComPort", "comment", "d", "d"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ProfileLookup(text, c.section, c.key, c.defaultText), c.expected)
        << c.section << "/" << c.key;
  }
  const std::string longText = "[s]\nk=" + std::string(5000, 'v') + "\n";
  EXPECT_EQ(ProfileLookup(longText, "s", "k", "").size(), 2047u);
  EXPECT_EQ(ProfileLookup(longText, "s", "k", "", 4), "vvv");
}

// A null section lists the sections, a null key the keys of a section, each name ending in a
// zero and the list in one more; a list too long is cut and counts as the buffer less two.
TEST(ProfileNames, ListSectionsAndKeysInFileOrder) {
  using namespace std::string_literals;
  const std::string text =
      "; top\r\n[ComPort]\r\nPort=COM1\r\n; note\r\n BaudRate = 4800\r\nno equals\r\n"
      "[Other]\r\nX=1\r\n[  Spaced  ]\r\n";
  const struct {
    std::optional<std::string> section;
    std::size_t size;
    std::string bytes;
    std::size_t count;
  } cases[] = {
      {std::nullopt, 100, "ComPort\0Other\0Spaced\0\0"s, 21},
      {"comport", 100, "Port\0BaudRate\0\0"s, 14},
      {"ComPort", 8, "Port\0B\0\0"s, 6},
      {std::nullopt, 10, "ComPort\0\0\0"s, 8},
      {"Spaced", 100, "\0\0"s, 0},
      {"Missing", 100, "dflt\0"s, 4},
  };
  for (const auto& c : cases) {
    std::size_t count = 99;
    EXPECT_EQ(ProfileNames(text, c.section, "dflt  ", c.size, count), c.bytes)
        << c.section.value_or("(sections)") << " " << c.size;
    EXPECT_EQ(count, c.count) << c.section.value_or("(sections)") << " " << c.size;
  }
}

TEST(ProfileEdit, KeepsOtherLinesAndPlacesNewOnes) {
  const std::string text =
      "; settings\n"
      "[ComPort]\n"
      "Port = COM6\n"
      "; keep me\n"
      "\n"
      "[Other]\n"
      "x=1";
  std::string next;
  bool changed = false;
  ASSERT_EQ(ProfileEdit(text, "comport", "BaudRate", "4800", next, changed), 0);
  EXPECT_TRUE(changed);
  EXPECT_EQ(next, "; settings\n[ComPort]\nPort = COM6\n; keep me\nBaudRate=4800\n\n[Other]\nx=1");
  ASSERT_EQ(ProfileEdit(text, "ComPort", "port", "COM7", next, changed), 0);
  EXPECT_EQ(next, "; settings\n[ComPort]\nPort=COM7\n; keep me\n\n[Other]\nx=1");
  ASSERT_EQ(ProfileEdit(text, "ComPort", "Port", "COM6", next, changed), 0);
  EXPECT_FALSE(changed);  // the value already stored
  ASSERT_EQ(ProfileEdit(text, "New", "k", "", next, changed), 0);
  EXPECT_EQ(next, text + "\n[New]\nk=\n");  // in the file's own line ends
  ASSERT_EQ(ProfileEdit(text, "Other", "y", "2", next, changed), 0);
  EXPECT_EQ(next, "; settings\n[ComPort]\nPort = COM6\n; keep me\n\n[Other]\nx=1\ny=2\n");
  ASSERT_EQ(ProfileEdit(text, "ComPort", "Port", std::nullopt, next, changed), 0);
  EXPECT_EQ(next, "; settings\n[ComPort]\n; keep me\n\n[Other]\nx=1");
  ASSERT_EQ(ProfileEdit(text, "comport", std::nullopt, std::nullopt, next, changed), 0);
  EXPECT_EQ(next, "; settings\n[Other]\nx=1");
  ASSERT_EQ(ProfileEdit("", "S", "k", "v", next, changed), 0);
  EXPECT_EQ(next, "[S]\r\nk=v\r\n");  // no blank line before a new section

  // Names and values that would not survive as one line are refused.
  EXPECT_EQ(ProfileEdit(text, "S", "k", "a\nb", next, changed), EINVAL);
  EXPECT_EQ(ProfileEdit(text, "S", "k=x", "v", next, changed), EINVAL);
  EXPECT_EQ(ProfileEdit(text, "S]", "k", "v", next, changed), EINVAL);
  EXPECT_EQ(ProfileEdit(text, "S", "[k", "v", next, changed), EINVAL);
  EXPECT_EQ(ProfileEdit(text, std::nullopt, "k", "v", next, changed), EINVAL);
}

std::string Utf16File(const std::string& utf8) {
  std::u16string units;
  EXPECT_TRUE(Utf8ToUtf16(utf8, units));
  return "\xFF\xFE" + ToUtf16Le(units);
}

// Every form of file gives the caller the same Windows-1251 bytes, with names in any letter case.
TEST(ProfileLookup, ReadsEveryEncodingAndLineEnd) {
  const struct {
    const char* what;
    std::string file;
  } cases[] = {
      {"CR LF", "[Порт]\r\nИмя=Значение\r\n"},
      {"LF", "; x\n[Порт]\nИмя=Значение\n"},
      {"bare CR", "[Other]\rИмя=no\r[Порт]\rИмя=Значение\r"},
      {"UTF-8 mark", "\xEF\xBB\xBF[Порт]\r\nИмя=Значение\r\n"},
      {"UTF-16LE", Utf16File("[Порт]\r\nИмя=Значение\r\n")},
      {"UTF-16LE, LF", Utf16File("[ПОРТ]\nиМЯ = \"Значение\"\n")},
      {"UTF-16LE, odd last byte", Utf16File("[Порт]\nИмя=Значение") + "\x04"},
  };
  // Without a byte-order mark the file holds the caller's bytes.
  std::string ansi;
  for (const auto& c : cases) {
    std::string file = c.file;
    if (!file.starts_with("\xEF\xBB\xBF") && !file.starts_with("\xFF\xFE")) {
      ASSERT_TRUE(Utf8ToCp1251(file, file));
    }
    // "порт" and "имя": the same names in lower case.
    EXPECT_EQ(ProfileLookup(file, "\xEF\xEE\xF0\xF2", "\xE8\xEC\xFF", "d"),
              "\xC7\xED\xE0\xF7\xE5\xED\xE8\xE5")
        << c.what;
  }
  // A character without a Windows-1251 byte reads as an ANSI program gets it.
  EXPECT_EQ(ProfileLookup(Utf16File("[s]\r\nk=café\r\n"), "s", "k", ""), "cafe");
}

// A write keeps the file's encoding, byte-order mark and line ends.
TEST(ProfileEdit, KeepsTheEncodingAndLineEnds) {
  const struct {
    const char* what;
    std::string before;
    std::string after;
  } cases[] = {
      {"bare CR", "[s]\rk=1\r", "[s]\rk=1\rN=\xC8\r"},
      {"UTF-8 mark", "\xEF\xBB\xBF[s]\nk=1\n", "\xEF\xBB\xBF[s]\nk=1\nN=И\n"},
      {"UTF-16LE", Utf16File("[s]\r\nk=1\r\n"), Utf16File("[s]\r\nk=1\r\nN=И\r\n")},
      {"UTF-16LE, no last line end", Utf16File("[s]\r\nk=1"), Utf16File("[s]\r\nk=1\r\nN=И\r\n")},
      {"UTF-16LE, new section", Utf16File("[t]\n"), Utf16File("[t]\n[S]\nN=И\n")},
      // The odd last byte of a UTF-16 file is no character, but it is the user's: it stays.
      {"UTF-16LE, odd last byte", Utf16File("[s]\r\nk=1\r\n") + "\x04",
       Utf16File("[s]\r\nk=1\r\nN=И\r\n") + "\x04"},
  };
  for (const auto& c : cases) {
    std::string next;
    bool changed = false;
    ASSERT_EQ(ProfileEdit(c.before, "S", "N", "\xC8", next, changed), 0) << c.what;
    EXPECT_TRUE(changed) << c.what;
    EXPECT_EQ(next, c.after) << c.what;
  }
  std::string next;
  bool changed = false;
  const std::string utf16 = Utf16File("[s]\r\nk=Ёлка\r\n");
  ASSERT_EQ(ProfileEdit(utf16, "s", "K", "\xA8\xEB\xEA\xE0", next, changed), 0);
  EXPECT_FALSE(changed);
  ASSERT_EQ(ProfileEdit(utf16, "s", "K", "x", next, changed), 0);
  EXPECT_EQ(next, Utf16File("[s]\r\nk=x\r\n"));
}

class ProfileFileTest : public ::testing::Test {
 protected:
  test::ScratchRegistry scratch_{"tavex-profile"};
  const std::string root_ = scratch_.Root();
};

TEST_F(ProfileFileTest, BareNamesLiveInTheRegistryDirectory) {
  EXPECT_EQ(ProfilePath("port.ini"), root_ + "/registry/port.ini");
  EXPECT_EQ(ProfilePath("./port.ini"), "./port.ini");
  ASSERT_EQ(WritePrivateProfileString("ComPort", "Port", "COM6", "port.ini"), 0);
  EXPECT_EQ(ReadFile(root_ + "/registry/port.ini"), "[ComPort]\r\nPort=COM6\r\n");
  EXPECT_EQ(GetPrivateProfileString("COMPORT", "port", "x", "port.ini"), "COM6");
  EXPECT_EQ(GetPrivateProfileString("ComPort", "Port", "x", root_ + "/missing.ini"), "x");
}

TEST_F(ProfileFileTest, WritesAreAtomicAndFailuresLeaveTheFile) {
  const std::string path = root_ + "/settings.ini";
  WriteFile(path, "[ComPort]\r\nPort=COM1\r\n");
  struct stat before {};
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  ASSERT_EQ(WritePrivateProfileString("ComPort", "Port", "COM1", path), 0);
  struct stat same {};
  ASSERT_EQ(::stat(path.c_str(), &same), 0);
  EXPECT_EQ(same.st_ino, before.st_ino);  // an equal value is not written at all
  ASSERT_EQ(WritePrivateProfileString("ComPort", "Port", "COM2", path), 0);
  EXPECT_EQ(ReadFile(path), "[ComPort]\r\nPort=COM2\r\n");

  // A directory that is really a file, and a missing directory, cannot take the file.
  WriteFile(root_ + "/plain", "x");
  EXPECT_EQ(WritePrivateProfileString("S", "k", "v", root_ + "/plain/f.ini"), ENOTDIR);
  EXPECT_EQ(WritePrivateProfileString("S", "k", "v", root_ + "/nodir/f.ini"), ENOENT);
  EXPECT_EQ(WritePrivateProfileString(std::nullopt, std::nullopt, std::nullopt, "any"), 0);
  if (::geteuid() != 0) {
    ::chmod(path.c_str(), 0444);
    EXPECT_EQ(WritePrivateProfileString("ComPort", "Port", "COM3", path), EACCES);
    ::chmod(path.c_str(), 0644);
  }
  EXPECT_EQ(ReadFile(path), "[ComPort]\r\nPort=COM2\r\n");
  int entries = 0;
  for ([[maybe_unused]] const auto& e : fs::directory_iterator(root_)) ++entries;
  EXPECT_EQ(entries, 2);  // settings.ini and plain: no temporary files left
}

}  // namespace
}  // namespace tavex::platform
