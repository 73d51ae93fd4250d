// SPDX-License-Identifier: GPL-3.0-or-later
// The program watched from outside: the metrics endpoint named by TAVEX_METRICS_ADDRESS, the
// service manager's readiness and watchdog (fed by the event loop), and the rule that decides
// whether a person answers error boxes.
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <memory>

#include "operator/Metrics.h"
#include "operator/MetricsServer.h"

namespace tavex::ui {

class TForm1;

// TAVEX_UNATTENDED=1: no person answers error boxes; =0: one does; unset: none does on the
// offscreen platform.
bool UnattendedFor(const QString& unattendedVariable, bool variableSet,
                   const QString& platformName);

class Supervision {
 public:
  Supervision();
  ~Supervision();
  // Starts what the environment asks for. False, with the reason on standard error, when
  // TAVEX_METRICS_ADDRESS is set but cannot be used: the program then ends rather than run
  // unwatched by mistake.
  bool Start(TForm1& form);

 private:
  std::unique_ptr<MetricsRecorder> recorder_;
  std::unique_ptr<MetricsServer> server_;
  QTimer watchdog_;
};

}  // namespace tavex::ui
