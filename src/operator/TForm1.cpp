// SPDX-License-Identifier: GPL-3.0-or-later
#include "operator/TForm1.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QString>
#include <cstdio>
#include <type_traits>
#include <utility>
#include <variant>
#include <vector>

#include "operator/ErrorHandler.h"
#include "operator/QtLanguage.h"
#include "operator/WindowIcon.h"
#include "serial/Handover.h"

namespace tavex::ui {
namespace {

QString Text(std::string_view utf8) {
  return QString::fromUtf8(utf8.data(), static_cast<qsizetype>(utf8.size()));
}

QFont FormFont() {
  QFont font;
  font.setFamilies({QStringLiteral("MS Sans Serif"), QStringLiteral("DejaVu Sans")});
  font.setPixelSize(11);
  return font;
}

QFont ReadoutFont(bool fixedPitch) {
  QFont font;
  if (fixedPitch) {
    font.setFamilies({QStringLiteral("Arial Monospaced"), QStringLiteral("Liberation Mono"),
                      QStringLiteral("DejaVu Sans Mono")});
    font.setStyleHint(QFont::Monospace);
    font.setFixedPitch(true);
  } else {
    font.setFamilies({QStringLiteral("Arial"), QStringLiteral("Liberation Sans")});
  }
  font.setPixelSize(24);
  return font;
}

template <class Widget>
Widget* Named(Widget* widget, const char* name) {
  widget->setObjectName(QString::fromLatin1(name));
  return widget;
}

QLabel* MakeCaption(QWidget* parent, const char* name, const char* text, int left, int top) {
  auto* label = Named(new QLabel(QString::fromUtf8(text), parent), name);
  label->move(left, top);
  label->adjustSize();
  return label;
}

// A readout's text: lime while current, a dim green once its value has grown old.
const QColor kReadoutText(0x00, 0xFF, 0x00);
const QColor kOldReadoutText(0x00, 0x70, 0x00);

void SetReadoutColour(QLabel* label, const QColor& colour) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::Window, Qt::black);
  palette.setColor(QPalette::WindowText, colour);
  label->setPalette(palette);
}

QLabel* MakeReadout(QWidget* parent, const char* name, const char* text, QRect geometry,
                    bool fixedPitch = false) {
  auto* label = Named(new QLabel(QString::fromUtf8(text), parent), name);
  label->setGeometry(geometry);
  label->setAlignment(Qt::AlignCenter);
  label->setFont(ReadoutFont(fixedPitch));
  label->setAutoFillBackground(true);
  SetReadoutColour(label, kReadoutText);
  return label;
}

TSpinEdit* MakeSpin(QWidget* parent, const char* name, int minimum, int maximum, QRect geometry,
                    const char* tooltip) {
  auto* spin = Named(new TSpinEdit(minimum, maximum, parent), name);
  spin->setGeometry(geometry);
  QFont font = FormFont();
  font.setPixelSize(13);
  spin->setFont(font);
  if (tooltip) spin->setToolTip(QString::fromUtf8(tooltip));
  return spin;
}

QPushButton* MakeButton(QWidget* parent, const char* name, const char* text, QRect geometry,
                        const char* tooltip) {
  auto* button = Named(new QPushButton(QString::fromUtf8(text), parent), name);
  button->setGeometry(geometry);
  button->setAutoDefault(false);
  if (tooltip) button->setToolTip(QString::fromUtf8(tooltip));
  return button;
}

QGroupBox* MakeGroup(QWidget* parent, const char* name, const char* title, QRect geometry) {
  auto* group = Named(new QGroupBox(QString::fromUtf8(title), parent), name);
  group->setGeometry(geometry);
  // Opaque, so that what lies under the group stays hidden.
  group->setAutoFillBackground(true);
  return group;
}

constexpr const char* kTipCorrection =
    "Коррекция системного времени на значение установленное в поле редактирования. Нажимая "
    "кнопки вверх и вниз, можно изменить значение в пределах от +12 до -12 часов относительно "
    "системного времени.";
constexpr const char* kTipTime =
    "Регулировка длительности отображения времени, в секундах. Если поставить значение 0 время "
    "отображаться на часах не будет.";
