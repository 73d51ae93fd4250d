// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/profile.h"

#include <algorithm>
#include <cerrno>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/name_case.h"
#include "platform/registry.h"
#include "platform/registry_file.h"
#include "platform/text_codec.h"
#include "platform/text_file.h"
#include "platform/text_lines.h"

namespace tavex::platform {
namespace {

bool IsSpace(char c) {
  return c == ' ' || (c >= '\t' && c <= '\r');
}

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

std::string_view Unquote(std::string_view s) {
  if (s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front()) {
    return s.substr(1, s.size() - 2);
  }
  return s;
}

// A profile file's text as the lookups see it, and how a rewrite encodes it again. A file with a
// byte-order mark (UTF-16LE or UTF-8) holds Unicode text, kept here as UTF-8; the caller's names
// and values are Windows-1251 and are converted at the edge, as Windows does for the ANSI calls.
// Any other file holds the caller's bytes as they are. The odd last byte of a UTF-16LE file is
// kept and written back after the text, so that an edit loses nothing of the file.
struct Document {
  FileMark mark = FileMark::None;
  std::string text;
  std::optional<char> oddByte;
  std::string lineEnd = "\r\n";

  bool Unicode() const { return mark != FileMark::None; }
  std::string ToCaller(std::string_view s, bool* exact = nullptr) const {
    if (!Unicode()) return std::string(s);
    std::u16string units;
    if (!Utf8ToUtf16(s, units) && exact != nullptr) *exact = false;
    return Utf16ToAnsi(units, exact);
  }
  std::string ToFile(std::string_view bytes) const {
    return Unicode() ? Utf16ToUtf8(AnsiToUtf16(bytes)) : std::string(bytes);
  }
  // A name of the file against a name of the caller.
  bool SameName(std::string_view inFile, std::string_view callers) const {
    bool exact = true;
    const std::string name = ToCaller(inFile, &exact);
    return exact && EqualsNoCase(name, callers);
  }
};

Document Decode(std::string_view raw) {
  DecodedText decoded = DecodeFileText(raw);
  Document doc;
  doc.mark = decoded.mark;
  doc.text = std::move(decoded.text);
  doc.oddByte = decoded.oddByte;
  const std::size_t end = doc.text.find_first_of("\r\n");
  if (end != std::string::npos) {
    doc.lineEnd = doc.text.compare(end, 2, "\r\n") == 0 ? "\r\n" : doc.text.substr(end, 1);
  }
  return doc;
}

std::string Encode(const Document& doc, const std::string& text) {
  return EncodeFileText(doc.mark, text, doc.oddByte);
}

// The section name of a "[name]" line; nullopt for any other line.
std::optional<std::string_view> SectionName(std::string_view body) {
  std::string_view line = Trim(body);
  if (line.empty() || line.front() != '[') return std::nullopt;
  line.remove_prefix(1);
  return Trim(line.substr(0, line.find(']')));
}

struct Entry {
  std::string_view name;
  std::string_view value;
};

// The key and value of a "name=value" line; nullopt for comments and lines without "=".
std::optional<Entry> KeyEntry(std::string_view body) {
  std::string_view line = Trim(body);
  if (line.empty() || line.front() == ';') return std::nullopt;
  std::size_t eq = line.find('=');
  if (eq == std::string_view::npos) return std::nullopt;
  return Entry{Trim(line.substr(0, eq)), Trim(line.substr(eq + 1))};
}

// Lines [begin, end) of the first section with this name; begin is its header line.
bool FindSection(const Document& doc, const std::vector<TextLine>& lines, std::string_view section,
                 std::size_t& begin, std::size_t& end) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    auto name = SectionName(lines[i].body);
    if (!name || !doc.SameName(*name, section)) continue;
    begin = i;
    for (end = i + 1; end < lines.size() && !SectionName(lines[end].body); ++end) {
    }
    return true;
  }
  return false;
}

bool HasLineBreak(std::string_view s) {
  return s.find_first_of("\r\n") != std::string_view::npos;
}

}  // namespace

std::string ProfilePath(const std::string& fileName) {
  if (fileName.find('/') != std::string::npos) return fileName;
  return RegistryDirectory() + "/" + fileName;
}

