// SPDX-License-Identifier: GPL-3.0-or-later
// Any text either fails to parse or parses into a hive whose written form parses again into the
// same written form: nothing read from a hive is lost or changed when the hive is rewritten.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/registry_hive.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  std::string_view text(reinterpret_cast<const char*>(data), size);
  for (auto root :
       {tavex::platform::RegRoot::CurrentUser, tavex::platform::RegRoot::LocalMachine}) {
    tavex::platform::Hive hive;
    tavex::platform::HiveParseError error;
    if (!tavex::platform::ParseHive(text, root, hive, error)) {
      if (error.line == 0 || !hive.Keys().empty()) std::abort();
      continue;
    }
    const std::string written = tavex::platform::FormatHive(hive, root);
    tavex::platform::Hive again;
    if (!tavex::platform::ParseHive(written, root, again, error)) std::abort();
    if (tavex::platform::FormatHive(again, root) != written) std::abort();
  }
  return 0;
}
