// SPDX-License-Identifier: GPL-3.0-or-later
// The randomised comparison of registry files with the registry editor's import.
//
//   conformance-reggen make SEED COUNT DIR
//       writes DIR/gen-N.reg, the files; DIR/generated-K.seq, which import each file, print the
//       key tree, make the port setting's writes, export (save) and print the tree again; and
//       DIR/imported-K.seq, which import each saved file and print its tree.
//   conformance-reggen compare OURS WINDOWS IMPORTED
//       compares, file by file, what our side printed for generated.seq (OURS) with the Windows
//       side (WINDOWS), and the trees the Windows side read from our saved files (IMPORTED) with
//       the values our side held; prints the figures and every difference.
//
// The files are the kinds people and tools write: registry editor exports (UTF-16LE), REGEDIT4
// files in Windows-1251, and ASCII version 5 files, each edited by hand: comments, blank lines,
// continued hex data, escapes, deletions, odd spacing, lines a registry editor ignores. Left out
// on purpose are the readings where the store differs from the registry editor by design (see
// docs/proving.md): non-ASCII text in a UTF-8 file, \0 inside text, hex text of an odd length.
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>
#include <vector>

#include "comparison.h"

namespace {

// A small, fully specified generator, so that a seed gives the same files everywhere.
class Random {
 public:
  explicit Random(std::uint64_t seed) : state_(seed * 2654435761u + 1) {}
  std::uint32_t Next() {
    state_ ^= state_ << 13;
    state_ ^= state_ >> 7;
    state_ ^= state_ << 17;
    return static_cast<std::uint32_t>(state_ >> 11);
  }
  std::size_t Below(std::size_t n) { return Next() % n; }
  bool Chance(int percent) { return Below(100) < static_cast<std::size_t>(percent); }
  template <typename T>
  const T& Pick(const std::vector<T>& items) {
    return items[Below(items.size())];
  }

 private:
  std::uint64_t state_;
};

enum class Form { Utf16, Regedit4, Ascii };

// Windows-1251 bytes of the few non-ASCII letters the REGEDIT4 files use.
std::string Ansi(const std::string& utf8) {
  std::string out;
  for (std::size_t i = 0; i < utf8.size(); ++i) {
    auto c = static_cast<unsigned char>(utf8[i]);
    if (c < 0x80) {
      out += static_cast<char>(c);
      continue;
    }
    std::uint32_t cp = ((c & 0x1F) << 6) | (static_cast<unsigned char>(utf8[++i]) & 0x3F);
    if (cp >= 0x410 && cp <= 0x44F) out += static_cast<char>(0xC0 + (cp - 0x410));
    if (cp == 0x401) out += '\xA8';
    if (cp == 0x451) out += '\xB8';
  }
  return out;
}

std::string Utf16(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  for (std::size_t i = 0; i < utf8.size();) {
    auto c = static_cast<unsigned char>(utf8[i]);
    int extra = c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    std::uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (utf8[i + k] & 0x3F);
    i += static_cast<std::size_t>(extra) + 1;
    out += static_cast<char>(cp & 0xFF);
    out += static_cast<char>(cp >> 8);
  }
  return out;
}

std::string Hex2(unsigned b) {
  static const char digits[] = "0123456789abcdef";
  return {digits[(b >> 4) & 15], digits[b & 15]};
}

class FileMaker {
 public:
  FileMaker(Random& random, Form form) : r_(random), form_(form) {}

  std::string Make() {
    eol_ = form_ == Form::Utf16 ? "\r\n" : r_.Pick<std::string>({"\r\n", "\r\n", "\n", "\r"});
    Line(form_ == Form::Regedit4 ? "REGEDIT4" : "Windows Registry Editor Version 5.00");
    Line("");
    const std::size_t sections = 1 + r_.Below(4);
    for (std::size_t s = 0; s < sections; ++s) Section(s + 1 == sections);
    if (r_.Chance(8)) {
      // Hex data continued to the end of the file.
      Line("\"Tail\"=hex:0a,0b,\\" + std::string(r_.Chance(50) ? "" : " ;more"));
      if (r_.Chance(40)) Line("; the end");
    }
    if (r_.Chance(20) && !text_.empty()) {
      text_.resize(text_.size() - eol_.size());  // no line end after the last line
    }
    return form_ == Form::Utf16 ? Utf16(text_) : form_ == Form::Regedit4 ? Ansi(text_) : text_;
  }

