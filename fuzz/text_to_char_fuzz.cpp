// SPDX-License-Identifier: GPL-3.0-or-later
// The character and integer texts of stored settings: any text converts without failing, and a
// number that parses is written back in decimal and parses to itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "serial/ComNames.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const std::uint8_t c = tavex::TextToChar(text);
  if (tavex::TextToChar(tavex::CharToText(c)) != c) std::abort();
  std::int32_t value = 0;
  if (tavex::TextToInt32(text, value)) {
    std::int32_t again = 0;
    if (!tavex::TextToInt32(std::to_string(value), again) || again != value) std::abort();
  }
  return 0;
}
