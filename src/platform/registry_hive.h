// SPDX-License-Identifier: GPL-3.0-or-later
// The contents of one registry hive and its text form (the regedit export format). Pure code:
// the file handling sits in registry.cpp.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/name_case.h"
#include "platform/registry.h"

namespace tavex::platform {

struct HiveValue {
  static constexpr std::size_t kNoOrigin = static_cast<std::size_t>(-1);

  std::string name;  // "" is the key's unnamed (default) value
  RegType type = RegType::None;
  std::string data;  // raw bytes; text types hold Windows-1251 text as an ANSI program reads it
  std::size_t origin = kNoOrigin;  // the piece of the file it was read from, if any
  bool edited = false;             // changed since it was read: its piece is written anew
  bool inexact = false;            // text read through a best-fit conversion
};

struct HiveKey {
  std::string path;  // below the root, segments joined by "\", "" for the root key itself
  std::vector<HiveValue> values;  // in order of creation
};

enum class HiveEncoding { Utf8, Utf16Le, Ansi };

// The file a hive was read from, kept so that a rewrite changes only what was changed: its
// encoding and line ends, and all of its text cut into pieces in file order. A piece's text is in
// the file's character set (UTF-8 for a version 5 file, whatever its encoding; Windows-1251 for
// a REGEDIT4 one) with its line ends. Each piece records the key of this hive that a registry
// editor has open after it, if any, so that a save knows where a new value may go.
struct HiveSource {
  static constexpr std::size_t kNone = static_cast<std::size_t>(-1);
  enum class Kind {
    Verbatim,  // no value of this hive: blank lines, comments, lines a registry editor ignores
    Key,       // a key line opening one of this hive's keys
    Value,     // a value of this hive, with every line of its continued data
    Deletion,  // a line deleting one of this hive's values or keys
    Unread,    // a value line of this hive that the store leaves out
  };
  struct Piece {
    Kind kind = Kind::Verbatim;
    std::string text;
    std::string key;      // the hive's key open after the piece (when inKey)
    bool inKey = false;   // false: no key of this hive is open (none, or another root's)
    std::string value;    // the value named by a Value, Unread or value Deletion piece
    std::string deleted;  // the key a key Deletion piece deletes, with its subkeys
    bool keyDeletion = false;
    // Hex data continued to the end of the file: the offset of its last backslash in `text`.
    std::size_t openBackslash = kNone;
    std::string comments;   // blank and comment lines inside continued hex data
    bool swallows = false;  // continued hex data that took in a following line and was lost
  };
  HiveEncoding encoding = HiveEncoding::Utf8;
  bool byteOrderMark = false;
  std::string lineEnd = "\n";
  std::vector<Piece> pieces;  // none for a new file
  // The piece at which a registry editor stops importing the file, or kNone.
  std::size_t stop = kNone;
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
  // Replaces the data of an existing value in place (marking it edited) or appends a new one.
  static HiveValue& Set(HiveKey& key, const std::string& name, RegType type,
                        const std::string& data);
  // Deletes a value as the file's own deletion line does.
  static bool Erase(HiveKey& key, std::string_view name);
  // Deletes a value for the store: a save then drops the lines that gave it.
  bool Remove(HiveKey& key, std::string_view name);
  // Deletes a key with all of its subkeys.
  void EraseTree(std::string_view path);
  // Whether the store deleted this value since the file was read.
  bool Removed(std::string_view path, std::string_view name) const;

  const std::vector<HiveKey>& Keys() const { return keys_; }
  const HiveSource& Source() const { return source_; }
  HiveSource& Source() { return source_; }

 private:
  std::vector<HiveKey> keys_;
  HiveSource source_;
  std::vector<std::pair<std::string, std::string>> removed_;  // key path, value name
};

// "Software\\\\TAVEX\\" -> "Software\\TAVEX": empty segments are dropped, so a trailing or a
// doubled backslash names the same key. False when a segment holds a byte a key line cannot carry
// (a line end, a zero byte, or 0x98, which has no reading to come back from).
bool NormalizeKeyPath(std::string_view path, std::string& normalized);
// False when a value name cannot be written to the text form without loss (a zero byte, 0x98).
bool IsStorableValueName(std::string_view name);

const char* RootName(RegRoot root);

struct HiveParseError {
  std::size_t line = 0;  // 1-based
  std::string message;
};

// Parses a hive file of `root`: UTF-16LE with a byte-order mark, UTF-8 with or without one
// (version 5 header), or Windows-1251 (REGEDIT4 header); CR LF, LF or bare CR line ends. The
// lines mean what a registry editor's import makes of them, in file order: comments after values
// and keys, blank and comment lines inside continued hex data, deletion lines, a terminating zero
// added to text given as hex. A file without any text is an empty hive. A line that cannot be
// read (or one the import ignores) is left out of the hive, kept in its source and listed in
// `skipped`. Only two kinds of file fail: one without a header (its line in `error`), and a
// UTF-16LE file with an odd number of bytes (see text_file.h), so that it is never rewritten
// without its last byte.
bool ParseHive(std::string_view text, RegRoot root, Hive& hive, HiveParseError& error,
               std::vector<HiveParseError>* skipped = nullptr);
// The file text: every piece of the source as it was, except values changed since (written
// anew in place), values the store deleted (their lines dropped), and values and keys added
// (after the last line of their key where nothing later deletes them, else in a section of their
// own at the end), in the source's encoding and line ends. No new line lands inside continued hex
// data, and a later line the store left out that would give a value it holds another meaning is
// turned into a comment. A new file is UTF-8 with "\n" line ends. Text values
// the quoted form cannot carry exactly are written as hex(1), which holds UTF-16LE text in a
// version 5 file.
std::string FormatHive(const Hive& hive, RegRoot root);

}  // namespace tavex::platform
