// SPDX-License-Identifier: GPL-3.0-or-later
// The dialog's captions in the operator's language: a catalogue built here with msgfmt
// translates the caption, group, labels and buttons but never the list entries; a broken
// catalogue or one for another domain leaves every text as it is.
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <memory>

#include "platform/catalog.h"
#include "serial/setup/ComSetupFrm.h"
#include "setup_test_support.h"

namespace tavex {
namespace {

using test::PortListHive;
using test::ScopedEnv;
using test::ScratchDir;

// Translations of every caption, and of list entries, which must not be used.
constexpr const char* kRussianPo = R"(msgid ""
msgstr ""
"Content-Type: text/plain; charset=UTF-8\n"

msgid "Setup"
msgstr "Настройка"

msgid " Settings "
msgstr " Параметры "

msgid "Port"
msgstr "Порт"

msgid "Baud rate"
msgstr "Скорость"

msgid "Data bits"
msgstr "Биты данных"

msgid "Stop bits"
msgstr "Стоп-биты"

msgid "Parity"
msgstr "Чётность"

msgid "Flow control"
msgstr "Управление потоком"

msgid "OK"
msgstr "Да"

msgid "Cancel"
msgstr "Отмена"

msgid "None"
msgstr "Нет"

msgid "Even"
msgstr "Чёт"

msgid "9600"
msgstr "9 600"

msgid "Hardware"
msgstr "Аппаратное"
)";

class ComSetupTranslation : public ::testing::Test {
 protected:
  void TearDown() override {
    lang_.reset();
    localeDir_.reset();
    platform::InitCatalogs();  // back to the environment the process started with
  }

  // Points the catalogue lookup at a fresh folder and the language at `lang`.
  std::filesystem::path UseCatalogFolder(const std::string& lang) {
    lang_.reset();
    localeDir_.reset();
    folder_ = std::make_unique<ScratchDir>("tavex-setup");
    localeDir_ = std::make_unique<ScopedEnv>("TAVEX_LOCALE_DIR", folder_->Path());
    lang_ = std::make_unique<ScopedEnv>("LANG", lang);
    return folder_->Path();
  }

  static std::filesystem::path MessagesDir(const std::filesystem::path& root,
                                           const std::string& language) {
    auto dir = root / language / "LC_MESSAGES";
    std::filesystem::create_directories(dir);
    return dir;
  }

  static void CompileCatalog(const std::filesystem::path& mo) {
    const auto po = mo.parent_path() / "source.po";
    std::ofstream(po) << kRussianPo;
    const std::string command = "msgfmt -o '" + mo.string() + "' '" + po.string() + "'";
    ASSERT_EQ(0, std::system(command.c_str())) << command;
  }

  static void ExpectUntranslated(const TComSetupFrm& dialog) {
    EXPECT_EQ("Setup", dialog.windowTitle());
    EXPECT_EQ(" Settings ", dialog.GroupBox1->title());
    EXPECT_EQ("Port", dialog.Label1->text());
    EXPECT_EQ("Flow control", dialog.Label6->text());
    EXPECT_EQ("OK", dialog.Button1->text());
    EXPECT_EQ("Cancel", dialog.Button2->text());
  }

  PortListHive hive_;
  std::unique_ptr<ScratchDir> folder_;
  std::unique_ptr<ScopedEnv> localeDir_;
  std::unique_ptr<ScopedEnv> lang_;
};

TEST_F(ComSetupTranslation, CatalogueTranslatesCaptionsButNeverListEntries) {
  // The catalogue under the full language name, then under its first two letters only.
  for (const char* folderName : {"ru_RU", "ru"}) {
    SCOPED_TRACE(folderName);
    const auto root = UseCatalogFolder("ru_RU.UTF-8");
    CompileCatalog(MessagesDir(root, folderName) / "portsetup.mo");
    platform::InitCatalogs();

    TComSetupFrm dialog;
    EXPECT_EQ(QString::fromUtf8("Настройка"), dialog.windowTitle());
    EXPECT_EQ(QString::fromUtf8(" Параметры "), dialog.GroupBox1->title());
    EXPECT_EQ(QString::fromUtf8("Порт"), dialog.Label1->text());
    EXPECT_EQ(QString::fromUtf8("Скорость"), dialog.Label2->text());
    EXPECT_EQ(QString::fromUtf8("Управление потоком"), dialog.Label6->text());
    EXPECT_EQ(QString::fromUtf8("Да"), dialog.Button1->text());
    EXPECT_EQ(QString::fromUtf8("Отмена"), dialog.Button2->text());
    EXPECT_GE(dialog.Label6->width(), dialog.Label6->sizeHint().width())
        << "a longer caption must not be cut";

    EXPECT_EQ("9600", dialog.Combo2->Entries()[7]);
    EXPECT_EQ("9600", dialog.Combo2->itemText(7));
    EXPECT_EQ("Even", dialog.Combo5->itemText(2));
    EXPECT_EQ("None", dialog.Combo5->itemText(0));
    EXPECT_EQ("Hardware", dialog.Combo6->itemText(0));
  }
}

TEST_F(ComSetupTranslation, BrokenOrForeignCataloguesLeaveTheTextsAsTheyAre) {
  struct Case {
    const char* name;
    std::function<void(const std::filesystem::path& messages)> make;
  };
  const Case cases[] = {
      {"text instead of a catalogue",
       [](const std::filesystem::path& dir) {
         std::ofstream(dir / "portsetup.mo") << "msgid \"Setup\"\nmsgstr \"Broken\"\n";
       }},
      {"catalogue cut short",
       [](const std::filesystem::path& dir) {
         CompileCatalog(dir / "full.mo");
         std::filesystem::copy_file(dir / "full.mo", dir / "portsetup.mo");
         std::filesystem::resize_file(dir / "portsetup.mo", 40);
       }},
      {"empty file", [](const std::filesystem::path& dir) { std::ofstream(dir / "portsetup.mo"); }},
      {"catalogue of another domain",
       [](const std::filesystem::path& dir) { CompileCatalog(dir / "default.mo"); }},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto root = UseCatalogFolder("ru_RU.UTF-8");
    c.make(MessagesDir(root, "ru_RU"));
    platform::InitCatalogs();
    TComSetupFrm dialog;
    ExpectUntranslated(dialog);
  }
}

}  // namespace
}  // namespace tavex
