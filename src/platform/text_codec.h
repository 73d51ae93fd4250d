// SPDX-License-Identifier: GPL-3.0-or-later
// The program's texts on the line, in the hive and in the log are single-byte Windows-1251
// strings; the window and the hive file are UTF-8 or UTF-16. These convert between them the way
// Windows does for a program that uses the ANSI functions.
#pragma once

#include <string>
#include <string_view>

namespace tavex::platform {

// Every byte has a reading (the one unassigned code, 0x98, reads as U+FFFD).
std::string Cp1251ToUtf8(std::string_view bytes);
// False when `utf8` holds a character Windows-1251 has no byte for (or is not UTF-8).
bool Utf8ToCp1251(std::string_view utf8, std::string& bytes);

// UTF-16 code units as Windows reads Windows-1251 bytes (0x98 is U+0098 there).
std::u16string AnsiToUtf16(std::string_view bytes);
// UTF-16 code units as an ANSI program receives them: one byte per unit, the exact byte where
// there is one, else Windows' best-fit byte ("é" gives "e"), else "?". `exact` is cleared when
// any unit had no exact byte.
std::string Utf16ToAnsi(std::u16string_view units, bool* exact = nullptr);

// UTF-8 <-> UTF-16. An unpaired surrogate is carried as its three-byte UTF-8 form, so that any
// UTF-16 text survives the round trip unchanged. False when `utf8` is not UTF-8.
bool Utf8ToUtf16(std::string_view utf8, std::u16string& units);
std::string Utf16ToUtf8(std::u16string_view units);

// UTF-16LE bytes <-> code units; an odd last byte is dropped.
std::u16string FromUtf16Le(std::string_view bytes);
std::string ToUtf16Le(std::u16string_view units);

}  // namespace tavex::platform
