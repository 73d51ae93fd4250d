#include "operator/TForm1.h"

#include <QApplication>
#include <QMessageBox>
#include <QScreen>
#include <QString>
#include <cstdio>

#include "operator/ErrorHandler.h"
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

QLabel* Caption(QWidget* parent, const char* name, const char* text, int left, int top) {
  auto* label = Named(new QLabel(QString::fromUtf8(text), parent), name);
  label->move(left, top);
  label->adjustSize();
  return label;
}

QLabel* ReadoutLabel(QWidget* parent, const char* name, const char* text, QRect geometry,
                     bool fixedPitch = false) {
  auto* label = Named(new QLabel(QString::fromUtf8(text), parent), name);
  label->setGeometry(geometry);
  label->setAlignment(Qt::AlignCenter);
  label->setFont(ReadoutFont(fixedPitch));
  label->setAutoFillBackground(true);
  QPalette palette = label->palette();
  palette.setColor(QPalette::Window, Qt::black);
  palette.setColor(QPalette::WindowText, QColor(0x00, 0xFF, 0x00));
  label->setPalette(palette);
  return label;
}

TSpinEdit* Spin(QWidget* parent, const char* name, int minimum, int maximum, int left, int top,
                const char* tooltip = nullptr) {
  auto* spin = Named(new TSpinEdit(minimum, maximum, parent), name);
  spin->setGeometry(left, top, 41, 24);
  QFont font = FormFont();
  font.setPixelSize(13);
  spin->setFont(font);
  if (tooltip) spin->setToolTip(QString::fromUtf8(tooltip));
  return spin;
}

QPushButton* Button(QWidget* parent, const char* name, const char* text, QRect geometry,
                    const char* tooltip = nullptr) {
  auto* button = Named(new QPushButton(QString::fromUtf8(text), parent), name);
  button->setGeometry(geometry);
  button->setAutoDefault(false);
  if (tooltip) button->setToolTip(QString::fromUtf8(tooltip));
  return button;
}

