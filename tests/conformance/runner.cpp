// SPDX-License-Identifier: GPL-3.0-or-later
// Runs one sequence of registry, profile-file and serial operations through the Win32 API and
// prints every result in a canonical form. Built twice from this one source: with MinGW against
// the real API (run under Wine), and on Linux against win32_facade.h over our stand-ins, so both
// sides execute literally the same calls.
//
//   conformance-runner SEQUENCE WORKDIR FIXTURES [COMPORT]
//
// Strings in a sequence are UTF-8 and reach the A functions as Windows-1251 bytes; printed bytes
// of the 1251 letters come back as UTF-8, anything else outside printable ASCII as an escape.
#ifdef _WIN32
#include <windows.h>
#else
#include "win32_facade.h"
#endif

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "canonical_text.h"

namespace {

using conformance::CodePointOf1251;
using conformance::kCp1251High;
using conformance::Show;

#ifdef _WIN32
constexpr char kPathSeparator = '\\';
#else
constexpr char kPathSeparator = '/';
#endif

// An overlapped read still pending after this long has no time-out that would end it.
constexpr DWORD kStuckMs = 4000;

[[noreturn]] void Fail(const std::string& what) {
  throw std::runtime_error(what);
}

// The 1251 byte of a Unicode letter of the sequence text.
char ByteOf1251(std::uint32_t cp) {
  if (cp < 0x80) return static_cast<char>(cp);
  if (cp >= 0x0410 && cp <= 0x044F) return static_cast<char>(0xC0 + (cp - 0x0410));
  for (int i = 0; i < 64; ++i) {
    if (kCp1251High[i] == cp && cp != 0xFFFD) return static_cast<char>(0x80 + i);
  }
  Fail("character U+" + std::to_string(cp) + " has no Windows-1251 byte; write it as \\xNN");
}

// One line of a sequence, split into words and quoted strings.
class Line {
 public:
  Line(const std::string& text, int number) : number_(number) { Split(text); }

  bool Empty() const { return words_.empty(); }
  const std::string& Op() const { return words_.at(0); }
  std::size_t Size() const { return words_.size(); }
  bool IsNull(std::size_t i) const { return !quoted_.at(i) && words_.at(i) == "-"; }
  const std::string& Word(std::size_t i) const {
    if (i >= words_.size()) Fail("line " + std::to_string(number_) + ": too few operands");
    return words_[i];
  }
  // A number: decimal, 0x hex, MAX (all bits set), or flag names joined by "|".
  std::uint32_t Number(std::size_t i) const;

 private:
  void Split(const std::string& text);
  std::string Quoted(const std::string& text, std::size_t& pos, bool utf8) const;

