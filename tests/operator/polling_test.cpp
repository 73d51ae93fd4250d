// SPDX-License-Identifier: GPL-3.0-or-later
// The polling cycle and the exchanges started from the window, against the clock simulator on a
// pseudo-terminal: tick handlers driven directly for the logic, and real-time runs for the timing.
// The window and the simulator keep the computer's time moved to the middle of a minute, so that
// no minute turns between a clock's answer and the window's judgement of it.
#include <QRegularExpression>
#include <QScrollBar>
#include <QTest>
#include <fstream>
#include <optional>

#include "operator/ErrorHandler.h"
#include "operator/TForm1.h"
#include "platform/catalog.h"
#include "support.h"
#include "support/fixed_clock.h"

namespace tavex::ui {
namespace {

using Frame = test::Simulator::Frame;

class PollingTest : public test::WithApp, public ::testing::Test {
 protected:
  PollingTest() { form_.SetWallClock(clock_); }
  // Starts the simulator with `args` and points the stored settings at its line.
  void StartClocks(std::vector<std::string> args) {
    // A prompt clock: the time-setting exchange reads 50 ms after its last byte, which a busy
    // machine can make tight. The pacing of the line is measured elsewhere. Its clocks keep the
    // window's time unless `args` say otherwise.
    args.insert(args.begin(), {"--offset", std::to_string(clock_.ShiftSeconds())});
    args.insert(args.end(), {"--answer-delay-ms", "0", "--byte-time-us", "0"});
    sim_ = std::make_unique<test::Simulator>(registry_.Dir(), std::move(args));
    if (!sim_->Running()) GTEST_SKIP() << "tavex-clocksim is not built";
    registry_.StorePort(sim_->Path());
  }
  // The form's own timers are stopped, so that the test drives the ticks.
  void Quiet() {
    form_.Timer3->SetEnabled(false);
    form_.Timer5->SetEnabled(false);
  }
  std::vector<Frame> FramesOf(char first) const {
    std::vector<Frame> out;
    for (const Frame& f : sim_->Frames()) {
      if (!f.bytes.empty() && f.bytes[0] == first) out.push_back(f);
    }
    return out;
  }
  std::vector<int> Durations() const {
    return {form_.RxSpinEdit6->value(), form_.RxSpinEdit7->value(), form_.RxSpinEdit8->value(),
            form_.RxSpinEdit9->value()};
  }
  std::string State() const {
    std::string s;
    if (form_.Timer1->Enabled()) s += "1";
    if (form_.Timer2->Enabled()) s += "2";
    if (form_.Timer3->Enabled()) s += "3";
    return s.empty() ? "stopped" : s;
  }
  std::string Text(QLabel* label) const { return label->text().toStdString(); }

