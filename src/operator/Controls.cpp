// SPDX-License-Identifier: GPL-3.0-or-later
#include "operator/Controls.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <QScrollBar>
#include <QTextBlock>

namespace tavex::ui {

TSpinEdit::TSpinEdit(int minimum, int maximum, QWidget* parent) : QSpinBox(parent) {
  setRange(minimum, maximum);
  setValue(0);
  setWrapping(false);
  setAccelerated(false);
  setContextMenuPolicy(Qt::NoContextMenu);
  setAttribute(Qt::WA_InputMethodEnabled, false);
  setCursor(Qt::ArrowCursor);
  // The text is never edited: values change by stepping only.
  lineEdit()->setReadOnly(true);
  lineEdit()->setAcceptDrops(false);
  lineEdit()->setContextMenuPolicy(Qt::NoContextMenu);
  lineEdit()->setCursor(Qt::ArrowCursor);
}

void TSpinEdit::keyPressEvent(QKeyEvent* event) {
  switch (event->key()) {
    case Qt::Key_Up:
      stepBy(1);
      event->accept();
      return;
    case Qt::Key_Down:
      stepBy(-1);
      event->accept();
      return;
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Home:
    case Qt::Key_End:
    case Qt::Key_Tab:
    case Qt::Key_Backtab:
    case Qt::Key_Return:
    case Qt::Key_Enter:
    case Qt::Key_Escape:
    case Qt::Key_Shift:
    case Qt::Key_Control:
    case Qt::Key_Alt:
    case Qt::Key_Meta:
      QSpinBox::keyPressEvent(event);
      return;
    default:
      break;
  }
  // Typing, deleting, pasting and page steps are refused; a key that would edit gets a beep.
  if (!event->text().isEmpty() || event->key() == Qt::Key_Backspace ||
      event->key() == Qt::Key_Delete) {
    QApplication::beep();
  }
  event->accept();
}

TLogMemo::TLogMemo(QWidget* parent) : QPlainTextEdit(parent) {
  setReadOnly(true);
  setEnabled(false);
  // Disabled, but drawn in the colours of a readable text field rather than grey on grey.
  QPalette colours = palette();
  for (QPalette::ColorRole role : {QPalette::Text, QPalette::Base, QPalette::WindowText}) {
    colours.setColor(QPalette::Disabled, role, colours.color(QPalette::Active, role));
  }
  setPalette(colours);
  setUndoRedoEnabled(false);
  setMaximumBlockCount(kMaxLines);
  setPlainText(QStringLiteral("Memo1"));
}

QString TLogMemo::VisibleLine(const QString& line) {
  QString shown = line;
  for (QChar& c : shown) {
    const char16_t code = c.unicode();
    if (code < 0x20) {
      c = QChar(static_cast<char16_t>(0x2400 + code));
    } else if (code == 0x7F) {
      c = QChar(static_cast<char16_t>(0x2421));
    } else if (code == 0x85 || code == 0x2028 || code == 0x2029) {
      c = QChar(static_cast<char16_t>(0x2424));
    }
  }
  return shown;
}

void TLogMemo::Append(const QString& line) {
  appendPlainText(VisibleLine(line));
  // The newest lines stay in view, also while the log is disabled.
  QScrollBar* bar = verticalScrollBar();
  if (bar->value() != bar->maximum()) bar->setValue(bar->maximum());
}

int TLogMemo::LineCount() const {
  return document()->blockCount();
}

QString TLogMemo::Line(int index) const {
  return document()->findBlockByNumber(index).text();
}

QString TLogMemo::LastLine() const {
  return document()->lastBlock().text();
}

TTimer::TTimer(int intervalMs, QObject* parent) : QObject(parent) {
  timer_.setInterval(intervalMs);
  timer_.setTimerType(Qt::PreciseTimer);
  connect(&timer_, &QTimer::timeout, this, [this] {
    if (OnTimer) OnTimer();
  });
}

void TTimer::SetEnabled(bool enabled) {
  if (enabled == timer_.isActive()) return;  // a restart would lose the running count
  if (enabled) {
    timer_.start();
  } else {
    timer_.stop();
  }
  emit ArmedChanged(enabled);
}

TStatusBar::TStatusBar(std::initializer_list<int> panelWidths, QWidget* parent)
    : QStatusBar(parent) {
  setSizeGripEnabled(false);
  for (int width : panelWidths) {
    auto* panel = new QLabel(this);
    panel->setFixedWidth(width);
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
    addWidget(panel);
    panels_.append(panel);
  }
}

void TStatusBar::SetSimpleText(const QString& text) {
  simpleText_ = text;
  ShowMode();
}

void TStatusBar::SetSimplePanel(bool simple) {
  simplePanel_ = simple;
  ShowMode();
}

void TStatusBar::ShowMode() {
  for (QLabel* panel : panels_) panel->setVisible(!simplePanel_);
  if (simplePanel_) {
    showMessage(simpleText_);
  } else {
    clearMessage();
  }
}

}  // namespace tavex::ui