  int number_;
  std::vector<std::string> words_;
  std::vector<bool> quoted_;
};

const std::map<std::string, std::uint32_t>& Names() {
  static const std::map<std::string, std::uint32_t> names = {
      {"MAX", 0xFFFFFFFFu},         {"rxchar", EV_RXCHAR},      {"txempty", EV_TXEMPTY},
      {"rxflag", EV_RXFLAG},        {"txabort", PURGE_TXABORT}, {"rxabort", PURGE_RXABORT},
      {"txclear", PURGE_TXCLEAR},   {"rxclear", PURGE_RXCLEAR}, {"sz", REG_SZ},
      {"expand_sz", REG_EXPAND_SZ}, {"binary", REG_BINARY},     {"dword", REG_DWORD},
      {"multi_sz", REG_MULTI_SZ},   {"none", REG_NONE},         {"qword", REG_QWORD}};
  return names;
}

std::uint32_t Line::Number(std::size_t i) const {
  std::uint32_t value = 0;
  std::stringstream parts(Word(i));
  std::string part;
  while (std::getline(parts, part, '|')) {
    auto named = Names().find(part);
    if (named != Names().end()) {
      value |= named->second;
    } else {
      value |= static_cast<std::uint32_t>(std::stoul(part, nullptr, 0));
    }
  }
  return value;
}

std::string Line::Quoted(const std::string& text, std::size_t& pos, bool utf8) const {
  std::string out;
  for (++pos; pos < text.size() && text[pos] != '"'; ++pos) {
    unsigned char c = static_cast<unsigned char>(text[pos]);
    if (c == '\\' && pos + 1 < text.size()) {
      char e = text[++pos];
      if (e == 'r')
        out += '\r';
      else if (e == 'n')
        out += '\n';
      else if (e == 't')
        out += '\t';
      else if (e == '0')
        out += '\0';
      else if (e == 'x') {
        out += static_cast<char>(std::stoi(text.substr(pos + 1, 2), nullptr, 16));
        pos += 2;
      } else
        out += e;
    } else if (c >= 0x80 && !utf8) {
      int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : 1;
      std::uint32_t cp = c & (0x3F >> extra);
      for (int k = 0; k < extra; ++k) cp = (cp << 6) | (text.at(++pos) & 0x3F);
      out += ByteOf1251(cp);
    } else {
      out += static_cast<char>(c);
    }
  }
  if (pos >= text.size()) Fail("line " + std::to_string(number_) + ": unterminated string");
  ++pos;
  // "text"*N repeats the text N times.
  if (pos < text.size() && text[pos] == '*') {
    std::size_t end = text.find_first_of(" \t", pos);
    int times = std::stoi(text.substr(pos + 1, end - pos - 1));
    std::string once = out;
    for (int k = 1; k < times; ++k) out += once;
    pos = end == std::string::npos ? text.size() : end;
  }
  return out;
}

void Line::Split(const std::string& text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    if (text[pos] == ' ' || text[pos] == '\t' || text[pos] == '\r') {
      ++pos;
    } else if (text[pos] == '#' && words_.empty()) {
      return;
    } else if (text[pos] == '"' || text.compare(pos, 2, "u\"") == 0) {
      // u"..." keeps its UTF-8 text as it is, for the wide functions.
      bool utf8 = text[pos] == 'u';
      pos += utf8 ? 1 : 0;
      std::string s = Quoted(text, pos, utf8);
      words_.push_back(s);
      quoted_.push_back(true);
    } else {
      std::size_t end = text.find_first_of(" \t\r", pos);
      words_.push_back(text.substr(pos, end - pos));
      quoted_.push_back(false);
      pos = end == std::string::npos ? text.size() : end;
    }
  }
}

#ifdef _WIN32
// Runs a program and waits for it: the registry editor for imports and exports.
DWORD RunProgram(std::string commandLine) {
  // Its messages would mix with the results: they go nowhere.
  SECURITY_ATTRIBUTES inherit{sizeof inherit, nullptr, TRUE};
  HANDLE nowhere =
      CreateFileA("NUL", GENERIC_READ | GENERIC_WRITE, 0, &inherit, OPEN_EXISTING, 0, nullptr);
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = startup.hStdOutput = startup.hStdError = nowhere;
  PROCESS_INFORMATION process{};
  BOOL started = CreateProcessA(nullptr, commandLine.data(), nullptr, nullptr, TRUE, 0, nullptr,
                                nullptr, &startup, &process);
  CloseHandle(nowhere);
  if (!started) return GetLastError();
  WaitForSingleObject(process.hProcess, INFINITE);
  DWORD code = 0;
  GetExitCodeProcess(process.hProcess, &code);
  CloseHandle(process.hProcess);
  CloseHandle(process.hThread);
  return code;
}

// setw SLOT NAME TYPE u"TEXT": a value the A functions cannot write (text outside
// Windows-1251), stored through the wide function with its terminating zero.
LONG SetWide(HKEY key, const std::string& name, DWORD type, const std::string& utf8) {
  std::string all = utf8 + '\0';
  int n = MultiByteToWideChar(CP_UTF8, 0, all.data(), static_cast<int>(all.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(n), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, all.data(), static_cast<int>(all.size()), wide.data(), n);
  int m = MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, nullptr, 0);
  std::wstring wideName(static_cast<std::size_t>(m), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, name.c_str(), -1, wideName.data(), m);
  return RegSetValueExW(key, wideName.c_str(), 0, type, reinterpret_cast<const BYTE*>(wide.data()),
                        static_cast<DWORD>(wide.size() * sizeof(wchar_t)));
}

