// SPDX-License-Identifier: GPL-3.0-or-later
// The program watched as a site watches it: Debian's own Prometheus scrapes a running tavex every
// second and evaluates the shipped alert rules, while the clock simulator on the line goes silent,
// answers a minute behind and hangs up. Everything is read back through Prometheus' query API, so
// the names, labels and values are checked as the site's dashboards and alerts will see them.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <signal.h>
#include <spawn.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <QByteArray>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QUrl>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <functional>
#include <optional>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "support/clock_sim_process.h"
#include "support/http_probe.h"
#include "support/metrics_program.h"
#include "support/scratch.h"
#include "support/stored_port.h"

namespace tavex::test {
namespace {

using namespace std::chrono_literals;

std::optional<std::string> FindPrometheus() {
  const char* path = std::getenv("PATH");
  std::string dirs = std::string(path ? path : "") + ":/usr/bin:/usr/sbin";
  std::size_t at = 0;
  while (at <= dirs.size()) {
    const auto end = std::min(dirs.find(':', at), dirs.size());
    const std::string candidate = dirs.substr(at, end - at) + "/prometheus";
    if (end > at && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    at = end + 1;
  }
  return std::nullopt;
}

// A loopback port nobody listens on just now.
std::uint16_t FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  socklen_t length = sizeof address;
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// Prometheus on a loopback port of its own, scraping one target every second and evaluating the
// rules every second, its data and its log in `dir`.
class Prometheus {
 public:
  Prometheus(const std::string& program, const std::string& dir, std::uint16_t target)
      : log_(dir + "/prometheus.log") {
    const std::string config = dir + "/prometheus.yml";
    std::ofstream(config) << "global:\n"
                             "  scrape_interval: 1s\n"
                             "  scrape_timeout: 1s\n"
                             "  evaluation_interval: 1s\n"
                             "rule_files: ['"
                          << TAVEX_ALERT_RULES
                          << "']\n"
                             "scrape_configs:\n"
                             "  - job_name: tavex\n"
                             "    static_configs:\n"
                             "      - targets: ['127.0.0.1:"
                          << target << "']\n";
    // A port found free may be taken before Prometheus binds it: then it ends, and another is
    // tried.
    for (int attempt = 0; attempt < 3 && !Ready(); ++attempt) {
      Stop();
      port_ = FreePort();
      Start(program, config, dir + "/data");
      for (int i = 0; i < 300 && Alive() && !Ready(); ++i) std::this_thread::sleep_for(100ms);
    }
  }
  ~Prometheus() { Stop(); }
  Prometheus(const Prometheus&) = delete;
  Prometheus& operator=(const Prometheus&) = delete;

  bool Ready() const { return pid_ > 0 && Get("/-/ready").find(" 200 ") != std::string::npos; }
  std::string Log() const { return ReadFile(log_); }

  // The values of an instant query, one per series; empty when it has none.
  std::vector<double> Query(const std::string& expression) const {
    const std::string reply = Get("/api/v1/query?query=" + Encoded(expression));
    const auto body = reply.find("\r\n\r\n");
    if (body == std::string::npos) return {};
    const QJsonObject root =
        QJsonDocument::fromJson(QByteArray::fromStdString(reply.substr(body + 4))).object();
    std::vector<double> values;
    for (const QJsonValue series : root["data"]["result"].toArray()) {
      values.push_back(series["value"].toArray().at(1).toString().toDouble());
    }
    return values;
  }
  // The single value of a query, or nothing when it has no series.
  std::optional<double> Value(const std::string& expression) const {
    const std::vector<double> values = Query(expression);
    if (values.size() != 1) return std::nullopt;
    return values.front();
  }
  // Waits up to `limit` for the query's value to satisfy `ok`.
  bool WaitFor(const std::string& expression, const std::function<bool(std::optional<double>)>& ok,
               std::chrono::seconds limit) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (ok(Value(expression))) return true;
      std::this_thread::sleep_for(250ms);
    }
    return false;
  }
  std::string Explain(const std::string& expression) const {
    const std::vector<double> values = Query(expression);
    std::string text = expression + " =";
    if (values.empty()) text += " (no series)";
    for (double v : values) text += " " + std::to_string(v);
    return text;
  }