std::string ProfileLookup(std::string_view text, std::string_view section, std::string_view key,
                          std::string_view defaultText, std::size_t bufferSize) {
  const Document doc = Decode(text);
  std::string result;
  bool found = false;
  std::vector<TextLine> lines = SplitLines(doc.text, LineEnds::AlsoBareCr);
  std::size_t begin = 0;
  std::size_t end = 0;
  section = Trim(section);
  key = Trim(key);
  if (FindSection(doc, lines, section, begin, end)) {
    for (std::size_t i = begin + 1; i < end && !found; ++i) {
      auto entry = KeyEntry(lines[i].body);
      if (entry && doc.SameName(entry->name, key)) {
        result = doc.ToCaller(Unquote(entry->value));
        found = true;
      }
    }
  }
  if (!found) {
    while (!defaultText.empty() && defaultText.back() == ' ') defaultText.remove_suffix(1);
    result = std::string(Unquote(defaultText));
  }
  if (bufferSize == 0) return {};
  return result.substr(0, std::min(result.size(), bufferSize - 1));
}

std::string ProfileNames(std::string_view text, const std::optional<std::string>& section,
                         std::string_view defaultText, std::size_t bufferSize, std::size_t& count) {
  count = 0;
  if (bufferSize == 0) return {};
  const Document doc = Decode(text);
  std::vector<TextLine> lines = SplitLines(doc.text, LineEnds::AlsoBareCr);
  std::vector<std::string> names;
  if (!section) {
    for (const TextLine& line : lines) {
      if (auto name = SectionName(line.body); name && !name->empty()) {
        names.push_back(doc.ToCaller(*name));
      }
    }
  } else if (std::size_t begin = 0, end = 0; FindSection(doc, lines, Trim(*section), begin, end)) {
    for (std::size_t i = begin + 1; i < end; ++i) {
      if (auto entry = KeyEntry(lines[i].body)) names.push_back(doc.ToCaller(entry->name));
    }
  } else {
    // No such section: the default text, as for a key that is not there.
    std::string fallback = ProfileLookup({}, "", "", defaultText, bufferSize);
    count = fallback.size();
    return fallback + '\0';
  }
  // Each name with its zero and one more zero after the last; a list that does not fit is cut
  // inside a name, which still ends in two zeros, and counts as the buffer's size less two.
  std::string out;
  for (const std::string& name : names) {
    if (out.size() + name.size() + 2 > bufferSize) {
      if (bufferSize < 2) return std::string(bufferSize, '\0');
      out += name.substr(0, bufferSize - 2 - std::min(out.size(), bufferSize - 2));
      out.resize(bufferSize - 2);
      out.append(2, '\0');
      count = bufferSize - 2;
      return out;
    }
    out += name + '\0';
  }
  count = out.size();
  out.push_back('\0');
  if (out.size() == 1 && bufferSize >= 2) out.push_back('\0');
  return out;
}

namespace {

// EINVAL for names and values that cannot be written as one line of the file.
int CheckEdit(const std::optional<std::string>& section, const std::optional<std::string>& key,
              const std::optional<std::string>& value) {
  if (!section) return key || value ? EINVAL : 0;
  const std::string_view sectionName = Trim(*section);
  if (sectionName.empty() || HasLineBreak(sectionName) ||
      sectionName.find(']') != std::string_view::npos) {
    return EINVAL;
  }
  if (key) {
    const std::string_view keyName = Trim(*key);
    if (keyName.empty() || HasLineBreak(keyName) || keyName.find('=') != std::string_view::npos ||
        keyName.front() == '[' || keyName.front() == ';') {
      return EINVAL;
    }
  }
  return value && HasLineBreak(*value) ? EINVAL : 0;
}

// One change to the file's lines: lines [from, to) are replaced by `insert`.
class LineEdit {
 public:
  LineEdit(const Document& doc, std::string& next, bool& changed)
      : doc_(doc),
        lines_(SplitLines(doc.text, LineEnds::AlsoBareCr)),
        next_(next),
        changed_(changed) {}

  const std::vector<TextLine>& Lines() const { return lines_; }
  std::string Entry(std::string_view name, std::string_view value) const {
    return doc_.ToFile(name) + "=" + doc_.ToFile(value) + doc_.lineEnd;
  }
  std::string Header(std::string_view section) const {
    return "[" + doc_.ToFile(section) + "]" + doc_.lineEnd;
  }

