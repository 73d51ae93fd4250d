// SPDX-License-Identifier: GPL-3.0-or-later
// The printed form of bytes shared by the runner and the driver: Windows-1251 letters as UTF-8,
// everything else outside printable ASCII as an escape, so that a recording reads as text.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace conformance {

// Windows-1251 bytes 0x80-0xBF as Unicode code points; 0xC0-0xFF are U+0410-U+044F.
inline constexpr std::uint16_t kCp1251High[64] = {
    0x0402, 0x0403, 0x201A, 0x0453, 0x201E, 0x2026, 0x2020, 0x2021, 0x20AC, 0x2030, 0x0409,
    0x2039, 0x040A, 0x040C, 0x040B, 0x040F, 0x0452, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0xFFFD, 0x2122, 0x0459, 0x203A, 0x045A, 0x045C, 0x045B, 0x045F, 0x00A0,
    0x040E, 0x045E, 0x0408, 0x00A4, 0x0490, 0x00A6, 0x00A7, 0x0401, 0x00A9, 0x0404, 0x00AB,
    0x00AC, 0x00AD, 0x00AE, 0x0407, 0x00B0, 0x00B1, 0x0406, 0x0456, 0x0491, 0x00B5, 0x00B6,
    0x00B7, 0x0451, 0x2116, 0x0454, 0x00BB, 0x0458, 0x0405, 0x0455, 0x0457};

inline std::uint32_t CodePointOf1251(unsigned char byte) {
  if (byte < 0x80) return byte;
  if (byte >= 0xC0) return 0x0410 + (byte - 0xC0);
  return kCp1251High[byte - 0x80];
}

inline std::string Utf8Of(std::uint32_t cp) {
  std::string out;
  if (cp < 0x80) {
    out += static_cast<char>(cp);
  } else if (cp < 0x800) {
    out += static_cast<char>(0xC0 | (cp >> 6));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  } else {
    out += static_cast<char>(0xE0 | (cp >> 12));
    out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
    out += static_cast<char>(0x80 | (cp & 0x3F));
  }
  return out;
}

// Bytes in the canonical printed form: "..." with \\ \" \r \n \t \0 \xNN, and the 1251 letters
// as UTF-8 unless `letters` is false (file contents, whose encoding varies).
inline std::string Show(const std::string& bytes, bool letters = true) {
  std::string out = "\"";
  for (char ch : bytes) {
    auto c = static_cast<unsigned char>(ch);
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\0':
        out += "\\0";
        break;
      default:
        if (c >= 0x20 && c < 0x7F) {
          out += static_cast<char>(c);
        } else if (letters && (c >= 0xC0 || c == 0x88 || c == 0xA8 || c == 0xB8 || c == 0xB9)) {
          out += Utf8Of(CodePointOf1251(c));
        } else {
          char hex[8];
          std::snprintf(hex, sizeof hex, "\\x%02x", c);
          out += hex;
        }
    }
  }
  return out + "\"";
}

}  // namespace conformance