DWORD ResetRegistry() {
  RegDeleteTreeA(HKEY_LOCAL_MACHINE, "Software\\TAVEX");
  RegDeleteTreeA(HKEY_CURRENT_USER, "Software\\TAVEX");
  return 0;
}
DWORD ImportRegistryFile(const std::string& path) {
  return RunProgram("regedit /S " + path);
}
DWORD ExportRegistryKey(const std::string& path) {
  return RunProgram("regedit /E " + path + " HKEY_LOCAL_MACHINE\\Software\\TAVEX");
}
#endif

class Runner {
 public:
  Runner(std::string work, std::string fixtures, std::string comPort)
      : work_(std::move(work)), fixtures_(std::move(fixtures)), comPort_(std::move(comPort)) {}
  // Whatever the sequence left open is closed, as a well-behaved program does.
  ~Runner() {
    for (auto& [name, key] : keys_) {
      if (key != nullptr) RegCloseKey(key);
    }
    if (com_ != INVALID_HANDLE_VALUE) CloseHandle(com_);
    if (event_ != nullptr) CloseHandle(event_);
  }
  Runner(const Runner&) = delete;
  Runner& operator=(const Runner&) = delete;

  void Run(const Line& line);
  // Runs every line of a sequence file (names without a folder are beside the first one).
  void RunFile(const std::string& path);

 private:
  void Include(const std::string& name);

  std::string WorkPath(const std::string& name) const { return work_ + kPathSeparator + name; }
  HKEY& Slot(const std::string& name) { return keys_[name]; }
  static HKEY Root(const std::string& name);

  void Registry(const Line& line);
  void Tree(HKEY root, const std::string& path);
  void Query(const Line& line);
  void Enum(const Line& line);
  void Set(const Line& line);
  void Profile(const Line& line);
  void Serial(const Line& line);
  void Read(const Line& line);
  void Wait(const Line& line);
  static void Feed(const std::string& marker);

  std::string folder_;
  std::string work_;
  std::string fixtures_;
  std::string comPort_;
  std::map<std::string, HKEY> keys_;
  HANDLE com_ = INVALID_HANDLE_VALUE;
  HANDLE event_ = nullptr;
  bool overlapped_ = true;
  DWORD mask_ = 0;
};

HKEY Runner::Root(const std::string& name) {
  if (name == "HKLM") return HKEY_LOCAL_MACHINE;
  if (name == "HKCU") return HKEY_CURRENT_USER;
  Fail("unknown root " + name);
}

void Runner::Run(const Line& line) {
  const std::string& op = line.Op();
  if (op == "case") {
    std::printf("case %s\n", line.Word(1).c_str());
  } else if (op == "include") {
    Include(line.Word(1));
  } else if (op == "reset" || op == "import" || op == "export" || op == "create" || op == "setw" ||
             op == "run" || op == "export-reg" || op == "open" || op == "close" || op == "delete" ||
             op == "set" || op == "query" || op == "enum" || op == "tree") {
    Registry(line);
  } else if (op == "file" || op == "file16" || op == "get" || op == "write" || op == "dump") {
    Profile(line);
  } else {
    Serial(line);
  }
  std::fflush(stdout);
}