 private:
  void Line(const std::string& text) { text_ += text + eol_; }

  std::string Comment() {
    return r_.Pick<std::string>({" ;comment", " ; USB adapter", "\t;note", ";x"});
  }

  std::string KeyPath() {
    return r_.Pick<std::string>({"Software\\TAVEX\\ComPort", "Software\\TAVEX\\ComPort",
                                 "Software\\TAVEX\\Other", "Software\\TAVEX\\Port [1]",
                                 "Software\\TAVEX\\ComPort\\Sub", "Software\\TAVEX"});
  }

  void Section(bool last) {
    const std::string path = KeyPath();
    const std::size_t kind = r_.Below(100);
    std::string root = r_.Chance(10) ? "hkey_local_machine" : "HKEY_LOCAL_MACHINE";
    std::string spelled = path;
    if (r_.Chance(5)) spelled += "\\";
    if (r_.Chance(5)) spelled.insert(spelled.find('\\'), "\\");
    if (kind < 70) {
      Line("[" + root + "\\" + spelled + "]" + (r_.Chance(15) ? Comment() : ""));
    } else if (kind < 76) {
      Line("[-" + root + "\\" +
           r_.Pick<std::string>({"Software\\TAVEX\\Other", "Software\\TAVEX\\ComPort\\Sub",
                                 "Software\\TAVEX\\ComPort"}) +
           "]");
    } else if (kind < 80) {
      Line("[ " + root + "\\" + path + "]");  // ignored: the key before stays open
    } else if (kind < 84) {
      Line("[" + root + "\\" + path);  // no closing bracket: ignored too
    } else if (kind < 89) {
      Line("[HKEY_CURRENT_USER\\Software\\TAVEX\\Elsewhere]");
    } else if (kind < 92) {
      Line("[HKEY_NOWHERE\\Software\\TAVEX]");
    } else if (kind < 93 && last) {
      Line("[-HKEY_NOWHERE\\Software]");  // the import stops here
    } else {
      Line("[" + root + "\\" + path + "]");
    }
    const std::size_t values = r_.Below(7);
    for (std::size_t v = 0; v < values; ++v) Value();
    if (r_.Chance(70)) Line("");
  }

  std::string Name() {
    std::vector<std::string> names = {"Port",          "BaudRate", "Parity", "port",
                                      "DataBits",      "x\ty",     "a[1]",   "Quote\\\"d",
                                      "Back\\\\slash", "Tab\\t",   "It\\'s"};
    if (form_ != Form::Ascii) names.push_back("Порт");
    if (form_ == Form::Utf16) names.push_back("naïve");
    if (r_.Chance(8)) return "@";
    return "\"" + r_.Pick(names) + "\"";
  }

  std::string Text() {
    std::vector<std::string> parts = {"COM1", "ttyUSB0", " ",   "\\\\", "\\\"", "\\n", "\\r",
                                      "\\t",  "\\'",     "[x]", ";",    "=",    "9600"};
    if (form_ != Form::Ascii) parts.push_back("Чётность");
    if (form_ == Form::Utf16) parts.insert(parts.end(), {"café", "€", "中"});
    std::string text;
    const std::size_t n = r_.Below(5);
    for (std::size_t i = 0; i < n; ++i) text += r_.Pick(parts);
    return text;
  }

  // Hex bytes as a list, continued over lines at random places, with blank and comment lines
  // inside sometimes.
  std::string HexList(const std::vector<unsigned>& bytes, const std::string& prefix) {
    std::string line = prefix;
    std::string out;
    for (std::size_t i = 0; i < bytes.size(); ++i) {
      line += (r_.Chance(5) ? " " : "") + Hex2(bytes[i]);
      if (i + 1 < bytes.size()) {
        line += ",";
        if (r_.Chance(15)) {
          out += line + "\\" + (r_.Chance(10) ? " ;c" : "") + eol_;
          if (r_.Chance(15)) out += eol_;
          if (r_.Chance(10)) out += "; inside" + eol_;
          line = r_.Pick<std::string>({"  ", "  ", "", "\t"});
        }
      }
    }
    return out + line;
  }

