// SPDX-License-Identifier: GPL-3.0-or-later
// The metrics endpoint over raw sockets: the listen address, then requests a scraper would never
// send (malformed, oversized, slow, silent, too many at once) each ending in an error status or a
// closed connection within the connection's lifetime, and the endpoint answering afterwards; and a
// scrape answered while the window's thread is busy.
#include <gtest/gtest.h>

#include <thread>

#include "operator/MetricsServer.h"
#include "operator/support.h"
#include "support/http_probe.h"

namespace tavex::ui {
namespace {

using test::GetMetrics;
using test::HttpExchange;
using test::HttpResult;

TEST(MetricsAddress, HostAndPortBothNamed) {
  const struct {
    const char* text;
    const char* host;  // nullptr: refused
    quint16 port;
  } cases[] = {
      {"127.0.0.1:9812", "127.0.0.1", 9812},
      {"[::1]:9812", "::1", 9812},
      {"0.0.0.0:9812", "0.0.0.0", 9812},
      {"[::]:80", "::", 80},
      {"localhost:9812", "127.0.0.1", 9812},
      {" 10.0.0.5:0 ", "10.0.0.5", 0},
      {":9812", nullptr, 0},
      {"9812", nullptr, 0},
      {"127.0.0.1", nullptr, 0},
      {"127.0.0.1:", nullptr, 0},
      {"127.0.0.1:65536", nullptr, 0},
      {"127.0.0.1:-1", nullptr, 0},
      {"127.0.0.1:+80", nullptr, 0},
      {"127.0.0.1:98x", nullptr, 0},
      {"::1:9812", nullptr, 0},
      {"[::1]9812", nullptr, 0},
      {"[127.0.0.1]:9812", nullptr, 0},
      {"[localhost]:9812", nullptr, 0},
      {"example.org:9812", nullptr, 0},
      {"[fe80::1%lo]:9812", nullptr, 0},
      {"", nullptr, 0},
  };
  for (const auto& c : cases) {
    QString error;
    const auto address = ParseListenAddress(QString::fromUtf8(c.text), &error);
    if (c.host == nullptr) {
      EXPECT_FALSE(address.has_value()) << c.text;
      EXPECT_FALSE(error.isEmpty()) << c.text;
      continue;
    }
    ASSERT_TRUE(address.has_value()) << c.text << ": " << error.toStdString();
    EXPECT_EQ(address->host, QHostAddress(QString::fromLatin1(c.host))) << c.text;
    EXPECT_EQ(address->port, c.port) << c.text;
  }
}

constexpr int kLifetimeMs = 1500;
constexpr int kGraceMs = 2000;

class MetricsServerTest : public ::testing::Test, public test::WithApp {
 protected:
  void SetUp() override {
    QString error;
    ASSERT_TRUE(server_.Start({QHostAddress(QHostAddress::LocalHost), 0}, &error))
        << error.toStdString();
    port_ = server_.Port();
  }
  void ExpectAnswering() {
    const HttpResult result = GetMetrics(port_);
    EXPECT_EQ(result.StatusLine(), "HTTP/1.1 200 OK");
    EXPECT_NE(result.Body().find("tavex_build_info{version=\"9.9\"} 1\n"), std::string::npos);
  }