void Runner::Registry(const Line& line) {
  const std::string& op = line.Op();
  if (op == "reset") {
    std::printf("  reset -> %lu\n", static_cast<unsigned long>(ResetRegistry()));
  } else if (op == "import") {
    const std::string& name = line.Word(1);
    std::string path =
        name.rfind("work:", 0) == 0 ? WorkPath(name.substr(5)) : fixtures_ + kPathSeparator + name;
    std::printf("  import %s -> %lu\n", name.c_str(),
                static_cast<unsigned long>(ImportRegistryFile(path)));
#ifdef _WIN32
  } else if (op == "setw") {
    LONG rc = SetWide(Slot(line.Word(1)), line.Word(2), line.Number(3), line.Word(4));
    std::printf("  setw \"%s\" -> %ld\n", line.Word(2).c_str(), static_cast<long>(rc));
  } else if (op == "run") {
    std::printf("  run %s -> %lu\n", line.Word(1).c_str(),
                static_cast<unsigned long>(RunProgram(line.Word(1))));
  } else if (op == "export-reg") {
    std::printf("  export-reg %s -> %lu\n", line.Word(1).c_str(),
                static_cast<unsigned long>(RunProgram("reg export HKLM\\Software\\TAVEX " +
                                                      WorkPath(line.Word(1)) + " /y")));
#else
  } else if (op == "setw" || op == "run" || op == "export-reg") {
    // Steps that need the Windows API itself or its programs; they belong in windows-*.seq,
    // which run under Wine only.
    Fail(op + " is a step for Windows only; here it cannot run");
#endif
  } else if (op == "export") {
    std::printf("  export %s -> %lu\n", line.Word(1).c_str(),
                static_cast<unsigned long>(ExportRegistryKey(WorkPath(line.Word(1)))));
  } else if (op == "create" || op == "open") {
    HKEY& key = Slot(line.Word(1));
    if (key != nullptr) RegCloseKey(key);
    key = nullptr;
    LONG rc;
    DWORD disposition = 0;
    if (op == "create") {
      rc = RegCreateKeyExA(Root(line.Word(2)), line.Word(3).c_str(), 0, nullptr, 0, KEY_ALL_ACCESS,
                           nullptr, &key, &disposition);
    } else {
      rc = RegOpenKeyExA(Root(line.Word(2)), line.Word(3).c_str(), 0, KEY_ALL_ACCESS, &key);
    }
    std::printf("  %s %s %s -> %ld", op.c_str(), line.Word(2).c_str(), Show(line.Word(3)).c_str(),
                static_cast<long>(rc));
    if (op == "create" && rc == 0) {
      std::printf(disposition == REG_CREATED_NEW_KEY ? " new" : " existing");
    }
    std::printf("\n");
  } else if (op == "close") {
    std::printf("  close -> %ld\n", static_cast<long>(RegCloseKey(Slot(line.Word(1)))));
    Slot(line.Word(1)) = nullptr;
  } else if (op == "delete") {
    LONG rc = RegDeleteValueA(Slot(line.Word(1)), line.Word(2).c_str());
    std::printf("  delete %s -> %ld\n", Show(line.Word(2)).c_str(), static_cast<long>(rc));
  } else if (op == "tree") {
    Tree(Root(line.Word(1)), line.Word(2));
  } else if (op == "set") {
    Set(line);
  } else if (op == "query") {
    Query(line);
  } else if (op == "enum") {
    Enum(line);
  } else {
    Fail("unknown registry operation " + op);
  }
}

// set SLOT NAME sz|expand_sz TEXT (its terminating zero added) | set SLOT NAME dword N |
// set SLOT NAME raw TYPE BYTES (exactly these bytes).
void Runner::Set(const Line& line) {
  const std::string& name = line.Word(2);
  const std::string& kind = line.Word(3);
  std::string data;
  DWORD type = 0;
  DWORD size = 0xFFFFFFFFu;
  if (kind == "dword") {
    std::uint32_t v = line.Number(4);
    type = REG_DWORD;
    for (int i = 0; i < 4; ++i) data += static_cast<char>((v >> (8 * i)) & 0xFF);
  } else if (kind == "raw") {
    // raw TYPE BYTES [SIZE]: SIZE (fewer than the bytes) leaves the rest just past the data.
    type = line.Number(4);
    data = line.Word(5);
    if (line.Size() > 6) size = line.Number(6);
  } else {
    type = line.Number(3);
    data = line.Word(4) + '\0';
  }
  LONG rc = RegSetValueExA(Slot(line.Word(1)), name.c_str(), 0, type,
                           reinterpret_cast<const BYTE*>(data.data()),
                           size < data.size() ? size : static_cast<DWORD>(data.size()));
  std::printf("  set %s %s -> %ld\n", Show(name).c_str(), kind.c_str(), static_cast<long>(rc));
}

// query SLOT NAME CAPACITY
void Runner::Query(const Line& line) {
  const std::string& name = line.Word(2);
  DWORD capacity = line.Number(3);
  std::vector<BYTE> buffer(capacity + 1, 0xAA);
  DWORD type = 0xEEEE;
  DWORD size = capacity;
  LONG rc =
      RegQueryValueExA(Slot(line.Word(1)), name.c_str(), nullptr, &type, buffer.data(), &size);
  std::printf("  query %s %lu -> %ld", Show(name).c_str(), static_cast<unsigned long>(capacity),
              static_cast<long>(rc));
  if (rc == 0 || rc == ERROR_MORE_DATA) {
    std::printf(" type=%lu size=%lu", static_cast<unsigned long>(type),
                static_cast<unsigned long>(size));
  }
  if (rc == 0) {
    std::printf(" %s", Show(std::string(buffer.begin(), buffer.begin() + size)).c_str());
  }
  std::printf("\n");
}

