// SPDX-License-Identifier: GPL-3.0-or-later
#include "operator/QtLanguage.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFontMetrics>
#include <QGridLayout>
#include <QLibraryInfo>
#include <QLocale>
#include <QMessageBox>
#include <QStyle>
#include <QTranslator>

#include "platform/catalog.h"

namespace tavex::ui {

bool InstallQtTranslations() {
  static QTranslator* installed = nullptr;
  if (installed != nullptr) {
    QCoreApplication::removeTranslator(installed);
    delete installed;
    installed = nullptr;
  }
  // The language of our own catalogues (LANG cut before "."), also when the system has no locale
  // installed for it.
  const QLocale locale(QString::fromStdString(platform::CatalogLanguage()));
  if (locale.language() == QLocale::C || locale.language() == QLocale::English) return false;
  auto* translator = new QTranslator(QCoreApplication::instance());
  if (!translator->load(locale, QStringLiteral("qtbase"), QStringLiteral("_"),
                        QLibraryInfo::path(QLibraryInfo::TranslationsPath))) {
    delete translator;
    return false;
  }
  QCoreApplication::installTranslator(translator);
  installed = translator;
  return true;
}

int TitleRoom(const QWidget& window) {
  QFont font = window.font();
  font.setBold(true);  // title bars commonly draw their text bold
  const int text = QFontMetrics(font).horizontalAdvance(window.windowTitle());
  // The icon on the left, minimise, maximise and close on the right, and the margins.
  const int button = window.style()->pixelMetric(QStyle::PM_TitleBarHeight, nullptr, &window);
  return text + 4 * button + 16;
}

void PrepareMessageBox(QMessageBox& box) {
  if (QAbstractButton* ok = box.button(QMessageBox::Ok)) {
    ok->setText(QString::fromStdString(platform::Translate("portsetup", "OK")));
  }
  auto* grid = qobject_cast<QGridLayout*>(box.layout());
  if (grid == nullptr) return;
  // A spacer across the whole box sets its least width.
  grid->addItem(new QSpacerItem(TitleRoom(box), 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                grid->rowCount(), 0, 1, grid->columnCount());
}

}  // namespace tavex::ui