  test::MidMinuteClock clock_;
  test::TempRegistry registry_;
  std::unique_ptr<test::Simulator> sim_;
  TForm1 form_;
};

TEST_F(PollingTest, StartUpReadBackTakesTheClocksDurationsWithoutASend) {
  StartClocks({"--durations", "2049", "--pressure", "751"});
  Quiet();
  form_.Timer3->SetEnabled(true);
  form_.Timer3Timer(form_.Timer3);

  EXPECT_EQ(Durations(), (std::vector<int>{2, 0, 4, 9}));
  EXPECT_EQ(State(), "1");  // the durations' change asked for a send; start-up overrides it
  EXPECT_EQ(Text(form_.Label31), "751");
  EXPECT_NE(Text(form_.Label5), "--:--");
  EXPECT_EQ(form_.Memo1->LineCount(), 6);
  EXPECT_EQ(form_.Memo1->Line(0).toStdString(), "Memo1");
  EXPECT_EQ(form_.Memo1->Line(1).toStdString(), "READ----");
  EXPECT_EQ(form_.Memo1->Line(2).toStdString(), "R");
  EXPECT_EQ(form_.Memo1->Line(3).toStdString(), "Часы1");
  EXPECT_EQ(FramesOf('R').size(), 1u);
  EXPECT_TRUE(FramesOf('c').empty());
}

TEST_F(PollingTest, ChangedDurationsOnTheClockAreTakenAndSentBack) {
  // After its first frame the clock changes its durations by itself.
  StartClocks({"--fault", "1:drift=1"});
  Quiet();
  form_.Timer3Timer(form_.Timer3);
  const std::vector<int> first = Durations();
  EXPECT_EQ(State(), "1");

  form_.Timer1Timer(form_.Timer1);
  EXPECT_NE(Durations(), first);
  EXPECT_EQ(State(), "2");  // Sending

  form_.Timer2Timer(form_.Timer2);
  EXPECT_EQ(State(), "1");  // accepted: Reading again
  const auto configs = FramesOf('c');
  ASSERT_EQ(configs.size(), 1u);
  std::string sent;
  for (int d : Durations()) sent += static_cast<char>('0' + d);
  EXPECT_EQ(configs[0].bytes.substr(18, 4), sent);
}

// Clock 1 runs two minutes off: its read-back is refused, yet the configuration that follows
// carries the durations the clock holds, not the window's zeros.
TEST_F(PollingTest, AClockThatIsOffGetsItsOwnDurationsBack) {
  StartClocks({"--offset", "1:" + std::to_string(clock_.ShiftSeconds() + 120), "--durations",
               "2049", "--pressure", "751"});
  Quiet();
  form_.Button9Click(form_.Button9);
  EXPECT_EQ(Durations(), (std::vector<int>{2, 0, 4, 9}));
  EXPECT_EQ(State(), "2");  // refused: resending
  EXPECT_EQ(Text(form_.Label5), "--:--");
  EXPECT_EQ(Text(form_.Label1), "-----");
  EXPECT_EQ(Text(form_.Label31), "-----");
  EXPECT_EQ(form_.RxSpinEdit10->value(), 0);

  form_.Timer2Timer(form_.Timer2);
  const auto configs = FramesOf('c');
  ASSERT_EQ(configs.size(), 1u);
  EXPECT_EQ(configs[0].bytes.substr(kFrameDurations.first - 1, kFrameDurations.length), "2049");
  // The configuration set the clock's time: its answer is accepted and polling resumes.
  EXPECT_EQ(State(), "1");
  EXPECT_EQ(Durations(), (std::vector<int>{2, 0, 4, 9}));
  EXPECT_EQ(Text(form_.Label31), "751");
}

// Every line of the window's log also lands in the day's journal file, stamped, in order.
TEST_F(PollingTest, EveryLogLineStandsInTheJournal) {
  StartClocks({"--durations", "5533"});
  Quiet();
  platform::Journal journal({registry_.Dir() + "/journal", 30}, platform::SystemClock());
  form_.SetJournal(&journal);
  form_.Button9Click(form_.Button9);
  form_.Button3Click(form_.Button3);
  form_.Button4Click(form_.Button4);
  form_.SetJournal(nullptr);

  const std::string file =
      registry_.Dir() + "/journal/" + platform::JournalFileName(platform::SystemClock().LocalNow());
  std::ifstream in(file);
  std::vector<std::string> journalLines;
  for (std::string line; std::getline(in, line);) journalLines.push_back(line);
  ASSERT_EQ(static_cast<int>(journalLines.size()), form_.Memo1->LineCount() - 1);  // not "Memo1"
  const std::regex stamp(R"(^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} )");
  for (std::size_t i = 0; i < journalLines.size(); ++i) {
    SCOPED_TRACE(i);
    EXPECT_TRUE(std::regex_search(journalLines[i], stamp)) << journalLines[i];
    EXPECT_EQ(QString::fromStdString(journalLines[i].substr(24)),
              form_.Memo1->Line(static_cast<int>(i) + 1));
  }
  EXPECT_EQ(journalLines.size(), 14u);  // five, five and four
}

TEST_F(PollingTest, ASilentClockIsResentToUntilItAnswers) {
  const std::string control = registry_.Dir() + "/faults";
  std::ofstream(control) << "1:silent\n";
  StartClocks({"--control", control});
  Quiet();
  form_.Label31->setText("745");
  form_.Timer3Timer(form_.Timer3);
  EXPECT_EQ(State(), "1");  // polling starts whatever the first read-back found
  EXPECT_EQ(Text(form_.Label5), "--:--");
  EXPECT_EQ(Text(form_.Label1), "-----");
  EXPECT_EQ(Text(form_.Label31), "-----");
  EXPECT_EQ(form_.Memo1->LastLine().toStdString(), "999999999999999999999");

  form_.Timer1Timer(form_.Timer1);
  EXPECT_EQ(State(), "2");
  form_.Timer2Timer(form_.Timer2);
  EXPECT_EQ(State(), "2");
  EXPECT_EQ(FramesOf('c').size(), 1u);

  std::ofstream(control, std::ios::trunc) << "# answering again\n";
  test::Pump(1500);  // the simulator notices the changed file
  form_.Timer2Timer(form_.Timer2);
  EXPECT_EQ(State(), "1");
  EXPECT_NE(Text(form_.Label5), "--:--");
}

TEST_F(PollingTest, WithoutStoredSettingsEveryExchangeReportsThePortAndPollingGoesOn) {
  Quiet();
  form_.Label31->setText("745");
  form_.Timer3Timer(form_.Timer3);
  EXPECT_EQ(form_.StatusBar1->SimpleText().toStdString(),
            "Com порт выбран неверно или занят другим приложением.");
  EXPECT_EQ(form_.StatusBar1->currentMessage(), QString());  // stored, shown only in simple mode
  EXPECT_EQ(Text(form_.PortFailure), "Com порт выбран неверно или занят другим приложением.");
  EXPECT_EQ(Text(form_.Label5), "--:--");
  EXPECT_EQ(Text(form_.Label1), "-----");
  EXPECT_EQ(Text(form_.Label31), "-----");
  EXPECT_EQ(State(), "1");
  form_.Timer1Timer(form_.Timer1);
  EXPECT_EQ(State(), "1");
  form_.Button4Click(form_.Button4);
  EXPECT_EQ(Text(form_.Label6), "--:--");
  EXPECT_EQ(Text(form_.Label11), "-----");
  EXPECT_EQ(form_.Memo1->LineCount(), 1);
}

TEST_F(PollingTest, ABadDigitIsReportedAndTheTimerStaysArmed) {
  StartClocks({"--fault", "1:bad-digit=13", "--durations", "5533"});
  Quiet();
  test::MessageBoxCatcher boxes;
  form_.Label31->setText("745");
  form_.Timer3->SetEnabled(true);
  form_.Timer3->OnTimer();  // the tick as the timer delivers it, inside the error boundary
  test::Pump(200);          // the box opens once the tick has returned to the event loop

  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text.toStdString(), "'x' is not a valid floating point value.");
  EXPECT_EQ(boxes.boxes[0].title.toStdString(), "TAVEX - управление часами");
  EXPECT_EQ(boxes.boxes[0].icon, QMessageBox::Critical);
  EXPECT_EQ(Durations(), (std::vector<int>{5, 5, 0, 0}));
  // The answer was not taken: no readout goes on showing an earlier value.
  EXPECT_EQ(Text(form_.Label31), "-----");
  EXPECT_EQ(Text(form_.Label5), "--:--");
  EXPECT_EQ(Text(form_.Label1), "-----");
  // The rest of the start-up tick was skipped: it retries, and the durations asked for a send.
  EXPECT_EQ(State(), "23");
  EXPECT_TRUE(form_.ComPort.Connected());

