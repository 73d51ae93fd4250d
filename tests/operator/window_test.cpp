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
#include <tuple>

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

// The window's named controls (the parts Qt adds inside a control have names of its own).
std::vector<QWidget*> NamedControls(const QWidget& window) {
  std::vector<QWidget*> controls;
  for (QWidget* widget : window.findChildren<QWidget*>()) {
    const QString name = widget->objectName();
    if (!name.isEmpty() && !name.startsWith(QStringLiteral("qt_"))) controls.push_back(widget);
  }
  return controls;
}

QString TextOf(const QWidget* widget) {
  if (auto* label = qobject_cast<const QLabel*>(widget)) return label->text();
  if (auto* button = qobject_cast<const QAbstractButton*>(widget)) return button->text();
  if (auto* group = qobject_cast<const QGroupBox*>(widget)) return group->title();
  return {};
}

QRect InWindow(const QWidget* widget, const QWidget* window) {
  return {widget->mapTo(window, QPoint(0, 0)), widget->size()};
}

QGroupBox* GroupTitled(const QWidget& window, const char* title) {
  for (QGroupBox* group : window.findChildren<QGroupBox*>()) {
    if (group->title() == QString::fromUtf8(title)) return group;
  }
  return nullptr;
}

// The control of `group` that sits right below the topmost caption reading `caption`.
QWidget* Below(const QGroupBox* group, const char* caption) {
  const QLabel* top = nullptr;
  for (QLabel* label : group->findChildren<QLabel*>(Qt::FindDirectChildrenOnly)) {
    if (label->text() == QString::fromUtf8(caption) && (!top || label->y() < top->y())) {
      top = label;
    }
  }
  if (top == nullptr) return nullptr;
  QWidget* below = nullptr;
  for (QWidget* widget : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
    const QRect r = widget->geometry();
    const bool under = r.top() > top->geometry().bottom() && r.left() <= top->geometry().right() &&
                       r.right() >= top->geometry().left();
    if (under && (!below || r.top() < below->y())) below = widget;
  }
  return below;
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
      "Label28",     "RxSpinEdit9", "Label30",     "Button2",   "Button1",     "PortFailure"};
  const std::set<std::string> revealedWhenEnlarged = {"Label26",    "Button3", "Button4", "Button5",
                                                      "Button6",    "Button7", "Button8", "Button9",
                                                      "StatusBar1", "Memo1"};
  const std::vector<QWidget*> controls = NamedControls(form_);
  for (QWidget* widget : controls) {
    const std::string name = widget->objectName().toStdString();
    EXPECT_EQ(Seen(widget, &form_), seenAtStart.count(name) == 1) << name;
  }
  form_.resize(1000, 700);
  for (QWidget* widget : controls) {
    const std::string name = widget->objectName().toStdString();
    const bool expected = seenAtStart.count(name) + revealedWhenEnlarged.count(name) == 1;
    EXPECT_EQ(Seen(widget, &form_), expected) << name << " enlarged";
  }
}

TEST_F(WindowTest, ControlsInSightShowTheirWholeTextAndDoNotOverlap) {
  form_.show();
  std::vector<QWidget*> inSight;
  for (QWidget* widget : NamedControls(form_)) {
    if (Seen(widget, &form_) && !qobject_cast<QGroupBox*>(widget)) inSight.push_back(widget);
  }
  ASSERT_GE(inSight.size(), 15u);
  for (QWidget* widget : inSight) {
    const std::string name = widget->objectName().toStdString();
    EXPECT_TRUE(QRect(QPoint(0, 0), form_.size()).contains(InWindow(widget, &form_))) << name;
    if (auto* label = qobject_cast<QLabel*>(widget); label && !label->text().trimmed().isEmpty()) {
      EXPECT_GE(label->width(), label->sizeHint().width()) << name;
      EXPECT_GE(label->height(), label->sizeHint().height()) << name;
    }
    for (QWidget* other : inSight) {
      if (other == widget) continue;
      EXPECT_FALSE(InWindow(widget, &form_).intersects(InWindow(other, &form_)))
          << name << " overlaps " << other->objectName().toStdString();
    }
  }
}

