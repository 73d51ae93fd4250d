// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <string>

#include "platform/name_case.h"

namespace tavex::platform {
namespace {

// Windows-1251 names that are the same name and names that are not.
TEST(NameCase, FoldsLatinAndCyrillicLetters) {
  const struct {
    std::string a;
    std::string b;
    bool equal;
  } cases[] = {
      {"ComPort", "COMPORT", true},
      {"\xCF\xEE\xF0\xF2", "\xEF\xCE\xD0\xD2", true},                          // Порт, пОРТ
      {"\xA8", "\xB8", true},                                                  // Ё, ё
      {"\x80\x81\x8A\x8C\x8D\x8E\x8F", "\x90\x83\x9A\x9C\x9D\x9E\x9F", true},  // Ђ Ѓ Љ Њ Ќ Ћ Џ
      {"\xA1\xA3\xA5\xAA\xAF\xB2\xBD", "\xA2\xBC\xB4\xBA\xBF\xB3\xBE", true},  // Ў Ј Ґ Є Ї І Ѕ
      {"\xC0\xDF", "\xE0\xFF", true},                                          // АЯ, ая
      {"a", "b", false},
      {"\xC5", "\xA8", false},  // Е is not Ё
      {"\xE5", "E", false},     // nor the Latin letter that looks like it
      {"[", "{", false},        // only letters fold
      {"\xB5", "\xB5", true},
      {"ab", "abc", false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(EqualsNoCase(c.a, c.b), c.equal) << c.a << " / " << c.b;
    EXPECT_EQ(EqualsNoCase(c.b, c.a), c.equal) << c.a << " / " << c.b;
  }
}

TEST(NameCase, UpperCaseUnitsCoverLatin1AndCyrillic) {
  const struct {
    char16_t lower;
    char16_t upper;
  } cases[] = {{u'z', u'Z'},           {u'\u00E9', u'\u00C9'}, {u'\u00FE', u'\u00DE'},
               {u'\u00FF', u'\u0178'}, {u'\u0101', u'\u0100'}, {u'\u0142', u'\u0141'},
               {u'\u017E', u'\u017D'}, {u'\u03C9', u'\u03A9'}, {u'\u0430', u'\u0410'},
               {u'\u044F', u'\u042F'}, {u'\u0451', u'\u0401'}, {u'\u045F', u'\u040F'},
               {u'\u0491', u'\u0490'}, {u'\u04E9', u'\u04E8'}};
  for (const auto& c : cases) {
    EXPECT_EQ(UpperCaseUnit(c.lower), c.upper) << static_cast<int>(c.lower);
    EXPECT_EQ(UpperCaseUnit(c.upper), c.upper) << static_cast<int>(c.upper);
  }
  for (char16_t same : {u'\u00F7', u'\u00DF', u'\u0131', u'1', u'\u2116'}) {
    EXPECT_EQ(UpperCaseUnit(same), same) << static_cast<int>(same);
  }
}

// Sorting ignores case and, for ASCII, keeps the order of the upper-cased bytes.
TEST(NameCase, LessOrdersUpperCasedBytes) {
  EXPECT_TRUE(LessNoCase("com1", "COM2"));
  EXPECT_FALSE(LessNoCase("COM1", "com1"));
  EXPECT_TRUE(LessNoCase("A_", "Aa") == false && LessNoCase("Aa", "A_"));  // 'A' < '_'
  EXPECT_TRUE(LessNoCase("\xE0", "\xC1"));                                 // а < Б
}

}  // namespace
}  // namespace tavex::platform
