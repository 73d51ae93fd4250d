// SPDX-License-Identifier: GPL-3.0-or-later
// The operator window: the computer's time, clock 1's readouts and settings, the hidden controls
// of clocks 2-4, the buttons that start the exchanges, the polling timers and the exchange log.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>
#include <cstdint>

#include "clocklink/ClockExchange.h"
#include "operator/Controls.h"
#include "operator/KeyReach.h"
#include "operator/Metrics.h"
#include "platform/journal.h"
#include "platform/wall_clock.h"
#include "serial/ComPort.h"

namespace tavex::ui {

class TForm1 : public QWidget, public ClockPanel {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // Tests fix "now" through their own clock; the default is the system's.
  void SetWallClock(platform::WallClock& clock);
  // Every log line also goes to `journal` (none: the window's log only).
  void SetJournal(platform::Journal* journal) { journal_ = journal; }
  // Every exchange and polling state also goes to `metrics` (none: not recorded).
  void SetMetrics(MetricsRecorder* metrics);

  // ---- Event handlers; each may throw, the wiring runs them inside the error boundary ----
  void Button1Click(QObject* Sender);  // "Выход": closes the window, which ends the program
  void Button2Click(QObject* Sender);  // "Настроить COM - порт.": the port setup command
  void Button3Click(QObject* Sender);  // configuration exchange of clock 1 (Button3, Button8)
  void Button4Click(QObject* Sender);  // time-setting exchange of clock 2
  void Button5Click(QObject* Sender);  // time-setting exchange of clock 3
  void Button6Click(QObject* Sender);  // time-setting exchange of clock 4 (Button6, Button7)
  void Button9Click(QObject* Sender);  // read-back of clock 1's display durations
  void Timer1Timer(QObject* Sender);   // periodic read-back: clicks Button9
  void Timer2Timer(QObject* Sender);   // configuration resend: clicks Button3
  void Timer3Timer(QObject* Sender);   // first read-back, then starts the periodic one
  void Timer5Timer(QObject* Sender);   // the computer's time and date into Label9
  void StartSEND(QObject* Sender);     // a duration changed: configuration goes out in 5 s

  // ---- ClockPanel ----
  int CorrectionHours(int clockNumber) const override;
  int DisplayDuration(DisplayItem item) const override;
  void SetDisplayDuration(DisplayItem item, int seconds) override;
  int Brightness() const override;
  void SetReadout(Readout readout, const std::string& text) override;
  void SetStatusText(const std::string& text) override;
  void AppendLog(const std::string& line) override;
  void SetTimerArmed(PollTimer timer, bool armed) override;
  bool TryOpenPort() override;

  TComPort ComPort;  // the clocks' serial line, opened and closed by each exchange

  // The groups of clocks 2-4 lie below the bottom edge of GroupBox3 and are never seen.
  QGroupBox* GroupBox3;  // the frame "Состояние часов" that holds the groups
  QGroupBox* GroupBox1;  // "Часы №1"
  QGroupBox* GroupBox2;  // "Часы №2"
  QGroupBox* GroupBox4;  // "Часы №3"
  QGroupBox* GroupBox5;  // "Часы №4"

  // Clock 1.
  QLabel* Label13;          // caption "Коррекция +/- часов"
  TSpinEdit* RxSpinEdit1;   // hour correction, -9 to +9
  QLabel* Label14;          // caption "Время"
  QLabel* Label5;           // readout: the clock's time
  QLabel* Label7;           // caption "Температура"
  QLabel* Label1;           // readout: the clock's temperature
  QLabel* Label32;          // caption "Давление"
  QLabel* Label31;          // readout: the clock's pressure
  QLabel* Label27;          // caption "Время" of RxSpinEdit6
  TSpinEdit* RxSpinEdit6;   // seconds the clock shows its time, 0 to 9
  QLabel* Label29;          // caption "Дата" of RxSpinEdit7
  TSpinEdit* RxSpinEdit7;   // seconds the clock shows the date, 0 to 9
  TSpinEdit* RxSpinEdit8;   // seconds the clock shows the temperature, 0 to 9
  QLabel* Label28;          // caption "Температура" of RxSpinEdit8
  TSpinEdit* RxSpinEdit9;   // seconds the clock shows the pressure, 0 to 9
  QLabel* Label30;          // caption "Давление" of RxSpinEdit9
  QLabel* Label33;          // caption "Яркость" (never seen)
  TSpinEdit* RxSpinEdit10;  // the clock's brightness, 0 to 9 (never seen); a change sends it