  void Value() {
    const std::size_t kind = r_.Below(100);
    const std::string name = Name() + (r_.Chance(5) ? " = " : "=");
    const std::string tail = r_.Chance(12) ? Comment() : (r_.Chance(5) ? "  " : "");
    if (kind < 35) {
      Line(name + "\"" + Text() + "\"" + tail);
    } else if (kind < 50) {
      const std::uint32_t v = r_.Next();
      char digits[16];
      std::snprintf(digits, sizeof digits, r_.Chance(70) ? "%08x" : "%x", v);
      const std::size_t style = r_.Below(10);
      Line(name + "dword:" + (style == 0 ? " " : "") + digits + (style == 1 ? "5" : "") + tail);
    } else if (kind < 68) {
      std::vector<unsigned> bytes(r_.Below(40));
      for (unsigned& b : bytes) b = static_cast<unsigned>(r_.Below(256));
      const std::string type =
          r_.Pick<std::string>({"hex:", "hex:", "hex(0):", "hex(b):", "hex(4):"});
      Line(HexList(bytes, name + type) + tail);
    } else if (kind < 78 && form_ != Form::Ascii) {
      // Text as hex, with or without its terminating zero.
      std::vector<unsigned> bytes;
      const std::string text = r_.Pick<std::string>({"COM5", "%SystemRoot%", "ab", "Порт"});
      std::string data = form_ == Form::Utf16 ? Utf16(text).substr(2) : Ansi(text);
      for (char c : data) bytes.push_back(static_cast<unsigned char>(c));
      const std::size_t unit = form_ == Form::Utf16 ? 2 : 1;
      if (r_.Chance(50)) bytes.insert(bytes.end(), unit, 0);
      if (r_.Chance(20)) {  // a second string, for multi-strings
        bytes.insert(bytes.end(), bytes.begin(), bytes.end());
      }
      Line(HexList(bytes, name + r_.Pick<std::string>({"hex(1):", "hex(2):", "hex(7):"})) + tail);
    } else if (kind < 84) {
      Line(name + "-" + (r_.Chance(30) ? Comment() : ""));
    } else if (kind < 88) {
      // Hex data whose continuation runs into a line that is not hex data.
      Line(name + "hex:01,02,\\");
      if (r_.Chance(50)) Line("");
    } else if (kind < 92) {
      Line(r_.Pick<std::string>({"junk line", "; a comment", "", "  ", "Port=COM1"}));
    } else if (kind < 95) {
      Line(name + r_.Pick<std::string>({"\"unclosed", "dword:123456789", "hex:01,,02", "str:\"x\"",
                                        "hex:01 02", "\"a\" b"}));
    } else {
      Line(name + "hex:" + tail);
    }
  }