  // The next exchange closes the port it finds open.
  form_.Button4->click();
  EXPECT_FALSE(form_.ComPort.Connected());
}

// The line goes away while clock 1 is polled: by the next read-back (at most one period, 10 s)
// every readout shows no value, and the reason stands inside the window at its start size until
// an exchange opens the port again.
TEST_F(PollingTest, APortThatBecomesUnusableClearsEveryReadoutAndSaysWhyUntilItOpensAgain) {
  StartClocks({"--pressure", "745"});
  Quiet();
  form_.show();
  form_.Timer3Timer(form_.Timer3);
  ASSERT_EQ(Text(form_.Label31), "745");
  ASSERT_EQ(State(), "1");
  EXPECT_EQ(form_.Timer1->Interval(), 10000);
  EXPECT_EQ(Text(form_.PortFailure), "");

  const std::string line = sim_->Path();
  sim_.reset();  // the clock line is gone
  form_.Timer1->OnTimer();
  EXPECT_EQ(Text(form_.Label5), "--:--");
  EXPECT_EQ(Text(form_.Label1), "-----");
  EXPECT_EQ(Text(form_.Label31), "-----");
  EXPECT_EQ(State(), "1");

  // Readable where the operator looks: inside 584 x 314, clear of the controls, text whole.
  const QString reason = QStringLiteral("Com порт выбран неверно или занят другим приложением.");
  EXPECT_EQ(form_.PortFailure->text(), reason);
  EXPECT_TRUE(form_.PortFailure->isVisible());
  const QRect place(form_.PortFailure->mapTo(&form_, QPoint(0, 0)), form_.PortFailure->size());
  EXPECT_TRUE(QRect(0, 0, 584, 314).contains(place)) << place.x() << "," << place.y();
  for (QWidget* seen :
       std::initializer_list<QWidget*>{form_.GroupBox1, form_.Button1, form_.Button2, form_.lbl1}) {
    const QRect other(seen->mapTo(&form_, QPoint(0, 0)), seen->size());
    EXPECT_FALSE(place.intersects(other)) << seen->objectName().toStdString();
  }
  const QFontMetrics metrics(form_.PortFailure->font());
  EXPECT_LE(metrics.horizontalAdvance(reason), place.width());
  EXPECT_LE(metrics.height(), place.height());

  form_.Timer1->OnTimer();  // the failure lasts: the text stays
  EXPECT_EQ(form_.PortFailure->text(), reason);

  // A clock on the line again: the first exchange that opens the port clears the reason.
  StartClocks({"--pressure", "751"});
  form_.Timer1->OnTimer();
  EXPECT_EQ(Text(form_.PortFailure), "");
  EXPECT_EQ(form_.StatusBar1->SimpleText(), QString());
  EXPECT_EQ(Text(form_.Label31), "751");
  EXPECT_NE(line, "");
}

// A clock whose monotonic time the test moves; the local time is the computer's.
class SteppedClock final : public platform::WallClock {
 public:
  platform::CivilTime LocalNow() const override { return platform::SystemClock().LocalNow(); }
  void SleepMs(int ms) override { platform::SystemClock().SleepMs(ms); }
  std::int64_t MonotonicNs() const override { return nowNs_; }
  void AdvanceMs(std::int64_t ms) { nowNs_ += ms * 1000000; }