 private:
  void Start(const std::string& program, const std::string& config, const std::string& data) {
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, log_.c_str(),
                                     O_WRONLY | O_CREAT | O_APPEND, 0644);
    posix_spawn_file_actions_adddup2(&actions, STDOUT_FILENO, STDERR_FILENO);
    std::vector<std::string> args = {
        program, "--config.file=" + config, "--storage.tsdb.path=" + data,
        "--web.listen-address=127.0.0.1:" + std::to_string(port_), "--log.level=warn"};
    std::vector<char*> argv;
    for (std::string& arg : args) argv.push_back(arg.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) != 0) {
      pid_ = -1;
    }
    posix_spawn_file_actions_destroy(&actions);
  }
  void Stop() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    ::waitpid(pid_, nullptr, 0);
    pid_ = -1;
  }
  bool Alive() const { return pid_ > 0 && ::waitpid(pid_, nullptr, WNOHANG) == 0; }

  // HTTP/1.0, so that the reply ends with the connection and needs no chunk decoding.
  std::string Get(const std::string& target) const {
    return HttpExchange(port_, {"GET " + target + " HTTP/1.0\r\n\r\n"}, 0, 5000, false).received;
  }
  static std::string Encoded(const std::string& text) {
    return QUrl::toPercentEncoding(QString::fromStdString(text)).toStdString();
  }

  std::string log_;
  pid_t pid_ = -1;
  std::uint16_t port_ = 0;
};

// How many frames to clock 1 the simulator's log holds.
int FramesToClock1(const std::string& log) {
  std::ifstream in(log);
  static const std::regex frame(R"re("frame":"[0-9a-fA-F]*".*"clock":1,)re");
  int count = 0;
  for (std::string line; std::getline(in, line);) count += std::regex_search(line, frame);
  return count;
}