  Random& r_;
  Form form_;
  std::string eol_;
  std::string text_;
};

// Cases per sequence file: one run of the runner must end within the driver's two minutes.
constexpr std::size_t kChunk = 40;

int Make(std::uint64_t seed, std::size_t count, const std::string& dir) {
  Random random(seed);
  std::ofstream sequence;
  std::ofstream imports;
  for (std::size_t i = 0; i < count; ++i) {
    if (i % kChunk == 0) {
      const std::string chunk = std::to_string(i / kChunk);
      sequence = std::ofstream(dir + "/generated-" + chunk + ".seq");
      imports = std::ofstream(dir + "/imported-" + chunk + ".seq");
      sequence << "# Generated by conformance-reggen, seed " << seed << ".\n";
      imports << "# Generated by conformance-reggen, seed " << seed << ".\n";
    }
    const Form form = random.Chance(60)   ? Form::Utf16
                      : random.Chance(50) ? Form::Regedit4
                                          : Form::Ascii;
    const std::string name = "gen-" + std::to_string(i);
    std::ofstream(dir + "/" + name + ".reg", std::ios::binary) << FileMaker(random, form).Make();
    sequence << "case " << name << "\nreset\nimport " << name << ".reg\n"
             << "tree HKLM \"Software\\\\TAVEX\"\n"
             << "create p HKLM \"Software\\\\TAVEX\\\\ComPort\"\n"
             << "set p \"Port\" sz \"COM" << i << "\"\n"
             << "set p \"BaudRate\" sz \"Custom\"\n"
             << "set p \"CustomBaudRate\" dword " << (random.Next() % 250000) << "\n";
    if (random.Chance(40)) {
      sequence << "create n HKLM \"Software\\\\TAVEX\\\\"
               << random.Pick<std::string>({"New", "Other"})
               << "\"\nset n \"Made\" sz \"by the store\"\n";
    }
    sequence << "export saved-" << i << ".reg\ntree HKLM \"Software\\\\TAVEX\"\n";
    imports << "case " << name << "\nreset\nimport saved-" << i << ".reg\n"
            << "tree HKLM \"Software\\\\TAVEX\"\n";
  }
  return 0;
}

std::string ReadAll(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream all;
  all << in.rdbuf();
  return all.str();
}

// The tree lines of a case: before the port setting's writes (read) and after them (held).
void Trees(const conformance::Case& c, std::vector<std::string>& read,
           std::vector<std::string>& held) {
  bool after = false;
  for (const std::string& line : c.lines) {
    if (line.starts_with("  create ")) after = true;
    if (!line.starts_with("  key") && !line.starts_with("    ") && !line.starts_with("  values"))
      continue;
    (after ? held : read).push_back(line);
  }
}

void Show(const std::string& what, const std::vector<std::string>& ours,
          const std::vector<std::string>& theirs) {
  std::cout << "    " << what << "\n";
  for (const std::string& l : ours) std::cout << "      ours   " << l << "\n";
  for (const std::string& l : theirs) std::cout << "      windows" << l << "\n";
}

int Compare(const std::string& oursPath, const std::string& windowsPath,
            const std::string& importedPath) {
  const auto ours = conformance::SplitCases(ReadAll(oursPath));
  const auto windows = conformance::SplitCases(ReadAll(windowsPath));
  const auto imported = conformance::SplitCases(ReadAll(importedPath));
  auto find = [](const std::vector<conformance::Case>& cases, const std::string& name) {
    for (const auto& c : cases) {
      if (c.name == name) return &c;
    }
    return static_cast<const conformance::Case*>(nullptr);
  };
  std::size_t files = 0, readDiffer = 0, saveDiffer = 0, missing = 0;
  for (const auto& c : ours) {
    if (c.name.empty()) continue;
    ++files;
    const auto* w = find(windows, c.name);
    const auto* i = find(imported, c.name);
    if (w == nullptr || i == nullptr) {
      ++missing;
      std::cout << c.name << ": no Windows result\n";
      continue;
    }
    std::vector<std::string> ourRead, ourHeld, winRead, winHeld, impRead, impHeld;
    Trees(c, ourRead, ourHeld);
    Trees(*w, winRead, winHeld);
    Trees(*i, impRead, impHeld);
    const bool readOk = ourRead == winRead && ourHeld == winHeld;
    const bool saveOk = impRead == ourHeld;
    if (!readOk) ++readDiffer;
    if (!saveOk) ++saveDiffer;
    if (readOk && saveOk) continue;
    std::cout << c.name << ":\n";
    if (ourRead != winRead) Show("read", ourRead, winRead);
    if (ourHeld != winHeld) Show("after the writes", ourHeld, winHeld);
    if (!saveOk) Show("saved file as the registry editor imports it", ourHeld, impRead);
  }
  std::cout << "generated files: " << files << "; read differently: " << readDiffer
            << "; saved files that import differently: " << saveDiffer
            << "; without a Windows result: " << missing << "\n";
  return readDiffer + saveDiffer + missing == 0 && files > 0 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string> args(argv + 1, argv + argc);
  if (args.size() == 4 && args[0] == "make") {
    return Make(std::stoull(args[1]), std::stoul(args[2]), args[3]);
  }
  if (args.size() == 4 && args[0] == "compare") return Compare(args[1], args[2], args[3]);
  std::cerr << "usage: conformance-reggen make SEED COUNT DIR | compare OURS WINDOWS IMPORTED\n";
  return 2;
}