  void Replace(std::size_t from, std::size_t to, const std::string& insert) {
    std::string out;
    for (std::size_t i = 0; i < from; ++i) out += lines_[i].full;
    // A last line without its line end gets one before anything follows it.
    if (from > 0 && !insert.empty() && lines_[from - 1].full.size() == lines_[from - 1].body.size())
      out += doc_.lineEnd;
    out += insert;
    for (std::size_t i = to; i < lines_.size(); ++i) out += lines_[i].full;
    next_ = Encode(doc_, out);
    changed_ = true;
  }

 private:
  const Document& doc_;
  std::vector<TextLine> lines_;
  std::string& next_;
  bool& changed_;
};

// Sets, rewrites or deletes `keyName` in the section at lines [begin, end).
void EditKey(const Document& doc, LineEdit& edit, std::size_t begin, std::size_t end,
             std::string_view keyName, const std::optional<std::string>& value) {
  const std::vector<TextLine>& lines = edit.Lines();
  for (std::size_t i = begin + 1; i < end; ++i) {
    auto entry = KeyEntry(lines[i].body);
    if (!entry || !doc.SameName(entry->name, keyName)) continue;
    if (!value) {
      edit.Replace(i, i + 1, "");
    } else if (doc.ToCaller(Unquote(entry->value)) != *value) {
      // The key keeps its name as the file spells it.
      edit.Replace(i, i + 1, std::string(entry->name) + "=" + doc.ToFile(*value) + doc.lineEnd);
    }
    return;
  }
  if (!value) return;
  // A new key follows the last non-blank line of its section.
  std::size_t at = end;
  while (at > begin + 1 && Trim(lines[at - 1].body).empty()) --at;
  edit.Replace(at, at, edit.Entry(keyName, *value));
}

}  // namespace

int ProfileEdit(std::string_view text, const std::optional<std::string>& section,
                const std::optional<std::string>& key, const std::optional<std::string>& value,
                std::string& next, bool& changed) {
  changed = false;
  next.assign(text);
  if (int rc = CheckEdit(section, key, value); rc != 0 || !section) return rc;
  const std::string_view sectionName = Trim(*section);
  const Document doc = Decode(text);
  LineEdit edit(doc, next, changed);
  std::size_t begin = 0;
  std::size_t end = 0;
  const bool haveSection = FindSection(doc, edit.Lines(), sectionName, begin, end);
  if (!key) {
    if (haveSection) edit.Replace(begin, end, "");
  } else if (haveSection) {
    EditKey(doc, edit, begin, end, Trim(*key), value);
  } else if (value) {
    const std::size_t count = edit.Lines().size();
    edit.Replace(count, count, edit.Header(sectionName) + edit.Entry(Trim(*key), *value));
  }
  return 0;
}

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultText, const std::string& fileName,
                                    std::size_t bufferSize) {
  std::string text;
  bool exists = false;
  if (fileName.empty() || ReadWholeFile(ProfilePath(fileName), text, exists) != kNoError) {
    text.clear();
  }
  return ProfileLookup(text, section, key, defaultText, bufferSize);
}

std::string GetPrivateProfileNames(const std::optional<std::string>& section,
                                   const std::string& defaultText, const std::string& fileName,
                                   std::size_t bufferSize, std::size_t& count) {
  std::string text;
  bool exists = false;
  if (fileName.empty() || ReadWholeFile(ProfilePath(fileName), text, exists) != kNoError) {
    text.clear();
  }
  return ProfileNames(text, section, defaultText, bufferSize, count);
}

int WritePrivateProfileString(const std::optional<std::string>& section,
                              const std::optional<std::string>& key,
                              const std::optional<std::string>& value,
                              const std::string& fileName) {
  if (!section && !key && !value) return 0;
  if (fileName.empty()) return EINVAL;
  const bool inRegistryDirectory = fileName.find('/') == std::string::npos;
  return Value(
      UpdateFileLocked(ProfilePath(fileName), inRegistryDirectory,
                       [&](bool, const std::string& current, std::string& next, bool& changed) {
                         return Errno{ProfileEdit(current, section, key, value, next, changed)};
                       }));
}

}  // namespace tavex::platform
