// SPDX-License-Identifier: GPL-3.0-or-later
// The program itself, build/bin/tavex, started on port settings in each form a Windows machine
// gives them: it polls the clock on the port the hive names.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <string>
#include <thread>

#include "platform/text_codec.h"
#include "support.h"

extern char** environ;

namespace tavex::test {
namespace {

using namespace std::chrono_literals;

const std::string kFixtures = TAVEX_REG_FIXTURES;

std::u16string Utf16(const std::string& utf8) {
  std::u16string units;
  EXPECT_TRUE(platform::Utf8ToUtf16(utf8, units));
  return units;
}

std::string Replaced(std::string text, const std::string& from, const std::string& to) {
  const std::size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// hex(2) data: the UTF-16LE bytes of the text and its terminator.
std::string HexText(const std::string& utf8) {
  std::string out;
  for (char c : platform::ToUtf16Le(Utf16(utf8) + u'\0')) {
    char byte[4];
    std::snprintf(byte, sizeof byte, "%02x,", static_cast<unsigned char>(c));
    out += byte;
  }
  out.pop_back();
  return out;
}

// The hive file for a port at `path`, in one of the forms Windows writes.
using HiveMaker = std::string (*)(const std::string& path);

const struct {
  const char* what;
  HiveMaker make;
} kForms[] = {
    {"registry editor export, UTF-16LE",
     [](const std::string& path) {
       const std::string exported = platform::ToUtf16Le(u"\"Port\"=\"ttyUSB0\"");
       return Replaced(ReadFile(kFixtures + "/regedit-export.reg"), exported,
                       platform::ToUtf16Le(Utf16("\"Port\"=\"" + path + "\"")));
     }},
    {"REGEDIT4, Windows-1251",
     [](const std::string& path) {
       return Replaced(ReadFile(kFixtures + "/regedit4-1251.reg"), "\"Port\"=\"ttyUSB0\"",
                       "\"Port\"=\"" + path + "\"");
     }},
    {"port as REG_EXPAND_SZ",
     [](const std::string& path) {
       std::u16string units = platform::FromUtf16Le(ReadFile(kFixtures + "/expand-port.reg"));
       std::string text = Replaced(platform::Utf16ToUtf8(units), HexText("ttyUSB0"), HexText(path));
       return "\xFF\xFE" + platform::ToUtf16Le(Utf16(text.substr(3)));
     }},
    {"unreadable values in another key, UTF-8",
     [](const std::string& path) {
       return "Windows Registry Editor Version 5.00\n\n[HKEY_LOCAL_MACHINE\\Software\\Other]\n"
              "\"Note\"=\"café\"\n\"Lines\"=\"line1\\r\\nline2\"\n\"Tab\"=\"a\\tb\"\n\n"
              "[HKEY_LOCAL_MACHINE\\Software\\TAVEX\\ComPort]\n\"Port\"=\"" +
              path +
              "\"\n\"BaudRate\"=\"4800\"\n\"StopBits\"=\"1\"\n\"DataBits\"=\"8\"\n"
              "\"Parity\"=\"None\"\n\"FlowControl\"=\"None\"\n";
     }},
};

// Starts the program with its settings in `registry`; ends it when the object goes.
class Program {
 public:
  Program(const std::string& registry, const std::string& output) {
    const char* bin = std::getenv("TAVEX_TEST_BIN");
    const std::string program = std::string(bin ? bin : TAVEX_TEST_BIN_DIR) + "/tavex";
    ScopedEnv dir("TAVEX_REGISTRY_DIR", registry);
    ScopedEnv state("XDG_STATE_HOME", registry + "/state");
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output.c_str(),
                                     O_WRONLY | O_CREAT | O_TRUNC, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::string name = program;
    char* argv[] = {name.data(), nullptr};
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Program() {
    if (pid_ <= 0) return;
    kill(pid_, SIGTERM);
    int status = 0;
    waitpid(pid_, &status, 0);
  }
  bool Started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};

TEST(SettingsFiles, TheProgramPollsThePortAWindowsHiveNames) {
  for (const auto& form : kForms) {
    ScratchDir dir("tavex-settings");
    Simulator sim(dir.Path(), {});
    if (!sim.Running()) GTEST_SKIP() << "tavex-clocksim is not built";
    std::filesystem::create_directories(dir / "registry");
    WriteFile(dir / "registry/HKEY_LOCAL_MACHINE.reg", form.make(sim.Path()));
    Program program(dir / "registry", dir / "tavex.out");
    ASSERT_TRUE(program.Started()) << form.what;
    const auto deadline = std::chrono::steady_clock::now() + 20s;
    while (sim.Frames().empty() && std::chrono::steady_clock::now() < deadline) {
      std::this_thread::sleep_for(50ms);
    }
    EXPECT_FALSE(sim.Frames().empty()) << form.what << "\n" << ReadFile(dir / "tavex.out");
  }
}

// A save through the store (the simulator registering its line) on a registry editor's export
// keeps it UTF-16LE with every line of it as it was, and adds the new key at the end.
TEST(SettingsFiles, ASaveKeepsAWindowsExportAsItWas) {
  ScratchDir dir("tavex-settings");
  std::filesystem::create_directories(dir / "registry");
  const std::string exported = ReadFile(kFixtures + "/regedit-export.reg");
  const std::string hive = dir / "registry/HKEY_LOCAL_MACHINE.reg";
  WriteFile(hive, exported);
  Simulator sim(dir.Path(), {"--register", dir / "registry"});
  if (!sim.Running()) GTEST_SKIP() << "tavex-clocksim is not built";
  const std::string added = platform::ToUtf16Le(Utf16(
      "[HKEY_LOCAL_MACHINE\\HARDWARE]\r\n\r\n[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP]\r\n\r\n"
      "[HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM]\r\n\"tavexsim"));
  const std::string now = ReadFile(hive);
  EXPECT_EQ(now.substr(0, exported.size()), exported);
  EXPECT_EQ(now.substr(exported.size(), added.size()), added);
}

}  // namespace
}  // namespace tavex::test