constexpr const char* kTipDate =
    "Регулировка длительности отображения даты, в секундах. Если поставить значение 0 дата "
    "отображаться на часах не будет.";
constexpr const char* kTipTemperature =
    "Регулировка длительности отображения температуры, в секундах. Если поставить значение 0 "
    "температура отображаться на часах не будет.";
constexpr const char* kTipPressure =
    "Регулировка длительности отображения давления, в секундах. Если поставить значение 0 "
    "давление отображаться на часах не будет.";
constexpr const char* kTipSetTime = "Установка времени";

// ---- The window's controls, as one table: each control's name, parent, kind, place, texts and
// role, in the order of creation. The keyboard order is not written here: it follows from where
// the spin controls and buttons sit (TKeyGate).

enum class Kind {
  Caption,
  Readout,
  FixedPitchReadout,
  Spin,
  Button,
  Group,
  StatusBar,
  FailureLine,
  Log
};

// The form member that holds a control.
using Slot = std::variant<QLabel * TForm1::*, TSpinEdit * TForm1::*, QPushButton * TForm1::*,
                          QGroupBox * TForm1::*, TStatusBar * TForm1::*, TLogMemo * TForm1::*>;

// How a control looks, wherever it sits.
struct Shape {
  Kind kind;
  QRect place;           // left, top, width, height; width and height 0: sized to its text
  const char* text;      // caption, title or initial text; nullptr for a spin
  const char* tooltip;   // nullptr: none
  int minimum, maximum;  // a spin's range; a status bar's two panel widths
};

constexpr Shape Caption(int left, int top, const char* text) {
  return {Kind::Caption, QRect(left, top, 0, 0), text, nullptr, 0, 0};
}
constexpr Shape FixedSizeCaption(QRect place, const char* text) {
  return {Kind::Caption, place, text, nullptr, 0, 0};
}
constexpr Shape ReadoutLabel(QRect place, const char* text) {
  return {Kind::Readout, place, text, nullptr, 0, 0};
}
constexpr Shape FixedPitchReadoutLabel(QRect place, const char* text) {
  return {Kind::FixedPitchReadout, place, text, nullptr, 0, 0};
}
constexpr Shape Spin(QRect place, int minimum, int maximum, const char* tooltip = nullptr) {
  return {Kind::Spin, place, nullptr, tooltip, minimum, maximum};
}
constexpr Shape Button(QRect place, const char* text, const char* tooltip = nullptr) {
  return {Kind::Button, place, text, tooltip, 0, 0};
}
constexpr Shape Group(QRect place, const char* title) {
  return {Kind::Group, place, title, nullptr, 0, 0};
}
constexpr Shape StatusBar(QRect place, int firstPanel, int secondPanel) {
  return {Kind::StatusBar, place, nullptr, nullptr, firstPanel, secondPanel};
}
constexpr Shape FailureLine(QRect place) {
  return {Kind::FailureLine, place, nullptr, nullptr, 0, 0};
}
constexpr Shape Log(QRect place) {
  return {Kind::Log, place, nullptr, nullptr, 0, 0};
}

// What a control is to the exchanges and to the operator's clicks.
enum class Does { Nothing, Correction, Duration, Brightness, ShowsReadout, Click };

using Handler = void (TForm1::*)(QObject*);

struct Role {
  Does does;
  int index;  // Correction: the clock's number; Duration: a DisplayItem; ShowsReadout: a Readout
  Handler onClick;
};

constexpr Role kNoRole{Does::Nothing, 0, nullptr};
constexpr Role CorrectionOf(int clockNumber) {
  return {Does::Correction, clockNumber, nullptr};
}
// A duration spin: a change sends the configuration 5 s later (StartSEND).
constexpr Role DurationOf(DisplayItem item) {
  return {Does::Duration, static_cast<int>(item), nullptr};
}
// The brightness spin: a change sends the configuration at once.
constexpr Role kBrightness{Does::Brightness, 0, nullptr};
constexpr Role Shows(Readout readout) {
  return {Does::ShowsReadout, static_cast<int>(readout), nullptr};
}
constexpr Role Clicks(Handler handler) {
  return {Does::Click, 0, handler};
}

