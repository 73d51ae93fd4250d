// SPDX-License-Identifier: GPL-3.0-or-later
// The stores a port's settings are saved to and restored from: a registry key or a section of a
// profile (INI) file. Each accessor lives for one save or restore; a failure inside one is an
// ESettingsStore, which the port turns into its own "Failed to store/load settings" error with
// the ESettingsStore nested in it.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <variant>
#include <vector>

#include "platform/registry.h"

namespace tavex {

// What failed inside a store, with the system's code of the failure in its own kind: a result of
// the registry store or an errno value (of a hive file or a profile file). The port's "Failed to
// store/load settings" carries it as its nested cause.
class ESettingsStore : public std::runtime_error {
 public:
  using Code = platform::RegStatus::Code;
  ESettingsStore(const std::string& what, Code code);
  const Code& SystemCode() const noexcept { return code_; }

 private:
  Code code_;
};

// A registry key under a chosen root (HKEY_CURRENT_USER until changed).
class RegistryAccessor {
 public:
  RegistryAccessor() = default;
  ~RegistryAccessor();  // writes what is still held back, then closes the key
  RegistryAccessor(const RegistryAccessor&) = delete;
  RegistryAccessor& operator=(const RegistryAccessor&) = delete;

  platform::RegRoot RootKey = platform::RegRoot::CurrentUser;

  // Opens the key below RootKey, creating it when `canCreate`. False when that failed; the
  // accessor then has no key open.
  bool OpenKey(const std::string& path, bool canCreate);
  void CloseKey();
  bool HasKey() const { return key_.IsOpen(); }
  const platform::RegistryKey& CurrentKey() const { return key_; }

  // Reads come from one state of the hive, taken at the first read after opening or writing, so
  // that a restore never mixes two saves made meanwhile by another process.
  // A missing value, or one of size 0, is empty text; the text ends at its first zero byte.
  // No key open is empty text too. A value of another type than REG_SZ/REG_EXPAND_SZ, or a hive
  // that cannot be read, raises.
  std::string ReadString(const std::string& name);
  // Raises when there is no key, the value is missing, is not a REG_DWORD or is not 4 bytes.
  std::int32_t ReadInteger(const std::string& name);
  // REG_SZ with its terminating zero counted; raises on failure.
  void WriteString(const std::string& name, const std::string& text);
  // REG_DWORD, the value's two's complement bits; raises on failure.
  void WriteInteger(const std::string& name, std::int32_t value);

  // While held back, writes collect and reach the hive together in one rewrite at FlushWrites
  // (or the next read); a failing flush raises, keeping the values before the failing one.
  void HoldWrites() { holding_ = true; }
  void FlushWrites();

 private:
  platform::RegistryKey key_;
  bool holding_ = false;
  std::vector<platform::RegValueWrite> pending_;
  bool haveSnapshot_ = false;
  platform::RegStatus snapshotResult_;
  std::vector<platform::RegValueWrite> snapshot_;

  // The value's type and data, or why there are none (kFileNotFound, a hive file's errno value).
  platform::RegStatus Query(const std::string& name, platform::RegType& type, std::string& data);
};

// One section of a profile file. The file name goes to the profile functions unchanged.
class IniAccessor {
 public:
  IniAccessor(std::string fileName, std::string section)
      : fileName_(std::move(fileName)), section_(std::move(section)) {}
  ~IniAccessor();  // flushes the file
  IniAccessor(const IniAccessor&) = delete;
  IniAccessor& operator=(const IniAccessor&) = delete;

  const std::string& FileName() const { return fileName_; }
  const std::string& Section() const { return section_; }

  // The key's value, or `fallback` when it is missing; cut to 2047 bytes.
  std::string ReadString(const std::string& key, const std::string& fallback) const;
  // Raises when the file cannot be written.
  void WriteString(const std::string& key, const std::string& value);
  void UpdateFile();

 private:
  std::string fileName_;
  std::string section_;
};

// Prepares `reg` for a location "ROOT\sub\key": the root name (in any letter case) selects
// HKEY_LOCAL_MACHINE or HKEY_CURRENT_USER, anything else leaves HKEY_CURRENT_USER and is dropped;
// the component name is appended as the last segment and the key is opened or created. The
// outcome of opening is not checked: a key that could not be opened makes the writes fail later.
// A location without "\" opens no key. "ROOT\" alone names the component's key directly under
// the root.
void OpenSettingsKey(RegistryAccessor& reg, const std::string& path,
                     const std::string& componentName);

}  // namespace tavex
