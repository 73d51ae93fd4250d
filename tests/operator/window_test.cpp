// SPDX-License-Identifier: GPL-3.0-or-later
// The window's controls, the spin controls, the log and the general error handler.
#include <QLineEdit>
#include <QScrollBar>
#include <QSignalSpy>
#include <QStyle>
#include <QStyleOptionSpinBox>
#include <QTest>
#include <QWheelEvent>
#include <set>

#include "operator/ErrorHandler.h"
#include "operator/TForm1.h"
#include "support.h"
#include "support/fixed_clock.h"

namespace tavex::ui {
namespace {

class WindowTest : public test::WithApp, public ::testing::Test {
 protected:
  test::TempRegistry registry_;
  TForm1 form_;
};

struct Placed {
  const char* name;
  const char* parent;
  QRect geometry;  // width and height 0: a caption sized to its text
  const char* text;
};

const Placed kPlaced[] = {
    {"GroupBox3", "Form1", {0, 0, 585, 393}, "Состояние часов"},
    {"Label12", "GroupBox3", {224, 16, 0, 0}, "Системное время и дата"},
    {"Label9", "GroupBox3", {192, 40, 193, 26}, "  "},
    {"GroupBox1", "GroupBox3", {32, 80, 513, 169}, "Часы №1"},
    {"lbl1", "GroupBox3", {304, 296, 276, 13}, nullptr},
    {"Label26", "GroupBox3", {240, 368, 0, 0}, "Период опроса часов  (сек)"},
    {"GroupBox2", "GroupBox3", {8, 408, 385, 81}, "Часы №2"},
    {"GroupBox4", "GroupBox3", {16, 424, 385, 81}, "Часы №3"},
    {"GroupBox5", "GroupBox3", {8, 464, 385, 81}, "Часы №4"},
    {"Label13", "GroupBox1", {24, 16, 0, 0}, "Коррекция +/- часов"},
    {"RxSpinEdit1", "GroupBox1", {48, 41, 41, 24}, nullptr},
    {"Label14", "GroupBox1", {173, 16, 0, 0}, "Время"},
    {"Label5", "GroupBox1", {144, 39, 89, 26}, ""},
    {"Label7", "GroupBox1", {277, 16, 0, 0}, "Температура"},
    {"Label1", "GroupBox1", {272, 39, 89, 26}, " "},
    {"Label32", "GroupBox1", {421, 16, 0, 0}, "Давление"},
    {"Label31", "GroupBox1", {400, 39, 89, 26}, " "},
    {"Label27", "GroupBox1", {112, 88, 0, 0}, "Время"},
    {"RxSpinEdit6", "GroupBox1", {168, 81, 41, 24}, nullptr},
    {"Label29", "GroupBox1", {112, 128, 0, 0}, "Дата"},
    {"RxSpinEdit7", "GroupBox1", {168, 121, 41, 24}, nullptr},
    {"RxSpinEdit8", "GroupBox1", {296, 81, 41, 24}, nullptr},
    {"Label28", "GroupBox1", {280, 120, 0, 0}, "Температура"},
    {"RxSpinEdit9", "GroupBox1", {424, 81, 41, 24}, nullptr},
    {"Label30", "GroupBox1", {416, 120, 0, 0}, "Давление"},
    {"Label33", "GroupBox1", {40, 256, 0, 0}, "Яркость"},
    {"RxSpinEdit10", "GroupBox1", {120, 249, 41, 24}, nullptr},
    {"Label17", "GroupBox2", {24, 16, 0, 0}, "Коррекция +/- часов"},
    {"RxSpinEdit2", "GroupBox2", {48, 41, 41, 24}, nullptr},
    {"Label18", "GroupBox2", {173, 16, 0, 0}, "Время"},
    {"Label6", "GroupBox2", {144, 39, 89, 26}, "  "},
    {"Label19", "GroupBox2", {277, 16, 0, 0}, "Температура"},
    {"Label11", "GroupBox2", {272, 39, 89, 26}, "  "},
    {"Label4", "GroupBox4", {24, 16, 0, 0}, "Коррекция +/- часов"},
    {"RxSpinEdit3", "GroupBox4", {48, 41, 41, 24}, nullptr},
    {"Label8", "GroupBox4", {173, 16, 0, 0}, "Время"},
    {"Label3", "GroupBox4", {144, 39, 89, 26}, "  "},
    {"Label20", "GroupBox4", {277, 16, 0, 0}, "Температура"},
    {"Label2", "GroupBox4", {272, 39, 89, 26}, "  "},
    {"Label23", "GroupBox5", {24, 16, 0, 0}, "Коррекция +/- часов"},
    {"RxSpinEdit4", "GroupBox5", {48, 41, 41, 24}, nullptr},
    {"Label24", "GroupBox5", {173, 16, 0, 0}, "Время"},
    {"Label22", "GroupBox5", {144, 39, 89, 26}, "  "},
    {"Label25", "GroupBox5", {277, 16, 0, 0}, "Температура"},
    {"Label21", "GroupBox5", {272, 39, 89, 26}, "  "},
    {"Label16", "Form1", {16, 20, 0, 0}, "Коррекция времени"},
    {"Label15", "Form1", {165, 20, 0, 0}, "Время"},
    {"Label10", "Form1", {277, 20, 0, 0}, "Температура"},
    {"Button2", "Form1", {88, 264, 137, 25}, "Настроить COM - порт."},
    {"Button1", "Form1", {416, 264, 81, 25}, "Выход"},
    {"Button3", "Form1", {16, 520, 81, 25}, "Часы 1"},
    {"Button4", "Form1", {104, 520, 81, 25}, "Часы 2"},
    {"Button5", "Form1", {192, 520, 81, 25}, "Часы3"},
    {"Button6", "Form1", {280, 520, 75, 25}, "Часы4"},
    {"Button7", "Form1", {448, 416, 75, 25}, "Часы4"},
    {"Button8", "Form1", {448, 456, 81, 25}, "Часы 1"},
    {"Button9", "Form1", {424, 496, 121, 25}, "Читаю задержки"},
    {"StatusBar1", "Form1", {0, 552, 433, 17}, nullptr},
    {"Memo1", "Form1", {704, 8, 169, 465}, nullptr},
};

QString TextOf(QWidget* widget) {
  if (auto* label = qobject_cast<QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<QAbstractButton*>(widget)) return button->text();
  if (auto* group = qobject_cast<QGroupBox*>(widget)) return group->title();
  return {};
}

TEST_F(WindowTest, EveryControlSitsAtItsPlaceWithItsText) {
  for (const Placed& p : kPlaced) {
    SCOPED_TRACE(p.name);
    QWidget* widget = form_.findChild<QWidget*>(QString::fromLatin1(p.name));
    ASSERT_NE(widget, nullptr);
    EXPECT_EQ(widget->parentWidget()->objectName().toStdString(), p.parent);
    EXPECT_EQ(widget->pos(), p.geometry.topLeft());
    if (p.geometry.width() > 0) {
      EXPECT_EQ(widget->size(), p.geometry.size());
    } else {
      EXPECT_EQ(widget->size(), widget->sizeHint());  // sized to its text
    }
    if (p.text) {
      EXPECT_EQ(TextOf(widget).toStdString(), p.text);
    }
  }
  EXPECT_FALSE(form_.lbl1->text().isEmpty());
}

// Whether any part of `widget` can be seen within the window at its current size.
bool Seen(QWidget* widget, QWidget* window) {
  QRect visible(QPoint(0, 0), widget->size());
  for (QWidget* w = widget; w != window; w = w->parentWidget()) {
    visible =
        visible.translated(w->pos()).intersected(QRect(QPoint(0, 0), w->parentWidget()->size()));
    if (visible.isEmpty()) return false;
  }
  // Something created later may lie over it.
  QWidget* top = window->childAt(visible.center());
  return top == widget || widget->isAncestorOf(top);
}

TEST_F(WindowTest, ShowsTheUpperPartAndRevealsTheRestOnlyWhenEnlarged) {
  form_.show();
  EXPECT_EQ(form_.size(), QSize(584, 314));
  EXPECT_EQ(form_.windowTitle().toStdString(), "TAVEX - Управление часами ");

  const std::set<std::string> seenAtStart = {
      "GroupBox3",   "Label12",     "Label9",      "GroupBox1", "lbl1",        "Label13",
      "RxSpinEdit1", "Label14",     "Label5",      "Label7",    "Label1",      "Label32",
      "Label31",     "Label27",     "RxSpinEdit6", "Label29",   "RxSpinEdit7", "RxSpinEdit8",
      "Label28",     "RxSpinEdit9", "Label30",     "Button2",   "Button1"};
  const std::set<std::string> revealedWhenEnlarged = {"Label26",    "Button3", "Button4", "Button5",
                                                      "Button6",    "Button7", "Button8", "Button9",
                                                      "StatusBar1", "Memo1"};
  for (const Placed& p : kPlaced) {
    QWidget* widget = form_.findChild<QWidget*>(QString::fromLatin1(p.name));
    EXPECT_EQ(Seen(widget, &form_), seenAtStart.count(p.name) == 1) << p.name;
  }
  form_.resize(1000, 700);
  for (const Placed& p : kPlaced) {
    QWidget* widget = form_.findChild<QWidget*>(QString::fromLatin1(p.name));
    const bool expected = seenAtStart.count(p.name) + revealedWhenEnlarged.count(p.name) == 1;
    EXPECT_EQ(Seen(widget, &form_), expected) << p.name << " enlarged";
  }
}

TEST_F(WindowTest, TooltipsOnlyWhereListed) {
  const std::set<std::string> withTip = {"RxSpinEdit1", "RxSpinEdit6", "RxSpinEdit7", "RxSpinEdit8",
                                         "RxSpinEdit9", "Button1",     "Button2",     "Button3",
                                         "Button8",     "Button9"};
  for (QWidget* widget : form_.findChildren<QWidget*>()) {
    const std::string name = widget->objectName().toStdString();
    if (name.empty()) continue;
    EXPECT_EQ(!widget->toolTip().isEmpty(), withTip.count(name) == 1) << name;
  }
  EXPECT_EQ(form_.Button2->toolTip().toStdString(), "Настройка порта");
  EXPECT_EQ(form_.Button1->toolTip().toStdString(), "Выйти из программы");
  EXPECT_EQ(form_.Button9->toolTip().toStdString(), "Установка времени");
  EXPECT_TRUE(
      form_.RxSpinEdit1->toolTip().startsWith(QStringLiteral("Коррекция системного времени")));
  EXPECT_TRUE(form_.RxSpinEdit9->toolTip().endsWith(
      QStringLiteral("давление отображаться на часах не будет.")));
}

TEST_F(WindowTest, StartsWithItsInitialValuesAndTimers) {
  const std::pair<TSpinEdit*, std::pair<int, int>> ranges[] = {
      {form_.RxSpinEdit1, {-9, 9}},   {form_.RxSpinEdit2, {-12, 12}},
      {form_.RxSpinEdit3, {-12, 12}}, {form_.RxSpinEdit4, {-12, 12}},
      {form_.RxSpinEdit6, {0, 9}},    {form_.RxSpinEdit7, {0, 9}},
      {form_.RxSpinEdit8, {0, 9}},    {form_.RxSpinEdit9, {0, 9}},
      {form_.RxSpinEdit10, {0, 9}}};
  for (const auto& [spin, range] : ranges) {
    EXPECT_EQ(spin->value(), 0) << spin->objectName().toStdString();
    EXPECT_EQ(spin->minimum(), range.first) << spin->objectName().toStdString();
    EXPECT_EQ(spin->maximum(), range.second) << spin->objectName().toStdString();
  }
  EXPECT_TRUE(form_.Timer3->Enabled());
  EXPECT_TRUE(form_.Timer5->Enabled());
  EXPECT_FALSE(form_.Timer1->Enabled());
  EXPECT_FALSE(form_.Timer2->Enabled());
  EXPECT_EQ(form_.Timer1->Interval(), 10000);
  EXPECT_EQ(form_.Timer2->Interval(), 5000);
  EXPECT_EQ(form_.Timer3->Interval(), 100);
  EXPECT_EQ(form_.Timer5->Interval(), 1000);

  EXPECT_FALSE(form_.Memo1->isEnabled());
  EXPECT_EQ(form_.Memo1->toPlainText().toStdString(), "Memo1");
  // Disabled, yet drawn as readable text, not grey on grey.
  const QPalette& memo = form_.Memo1->palette();
  EXPECT_EQ(memo.color(QPalette::Disabled, QPalette::Text),
            memo.color(QPalette::Active, QPalette::Text));
  EXPECT_EQ(memo.color(QPalette::Disabled, QPalette::Base),
            memo.color(QPalette::Active, QPalette::Base));
  EXPECT_NE(memo.color(QPalette::Disabled, QPalette::Text),
            memo.color(QPalette::Disabled, QPalette::Base));
  ASSERT_EQ(form_.StatusBar1->Panels().size(), 2);
  EXPECT_EQ(form_.StatusBar1->Panels()[0]->width(), 200);
  EXPECT_EQ(form_.StatusBar1->Panels()[1]->width(), 50);
  EXPECT_FALSE(form_.StatusBar1->SimplePanel());

  EXPECT_EQ(form_.Label5->font().pixelSize(), 24);
  EXPECT_TRUE(form_.Label1->font().fixedPitch());
  EXPECT_TRUE(form_.Label31->font().fixedPitch());
  EXPECT_FALSE(form_.Label5->font().fixedPitch());
  EXPECT_EQ(form_.Label5->palette().color(QPalette::Window), QColor(Qt::black));
  EXPECT_EQ(form_.Label5->palette().color(QPalette::WindowText), QColor(0, 255, 0));
  EXPECT_EQ(form_.Label13->font().pixelSize(), 11);
  EXPECT_EQ(form_.RxSpinEdit6->font().pixelSize(), 13);

  EXPECT_EQ(form_.ComPort.Name(), "ComPort");
  EXPECT_EQ(form_.ComPort.Port(), "COM6");
  EXPECT_EQ(form_.ComPort.BaudRate(), br4800);
  EXPECT_TRUE(form_.ComPort.DiscardNull());
  EXPECT_FALSE(form_.windowIcon().isNull());
}

// The controls Tab stops at, starting from `first`, once round the window.
std::vector<QWidget*> TabStops(QWidget* first) {
  std::vector<QWidget*> stops;
  QWidget* w = first;
  do {
    if ((w->focusPolicy() & Qt::TabFocus) && w->isEnabled() && !w->focusProxy()) {
      stops.push_back(w);
    }
    w = w->nextInFocusChain();
  } while (w != first && stops.size() < 100);
  return stops;
}

TEST_F(WindowTest, TabStopsAtTheControlsInSightInReadingOrder) {
  form_.show();
  // Row by row: the correction, the durations of time, temperature and pressure, the date's
  // below them, then the two buttons.
  const std::vector<QWidget*> atStart = {form_.RxSpinEdit1, form_.RxSpinEdit6, form_.RxSpinEdit8,
                                         form_.RxSpinEdit9, form_.RxSpinEdit7, form_.Button2,
                                         form_.Button1};
  EXPECT_EQ(TabStops(form_.RxSpinEdit1), atStart);

  form_.resize(1000, 700);
  std::vector<QWidget*> enlarged = atStart;
  for (QWidget* w : {form_.Button7, form_.Button8, form_.Button9, form_.Button3, form_.Button4,
                     form_.Button5, form_.Button6}) {
    enlarged.push_back(w);
  }
  EXPECT_EQ(TabStops(form_.RxSpinEdit1), enlarged);

  // A button shows only in part: it stays out of reach until the whole of it shows.
  form_.resize(584, 530);
  EXPECT_TRUE(form_.KeyGate->Reachable(form_.Button9));
  EXPECT_FALSE(form_.KeyGate->Reachable(form_.Button3));
  form_.resize(584, 314);
  EXPECT_EQ(TabStops(form_.RxSpinEdit1), atStart);
}

TEST_F(WindowTest, ControlsOutOfSightTakeNoFocusKeyOrWheelButKeepTheirValues) {
  form_.show();
  form_.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form_));
  for (TSpinEdit* spin :
       {form_.RxSpinEdit10, form_.RxSpinEdit2, form_.RxSpinEdit3, form_.RxSpinEdit4}) {
    SCOPED_TRACE(spin->objectName().toStdString());
    spin->setValue(3);  // the program still sets and reads them
    QTest::keyClick(spin, Qt::Key_Up);
    QTest::keyClick(spin, Qt::Key_Down);
    QWheelEvent wheel(QPointF(5, 5), spin->mapToGlobal(QPointF(5, 5)), QPoint(), QPoint(0, 120),
                      Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
    QApplication::sendEvent(spin, &wheel);
    EXPECT_EQ(spin->value(), 3);
    EXPECT_EQ(spin->focusPolicy(), Qt::NoFocus);
  }
  // Focus given by program to a control out of sight moves on to one in sight.
  form_.RxSpinEdit10->setFocus();
  test::Pump(50);
  EXPECT_EQ(QApplication::focusWidget(), form_.RxSpinEdit1);

  // A control in sight still steps with the wheel.
  QWheelEvent wheel(QPointF(5, 5), form_.RxSpinEdit6->mapToGlobal(QPointF(5, 5)), QPoint(),
                    QPoint(0, 120), Qt::NoButton, Qt::NoModifier, Qt::NoScrollPhase, false);
  QApplication::sendEvent(form_.RxSpinEdit6, &wheel);
  EXPECT_EQ(form_.RxSpinEdit6->value(), 1);

  // Shrinking the window past the focused button moves the focus back into sight.
  form_.resize(1000, 700);
  form_.Button9->setFocus();
  EXPECT_EQ(QApplication::focusWidget(), form_.Button9);
  form_.resize(584, 314);
  EXPECT_EQ(QApplication::focusWidget(), form_.RxSpinEdit1);
}

TEST_F(WindowTest, SpinControlsStepByOneWithinTheirRangeAndRefuseTyping) {
  form_.show();
  TSpinEdit* spin = form_.RxSpinEdit6;
  QSignalSpy changes(spin, &QSpinBox::valueChanged);
  spin->setFocus();
  QTest::keyClick(spin, Qt::Key_Up);
  QTest::keyClick(spin, Qt::Key_Up);
  QTest::keyClick(spin, Qt::Key_Down);
  EXPECT_EQ(spin->value(), 1);
  EXPECT_EQ(changes.count(), 3);

  QTest::keyClicks(spin, "7a-");
  QTest::keyClick(spin, Qt::Key_Backspace);
  QTest::keyClick(spin, Qt::Key_PageUp);
  EXPECT_EQ(spin->value(), 1);
  EXPECT_EQ(spin->text().toStdString(), "1");

  // The up button: a mouse press on its part of the control.
  QStyleOptionSpinBox option;
  option.initFrom(spin);
  option.subControls = QStyle::SC_SpinBoxUp;
  option.stepEnabled = QAbstractSpinBox::StepUpEnabled | QAbstractSpinBox::StepDownEnabled;
  const QRect up =
      spin->style()->subControlRect(QStyle::CC_SpinBox, &option, QStyle::SC_SpinBoxUp, spin);
  QTest::mouseClick(spin, Qt::LeftButton, {}, up.center());
  EXPECT_EQ(spin->value(), 2);

  spin->setValue(9);
  changes.clear();
  QTest::keyClick(spin, Qt::Key_Up);
  spin->setValue(9);
  spin->setValue(42);  // brought into the range
  EXPECT_EQ(spin->value(), 9);
  EXPECT_EQ(changes.count(), 0);

  form_.RxSpinEdit1->setValue(-20);
  EXPECT_EQ(form_.RxSpinEdit1->value(), -9);
  EXPECT_EQ(form_.RxSpinEdit1->text().toStdString(), "-9");
  form_.RxSpinEdit2->setValue(-20);
  EXPECT_EQ(form_.RxSpinEdit2->value(), -12);
}

TEST_F(WindowTest, DurationChangesArmResendingAndStopReading) {
  form_.Timer1->SetEnabled(true);
  form_.RxSpinEdit8->setValue(3);
  EXPECT_FALSE(form_.Timer1->Enabled());
  EXPECT_TRUE(form_.Timer2->Enabled());
  // The corrections start nothing.
  form_.Timer2->SetEnabled(false);
  form_.RxSpinEdit1->setValue(2);
  form_.RxSpinEdit4->setValue(-3);
  EXPECT_FALSE(form_.Timer2->Enabled());
}

TEST_F(WindowTest, TimeDisplayShowsTwoDigitFieldsWithoutTheFraction) {
  test::FixedClock clock({2016, 2, 3, 14, 5, 7, 900});
  form_.SetWallClock(clock);
  form_.Timer5Timer(form_.Timer5);
  EXPECT_EQ(form_.Label9->text().toStdString(), "14:05:07 03.02.16");
}

TEST(Timer, ArmingAnArmedTimerKeepsItsCountAndABusySpellGivesOneTick) {
  test::App();
  TTimer timer(300, nullptr);
  int ticks = 0;
  timer.OnTimer = [&] { ++ticks; };
  QElapsedTimer clock;
  clock.start();
  timer.SetEnabled(true);
  test::Pump(150);
  timer.SetEnabled(true);  // must not start the count again
  while (ticks == 0 && clock.elapsed() < 2000) test::Pump(5);
  EXPECT_EQ(ticks, 1);
  EXPECT_LT(clock.elapsed(), 420);

  std::this_thread::sleep_for(std::chrono::milliseconds(1000));  // three periods while busy
  test::Pump(60);
  EXPECT_EQ(ticks, 2);
  timer.SetEnabled(false);
  test::Pump(400);
  EXPECT_EQ(ticks, 2);
}

TEST(LogMemo, KeepsEachLineOnOneLineWithVisibleControlCharacters) {
  test::App();
  TLogMemo memo(nullptr);
  memo.Append(
      QString::fromUtf8("clk001\n\r\t\0\x7f"
                        "e",
                        12));
  EXPECT_EQ(memo.LineCount(), 2);
  EXPECT_EQ(memo.LastLine(), QString::fromUtf8("clk001␊␍␉␀␡e"));
  memo.Append(QString(QChar(0x2029)) + QStringLiteral("x"));
  EXPECT_EQ(memo.LineCount(), 3);
  EXPECT_EQ(memo.LastLine(), QStringLiteral("␤x"));
}

TEST(LogMemo, KeepsTheNewestLinesWithinItsBoundAndShowsThem) {
  test::App();
  TLogMemo memo(nullptr);
  memo.resize(169, 465);
  memo.show();
  const int total = TLogMemo::kMaxLines + 500;
  for (int i = 1; i <= total; ++i) memo.Append(QString::number(i));
  EXPECT_EQ(memo.LineCount(), TLogMemo::kMaxLines);
  EXPECT_EQ(memo.LastLine(), QString::number(total));
  EXPECT_EQ(memo.Line(0), QString::number(total - TLogMemo::kMaxLines + 1));
  QApplication::processEvents();
  EXPECT_EQ(memo.verticalScrollBar()->value(), memo.verticalScrollBar()->maximum());
}

TEST(ErrorHandler, AppendsAFullStopAfterCharactersThatSortAfterIt) {
  const std::pair<const char*, const char*> cases[] = {
      {"Failed to load settings", "Failed to load settings."},
      {"'x' is not a valid floating point value", "'x' is not a valid floating point value."},
      {"Done.", "Done."},
      {"Stop!", "Stop!"},
      {"code (5)", "code (5)"},
      {"count 12", "count 12."},
      {"Ошибка", "Ошибка."},
      {"a-", "a-"},
      {"", ""},
  };
  for (const auto& [in, out] : cases) {
    EXPECT_EQ(ErrorBoxText(QString::fromUtf8(in)).toStdString(), out) << in;
  }
}

TEST(ErrorHandler, ShowsOneBoxAtATimeAndWritesFurtherErrorsToStderr) {
  test::App();
  test::MessageBoxCatcher catcher;
  catcher.onBox = [] { Guarded([] { throw std::runtime_error("second failure"); }); };
  ::testing::internal::CaptureStderr();
  Guarded([] { throw std::runtime_error("Failed to load settings"); });
  EXPECT_TRUE(catcher.boxes.empty()) << "the box waits for the event loop";
  test::Pump(200);
  const std::string err = ::testing::internal::GetCapturedStderr();
  ASSERT_EQ(catcher.boxes.size(), 1u);
  EXPECT_EQ(catcher.boxes[0].text.toStdString(), "Failed to load settings.");
  EXPECT_EQ(catcher.boxes[0].title, ApplicationTitle());
  EXPECT_EQ(catcher.boxes[0].icon, QMessageBox::Critical);
  EXPECT_EQ(catcher.boxes[0].buttons, 1);
  // (the offscreen platform may add notes of its own)
  EXPECT_NE(err.find("tavex: second failure.\n"), std::string::npos) << err;
  EXPECT_EQ(err.find("tavex: Failed"), std::string::npos) << err;
  EXPECT_FALSE(ErrorBoxOpen());
}

TEST(ErrorHandler, TimersKeepTickingWhileAnErrorBoxIsOpen) {
  test::App();
  int ticks = 0;
  TTimer timer(30, nullptr);
  timer.OnTimer = [&ticks] {
    Guarded([&ticks] {
      ++ticks;
      throw std::runtime_error("tick failed");
    });
  };
  // Nobody answers the box for 400 ms, as at a station left alone.
  QElapsedTimer clock;
  clock.start();
  QTimer closer;
  closer.setInterval(20);
  QObject::connect(&closer, &QTimer::timeout, [&clock] {
    if (clock.elapsed() < 400) return;
    if (auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget())) box->done(0);
  });
  closer.start();
  ::testing::internal::CaptureStderr();
  timer.SetEnabled(true);
  test::Pump(600);
  timer.SetEnabled(false);
  const std::string err = ::testing::internal::GetCapturedStderr();
  EXPECT_GE(ticks, 6) << "the failing timer went on ticking under its own error box";
  EXPECT_NE(err.find("tavex: tick failed.\n"), std::string::npos) << err;
  EXPECT_FALSE(ErrorBoxOpen());
}

}  // namespace
}  // namespace tavex::ui