  // Clock 2.
  QLabel* Label17;         // caption "Коррекция +/- часов"
  TSpinEdit* RxSpinEdit2;  // hour correction, -12 to +12
  QLabel* Label18;         // caption "Время"
  QLabel* Label6;          // readout: the clock's time
  QLabel* Label19;         // caption "Температура"
  QLabel* Label11;         // readout: the clock's temperature
  // Clock 3.
  QLabel* Label4;          // caption "Коррекция +/- часов"
  TSpinEdit* RxSpinEdit3;  // hour correction, -12 to +12
  QLabel* Label8;          // caption "Время"
  QLabel* Label3;          // readout: the clock's time
  QLabel* Label20;         // caption "Температура"
  QLabel* Label2;          // readout: the clock's temperature
  // Clock 4.
  QLabel* Label23;         // caption "Коррекция +/- часов"
  TSpinEdit* RxSpinEdit4;  // hour correction, -12 to +12
  QLabel* Label24;         // caption "Время"
  QLabel* Label22;         // readout: the clock's time
  QLabel* Label25;         // caption "Температура"
  QLabel* Label21;         // readout: the clock's temperature

  // The rest of the frame.
  QLabel* Label12;  // caption "Системное время и дата"
  QLabel* Label9;   // readout: the computer's time and date
  QLabel* lbl1;     // the maker's contact line
  QLabel* Label26;  // caption "Период опроса часов  (сек)", with no control of its own

  // On the window itself.
  QLabel* Label16;         // caption "Коррекция времени", covered by GroupBox3
  QLabel* Label15;         // caption "Время", covered by GroupBox3
  QLabel* Label10;         // caption "Температура", covered by GroupBox3
  QPushButton* Button1;    // "Выход"
  QPushButton* Button2;    // "Настроить COM - порт.": port setup
  QPushButton* Button3;    // "Часы 1": configuration exchange of clock 1
  QPushButton* Button4;    // "Часы 2": time-setting exchange of clock 2
  QPushButton* Button5;    // "Часы3": time-setting exchange of clock 3
  QPushButton* Button6;    // "Часы4": time-setting exchange of clock 4
  QPushButton* Button7;    // "Часы4": as Button6
  QPushButton* Button8;    // "Часы 1": as Button3
  QPushButton* Button9;    // "Читаю задержки": read-back of clock 1
  TStatusBar* StatusBar1;  // two empty panels; its simple text reports a port that failed to open
  // Below clock 1's group, inside the start size: why the port failed, while the failure lasts.
  QLabel* PortFailure;
  TLogMemo* Memo1;  // the exchange log

  TTimer* Timer1;  // 10 s: periodic read-back of clock 1
  TTimer* Timer2;  // 5 s: configuration of clock 1 until a reply is accepted
  TTimer* Timer3;  // 100 ms: the first read-back after start or port setup
  TTimer* Timer5;  // 1 s: the time and date display

  // Focus, keys and the wheel for the controls the operator can see.
  TKeyGate* KeyGate;

 protected:
  void resizeEvent(QResizeEvent* event) override;

 private:
  void CreateControls();
  void WireEvents();
  QLabel* LabelOf(Readout readout) const;
  // Shows a readout of clock 1 as current (fresh: set by an exchange now) or as old.
  void ShowReadoutAge(int index, bool old);
  void MarkOldReadouts();
  TSpinEdit* DurationControl(DisplayItem item) const;
  ExchangeOutcome Exchange(const ExchangeParams& params);

  // The controls by their role, filled from the window's control table.
  static constexpr int kClocks = 4;
  static constexpr int kDisplayItems = static_cast<int>(DisplayItem::Pressure) + 1;
  static constexpr int kReadouts = static_cast<int>(Readout::None);
  TSpinEdit* corrections_[kClocks] = {};  // by clock number - 1
  TSpinEdit* durations_[kDisplayItems] = {};
  TSpinEdit* brightness_ = nullptr;
  QLabel* readouts_[kReadouts] = {};

  platform::WallClock* clock_;
  platform::Journal* journal_ = nullptr;
  // Clock 1's polled readouts (time, temperature, pressure): when each was last written by an
  // exchange, on the clock's monotonic time, and whether it is shown as old.
  std::int64_t readoutSetNs_[3] = {};
  bool readoutOld_[3] = {};
  MetricsRecorder* metrics_ = nullptr;
};

}  // namespace tavex::ui
