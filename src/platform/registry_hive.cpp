// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/registry_hive.h"

#include <algorithm>
#include <cstdint>

#include "platform/text_codec.h"
#include "platform/text_file.h"
#include "platform/text_lines.h"

namespace tavex::platform {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::string_view kHeader4 = "REGEDIT4";
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

std::string HexNumber(std::uint32_t value, int minDigits) {
  std::string n;
  do {
    n.insert(n.begin(), kDigits[value & 15]);
    value >>= 4;
  } while (value != 0 || static_cast<int>(n.size()) < minDigits);
  return n;
}

// A byte that quoted text does not carry exactly: control characters other than the tab would
// break or blur the line, and 0x98 has no Windows-1251 reading to come back from.
bool IsUnwritableInText(unsigned char b) {
  return (b < 0x20 && b != '\t') || b == 0x98;
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

// A name or text in quotes as a registry editor writes it: line ends, backslashes and quotes
// escaped, every other character as it is.
std::string Escape(const Charset& charset, std::string_view bytes) {
  std::string out;
  for (char c : charset.FromAnsi(bytes)) {
    if (c == '\r') {
      out += "\\r";
    } else if (c == '\n') {
      out += "\\n";
    } else {
      if (c == '\\' || c == '"') out.push_back('\\');
      out.push_back(c);
    }
  }
  return out;
}

std::string QuotedName(const Charset& charset, const std::string& name) {
  return name.empty() ? std::string("@") : "\"" + Escape(charset, name) + "\"";
}

bool TextFormCarries(const std::string& data) {
  if (data.empty() || data.back() != '\0') return false;
  for (std::size_t i = 0; i + 1 < data.size(); ++i) {
    if (IsUnwritableInText(static_cast<unsigned char>(data[i]))) return false;
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
    return name + "=dword:" + HexNumber(DwordValue(value.data), 8) + lineEnd;
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

std::size_t SkipBlanks(std::string_view s, std::size_t pos) {
  while (pos < s.size() && IsBlank(s[pos])) ++pos;
  return pos;
}

// Nothing but blanks, or blanks and a comment, from `pos` on.
bool OnlyComment(std::string_view s, std::size_t pos) {
  pos = SkipBlanks(s, pos);
  return pos == s.size() || s[pos] == ';';
}

bool IsHexDigit(char c) {
  return HexDigit(c) >= 0;
}

// The text between quotes that starts after s[pos] == '"'; pos ends after the closing quote.
// A registry editor reads \n, \r, \\ and \" as escapes and any other escaped character as that
// character itself (\t gives "t"); a backslash at the end of the line spoils the text. \0 gives a
// zero byte, which a registry editor refuses; such text only comes from writers that meant it.
bool Unescape(std::string_view s, std::size_t& pos, std::string& text, std::string& why) {
  text.clear();
  for (++pos; pos < s.size(); ++pos) {
    char c = s[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c == '\\') {
      if (++pos == s.size()) {
        why = "backslash at the end of the line inside quotes";
        return false;
      }
      c = s[pos];
      if (c == 'n') c = '\n';
      if (c == 'r') c = '\r';
      if (c == '0') c = '\0';
    }
    text.push_back(c);
  }
  why = "missing closing quote";
  return false;
}

// One number of hex data as the C library's wcstoul reads it in base 16: leading white space, a
// sign, a 0x prefix, digits. `end` stays at `pos` when there are no digits.
std::uint64_t HexItem(std::string_view s, std::size_t pos, std::size_t& end) {
  std::size_t p = pos;
  while (p < s.size() && (s[p] == ' ' || (s[p] >= '\t' && s[p] <= '\r'))) ++p;
  bool negative = false;
  if (p < s.size() && (s[p] == '-' || s[p] == '+')) negative = s[p++] == '-';
  if (p + 1 < s.size() && s[p] == '0' && (s[p + 1] == 'x' || s[p + 1] == 'X')) p += 2;
  std::uint64_t value = 0;
  const std::size_t digits = p;
  for (; p < s.size() && IsHexDigit(s[p]); ++p) {
    value = std::min<std::uint64_t>((value << 4) | static_cast<unsigned>(HexDigit(s[p])),
                                    0x100000000ull);
  }
  end = p == digits ? pos : p;
  if (p == digits) return 0;
  if (value > 0xFFFFFFFFull) return value;
  return negative ? (0x100000000ull - value) & 0xFFFFFFFFull : value;
}

// The key of a registry editor's root name at the start of a key line's name: the length of the
// root name, followed by the end of the name or a backslash. `ours` tells whether it is `root`.
bool MatchRoot(std::string_view name, RegRoot root, std::size_t& length, bool& ours) {
  static constexpr std::string_view kRoots[] = {"HKEY_LOCAL_MACHINE", "HKEY_USERS",
                                                "HKEY_CLASSES_ROOT",  "HKEY_CURRENT_CONFIG",
                                                "HKEY_CURRENT_USER",  "HKEY_DYN_DATA"};
  for (std::string_view known : kRoots) {
    if (name.size() < known.size() || !EqualsNoCase(name.substr(0, known.size()), known)) continue;
    if (name.size() > known.size() && name[known.size()] != '\\') continue;
    length = known.size();
    ours = known == RootName(root);
    return true;
  }
  return false;
}

// The text of a file in the character set its pieces are kept in, and its encoding. False for a
// UTF-16 file with an odd number of bytes: its last byte is no character, and a hive that does
// not parse is left as it is rather than rewritten without that byte.
bool DecodeFile(std::string_view raw, HiveSource& source, std::string& text) {
  DecodedText decoded = DecodeFileText(raw);
  if (decoded.oddByte) return false;
  source.encoding = decoded.mark == FileMark::Utf16Le ? HiveEncoding::Utf16Le : HiveEncoding::Utf8;
  source.byteOrderMark = decoded.mark != FileMark::None;
  text = std::move(decoded.text);
  return true;
}

// Reads the lines as a registry editor's import does, line by line, in file order.
class Parser {
 public:
  Parser(RegRoot root, Hive& hive, HiveParseError& error, std::vector<HiveParseError>* skipped)
      : root_(root), hive_(hive), error_(error), skipped_(skipped) {}

  bool Run(std::string_view raw) {
    HiveSource& source = hive_.Source();
    if (!DecodeFile(raw, source, text_)) {
      return Fail(0, "a UTF-16 file must have an even number of bytes");
    }
    lines_ = SplitLines(text_, LineEnds::AlsoBareCr);
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
  enum class Open { None, Ours, Foreign };  // the key a registry editor has open

  // A value line read up to its data.
  struct ValueLine {
    std::size_t first = 0;
    std::string name;  // in the file's character set
    RegType type = RegType::None;
    std::string data;  // text in the file's character set; hex and dword data as bytes
    bool text = false;
    bool hexText = false;  // text given as hex: UTF-16LE in a version 5 file
    std::size_t openBackslash = HiveSource::kNone;
    std::string comments;
    bool swallows = false;
  };

  bool Fail(std::size_t index, const std::string& message) {
    error_.line = index + 1;
    error_.message = message;
    return false;
  }

  void Skip(std::size_t index, const std::string& message) {
    if (skipped_ != nullptr) skipped_->push_back(HiveParseError{index + 1, message});
  }

  HiveSource::Piece& AddPiece(Kind kind, std::size_t first, std::size_t last,
                              std::string value = {}) {
    std::string text;
    for (std::size_t i = first; i <= last; ++i) text += lines_[i].full;
    HiveSource::Piece piece;
    piece.kind = kind;
    piece.text = std::move(text);
    piece.inKey = open_ == Open::Ours;
    if (piece.inKey) piece.key = path_;
    piece.value = std::move(value);
    return hive_.Source().pieces.emplace_back(std::move(piece));
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
    std::string_view body = lines_[i].body;
    const std::size_t p = SkipBlanks(body, 0);
    if (stopped_ || p == body.size() || body[p] == ';') {
      AddPiece(Kind::Verbatim, i, i);
    } else if (body[p] == '[') {
      KeyLine(i, body.substr(p + 1));
    } else if (body[p] == '"' || body[p] == '@') {
      Value(i, body, p);
    } else {
      Skip(i, "line is neither a key, a value nor a comment; it is left out");
      AddPiece(Kind::Verbatim, i, i);
    }
    ++i;
  }

  // "[" has been read. The name runs to the last "]" of the line; what follows is ignored.
  void KeyLine(std::size_t index, std::string_view rest) {
    const std::size_t close = rest.rfind(']');
    if (rest.empty() || IsBlank(rest.front()) || close == std::string_view::npos) {
      Skip(index, close == std::string_view::npos
                      ? "key line without closing \"]\"; it is left out"
                      : "key line with a blank after \"[\"; it is left out");
      AddPiece(Kind::Verbatim, index, index);
      return;
    }
    std::string_view name = rest.substr(0, close);
    if (name.front() == '-') {
      KeyDeletion(index, name.substr(1));
      return;
    }
    open_ = Open::None;
    std::string path;
    std::string why = KeyPath(name, path);
    if (!why.empty()) {
      Skip(index, why + "; the key is left out with its values");
      AddPiece(Kind::Verbatim, index, index);
      return;
    }
    path_ = hive_.Ensure(path).path;
    open_ = Open::Ours;
    AddPiece(Kind::Key, index, index);
  }

  // The key's path below the root, or why it is not one of this hive's keys (with open_ set to
  // Foreign for another root's key).
  std::string KeyPath(std::string_view name, std::string& path) {
    std::size_t length = 0;
    bool ours = false;
    if (!MatchRoot(name, root_, length, ours)) return "key is under no root a registry knows";
    if (!ours) {
      open_ = Open::Foreign;
      return "key is not under " + std::string(RootName(root_));
    }
    std::string bytes;
    bool exact = true;
    if (!charset_.ToAnsi(name.substr(length), bytes, exact)) return "key name is not UTF-8";
    if (!NormalizeKeyPath(bytes, path)) return "key name has a character the store cannot keep";
    return {};
  }

  // A registry editor deletes a key named under a root it knows; it gives up the whole import at
  // a deletion of a root itself or of a key under an unknown root.
  void KeyDeletion(std::size_t index, std::string_view name) {
    open_ = Open::None;
    if (name.empty() || (name.front() != 'H' && name.front() != 'h')) {
      Skip(index, "key deletion line that names no root; nothing is deleted");
      AddPiece(Kind::Verbatim, index, index);
      return;
    }
    std::size_t length = 0;
    bool ours = false;
    if (!MatchRoot(name, root_, length, ours) || name.size() <= length + 1) {
      Skip(index,
           "key deletion line for a whole root or an unknown one: a registry editor stops "
           "importing here, and every line below is left out");
      hive_.Source().stop = hive_.Source().pieces.size();
      stopped_ = true;
      AddPiece(Kind::Verbatim, index, index);
      return;
    }
    std::string bytes;
    std::string path;
    bool exact = true;
    if (!ours || !charset_.ToAnsi(name.substr(length), bytes, exact) ||
        !NormalizeKeyPath(bytes, path) || path.empty()) {
      AddPiece(Kind::Verbatim, index, index);
      return;
    }
    hive_.EraseTree(path);
    HiveSource::Piece& piece = AddPiece(Kind::Deletion, index, index);
    piece.keyDeletion = true;
    piece.deleted = path;
  }

  void Value(std::size_t& index, std::string_view body, std::size_t p) {
    ValueLine value;
    value.first = index;
    std::string why;
    std::size_t pos = p + 1;
    if (body[p] == '"' && !Unescape(body, pos = p, value.name, why)) {
      Skip(index, why + "; the value is left out");
      AddPiece(Kind::Verbatim, index, index);
      return;
    }
    pos = SkipBlanks(body, pos);
    if (pos == body.size() || body[pos] != '=') {
      Skip(index, "\"=\" expected after the name; the value is left out");
      AddPiece(Kind::Verbatim, index, index);
      return;
    }
    std::string_view data = body.substr(SkipBlanks(body, pos + 1));
    while (!data.empty() && IsBlank(data.back())) data.remove_suffix(1);
    if (data.starts_with("-")) {
      Deletion(index, value.name, data.substr(1));
      return;
    }
    if (!Data(index, data, value, why)) {
      if (open_ == Open::Ours) Skip(value.first, why + "; the value is left out");
      std::string name;
      bool exact = true;
      HiveSource::Piece& piece = Piece(Kind::Unread, value, index);
      piece.value = charset_.ToAnsi(value.name, name, exact) ? name : std::string();
      piece.swallows = value.swallows;
      return;
    }
    Store(value, index);
  }

  void Deletion(std::size_t index, const std::string& name, std::string_view rest) {
    if (!OnlyComment(rest, 0)) {
      if (open_ == Open::Ours) Skip(index, "unrecognised value data; the value is left out");
      AddPiece(Kind::Verbatim, index, index);
      return;
    }
    std::string bytes;
    bool exact = true;
    if (open_ != Open::Ours || !charset_.ToAnsi(name, bytes, exact)) {
      AddPiece(Kind::Verbatim, index, index);
      return;
    }
    if (HiveKey* key = hive_.Find(path_)) Hive::Erase(*key, bytes);
    AddPiece(Kind::Deletion, index, index, bytes);
  }

  // The data after "=", with a blank-free end: text, dword or hex (over continuation lines).
  bool Data(std::size_t& index, std::string_view data, ValueLine& value, std::string& why) {
    if (data.starts_with("\"")) {
      std::size_t pos = 0;
      if (!Unescape(data, pos, value.data, why)) return false;
      if (!OnlyComment(data, pos)) {
        why = "text after the closing quote";
        return false;
      }
      value.type = RegType::Sz;
      value.text = true;
      return true;
    }
    if (data.starts_with("dword:")) return Dword(data.substr(6), value, why);
    if (data.starts_with("hex:")) {
      value.type = RegType::Binary;
      return Hex(index, data.substr(4), value, why);
    }
    if (data.starts_with("hex(")) {
      data.remove_prefix(4);
      if (data.empty() || (data.size() > 1 && (data[1] == 'x' || data[1] == 'X'))) {
        why = "hex(N) needs a hex type number";
        return false;
      }
      std::size_t end = 0;
      const std::uint64_t type = HexItem(data, 0, end);
      if (type > 0xFFFFFFFFull || !data.substr(end).starts_with("):")) {
        why = "hex(N) needs a hex type number";
        return false;
      }
      value.type = static_cast<RegType>(type);
      return Hex(index, data.substr(end + 2), value, why);
    }
    why = "unrecognised value data";
    return false;
  }

  static bool Dword(std::string_view s, ValueLine& value, std::string& why) {
    why = "dword needs 1 to 8 hex digits";
    std::size_t pos = SkipBlanks(s, 0);
    if (pos == s.size()) return false;
    std::uint32_t v = 0;
    std::size_t digits = 0;
    for (; pos < s.size() && IsHexDigit(s[pos]); ++pos, ++digits) {
      v = (v << 4) | static_cast<std::uint32_t>(HexDigit(s[pos]));
    }
    if (digits > 8 || !OnlyComment(s, pos)) return false;
    value.type = RegType::Dword;
    value.data = DwordData(v);
    return true;
  }

  enum class HexEnd { Bad, Done, Continued };

  // One line's hex bytes; `backslash` gets the position of a continuation backslash.
  static HexEnd HexBytes(std::string_view s, std::string& data, std::size_t& backslash) {
    std::size_t pos = 0;
    while (pos < s.size()) {
      std::size_t end = pos;
      const std::uint64_t b = HexItem(s, pos, end);
      if (b > 0xFF) return HexEnd::Bad;
      if (end == pos) {
        end = SkipBlanks(s, end);
        if (end < s.size() && s[end] == '\\') {
          backslash = end;
          return HexEnd::Continued;
        }
        return end < s.size() && s[end] == ';' ? HexEnd::Done : HexEnd::Bad;
      }
      data.push_back(static_cast<char>(b));
      if (end < s.size() && s[end] != ',') return OnlyComment(s, end) ? HexEnd::Done : HexEnd::Bad;
      pos = end < s.size() ? end + 1 : end;
    }
    return HexEnd::Done;
  }

  // Hex data over its continuation lines: a line ending in a backslash goes on in the next line
  // that holds data; blank and comment lines between are skipped, and data that goes on to the
  // end of the file still counts. A line that is none of these spoils the value and is lost
  // with it.
  bool Hex(std::size_t& index, std::string_view s, ValueLine& value, std::string& why) {
    value.hexText = IsUnicodeText(value.type);
    if (s.empty()) return true;  // no data and, unlike other text, no terminating zero
    why = "bad hex data";
    const char* start = lines_[value.first].full.data();
    for (;;) {
      std::size_t backslash = 0;
      const HexEnd end = HexBytes(s, value.data, backslash);
      if (end == HexEnd::Bad) return false;
      if (end == HexEnd::Done) break;
      if (!OnlyComment(s, backslash + 1)) return false;
      value.openBackslash = static_cast<std::size_t>(s.data() + backslash - start);
      std::size_t next = index + 1;
      for (; next < lines_.size(); ++next) {
        std::string_view body = lines_[next].body;
        std::size_t p = SkipBlanks(body, 0);
        if (p < body.size() && body[p] != ';') break;
        value.comments += lines_[next].full;
      }
      index = next == lines_.size() ? next - 1 : next;
      if (next == lines_.size()) {
        AddTerminator(value);
        return true;  // open at the end of the file
      }
      value.openBackslash = HiveSource::kNone;
      std::string_view body = lines_[next].body;
      s = body.substr(SkipBlanks(body, 0));
      if (!IsHexDigit(s.front())) {
        why = "hex data continues into a line that is not hex data, which is lost with it";
        value.swallows = true;
        return false;
      }
    }
    AddTerminator(value);
    return true;
  }

  // Text given as hex gets its terminating zero, as the registry stores it.
  void AddTerminator(ValueLine& value) const {
    if (!value.hexText || value.data.empty()) return;
    if (charset_.Ansi()) {
      if (value.data.back() != '\0') value.data.push_back('\0');
      return;
    }
    if (value.data.size() % 2 != 0) value.data.pop_back();
    if (value.data.size() >= 2 &&
        (value.data[value.data.size() - 2] != '\0' || value.data[value.data.size() - 1] != '\0')) {
      value.data.append(2, '\0');
    }
  }

  HiveSource::Piece& Piece(Kind kind, const ValueLine& value, std::size_t last) {
    HiveSource::Piece& piece =
        AddPiece(open_ == Open::Ours ? kind : Kind::Verbatim, value.first, last, value.name);
    piece.openBackslash = value.openBackslash;
    piece.comments = value.comments;
    return piece;
  }

  void Store(ValueLine& value, std::size_t last) {
    std::string name;
    std::string data;
    bool exact = true;
    bool exactName = true;
    if (!charset_.ToAnsi(value.name, name, exactName) || !IsStorableValueName(name)) {
      if (open_ == Open::Ours) Skip(value.first, "value name the store cannot keep; left out");
      Piece(Kind::Unread, value, last).value.clear();
      return;
    }
    if (value.text) {
      if (!charset_.ToAnsi(value.data, data, exact)) {
        if (open_ == Open::Ours) Skip(value.first, "text is not UTF-8; the value is left out");
        Piece(Kind::Unread, value, last).value = name;
        return;
      }
      data.push_back('\0');
    } else {
      data = value.hexText ? charset_.HexTextToAnsi(value.data, exact) : value.data;
    }
    HiveSource::Piece& piece = Piece(Kind::Value, value, last);
    piece.value = name;
    if (open_ != Open::Ours) return;
    HiveValue& stored = Hive::Set(hive_.Ensure(path_), name, value.type, data);
    stored.origin = hive_.Source().pieces.size() - 1;
    stored.edited = false;
    stored.inexact = !exact;
  }

  RegRoot root_;
  Hive& hive_;
  HiveParseError& error_;
  std::vector<HiveParseError>* skipped_;
  std::string text_;
  std::vector<TextLine> lines_;
  Charset charset_{false};
  Open open_ = Open::None;
  std::string path_;  // of the open key when open_ is Ours
  bool stopped_ = false;
};

// Writes the hive over its source: see FormatHive.
class Writer {
 public:
  Writer(const Hive& hive, RegRoot root)
      : hive_(hive),
        root_(root),
        source_(hive.Source()),
        pieces_(source_.pieces),
        end_(std::min(source_.stop, pieces_.size())),
        charset_(source_.encoding == HiveEncoding::Ansi) {}

  std::string Run() {
    Place();
    if (pieces_.empty()) out_ = std::string(kHeader) + source_.lineEnd;
    for (std::size_t i = 0; i < pieces_.size(); ++i) {
      if (i == end_) Sections();
      Piece(i);
      // After data that took in the line below it (perhaps another key's line), the key is
      // named again so that the file reads as it means.
      if (!after_[i].empty() && pieces_[i].swallows) {
        EndLine();
        out_ += KeyLine(pieces_[i].key);
      }
      for (const HiveValue* value : after_[i]) {
        EndLine();
        out_ += RenderValue(*value, charset_, source_.lineEnd);
      }
    }
    if (end_ == pieces_.size()) Sections();
    return Encode();
  }

 private:
  using Kind = HiveSource::Kind;

  static bool SameOrBelow(std::string_view path, std::string_view top) {
    return EqualsNoCase(path, top) || (path.size() > top.size() && path[top.size()] == '\\' &&
                                       EqualsNoCase(path.substr(0, top.size()), top));
  }

  // The last piece after which a new value of `key` may go: one that leaves the key open, with
  // no later line that deletes the value or the key. None: it needs a section of its own.
  std::size_t Placement(const HiveKey& key, const std::string* name) const {
    std::size_t last = HiveSource::kNone;
    for (std::size_t i = 0; i < end_; ++i) {
      const HiveSource::Piece& piece = pieces_[i];
      if (piece.kind == Kind::Verbatim) continue;
      if (piece.kind == Kind::Deletion &&
          (piece.keyDeletion ? SameOrBelow(key.path, piece.deleted)
                             : name != nullptr && EqualsNoCase(piece.key, key.path) &&
                                   EqualsNoCase(piece.value, *name))) {
        last = HiveSource::kNone;
      }
      if (piece.inKey && EqualsNoCase(piece.key, key.path) &&
          piece.openBackslash == HiveSource::kNone) {
        last = i;
      }
    }
    return last;
  }

  // Where every value without a line goes, and which lines must not override the values set.
  void Place() {
    after_.assign(pieces_.size(), {});
    for (const HiveKey& key : hive_.Keys()) {
      std::vector<const HiveValue*> own;
      const bool inFile = Placement(key, nullptr) != HiveSource::kNone;
      for (const HiveValue& value : key.values) {
        if (value.origin != HiveValue::kNoOrigin) continue;
        const std::size_t at = Placement(key, &value.name);
        if (at == HiveSource::kNone) {
          own.push_back(&value);
        } else {
          after_[at].push_back(&value);
        }
      }
      if (!own.empty() || (!inFile && !ImpliedByTheFile(key))) {
        sections_.emplace_back(&key, std::move(own));
      }
    }
  }

  // A later line the store left out that a registry editor reads for a value the store set or
  // deleted: it would win, so it becomes a comment.
  bool Overridden(std::size_t index) const {
    const HiveSource::Piece& piece = pieces_[index];
    if (piece.kind != Kind::Unread || !piece.inKey) return false;
    if (hive_.Removed(piece.key, piece.value)) return true;
    const HiveKey* key = hive_.Find(piece.key);
    const HiveValue* value = key == nullptr ? nullptr : Hive::FindValue(*key, piece.value);
    return value != nullptr && value->origin != HiveValue::kNoOrigin && value->edited &&
           value->origin < index;
  }

  void Piece(std::size_t index) {
    const HiveSource::Piece& piece = pieces_[index];
    std::string text = piece.text;
    // Continued data open at the end of the file would take in whatever comes after it.
    const bool followed = index + 1 < pieces_.size() || !sections_.empty();
    if (piece.openBackslash != HiveSource::kNone && followed) text.erase(piece.openBackslash, 1);
    if (Overridden(index)) {
      for (const TextLine& line : SplitLines(text, LineEnds::AlsoBareCr)) {
        out_ += ";" + std::string(line.full);
      }
      return;
    }
    if (piece.kind != Kind::Value) {
      out_ += text;
      return;
    }
    if (hive_.Removed(piece.key, piece.value)) return;
    const HiveValue* value = nullptr;
    if (const HiveKey* key = hive_.Find(piece.key)) {
      for (const HiveValue& v : key->values) {
        if (v.origin == index) value = &v;
      }
    }
    if (value == nullptr || !value->edited) {
      out_ += text;
      return;
    }
    out_ += RenderValue(*value, charset_, source_.lineEnd) + piece.comments;
  }

  // A new key without values above a key the file has: importing the file makes it anyway.
  bool ImpliedByTheFile(const HiveKey& key) const {
    if (!key.values.empty()) return false;
    for (std::size_t i = 0; i < end_; ++i) {
      const HiveSource::Piece& piece = pieces_[i];
      if (piece.kind == Kind::Key && piece.key.size() > key.path.size() &&
          SameOrBelow(piece.key, key.path) && hive_.Find(piece.key) != nullptr) {
        return true;
      }
    }
    return false;
  }

  // The keys and values that go in sections of their own.
  void Sections() {
    for (const auto& [key, values] : sections_) {
      EndLine();
      if (!out_.ends_with("\n\n") && !out_.ends_with("\n\r\n") && !out_.ends_with("\r\r")) {
        out_ += source_.lineEnd;
      }
      out_ += KeyLine(key->path);
      for (const HiveValue* value : values) out_ += RenderValue(*value, charset_, source_.lineEnd);
    }
  }

  std::string KeyLine(const std::string& path) const {
    std::string line = "[" + charset_.FromAnsi(RootName(root_));
    if (!path.empty()) line += "\\" + charset_.FromAnsi(path);
    return line + "]" + source_.lineEnd;
  }

  // A last line without its line end gets one before anything follows it.
  void EndLine() {
    if (!out_.empty() && out_.back() != '\n' && out_.back() != '\r') out_ += source_.lineEnd;
  }

  std::string Encode() const {
    FileMark mark = FileMark::None;
    if (source_.encoding == HiveEncoding::Utf16Le) {
      mark = FileMark::Utf16Le;
    } else if (source_.byteOrderMark) {
      mark = FileMark::Utf8;
    }
    return EncodeFileText(mark, out_);
  }

  const Hive& hive_;
  RegRoot root_;
  const HiveSource& source_;
  const std::vector<HiveSource::Piece>& pieces_;
  std::size_t end_;
  Charset charset_;
  std::vector<std::vector<const HiveValue*>> after_;
  std::vector<std::pair<const HiveKey*, std::vector<const HiveValue*>>> sections_;
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
      if (c == '\0' || c == '\r' || c == '\n' || c == '\x98') return false;
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
  return name.find_first_of(std::string_view("\0\x98", 2)) == std::string_view::npos;
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

bool Hive::Erase(HiveKey& key, std::string_view name) {
  for (auto it = key.values.begin(); it != key.values.end(); ++it) {
    if (EqualsNoCase(it->name, name)) {
      key.values.erase(it);
      return true;
    }
  }
  return false;
}

bool Hive::Remove(HiveKey& key, std::string_view name) {
  if (!Erase(key, name)) return false;
  removed_.emplace_back(key.path, std::string(name));
  return true;
}

bool Hive::Removed(std::string_view path, std::string_view name) const {
  for (const auto& [key, value] : removed_) {
    if (EqualsNoCase(key, path) && EqualsNoCase(value, name)) return true;
  }
  return false;
}

void Hive::EraseTree(std::string_view path) {
  std::erase_if(keys_, [&](const HiveKey& key) {
    return EqualsNoCase(key.path, path) ||
           (key.path.size() > path.size() && key.path[path.size()] == '\\' &&
            EqualsNoCase(std::string_view(key.path).substr(0, path.size()), path));
  });
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