struct ControlRow {
  const char* name;
  Slot slot;
  QGroupBox* TForm1::*parent;  // nullptr: the window itself
  Shape shape;
  Role role;
};

// A control's object name and its form member, from the member's name.
#define TAVEX_CONTROL(member) #member, &TForm1::member

constexpr QGroupBox* TForm1::*kWindow = nullptr;

// The three captions come first, so that GroupBox3 lies over them; the groups of clocks 2-4 lie
// below GroupBox3's bottom edge.
const ControlRow kControls[] = {
    {TAVEX_CONTROL(Label16), kWindow, Caption(16, 20, "Коррекция времени"), kNoRole},
    {TAVEX_CONTROL(Label15), kWindow, Caption(165, 20, "Время"), kNoRole},
    {TAVEX_CONTROL(Label10), kWindow, Caption(277, 20, "Температура"), kNoRole},
    {TAVEX_CONTROL(GroupBox3), kWindow, Group({0, 0, 585, 393}, "Состояние часов"), kNoRole},
    {TAVEX_CONTROL(Label12), &TForm1::GroupBox3, Caption(224, 16, "Системное время и дата"),
     kNoRole},
    {TAVEX_CONTROL(Label9), &TForm1::GroupBox3, ReadoutLabel({192, 40, 193, 26}, "  "), kNoRole},
    {TAVEX_CONTROL(GroupBox1), &TForm1::GroupBox3, Group({32, 80, 513, 169}, "Часы №1"), kNoRole},
    {TAVEX_CONTROL(Label13), &TForm1::GroupBox1, Caption(24, 16, "Коррекция +/- часов"), kNoRole},
    {TAVEX_CONTROL(RxSpinEdit1), &TForm1::GroupBox1, Spin({48, 41, 41, 24}, -9, 9, kTipCorrection),
     CorrectionOf(1)},
    {TAVEX_CONTROL(Label14), &TForm1::GroupBox1, Caption(173, 16, "Время"), kNoRole},
    {TAVEX_CONTROL(Label5), &TForm1::GroupBox1, ReadoutLabel({144, 39, 89, 26}, ""),
     Shows(Readout::Clock1Time)},
    {TAVEX_CONTROL(Label7), &TForm1::GroupBox1, Caption(277, 16, "Температура"), kNoRole},
    {TAVEX_CONTROL(Label1), &TForm1::GroupBox1, FixedPitchReadoutLabel({272, 39, 89, 26}, " "),
     Shows(Readout::Clock1Temperature)},
    {TAVEX_CONTROL(Label32), &TForm1::GroupBox1, Caption(421, 16, "Давление"), kNoRole},
    {TAVEX_CONTROL(Label31), &TForm1::GroupBox1, FixedPitchReadoutLabel({400, 39, 89, 26}, " "),
     Shows(Readout::Clock1Pressure)},
    {TAVEX_CONTROL(Label27), &TForm1::GroupBox1, Caption(112, 88, "Время"), kNoRole},
    {TAVEX_CONTROL(RxSpinEdit6), &TForm1::GroupBox1, Spin({168, 81, 41, 24}, 0, 9, kTipTime),
     DurationOf(DisplayItem::Time)},
    {TAVEX_CONTROL(Label29), &TForm1::GroupBox1, Caption(112, 128, "Дата"), kNoRole},
    {TAVEX_CONTROL(RxSpinEdit7), &TForm1::GroupBox1, Spin({168, 121, 41, 24}, 0, 9, kTipDate),
     DurationOf(DisplayItem::Date)},
    {TAVEX_CONTROL(RxSpinEdit8), &TForm1::GroupBox1, Spin({296, 81, 41, 24}, 0, 9, kTipTemperature),
     DurationOf(DisplayItem::Temperature)},
    {TAVEX_CONTROL(Label28), &TForm1::GroupBox1, Caption(280, 120, "Температура"), kNoRole},
    {TAVEX_CONTROL(RxSpinEdit9), &TForm1::GroupBox1, Spin({424, 81, 41, 24}, 0, 9, kTipPressure),
     DurationOf(DisplayItem::Pressure)},
    {TAVEX_CONTROL(Label30), &TForm1::GroupBox1, Caption(416, 120, "Давление"), kNoRole},
    {TAVEX_CONTROL(Label33), &TForm1::GroupBox1, Caption(40, 256, "Яркость"), kNoRole},
    {TAVEX_CONTROL(RxSpinEdit10), &TForm1::GroupBox1, Spin({120, 249, 41, 24}, 0, 9), kBrightness},
    {TAVEX_CONTROL(lbl1), &TForm1::GroupBox3,
     FixedSizeCaption({304, 296, 276, 13}, "TAVEX: support@tavex.example"), kNoRole},
    {TAVEX_CONTROL(Label26), &TForm1::GroupBox3, Caption(240, 368, "Период опроса часов  (сек)"),
     kNoRole},

    {TAVEX_CONTROL(GroupBox2), &TForm1::GroupBox3, Group({8, 408, 385, 81}, "Часы №2"), kNoRole},
    {TAVEX_CONTROL(Label17), &TForm1::GroupBox2, Caption(24, 16, "Коррекция +/- часов"), kNoRole},
    {TAVEX_CONTROL(RxSpinEdit2), &TForm1::GroupBox2, Spin({48, 41, 41, 24}, -12, 12),
     CorrectionOf(2)},
    {TAVEX_CONTROL(Label18), &TForm1::GroupBox2, Caption(173, 16, "Время"), kNoRole},
    {TAVEX_CONTROL(Label6), &TForm1::GroupBox2, ReadoutLabel({144, 39, 89, 26}, "  "),
     Shows(Readout::Clock2Time)},
    {TAVEX_CONTROL(Label19), &TForm1::GroupBox2, Caption(277, 16, "Температура"), kNoRole},
    {TAVEX_CONTROL(Label11), &TForm1::GroupBox2, ReadoutLabel({272, 39, 89, 26}, "  "),
     Shows(Readout::Clock2Temperature)},

    {TAVEX_CONTROL(GroupBox4), &TForm1::GroupBox3, Group({16, 424, 385, 81}, "Часы №3"), kNoRole},
    {TAVEX_CONTROL(Label4), &TForm1::GroupBox4, Caption(24, 16, "Коррекция +/- часов"), kNoRole},
    {TAVEX_CONTROL(RxSpinEdit3), &TForm1::GroupBox4, Spin({48, 41, 41, 24}, -12, 12),
     CorrectionOf(3)},
    {TAVEX_CONTROL(Label8), &TForm1::GroupBox4, Caption(173, 16, "Время"), kNoRole},
    {TAVEX_CONTROL(Label3), &TForm1::GroupBox4, ReadoutLabel({144, 39, 89, 26}, "  "),
     Shows(Readout::Clock3Time)},
    {TAVEX_CONTROL(Label20), &TForm1::GroupBox4, Caption(277, 16, "Температура"), kNoRole},
    {TAVEX_CONTROL(Label2), &TForm1::GroupBox4, ReadoutLabel({272, 39, 89, 26}, "  "),
     Shows(Readout::Clock3Temperature)},

    {TAVEX_CONTROL(GroupBox5), &TForm1::GroupBox3, Group({8, 464, 385, 81}, "Часы №4"), kNoRole},
    {TAVEX_CONTROL(Label23), &TForm1::GroupBox5, Caption(24, 16, "Коррекция +/- часов"), kNoRole},
    {TAVEX_CONTROL(RxSpinEdit4), &TForm1::GroupBox5, Spin({48, 41, 41, 24}, -12, 12),
     CorrectionOf(4)},
    {TAVEX_CONTROL(Label24), &TForm1::GroupBox5, Caption(173, 16, "Время"), kNoRole},
    {TAVEX_CONTROL(Label22), &TForm1::GroupBox5, ReadoutLabel({144, 39, 89, 26}, "  "),
     Shows(Readout::Clock4Time)},
    {TAVEX_CONTROL(Label25), &TForm1::GroupBox5, Caption(277, 16, "Температура"), kNoRole},
    {TAVEX_CONTROL(Label21), &TForm1::GroupBox5, ReadoutLabel({272, 39, 89, 26}, "  "),
     Shows(Readout::Clock4Temperature)},

    {TAVEX_CONTROL(Button2), kWindow,
     Button({88, 264, 137, 25}, "Настроить COM - порт.", "Настройка порта"),
     Clicks(&TForm1::Button2Click)},
    {TAVEX_CONTROL(Button1), kWindow, Button({416, 264, 81, 25}, "Выход", "Выйти из программы"),
     Clicks(&TForm1::Button1Click)},
    {TAVEX_CONTROL(Button3), kWindow, Button({16, 520, 81, 25}, "Часы 1", kTipSetTime),
     Clicks(&TForm1::Button3Click)},
    {TAVEX_CONTROL(Button4), kWindow, Button({104, 520, 81, 25}, "Часы 2"),
     Clicks(&TForm1::Button4Click)},
    {TAVEX_CONTROL(Button5), kWindow, Button({192, 520, 81, 25}, "Часы3"),
     Clicks(&TForm1::Button5Click)},
    {TAVEX_CONTROL(Button6), kWindow, Button({280, 520, 75, 25}, "Часы4"),
     Clicks(&TForm1::Button6Click)},
    {TAVEX_CONTROL(Button7), kWindow, Button({448, 416, 75, 25}, "Часы4"),
     Clicks(&TForm1::Button6Click)},
    {TAVEX_CONTROL(Button8), kWindow, Button({448, 456, 81, 25}, "Часы 1", kTipSetTime),
     Clicks(&TForm1::Button3Click)},
    {TAVEX_CONTROL(Button9), kWindow, Button({424, 496, 121, 25}, "Читаю задержки", kTipSetTime),
     Clicks(&TForm1::Button9Click)},

    // Two empty panels; its simple text reports a port that failed to open.
    {TAVEX_CONTROL(StatusBar1), kWindow, StatusBar({0, 552, 433, 17}, 200, 50), kNoRole},
    // The status bar lies below the start size; the reason for a port failure is shown also in
    // the free strip between clock 1's group and the buttons, in red.
    {TAVEX_CONTROL(PortFailure), &TForm1::GroupBox3, FailureLine({32, 249, 513, 15}), kNoRole},
    {TAVEX_CONTROL(Memo1), kWindow, Log({704, 8, 169, 465}), kNoRole},
};

