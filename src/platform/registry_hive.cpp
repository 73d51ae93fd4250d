#include "platform/registry_hive.h"

#include <cstdint>

#include "platform/text_codec.h"

namespace tavex::platform {
namespace {

constexpr std::string_view kHeader = "Windows Registry Editor Version 5.00";
constexpr std::size_t kHexLineWidth = 78;

char FoldAscii(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}

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

// A byte that the text form cannot carry inside a name or a quoted text: control characters
// would break or blur the line, and 0x98 has no Windows-1251 reading to come back from.
bool IsUnwritableByte(unsigned char b, bool allowTab) {
  if (b == '\t') return !allowTab;
  return b < 0x20 || b == 0x98;
}

std::string Escape(std::string_view bytes) {
  std::string out;
  for (char c : Cp1251ToUtf8(bytes)) {
    if (c == '\\' || c == '"') out.push_back('\\');
    out.push_back(c);
  }
  return out;
}

std::string QuotedName(const std::string& name) {
  return name.empty() ? std::string("@") : "\"" + Escape(name) + "\"";
}

bool TextFormCarries(const std::string& data) {
  if (data.empty() || data.back() != '\0') return false;
  for (std::size_t i = 0; i + 1 < data.size(); ++i) {
    if (IsUnwritableByte(static_cast<unsigned char>(data[i]), true)) return false;
  }
  return true;
}

void AppendHexValue(std::string& out, const std::string& prefix, const std::string& data) {
  static const char kDigits[] = "0123456789abcdef";
  std::string line = prefix;
  bool lineHasBytes = false;
  for (std::size_t i = 0; i < data.size(); ++i) {
    auto b = static_cast<unsigned char>(data[i]);
    std::string piece{kDigits[b >> 4], kDigits[b & 15]};
    if (i + 1 < data.size()) piece.push_back(',');
    if (lineHasBytes && line.size() + piece.size() > kHexLineWidth) {
      out += line + "\\\n";
      line = "  ";
    }
    line += piece;
    lineHasBytes = true;
  }
  out += line + "\n";
}

void AppendValue(std::string& out, const HiveValue& value) {
  const std::string name = QuotedName(value.name);
  if (value.type == RegType::Sz && TextFormCarries(value.data)) {
    out += name + "=\"" + Escape(std::string_view(value.data).substr(0, value.data.size() - 1)) +
           "\"\n";
    return;
  }
  if (value.type == RegType::Dword && value.data.size() == 4) {
    std::uint32_t v = 0;
    for (int i = 3; i >= 0; --i) {
      v = (v << 8) | static_cast<unsigned char>(value.data[static_cast<std::size_t>(i)]);
    }
    char buf[9];
    static const char kDigits[] = "0123456789abcdef";
    for (int i = 7; i >= 0; --i) {
      buf[i] = kDigits[v & 15];
      v >>= 4;
    }
    buf[8] = '\0';
    out += name + "=dword:" + buf + "\n";
    return;
  }
  std::string prefix = name + "=hex";
  if (value.type != RegType::Binary) {
    static const char kDigits[] = "0123456789abcdef";
    auto t = static_cast<std::uint32_t>(value.type);
    std::string n;
    do {
      n.insert(n.begin(), kDigits[t & 15]);
      t >>= 4;
    } while (t != 0);
    prefix += "(" + n + ")";
  }
  AppendHexValue(out, prefix + ":", value.data);
}

// Reads a quoted string starting at s[pos] == '"' with \\ and \" escapes; pos ends after the
// closing quote. The text is UTF-8 in the file and Windows-1251 bytes in the hive.
bool ParseQuoted(std::string_view s, std::size_t& pos, std::string& bytes, std::string& why) {
  std::string utf8;
  for (++pos; pos < s.size(); ++pos) {
    char c = s[pos];
    if (c == '"') {
      ++pos;
      if (!Utf8ToCp1251(utf8, bytes)) {
        why = "text has a character with no Windows-1251 byte";
        return false;
      }
      return true;
    }
    if (c == '\\') {
      if (pos + 1 >= s.size() || (s[pos + 1] != '\\' && s[pos + 1] != '"')) {
        why = "unknown escape (only \\\\ and \\\" are allowed)";
        return false;
      }
      c = s[++pos];
    }
    utf8.push_back(c);
  }
  why = "missing closing quote";
  return false;
}

class Parser {
 public:
  Parser(std::string_view text, RegRoot root, Hive& hive, HiveParseError& error)
      : root_(root), hive_(hive), error_(error) {
    if (text.starts_with("\xEF\xBB\xBF")) text.remove_prefix(3);
    std::size_t start = 0;
    while (start <= text.size()) {
      std::size_t end = text.find('\n', start);
      if (end == std::string_view::npos) end = text.size();
      std::string_view line = text.substr(start, end - start);
      if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
      lines_.push_back(line);
      start = end + 1;
    }
  }

  bool Run() {
    std::size_t i = 0;
    // The header is the first line with any content.
    for (; i < lines_.size(); ++i) {
      std::string_view line = Trim(lines_[i]);
      if (line.empty()) continue;
      if (line != kHeader) return Fail(i, "missing header \"" + std::string(kHeader) + "\"");
      ++i;
      break;
    }
    for (; i < lines_.size(); ++i) {
      std::string_view line = Trim(lines_[i]);
      if (line.empty() || line.front() == ';') continue;
      if (line.front() == '[') {
        if (!KeyLine(i, line)) return false;
      } else if (line.front() == '"' || line.front() == '@') {
        if (!ValueLine(i)) return false;
      } else {
        return Fail(i, "line is neither a key, a value nor a comment");
      }
    }
    return true;
  }