 private:
  std::int64_t nowNs_ = 1000000000;
};

// Clock 1's readouts are read every 10 s; one that no exchange has written for more than two
// periods (polling stopped by the setup dialog, say) is dimmed, and lit again by a fresh value.
TEST_F(PollingTest, AReadoutWithoutAFreshValueForTwoPeriodsIsShownAsOld) {
  Quiet();
  SteppedClock clock;
  form_.SetWallClock(clock);
  const auto colour = [](QLabel* label) {
    return label->palette().color(QPalette::WindowText).name().toStdString();
  };
  const std::string lime = colour(form_.Label31);
  form_.SetReadout(Readout::Clock1Time, "12:34");
  form_.SetReadout(Readout::Clock1Temperature, " 21°");
  form_.SetReadout(Readout::Clock1Pressure, "745");
  clock.AdvanceMs(15000);
  form_.SetReadout(Readout::Clock1Pressure, "746");
  clock.AdvanceMs(5000);
  form_.Timer5Timer(form_.Timer5);  // 20 s: not yet longer than two periods
  EXPECT_EQ(colour(form_.Label5), lime);
  clock.AdvanceMs(1000);
  form_.Timer5Timer(form_.Timer5);
  EXPECT_NE(colour(form_.Label5), lime);
  EXPECT_NE(colour(form_.Label1), lime);
  EXPECT_EQ(colour(form_.Label31), lime) << "written 6 s ago";
  EXPECT_EQ(Text(form_.Label5), "12:34") << "the value stays, marked as old";
  clock.AdvanceMs(15000);
  form_.Timer5Timer(form_.Timer5);
  EXPECT_NE(colour(form_.Label31), lime);

  form_.SetReadout(Readout::Clock1Time, "12:35");
  EXPECT_EQ(colour(form_.Label5), lime);
  EXPECT_NE(colour(form_.Label1), lime);
  form_.SetWallClock(clock_);
}

// LANG=ru_RU.UTF-8 with the catalogues the build made, while it lives.
class RussianLanguage {
 public:
  RussianLanguage() {
    lang_.emplace("LANG", "ru_RU.UTF-8");
    catalogues_.emplace("TAVEX_LOCALE_DIR", std::string(TAVEX_TEST_BIN_DIR) + "/locale");
    platform::InitCatalogs();
  }
  ~RussianLanguage() {
    lang_.reset();
    catalogues_.reset();
    platform::InitCatalogs();
  }
  RussianLanguage(const RussianLanguage&) = delete;
  RussianLanguage& operator=(const RussianLanguage&) = delete;

