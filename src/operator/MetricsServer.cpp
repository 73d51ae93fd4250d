// SPDX-License-Identifier: GPL-3.0-or-later
#include "operator/MetricsServer.h"

#include <QAbstractHttpServer>
#include <QHttpServerRequest>
#include <QHttpServerResponder>
#include <QTcpServer>
#include <QTcpSocket>
#include <QThread>
#include <QTimer>
#include <future>
#include <utility>

namespace tavex::ui {
namespace {

constexpr int kCloseGraceMs = 2000;  // after a graceful close, the hard one
const std::pair<QByteArray, QByteArray> kClose{"Connection", "close"};

// Accepts connections for Qt HTTP Server, within limits: a client that connects and says nothing,
// sends a request byte by byte, or sends more than any scrape needs, loses its connection; so do
// connections beyond the limit, at once.
class GuardedTcpServer : public QTcpServer {
 public:
  GuardedTcpServer(MetricsServer::Limits limits, QObject* parent)
      : QTcpServer(parent), limits_(limits) {}

 protected:
  void incomingConnection(qintptr descriptor) override {
    auto* socket = new QTcpSocket(this);
    if (!socket->setSocketDescriptor(descriptor)) {
      delete socket;
      return;
    }
    if (open_ >= limits_.maxConnections) {
      socket->abort();
      socket->deleteLater();
      return;
    }
    ++open_;
    connect(socket, &QObject::destroyed, this, [this] { --open_; });
    connect(socket, &QAbstractSocket::disconnected, socket, &QObject::deleteLater);
    // The socket reads no more than this ahead; a request that fills it is more than a scrape.
    const qint64 maxBytes = limits_.maxRequestBytes;
    socket->setReadBufferSize(maxBytes);
    connect(socket, &QIODevice::readyRead, socket, [socket, maxBytes] {
      if (socket->bytesAvailable() >= maxBytes) socket->abort();
    });
    QTimer::singleShot(limits_.lifetimeMs, socket, [socket] {
      socket->disconnectFromHost();
      QTimer::singleShot(kCloseGraceMs, socket, [socket] { socket->abort(); });
    });
    addPendingConnection(socket);
  }

 private:
  const MetricsServer::Limits limits_;
  int open_ = 0;
};

class MetricsHttp : public QAbstractHttpServer {
 public:
  explicit MetricsHttp(const MetricsRecorder& recorder) : recorder_(recorder) {}

 protected:
  // One request a connection: each response says so and the connection closes once it is sent.
  // A scraper opens one a scrape, which costs nothing at its pace, and a client that reads to the
  // end of the connection (HTTP/1.0, a shell's /dev/tcp) is not left waiting for the lifetime.
  bool handleRequest(const QHttpServerRequest& request, QTcpSocket* socket) override {
    if (request.url().path() != QLatin1String("/metrics")) return false;
    {
      QHttpServerResponder responder = makeResponder(request, socket);
      if (request.method() != QHttpServerRequest::Method::Get) {
        responder.write({{"Allow", "GET"}, kClose},
                        QHttpServerResponder::StatusCode::MethodNotAllowed);
      } else {
        responder.write(QByteArray::fromStdString(recorder_.Exposition()),
                        {{"Content-Type", "text/plain; version=0.0.4; charset=utf-8"}, kClose});
      }
    }
    socket->disconnectFromHost();
    return true;
  }

  void missingHandler(const QHttpServerRequest& request, QTcpSocket* socket) override {
    makeResponder(request, socket).write({kClose}, QHttpServerResponder::StatusCode::NotFound);
    socket->disconnectFromHost();
  }

 private:
  const MetricsRecorder& recorder_;
};

struct Listening {
  bool ok = false;
  quint16 port = 0;
  QString error;
};

}  // namespace

// The server's objects live and die on this thread; the window's thread only starts and stops it.
class MetricsServer::Thread : public QThread {
 public:
  Thread(const MetricsRecorder& recorder, ListenAddress address, Limits limits)
      : recorder_(recorder), address_(std::move(address)), limits_(limits) {}
  std::future<Listening> Result() { return result_.get_future(); }

 protected:
  void run() override {
    MetricsHttp http(recorder_);
    auto* tcp = new GuardedTcpServer(limits_, &http);
    if (!tcp->listen(address_.host, address_.port)) {
      result_.set_value({false, 0, tcp->errorString()});
      return;
    }
    http.bind(tcp);
    result_.set_value({true, tcp->serverPort(), {}});
    exec();
  }

 private:
  const MetricsRecorder& recorder_;
  const ListenAddress address_;
  const Limits limits_;
  std::promise<Listening> result_;
};

std::optional<ListenAddress> ParseListenAddress(const QString& text, QString* error) {
  const auto fail = [error](const QString& reason) {
    if (error) *error = reason;
    return std::nullopt;
  };
  const QString value = text.trimmed();
  QString host, port;
  bool bracketed = false;
  if (value.startsWith(QLatin1Char('['))) {
    const qsizetype close = value.indexOf(QLatin1String("]:"));
    if (close < 0) return fail(QStringLiteral("expected [ADDRESS]:PORT"));
    host = value.mid(1, close - 1);
    port = value.mid(close + 2);
    bracketed = true;
  } else {
    const qsizetype colon = value.lastIndexOf(QLatin1Char(':'));
    if (colon < 0) return fail(QStringLiteral("expected ADDRESS:PORT"));
    host = value.left(colon);
    port = value.mid(colon + 1);
    if (host.contains(QLatin1Char(':'))) {
      return fail(QStringLiteral("an IPv6 address goes in brackets: [ADDRESS]:PORT"));
    }
  }
  if (host.isEmpty()) {
    return fail(
        QStringLiteral("no address: 127.0.0.1:PORT listens on this machine only, 0.0.0.0:PORT "
                       "on every interface"));
  }
  bool numeric = false;
  const uint number = port.toUInt(&numeric);
  if (!numeric || number > 65535 || port.startsWith(QLatin1Char('+'))) {
    return fail(QStringLiteral("the port is not a number from 0 to 65535"));
  }
  ListenAddress address;
  address.port = static_cast<quint16>(number);
  if (!bracketed && host.compare(QLatin1String("localhost"), Qt::CaseInsensitive) == 0) {
    address.host = QHostAddress(QHostAddress::LocalHost);
    return address;
  }
  if (!address.host.setAddress(host) ||
      (address.host.protocol() == QAbstractSocket::IPv6Protocol) != bracketed ||
      !address.host.scopeId().isEmpty()) {
    return fail(
        QStringLiteral("'%1' is not an IPv4 address or a bracketed IPv6 address").arg(host));
  }
  return address;
}

MetricsServer::MetricsServer(const MetricsRecorder& recorder, Limits limits)
    : recorder_(recorder), limits_(limits) {}

MetricsServer::~MetricsServer() {
  if (thread_) {
    thread_->quit();
    thread_->wait();
  }
}

bool MetricsServer::Start(const ListenAddress& address, QString* error) {
  auto thread = std::make_unique<Thread>(recorder_, address, limits_);
  std::future<Listening> result = thread->Result();
  thread->setObjectName(QStringLiteral("metrics"));
  thread->start();
  const Listening listening = result.get();
  if (!listening.ok) {
    thread->wait();
    if (error) *error = listening.error;
    return false;
  }
  port_ = listening.port;
  thread_ = std::move(thread);
  return true;
}

}  // namespace tavex::ui
