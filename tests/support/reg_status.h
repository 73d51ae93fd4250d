// SPDX-License-Identifier: GPL-3.0-or-later
// How a test's failure message shows a registry operation's outcome: its kind and its number.
#pragma once

#include <ostream>
#include <variant>

#include "platform/registry.h"

namespace tavex::platform {

inline void PrintTo(RegResult result, std::ostream* out) {
  *out << "RegResult " << Value(result);
}

inline void PrintTo(Errno error, std::ostream* out) {
  *out << "errno " << Value(error);
}

inline void PrintTo(const RegStatus& status, std::ostream* out) {
  std::visit([out](auto code) { PrintTo(code, out); }, status.Get());
}

}  // namespace tavex::platform