// enum SLOT NAMECAPACITY DATACAPACITY: every value until the first failure.
void Runner::Enum(const Line& line) {
  DWORD nameCapacity = line.Number(2);
  DWORD dataCapacity = line.Number(3);
  for (DWORD index = 0;; ++index) {
    std::vector<char> name(nameCapacity + 1, 0);
    std::vector<BYTE> data(dataCapacity + 1, 0);
    DWORD nameSize = nameCapacity;
    DWORD dataSize = dataCapacity;
    DWORD type = 0;
    LONG rc = RegEnumValueA(Slot(line.Word(1)), index, name.data(), &nameSize, nullptr, &type,
                            data.data(), &dataSize);
    std::printf("  enum %lu -> %ld", static_cast<unsigned long>(index), static_cast<long>(rc));
    if (rc == ERROR_MORE_DATA) {
      std::printf(" type=%lu namesize=%lu size=%lu", static_cast<unsigned long>(type),
                  static_cast<unsigned long>(nameSize), static_cast<unsigned long>(dataSize));
    }
    if (rc == 0) {
      std::printf(" %s type=%lu size=%lu %s", Show(std::string(name.data(), nameSize)).c_str(),
                  static_cast<unsigned long>(type), static_cast<unsigned long>(dataSize),
                  Show(std::string(data.begin(), data.begin() + dataSize)).c_str());
    }
    std::printf("\n");
    if (rc != 0) break;
  }
}

// Upper-cased ASCII and Windows-1251 letters: the order both sides print names in, since a
// registry may keep keys and values in any order.
std::string SortKey(const std::string& name) {
  std::string key = name;
  for (char& c : key) {
    auto b = static_cast<unsigned char>(c);
    if ((b >= 'a' && b <= 'z') || b >= 0xE0) c = static_cast<char>(b - 0x20);
  }
  return key + '\0' + name;
}

// tree ROOT PATH: every value of the key and of its subkeys, read through the A functions,
// names sorted.
void Runner::Tree(HKEY root, const std::string& path) {
  HKEY key = nullptr;
  LONG rc = RegOpenKeyExA(root, path.c_str(), 0, KEY_ALL_ACCESS, &key);
  if (rc != 0) {
    std::printf("  key %s -> %ld\n", Show(path).c_str(), static_cast<long>(rc));
    return;
  }
  std::printf("  key %s\n", Show(path).c_str());
  std::map<std::string, std::string> values;
  for (DWORD index = 0;; ++index) {
    std::vector<char> name(16384);
    std::vector<BYTE> data(1 << 20);
    DWORD nameSize = static_cast<DWORD>(name.size());
    DWORD dataSize = static_cast<DWORD>(data.size());
    DWORD type = 0;
    rc = RegEnumValueA(key, index, name.data(), &nameSize, nullptr, &type, data.data(), &dataSize);
    if (rc != 0) {
      if (rc != static_cast<LONG>(ERROR_NO_MORE_ITEMS)) {
        std::printf("  values -> %ld\n", static_cast<long>(rc));
      }
      break;
    }
    std::string shown = Show(std::string(name.data(), nameSize));
    std::string line = "    " + shown + " type=" + std::to_string(type) +
                       " size=" + std::to_string(dataSize) + " " +
                       Show(std::string(data.begin(), data.begin() + dataSize));
    values[SortKey(std::string(name.data(), nameSize))] += line + "\n";
  }
  for (const auto& [sortKey, line] : values) std::printf("%s", line.c_str());
  std::map<std::string, std::string> subkeys;
  for (DWORD index = 0;; ++index) {
    std::vector<char> name(1024);
    DWORD nameSize = static_cast<DWORD>(name.size());
    if (RegEnumKeyExA(key, index, name.data(), &nameSize, nullptr, nullptr, nullptr, nullptr) !=
        0) {
      break;
    }
    std::string sub(name.data(), nameSize);
    subkeys[SortKey(sub)] = sub;
  }
  RegCloseKey(key);
  for (const auto& [sortKey, sub] : subkeys) Tree(root, path + "\\" + sub);
}