#undef TAVEX_CONTROL

QLabel* MakeFailureLine(QWidget* parent, const char* name, QRect geometry) {
  auto* line = Named(new QLabel(parent), name);
  line->setGeometry(geometry);
  line->setAlignment(Qt::AlignCenter);
  QPalette palette = line->palette();
  palette.setColor(QPalette::WindowText, QColor(0xC0, 0x00, 0x00));
  line->setPalette(palette);
  return line;
}

// A control of the given shape, named, on `parent`.
QWidget* Create(const Shape& shape, QWidget* parent, const char* name) {
  const QRect& place = shape.place;
  switch (shape.kind) {
    case Kind::Caption: {
      QLabel* label = MakeCaption(parent, name, shape.text, place.left(), place.top());
      if (!place.size().isEmpty()) label->setFixedSize(place.size());
      return label;
    }
    case Kind::Readout:
    case Kind::FixedPitchReadout:
      return MakeReadout(parent, name, shape.text, place, shape.kind == Kind::FixedPitchReadout);
    case Kind::Spin:
      return MakeSpin(parent, name, shape.minimum, shape.maximum, place, shape.tooltip);
    case Kind::Button:
      return MakeButton(parent, name, shape.text, place, shape.tooltip);
    case Kind::StatusBar: {
      auto* bar = Named(new TStatusBar({shape.minimum, shape.maximum}, parent), name);
      bar->setGeometry(place);
      return bar;
    }
    case Kind::FailureLine:
      return MakeFailureLine(parent, name, place);
    case Kind::Log: {
      auto* log = Named(new TLogMemo(parent), name);
      log->setGeometry(place);
      return log;
    }
    case Kind::Group:
      break;
  }
  return MakeGroup(parent, name, shape.text, place);
}

