// SPDX-License-Identifier: GPL-3.0-or-later
// Hive files read as a registry editor's import reads them, and saves that leave a file every
// reader takes for the values the store holds.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/registry.h"
#include "platform/registry_hive.h"
#include "platform/text_codec.h"
#include "support/scratch.h"

namespace tavex::platform {
namespace {

using test::ReadFile;
using test::WriteFile;

const std::string kV5 = "Windows Registry Editor Version 5.00\r\n\r\n";
const std::string kKey = "[HKEY_CURRENT_USER\\A]\r\n";

std::string Utf16File(const std::string& utf8) {
  std::u16string units;
  EXPECT_TRUE(Utf8ToUtf16(utf8, units));
  return "\xFF\xFE" + ToUtf16Le(units);
}

// Every value of every key as "key|name=data" lines, data bytes escaped where not printable.
std::string Meaning(const Hive& hive) {
  std::string out;
  for (const HiveKey& key : hive.Keys()) {
    for (const HiveValue& value : key.values) {
      out += key.path + "|" + value.name + "=" + std::to_string(static_cast<int>(value.type)) + ":";
      for (char c : value.data) {
        const auto b = static_cast<unsigned char>(c);
        if (b >= 0x20 && b < 0x7F) {
          out.push_back(c);
        } else {
          static constexpr char kDigits[] = "0123456789abcdef";
          out += std::string("\\x") + kDigits[b >> 4] + kDigits[b & 15];
        }
      }
      out += "\n";
    }
  }
  return out;
}

std::string Parsed(const std::string& file) {
  Hive hive;
  HiveParseError error;
  EXPECT_TRUE(ParseHive(file, RegRoot::CurrentUser, hive, error)) << error.message;
  return Meaning(hive);
}

// Shrunk from a randomised comparison with a registry editor's import: each file means to us
// what it meant to the import.
TEST(RegistryImportTest, ReadsWhatARegistryEditorImports) {
  const struct {
    const char* what;
    std::string file;
    std::string meaning;
  } cases[] = {
      {"comment after a value", kV5 + kKey + "\"Port\"=\"COM2\" ;USB adapter\r\n",
       "A|Port=1:COM2\\x00\n"},
      {"comment after a key line", kV5 + "[HKEY_CURRENT_USER\\A] ;comment\r\n\"P\"=\"1\"\r\n",
       "A|P=1:1\\x00\n"},
      {"blank after dword:", kV5 + kKey + "\"B\"=dword: 000012c0 ; rate\r\n",
       "A|B=4:\\xc0\\x12\\x00\\x00\n"},
      {"blank and comment lines inside hex data",
       kV5 + kKey + "\"H\"=hex:01,02,\\\r\n\r\n; note\r\n  03\r\n\"N\"=\"n\"\r\n",
       "A|H=3:\\x01\\x02\\x03\nA|N=1:n\\x00\n"},
      {"hex data continued on the last line", kV5 + kKey + "\"H\"=hex:01,02,\\",
       "A|H=3:\\x01\\x02\n"},
      {"\\t and \\' give the letter", kV5 + kKey + "\"T\"=\"a\\tb\\'c\"\r\n", "A|T=1:atb'c\\x00\n"},
      {"names with tabs and brackets",
       kV5 + "[HKEY_CURRENT_USER\\A\\Port [1]]\r\n\"x\ty[2]\"=\"1\"\r\n",
       "A\\Port [1]|x\ty[2]=1:1\\x00\n"},
      {"names by best fit", kV5 + "[HKEY_CURRENT_USER\\Café]\r\n\"naïve\"=\"1\"\r\n",
       "Cafe|naive=1:1\\x00\n"},
      {"deletions in file order",
       kV5 + kKey +
           "\"a\"=\"1\"\r\n\"b\"=\"2\"\r\n\"a\"=-\r\n[-HKEY_CURRENT_USER\\B]\r\n"
           "[HKEY_CURRENT_USER\\B\\C]\r\n\"c\"=\"3\"\r\n[-HKEY_CURRENT_USER\\B]\r\n"
           "\"lost\"=\"4\"\r\n"
           "[HKEY_CURRENT_USER\\A]\r\n\"b\"=- ; gone\r\n\"b\"=\"5\"\r\n",
       "A|b=1:5\\x00\n"},
      {"bare CR line ends",
       "Windows Registry Editor Version 5.00\r\r" +
           std::string("[HKEY_CURRENT_USER\\A]\r\"P\"=\"1\"\r"),
       "A|P=1:1\\x00\n"},
      {"hex text gets its terminating zero",
       kV5 + kKey +
           "\"S\"=hex(1):41,00\r\n\"E\"=hex(2):41,00,00,00\r\n\"M\"=hex(7):41,00,00,00,42,00\r\n"
           "\"Z\"=hex(2):\r\n",
       "A|S=1:A\\x00\nA|E=2:A\\x00\nA|M=7:A\\x00B\\x00\nA|Z=2:\n"},
      {"hex text in REGEDIT4", "REGEDIT4\r\n\r\n" + kKey + "\"S\"=hex(2):41,42\r\n",
       "A|S=2:AB\\x00\n"},
      {"the key before a key line with a blank after \"[\" stays open",
       kV5 + kKey + "[ HKEY_CURRENT_USER\\B]\r\n\"P\"=\"1\"\r\n", "A|P=1:1\\x00\n"},
      {"hex data spoilt by the line it continues into, which is lost too",
       kV5 + kKey + "\"H\"=hex:01,\\\r\n[HKEY_CURRENT_USER\\B]\r\n\"P\"=\"1\"\r\n",
       "A|P=1:1\\x00\n"},
      {"hex numbers as the C library reads them",
       kV5 + kKey + "\"H\"=hex: 1,0x2, +3,0ff ;x\r\n\"I\"=hex(4):05,00,00,00\r\n\"J\"=hex():\r\n",
       "A|H=3:\\x01\\x02\\x03\\xff\nA|I=4:\\x05\\x00\\x00\\x00\nA|J=0:\n"},
      {"the import stops at a deletion of an unknown root's key",
       kV5 + kKey + "\"a\"=\"1\"\r\n[-HKEY_NOWHERE\\X]\r\n\"b\"=\"2\"\r\n", "A|a=1:1\\x00\n"},
      {"the default value, and the empty name", kV5 + kKey + "@ = \"d\"\r\n\"\"=\"e\"\r\n",
       "A|=1:e\\x00\n"},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(Parsed(c.file), c.meaning) << c.what;
    if (!c.file.starts_with("REGEDIT4")) {
      EXPECT_EQ(Parsed(Utf16File(c.file)), c.meaning) << c.what << " (UTF-16LE)";
    }
  }
}

class RegistrySaveTest : public ::testing::Test {
 protected:
  std::string Hkcu() const { return scratch_.Dir() + "/HKEY_CURRENT_USER.reg"; }