  MetricsRecorder recorder_{"9.9"};
  MetricsServer server_{recorder_, {4, kLifetimeMs, 16 * 1024}};
  std::uint16_t port_ = 0;
};

TEST_F(MetricsServerTest, AScrapeGetsTheTextFormat) {
  const HttpResult result = GetMetrics(port_);
  EXPECT_EQ(result.StatusLine(), "HTTP/1.1 200 OK");
  EXPECT_NE(result.received.find("text/plain; version=0.0.4; charset=utf-8"), std::string::npos);
  EXPECT_EQ(result.Body(), recorder_.Exposition());
}

// A client that reads to the end of the connection (HTTP/1.0, a shell's /dev/tcp) gets the whole
// response and the end at once, not when the connection's lifetime is up.
TEST_F(MetricsServerTest, EachResponseEndsItsConnection) {
  for (const char* request :
       {"GET /metrics HTTP/1.0\r\n\r\n", "GET /metrics HTTP/1.1\r\nHost: x\r\n\r\n",
        "GET /other HTTP/1.1\r\nHost: x\r\n\r\n"}) {
    const HttpResult result = HttpExchange(port_, {request}, 0, kLifetimeMs + kGraceMs, false);
    EXPECT_TRUE(result.closed) << request;
    EXPECT_LT(result.seconds, kLifetimeMs / 2000.0) << request;
    EXPECT_NE(result.received.find("\r\nConnection: close\r\n"), std::string::npos) << request;
  }
  EXPECT_EQ(HttpExchange(port_, {"GET /metrics HTTP/1.0\r\n\r\n"}, 0, 3000, false).Body(),
            recorder_.Exposition());
}

TEST_F(MetricsServerTest, RequestsNoScraperSendsEndInAnErrorOrAClose) {
  // kEnds: the parser may take it as a scrape or refuse it; either way the connection ends.
  enum Expect { kAnswered, kNotFound, kNotAllowed, kErrorOrClosed, kEnds };
  const std::string big(200 * 1024, 'a');
  const struct {
    const char* name;
    std::vector<std::string> pieces;
    int pauseMs;
    Expect expect;
  } cases[] = {
      {"HTTP/1.0", {"GET /metrics HTTP/1.0\r\n\r\n"}, 0, kAnswered},
      {"pipelined pair",
       {"GET /metrics HTTP/1.1\r\n\r\nGET /metrics HTTP/1.1\r\n\r\n"},
       0,
       kAnswered},
      {"in small pieces", {"GET /met", "rics HTTP/1.1\r\nHo", "st: x\r\n", "\r\n"}, 50, kAnswered},
      {"other path", {"GET / HTTP/1.1\r\n\r\n"}, 0, kNotFound},
      {"path climbing out", {"GET /metrics/../../etc/passwd HTTP/1.1\r\n\r\n"}, 0, kNotFound},
      {"POST", {"POST /metrics HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc"}, 0, kNotAllowed},
      {"DELETE", {"DELETE /metrics HTTP/1.1\r\n\r\n"}, 0, kNotAllowed},
      {"binary noise", {std::string("\x00\x01\x02\xff\r\n\r\n", 8)}, 0, kErrorOrClosed},
      {"no method", {" /metrics HTTP/1.1\r\n\r\n"}, 0, kErrorOrClosed},
      {"unknown method", {"BREW /metrics HTTP/1.1\r\n\r\n"}, 0, kErrorOrClosed},
      {"HTTP/9.9", {"GET /metrics HTTP/9.9\r\n\r\n"}, 0, kEnds},
      {"header without colon", {"GET /metrics HTTP/1.1\r\nNoColonHere\r\n\r\n"}, 0, kEnds},
      {"NUL in the path", {std::string("GET /met\0rics HTTP/1.1\r\n\r\n", 26)}, 0, kErrorOrClosed},
      {"bad chunk size",
       {"GET /metrics HTTP/1.1\r\nTransfer-Encoding: chunked\r\n\r\nZZ\r\n"},
       0,
       kErrorOrClosed},
      {"200 kB header", {"GET /metrics HTTP/1.1\r\nX-Big: " + big + "\r\n\r\n"}, 0, kErrorOrClosed},
      {"200 kB path", {"GET /" + big + " HTTP/1.1\r\n\r\n"}, 0, kErrorOrClosed},
      {"endless body",
       {"GET /metrics HTTP/1.1\r\nContent-Length: 100000000\r\n\r\n", big, big, big, big, big},
       0,
       kErrorOrClosed},
      {"silence", {}, 0, kErrorOrClosed},
      {"half a request, then silence", {"GET /metrics HTTP/1.1\r\n"}, 0, kErrorOrClosed},
      // One byte every 100 ms would take longer than the connection may live.
      {"one byte at a time", std::vector<std::string>(40, "X"), 100, kErrorOrClosed},
  };
  for (const auto& c : cases) {
    const HttpResult result = HttpExchange(port_, c.pieces, c.pauseMs, kLifetimeMs + kGraceMs);
    const std::string status = result.StatusLine();
    switch (c.expect) {
      case kAnswered:
        EXPECT_EQ(status, "HTTP/1.1 200 OK") << c.name;
        break;
      case kNotFound:
        EXPECT_EQ(status, "HTTP/1.1 404 Not Found") << c.name;
        break;
      case kNotAllowed:
        EXPECT_EQ(status, "HTTP/1.1 405 Method Not Allowed") << c.name;
        break;
      case kErrorOrClosed:
        EXPECT_TRUE(result.closed || status.rfind("HTTP/1.1 4", 0) == 0 ||
                    status.rfind("HTTP/1.1 5", 0) == 0)
            << c.name << ": " << status;
        EXPECT_EQ(status.find(" 200 "), std::string::npos) << c.name;
        break;
      case kEnds:
        EXPECT_TRUE(result.closed || test::WholeResponse(result.received)) << c.name;
        break;
    }
    EXPECT_LT(result.seconds, (kLifetimeMs + 2 * kGraceMs + c.pauseMs * 40) / 1000.0) << c.name;
    ExpectAnswering();
  }
}

TEST_F(MetricsServerTest, ConnectionsBeyondTheLimitAreClosedAtOnce) {
  std::vector<int> held;
  for (int i = 0; i < 4; ++i) held.push_back(test::ConnectLoopback(port_));
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  const HttpResult extra = GetMetrics(port_, 1000);
  EXPECT_TRUE(extra.closed);
  EXPECT_TRUE(extra.received.empty());
  EXPECT_LT(extra.seconds, 0.9);
  for (int fd : held) ::close(fd);
  std::this_thread::sleep_for(std::chrono::milliseconds(200));
  ExpectAnswering();
}

TEST_F(MetricsServerTest, AScrapeDoesNotWaitForTheWindowThread) {
  // This thread stands for the window's, busy with an exchange for a second and a half.
  HttpResult result;
  std::thread scraper([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    result = GetMetrics(port_);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(1500));
  scraper.join();
  EXPECT_EQ(result.StatusLine(), "HTTP/1.1 200 OK");
  EXPECT_LT(result.seconds, 1.0);
}

TEST(MetricsServer, AnAddressInUseIsReported) {
  test::App();
  MetricsRecorder recorder("0");
  MetricsServer first(recorder);
  QString error;
  ASSERT_TRUE(first.Start({QHostAddress(QHostAddress::LocalHost), 0}, &error));
  MetricsServer second(recorder);
  EXPECT_FALSE(second.Start({QHostAddress(QHostAddress::LocalHost), first.Port()}, &error));
  EXPECT_FALSE(error.isEmpty());
}

}  // namespace
}  // namespace tavex::ui
