// SPDX-License-Identifier: GPL-3.0-or-later
// Profile (INI) files: sections of name=value lines, read and written the way the classic
// private-profile functions do. Names compare ignoring letter case (see name_case.h), names and
// values are trimmed of blanks and control whitespace (0x09-0x0D), one pair of matching quotes
// around a value is removed on read, and the first matching section and key win. Lines end in
// CR LF, LF or a bare CR. Writes keep every other line (comments included) and the file's
// encoding and line ends, and replace the file atomically under a lock on its directory.
// A file without a byte-order mark holds the caller's bytes unchanged; one with a UTF-16LE or
// UTF-8 byte-order mark holds Unicode text, which the caller reads and writes as Windows-1251
// (see text_file.h). The odd last byte of a UTF-16LE file is kept and written back unchanged.
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>

namespace tavex::platform {

inline constexpr std::size_t kProfileBufferSize = 2048;

// A name without "/" is a file in the registry directory; any other name is a path.
std::string ProfilePath(const std::string& fileName);

// The value of `key` in `section` of the file, or the default text (trailing blanks and one pair
// of quotes removed) when the file, the section or the key is missing. The result is cut to
// bufferSize - 1 bytes.
std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultText, const std::string& fileName,
                                    std::size_t bufferSize = kProfileBufferSize);

// The names a null key (or a null section) asks for: the keys of `section` (those with "="), or
// with no section every section's name, in file order. The buffer's bytes: each name followed by
// a zero, and one more zero after the last; a list too long for bufferSize is cut inside a name
// and still ends in two zeros. `count` gets what the function returns: the bytes before the last
// zero, or bufferSize - 2 for a cut list. A section that is not there gives the default text.
std::string GetPrivateProfileNames(const std::optional<std::string>& section,
                                   const std::string& defaultText, const std::string& fileName,
                                   std::size_t bufferSize, std::size_t& count);

// Writes `key`=`value` in `section`: an existing key is rewritten in place, a new key goes at the
// end of its section and a new section at the end of the file. A missing value deletes the key, a
// missing key deletes the section; all three missing only flushes (nothing is buffered, so that
// succeeds at once). Writing the value already stored changes nothing. Returns 0, EINVAL for
// names or values that cannot be written as one line, or the errno of a file that cannot be
// read or written.
int WritePrivateProfileString(const std::optional<std::string>& section,
                              const std::optional<std::string>& key,
                              const std::optional<std::string>& value, const std::string& fileName);

// The same two operations on the file's text, without the file.
std::string ProfileLookup(std::string_view text, std::string_view section, std::string_view key,
                          std::string_view defaultText,
                          std::size_t bufferSize = kProfileBufferSize);
std::string ProfileNames(std::string_view text, const std::optional<std::string>& section,
                         std::string_view defaultText, std::size_t bufferSize, std::size_t& count);
// Sets `next` and `changed`; returns 0 or EINVAL.
int ProfileEdit(std::string_view text, const std::optional<std::string>& section,
                const std::optional<std::string>& key, const std::optional<std::string>& value,
                std::string& next, bool& changed);

}  // namespace tavex::platform