// Creates the control on its parent and stores it in its member of the form.
QWidget* Place(TForm1& form, const ControlRow& row) {
  QWidget* parent = row.parent == nullptr ? &form : static_cast<QWidget*>(form.*row.parent);
  QWidget* widget = Create(row.shape, parent, row.name);
  std::visit(
      [&form, widget](auto member) {
        using Control = std::remove_pointer_t<std::remove_reference_t<decltype(form.*member)>>;
        form.*member = qobject_cast<Control*>(widget);
      },
      row.slot);
  return widget;
}

// Clock 1's readouts, polled every period, in the order of the form's readout ages.
constexpr Readout kPolled[] = {Readout::Clock1Time, Readout::Clock1Temperature,
                               Readout::Clock1Pressure};

// The control a row created.
QWidget* ControlOf(const TForm1& form, const ControlRow& row) {
  return std::visit([&form](auto member) -> QWidget* { return form.*member; }, row.slot);
}

std::string TwoDigits(int value) {
  char text[4];
  std::snprintf(text, sizeof text, "%02d", value % 100);
  return text;
}

}  // namespace

TForm1::TForm1(QWidget* parent) : QWidget(parent), clock_(&platform::SystemClock()) {
  setObjectName(QStringLiteral("Form1"));
  setWindowTitle(QStringLiteral("TAVEX - Управление часами "));
  setWindowIcon(WindowIcon());
  setFont(FormFont());

  ComPort.SetName("ComPort");
  ComPort.SetBaudRate(br4800);
  ComPort.SetPort("COM6");
  ComPort.Parity().SetBits(prNone);
  ComPort.SetStopBits(sbOneStopBit);
  ComPort.SetDataBits(dbEight);
  ComPort.SetDiscardNull(true);
  ComPort.SetEvents(kAllComEvents);
  ComPort.FlowControl().SetOutCTSFlow(false);
  ComPort.FlowControl().SetOutDSRFlow(false);
  ComPort.FlowControl().SetControlDTR(dtrDisable);
  ComPort.FlowControl().SetControlRTS(rtsDisable);
  ComPort.FlowControl().SetXonXoffOut(false);
  ComPort.FlowControl().SetXonXoffIn(false);
  ComPort.Loaded();

  CreateControls();
  WireEvents();

  // Port deliveries handed to this thread are served from the event loop.
  THandover::Main().SetWakeup([] {
    if (QCoreApplication* app = QCoreApplication::instance()) {
      QMetaObject::invokeMethod(
          app, [] { Guarded([] { THandover::Main().Serve(); }); }, Qt::QueuedConnection);
    }
  });

  resize(584, 314);
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    const QRect area = screen->availableGeometry();
    move(area.center() - QPoint(width() / 2, height() / 2));
  }
  SetWallClock(*clock_);
  KeyGate->Update();
  Timer3->SetEnabled(true);
  Timer5->SetEnabled(true);
}

