// SPDX-License-Identifier: GPL-3.0-or-later
// Reading any profile text never fails, and a value written into any text reads back as written.
// Input: the file text, then after the first NUL byte the value to write.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "platform/profile.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view input(reinterpret_cast<const char*>(data), size);
  const std::size_t split = input.find('\0');
  const std::string_view text = input.substr(0, split);
  std::string value =
      split == std::string_view::npos ? std::string("v") : std::string(input.substr(split + 1));

  const std::string read = tavex::platform::ProfileLookup(text, "Port", "Name", "default");
  if (read.size() >= tavex::platform::kProfileBufferSize) std::abort();

  std::string next;
  bool changed = false;
  if (tavex::platform::ProfileEdit(text, "Port", "Name", value, next, changed) != 0) return 0;
  // Stored values are trimmed and unquoted on read, so only plain values must come back as is.
  const bool plain = !value.empty() && value.front() > ' ' && value.back() > ' ' &&
                     value.front() != '"' && value.front() != '\'' &&
                     value.size() < tavex::platform::kProfileBufferSize;
  if (plain && tavex::platform::ProfileLookup(next, "Port", "Name", "") != value) std::abort();
  return 0;
}
