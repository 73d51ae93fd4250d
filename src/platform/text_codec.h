// The program's texts on the line, in the hive and in the log are single-byte Windows-1251
// strings; the window and the hive file are UTF-8. These convert between the two.
#pragma once

#include <string>
#include <string_view>

namespace tavex::platform {

// Every byte has a reading (the one unassigned code, 0x98, reads as U+FFFD).
std::string Cp1251ToUtf8(std::string_view bytes);
// False when `utf8` holds a character Windows-1251 has no byte for (or is not UTF-8).
bool Utf8ToCp1251(std::string_view utf8, std::string& bytes);

}  // namespace tavex::platform