QGroupBox* Group(QWidget* parent, const char* name, const char* title, QRect geometry) {
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

// The controls of one of clocks 2-4, which share one layout.
struct ClockGroup {
  QLabel* correctionCaption;
  TSpinEdit* correction;
  QLabel* timeCaption;
  QLabel* time;
  QLabel* temperatureCaption;
  QLabel* temperature;
};

ClockGroup MakeClockGroup(QGroupBox* group, const char* names[6]) {
  ClockGroup c{};
  c.correctionCaption = Caption(group, names[0], "Коррекция +/- часов", 24, 16);
  c.correction = Spin(group, names[1], -12, 12, 48, 41);
  c.timeCaption = Caption(group, names[2], "Время", 173, 16);
  c.time = ReadoutLabel(group, names[3], "  ", QRect(144, 39, 89, 26));
  c.temperatureCaption = Caption(group, names[4], "Температура", 277, 16);
  c.temperature = ReadoutLabel(group, names[5], "  ", QRect(272, 39, 89, 26));
  return c;
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
  Timer3->SetEnabled(true);
  Timer5->SetEnabled(true);
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
  // Created first so that GroupBox3 lies over them.
  Label16 = Caption(this, "Label16", "Коррекция времени", 16, 20);
  Label15 = Caption(this, "Label15", "Время", 165, 20);
  Label10 = Caption(this, "Label10", "Температура", 277, 20);

  GroupBox3 = Group(this, "GroupBox3", "Состояние часов", QRect(0, 0, 585, 393));
  Label12 = Caption(GroupBox3, "Label12", "Системное время и дата", 224, 16);
  Label9 = ReadoutLabel(GroupBox3, "Label9", "  ", QRect(192, 40, 193, 26));

  GroupBox1 = Group(GroupBox3, "GroupBox1", "Часы №1", QRect(32, 80, 513, 169));
  Label13 = Caption(GroupBox1, "Label13", "Коррекция +/- часов", 24, 16);
  RxSpinEdit1 = Spin(GroupBox1, "RxSpinEdit1", -9, 9, 48, 41, kTipCorrection);
  Label14 = Caption(GroupBox1, "Label14", "Время", 173, 16);
  Label5 = ReadoutLabel(GroupBox1, "Label5", "", QRect(144, 39, 89, 26));
  Label7 = Caption(GroupBox1, "Label7", "Температура", 277, 16);
  Label1 = ReadoutLabel(GroupBox1, "Label1", " ", QRect(272, 39, 89, 26), true);
  Label32 = Caption(GroupBox1, "Label32", "Давление", 421, 16);
  Label31 = ReadoutLabel(GroupBox1, "Label31", " ", QRect(400, 39, 89, 26), true);
  Label27 = Caption(GroupBox1, "Label27", "Время", 112, 88);
  RxSpinEdit6 = Spin(GroupBox1, "RxSpinEdit6", 0, 9, 168, 81, kTipTime);
  Label29 = Caption(GroupBox1, "Label29", "Дата", 112, 128);
  RxSpinEdit7 = Spin(GroupBox1, "RxSpinEdit7", 0, 9, 168, 121, kTipDate);
  RxSpinEdit8 = Spin(GroupBox1, "RxSpinEdit8", 0, 9, 296, 81, kTipTemperature);
  Label28 = Caption(GroupBox1, "Label28", "Температура", 280, 120);
  RxSpinEdit9 = Spin(GroupBox1, "RxSpinEdit9", 0, 9, 424, 81, kTipPressure);
  Label30 = Caption(GroupBox1, "Label30", "Давление", 416, 120);
  Label33 = Caption(GroupBox1, "Label33", "Яркость", 40, 256);
  RxSpinEdit10 = Spin(GroupBox1, "RxSpinEdit10", 0, 9, 120, 249);

  lbl1 = Caption(GroupBox3, "lbl1", "TAVEX: support@tavex.example", 304, 296);
  lbl1->setFixedSize(276, 13);
  Label26 = Caption(GroupBox3, "Label26", "Период опроса часов  (сек)", 240, 368);

  GroupBox2 = Group(GroupBox3, "GroupBox2", "Часы №2", QRect(8, 408, 385, 81));
  const char* clock2[6] = {"Label17", "RxSpinEdit2", "Label18", "Label6", "Label19", "Label11"};
  const ClockGroup c2 = MakeClockGroup(GroupBox2, clock2);
  Label17 = c2.correctionCaption, RxSpinEdit2 = c2.correction, Label18 = c2.timeCaption;
  Label6 = c2.time, Label19 = c2.temperatureCaption, Label11 = c2.temperature;

  GroupBox4 = Group(GroupBox3, "GroupBox4", "Часы №3", QRect(16, 424, 385, 81));
  const char* clock3[6] = {"Label4", "RxSpinEdit3", "Label8", "Label3", "Label20", "Label2"};
  const ClockGroup c3 = MakeClockGroup(GroupBox4, clock3);
  Label4 = c3.correctionCaption, RxSpinEdit3 = c3.correction, Label8 = c3.timeCaption;
  Label3 = c3.time, Label20 = c3.temperatureCaption, Label2 = c3.temperature;

  GroupBox5 = Group(GroupBox3, "GroupBox5", "Часы №4", QRect(8, 464, 385, 81));
  const char* clock4[6] = {"Label23", "RxSpinEdit4", "Label24", "Label22", "Label25", "Label21"};
  const ClockGroup c4 = MakeClockGroup(GroupBox5, clock4);
  Label23 = c4.correctionCaption, RxSpinEdit4 = c4.correction, Label24 = c4.timeCaption;
  Label22 = c4.time, Label25 = c4.temperatureCaption, Label21 = c4.temperature;

  Button2 =
      Button(this, "Button2", "Настроить COM - порт.", QRect(88, 264, 137, 25), "Настройка порта");
  Button1 = Button(this, "Button1", "Выход", QRect(416, 264, 81, 25), "Выйти из программы");
  Button3 = Button(this, "Button3", "Часы 1", QRect(16, 520, 81, 25), kTipSetTime);
  Button4 = Button(this, "Button4", "Часы 2", QRect(104, 520, 81, 25));
  Button5 = Button(this, "Button5", "Часы3", QRect(192, 520, 81, 25));
  Button6 = Button(this, "Button6", "Часы4", QRect(280, 520, 75, 25));
  Button7 = Button(this, "Button7", "Часы4", QRect(448, 416, 75, 25));
  Button8 = Button(this, "Button8", "Часы 1", QRect(448, 456, 81, 25), kTipSetTime);
  Button9 = Button(this, "Button9", "Читаю задержки", QRect(424, 496, 121, 25), kTipSetTime);

  StatusBar1 = Named(new TStatusBar({200, 50}, this), "StatusBar1");
  StatusBar1->setGeometry(0, 552, 433, 17);
  Memo1 = Named(new TLogMemo(this), "Memo1");
  Memo1->setGeometry(704, 8, 169, 465);

  Timer1 = Named(new TTimer(10000, this), "Timer1");
  Timer2 = Named(new TTimer(5000, this), "Timer2");
  Timer3 = Named(new TTimer(100, this), "Timer3");
  Timer5 = Named(new TTimer(1000, this), "Timer5");

  // Keyboard order: the groups' spin controls, then the window's buttons (the log is skipped
  // while disabled).
  QWidget* order[] = {RxSpinEdit1,  RxSpinEdit6, RxSpinEdit7, RxSpinEdit8, RxSpinEdit9,
                      RxSpinEdit10, RxSpinEdit2, RxSpinEdit3, RxSpinEdit4, Button1,
                      Button2,      Button3,     Memo1,       Button4,     Button5,
                      Button6,      Button7,     Button8,     Button9};
  for (std::size_t i = 1; i < std::size(order); ++i) setTabOrder(order[i - 1], order[i]);
}

void TForm1::WireEvents() {
  const auto onClick = [this](QPushButton* button, void (TForm1::*handler)(QObject*)) {
    connect(button, &QPushButton::clicked, this,
            [this, button, handler] { Guarded([&] { (this->*handler)(button); }); });
  };
  onClick(Button1, &TForm1::Button1Click);
  onClick(Button2, &TForm1::Button2Click);
  onClick(Button3, &TForm1::Button3Click);
  onClick(Button4, &TForm1::Button4Click);
  onClick(Button5, &TForm1::Button5Click);
  onClick(Button6, &TForm1::Button6Click);
  onClick(Button7, &TForm1::Button6Click);
  onClick(Button8, &TForm1::Button3Click);
  onClick(Button9, &TForm1::Button9Click);

  const auto onChange = [this](TSpinEdit* spin, void (TForm1::*handler)(QObject*)) {
    connect(spin, &QSpinBox::valueChanged, this,
            [this, spin, handler] { Guarded([&] { (this->*handler)(spin); }); });
  };
  onChange(RxSpinEdit6, &TForm1::StartSEND);
  onChange(RxSpinEdit7, &TForm1::StartSEND);
  onChange(RxSpinEdit8, &TForm1::StartSEND);
  onChange(RxSpinEdit9, &TForm1::StartSEND);
  onChange(RxSpinEdit10, &TForm1::Button3Click);

  const auto onTick = [this](TTimer* timer, void (TForm1::*handler)(QObject*)) {
    timer->OnTimer = [this, timer, handler] { Guarded([&] { (this->*handler)(timer); }); };
  };
  onTick(Timer1, &TForm1::Timer1Timer);
  onTick(Timer2, &TForm1::Timer2Timer);
  onTick(Timer3, &TForm1::Timer3Timer);
  onTick(Timer5, &TForm1::Timer5Timer);
}

// ---- Handlers ----

void TForm1::Button1Click(QObject*) {
  close();
}

void TForm1::Button2Click(QObject*) {
  ComPort.Close();
  Timer1->SetEnabled(false);
  Timer3->SetEnabled(false);
  ComPort.ShowSetupDialog();
  // The clocks' line runs at 4800 bit/s whatever the dialog chose.
  ComPort.SetBaudRate(br4800);
  ComPort.SaveSettings(ssRegistry, std::string(kSettingsLocation));
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
}

void TForm1::StartSEND(QObject*) {
  Timer1->SetEnabled(false);
  Timer2->SetEnabled(true);
}

ExchangeOutcome TForm1::Exchange(const ExchangeParams& params) {
  return RunClockExchange(params, *this, ComPort, *clock_);
}

// ---- ClockPanel ----

int TForm1::CorrectionHours(int clockNumber) const {
  switch (clockNumber) {
    case 1:
      return RxSpinEdit1->value();
    case 2:
      return RxSpinEdit2->value();
    case 3:
      return RxSpinEdit3->value();
    default:
      return RxSpinEdit4->value();
  }
}

TSpinEdit* TForm1::DurationControl(DisplayItem item) const {
  switch (item) {
    case DisplayItem::Time:
      return RxSpinEdit6;
    case DisplayItem::Date:
      return RxSpinEdit7;
    case DisplayItem::Temperature:
      return RxSpinEdit8;
    case DisplayItem::Pressure:
      break;
  }
  return RxSpinEdit9;
}

int TForm1::DisplayDuration(DisplayItem item) const {
  return DurationControl(item)->value();
}

void TForm1::SetDisplayDuration(DisplayItem item, int seconds) {
  DurationControl(item)->setValue(seconds);
}

int TForm1::Brightness() const {
  return RxSpinEdit10->value();
}

QLabel* TForm1::LabelOf(Readout readout) const {
  switch (readout) {
    case Readout::Clock1Time:
      return Label5;
    case Readout::Clock1Temperature:
      return Label1;
    case Readout::Clock1Pressure:
      return Label31;
    case Readout::Clock2Time:
      return Label6;
    case Readout::Clock2Temperature:
      return Label11;
    case Readout::Clock3Time:
      return Label3;
    case Readout::Clock3Temperature:
      return Label2;
    case Readout::Clock4Time:
      return Label22;
    case Readout::Clock4Temperature:
      return Label21;
    case Readout::None:
      break;
  }
  return nullptr;
}

void TForm1::SetReadout(Readout readout, const std::string& text) {
  if (QLabel* label = LabelOf(readout)) label->setText(Text(text));
}

void TForm1::SetStatusText(const std::string& text) {
  StatusBar1->SetSimpleText(Text(text));
}

void TForm1::AppendLog(const std::string& line) {
  Memo1->Append(Text(line));
}

void TForm1::SetTimerArmed(PollTimer timer, bool armed) {
  (timer == PollTimer::ReadBack ? Timer1 : Timer2)->SetEnabled(armed);
}

bool TForm1::TryOpenPort() {
  try {
    ComPort.Open();
    return true;
  } catch (const std::exception&) {
    QMessageBox box(QMessageBox::Critical, QStringLiteral("Ошибка"), Text(kPortFailureText),
                    QMessageBox::Ok, this);
    box.exec();
    return false;
  }
}

}  // namespace tavex::ui
