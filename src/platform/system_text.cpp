// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/system_text.h"

#include <cerrno>
#include <cstddef>

#include "platform/catalog.h"

namespace tavex::platform {
namespace {

template <typename Code>
struct CodeText {
  Code code;
  const char* text;
};

// The errno values a port, a device list or a settings file can fail with, in the C library's
// words, so that they read as the operator sees them in other programs.
constexpr CodeText<int> kErrnoTexts[] = {
    {EPERM, "Operation not permitted"},
    {ENOENT, "No such file or directory"},
    {EINTR, "Interrupted system call"},
    {EIO, "Input/output error"},
    {ENXIO, "No such device or address"},
    {EBADF, "Bad file descriptor"},
    {EAGAIN, "Resource temporarily unavailable"},
    {ENOMEM, "Cannot allocate memory"},
    {EACCES, "Permission denied"},
    {EBUSY, "Device or resource busy"},
    {EEXIST, "File exists"},
    {ENODEV, "No such device"},
    {ENOTDIR, "Not a directory"},
    {EISDIR, "Is a directory"},
    {EINVAL, "Invalid argument"},
    {ENFILE, "Too many open files in system"},
    {EMFILE, "Too many open files"},
    {ENOTTY, "Inappropriate ioctl for device"},
    {EFBIG, "File too large"},
    {ENOSPC, "No space left on device"},
    {EROFS, "Read-only file system"},
    {EPIPE, "Broken pipe"},
    {ENAMETOOLONG, "File name too long"},
    {ELOOP, "Too many levels of symbolic links"},
    {EOVERFLOW, "Value too large for defined data type"},
    {EPROTO, "Protocol error"},
    {EOPNOTSUPP, "Operation not supported"},
    {ETIMEDOUT, "Connection timed out"},
    {ESTALE, "Stale file handle"},
    {EDQUOT, "Disk quota exceeded"},
};

// The registry store's own results. 13 keeps the wording the catalogues translate; a hive file
// that may not be read is an Errno and reads as "Permission denied".
constexpr CodeText<RegResult> kRegistryTexts[] = {
    {RegResult::kFileNotFound, "The registry key or value does not exist"},
    {RegResult::kInvalidHandle, "The registry key is not open"},
    {RegResult::kInvalidData, "Permission denied, or a registry value of the wrong type"},
    {RegResult::kInvalidParameter, "A name the registry file cannot hold"},
    {RegResult::kMoreData, "The registry value does not fit its buffer"},
    {RegResult::kNoMoreItems, "No more registry values"},
};

constexpr const char* kSystemError = "System error %d";

std::string Translated(const char* text) {
  return Translate("default", text);
}

template <typename Code, std::size_t N>
const char* Find(const CodeText<Code> (&table)[N], Code code) {
  for (const CodeText<Code>& entry : table) {
    if (entry.code == code) return entry.text;
  }
  return nullptr;
}

// "System error N": the translation comes from a catalogue, only its first "%d" is replaced.
std::string SystemError(int code) {
  std::string text = Translated(kSystemError);
  const auto at = text.find("%d");
  if (at != std::string::npos) text.replace(at, 2, std::to_string(code));
  return text;
}

}  // namespace

std::string DescribeErrno(Errno code) {
  if (const char* text = Find(kErrnoTexts, Value(code))) return Translated(text);
  return SystemError(Value(code));
}

std::string DescribeRegResult(RegResult code) {
  if (const char* text = Find(kRegistryTexts, code)) return Translated(text);
  return SystemError(Value(code));
}

std::vector<std::string> SystemCodeTexts() {
  std::vector<std::string> texts;
  for (const auto& entry : kErrnoTexts) texts.emplace_back(entry.text);
  for (const auto& entry : kRegistryTexts) texts.emplace_back(entry.text);
  texts.emplace_back(kSystemError);
  return texts;
}

}  // namespace tavex::platform