  // Writes the file, applies the writes to key A, and checks the saved text and its meaning.
  void Save(const std::string& file, const std::vector<RegValueWrite>& writes,
            const std::string& saved, const std::string& meaning) {
    std::filesystem::create_directories(scratch_.Dir());
    WriteFile(Hkcu(), file);
    RegistryKey key;
    ASSERT_EQ(RegistryKey::Create(RegRoot::CurrentUser, "A", key), RegResult::kSuccess);
    ASSERT_EQ(key.SetValues(writes), RegResult::kSuccess);
    EXPECT_EQ(ReadFile(Hkcu()), saved);
    EXPECT_EQ(Parsed(ReadFile(Hkcu())), meaning);
  }

  test::ScratchRegistry scratch_{"tavex-registry-save"};
};

TEST_F(RegistrySaveTest, NoNewLineLandsInsideContinuedHexData) {
  // The key's last value continues into a blank line and then a key line, which it swallows.
  Save(kV5 + kKey + "\"H\"=hex:01,\\\r\n\r\n[HKEY_CURRENT_USER\\B]\r\n",
       {{"P", RegType::Sz, std::string("1") + '\0'}},
       kV5 + kKey + "\"H\"=hex:01,\\\r\n\r\n[HKEY_CURRENT_USER\\B]\r\n" + kKey + "\"P\"=\"1\"\r\n",
       "A|P=1:1\\x00\n");
  // Continued data open at the end of the file is closed before a new key follows it.
  Save(kV5 + "[HKEY_CURRENT_USER\\B]\r\n\"H\"=hex:01,\\\r\n; end\r\n",
       {{"P", RegType::Sz, std::string("1") + '\0'}},
       kV5 + "[HKEY_CURRENT_USER\\B]\r\n\"H\"=hex:01,\r\n; end\r\n\r\n" + kKey + "\"P\"=\"1\"\r\n",
       "B|H=3:\\x01\nA|P=1:1\\x00\n");
}

TEST_F(RegistrySaveTest, NoLaterLineOverridesAValueSet) {
  // A deletion line after the key's values: the new value goes after it.
  Save(kV5 + kKey + "\"P\"=\"1\"\r\n\"P\"=-\r\n\"Q\"=\"q\"\r\n",
       {{"P", RegType::Sz, std::string("2") + '\0'}},
       kV5 + kKey + "\"P\"=\"1\"\r\n\"P\"=-\r\n\"Q\"=\"q\"\r\n\"P\"=\"2\"\r\n",
       "A|Q=1:q\\x00\nA|P=1:2\\x00\n");
  // The key deleted later on: a section of its own at the end brings the value back.
  Save(kV5 + kKey + "\"P\"=\"1\"\r\n\r\n[-HKEY_CURRENT_USER\\A]\r\n",
       {{"P", RegType::Sz, std::string("2") + '\0'}},
       kV5 + kKey + "\"P\"=\"1\"\r\n\r\n[-HKEY_CURRENT_USER\\A]\r\n\r\n" + kKey + "\"P\"=\"2\"\r\n",
       "A|P=1:2\\x00\n");
  // A later line the store leaves out but a registry editor reads becomes a comment.
  Save(kV5 + kKey + "\"P\"=\"1\"\r\n\"P\"=\"\xFF\"\r\n",
       {{"P", RegType::Sz, std::string("2") + '\0'}},
       kV5 + kKey + "\"P\"=\"2\"\r\n;\"P\"=\"\xFF\"\r\n", "A|P=1:2\\x00\n");
  // New keys go before the line where a registry editor stops importing.
  Save(kV5 + "[HKEY_CURRENT_USER\\B]\r\n[-HKEY_CURRENT_USER]\r\n",
       {{"P", RegType::Sz, std::string("1") + '\0'}},
       kV5 + "[HKEY_CURRENT_USER\\B]\r\n\r\n" + kKey + "\"P\"=\"1\"\r\n[-HKEY_CURRENT_USER]\r\n",
       "A|P=1:1\\x00\n");
}

TEST_F(RegistrySaveTest, DeletingAValueDropsItsLinesAndKeepsDeletionsOfOthers) {
  std::filesystem::create_directories(scratch_.Dir());
  WriteFile(Hkcu(), kV5 + kKey + "\"P\"=\"1\"\r\n\"Q\"=-\r\n\"P\"=\"2\"\r\n");
  RegistryKey key;
  ASSERT_EQ(RegistryKey::Open(RegRoot::CurrentUser, "A", key), RegResult::kSuccess);
  ASSERT_EQ(key.DeleteValue("p"), RegResult::kSuccess);
  EXPECT_EQ(ReadFile(Hkcu()), kV5 + kKey + "\"Q\"=-\r\n");
}

}  // namespace
}  // namespace tavex::platform
