// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/registry.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <vector>

#include "platform/registry_file.h"
#include "platform/registry_hive.h"

namespace tavex::platform {
namespace {

// Each state of a file is reported once, not on every read of it.
bool FirstReportOf(const std::string& path) {
  static std::mutex mutex;
  static std::map<std::string, std::string> reported;
  const std::string state = FileStateStamp(path);
  std::lock_guard<std::mutex> guard(mutex);
  if (reported[path] == state) return false;
  reported[path] = state;
  return true;
}

void ReportBrokenHive(const std::string& path, const HiveParseError& error) {
  if (!FirstReportOf(path)) return;
  std::fprintf(stderr,
               "tavex: registry hive %s, line %zu: %s (file left unchanged; it is read as empty)\n",
               path.c_str(), error.line, error.message.c_str());
}

void ReportSkippedLines(const std::string& path, const std::vector<HiveParseError>& skipped) {
  if (skipped.empty() || !FirstReportOf(path)) return;
  for (const HiveParseError& line : skipped) {
    std::fprintf(stderr, "tavex: registry hive %s, line %zu: %s (kept in the file as it is)\n",
                 path.c_str(), line.line, line.message.c_str());
  }
}

// Parses the text of the hive file at `path`, reporting what it cannot read.
bool ParseHiveFile(const std::string& path, const std::string& text, RegRoot root, Hive& hive) {
  HiveParseError error;
  std::vector<HiveParseError> skipped;
  if (!ParseHive(text, root, hive, error, &skipped)) {
    ReportBrokenHive(path, error);
    return false;
  }
  ReportSkippedLines(path, skipped);
  return true;
}

// Reads the hive of `root`. A missing file is an empty hive; so is one that does not parse
// (after its diagnostic). Only a file that cannot be read is an error.
Errno LoadHive(RegRoot root, Hive& hive) {
  const std::string path = HivePath(root);
  std::string text;
  bool exists = false;
  if (Errno rc = ReadWholeFile(path, text, exists); rc != kNoError) return rc;
  ParseHiveFile(path, text, root, hive);
  return kNoError;
}

// A change to the hive: returns the store's result; sets `changed` when the file must be
// rewritten.
using HiveChange = std::function<RegResult(Hive& hive, bool& changed)>;

// The change's result, or the hive file's errno value when it could not be read or rewritten.
// A hive that does not parse is never rewritten: that is EBADMSG.
RegStatus EditHive(RegRoot root, const HiveChange& change) {
  const std::string path = HivePath(root);
  RegResult changeResult = RegResult::kSuccess;
  const Errno rc = UpdateFileLocked(
      path, true, [&](bool, const std::string& current, std::string& next, bool& changed) {
        Hive hive;
        if (!ParseHiveFile(path, current, root, hive)) return Errno{EBADMSG};
        changeResult = change(hive, changed);
        // A batch that stopped half-way still stores what came before the failure; a change
        // that failed before changing anything leaves the file alone.
        if (changed) next = FormatHive(hive, root);
        return kNoError;
      });
  if (rc != kNoError) return rc;
  return changeResult;
}

// Text whose size leaves out its terminating zero is stored with one, as Windows does with the
// zero just past such data, and as the hive file's text forms cannot hold it otherwise.
std::string Terminated(RegType type, const std::string& data) {
  const bool text = type == RegType::Sz || type == RegType::ExpandSz || type == RegType::MultiSz;
  return text && !data.empty() && data.back() != '\0' ? data + '\0' : data;
}

RegResult Normalized(const std::string& path, std::string& normalized) {
  return NormalizeKeyPath(path, normalized) ? RegResult::kSuccess : RegResult::kInvalidParameter;
}

}  // namespace

std::string CodeDetail(const RegStatus::Code& code) {
  if (const auto* result = std::get_if<RegResult>(&code)) {
    return "registry result " + std::to_string(Value(*result));
  }
  const Errno error = std::get<Errno>(code);
  return "errno " + std::to_string(Value(error)) + ", " + std::strerror(Value(error));
}

std::string HivePath(RegRoot root) {
  return RegistryDirectory() + "/" + RootName(root) + ".reg";
}

RegStatus RegistryKey::Open(RegRoot root, const std::string& path, RegistryKey& key) {
  std::string normalized;
  if (RegResult rc = Normalized(path, normalized); rc != RegResult::kSuccess) return rc;
  Hive hive;
  if (Errno rc = LoadHive(root, hive); rc != kNoError) return rc;
  const HiveKey* found = hive.Find(normalized);
  if (found == nullptr) return RegResult::kFileNotFound;
  key = RegistryKey(root, found->path);
  return RegResult::kSuccess;
}

RegStatus RegistryKey::Create(RegRoot root, const std::string& path, RegistryKey& key) {
  std::string normalized;
  if (RegResult rc = Normalized(path, normalized); rc != RegResult::kSuccess) return rc;
  // An existing key opens without taking the lock or rewriting anything.
  if (Open(root, normalized, key).Ok()) return RegResult::kSuccess;
  std::string stored = normalized;
  const RegStatus rc = EditHive(root, [&](Hive& hive, bool& changed) {
    if (const HiveKey* found = hive.Find(normalized)) {
      stored = found->path;
      return RegResult::kSuccess;
    }
    hive.Ensure(normalized);
    changed = true;
    return RegResult::kSuccess;
  });
  if (!rc.Ok()) return rc;
  key = RegistryKey(root, stored);
  return RegResult::kSuccess;
}

RegStatus RegistryKey::QueryValue(const std::string& name, RegType& type, std::string& data) const {
  if (!open_) return RegResult::kInvalidHandle;
  Hive hive;
  if (Errno rc = LoadHive(root_, hive); rc != kNoError) return rc;
  const HiveKey* key = hive.Find(path_);
  if (key == nullptr) return RegResult::kFileNotFound;
  const HiveValue* value = Hive::FindValue(*key, name);
  if (value == nullptr) return RegResult::kFileNotFound;
  type = value->type;
  data = value->data;
  return RegResult::kSuccess;
}

RegStatus RegistryKey::QueryValues(std::vector<RegValueWrite>& values) const {
  values.clear();
  if (!open_) return RegResult::kInvalidHandle;
  Hive hive;
  if (Errno rc = LoadHive(root_, hive); rc != kNoError) return rc;
  const HiveKey* key = hive.Find(path_);
  if (key == nullptr) return RegResult::kFileNotFound;
  for (const HiveValue& value : key->values) {
    values.push_back(RegValueWrite{value.name, value.type, value.data});
  }
  return RegResult::kSuccess;
}

RegStatus RegistryKey::SetValue(const std::string& name, RegType type, const std::string& data) {
  return SetValues({RegValueWrite{name, type, data}});
}

RegStatus RegistryKey::SetValues(const std::vector<RegValueWrite>& writes, std::size_t* applied) {
  if (applied != nullptr) *applied = 0;
  if (!open_) return RegResult::kInvalidHandle;
  std::size_t count = 0;
  const RegStatus rc = EditHive(root_, [&](Hive& hive, bool& changed) {
    count = 0;
    // A key deleted meanwhile is made again rather than losing the writes.
    HiveKey& key = hive.Ensure(path_);
    for (const RegValueWrite& write : writes) {
      if (!IsStorableValueName(write.name)) return RegResult::kInvalidParameter;
      const std::string data = Terminated(write.type, write.data);
      const HiveValue* old = Hive::FindValue(key, write.name);
      // A text read through a best-fit conversion is not what the file holds: write it.
      if (old == nullptr || old->type != write.type || old->data != data || old->inexact) {
        Hive::Set(key, write.name, write.type, data);
        changed = true;
      }
      ++count;
    }
    return RegResult::kSuccess;
  });
  if (rc.Ok() || rc == RegResult::kInvalidParameter) {
    if (applied != nullptr) *applied = count;
  }
  return rc;
}

RegStatus RegistryKey::DeleteValue(const std::string& name) {
  if (!open_) return RegResult::kInvalidHandle;
  return EditHive(root_, [&](Hive& hive, bool& changed) {
    HiveKey* key = hive.Find(path_);
    if (key == nullptr || !hive.Remove(*key, name)) return RegResult::kFileNotFound;
    changed = true;
    return RegResult::kSuccess;
  });
}

RegStatus RegistryKey::EnumValue(std::uint32_t index, std::string& name, std::size_t nameCapacity,
                                 RegType& type, std::string& data, std::size_t dataCapacity,
                                 ValueSizes* needed) const {
  if (!open_) return RegResult::kInvalidHandle;
  Hive hive;
  if (Errno rc = LoadHive(root_, hive); rc != kNoError) return rc;
  const HiveKey* key = hive.Find(path_);
  if (key == nullptr) return RegResult::kFileNotFound;
  if (index >= key->values.size()) return RegResult::kNoMoreItems;
  const HiveValue& value = key->values[index];
  if (needed != nullptr) *needed = ValueSizes{value.name.size() + 1, value.data.size()};
  type = value.type;
  if (value.name.size() + 1 > nameCapacity || value.data.size() > dataCapacity) {
    return RegResult::kMoreData;
  }
  name = value.name;
  type = value.type;
  data = value.data;
  return RegResult::kSuccess;
}

RegStatus RegistryKey::EnumKey(std::uint32_t index, std::string& name) const {
  if (!open_) return RegResult::kInvalidHandle;
  Hive hive;
  if (Errno rc = LoadHive(root_, hive); rc != kNoError) return rc;
  if (hive.Find(path_) == nullptr) return RegResult::kFileNotFound;
  const std::size_t skip = path_.empty() ? 0 : path_.size() + 1;
  std::uint32_t seen = 0;
  for (const HiveKey& key : hive.Keys()) {
    if (key.path.size() <= skip || key.path.find('\\', skip) != std::string::npos) continue;
    if (skip != 0 && (key.path[path_.size()] != '\\' ||
                      !EqualsNoCase(std::string_view(key.path).substr(0, path_.size()), path_))) {
      continue;
    }
    if (seen++ == index) {
      name = key.path.substr(skip);
      return RegResult::kSuccess;
    }
  }
  return RegResult::kNoMoreItems;
}

RegStatus RegistryKey::SetString(const std::string& name, const std::string& text) {
  return SetValue(name, RegType::Sz, text + '\0');
}

RegStatus RegistryKey::SetDword(const std::string& name, std::uint32_t value) {
  return SetValue(name, RegType::Dword, DwordData(value));
}

std::string DwordData(std::uint32_t value) {
  std::string data(4, '\0');
  for (std::size_t i = 0; i < 4; ++i) data[i] = static_cast<char>((value >> (8 * i)) & 0xFF);
  return data;
}

std::uint32_t DwordValue(std::string_view data) {
  std::uint32_t value = 0;
  for (std::size_t i = 4; i-- > 0;) value = (value << 8) | static_cast<unsigned char>(data[i]);
  return value;
}

}  // namespace tavex::platform
