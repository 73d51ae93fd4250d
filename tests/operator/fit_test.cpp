// SPDX-License-Identifier: GPL-3.0-or-later
// Every text the operator meets in Russian shows whole: the window (at its start size and
// enlarged), the setup dialog and an error box. Each label's, button's and group's text is
// measured in the font it is drawn in against the room it has on the screen: its own rectangle,
// less what its parents clip and what lies over it. CTest runs this at scale 1, at scale 2
// (QT_SCALE_FACTOR) and with the application's font one step larger (TAVEX_TEST_FONT_STEP).
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QStyle>
#include <QStyleOptionButton>
#include <QTest>

#include "operator/ErrorHandler.h"
#include "operator/KeyReach.h"
#include "operator/QtLanguage.h"
#include "operator/TForm1.h"
#include "platform/catalog.h"
#include "serial/setup/ComSetupFrm.h"
#include "support.h"

namespace tavex::ui {
namespace {

// Russian, with the catalogues the build put beside the programs, before the first widget.
struct Russian {
  Russian() {
    test::App();
    platform::InitCatalogs();
    InstallQtTranslations();
    static bool stepped = false;
    if (std::getenv("TAVEX_TEST_FONT_STEP") != nullptr && !stepped) {
      stepped = true;
      QFont font = QApplication::font();
      if (font.pointSizeF() > 0) {
        font.setPointSizeF(font.pointSizeF() + 1);
      } else {
        font.setPixelSize(font.pixelSize() + 1);
      }
      QApplication::setFont(font);
    }
  }
  test::ScopedEnv lang{"LANG", "ru_RU.UTF-8"};
  test::ScopedEnv catalogues{"TAVEX_LOCALE_DIR", std::string(TAVEX_TEST_BIN_DIR) + "/locale"};
};

QRect InWindow(const QWidget* widget, const QRect& rect) {
  return rect.translated(widget->mapTo(widget->window(), QPoint(0, 0)));
}

// The text's own rectangle where a widget draws it, in its window's coordinates.
QRect TextRect(const QWidget* widget, const QString& text, Qt::Alignment alignment,
               const QRect& room) {
  // As wide as the text advances, as high as its ink.
  const QFontMetrics metrics(widget->font());
  const QSize size(metrics.horizontalAdvance(text), metrics.tightBoundingRect(text).height());
  return InWindow(widget, QStyle::alignedRect(Qt::LeftToRight, alignment, size, room));
}

// Checks every visible text of `window`; names what does not fit.
void ExpectEveryTextWhole(QWidget* window) {
  int measured = 0;
  for (QWidget* widget : window->findChildren<QWidget*>()) {
    const QRegion seen = SeenRegion(widget);
    if (seen.isEmpty()) continue;
    const std::string name = widget->objectName().toStdString();
    QString text;
    QRect textRect;
    QRect room = InWindow(widget, widget->contentsRect());
    if (auto* label = qobject_cast<QLabel*>(widget)) {
      text = label->text();
      textRect = TextRect(label, text, label->alignment(), label->contentsRect());
    } else if (auto* button = qobject_cast<QPushButton*>(widget)) {
      text = button->text();
      QStyleOptionButton option;
      option.initFrom(button);
      option.text = text;
      room = InWindow(
          button, button->style()->subElementRect(QStyle::SE_PushButtonContents, &option, button));
      textRect = TextRect(button, text, Qt::AlignCenter, button->rect());
    } else if (auto* group = qobject_cast<QGroupBox*>(widget)) {
      text = group->title();
      // The title starts a little in from the frame's left edge and must end before its right.
      textRect =
          TextRect(group, text, Qt::AlignLeft | Qt::AlignTop, group->rect().adjusted(8, 0, 0, 0));
      room = InWindow(group, group->rect().adjusted(0, 0, -8, 0));
    } else {
      continue;
    }
    if (text.trimmed().isEmpty()) continue;
    ++measured;
    EXPECT_TRUE(room.contains(textRect)) << name << " \"" << text.toStdString() << "\" needs "
                                         << textRect.width() << " px, has " << room.width();
    EXPECT_TRUE((QRegion(textRect) - seen).isEmpty())
        << name << " \"" << text.toStdString() << "\" is partly hidden";
  }
  EXPECT_GT(measured, 0);
}

class TextFit : public ::testing::Test {
 protected:
  Russian russian_;
  test::TempRegistry registry_;
};

TEST_F(TextFit, TheWindowAtItsStartSizeAndEnlarged) {
  TForm1 form;
  form.Timer3->SetEnabled(false);
  form.Timer5->SetEnabled(false);
  form.show();
  // The longest texts the readouts take, and the report of a port that does not open.
  form.Label9->setText(QStringLiteral("23:59:59 31.12.26"));
  form.Label5->setText(QStringLiteral("--:--"));
  form.Label1->setText(QStringLiteral("+ 21°"));
  form.Label31->setText(QStringLiteral("-----"));
  form.Button9Click(form.Button9);  // no port stored: the failure's report
  ASSERT_FALSE(form.PortFailure->text().isEmpty());
  SCOPED_TRACE("start size");
  ExpectEveryTextWhole(&form);
  form.resize(1000, 700);
  SCOPED_TRACE("enlarged");
  ExpectEveryTextWhole(&form);
}

TEST_F(TextFit, TheSetupDialog) {
  TComSetupFrm dialog;
  dialog.show();
  EXPECT_EQ(dialog.Label6->text().toStdString(), "Управление потоком");
  EXPECT_EQ(dialog.Button1->text().toStdString(), "ОК");
  ExpectEveryTextWhole(&dialog);
  // The labels end before their lists begin.
  for (int n = 1; n <= 6; ++n) {
    auto* label = dialog.findChild<QLabel*>(QStringLiteral("Label%1").arg(n));
    EXPECT_LT(label->x() + QFontMetrics(label->font()).horizontalAdvance(label->text()),
              dialog.Combo(n)->x())
        << label->text().toStdString();
  }
  EXPECT_LE(TitleRoom(dialog), dialog.width() + 40) << "the title bar cuts the caption";
}

TEST_F(TextFit, AnErrorBoxInRussianWithItsWholeTitle) {
  test::MessageBoxCatcher catcher;
  catcher.onBox = [] {
    auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
    ASSERT_NE(box, nullptr);
    ExpectEveryTextWhole(box);
    QFont bold = box->font();
    bold.setBold(true);
    // The title, the icon and three title bar buttons.
    const int title = QFontMetrics(bold).horizontalAdvance(box->windowTitle());
    EXPECT_GE(box->width(), title + 3 * 24 + 24) << box->windowTitle().toStdString();
    ASSERT_EQ(box->buttons().size(), 1);
    EXPECT_EQ(box->buttons()[0]->text().toStdString(), "ОК");
  };
  // Qt's own texts are Russian too.
  EXPECT_EQ(QCoreApplication::translate("QPlatformTheme", "Cancel").toStdString(), "Отмена");
  Guarded([] { throw std::runtime_error("Сбой"); });  // a short text: a narrow box
  test::Pump(200);
  ASSERT_EQ(catcher.boxes.size(), 1u);
  EXPECT_EQ(catcher.boxes[0].title, ApplicationTitle());
}

}  // namespace
}  // namespace tavex::ui