std::string Utf16LeWithMark(const std::string& utf8) {
  std::string out = "\xFF\xFE";
  auto unit = [&](std::uint32_t u) {
    out += static_cast<char>(u & 0xFF);
    out += static_cast<char>(u >> 8);
  };
  for (std::size_t i = 0; i < utf8.size();) {
    auto c = static_cast<unsigned char>(utf8[i]);
    int extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
    std::uint32_t cp = extra == 0 ? c : c & (0x3F >> extra);
    for (int k = 1; k <= extra; ++k) cp = (cp << 6) | (utf8.at(i + k) & 0x3F);
    i += static_cast<std::size_t>(extra) + 1;
    if (cp >= 0x10000) {
      unit(0xD800 + ((cp - 0x10000) >> 10));
      unit(0xDC00 + ((cp - 0x10000) & 0x3FF));
    } else {
      unit(cp);
    }
  }
  return out;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return "(no file)";
  std::ostringstream all;
  all << in.rdbuf();
  return Show(all.str(), false);
}

void Runner::Profile(const Line& line) {
  const std::string& op = line.Op();
  const std::string path = WorkPath(line.Word(1));
  if (op == "file" || op == "file16") {
    // file NAME PARTS...: the parts, joined, are the whole file. file16 NAME u"PARTS"...: the
    // same UTF-8 text as UTF-16LE with a byte-order mark, as a registry editor writes it.
    std::string bytes;
    for (std::size_t i = 2; i < line.Size(); ++i) bytes += line.Word(i);
    if (op == "file16") bytes = Utf16LeWithMark(bytes);
    std::ofstream(path, std::ios::binary | std::ios::trunc) << bytes;
  } else if (op == "dump") {
    std::printf("  dump %s %s\n", line.Word(1).c_str(), ReadFileBytes(path).c_str());
  } else if (op == "get") {
    // get FILE SECTION KEY DEFAULT CAPACITY
    // "-" for a null section or key: the names, each ending in a zero, and one zero more.
    DWORD capacity = line.Number(5);
    std::vector<char> buffer(capacity + 1, '\x55');
    auto arg = [&](std::size_t i) { return line.IsNull(i) ? nullptr : line.Word(i).c_str(); };
    DWORD n = GetPrivateProfileStringA(arg(2), arg(3), line.Word(4).c_str(), buffer.data(),
                                       capacity, path.c_str());
    const bool list = line.IsNull(2) || line.IsNull(3);
    const DWORD shown = list ? std::min<DWORD>(n + 1, capacity) : n;
    std::printf("  get %s %s -> %lu %s\n", line.IsNull(2) ? "-" : Show(line.Word(2)).c_str(),
                line.IsNull(3) ? "-" : Show(line.Word(3)).c_str(), static_cast<unsigned long>(n),
                Show(std::string(buffer.data(), shown)).c_str());
  } else {
    // write FILE SECTION KEY VALUE, "-" for a missing one
    auto arg = [&](std::size_t i) { return line.IsNull(i) ? nullptr : line.Word(i).c_str(); };
    BOOL ok = WritePrivateProfileStringA(arg(2), arg(3), arg(4), path.c_str());
    std::printf("  write %s %s %s -> %d\n", line.IsNull(2) ? "-" : Show(line.Word(2)).c_str(),
                line.IsNull(3) ? "-" : Show(line.Word(3)).c_str(),
                line.IsNull(4) ? "-" : Show(line.Word(4)).c_str(), ok ? 1 : 0);
  }
}

std::string Hex(const std::string& bytes) {
  std::string out;
  char pair[4];
  for (char ch : bytes) {
    auto c = static_cast<unsigned char>(ch);
    std::snprintf(pair, sizeof pair, "%02x", c);
    out += pair;
  }
  return out.empty() ? "-" : out;
}

// Asks the driver on the far end of the line to act, and waits until it has.
void Runner::Feed(const std::string& marker) {
  std::printf("%s\n", marker.c_str());
  std::fflush(stdout);
  char answer[64];
  if (std::fgets(answer, sizeof answer, stdin) == nullptr) Fail("no driver on standard input");
}

