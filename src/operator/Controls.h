// SPDX-License-Identifier: GPL-3.0-or-later
// The window's own control kinds: a spin control set by stepping only, a log that keeps every line
// on one line, a timer with arming rules, and a status bar with a stored simple-mode text.
#pragma once

#include <QLabel>
#include <QPlainTextEdit>
#include <QSpinBox>
#include <QStatusBar>
#include <QTimer>
#include <functional>

namespace tavex::ui {

// An integer spin control: the up/down buttons and arrow keys step by one within the range; typed
// characters are refused with a beep. valueChanged fires only when the shown value changes.
class TSpinEdit : public QSpinBox {
  Q_OBJECT

 public:
  TSpinEdit(int minimum, int maximum, QWidget* parent);

 protected:
  void keyPressEvent(QKeyEvent* event) override;
};

// The exchange log: disabled, one line per append, control characters shown as visible symbols.
// It keeps the newest kMaxLines lines so that months of polling keep memory flat.
class TLogMemo : public QPlainTextEdit {
  Q_OBJECT

 public:
  static constexpr int kMaxLines = 10000;
  explicit TLogMemo(QWidget* parent);
  void Append(const QString& line);
  int LineCount() const;
  QString Line(int index) const;
  QString LastLine() const;
  // A line as the log shows it: C0 controls, DEL and line separators as control pictures.
  static QString VisibleLine(const QString& line);
};

// A timer with the window's arming rules: arming an armed timer keeps its count going.
class TTimer : public QObject {
  Q_OBJECT

 public:
  TTimer(int intervalMs, QObject* parent);
  bool Enabled() const { return timer_.isActive(); }
  void SetEnabled(bool enabled);
  int Interval() const { return timer_.interval(); }
  std::function<void()> OnTimer;

 signals:
  void ArmedChanged(bool armed);  // the timer was armed or disarmed

 private:
  QTimer timer_;
};

// A status bar of fixed panels; its simple-mode text is stored and shown only in simple mode.
class TStatusBar : public QStatusBar {
  Q_OBJECT

 public:
  TStatusBar(std::initializer_list<int> panelWidths, QWidget* parent);
  void SetSimpleText(const QString& text);
  const QString& SimpleText() const { return simpleText_; }
  bool SimplePanel() const { return simplePanel_; }
  void SetSimplePanel(bool simple);
  QList<QLabel*> Panels() const { return panels_; }

 private:
  void ShowMode();
  QString simpleText_;
  bool simplePanel_ = false;
  QList<QLabel*> panels_;
};

}  // namespace tavex::ui
