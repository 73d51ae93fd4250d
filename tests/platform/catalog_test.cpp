// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "platform/catalog.h"

namespace tavex::platform {
namespace {

namespace fs = std::filesystem;

// A locale tree in a temporary folder, catalogues compiled with msgfmt.
class CatalogTest : public ::testing::Test {
 protected:
  void SetUp() override {
    root_ = fs::temp_directory_path() /
            ("tavex-catalog-" + std::to_string(::getpid()) + "-" +
             ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(root_);
    fs::create_directories(root_);
    ::setenv("TAVEX_LOCALE_DIR", root_.c_str(), 1);
  }
  void TearDown() override {
    ::unsetenv("TAVEX_LOCALE_DIR");
    ::unsetenv("LANG");
    fs::remove_all(root_);
  }

  void Compile(const std::string& language, const std::string& domain, const std::string& msgid,
               const std::string& msgstr, const std::string& charset = "UTF-8") {
    fs::path dir = root_ / language / "LC_MESSAGES";
    fs::create_directories(dir);
    fs::path po = root_ / (language + "-" + domain + ".po");
    std::ofstream(po) << "msgid \"\"\nmsgstr \"\"\n\"Content-Type: text/plain; charset=" << charset
                      << "\\n\"\n\nmsgid \"" << msgid << "\"\nmsgstr \"" << msgstr << "\"\n";
    std::string command =
        "msgfmt -o '" + (dir / (domain + ".mo")).string() + "' '" + po.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
  }

  fs::path root_;
};

TEST_F(CatalogTest, LanguageIsLangCutBeforeTheDot) {
  ::setenv("LANG", "ru_RU.UTF-8", 1);
  EXPECT_EQ(CatalogLanguage(), "ru_RU");
  ::setenv("LANG", "de", 1);
  EXPECT_EQ(CatalogLanguage(), "de");
}

// The test process never calls setlocale, so its locale is "C", as on a machine where the
// user's language is not installed: the catalogue must still be used.
TEST_F(CatalogTest, TranslatesUnderTheCLocaleAndFallsBackToTheTwoLetterName) {
  Compile("ru", "default", "Unable to open com port", "Не удалось открыть порт");
  ::setenv("LANG", "ru_RU.UTF-8", 1);
  InitCatalogs();
  EXPECT_EQ(Translate("default", "Unable to open com port"), "Не удалось открыть порт");
  EXPECT_EQ(Translate("default", "Not in the catalogue"), "Not in the catalogue");
  EXPECT_EQ(Translate("portsetup", "Unable to open com port"), "Unable to open com port");
  EXPECT_EQ(Translate("default", ""), "") << "an empty text must not yield the header";
}

TEST_F(CatalogTest, FullNameWinsAndEveryCharsetComesOutAsUtf8) {
  Compile("uk", "portsetup", "Port", "wrong");
  // "Порт" in Windows-1251.
  Compile("uk_UA", "portsetup", "Port", "\xCF\xEE\xF0\xF2", "CP1251");
  ::setenv("LANG", "uk_UA.CP1251", 1);
  InitCatalogs();
  EXPECT_EQ(Translate("portsetup", "Port"), "Порт");
}

TEST_F(CatalogTest, WithoutACatalogueOrLanguageTheTextStands) {
  ::setenv("LANG", "fr_FR.UTF-8", 1);
  InitCatalogs();
  EXPECT_EQ(Translate("default", "Registry error"), "Registry error");
  ::setenv("LANG", "C", 1);
  Compile("C", "default", "Registry error", "never");
  InitCatalogs();
  EXPECT_EQ(Translate("default", "Registry error"), "Registry error");
}

}  // namespace
}  // namespace tavex::platform