 private:
  std::optional<test::ScopedEnv> lang_, catalogues_;
};

// The operator's language: the box of a bad duration digit is Russian, title and text.
TEST_F(PollingTest, ABadDigitIsReportedInRussianUnderARussianLanguage) {
  RussianLanguage russian;
  StartClocks({"--fault", "1:bad-digit=12", "--durations", "5533"});
  Quiet();
  test::MessageBoxCatcher boxes;
  form_.Timer1->OnTimer();
  test::Pump(200);
  ASSERT_EQ(boxes.boxes.size(), 1u);
  EXPECT_EQ(boxes.boxes[0].text.toStdString(), "«x» — недопустимое числовое значение.");
  EXPECT_EQ(boxes.boxes[0].title.toStdString(), "TAVEX - управление часами");
  // No English word: the only Latin letter is the character the clock sent.
  EXPECT_FALSE(boxes.boxes[0].text.contains(QRegularExpression("[A-Za-z]{2}")));
  EXPECT_EQ(Text(form_.Label31), "-----");
}

TEST_F(PollingTest, TheSecondButtonsRunTheSameExchanges) {
  StartClocks({"--temperature", "4:-07o"});
  Quiet();
  form_.Button7->click();
  EXPECT_EQ(Text(form_.Label21), " -07°");
  EXPECT_NE(Text(form_.Label22), "--:--");
  form_.Button8->click();
  const auto frames = sim_->Frames();
  ASSERT_EQ(frames.size(), 2u);
  EXPECT_EQ(frames[0].bytes.substr(0, 6), "clk004");
  EXPECT_EQ(frames[1].bytes.substr(0, 6), "clk001");
  EXPECT_EQ(State(), "1");
}

TEST_F(PollingTest, ChangingTheBrightnessSendsAtOnce) {
  StartClocks({});
  Quiet();
  form_.RxSpinEdit10->setValue(6);
  const auto configs = FramesOf('c');
  ASSERT_EQ(configs.size(), 1u);
  EXPECT_EQ(configs[0].bytes[22], '6');
}

TEST_F(PollingTest, TwoDurationChangesGiveOneSendCarryingBoth) {
  StartClocks({"--durations", "5533"});
  Quiet();
  form_.Timer1->SetEnabled(true);
  form_.RxSpinEdit6->setValue(7);
  test::Pump(2000);
  form_.RxSpinEdit7->setValue(8);
  test::Pump(2500);
  EXPECT_TRUE(FramesOf('c').empty());
  test::Pump(1500);
  const auto configs = FramesOf('c');
  ASSERT_EQ(configs.size(), 1u);
  EXPECT_EQ(configs[0].bytes.substr(18, 4), "7800");
  EXPECT_EQ(State(), "1");
}

TEST_F(PollingTest, ALineThatHangsUpIsReportedAndPollingResumesWhenItReturns) {
  StartClocks(
      {"--fault", "1:hangup=2", "--reconnect-ms", "500", "--link", registry_.Dir() + "/COM6"});
  registry_.StorePort(registry_.Dir() + "/COM6");
  Quiet();
  test::MessageBoxCatcher boxes;
  form_.Timer3->OnTimer();
  EXPECT_EQ(State(), "1");
  form_.Timer1->OnTimer();  // the clock hangs up on this frame
  // The vanished line either failed the exchange (one error box) or read as silence.
  EXPECT_LE(boxes.boxes.size(), 1u);
  test::Pump(1500);
  form_.Label5->clear();
  if (form_.Timer2->Enabled()) {
    form_.Timer2->OnTimer();
  } else {
    form_.Timer1->OnTimer();
  }
  EXPECT_NE(Text(form_.Label5), "");
  EXPECT_NE(Text(form_.Label5), "--:--");
  EXPECT_EQ(State(), "1");
  form_.Label5->clear();
  form_.Timer1->OnTimer();
  EXPECT_NE(Text(form_.Label5), "");
  EXPECT_NE(Text(form_.Label5), "--:--");
  EXPECT_FALSE(form_.ComPort.Connected());
  EXPECT_EQ(sim_->Frames().size(), 4u);
}

// The operator walks the whole Tab chain from clock 1's correction and presses Up at every stop,
// at the window's start size and enlarged: the brightness and the clocks 2-4 are out of reach.
TEST_F(PollingTest, KeysOnTheTabChainReachNeitherTheBrightnessNorClocksTwoToFour) {
  StartClocks({"--durations", "1111"});
  Quiet();
  form_.show();
  form_.activateWindow();
  ASSERT_TRUE(QTest::qWaitForWindowActive(&form_));
  std::vector<std::string> stops;
  for (const QSize size : {QSize(584, 314), QSize(1000, 700)}) {
    form_.resize(size);
    form_.RxSpinEdit1->setFocus();
    for (int i = 0; i < 40; ++i) {
      QWidget* focus = QApplication::focusWidget();
      ASSERT_NE(focus, nullptr);
      stops.push_back(focus->objectName().toStdString());
      QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Up);
      focus->setFocus();  // Up on a button moves the focus back a stop (Qt's own rule)
      QTest::keyClick(static_cast<QWidget*>(nullptr), Qt::Key_Tab);
      if (QApplication::focusWidget() == form_.RxSpinEdit1) break;
    }
    stops.push_back("|");
  }
  EXPECT_EQ(stops, (std::vector<std::string>{"RxSpinEdit1",
                                             "RxSpinEdit6",
                                             "RxSpinEdit8",
                                             "RxSpinEdit9",
                                             "RxSpinEdit7",
                                             "Button2",
                                             "Button1",
                                             "|",
                                             "RxSpinEdit1",
                                             "RxSpinEdit6",
                                             "RxSpinEdit8",
                                             "RxSpinEdit9",
                                             "RxSpinEdit7",
                                             "Button2",
                                             "Button1",
                                             "Button7",
                                             "Button8",
                                             "Button9",
                                             "Button3",
                                             "Button4",
                                             "Button5",
                                             "Button6",
                                             "|"}));
  EXPECT_EQ(Durations(), (std::vector<int>{2, 2, 2, 2}));
  EXPECT_EQ(form_.RxSpinEdit1->value(), 2);
  EXPECT_EQ(form_.RxSpinEdit10->value(), 0);
  EXPECT_EQ(State(), "2");  // the durations changed: a configuration is due

