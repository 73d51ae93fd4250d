// SPDX-License-Identifier: GPL-3.0-or-later
// The two kinds of number that say why a call into the system failed. Their values overlap (13
// is EACCES and also the registry's "invalid data"), so each has its own type, neither converts
// to or from int on its own, and a message shows which kind it is.
#pragma once

#include <cerrno>

namespace tavex::platform {

// An errno value; 0 for success.
enum class Errno : int {};

// A result of the registry store's own (RegistryKey), numbered as the comm API numbers them. A
// hive file that cannot be read or written is no RegResult but an Errno (see RegStatus in
// registry.h).
enum class RegResult : int {
  kSuccess = 0,
  kFileNotFound = 2,       // a missing key or value
  kInvalidHandle = 6,      // the key object is not open
  kInvalidData = 13,       // a value of the wrong type
  kInvalidParameter = 87,  // a name the hive's text form cannot carry
  kMoreData = 234,         // a name or data larger than its buffer
  kNoMoreItems = 259,      // an enumeration past the last value or key
};

inline constexpr int Value(Errno code) {
  return static_cast<int>(code);
}
inline constexpr int Value(RegResult code) {
  return static_cast<int>(code);
}

inline constexpr Errno kNoError{0};
// What a call on a closed device fails with, as a call on an invalid descriptor.
inline constexpr Errno kErrnoBadDescriptor{EBADF};
inline constexpr Errno kErrnoIo{EIO};
inline constexpr Errno kErrnoInvalidArgument{EINVAL};
inline constexpr Errno kErrnoNotFound{ENOENT};

}  // namespace tavex::platform
