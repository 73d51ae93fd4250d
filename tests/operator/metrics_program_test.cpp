// SPDX-License-Identifier: GPL-3.0-or-later
// The program itself, offscreen with TAVEX_METRICS_ADDRESS, against the clock simulator: the
// metrics follow what the clock does (answers, a bad digit, silence, the line gone), errors go to
// standard error rather than into a box nobody sees, and requests no scraper sends leave it
// answering and polling.
#include <fstream>
#include <future>
#include <optional>

#include "operator/support.h"
#include "support/http_probe.h"
#include "support/metrics_program.h"

namespace tavex::test {
namespace {

std::string Exchanges(const char* exchange, const char* result) {
  return std::string(R"(tavex_exchanges_total{clock="1",exchange=")") + exchange + R"(",result=")" +
         result + "\"}";
}

const auto kAtLeast = [](double n) {
  return [n](std::optional<double> v) { return v && *v >= n; };
};

TEST(MetricsProgram, FollowsTheClockAndOutlivesBadRequests) {
  TempRegistry registry;
  const std::string control = registry.Dir() + "/faults";
  std::ofstream(control) << "\n";
  // A link of its own, which goes with the simulator: a pseudo-terminal's number may be taken
  // by another program at once.
  const std::string link = registry.Dir() + "/ttyCLOCK";
  std::optional<Simulator> sim(std::in_place, registry.Dir(),
                               std::vector<std::string>{"--control", control, "--link", link});
  if (!sim->Running()) GTEST_SKIP() << "tavex-clocksim is not built";
  registry.StorePort(link);
  MetricsProgram program(registry.Dir());
  ASSERT_NE(program.Port(), 0) << program.Errors();

  // The first read-back comes 100 ms after the start.
  ASSERT_TRUE(program.WaitFor(Exchanges("readback", "accepted"), kAtLeast(1), 15));
  const std::string first = GetMetrics(program.Port()).Body();
  EXPECT_EQ(SampleValue(first, R"(tavex_clock_temperature_celsius{clock="1"})"), 21);
  EXPECT_EQ(SampleValue(first, R"(tavex_clock_pressure_mmhg{clock="1"})"), 745);
  EXPECT_EQ(SampleValue(first, R"(tavex_clock_minutes_off{clock="1"})"), 0);
  EXPECT_EQ(SampleValue(first, "tavex_port_up"), 1);
  EXPECT_EQ(SampleValue(first, R"(tavex_polling_state{state="reading"})"), 1);
  const auto stamp =
      SampleValue(first, R"(tavex_clock_last_accepted_timestamp_seconds{clock="1"})");
  ASSERT_TRUE(stamp.has_value());
  EXPECT_NEAR(*stamp, static_cast<double>(std::time(nullptr)), 15);

  // Requests no scraper sends, some left open, while the program polls.
  const std::string big(300 * 1024, 'a');
  std::vector<int> idle;
  for (int i = 0; i < 3; ++i) idle.push_back(ConnectLoopback(program.Port()));
  // All at once, as a burst of bad clients comes: each waits up to the connection's lifetime.
  std::vector<std::future<HttpResult>> bad;
  for (const std::vector<std::string>& pieces : std::vector<std::vector<std::string>>{
           {std::string("\x16\x03\x01\x02\x00\x01\x00\x01\xfc\x03\x03", 11)},  // TLS hello
           {"GET /metrics HTTP/1.1\r\nX: " + big + "\r\n\r\n"},
           {"GET /metrics HTTP/1.1\r\nContent-Length: 999999999\r\n\r\n", big, big},
           {"\r\n\r\n\r\n"},
           {"GET /%zz%00 HTTP/1.1\r\n\r\n"}}) {
    bad.push_back(std::async(std::launch::async, [&program, pieces] {
      return HttpExchange(program.Port(), pieces, 0, 12000);
    }));
  }
  for (std::future<HttpResult>& request : bad) {
    const HttpResult result = request.get();
    EXPECT_TRUE(result.closed || result.StatusLine().find(" 200 ") == std::string::npos);
  }
  EXPECT_EQ(GetMetrics(program.Port()).StatusLine(), "HTTP/1.1 200 OK");
  EXPECT_TRUE(program.WaitFor(Exchanges("readback", "accepted"), kAtLeast(2), 20))
      << "polling stopped";
  for (int fd : idle) ::close(fd);

  // A bad duration digit: an error, on standard error (no one answers a box offscreen) and in
  // the metrics by its text; polling goes on.
  std::ofstream(control) << "1:bad-digit\n";
  EXPECT_TRUE(program.WaitFor(Exchanges("readback", "error"), kAtLeast(1), 20));
  EXPECT_TRUE(program.WaitFor(
      R"(tavex_errors_total{text="'x' is not a valid floating point value."})", kAtLeast(1), 2))
      << GetMetrics(program.Port()).Body();
  EXPECT_NE(program.Errors().find("tavex: 'x' is not a valid floating point value."),
            std::string::npos)
      << program.Errors();

  // Silence: counted as such, and no time known.
  std::ofstream(control) << "1:silent\n";
  EXPECT_TRUE(program.WaitFor(Exchanges("readback", "silent"), kAtLeast(1), 20));
  EXPECT_EQ(program.Sample(R"(tavex_clock_minutes_off{clock="1"})"), std::nullopt);
  EXPECT_TRUE(program.WaitFor(R"(tavex_polling_state{state="sending"})", kAtLeast(1), 5));

  // The line gone: the port fails.
  sim.reset();
  EXPECT_TRUE(program.WaitFor(
      "tavex_port_up", [](auto v) { return v == 0.0; }, 15));
  EXPECT_GE(program.Sample(Exchanges("configuration", "port_failed")).value_or(0), 1);
  EXPECT_TRUE(program.Alive());
}

TEST(MetricsProgram, AnUnusableAddressEndsTheProgramWithItsReason) {
  TempRegistry registry;
  const char* bin = std::getenv("TAVEX_TEST_BIN");
  const std::string program = std::string(bin ? bin : TAVEX_TEST_BIN_DIR) + "/tavex";
  for (const char* address : {"9812", "example.org:1", "127.0.0.1:99999"}) {
    const std::string command = "TAVEX_METRICS_ADDRESS='" + std::string(address) + "' '" + program +
                                "' -platform offscreen 2>" + registry.Dir() + "/err.txt";
    const int status = std::system(command.c_str());
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 1) << address;
    EXPECT_NE(ReadFile(registry.Dir() + "/err.txt").find("TAVEX_METRICS_ADDRESS="),
              std::string::npos)
        << address;
  }
}

}  // namespace
}  // namespace tavex::test
