// SPDX-License-Identifier: GPL-3.0-or-later
// The metrics endpoint: GET /metrics in the Prometheus text format, served by Qt HTTP Server on a
// thread of its own, so that a scrape runs beside an exchange rather than after it. It reads the
// recorder's copy of the state and nothing of the window. Connections are policed before Qt
// parses them: a limited number at once, each closed a while after it opened, and one that sends
// more than any scrape needs is dropped (see Limits).
#pragma once

#include <QHostAddress>
#include <QString>
#include <memory>
#include <optional>

#include "operator/Metrics.h"

namespace tavex::ui {

struct ListenAddress {
  QHostAddress host;
  quint16 port = 0;
};

// "127.0.0.1:9812", "[::1]:9812", "localhost:9812", "0.0.0.0:9812", "[::]:9812". Host and port
// are both required: listening on every interface takes the explicit 0.0.0.0 or [::]. Port 0
// picks a free port. Nothing on failure, with the reason in `error`.
std::optional<ListenAddress> ParseListenAddress(const QString& text, QString* error);

struct MetricsServerLimits {
  int maxConnections = 16;
  int lifetimeMs = 10000;  // then closed, and 2 s later cut if the peer still holds it
  qint64 maxRequestBytes = 16 * 1024;
};

class MetricsServer {
 public:
  using Limits = MetricsServerLimits;

  explicit MetricsServer(const MetricsRecorder& recorder, Limits limits = {});
  ~MetricsServer();
  MetricsServer(const MetricsServer&) = delete;
  MetricsServer& operator=(const MetricsServer&) = delete;

  // Listens on `address`; false, with the reason in `error`, when it cannot.
  bool Start(const ListenAddress& address, QString* error);
  quint16 Port() const { return port_; }

 private:
  class Thread;
  const MetricsRecorder& recorder_;
  const Limits limits_;
  std::unique_ptr<Thread> thread_;
  quint16 port_ = 0;
};

}  // namespace tavex::ui
