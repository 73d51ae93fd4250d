// SPDX-License-Identifier: GPL-3.0-or-later
// The port's error texts come from the "default" catalogue of the user's language. The table is
// read once per process, so this program holds a single test that sets up the catalogue first.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "serial/ComPort.h"

namespace tavex {
namespace {

namespace fs = std::filesystem;

TEST(PortMessages, TextsAndSuffixComeFromTheCatalogue) {
  fs::path root = fs::temp_directory_path() / ("tavex-port-messages-" + std::to_string(getpid()));
  fs::create_directories(root / "ru" / "LC_MESSAGES");
  fs::path po = root / "default.po";
  // The translated suffix carries a "%s": it must come out as text, never be formatted.
  std::ofstream(po) << "msgid \"\"\nmsgstr \"\"\n\"Content-Type: text/plain; charset=UTF-8\\n\"\n\n"
                       "msgid \"Unable to open com port\"\n"
                       "msgstr \"Не удалось открыть порт\"\n\n"
                       "msgid \" (win error code: %d)\"\n"
                       "msgstr \" (%s код ошибки: %d)\"\n";
  std::string command = "msgfmt -o '" + (root / "ru" / "LC_MESSAGES" / "default.mo").string() +
                        "' '" + po.string() + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  ::setenv("TAVEX_LOCALE_DIR", root.c_str(), 1);
  ::setenv("LANG", "ru_RU.UTF-8", 1);

  EComPort open(peOpenFailed, platform::Errno{13});
  EComPort busy(peOpenFailed, platform::Errno{16});
  EXPECT_STREQ(open.what(), "Не удалось открыть порт (%s код ошибки: 13)");
  EXPECT_STREQ(busy.what(), "Не удалось открыть порт (%s код ошибки: 16)");
  EXPECT_STREQ(EComPort(peSetWhileConnected).what(), "Cannot set property while connected")
      << "untranslated";
  EXPECT_EQ(ComErrorText(peOpenFailed), "Не удалось открыть порт");

  fs::remove_all(root);
  ::unsetenv("TAVEX_LOCALE_DIR");
  ::unsetenv("LANG");
}

}  // namespace
}  // namespace tavex
