// SPDX-License-Identifier: GPL-3.0-or-later
#include "operator/ErrorHandler.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QStringDecoder>
#include <QThread>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "operator/QtLanguage.h"
#include "operator/RepeatFilter.h"
#include "platform/catalog.h"
#include "platform/text_codec.h"
#include "platform/wall_clock.h"
#include "serial/ComPort.h"

namespace tavex::ui {
namespace {

bool boxOpen = false;
ErrorJournal errorJournal;

void Journal(const std::string& detail) {
  if (errorJournal) errorJournal("Error: " + detail);
}
bool unattended = false;
std::function<void(const QString&)> errorObserver;

// Error lines on standard error. A lasting failure repeats its text every tick: the repeats are
// summarised (see RepeatFilter), and a summary still counted at the end is printed then.
struct StandardErrorLines {
  std::mutex mutex;
  RepeatFilter filter;
  bool summaryScheduled = false;
  ~StandardErrorLines() { Print(filter.Flush()); }
  static void Print(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) std::fprintf(stderr, "tavex: %s\n", line.c_str());
  }
};

StandardErrorLines& ErrorLines() {
  static StandardErrorLines lines;
  return lines;
}

std::int64_t NowMs() {
  return platform::SystemClock().MonotonicNs() / 1000000;
}

// Repeats that stop are summarised once their period is over, without waiting for another error.
void ScheduleSummary(StandardErrorLines& lines) {
  QCoreApplication* app = QCoreApplication::instance();
  if (lines.filter.Pending() == 0 || lines.summaryScheduled || app == nullptr) return;
  lines.summaryScheduled = true;
  const std::int64_t wait = std::max<std::int64_t>(0, lines.filter.DueAtMs() - NowMs());
  QTimer::singleShot(std::chrono::milliseconds(wait), app, [] {
    StandardErrorLines& due = ErrorLines();
    std::lock_guard lock(due.mutex);
    due.summaryScheduled = false;
    StandardErrorLines::Print(due.filter.Due(NowMs()));
    ScheduleSummary(due);
  });
}

void PrintOnStandardError(const QString& text) {
  StandardErrorLines& lines = ErrorLines();
  std::lock_guard lock(lines.mutex);
  StandardErrorLines::Print(lines.filter.Add(text.toUtf8().toStdString(), NowMs()));
  QCoreApplication* app = QCoreApplication::instance();
  if (app != nullptr && QThread::currentThread() == app->thread()) ScheduleSummary(lines);
}

// Error texts are UTF-8; a text that is not is taken as the program's single-byte code page.
QString MessageText(const char* what) {
  const QByteArray bytes(what ? what : "");
  QStringDecoder decoder(QStringDecoder::Utf8);
  QString text = decoder.decode(bytes);
  if (!decoder.hasError()) return text;
  return QString::fromStdString(platform::Cp1251ToUtf8(bytes.toStdString()));
}

// An exception's message and, for a port error, its explanation.
struct ErrorReport {
  QString message;
  QString explanation;
};

ErrorReport ReportOf(const std::exception& error) {
  ErrorReport report{MessageText(error.what()), {}};
  if (const auto* port = dynamic_cast<const EComPort*>(&error)) {
    report.explanation = QString::fromStdString(port->Explanation());
  }
  return report;
}

}  // namespace

QString UnknownErrorText() {
  return QString::fromStdString(platform::Translate("default", "Unknown error"));
}

QString ApplicationTitle() {
  return QStringLiteral("TAVEX - управление часами");
}

QString ErrorBoxText(const QString& message) {
  if (message.isEmpty()) return message;
  // The last character (a surrogate pair counts as one).
  QString last = message.right(1);
  if (message.size() >= 2 && message.back().isLowSurrogate()) last = message.right(2);
  std::string byte;
  // A character without a single-byte form sorts after "." like any non-ASCII byte would.
  const bool hasByte = platform::Utf8ToCp1251(last.toStdString(), byte) && byte.size() == 1;
  const unsigned char code = hasByte ? static_cast<unsigned char>(byte[0]) : 0xFF;
  return code > static_cast<unsigned char>('.') ? message + QLatin1Char('.') : message;
}

bool ErrorBoxOpen() {
  return boxOpen;
}

void SetUnattended(bool value) {
  unattended = value;
}

bool Unattended() {
  return unattended;
}

void SetErrorObserver(std::function<void(const QString&)> observer) {
  errorObserver = std::move(observer);
}

void ReportErrorShown(const QString& text) {
  if (errorObserver) errorObserver(text);
}

void ShowError(const QString& message, const QString& explanation) {
  QString text = ErrorBoxText(message);
  // Counted by the message alone: the explanation varies with the system's code and file.
  ReportErrorShown(text);
  if (!explanation.isEmpty()) text += QLatin1Char('\n') + explanation;
  QCoreApplication* app = QCoreApplication::instance();
  if (unattended || boxOpen || app == nullptr) {
    PrintOnStandardError(text);
    return;
  }
  // The box opens once the failed handler has returned to the event loop. Opened inside the
  // handler, its modal loop would run on top of the timer tick that failed, and Qt does not
  // deliver a timer's tick again while an earlier one is still on the stack: the polling timer
  // would stop until someone closed the box. A box that is only due counts as open.
  boxOpen = true;
  QMetaObject::invokeMethod(
      app,
      [text] {
        QMessageBox box(QMessageBox::Critical, ApplicationTitle(), text, QMessageBox::Ok);
        PrepareMessageBox(box);
        box.exec();
        boxOpen = false;
      },
      Qt::QueuedConnection);
}

void SetErrorJournal(ErrorJournal journal) {
  errorJournal = std::move(journal);
}

void ShowException(const std::exception& error) {
  Journal(MessageWithCauses(error));
  const ErrorReport report = ReportOf(error);
  ShowError(report.message, report.explanation);
}

void InstallDefaultExceptionReporter() {
  SetDefaultExceptionReporter([](const std::exception& error) {
    QCoreApplication* app = QCoreApplication::instance();
    const ErrorReport report = ReportOf(error);
    const std::string detail = MessageWithCauses(error);
    if (app == nullptr) {
      QString text = ErrorBoxText(report.message);
      if (!report.explanation.isEmpty()) text += QLatin1Char('\n') + report.explanation;
      PrintOnStandardError(text);
    } else if (QThread::currentThread() == app->thread()) {
      Journal(detail);
      ShowError(report.message, report.explanation);
    } else {
      QMetaObject::invokeMethod(
          app,
          [report, detail] {
            Journal(detail);
            ShowError(report.message, report.explanation);
          },
          Qt::QueuedConnection);
    }
  });
}

}  // namespace tavex::ui
