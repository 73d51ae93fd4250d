// SPDX-License-Identifier: GPL-3.0-or-later
// The Russian catalogues built with the program: the setup dialog and the port's error texts in
// Russian under LANG=ru_RU.UTF-8 (whether or not that locale is installed), English under LANG=C.
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>

#include "platform/catalog.h"
#include "serial/ComPort.h"
#include "serial/setup/ComSetupFrm.h"
#include "setup_test_support.h"

namespace tavex {
namespace {

using test::ScopedEnv;

// The catalogues the build put beside the programs.
const std::string kBuiltCatalogues = std::string(TAVEX_TEST_BIN_DIR) + "/locale";

class ShippedCatalogue : public ::testing::Test {
 protected:
  void TearDown() override {
    lang_.reset();
    platform::InitCatalogs();
  }
  void UseLanguage(const std::string& lang) {
    lang_ = std::make_unique<ScopedEnv>("LANG", lang);
    platform::InitCatalogs();
  }

  test::PortListHive hive_;
  ScopedEnv localeDir_{"TAVEX_LOCALE_DIR", kBuiltCatalogues};
  std::unique_ptr<ScopedEnv> lang_;
};

TEST_F(ShippedCatalogue, RussianDialogAndErrorTexts) {
  UseLanguage("ru_RU.UTF-8");
  TComSetupFrm dialog;
  EXPECT_EQ(QString::fromUtf8("Настройка порта"), dialog.windowTitle());
  EXPECT_EQ(QString::fromUtf8(" Параметры "), dialog.GroupBox1->title());
  EXPECT_EQ(QString::fromUtf8("Скорость"), dialog.Label2->text());
  EXPECT_EQ(QString::fromUtf8("Отмена"), dialog.Button2->text());
  EXPECT_EQ("Hardware", dialog.Combo6->itemText(0));  // a setting name, never translated

  // The port's texts are translated once, by the first error of the process.
  EXPECT_STREQ(EComPort(peLoadFailed).what(), "Не удалось загрузить настройки");
  EXPECT_STREQ(EComPort(peOpenFailed, platform::Errno{13}).what(),
               "Не удаётся открыть COM-порт (код системной ошибки: 13)");
  EXPECT_EQ(platform::Translate("default", "Registry error"), "Ошибка реестра");

  // Below the port's text, what the system reports and the file, in Russian too.
  EXPECT_EQ(EComPort(peReadFailed, platform::Errno{5}).Explanation(),
            "Система сообщает: Ошибка ввода-вывода.");
  EXPECT_EQ(EComPort(peStoreFailed)
                .CausedBy(platform::Errno{28})
                .Concerning("/etc/tavex/HKEY_LOCAL_MACHINE.reg")
                .Explanation(),
            "Система сообщает: На устройстве не осталось свободного места.\n"
            "Файл: /etc/tavex/HKEY_LOCAL_MACHINE.reg");
  EXPECT_EQ(EComPort(peRegistry, platform::RegResult{4321}).Explanation(),
            "Система сообщает: Системная ошибка 4321.");
}

TEST_F(ShippedCatalogue, EnglishWithoutALanguage) {
  UseLanguage("C");
  TComSetupFrm dialog;
  EXPECT_EQ("Setup", dialog.windowTitle());
  EXPECT_EQ("Cancel", dialog.Button2->text());
  EXPECT_EQ(platform::Translate("default", "Registry error"), "Registry error");
}

}  // namespace
}  // namespace tavex
