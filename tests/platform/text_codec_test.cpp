// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "platform/text_codec.h"

namespace tavex::platform {
namespace {

TEST(TextCodec, EveryByteRoundTripsExceptTheUnassignedOne) {
  for (int b = 0; b < 256; ++b) {
    std::string one(1, static_cast<char>(b));
    std::string back;
    bool ok = Utf8ToCp1251(Cp1251ToUtf8(one), back);
    if (b == 0x98) {
      EXPECT_EQ(Cp1251ToUtf8(one), "\xEF\xBF\xBD");
      continue;
    }
    ASSERT_TRUE(ok) << b;
    EXPECT_EQ(back, one) << b;
  }
}

TEST(TextCodec, KnownReadings) {
  EXPECT_EQ(Cp1251ToUtf8("\xB0"), "\xC2\xB0");          // degree sign
  EXPECT_EQ(Cp1251ToUtf8("\xD7\xE0\xF1\xFB"), "Часы");  // the window's own words
  std::string bytes;
  EXPECT_FALSE(Utf8ToCp1251("\xE4\xB8\xAD", bytes));  // a character with no Windows-1251 byte
  EXPECT_FALSE(Utf8ToCp1251("\xFF", bytes));          // not UTF-8
}

// What an ANSI program gets for UTF-16 text, as Windows converts it for code page 1251.
TEST(TextCodec, Utf16ToAnsiIsExactThenBestFitThenQuestionMark) {
  const struct {
    std::u16string units;
    std::string bytes;
    bool exact;
  } cases[] = {
      {u"COM6", "COM6", true},
      {u"Ёё Часы №", "\xA8\xB8 \xD7\xE0\xF1\xFB \xB9", true},
      {u"\u0098", "\x98", true},  // the unassigned byte has its own code there
      {u"café Ł", "cafe L", false},
      {u"ＣＯＭ６", "COM6", false},  // full-width forms
      {u"╔═╗", "\xE3=\xAC", false},
      {u"中", "?", false},
      {u"😀", "??", false},  // one "?" per UTF-16 unit
      {std::u16string(1, u'\xD800'), "?", false},
  };
  for (const auto& c : cases) {
    bool exact = true;
    EXPECT_EQ(Utf16ToAnsi(c.units, &exact), c.bytes) << c.bytes;
    EXPECT_EQ(exact, c.exact) << c.bytes;
  }
  for (int b = 0; b < 256; ++b) {
    const std::string one(1, static_cast<char>(b));
    bool exact = true;
    EXPECT_EQ(Utf16ToAnsi(AnsiToUtf16(one), &exact), one) << b;
    EXPECT_TRUE(exact) << b;
  }
}

// UTF-16 text, unpaired surrogates included, survives a trip through UTF-8 unchanged.
TEST(TextCodec, Utf16RoundTripsThroughUtf8) {
  const std::u16string samples[] = {u"",
                                    u"ASCII",
                                    u"Часы °",
                                    u"😀 pair",
                                    std::u16string{u'a', u'\xD800', u'b'},
                                    std::u16string{u'\xDC00'},
                                    std::u16string{u'\xDBFF'}};
  for (const std::u16string& units : samples) {
    std::u16string back;
    ASSERT_TRUE(Utf8ToUtf16(Utf16ToUtf8(units), back));
    EXPECT_EQ(back, units);
    EXPECT_EQ(FromUtf16Le(ToUtf16Le(units)), units);
  }
  EXPECT_EQ(ToUtf16Le(u"A\u0401"), std::string("A\0\x01\x04", 4));
  EXPECT_EQ(FromUtf16Le(std::string("A\0B", 3)), u"A");  // an odd last byte is dropped
  std::u16string units;
  for (const char* bad :
       {"\xFF", "\xC0\x80", "\xE0\x80\x80", "\xF5\x80\x80\x80", "\xC3", "a\x80"}) {
    EXPECT_FALSE(Utf8ToUtf16(bad, units)) << bad;
  }
}

}  // namespace
}  // namespace tavex::platform