void Runner::Serial(const Line& line) {
  const std::string& op = line.Op();
  if (op == "comopen") {
    // comopen [sync]: overlapped unless "sync" (then reads block in ReadFile itself).
    overlapped_ = !(line.Size() > 1 && line.Word(1) == "sync");
    com_ = CreateFileA(comPort_.c_str(), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                       overlapped_ ? FILE_FLAG_OVERLAPPED : 0, nullptr);
    DWORD rc = com_ == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    if (rc == 0) {
      event_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
      DCB dcb{};
      dcb.DCBlength = sizeof dcb;
      if (!SetupComm(com_, 4096, 4096) || !GetCommState(com_, &dcb)) rc = GetLastError();
      dcb.BaudRate = 9600;
      dcb.ByteSize = 8;
      dcb.Parity = NOPARITY;
      dcb.StopBits = ONESTOPBIT;
      dcb.fBinary = TRUE;
      if (rc == 0 && !SetCommState(com_, &dcb)) rc = GetLastError();
    }
    std::printf("  comopen -> %lu\n", static_cast<unsigned long>(rc));
  } else if (op == "comclose") {
    std::printf("  comclose -> %d\n", CloseHandle(com_) ? 1 : 0);
    CloseHandle(event_);
    com_ = INVALID_HANDLE_VALUE;
    event_ = nullptr;
  } else if (op == "timeouts") {
    COMMTIMEOUTS t{};
    t.ReadIntervalTimeout = line.Number(1);
    t.ReadTotalTimeoutMultiplier = line.Number(2);
    t.ReadTotalTimeoutConstant = line.Number(3);
    std::printf("  timeouts %s %s %s -> %d\n", line.Word(1).c_str(), line.Word(2).c_str(),
                line.Word(3).c_str(), SetCommTimeouts(com_, &t) ? 1 : 0);
  } else if (op == "mask") {
    mask_ = line.Number(1);
    std::printf("  mask %s -> %d\n", line.Word(1).c_str(), SetCommMask(com_, mask_) ? 1 : 0);
  } else if (op == "feed") {
    Feed("@feed 0 " + Hex(line.Word(1)));
    std::printf("  feed %s\n", Show(line.Word(1)).c_str());
  } else if (op == "feedafter") {
    Feed("@feed " + line.Word(1) + " " + Hex(line.Word(2)));
    std::printf("  feed after %s ms %s\n", line.Word(1).c_str(), Show(line.Word(2)).c_str());
  } else if (op == "linecheck") {
    Feed("@drain");
  } else if (op == "pause") {
    Sleep(line.Number(1));
  } else if (op == "purge") {
    std::printf("  purge %s -> %d\n", line.Word(1).c_str(),
                PurgeComm(com_, line.Number(1)) ? 1 : 0);
  } else if (op == "status") {
    DWORD errors = 0;
    COMSTAT stat{};
    BOOL ok = ClearCommError(com_, &errors, &stat);
    std::printf("  status -> %d errors=%lu in=%lu out=%lu\n", ok ? 1 : 0,
                static_cast<unsigned long>(errors), static_cast<unsigned long>(stat.cbInQue),
                static_cast<unsigned long>(stat.cbOutQue));
  } else if (op == "send") {
    OVERLAPPED ov{};
    ov.hEvent = event_;
    ResetEvent(event_);
    DWORD done = 0;
    const std::string& bytes = line.Word(1);
    BOOL ok = WriteFile(com_, bytes.data(), static_cast<DWORD>(bytes.size()), &done,
                        overlapped_ ? &ov : nullptr);
    if (!ok && GetLastError() == ERROR_IO_PENDING) ok = GetOverlappedResult(com_, &ov, &done, TRUE);
    std::printf("  send %s -> %d written=%lu\n", Show(bytes).c_str(), ok ? 1 : 0,
                static_cast<unsigned long>(done));
  } else if (op == "read") {
    Read(line);
  } else if (op == "wait") {
    Wait(line);
  } else {
    Fail("unknown operation " + op);
  }
}

