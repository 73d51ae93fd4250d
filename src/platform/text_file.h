// SPDX-License-Identifier: GPL-3.0-or-later
// The bytes of a settings file (a profile or a registry hive) as text, and back: the one place
// that knows the byte-order marks. A file starts with
//   FF FE     UTF-16LE: the text after the mark, converted to UTF-8 (an unpaired surrogate is
//             carried as its three-byte form, see text_codec.h);
//   EF BB BF  UTF-8: the bytes after the mark as they are, even where they are not UTF-8;
//   anything else: no mark, the bytes as they are; the caller knows their character set.
// No other mark is known: a UTF-16BE file (FE FF) reads as bytes without a mark.
//
// A UTF-16LE file with an odd number of bytes after its mark ends in a byte that is no whole
// code unit. It is never dropped: the decoder reports it apart from the text, and the encoder
// writes it back after the text, so decoding and encoding again gives the file byte for byte.
// What a caller makes of such a file is its own rule: a profile keeps the byte and writes it
// back unchanged after an edit; a hive refuses the file, and a hive that does not parse is never
// overwritten.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace tavex::platform {

enum class FileMark { None, Utf8, Utf16Le };

struct DecodedText {
  FileMark mark = FileMark::None;
  // UTF-8 for a UTF-16LE file; the bytes after the mark (or all bytes) otherwise.
  std::string text;
  // The odd last byte of a UTF-16LE file, not part of `text`.
  std::optional<char> oddByte;
};

DecodedText DecodeFileText(std::string_view raw);

// The file's bytes: the mark, then the text in the mark's encoding, then the odd byte if any.
// Text for a UTF-16LE file is UTF-8 (as every text DecodeFileText and text_codec.h give); a
// byte that is not UTF-8 there is written as U+FFFD rather than cutting off what follows.
std::string EncodeFileText(FileMark mark, std::string_view text,
                           std::optional<char> oddByte = std::nullopt);

}  // namespace tavex::platform
