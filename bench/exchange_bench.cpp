// SPDX-License-Identifier: GPL-3.0-or-later
// Duration of each clock exchange against its minimum (the sum of its pauses), and the spread of
// the gaps between the bytes it puts on the line, against the clock simulator on a
// pseudo-terminal. Run through bench/run-exchanges, or alone with TAVEX_CLOCKSIM pointing at
// tavex-clocksim (default: ../bin/tavex-clocksim beside this program's folder).
#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <memory>
#include <regex>
#include <string>
#include <vector>

#include "clocklink/ClockExchange.h"
#include "platform/registry.h"
#include "support/clock_sim_process.h"
#include "support/recording_panel.h"

namespace tavex {
namespace {

using Clock = std::chrono::steady_clock;

std::int64_t NowNs() {
  return std::chrono::duration_cast<std::chrono::nanoseconds>(Clock::now().time_since_epoch())
      .count();
}

// tavex-clocksim on its own pseudo-terminal, with a registry pointing at it, for the whole run.
class Peer {
 public:
  Peer() {
    char dirTemplate[] = "/tmp/tavex-bench-XXXXXX";
    if (mkdtemp(dirTemplate) == nullptr) return;
    dir_ = dirTemplate;
    log_ = dir_ + "/sim.jsonl";
    setenv("TAVEX_REGISTRY_DIR", dir_.c_str(), 1);
    std::string program;
    if (const char* given = std::getenv("TAVEX_CLOCKSIM")) {
      program = given;
    } else {
      program = (std::filesystem::read_symlink("/proc/self/exe").parent_path().parent_path() /
                 "bin" / "tavex-clocksim")
                    .string();
    }
    process_ =
        std::make_unique<test::ClockSimProcess>(program, std::vector<std::string>{"--log", log_});
    const std::string path = process_->ReadLine(std::chrono::seconds(5));
    platform::RegistryKey key;
    platform::RegistryKey::Create(platform::RegRoot::LocalMachine, "Software\\TAVEX\\ComPort", key);
    key.SetString("Port", path);
    key.SetString("BaudRate", "4800");
    key.SetString("StopBits", "1");
    key.SetString("DataBits", "8");
    key.SetString("Parity", "None");
    key.SetString("FlowControl", "None");
  }
  ~Peer() {
    process_.reset();
    if (!dir_.empty()) std::filesystem::remove_all(dir_);
  }

  // Arrival times (ns) of the bytes the simulator received within [from, to].
  std::vector<std::int64_t> Received(std::int64_t from, std::int64_t to) const {
    std::vector<std::int64_t> times;
    std::ifstream in(log_);
    static const std::regex rx(R"re(\{"t":(\d+),"dir":"rx")re");
    std::string line;
    std::smatch m;
    while (std::getline(in, line)) {
      if (!std::regex_search(line, m, rx)) continue;
      const std::int64_t t = std::stoll(m[1]);
      if (t >= from && t <= to) times.push_back(t);
    }
    return times;
  }

 private:
  std::string dir_;
  std::string log_;
  std::unique_ptr<test::ClockSimProcess> process_;
};

Peer& ThePeer() {
  static Peer peer;
  return peer;
}

void Exchange(benchmark::State& state, const ExchangeParams* params) {
  ThePeer();
  TComPort port;
  port.SetDiscardNull(true);
  test::RecordingPanel panel;
  panel.keepRecords = false;
  panel.durations[0] = panel.durations[1] = 5;
  panel.durations[2] = panel.durations[3] = 3;
  panel.brightness = 9;
  const std::size_t frameLength = params->frame == FrameKind::TimeSetting     ? 20
                                  : params->frame == FrameKind::Configuration ? 25
                                                                              : 1;
  const double minimumMs =
      static_cast<double>(frameLength + 1) * params->pauseAfterByteMs + params->pauseBeforeReadMs;
  double totalMs = 0;
  const std::int64_t from = NowNs();
  for (auto _ : state) {
    const auto start = Clock::now();
    RunClockExchange(*params, panel, port, platform::SystemClock());
    totalMs += std::chrono::duration<double, std::milli>(Clock::now() - start).count();
  }
  const std::int64_t to = NowNs();
  const double meanMs = totalMs / static_cast<double>(state.iterations());
  state.counters["minimum_ms"] = minimumMs;
  state.counters["mean_ms"] = meanMs;
  state.counters["ratio"] = meanMs / minimumMs;

  // Gaps between consecutive bytes of one transmission (a pause of more than 40 ms separates
  // transmissions), as the simulator saw them arrive.
  const std::vector<std::int64_t> times = ThePeer().Received(from, to);
  std::vector<double> gaps;
  for (std::size_t i = 1; i < times.size(); ++i) {
    const double gap = static_cast<double>(times[i] - times[i - 1]) / 1e6;
    if (gap < 40.0) gaps.push_back(gap);
  }
  if (!gaps.empty()) {
    double sum = 0;
    for (double g : gaps) sum += g;
    const double mean = sum / static_cast<double>(gaps.size());
    double squares = 0;
    for (double g : gaps) squares += (g - mean) * (g - mean);
    std::sort(gaps.begin(), gaps.end());
    state.counters["gap_nominal_ms"] = params->pauseAfterByteMs;
    state.counters["gap_mean_ms"] = mean;
    state.counters["gap_sd_ms"] = std::sqrt(squares / static_cast<double>(gaps.size()));
    state.counters["gap_min_ms"] = gaps.front();
    state.counters["gap_p99_ms"] = gaps[gaps.size() * 99 / 100];
    state.counters["gap_max_ms"] = gaps.back();
  }
}

BENCHMARK_CAPTURE(Exchange, time_setting, &TimeSettingExchange(2))
    ->Iterations(20)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Exchange, configuration, &ConfigurationExchange())
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(Exchange, read_back, &ReadBackExchange())
    ->Iterations(10)
    ->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace tavex