// read COUNT [LOW HIGH]: one read under the current time-outs; with LOW and HIGH, whether it took
// between LOW and HIGH milliseconds.
void Runner::Read(const Line& line) {
  DWORD count = line.Number(1);
  std::vector<char> buffer(count + 1, 0);
  OVERLAPPED ov{};
  ov.hEvent = event_;
  ResetEvent(event_);
  DWORD got = 0;
  auto start = std::chrono::steady_clock::now();
  BOOL ok = ReadFile(com_, buffer.data(), count, &got, overlapped_ ? &ov : nullptr);
  bool stuck = false;
  if (!ok && GetLastError() == ERROR_IO_PENDING) {
    // A read that no time-out ends is cut off, so that the sequence goes on.
    stuck = WaitForSingleObject(event_, kStuckMs) != WAIT_OBJECT_0;
    if (stuck) CancelIo(com_);
    ok = GetOverlappedResult(com_, &ov, &got, TRUE);
  }
  if (stuck) {
    std::printf("  read %lu -> still pending after %lu ms\n", static_cast<unsigned long>(count),
                static_cast<unsigned long>(kStuckMs));
    return;
  }
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                  start)
                .count();
  std::printf("  read %lu -> %d got=%lu %s", static_cast<unsigned long>(count), ok ? 1 : 0,
              static_cast<unsigned long>(got), Show(std::string(buffer.data(), got)).c_str());
  if (line.Size() > 3) {
    long low = static_cast<long>(line.Number(2));
    long high = static_cast<long>(line.Number(3));
    if (ms < low) {
      std::printf(" took less than %ld ms", low);
    } else if (ms > high) {
      std::printf(" took more than %ld ms", high);
    } else {
      std::printf(" took %ld..%ld ms", low, high);
    }
  }
  std::printf("\n");
}

// wait MS: WaitCommEvent for up to MS ms. A wait still pending then is ended by setting the same
// mask again, which completes it with no events.
void Runner::Wait(const Line& line) {
  DWORD limit = line.Number(1);
  DWORD events = 0;
  DWORD unused = 0;
  OVERLAPPED ov{};
  ov.hEvent = event_;
  ResetEvent(event_);
  BOOL ok = WaitCommEvent(com_, &events, &ov);
  if (!ok && GetLastError() != ERROR_IO_PENDING) {
    std::printf("  wait -> failed %lu\n", static_cast<unsigned long>(GetLastError()));
    return;
  }
  if (!ok && WaitForSingleObject(event_, limit) != WAIT_OBJECT_0) {
    std::printf("  wait %lu -> nothing", static_cast<unsigned long>(limit));
    SetCommMask(com_, mask_);
    ok = GetOverlappedResult(com_, &ov, &unused, TRUE);
    std::printf(", ended by mask -> %d events=0x%lx", ok ? 1 : 0,
                static_cast<unsigned long>(events));
    if (!ok) std::printf(" error=%lu", static_cast<unsigned long>(GetLastError()));
    std::printf("\n");
    return;
  }
  if (!ok) ok = GetOverlappedResult(com_, &ov, &unused, TRUE);
  std::printf("  wait %lu -> %d events=0x%lx", static_cast<unsigned long>(limit), ok ? 1 : 0,
              static_cast<unsigned long>(events));
  if (!ok) std::printf(" error=%lu", static_cast<unsigned long>(GetLastError()));
  std::printf("\n");
}

void Runner::RunFile(const std::string& path) {
  if (folder_.empty()) folder_ = path.substr(0, path.find_last_of("/\\") + 1);
  std::ifstream in(path, std::ios::binary);
  if (!in) Fail("cannot read " + path);
  std::string text;
  int number = 0;
  while (std::getline(in, text)) {
    try {
      Line line(text, ++number);
      if (!line.Empty()) Run(line);
    } catch (const std::invalid_argument& e) {
      Fail(path + " line " + std::to_string(number) + ": bad number");
    }
  }
}

void Runner::Include(const std::string& name) {
  RunFile(folder_ + name);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s SEQUENCE WORKDIR FIXTURES [COMPORT]\n", argv[0]);
    return 2;
  }
  Runner runner(argv[2], argv[3], argc > 4 ? argv[4] : "COM1");
  try {
    runner.RunFile(argv[1]);
  } catch (const std::exception& e) {
    std::printf("error: %s\n", e.what());
    return 2;
  }
  return 0;
}