// Each clock's group: its readings show under the captions that name them, its correction is read
// from the spin control under "Коррекция +/- часов", and the groups of clocks 2-4 are laid out
// alike.
TEST_F(WindowTest, EachClockGroupShowsItsReadingsUnderTheirCaptions) {
  const char* titles[] = {"Часы №1", "Часы №2", "Часы №3", "Часы №4"};
  const Readout times[] = {Readout::Clock1Time, Readout::Clock2Time, Readout::Clock3Time,
                           Readout::Clock4Time};
  const Readout temperatures[] = {Readout::Clock1Temperature, Readout::Clock2Temperature,
                                  Readout::Clock3Temperature, Readout::Clock4Temperature};
  for (int clock = 1; clock <= 4; ++clock) {
    SCOPED_TRACE(clock);
    QGroupBox* group = GroupTitled(form_, titles[clock - 1]);
    ASSERT_NE(group, nullptr);
    const std::string number = std::to_string(clock);
    form_.SetReadout(times[clock - 1], "12:0" + number);
    form_.SetReadout(temperatures[clock - 1], "+2" + number);
    QWidget* time = Below(group, "Время");
    QWidget* temperature = Below(group, "Температура");
    ASSERT_TRUE(time && temperature);
    EXPECT_EQ(TextOf(time).toStdString(), "12:0" + number);
    EXPECT_EQ(TextOf(temperature).toStdString(), "+2" + number);
    auto* correction = qobject_cast<TSpinEdit*>(Below(group, "Коррекция +/- часов"));
    ASSERT_NE(correction, nullptr);
    correction->setValue(-clock);
    EXPECT_EQ(form_.CorrectionHours(clock), -clock);
  }
  QGroupBox* first = GroupTitled(form_, "Часы №1");
  form_.SetReadout(Readout::Clock1Pressure, "745");
  EXPECT_EQ(TextOf(Below(first, "Давление")).toStdString(), "745");
  form_.SetReadout(Readout::None, "x");  // shown nowhere
  for (QWidget* widget : NamedControls(form_)) EXPECT_NE(TextOf(widget), QStringLiteral("x"));

  const auto layout = [](const QGroupBox* group) {
    std::vector<std::tuple<std::string, QRect, QString>> controls;
    for (QWidget* w : group->findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
      controls.emplace_back(w->metaObject()->className(), w->geometry(), TextOf(w));
    }
    return controls;
  };
  form_.SetReadout(Readout::Clock2Time, "  ");
  form_.SetReadout(Readout::Clock2Temperature, "  ");
  for (Readout r : {Readout::Clock3Time, Readout::Clock3Temperature, Readout::Clock4Time,
                    Readout::Clock4Temperature}) {
    form_.SetReadout(r, "  ");
  }
  const auto second = layout(GroupTitled(form_, "Часы №2"));
  EXPECT_EQ(second.size(), 6u);
  EXPECT_EQ(layout(GroupTitled(form_, "Часы №3")), second);
  EXPECT_EQ(layout(GroupTitled(form_, "Часы №4")), second);
}

// Clock 1's display durations: each spin control is the one whose tip names what it times.
TEST_F(WindowTest, EachDisplayDurationIsTheSpinControlItsTipNames) {
  const std::pair<DisplayItem, const char*> items[] = {
      {DisplayItem::Time, "длительности отображения времени"},
      {DisplayItem::Date, "длительности отображения даты"},
      {DisplayItem::Temperature, "длительности отображения температуры"},
      {DisplayItem::Pressure, "длительности отображения давления"}};
  int seconds = 2;
  for (const auto& [item, tip] : items) {
    SCOPED_TRACE(tip);
    std::vector<TSpinEdit*> named;
    for (TSpinEdit* spin : form_.findChildren<TSpinEdit*>()) {
      if (spin->toolTip().contains(QString::fromUtf8(tip))) named.push_back(spin);
    }
    ASSERT_EQ(named.size(), 1u);
    form_.SetDisplayDuration(item, seconds);
    EXPECT_EQ(named[0]->value(), seconds);
    named[0]->setValue(seconds + 1);
    EXPECT_EQ(form_.DisplayDuration(item), seconds + 1);
    ++seconds;
  }
  // The brightness has no tip and no place in sight; the exchanges still read it.
  form_.RxSpinEdit10->setValue(7);
  EXPECT_EQ(form_.Brightness(), 7);
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