 private:
  bool Fail(std::size_t index, const std::string& message) {
    error_.line = index + 1;
    error_.message = message;
    return false;
  }

  bool KeyLine(std::size_t index, std::string_view line) {
    if (line.back() != ']') return Fail(index, "key line without closing \"]\"");
    std::string_view inside = line.substr(1, line.size() - 2);
    if (!inside.empty() && inside.front() == '-') {
      return Fail(index, "key deletion lines are not supported in a hive");
    }
    std::string bytes;
    if (!Utf8ToCp1251(inside, bytes)) {
      return Fail(index, "key name has a character with no Windows-1251 byte");
    }
    std::string_view view = bytes;
    std::size_t slash = view.find('\\');
    std::string_view rootName = view.substr(0, slash);
    if (!EqualsNoCase(rootName, RootName(root_))) {
      return Fail(index, "key is not under " + std::string(RootName(root_)));
    }
    std::string path;
    std::string_view rest =
        slash == std::string_view::npos ? std::string_view() : view.substr(slash);
    if (!NormalizeKeyPath(rest, path))
      return Fail(index, "key name has a control character or a bracket");
    current_ = &hive_.Ensure(path);
    return true;
  }

  bool ValueLine(std::size_t& index) {
    std::string_view line = Trim(lines_[index]);
    if (current_ == nullptr) return Fail(index, "value before the first key");
    std::size_t pos = 0;
    std::string name;
    std::string why;
    if (line.front() == '@') {
      pos = 1;
    } else if (!ParseQuoted(line, pos, name, why)) {
      return Fail(index, "value name: " + why);
    }
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    if (pos >= line.size() || line[pos] != '=') return Fail(index, "\"=\" expected after the name");
    ++pos;
    while (pos < line.size() && IsBlank(line[pos])) ++pos;
    std::string_view rest = line.substr(pos);

    if (rest.starts_with("\"")) {
      std::size_t p = 0;
      std::string text;
      if (!ParseQuoted(rest, p, text, why)) return Fail(index, why);
      if (!Trim(rest.substr(p)).empty()) return Fail(index, "text after the closing quote");
      Hive::Set(*current_, name, RegType::Sz, text + '\0');
      return true;
    }
    if (rest.starts_with("dword:")) {
      std::uint32_t v = 0;
      if (!ParseHex32(rest.substr(6), v)) return Fail(index, "dword needs 1 to 8 hex digits");
      std::string data(4, '\0');
      for (std::size_t i = 0; i < 4; ++i) data[i] = static_cast<char>((v >> (8 * i)) & 0xFF);
      Hive::Set(*current_, name, RegType::Dword, data);
      return true;
    }
    if (rest.starts_with("hex")) return HexValue(index, name, rest.substr(3));
    if (rest == "-") return Fail(index, "value deletion lines are not supported in a hive");
    return Fail(index, "unrecognised value data");
  }

  bool HexValue(std::size_t& index, const std::string& name, std::string_view rest) {
    const std::size_t first = index;
    std::uint32_t type = static_cast<std::uint32_t>(RegType::Binary);
    if (rest.starts_with("(")) {
      std::size_t close = rest.find(')');
      if (close == std::string_view::npos || !ParseHex32(rest.substr(1, close - 1), type)) {
        return Fail(first, "hex(N) needs a hex type number");
      }
      rest.remove_prefix(close + 1);
    }
    if (!rest.starts_with(":")) return Fail(first, "\":\" expected after hex");
    rest.remove_prefix(1);
    // Gather the continuation lines: each line but the last ends in a backslash.
    std::string list;
    for (;;) {
      std::string_view part = Trim(rest);
      bool more = !part.empty() && part.back() == '\\';
      if (more) part.remove_suffix(1);
      list += part;
      if (!more) break;
      if (++index >= lines_.size()) return Fail(first, "hex data continues past the end");
      rest = lines_[index];
    }
    std::string data;
    std::string_view items = list;
    while (!items.empty()) {
      std::size_t comma = items.find(',');
      std::string_view item = Trim(items.substr(0, comma));
      std::uint32_t b = 0;
      if (item.size() > 2 || !ParseHex32(item, b)) return Fail(first, "bad hex byte in data");
      data.push_back(static_cast<char>(b));
      if (comma == std::string_view::npos) break;
      items.remove_prefix(comma + 1);
    }
    Hive::Set(*current_, name, static_cast<RegType>(type), data);
    return true;
  }

  RegRoot root_;
  Hive& hive_;
  HiveParseError& error_;
  std::vector<std::string_view> lines_;
  HiveKey* current_ = nullptr;
};

}  // namespace

bool EqualsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (FoldAscii(a[i]) != FoldAscii(b[i])) return false;
  }
  return true;
}

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

void Hive::Set(HiveKey& key, const std::string& name, RegType type, const std::string& data) {
  if (HiveValue* value = FindValue(key, name)) {
    value->type = type;
    value->data = data;
    return;
  }
  key.values.push_back(HiveValue{name, type, data});
}

bool ParseHive(std::string_view text, RegRoot root, Hive& hive, HiveParseError& error) {
  hive = Hive();
  Parser parser(text, root, hive, error);
  if (parser.Run()) return true;
  hive = Hive();
  return false;
}

std::string FormatHive(const Hive& hive, RegRoot root) {
  std::string out(kHeader);
  out += "\n";
  for (const HiveKey& key : hive.Keys()) {
    out += "\n[";
    out += Cp1251ToUtf8(RootName(root));
    if (!key.path.empty()) out += "\\" + Cp1251ToUtf8(key.path);
    out += "]\n";
    for (const HiveValue& value : key.values) AppendValue(out, value);
  }
  return out;
}

}  // namespace tavex::platform
