#include "platform/profile.h"

#include <cerrno>
#include <vector>

#include "platform/registry.h"
#include "platform/registry_file.h"

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

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    char x = a[i] >= 'A' && a[i] <= 'Z' ? static_cast<char>(a[i] - 'A' + 'a') : a[i];
    char y = b[i] >= 'A' && b[i] <= 'Z' ? static_cast<char>(b[i] - 'A' + 'a') : b[i];
    if (x != y) return false;
  }
  return true;
}

// One line of the file with its line end, so that untouched lines are written back as they were.
struct Line {
  std::string_view body;
  std::string_view full;
};

std::vector<Line> SplitLines(std::string_view text) {
  std::vector<Line> lines;
  while (!text.empty()) {
    std::size_t end = text.find('\n');
    std::size_t next = end == std::string_view::npos ? text.size() : end + 1;
    std::string_view body = text.substr(0, end == std::string_view::npos ? text.size() : end);
    if (!body.empty() && body.back() == '\r') body.remove_suffix(1);
    lines.push_back(Line{body, text.substr(0, next)});
    text.remove_prefix(next);
  }
  return lines;
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
bool FindSection(const std::vector<Line>& lines, std::string_view section, std::size_t& begin,
                 std::size_t& end) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    auto name = SectionName(lines[i].body);
    if (!name || !SameName(*name, section)) continue;
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
  std::string_view result;
  bool found = false;
  std::vector<Line> lines = SplitLines(text);
  std::size_t begin = 0;
  std::size_t end = 0;
  section = Trim(section);
  key = Trim(key);
  if (FindSection(lines, section, begin, end)) {
    for (std::size_t i = begin + 1; i < end && !found; ++i) {
      auto entry = KeyEntry(lines[i].body);
      if (entry && SameName(entry->name, key)) {
        result = Unquote(entry->value);
        found = true;
      }
    }
  }
  if (!found) {
    while (!defaultText.empty() && defaultText.back() == ' ') defaultText.remove_suffix(1);
    result = Unquote(defaultText);
  }
  if (bufferSize == 0) return {};
  return std::string(result.substr(0, bufferSize - 1));
}

int ProfileEdit(std::string_view text, const std::optional<std::string>& section,
                const std::optional<std::string>& key, const std::optional<std::string>& value,
                std::string& next, bool& changed) {
  changed = false;
  next.assign(text);
  if (!section) return key || value ? EINVAL : 0;
  const std::string_view sectionName = Trim(*section);
  if (sectionName.empty() || HasLineBreak(sectionName) ||
      sectionName.find(']') != std::string_view::npos) {
    return EINVAL;
  }
  std::string_view keyName;
  if (key) {
    keyName = Trim(*key);
    if (keyName.empty() || HasLineBreak(keyName) || keyName.find('=') != std::string_view::npos ||
        keyName.front() == '[' || keyName.front() == ';') {
      return EINVAL;
    }
  }
  if (value && HasLineBreak(*value)) return EINVAL;

  std::vector<Line> lines = SplitLines(text);
  std::size_t begin = 0;
  std::size_t end = 0;
  const bool haveSection = FindSection(lines, sectionName, begin, end);
  auto rebuild = [&](std::size_t from, std::size_t to, const std::string& insert) {
    std::string out;
    for (std::size_t i = 0; i < from; ++i) out += lines[i].full;
    // A last line without its line end gets one before anything follows it.
    if (from > 0 && !insert.empty() && !lines[from - 1].full.ends_with('\n')) out += "\r\n";
    out += insert;
    for (std::size_t i = to; i < lines.size(); ++i) out += lines[i].full;
    next = out;
    changed = true;
  };

  if (!key) {
    if (haveSection) rebuild(begin, end, "");
    return 0;
  }
  if (!haveSection) {
    if (value) {
      rebuild(
          lines.size(), lines.size(),
          "[" + std::string(sectionName) + "]\r\n" + std::string(keyName) + "=" + *value + "\r\n");
    }
    return 0;
  }
  for (std::size_t i = begin + 1; i < end; ++i) {
    auto entry = KeyEntry(lines[i].body);
    if (!entry || !SameName(entry->name, keyName)) continue;
    if (!value) {
      rebuild(i, i + 1, "");
    } else if (Unquote(entry->value) != *value) {
      rebuild(i, i + 1, std::string(entry->name) + "=" + *value + "\r\n");
    }
    return 0;
  }
  if (!value) return 0;
  // A new key follows the last non-blank line of its section.
  std::size_t at = end;
  while (at > begin + 1 && Trim(lines[at - 1].body).empty()) --at;
  rebuild(at, at, std::string(keyName) + "=" + *value + "\r\n");
  return 0;
}

std::string GetPrivateProfileString(const std::string& section, const std::string& key,
                                    const std::string& defaultText, const std::string& fileName,
                                    std::size_t bufferSize) {
  std::string text;
  bool exists = false;
  if (fileName.empty() || ReadWholeFile(ProfilePath(fileName), text, exists) != 0) text.clear();
  return ProfileLookup(text, section, key, defaultText, bufferSize);
}

int WritePrivateProfileString(const std::optional<std::string>& section,
                              const std::optional<std::string>& key,
                              const std::optional<std::string>& value,
                              const std::string& fileName) {
  if (!section && !key && !value) return 0;
  if (fileName.empty()) return EINVAL;
  const bool inRegistryDirectory = fileName.find('/') == std::string::npos;
  return UpdateFileLocked(ProfilePath(fileName), inRegistryDirectory,
                          [&](bool, const std::string& current, std::string& next, bool& changed) {
                            return ProfileEdit(current, section, key, value, next, changed);
                          });
}

}  // namespace tavex::platform
