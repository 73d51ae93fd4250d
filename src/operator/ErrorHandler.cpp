#include "operator/ErrorHandler.h"

#include <QCoreApplication>
#include <QMessageBox>
#include <QStringDecoder>
#include <QThread>
#include <cstdio>
#include <string>

#include "platform/text_codec.h"
#include "serial/ComPort.h"

namespace tavex::ui {
namespace {

bool boxOpen = false;

// Error texts are UTF-8; a text that is not is taken as the program's single-byte code page.
QString MessageText(const char* what) {
  const QByteArray bytes(what ? what : "");
  QStringDecoder decoder(QStringDecoder::Utf8);
  QString text = decoder.decode(bytes);
  if (!decoder.hasError()) return text;
  return QString::fromStdString(platform::Cp1251ToUtf8(bytes.toStdString()));
}

}  // namespace

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

void ShowError(const QString& message) {
  const QString text = ErrorBoxText(message);
  QCoreApplication* app = QCoreApplication::instance();
  if (boxOpen || app == nullptr) {
    std::fprintf(stderr, "tavex: %s\n", text.toUtf8().constData());
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
        box.exec();
        boxOpen = false;
      },
      Qt::QueuedConnection);
}

void ShowException(const std::exception& error) {
  ShowError(MessageText(error.what()));
}

void InstallDefaultExceptionReporter() {
  SetDefaultExceptionReporter([](const std::exception& error) {
    QCoreApplication* app = QCoreApplication::instance();
    const QString text = MessageText(error.what());
    if (app == nullptr) {
      std::fprintf(stderr, "tavex: %s\n", ErrorBoxText(text).toUtf8().constData());
    } else if (QThread::currentThread() == app->thread()) {
      ShowError(text);
    } else {
      QMetaObject::invokeMethod(
          app, [text] { ShowError(text); }, Qt::QueuedConnection);
    }
  });
}

}  // namespace tavex::ui
