// SPDX-License-Identifier: GPL-3.0-or-later
// The two kinds of number that say why a call into the system failed. Their values overlap (13
// is EACCES and also the registry's "invalid data"), so each has its own type and a message
// that shows one knows which it is.
#pragma once

#include <cerrno>

namespace tavex::platform {

// An errno value; 0 for success.
enum class Errno : int {};
// A result of the registry store (RegistryKey, the hive files): its own codes (kErrorFileNotFound
// and the others in registry.h) or, when the hive file itself fails, an errno value; 0 for
// success. It converts to and from int, as callers compare it with those codes; the type says
// what kind of number it is wherever it is passed on.
class RegResult {
 public:
  constexpr RegResult(int code = 0) : code_(code) {}
  constexpr operator int() const { return code_; }

 private:
  int code_;
};

inline constexpr int Value(Errno code) {
  return static_cast<int>(code);
}
inline constexpr int Value(RegResult code) {
  return code;
}

inline constexpr Errno kNoError{0};
// What a call on a closed device fails with, as a call on an invalid descriptor.
inline constexpr Errno kErrnoBadDescriptor{EBADF};
inline constexpr Errno kErrnoIo{EIO};
inline constexpr Errno kErrnoInvalidArgument{EINVAL};
inline constexpr Errno kErrnoNotFound{ENOENT};

}  // namespace tavex::platform