  form_.Timer2Timer(form_.Timer2);
  const auto frames = sim_->Frames();
  ASSERT_FALSE(frames.empty());
  for (const Frame& f : frames) {
    EXPECT_EQ(f.clock, 1) << f.bytes;
    if (f.bytes[0] == 'c') {
      EXPECT_EQ(f.bytes.substr(kFrameBrightness.first - 1, 1), "0") << f.bytes;
      EXPECT_EQ(f.bytes.substr(kFrameDurations.first - 1, kFrameDurations.length), "2222");
    }
  }
  EXPECT_EQ(FramesOf('c').size(), 1u);
}

// The timers on their own, in real time: the first read-back soon after the start, the next one
// a period later. What each tick does is proven above, tick by tick.
TEST_F(PollingTest, RunsTheCycleOnItsOwnInRealTime) {
  StartClocks({"--durations", "3311"});
  test::MessageBoxCatcher boxes;
  Quiet();
  const auto start = std::chrono::steady_clock::now();
  form_.Timer3->SetEnabled(true);
  form_.Timer5->SetEnabled(true);
  form_.show();
  test::Pump(400);
  EXPECT_EQ(Text(form_.Label9), "  ");  // the time display fills after a second
  QElapsedTimer waited;
  waited.start();
  while (FramesOf('R').size() < 2 && waited.elapsed() < 13000) test::Pump(100);

  const auto reads = FramesOf('R');
  ASSERT_EQ(reads.size(), 2u);
  const auto startNs =
      std::chrono::duration_cast<std::chrono::nanoseconds>(start.time_since_epoch()).count();
  EXPECT_LT(reads[0].t - startNs, 1'000'000'000);
  const auto gap = reads[1].t - reads[0].t;
  EXPECT_GT(gap, 9'500'000'000);
  EXPECT_LT(gap, 11'500'000'000);
  EXPECT_TRUE(FramesOf('c').empty());  // the start-up read-back took the durations
  EXPECT_EQ(Durations(), (std::vector<int>{3, 3, 1, 1}));
  EXPECT_EQ(State(), "1");
  EXPECT_NE(Text(form_.Label9), "  ");
  EXPECT_TRUE(boxes.boxes.empty());
  form_.Button1->click();
  EXPECT_FALSE(form_.isVisible());
}

}  // namespace
}  // namespace tavex::ui
