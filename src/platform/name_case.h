// SPDX-License-Identifier: GPL-3.0-or-later
// Names (registry keys and values, profile sections and keys) compare ignoring letter case the
// way Windows does it: by upper-casing every letter that has an upper-case form, Latin (with
// Latin-1 and Latin Extended-A), Greek and Cyrillic alike, independently of the locale.
#pragma once

#include <string_view>

namespace tavex::platform {

// The upper-case form of one UTF-16 code unit (the unit itself when it has none).
char16_t UpperCaseUnit(char16_t unit);
// The same for a Windows-1251 byte (А-Я for а-я, Ё for ё, ...).
char UpperCaseAnsi(char byte);

// Windows-1251 names compared letter by letter through UpperCaseAnsi.
bool EqualsNoCase(std::string_view a, std::string_view b);
// Byte order of the upper-cased names.
bool LessNoCase(std::string_view a, std::string_view b);

}  // namespace tavex::platform
