// The contents of one registry hive and its text form (the regedit export format). Pure code:
// the file handling sits in registry.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/registry.h"

namespace tavex::platform {

struct HiveValue {
  std::string name;  // "" is the key's unnamed (default) value
  RegType type = RegType::None;
  std::string data;  // raw bytes
};

struct HiveKey {
  std::string path;  // below the root, segments joined by "\", "" for the root key itself
  std::vector<HiveValue> values;  // in order of creation
};

// Keys in order of creation; a key's parents are always created before it.
class Hive {
 public:
  // The key with this path (compared case-insensitively), or null.
  HiveKey* Find(std::string_view path);
  const HiveKey* Find(std::string_view path) const;
  // The key, created with its missing parents when absent.
  HiveKey& Ensure(std::string_view path);
  static HiveValue* FindValue(HiveKey& key, std::string_view name);
  static const HiveValue* FindValue(const HiveKey& key, std::string_view name);
  // Replaces the data of an existing value in place or appends a new one.
  static void Set(HiveKey& key, const std::string& name, RegType type, const std::string& data);

  const std::vector<HiveKey>& Keys() const { return keys_; }

 private:
  std::vector<HiveKey> keys_;
};

// "Software\\\\TAVEX\\" -> "Software\\TAVEX": empty segments are dropped, so a trailing or a
// doubled backslash names the same key. False when a segment holds a byte a key name cannot carry
// in the text form (a control character, "[" or "]").
bool NormalizeKeyPath(std::string_view path, std::string& normalized);
// False when a value name cannot be written to the text form without loss.
bool IsStorableValueName(std::string_view name);

// ASCII-only case folding, independent of the locale.
bool EqualsNoCase(std::string_view a, std::string_view b);

const char* RootName(RegRoot root);

struct HiveParseError {
  std::size_t line = 0;  // 1-based
  std::string message;
};

// Parses the text form of the hive of `root`. A file without any text is an empty hive.
bool ParseHive(std::string_view text, RegRoot root, Hive& hive, HiveParseError& error);
// The text form: header, then every key with a blank line before it, values in order, CRLF-free
// ("\n") lines. Text values that the quoted form cannot carry exactly are written as hex(1).
std::string FormatHive(const Hive& hive, RegRoot root);

}  // namespace tavex::platform