void TForm1::SetWallClock(platform::WallClock& clock) {
  clock_ = &clock;
  // The readouts' ages count from now on this clock's time.
  for (std::int64_t& setNs : readoutSetNs_) setNs = clock_->MonotonicNs();
}

TForm1::~TForm1() {
  Timer1->SetEnabled(false);
  Timer2->SetEnabled(false);
  Timer3->SetEnabled(false);
  Timer5->SetEnabled(false);
  Guarded([this] { ComPort.Close(); });
  THandover::Main().SetWakeup(nullptr);
}

void TForm1::CreateControls() {
  for (const ControlRow& row : kControls) {
    QWidget* widget = Place(*this, row);
    const Role& role = row.role;
    switch (role.does) {
      case Does::Correction:
        corrections_[role.index - 1] = qobject_cast<TSpinEdit*>(widget);
        break;
      case Does::Duration:
        durations_[role.index] = qobject_cast<TSpinEdit*>(widget);
        break;
      case Does::Brightness:
        brightness_ = qobject_cast<TSpinEdit*>(widget);
        break;
      case Does::ShowsReadout:
        readouts_[role.index] = qobject_cast<QLabel*>(widget);
        break;
      case Does::Click:
      case Does::Nothing:
        break;
    }
  }

  Timer1 = Named(new TTimer(10000, this), "Timer1");
  Timer2 = Named(new TTimer(5000, this), "Timer2");
  Timer3 = Named(new TTimer(100, this), "Timer3");
  Timer5 = Named(new TTimer(1000, this), "Timer5");

  // Keyboard order follows what the operator sees, left to right and top to bottom, worked out
  // from the controls' places; controls that cannot be seen at the window's size take no focus
  // and no keys. Every spin control and button of the tables takes part (the log is disabled).
  std::vector<QWidget*> focusable;
  for (TSpinEdit* spin : findChildren<TSpinEdit*>()) focusable.push_back(spin);
  for (QPushButton* button : findChildren<QPushButton*>()) focusable.push_back(button);
  KeyGate = new TKeyGate(this, std::move(focusable));
}

