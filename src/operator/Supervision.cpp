// SPDX-License-Identifier: GPL-3.0-or-later
#include "operator/Supervision.h"

#include <QCoreApplication>
#include <algorithm>
#include <cstdio>

#include "operator/ErrorHandler.h"
#include "operator/TForm1.h"
#include "platform/service_notify.h"

#ifndef TAVEX_VERSION
#define TAVEX_VERSION "unknown"
#endif

namespace tavex::ui {

bool UnattendedFor(const QString& unattendedVariable, bool variableSet,
                   const QString& platformName) {
  if (variableSet && unattendedVariable == QLatin1String("1")) return true;
  if (variableSet && unattendedVariable == QLatin1String("0")) return false;
  return platformName == QLatin1String("offscreen");
}

Supervision::Supervision() = default;

Supervision::~Supervision() {
  SetErrorObserver(nullptr);
  platform::NotifyServiceStopping();
}

bool Supervision::Start(TForm1& form) {
  QString status = QStringLiteral("metrics off");
  const QByteArray address = qgetenv("TAVEX_METRICS_ADDRESS");
  if (!address.isEmpty()) {
    QString error;
    const std::optional<ListenAddress> listen =
        ParseListenAddress(QString::fromLocal8Bit(address), &error);
    recorder_ = std::make_unique<MetricsRecorder>(TAVEX_VERSION);
    server_ = std::make_unique<MetricsServer>(*recorder_);
    if (!listen || !server_->Start(*listen, &error)) {
      std::fprintf(stderr, "tavex: TAVEX_METRICS_ADDRESS=%s: %s\n", address.constData(),
                   error.toLocal8Bit().constData());
      server_.reset();
      return false;
    }
    const QString host = listen->host.protocol() == QAbstractSocket::IPv6Protocol
                             ? QLatin1Char('[') + listen->host.toString() + QLatin1Char(']')
                             : listen->host.toString();
    status = QStringLiteral("metrics at http://%1:%2/metrics").arg(host).arg(server_->Port());
    std::fprintf(stderr, "tavex: %s\n", status.toLocal8Bit().constData());
    form.SetMetrics(recorder_.get());
    MetricsRecorder* recorder = recorder_.get();
    SetErrorObserver(
        [recorder](const QString& text) { recorder->RecordError(text.toStdString()); });
  }

  // The watchdog is fed from the event loop: a loop that stops (an exchange that never ends)
  // misses it, and the service manager restarts the program.
  if (const std::uint64_t us = platform::ServiceWatchdogUs(); us > 0) {
    watchdog_.setInterval(static_cast<int>(std::max<std::uint64_t>(us / 2000, 1)));
    QObject::connect(&watchdog_, &QTimer::timeout, [] { platform::NotifyServiceWatchdog(); });
    watchdog_.start();
  }
  // Ready once the event loop runs.
  QTimer::singleShot(0, [status] {
    platform::NotifyServiceStatus(status.toStdString());
    platform::NotifyServiceReady();
  });
  return true;
}

}  // namespace tavex::ui
