// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/name_case.h"

#include <algorithm>
#include <array>
#include <string>

#include "platform/text_codec.h"

namespace tavex::platform {
namespace {

// Blocks where lower- and upper-case letters alternate, upper first (U+0100 Ā, U+0101 ā, ...).
bool InAlternatingBlock(char16_t u) {
  return (u >= 0x0100 && u <= 0x012F) || (u >= 0x0132 && u <= 0x0137) ||
         (u >= 0x014A && u <= 0x0177) || (u >= 0x0460 && u <= 0x0481) ||
         (u >= 0x048A && u <= 0x04BF) || (u >= 0x04D0 && u <= 0x052F);
}

// Blocks where the upper-case letter comes first at odd positions (U+0139 Ĺ, U+013A ĺ, ...).
bool InOddAlternatingBlock(char16_t u) {
  return (u >= 0x0139 && u <= 0x0148) || (u >= 0x0179 && u <= 0x017E) ||
         (u >= 0x04C1 && u <= 0x04CE);
}

std::array<char, 256> MakeAnsiTable() {
  std::array<char, 256> table{};
  for (int b = 0; b < 256; ++b) {
    const char byte = static_cast<char>(b);
    const std::u16string units = AnsiToUtf16(std::string_view(&byte, 1));
    const char16_t upper = UpperCaseUnit(units[0]);
    bool exact = true;
    const std::string back = Utf16ToAnsi(std::u16string_view(&upper, 1), &exact);
    table[static_cast<std::size_t>(b)] = exact ? back[0] : byte;
  }
  return table;
}

}  // namespace

char16_t UpperCaseUnit(char16_t u) {
  if (u >= u'a' && u <= u'z') return static_cast<char16_t>(u - 0x20);
  if (u < 0x80) return u;
  // Latin-1 à-þ except ÷, and ÿ.
  if (u >= 0xE0 && u <= 0xFE && u != 0xF7) return static_cast<char16_t>(u - 0x20);
  if (u == 0xFF) return 0x0178;
  if (InAlternatingBlock(u)) return static_cast<char16_t>(u & ~char16_t{1});
  if (InOddAlternatingBlock(u)) return (u & 1) ? u : static_cast<char16_t>(u - 1);
  // Greek α-ω except final sigma's own slot, then Cyrillic а-я and ѐ-џ.
  if (u >= 0x03B1 && u <= 0x03CB && u != 0x03C2) return static_cast<char16_t>(u - 0x20);
  if (u >= 0x0430 && u <= 0x044F) return static_cast<char16_t>(u - 0x20);
  if (u >= 0x0450 && u <= 0x045F) return static_cast<char16_t>(u - 0x50);
  return u;
}

char UpperCaseAnsi(char byte) {
  static const std::array<char, 256> kTable = MakeAnsiTable();
  return kTable[static_cast<unsigned char>(byte)];
}

bool EqualsNoCase(std::string_view a, std::string_view b) {
  return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
           return UpperCaseAnsi(x) == UpperCaseAnsi(y);
         });
}

bool LessNoCase(std::string_view a, std::string_view b) {
  return std::lexicographical_compare(a.begin(), a.end(), b.begin(), b.end(), [](char x, char y) {
    return static_cast<unsigned char>(UpperCaseAnsi(x)) <
           static_cast<unsigned char>(UpperCaseAnsi(y));
  });
}

}  // namespace tavex::platform