void TForm1::WireEvents() {
  for (const ControlRow& row : kControls) {
    QWidget* control = ControlOf(*this, row);
    Handler handler = nullptr;
    switch (row.role.does) {
      case Does::Click:
        handler = row.role.onClick;
        connect(qobject_cast<QPushButton*>(control), &QPushButton::clicked, this,
                [this, control, handler] { Guarded([&] { (this->*handler)(control); }); });
        break;
      case Does::Duration:
      case Does::Brightness:
        handler = row.role.does == Does::Duration ? &TForm1::StartSEND : &TForm1::Button3Click;
        connect(qobject_cast<QSpinBox*>(control), &QSpinBox::valueChanged, this,
                [this, control, handler] { Guarded([&] { (this->*handler)(control); }); });
        break;
      case Does::Correction:
      case Does::ShowsReadout:
      case Does::Nothing:
        break;
    }
  }

  const auto onTick = [this](TTimer* timer, void (TForm1::*handler)(QObject*)) {
    timer->OnTimer = [this, timer, handler] { Guarded([&] { (this->*handler)(timer); }); };
  };
  onTick(Timer1, &TForm1::Timer1Timer);
  onTick(Timer2, &TForm1::Timer2Timer);
  onTick(Timer3, &TForm1::Timer3Timer);
  onTick(Timer5, &TForm1::Timer5Timer);
}

void TForm1::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  KeyGate->Update();
}

// ---- Handlers ----

void TForm1::Button1Click(QObject*) {
  close();
}

void TForm1::Button2Click(QObject*) {
  ComPort.Close();
  Timer1->SetEnabled(false);
  Timer3->SetEnabled(false);
  try {
    // The dialog starts from the stored settings, not from what the last exchange happened to
    // load: what the operator leaves alone is stored back as it stands. Settings that cannot be
    // loaded leave the port's own; the store below reports what is wrong with the file.
    try {
      ComPort.RestoreSettings(ssRegistry, std::string(kSettingsLocation));
    } catch (const EComPort&) {
    }
    ComPort.ShowSetupDialog();
    // The clocks' line runs at 4800 bit/s whatever the dialog chose.
    ComPort.SetBaudRate(br4800);
    ComPort.SaveSettings(ssRegistry, std::string(kSettingsLocation));
  } catch (...) {
    // The error box reports the failure; polling goes on with the settings in force (each
    // exchange loads the stored ones), rather than stopping until the next successful setup.
    Timer3->SetEnabled(true);
    throw;
  }
  Timer3->SetEnabled(true);
}

void TForm1::Button3Click(QObject*) {
  Exchange(ConfigurationExchange());
}
void TForm1::Button4Click(QObject*) {
  Exchange(TimeSettingExchange(2));
}
void TForm1::Button5Click(QObject*) {
  Exchange(TimeSettingExchange(3));
}
void TForm1::Button6Click(QObject*) {
  Exchange(TimeSettingExchange(4));
}
void TForm1::Button9Click(QObject*) {
  Exchange(ReadBackExchange());
}

void TForm1::Timer1Timer(QObject*) {
  Button9Click(Button9);
}

void TForm1::Timer2Timer(QObject*) {
  Button3Click(Button3);
}

void TForm1::Timer3Timer(QObject*) {
  // An error in the read-back leaves Timer3 armed: the first read-back is retried.
  Button9Click(Button9);
  Timer3->SetEnabled(false);
  Timer2->SetEnabled(false);
  Timer1->SetEnabled(true);
}

void TForm1::Timer5Timer(QObject*) {
  const platform::CivilTime now = clock_->LocalNow();
  const std::string text = TwoDigits(now.hour) + ":" + TwoDigits(now.minute) + ":" +
                           TwoDigits(now.second) + " " + TwoDigits(now.day) + "." +
                           TwoDigits(now.month) + "." + TwoDigits(now.year);
  Label9->setText(QString::fromStdString(text));
  MarkOldReadouts();
}

