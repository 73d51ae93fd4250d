// The operator window: the computer's time, clock 1's readouts and settings, the hidden controls
// of clocks 2-4, the buttons that start the exchanges, the polling timers and the exchange log.
#pragma once

#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QWidget>

#include "clocklink/ClockExchange.h"
#include "operator/Controls.h"
#include "platform/wall_clock.h"
#include "serial/ComPort.h"

namespace tavex::ui {

class TForm1 : public QWidget, public ClockPanel {
  Q_OBJECT

 public:
  explicit TForm1(QWidget* parent = nullptr);
  ~TForm1() override;

  // Tests fix "now" through their own clock; the default is the system's.
  void SetWallClock(platform::WallClock& clock) { clock_ = &clock; }

  // ---- Event handlers; each may throw, the wiring runs them inside the error boundary ----
  void Button1Click(QObject* Sender);
  void Button2Click(QObject* Sender);
  void Button3Click(QObject* Sender);
  void Button4Click(QObject* Sender);
  void Button5Click(QObject* Sender);
  void Button6Click(QObject* Sender);
  void Button9Click(QObject* Sender);
  void Timer1Timer(QObject* Sender);
  void Timer2Timer(QObject* Sender);
  void Timer3Timer(QObject* Sender);
  void Timer5Timer(QObject* Sender);
  void StartSEND(QObject* Sender);

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

  TComPort ComPort;

  QGroupBox *GroupBox1, *GroupBox2, *GroupBox3, *GroupBox4, *GroupBox5;
  QLabel *Label1, *Label2, *Label3, *Label4, *Label5, *Label6, *Label7, *Label8, *Label9, *Label10,
      *Label11, *Label12, *Label13, *Label14, *Label15, *Label16, *Label17, *Label18, *Label19,
      *Label20, *Label21, *Label22, *Label23, *Label24, *Label25, *Label26, *Label27, *Label28,
      *Label29, *Label30, *Label31, *Label32, *Label33, *lbl1;
  TSpinEdit *RxSpinEdit1, *RxSpinEdit2, *RxSpinEdit3, *RxSpinEdit4, *RxSpinEdit6, *RxSpinEdit7,
      *RxSpinEdit8, *RxSpinEdit9, *RxSpinEdit10;
  QPushButton *Button1, *Button2, *Button3, *Button4, *Button5, *Button6, *Button7, *Button8,
      *Button9;
  TTimer *Timer1, *Timer2, *Timer3, *Timer5;
  TStatusBar* StatusBar1;
  TLogMemo* Memo1;

 private:
  void CreateControls();
  void WireEvents();
  QLabel* LabelOf(Readout readout) const;
  TSpinEdit* DurationControl(DisplayItem item) const;
  ExchangeOutcome Exchange(const ExchangeParams& params);

  platform::WallClock* clock_;
};

}  // namespace tavex::ui
