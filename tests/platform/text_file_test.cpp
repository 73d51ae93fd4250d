// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "platform/text_file.h"

namespace tavex::platform {
namespace {

using namespace std::string_literals;

// What each kind of file reads as, and that writing the reading back gives the file byte for byte.
TEST(TextFile, DecodesEveryMarkAndEncodesTheSameBytes) {
  const struct {
    const char* what;
    std::string raw;
    FileMark mark;
    std::string text;
    std::optional<char> oddByte;
  } cases[] = {
      {"empty", "", FileMark::None, "", std::nullopt},
      {"no mark: bytes as they are", "[s]\r\nk=\xC8\xEC\xFF\n", FileMark::None,
       "[s]\r\nk=\xC8\xEC\xFF\n", std::nullopt},
      {"UTF-8 mark", "\xEF\xBB\xBF[s]\nk=Ё", FileMark::Utf8, "[s]\nk=Ё", std::nullopt},
      {"lone UTF-8 mark", "\xEF\xBB\xBF", FileMark::Utf8, "", std::nullopt},
      {"not UTF-8 after a UTF-8 mark: kept", "\xEF\xBB\xBF\xFFk\xC3", FileMark::Utf8, "\xFFk\xC3",
       std::nullopt},
      {"UTF-16LE", "\xFF\xFE[\0s\0]\0\r\0\n\0\x01\x04"s, FileMark::Utf16Le, "[s]\r\nЁ",
       std::nullopt},
      {"UTF-16LE pair and unpaired surrogates", "\xFF\xFE\x3D\xD8\x00\xDE\x00\xD8=\0\x00\xDC"s,
       FileMark::Utf16Le, "\xF0\x9F\x98\x80\xED\xA0\x80=\xED\xB0\x80", std::nullopt},
      {"lone UTF-16 mark", "\xFF\xFE", FileMark::Utf16Le, "", std::nullopt},
      {"UTF-16LE with an odd last byte", "\xFF\xFEk\0=\0\xC8"s, FileMark::Utf16Le, "k=", '\xC8'},
      {"UTF-16 mark and one byte", "\xFF\xFE\0"s, FileMark::Utf16Le, "", '\0'},
      {"part of a UTF-16 mark", "\xFF", FileMark::None, "\xFF", std::nullopt},
      {"part of a UTF-8 mark", "\xEF\xBB[s]", FileMark::None, "\xEF\xBB[s]", std::nullopt},
      {"UTF-16BE mark is no mark", "\xFE\xFF\0k"s, FileMark::None, "\xFE\xFF\0k"s, std::nullopt},
  };
  for (const auto& c : cases) {
    const DecodedText decoded = DecodeFileText(c.raw);
    EXPECT_EQ(decoded.mark, c.mark) << c.what;
    EXPECT_EQ(decoded.text, c.text) << c.what;
    EXPECT_EQ(decoded.oddByte, c.oddByte) << c.what;
    EXPECT_EQ(EncodeFileText(decoded.mark, decoded.text, decoded.oddByte), c.raw) << c.what;
  }
}

TEST(TextFile, EncodesNewTextInTheMarksEncoding) {
  EXPECT_EQ(EncodeFileText(FileMark::Utf16Le, "k=Ё\r\n"), "\xFF\xFEk\0=\0\x01\x04\r\0\n\0"s);
  EXPECT_EQ(EncodeFileText(FileMark::Utf8, "k=Ё"), "\xEF\xBB\xBFk=Ё");
  EXPECT_EQ(EncodeFileText(FileMark::None, "k=\xC8"), "k=\xC8");
  // The odd byte goes after whatever the text became.
  EXPECT_EQ(EncodeFileText(FileMark::Utf16Le, "k", 'Z'), "\xFF\xFEk\0Z"s);
  // A byte that is not UTF-8 cannot become UTF-16: it is marked, and nothing after it is lost.
  EXPECT_EQ(EncodeFileText(FileMark::Utf16Le, "a\xFF\xC3z\xD0\x81"),
            "\xFF\xFE"
            "a\0\xFD\xFF\xFD\xFFz\0\x01\x04"s);
}

}  // namespace
}  // namespace tavex::platform
