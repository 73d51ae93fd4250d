// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/registry_hive.h"

#include <cstdint>
#include <map>

#include "platform/text_codec.h"
#include "platform/text_lines.h"

namespace tavex::platform {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";
constexpr std::string_view kUtf8Mark = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16Mark = "\xFF\xFE";
constexpr std::size_t kHexLineWidth = 78;
constexpr char kDigits[] = "0123456789abcdef";

bool IsBlank(char c) {
  return c == ' ' || c == '\t';
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

int HexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Parses 1 to 8 hex digits making up the whole of `s`.
bool ParseHex32(std::string_view s, std::uint32_t& value) {
  if (s.empty() || s.size() > 8) return false;
  value = 0;
  for (char c : s) {
    int d = HexDigit(c);
    if (d < 0) return false;
    value = (value << 4) | static_cast<std::uint32_t>(d);
  }
  return true;
}

std::string HexNumber(std::uint32_t value, int minDigits) {
  std::string n;
  do {
    n.insert(n.begin(), kDigits[value & 15]);
    value >>= 4;
  } while (value != 0 || static_cast<int>(n.size()) < minDigits);
  return n;
}

// A byte that the text form cannot carry inside a name or a quoted text: control characters
// would break or blur the line, and 0x98 has no Windows-1251 reading to come back from.
bool IsUnwritableByte(unsigned char b, bool allowTab) {
  if (b == '\t') return !allowTab;
  return b < 0x20 || b == 0x98;
}

bool IsUnicodeText(RegType type) {
  return type == RegType::Sz || type == RegType::ExpandSz || type == RegType::MultiSz;
}

// Converts between the hive's Windows-1251 bytes and the text of one kind of file.
class Charset {
 public:
  explicit Charset(bool ansi) : ansi_(ansi) {}

  bool Ansi() const { return ansi_; }
  std::string FromAnsi(std::string_view bytes) const {
    return ansi_ ? std::string(bytes) : Utf16ToUtf8(AnsiToUtf16(bytes));
  }
  // False when the text is not in the file's character set; `exact` is cleared when a character
  // had no Windows-1251 byte and was given its best-fit one.
  bool ToAnsi(std::string_view text, std::string& bytes, bool& exact) const {
    exact = true;
    if (ansi_) {
      bytes.assign(text);
      return true;
    }
    std::u16string units;
    if (!Utf8ToUtf16(text, units)) return false;
    bytes = Utf16ToAnsi(units, &exact);
    return true;
  }
  // hex(1), hex(2) and hex(7) data: UTF-16LE text in a version 5 file, bytes in a REGEDIT4 one.
  std::string HexTextToAnsi(std::string_view data, bool& exact) const {
    exact = true;
    return ansi_ ? std::string(data) : Utf16ToAnsi(FromUtf16Le(data), &exact);
  }
  std::string AnsiToHexText(std::string_view bytes) const {
    return ansi_ ? std::string(bytes) : ToUtf16Le(AnsiToUtf16(bytes));
  }

 private:
  bool ansi_;
};

std::string Escape(const Charset& charset, std::string_view bytes) {
  std::string out;
  for (char c : charset.FromAnsi(bytes)) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

std::string QuotedName(const Charset& charset, const std::string& name) {
  return name.empty() ? std::string("@") : "\"" + Escape(charset, name) + "\"";
}

bool TextFormCarries(const std::string& data) {
  if (data.empty() || data.back() != '\0') return false;
  for (std::size_t i = 0; i + 1 < data.size(); ++i) {
    if (IsUnwritableByte(static_cast<unsigned char>(data[i]), true)) return false;
  }
  return true;
}

void AppendHexValue(std::string& out, const std::string& prefix, const std::string& data,
                    const std::string& lineEnd) {
  std::string line = prefix;
  bool lineHasBytes = false;
  for (std::size_t i = 0; i < data.size(); ++i) {
    auto b = static_cast<unsigned char>(data[i]);
    std::string piece{kDigits[b >> 4], kDigits[b & 15]};
    if (i + 1 < data.size()) piece.push_back(',');
    if (lineHasBytes && line.size() + piece.size() > kHexLineWidth) {
      out += line + "\\" + lineEnd;
      line = "  ";
    }
    line += piece;
    lineHasBytes = true;
  }
  out += line + lineEnd;
}

// One value in the text form, in the file's character set and line ends.
std::string RenderValue(const HiveValue& value, const Charset& charset,
                        const std::string& lineEnd) {
  const std::string name = QuotedName(charset, value.name);
  if (value.type == RegType::Sz && TextFormCarries(value.data)) {
    std::string_view text(value.data.data(), value.data.size() - 1);
    return name + "=\"" + Escape(charset, text) + "\"" + lineEnd;
  }
  if (value.type == RegType::Dword && value.data.size() == 4) {
    std::uint32_t v = 0;
    for (std::size_t i = 4; i-- > 0;) v = (v << 8) | static_cast<unsigned char>(value.data[i]);
    return name + "=dword:" + HexNumber(v, 8) + lineEnd;
  }
  std::string prefix = name + "=hex";
  if (value.type != RegType::Binary) {
    prefix += "(" + HexNumber(static_cast<std::uint32_t>(value.type), 1) + ")";
  }
  std::string out;
  AppendHexValue(out, prefix + ":",
                 IsUnicodeText(value.type) ? charset.AnsiToHexText(value.data) : value.data,
                 lineEnd);
  return out;
}

// Reads a quoted string starting at s[pos] == '"'; pos ends after the closing quote. Knows the
// escapes registry editors write: \\, \", \r, \n and \0.
bool ParseQuoted(std::string_view s, std::size_t& pos, std::string& text, std::string& why) {
  text.clear();
  for (++pos; pos < s.size(); ++pos) {
    char c = s[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c == '\\') {
      const char next = pos + 1 < s.size() ? s[pos + 1] : '\0';
      static constexpr std::string_view kFrom = "\\\"rn0";
      static constexpr std::string_view kTo{"\\\"\r\n\0", 5};
      const std::size_t which = kFrom.find(next);
      if (next == '\0' || which == std::string_view::npos) {
        why = "unknown escape (\\\\, \\\", \\r, \\n and \\0 are known)";
        return false;
      }
      c = kTo[which];
      ++pos;
    }
    text.push_back(c);
  }
  why = "missing closing quote";
  return false;
}

// The text of a file in the character set its pieces are kept in, and its encoding.
bool DecodeFile(std::string_view raw, HiveSource& source, std::string& text) {
  if (raw.starts_with(kUtf16Mark)) {
    raw.remove_prefix(kUtf16Mark.size());
    if (raw.size() % 2 != 0) return false;
    source.encoding = HiveEncoding::Utf16Le;
    source.byteOrderMark = true;
    text = Utf16ToUtf8(FromUtf16Le(raw));
    return true;
  }
  source.byteOrderMark = raw.starts_with(kUtf8Mark);
  if (source.byteOrderMark) raw.remove_prefix(kUtf8Mark.size());
  source.encoding = HiveEncoding::Utf8;
  text.assign(raw);
  return true;
}

class Parser {
 public:
  Parser(RegRoot root, Hive& hive, HiveParseError& error, std::vector<HiveParseError>* skipped)
      : root_(root), hive_(hive), error_(error), skipped_(skipped) {}

  bool Run(std::string_view raw) {
    HiveSource& source = hive_.Source();
    if (!DecodeFile(raw, source, text_)) {
      return Fail(0, "a UTF-16 file must have an even number of bytes");
    }
    lines_ = SplitLines(text_, LineEnds::CrLfOrLf);
    for (const TextLine& line : lines_) {
      if (line.full.size() == line.body.size()) continue;
      source.lineEnd = std::string(line.full.substr(line.body.size()));
      break;
    }
    std::size_t i = 0;
    if (!Header(i)) return false;
    while (i < lines_.size()) Record(i);
    return true;
  }

 private:
  using Kind = HiveSource::Kind;

  bool Fail(std::size_t index, const std::string& message) {
    error_.line = index + 1;
    error_.message = message;
    return false;
  }

  void Skip(std::size_t index, const std::string& message) {
    if (skipped_ != nullptr) skipped_->push_back(HiveParseError{index + 1, message});
  }

  void AddPiece(Kind kind, std::size_t first, std::size_t last, std::string key = {},
                std::string value = {}) {
    std::string text;
    for (std::size_t i = first; i <= last; ++i) text += lines_[i].full;
    hive_.Source().pieces.push_back(
        HiveSource::Piece{kind, std::move(text), std::move(key), std::move(value)});
  }

  // The header is the first line with any content; a file with none is a new, empty hive.
  bool Header(std::size_t& i) {
    for (; i < lines_.size(); ++i) {
      std::string_view line = Trim(lines_[i].body);
      if (line.empty()) continue;
      HiveSource& source = hive_.Source();
      const bool plain = source.encoding == HiveEncoding::Utf8 && !source.byteOrderMark;
      if (line == kHeader4 && plain) {
        source.encoding = HiveEncoding::Ansi;
        charset_ = Charset(true);
      } else if (line != kHeader) {
        return Fail(i, "missing header \"" + std::string(kHeader) + "\"");
      }
      AddPiece(Kind::Verbatim, 0, i);
      ++i;
      return true;
    }
    hive_.Source() = HiveSource();
    return true;
  }

  void Record(std::size_t& i) {
    std::string_view line = Trim(lines_[i].body);
    const std::size_t first = i;
    if (line.empty() || line.front() == ';') {
      AddPiece(Kind::Verbatim, i, i);
    } else if (line.front() == '[') {
      KeyLine(i, line);
    } else if (line.front() == '"' || line.front() == '@') {
      std::string why;
      if (!ValueLine(i, why)) {
        if (!foreignKey_) Skip(first, why + "; the value is left out");
        AddPiece(Kind::Verbatim, first, i);
      }
    } else {
      Skip(i, "line is neither a key, a value nor a comment; it is left out");
      AddPiece(Kind::Verbatim, i, i);
    }
    ++i;
  }

  void KeyLine(std::size_t index, std::string_view line) {
    std::string path;
    std::string why = KeyPath(line, path);
    current_ = nullptr;
    foreignKey_ = !why.empty();
    if (foreignKey_) {
      Skip(index, why + "; the key is left out with its values");
      AddPiece(Kind::Verbatim, index, index);
      return;
    }
    current_ = &hive_.Ensure(path);
    AddPiece(Kind::Key, index, index, current_->path);
  }

  // The key's path below the root, or why it cannot be one of this hive's keys.
  std::string KeyPath(std::string_view line, std::string& path) const {
    if (line.back() != ']') return "key line without closing \"]\"";
    std::string_view inside = line.substr(1, line.size() - 2);
    if (!inside.empty() && inside.front() == '-') return "key deletion line";
    std::string bytes;
    bool exact = true;
    if (!charset_.ToAnsi(inside, bytes, exact) || !exact) {
      return "key name has a character with no Windows-1251 byte";
    }
    std::string_view view = bytes;
    std::size_t slash = view.find('\\');
    if (!EqualsNoCase(view.substr(0, slash), RootName(root_))) {
      return "key is not under " + std::string(RootName(root_));
    }
    std::string_view rest =
        slash == std::string_view::npos ? std::string_view() : view.substr(slash);
    if (!NormalizeKeyPath(rest, path)) return "key name has a control character or a bracket";
    return {};
  }

  bool ValueLine(std::size_t& index, std::string& why) {
    const std::size_t first = index;
    std::string_view line = Trim(lines_[index].body);
    std::size_t pos = 0;
    std::string name;
    if (line.front() != '@') {
      std::string text;
      bool exact = true;
      if (!ParseQuoted(line, pos, text, why)) return false;
      if (!charset_.ToAnsi(text, name, exact) || !exact || !IsStorableValueName(name)) {
        why = "value name has a character the store cannot keep";
        return false;
      }
    } else {
      pos = 1;
    }
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos >= line.size() || line[pos] != '=') {
      why = "\"=\" expected after the name";
      return false;
    }
    std::string_view rest = Trim(line.substr(pos + 1));
    HiveValue value;
    if (!ValueData(index, rest, value, why)) return false;
    if (current_ == nullptr) {
      why = foreignKey_ ? "" : "value before the first key";
      return false;
    }
    HiveValue& stored = Hive::Set(*current_, name, value.type, value.data);
    stored.origin = hive_.Source().pieces.size();
    stored.edited = false;
    stored.inexact = value.inexact;
    AddPiece(Kind::Value, first, index, current_->path, stored.name);
    return true;
  }

  bool ValueData(std::size_t& index, std::string_view rest, HiveValue& value, std::string& why) {
    if (rest.starts_with("\"")) {
      std::size_t p = 0;
      std::string text;
      bool exact = true;
      if (!ParseQuoted(rest, p, text, why)) return false;
      if (!Trim(rest.substr(p)).empty()) {
        why = "text after the closing quote";
        return false;
      }
      if (!charset_.ToAnsi(text, value.data, exact)) {
        why = "text is not UTF-8";
        return false;
      }
      value.data.push_back('\0');
      value.type = RegType::Sz;
      value.inexact = !exact;
      return true;
    }
    if (rest.starts_with("dword:")) {
      std::uint32_t v = 0;
      if (!ParseHex32(rest.substr(6), v)) {
        why = "dword needs 1 to 8 hex digits";
        return false;
      }
      value.type = RegType::Dword;
      value.data.assign(4, '\0');
      for (std::size_t i = 0; i < 4; ++i) value.data[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
      return true;
    }
    if (rest.starts_with("hex")) return HexValue(index, rest.substr(3), value, why);
    why = rest == "-" ? "value deletion line" : "unrecognised value data";
    return false;
  }

  bool HexValue(std::size_t& index, std::string_view rest, HiveValue& value, std::string& why) {
    std::uint32_t type = static_cast<std::uint32_t>(RegType::Binary);
    if (rest.starts_with("(")) {
      std::size_t close = rest.find(')');
      if (close == std::string_view::npos || !ParseHex32(rest.substr(1, close - 1), type)) {
        why = "hex(N) needs a hex type number";
        return false;
      }
      rest.remove_prefix(close + 1);
    }
    if (!rest.starts_with(":")) {
      why = "\":\" expected after hex";
      return false;
    }
    std::string list;
    if (!GatherContinued(index, rest.substr(1), list, why)) return false;
    std::string data;
    if (!ParseHexBytes(list, data)) {
      why = "bad hex byte in data";
      return false;
    }
    value.type = static_cast<RegType>(type);
    bool exact = true;
    value.data = IsUnicodeText(value.type) ? charset_.HexTextToAnsi(data, exact) : data;
    value.inexact = !exact;
    return true;
  }

  // Joins hex data over its continuation lines: each line but the last ends in a backslash.
  bool GatherContinued(std::size_t& index, std::string_view rest, std::string& list,
                       std::string& why) {
    for (;;) {
      std::string_view part = Trim(rest);
      bool more = !part.empty() && part.back() == '\\';
      if (more) part.remove_suffix(1);
      list += part;
      if (!more) return true;
      if (index + 1 >= lines_.size()) {
        why = "hex data continues past the end";
        return false;
      }
      rest = lines_[++index].body;
    }
  }

  static bool ParseHexBytes(std::string_view items, std::string& data) {
    while (!items.empty()) {
      std::size_t comma = items.find(',');
      std::string_view item = Trim(items.substr(0, comma));
      std::uint32_t b = 0;
      if (item.size() > 2 || !ParseHex32(item, b)) return false;
      data.push_back(static_cast<char>(b));
      if (comma == std::string_view::npos) break;
      items.remove_prefix(comma + 1);
    }
    return true;
  }

  RegRoot root_;
  Hive& hive_;
  HiveParseError& error_;
  std::vector<HiveParseError>* skipped_;
  std::string text_;
  std::vector<TextLine> lines_;
  Charset charset_{false};
  HiveKey* current_ = nullptr;
  bool foreignKey_ = false;  // under a key line that was left out: its values go quietly
};

// Writes the hive over its source: see FormatHive.
class Writer {
 public:
  Writer(const Hive& hive, RegRoot root)
      : hive_(hive),
        root_(root),
        source_(hive.Source()),
        charset_(source_.encoding == HiveEncoding::Ansi) {}

  std::string Run() {
    std::map<const HiveKey*, std::size_t> lastPiece;
    for (std::size_t i = 0; i < source_.pieces.size(); ++i) {
      const HiveSource::Piece& piece = source_.pieces[i];
      if (piece.kind != HiveSource::Kind::Verbatim) lastPiece[hive_.Find(piece.key)] = i;
    }
    if (source_.pieces.empty()) out_ = std::string(kHeader) + source_.lineEnd;
    for (std::size_t i = 0; i < source_.pieces.size(); ++i) {
      Piece(i);
      if (source_.pieces[i].kind == HiveSource::Kind::Verbatim) continue;
      const HiveKey* key = hive_.Find(source_.pieces[i].key);
      if (key != nullptr && lastPiece.at(key) == i) NewValues(*key);
    }
    for (const HiveKey& key : hive_.Keys()) {
      if (lastPiece.count(&key) != 0 || ImpliedByTheFile(key, lastPiece)) continue;
      EndLine();
      if (!out_.ends_with("\n\n") && !out_.ends_with("\n\r\n")) out_ += source_.lineEnd;
      out_ += "[" + charset_.FromAnsi(RootName(root_));
      if (!key.path.empty()) out_ += "\\" + charset_.FromAnsi(key.path);
      out_ += "]" + source_.lineEnd;
      NewValues(key);
    }
    return Encode();
  }

 private:
  void Piece(std::size_t index) {
    const HiveSource::Piece& piece = source_.pieces[index];
    if (piece.kind != HiveSource::Kind::Value) {
      out_ += piece.text;
      return;
    }
    const HiveKey* key = hive_.Find(piece.key);
    if (key == nullptr) return;  // never: keys are not deleted
    const HiveValue* value = nullptr;
    for (const HiveValue& v : key->values) {
      if (v.origin == index) value = &v;
    }
    if (value == nullptr) {
      // An earlier line of a value named twice stays; a deleted value's lines go.
      if (Hive::FindValue(*key, piece.value) != nullptr) out_ += piece.text;
      return;
    }
    out_ += value->edited ? RenderValue(*value, charset_, source_.lineEnd) : piece.text;
  }

  // A new key without values above a key the file has: importing the file makes it anyway.
  static bool ImpliedByTheFile(const HiveKey& key,
                               const std::map<const HiveKey*, std::size_t>& inFile) {
    if (!key.values.empty()) return false;
    for (const auto& [other, piece] : inFile) {
      if (other != nullptr && other->path.size() > key.path.size() &&
          other->path[key.path.size()] == '\\' &&
          EqualsNoCase(std::string_view(other->path).substr(0, key.path.size()), key.path)) {
        return true;
      }
    }
    return false;
  }

  void NewValues(const HiveKey& key) {
    for (const HiveValue& value : key.values) {
      if (value.origin != HiveValue::kNoOrigin) continue;
      EndLine();
      out_ += RenderValue(value, charset_, source_.lineEnd);
    }
  }

  // A last line without its line end gets one before anything follows it.
  void EndLine() {
    if (!out_.empty() && out_.back() != '\n') out_ += source_.lineEnd;
  }

  std::string Encode() const {
    switch (source_.encoding) {
      case HiveEncoding::Utf16Le: {
        std::u16string units;
        Utf8ToUtf16(out_, units);
        return std::string(kUtf16Mark) + ToUtf16Le(units);
      }
      case HiveEncoding::Utf8:
        return source_.byteOrderMark ? std::string(kUtf8Mark) + out_ : out_;
      case HiveEncoding::Ansi:
        break;
    }
    return out_;
  }

  const Hive& hive_;
  RegRoot root_;
  const HiveSource& source_;
  Charset charset_;
  std::string out_;
};

}  // namespace

const char* RootName(RegRoot root) {
  return root == RegRoot::LocalMachine ? "HKEY_LOCAL_MACHINE" : "HKEY_CURRENT_USER";
}

bool NormalizeKeyPath(std::string_view path, std::string& normalized) {
  normalized.clear();
  while (!path.empty()) {
    std::size_t slash = path.find('\\');
    std::string_view segment = path.substr(0, slash);
    for (char c : segment) {
      auto b = static_cast<unsigned char>(c);
      if (IsUnwritableByte(b, false) || c == '[' || c == ']') return false;
    }
    if (!segment.empty()) {
      if (!normalized.empty()) normalized.push_back('\\');
      normalized += segment;
    }
    if (slash == std::string_view::npos) break;
    path.remove_prefix(slash + 1);
  }
  return true;
}

bool IsStorableValueName(std::string_view name) {
  for (char c : name) {
    if (IsUnwritableByte(static_cast<unsigned char>(c), false)) return false;
  }
  return true;
}

HiveKey* Hive::Find(std::string_view path) {
  for (HiveKey& key : keys_) {
    if (EqualsNoCase(key.path, path)) return &key;
  }
  return nullptr;
}

const HiveKey* Hive::Find(std::string_view path) const {
  return const_cast<Hive*>(this)->Find(path);
}

HiveKey& Hive::Ensure(std::string_view path) {
  if (HiveKey* key = Find(path)) return *key;
  std::size_t slash = path.rfind('\\');
  if (slash != std::string_view::npos) Ensure(path.substr(0, slash));
  keys_.push_back(HiveKey{std::string(path), {}});
  return keys_.back();
}

HiveValue* Hive::FindValue(HiveKey& key, std::string_view name) {
  for (HiveValue& value : key.values) {
    if (EqualsNoCase(value.name, name)) return &value;
  }
  return nullptr;
}

const HiveValue* Hive::FindValue(const HiveKey& key, std::string_view name) {
  return FindValue(const_cast<HiveKey&>(key), name);
}

HiveValue& Hive::Set(HiveKey& key, const std::string& name, RegType type, const std::string& data) {
  if (HiveValue* value = FindValue(key, name)) {
    value->type = type;
    value->data = data;
    value->edited = true;
    value->inexact = false;
    return *value;
  }
  HiveValue& value = key.values.emplace_back();
  value.name = name;
  value.type = type;
  value.data = data;
  return value;
}

bool ParseHive(std::string_view text, RegRoot root, Hive& hive, HiveParseError& error,
               std::vector<HiveParseError>* skipped) {
  hive = Hive();
  Parser parser(root, hive, error, skipped);
  if (parser.Run(text)) return true;
  hive = Hive();
  return false;
}

std::string FormatHive(const Hive& hive, RegRoot root) {
  return Writer(hive, root).Run();
}

}  // namespace tavex::platform
