// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/text_file.h"

#include "platform/text_codec.h"

namespace tavex::platform {
namespace {

constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16Mark = "\xFF\xFE";

// UTF-16 units of `text`, one U+FFFD for each byte that does not start a UTF-8 character.
std::u16string ToUnits(std::string_view text) {
  std::u16string units;
  if (Utf8ToUtf16(text, units)) return units;
  units.clear();
  std::u16string one;
  for (std::size_t pos = 0; pos < text.size();) {
    std::size_t length = 1;
    while (length <= 4 && pos + length <= text.size() &&
           !Utf8ToUtf16(text.substr(pos, length), one)) {
      ++length;
    }
    if (length <= 4 && pos + length <= text.size()) {
      units += one;
      pos += length;
    } else {
      units.push_back(u'\uFFFD');
      ++pos;
    }
  }
  return units;
}

}  // namespace

DecodedText DecodeFileText(std::string_view raw) {
  DecodedText decoded;
  if (raw.starts_with(kUtf16Mark)) {
    raw.remove_prefix(kUtf16Mark.size());
    decoded.mark = FileMark::Utf16Le;
    if (raw.size() % 2 != 0) {
      decoded.oddByte = raw.back();
      raw.remove_suffix(1);
    }
    decoded.text = Utf16ToUtf8(FromUtf16Le(raw));
  } else if (raw.starts_with(kUtf8Mark)) {
    raw.remove_prefix(kUtf8Mark.size());
    decoded.mark = FileMark::Utf8;
    decoded.text.assign(raw);
  } else {
    decoded.text.assign(raw);
  }
  return decoded;
}

std::string EncodeFileText(FileMark mark, std::string_view text, std::optional<char> oddByte) {
  std::string bytes;
  switch (mark) {
    case FileMark::Utf16Le:
      bytes = std::string(kUtf16Mark) + ToUtf16Le(ToUnits(text));
      break;
    case FileMark::Utf8:
      bytes = std::string(kUtf8Mark) + std::string(text);
      break;
    case FileMark::None:
      bytes.assign(text);
      break;
  }
  if (oddByte) bytes.push_back(*oddByte);
  return bytes;
}

}  // namespace tavex::platform