std::string Exchanges(const char* exchange, const char* result) {
  return std::string(R"(tavex_exchanges_total{clock="1",exchange=")") + exchange + R"(",result=")" +
         result + "\"}";
}
std::string Pending(const char* alert) {
  return std::string(R"(ALERTS{alertname=")") + alert + R"(",alertstate="pending"})";
}

const auto kAbsent = [](std::optional<double> v) { return !v.has_value(); };
auto Is(double n) {
  return [n](std::optional<double> v) { return v == n; };
}
auto Above(double n) {
  return [n](std::optional<double> v) { return v && *v > n; };
}

TEST(Prometheus, SeesEachFaultOfTheLineAndRaisesTheAlerts) {
  const std::optional<std::string> prometheus = FindPrometheus();
  if (!prometheus) GTEST_SKIP() << "prometheus is not installed (scripts/install-deps --extras)";
  ScratchDir dir("tavex-monitoring");
  ScopedEnv registryDir("TAVEX_REGISTRY_DIR", dir / "registry");
  const std::string control = dir / "faults";
  const std::string simLog = dir / "sim.jsonl";
  std::ofstream(control) << "\n";
  const char* bin = std::getenv("TAVEX_TEST_BIN");
  // A hang-up keeps the line away for 12 s: longer than the gap between two exchanges.
  ClockSimProcess sim(std::string(bin ? bin : TAVEX_TEST_BIN_DIR) + "/tavex-clocksim",
                      {"--log", simLog, "--control", control, "--link", dir / "ttyCLOCK",
                       "--reconnect-ms", "12000"});
  ASSERT_FALSE(sim.ReadLine(5s).empty()) << "tavex-clocksim did not start";
  StorePort(dir / "ttyCLOCK");
  MetricsProgram program(dir.Path());
  ASSERT_NE(program.Port(), 0) << program.Errors();
  Prometheus prom(*prometheus, dir.Path(), program.Port());
  ASSERT_TRUE(prom.Ready()) << prom.Log();
  const auto explain = [&](const std::string& expression) {
    return prom.Explain(expression) + "\nprogram: " + program.Errors();
  };

  // A clock that answers.
  const std::string accepted = Exchanges("readback", "accepted");
  ASSERT_TRUE(prom.WaitFor(accepted, Above(0), 30s)) << explain(accepted);
  EXPECT_EQ(prom.Value(R"(up{job="tavex"})"), 1);
  EXPECT_EQ(prom.Value(R"(tavex_clock_temperature_celsius{clock="1"})"), 21);
  EXPECT_EQ(prom.Value(R"(tavex_clock_pressure_mmhg{clock="1"})"), 745);
  EXPECT_EQ(prom.Value(R"(tavex_clock_minutes_off{clock="1"})"), 0);
  EXPECT_EQ(prom.Value("tavex_port_up"), 1);
  EXPECT_EQ(prom.Value("sum(tavex_polling_state)"), 1);
  EXPECT_TRUE(prom.WaitFor(R"(tavex_polling_state{state="reading"})", Is(1), 10s));
  EXPECT_EQ(prom.Value("count(tavex_build_info)"), 1);
  const auto age = prom.Value(R"(time() - tavex_clock_last_accepted_timestamp_seconds{clock="1"})");
  ASSERT_TRUE(age.has_value());
  EXPECT_LT(*age, 15);
  // The start counts as no reply until the first one came.
  EXPECT_TRUE(prom.WaitFor("ALERTS", kAbsent, 10s)) << explain("ALERTS");

  // Silent: the silent exchanges are counted, no time is known, and after 30 s without an
  // accepted reply the rule for a silent clock is pending.
  std::ofstream(control) << "1:silent\n";
  const std::string silent = R"(sum(tavex_exchanges_total{clock="1",result="silent"}))";
  EXPECT_TRUE(prom.WaitFor(silent, Above(0), 30s)) << explain(silent);
  EXPECT_TRUE(prom.WaitFor(R"(tavex_clock_minutes_off{clock="1"})", kAbsent, 30s));
  EXPECT_TRUE(prom.WaitFor(Pending("TavexClock1NoAcceptedReply"), Is(1), 60s)) << explain("ALERTS");
  EXPECT_TRUE(prom.WaitFor(silent, Above(1), 30s)) << explain(silent);

  // Answering again: the alert goes.
  std::ofstream(control) << "\n";
  const double acceptedBefore = prom.Value(accepted).value_or(0);
  EXPECT_TRUE(prom.WaitFor(R"(sum(tavex_exchanges_total{clock="1",result="accepted"}))",
                           Above(acceptedBefore), 30s));
  EXPECT_TRUE(prom.WaitFor(R"(ALERTS{alertname="TavexClock1NoAcceptedReply"})", kAbsent, 30s))
      << explain("ALERTS");
  EXPECT_TRUE(prom.WaitFor(R"(tavex_clock_minutes_off{clock="1"})", Is(0), 30s));

  // A minute behind: the replies are refused, the offset is shown, and the rule for a clock
  // that disagrees is pending.
  std::ofstream(control) << "1:wrong-minute\n";
  EXPECT_TRUE(prom.WaitFor(R"(tavex_clock_minutes_off{clock="1"})", Is(-1), 30s))
      << explain(R"(tavex_clock_minutes_off{clock="1"})");
  const std::string refused = R"(sum(tavex_exchanges_total{clock="1",result="refused"}))";
  EXPECT_TRUE(prom.WaitFor(refused, Above(0), 30s)) << explain(refused);
  EXPECT_TRUE(prom.WaitFor(Pending("TavexClock1TimeDisagrees"), Is(1), 30s)) << explain("ALERTS");

  // A hang-up: the exchange in flight fails with its error, counted by its text; the port is
  // down while the line is away and up again when it comes back.
  bool hungUp = false;
  for (int attempt = 0; attempt < 3 && !hungUp; ++attempt) {
    // Hangs up at the next frame to clock 1 (the count goes on from the simulator's start).
    std::ofstream(control) << "1:hangup=" << FramesToClock1(simLog) + 1 << "\n";
    for (int i = 0; i < 150 && !hungUp; ++i) {
      std::this_thread::sleep_for(100ms);
      hungUp = ReadFile(simLog).find(R"("event":"hangup")") != std::string::npos;
    }
  }
  ASSERT_TRUE(hungUp) << "the simulator did not hang up";
  const std::string errors = R"(sum(tavex_errors_total))";
  EXPECT_TRUE(prom.WaitFor(errors, Above(0), 30s)) << explain("tavex_errors_total");
  EXPECT_TRUE(
      prom.WaitFor(R"(sum(tavex_exchanges_total{clock="1",result="error"}))", Above(0), 30s));
  EXPECT_TRUE(prom.WaitFor("tavex_port_up", Is(0), 30s)) << explain("tavex_port_up");
  EXPECT_TRUE(
      prom.WaitFor(R"(sum(tavex_exchanges_total{clock="1",result="port_failed"}))", Above(0), 5s));
  EXPECT_TRUE(prom.WaitFor("tavex_port_up", Is(1), 40s)) << explain("tavex_port_up");
  EXPECT_TRUE(prom.WaitFor(R"(tavex_clock_minutes_off{clock="1"})", Is(0), 30s));

  // The program gone: Prometheus cannot scrape it, and says so.
  program.Stop();
  EXPECT_TRUE(prom.WaitFor(R"(up{job="tavex"})", Is(0), 15s));
  EXPECT_TRUE(prom.WaitFor(Pending("TavexScrapeFailing"), Is(1), 15s)) << explain("ALERTS");
  EXPECT_TRUE(prom.WaitFor("tavex_port_up", kAbsent, 15s));
}

}  // namespace
}  // namespace tavex::test
