// SPDX-License-Identifier: GPL-3.0-or-later
// Writes the port settings the window and the exchanges read: the given device at 4800 bit/s,
// 8 data bits, no parity, one stop bit, no flow control.
#pragma once

#include <gtest/gtest.h>

#include <string>

#include "platform/registry.h"

namespace tavex::test {

inline void StorePort(const std::string& port) {
  platform::RegistryKey key;
  ASSERT_EQ(platform::RegistryKey::Create(platform::RegRoot::LocalMachine,
                                          "Software\\TAVEX\\ComPort", key),
            platform::RegResult::kSuccess);
  const char* values[][2] = {{"Port", port.c_str()}, {"BaudRate", "4800"}, {"StopBits", "1"},
                             {"DataBits", "8"},      {"Parity", "None"},   {"FlowControl", "None"}};
  for (const auto& value : values)
    ASSERT_EQ(key.SetString(value[0], value[1]), platform::RegResult::kSuccess) << value[0];
}

}  // namespace tavex::test
