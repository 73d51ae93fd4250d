// SPDX-License-Identifier: GPL-3.0-or-later
// Registry hives: one text file per root in the regedit export format, under the registry
// directory. Keys and values keep their order of creation; names compare case-insensitively.
// Every change is a locked read-modify-write through a temporary file and a rename, so a crash or
// a concurrent writer never leaves a torn file; a hive that does not parse is never overwritten.
//
// Each operation gives a RegStatus: success, a result of the store's own (RegResult: a missing
// key or value, no more items, a buffer too small, ...), or, when the hive file itself cannot be
// read or written, the errno value of that failure (EACCES, EIO, ENOSPC, ...) as an Errno. The
// two kinds stay apart: a RegResult never holds an errno value.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "platform/system_code.h"

namespace tavex::platform {

// What a registry operation came to: a RegResult of the store, or the Errno of a hive file
// that failed. Either converts to it; success is RegResult::kSuccess, whichever kind made it.
class RegStatus {
 public:
  using Code = std::variant<RegResult, Errno>;

  constexpr RegStatus(RegResult result = RegResult::kSuccess) : code_(result) {}
  constexpr RegStatus(Errno error)
      : code_(error == kNoError ? Code{RegResult::kSuccess} : Code{error}) {}

  constexpr bool Ok() const { return *this == RegStatus{}; }
  // The code in its own kind, to hand on as it is (std::visit) or to tell the kinds apart.
  constexpr const Code& Get() const { return code_; }

  friend constexpr bool operator==(const RegStatus&, const RegStatus&) = default;

 private:
  Code code_;
};

// A code named by its kind, as logs and diagnostics show it: "registry result 2" or
// "errno 13, Permission denied" (the C library's words, untranslated).
std::string CodeDetail(const RegStatus::Code& code);

enum class RegRoot { CurrentUser, LocalMachine };

// Value types as the registry numbers them.
enum class RegType : std::uint32_t {
  None = 0,
  Sz = 1,
  ExpandSz = 2,
  Binary = 3,
  Dword = 4,
  DwordBigEndian = 5,
  Link = 6,
  MultiSz = 7,
  QWord = 11
};

// A REG_DWORD's data: the value's four bytes, least significant first.
std::string DwordData(std::uint32_t value);
// The value a REG_DWORD's data holds; `data` has four bytes.
std::uint32_t DwordValue(std::string_view data);

// TAVEX_REGISTRY_DIR, else $XDG_CONFIG_HOME/tavex/registry, else ~/.config/tavex/registry.
std::string RegistryDirectory();
// The hive file of a root: <dir>/HKEY_LOCAL_MACHINE.reg or <dir>/HKEY_CURRENT_USER.reg.
std::string HivePath(RegRoot root);

// One value write of a batch.
struct RegValueWrite {
  std::string name;
  RegType type = RegType::Sz;
  std::string data;
};

// A key path below a root, "Software\\TAVEX\\ComPort". Nothing is held open between calls: each
// operation reads the hive afresh, and each change is one atomic rewrite of it.
class RegistryKey {
 public:
  RegistryKey() = default;
  RegistryKey(RegRoot root, std::string path) : root_(root), path_(std::move(path)), open_(true) {}

  // Opens an existing key: kFileNotFound when it does not exist.
  static RegStatus Open(RegRoot root, const std::string& path, RegistryKey& key);
  // Opens a key, creating it and any missing parent keys.
  static RegStatus Create(RegRoot root, const std::string& path, RegistryKey& key);

  bool IsOpen() const { return open_; }
  void Close() { open_ = false; }
  RegRoot Root() const { return root_; }
  const std::string& Path() const { return path_; }

  // Raw data as stored: REG_SZ data carries its terminating zero byte, REG_DWORD four bytes
  // little-endian. kFileNotFound when the value does not exist.
  RegStatus QueryValue(const std::string& name, RegType& type, std::string& data) const;
  // Every value of the key in creation order, read from one state of the hive.
  RegStatus QueryValues(std::vector<RegValueWrite>& values) const;
  RegStatus SetValue(const std::string& name, RegType type, const std::string& data);
  RegStatus DeleteValue(const std::string& name);
  // Applies the writes in order in one locked rewrite of the hive. Text (REG_SZ, REG_EXPAND_SZ,
  // REG_MULTI_SZ) that does not end in a zero byte gets one. A write that cannot be stored
  // stops the batch there: the writes before it are kept and its code is returned. `applied`
  // receives how many writes were stored.
  RegStatus SetValues(const std::vector<RegValueWrite>& writes, std::size_t* applied = nullptr);
  // What a value needs: its name's characters with the terminating zero, its data's bytes.
  struct ValueSizes {
    std::size_t name = 0;
    std::size_t data = 0;
  };
  // Enumerates values in creation order; kNoMoreItems after the last one, kMoreData when the name
  // (nameCapacity characters including its zero) or data does not fit. With kMoreData `type` and
  // `needed` still tell the value's type and sizes, so that the caller can ask again with
  // buffers that fit.
  RegStatus EnumValue(std::uint32_t index, std::string& name, std::size_t nameCapacity,
                      RegType& type, std::string& data, std::size_t dataCapacity,
                      ValueSizes* needed = nullptr) const;

  // The name of the index-th direct subkey, in creation order; kNoMoreItems after the last.
  RegStatus EnumKey(std::uint32_t index, std::string& name) const;

  // Convenience forms over QueryValue/SetValue.
  RegStatus SetString(const std::string& name, const std::string& text);  // REG_SZ
  RegStatus SetDword(const std::string& name, std::uint32_t value);       // REG_DWORD

 private:
  RegRoot root_ = RegRoot::CurrentUser;
  std::string path_;
  bool open_ = false;
};

}  // namespace tavex::platform