void TForm1::StartSEND(QObject*) {
  Timer1->SetEnabled(false);
  Timer2->SetEnabled(true);
}

ExchangeOutcome TForm1::Exchange(const ExchangeParams& params) {
  return RunRecordedExchange(metrics_, params, *this, ComPort, *clock_);
}

void TForm1::SetMetrics(MetricsRecorder* metrics) {
  metrics_ = metrics;
  if (metrics_ == nullptr) return;
  // The polling state is the set of armed timers; it is recorded whenever one of them changes.
  const auto record = [this] {
    if (metrics_ == nullptr) return;
    metrics_->RecordPollingState(Timer3->Enabled()   ? PollingState::Start
                                 : Timer2->Enabled() ? PollingState::Sending
                                 : Timer1->Enabled() ? PollingState::Reading
                                                     : PollingState::Stopped);
  };
  for (TTimer* timer : {Timer1, Timer2, Timer3})
    connect(timer, &TTimer::ArmedChanged, this, record);
  record();
}

// ---- ClockPanel ----

int TForm1::CorrectionHours(int clockNumber) const {
  return corrections_[clockNumber >= 1 && clockNumber <= 3 ? clockNumber - 1 : 3]->value();
}

TSpinEdit* TForm1::DurationControl(DisplayItem item) const {
  const int index = static_cast<int>(item);
  return durations_[index >= 0 && index < kDisplayItems ? index : kDisplayItems - 1];
}

int TForm1::DisplayDuration(DisplayItem item) const {
  return DurationControl(item)->value();
}

void TForm1::SetDisplayDuration(DisplayItem item, int seconds) {
  DurationControl(item)->setValue(seconds);
}

int TForm1::Brightness() const {
  return brightness_->value();
}

QLabel* TForm1::LabelOf(Readout readout) const {
  const int index = static_cast<int>(readout);
  return index >= 0 && index < kReadouts ? readouts_[index] : nullptr;
}

void TForm1::SetReadout(Readout readout, const std::string& text) {
  if (QLabel* label = LabelOf(readout)) label->setText(Text(text));
  for (int i = 0; i < 3; ++i) {
    if (readout != kPolled[i]) continue;
    readoutSetNs_[i] = clock_->MonotonicNs();
    ShowReadoutAge(i, false);
  }
}

void TForm1::ShowReadoutAge(int index, bool old) {
  if (readoutOld_[index] == old) return;
  readoutOld_[index] = old;
  SetReadoutColour(LabelOf(kPolled[index]), old ? kOldReadoutText : kReadoutText);
}

// Clock 1 is read every polling period; a readout no exchange has written for longer than two
// periods (polling stopped by the setup dialog, an error box, a busy line) shows an old value.
void TForm1::MarkOldReadouts() {
  const std::int64_t limitNs = 2 * std::int64_t{Timer1->Interval()} * 1000000;
  const std::int64_t now = clock_->MonotonicNs();
  for (int i = 0; i < 3; ++i) ShowReadoutAge(i, now - readoutSetNs_[i] > limitNs);
}

void TForm1::SetStatusText(const std::string& text) {
  StatusBar1->SetSimpleText(Text(text));
  PortFailure->setText(Text(text));
}

void TForm1::AppendLog(const std::string& line) {
  Memo1->Append(Text(line));
  if (journal_ != nullptr) journal_->Append(line);
}

void TForm1::SetTimerArmed(PollTimer timer, bool armed) {
  (timer == PollTimer::ReadBack ? Timer1 : Timer2)->SetEnabled(armed);
}

bool TForm1::TryOpenPort() {
  try {
    ComPort.Open();
    return true;
  } catch (const std::exception&) {
    if (Unattended()) {
      ShowError(Text(kPortFailureText));
      return false;
    }
    ReportErrorShown(Text(kPortFailureText));
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Ошибка"), Text(kPortFailureText),
                    QMessageBox::Ok, this);
    PrepareMessageBox(box);
    box.exec();
    return false;
  }
}

}  // namespace tavex::ui
