// SPDX-License-Identifier: GPL-3.0-or-later
// Runs the three clock exchanges against the clock simulator on a pseudo-terminal with the real
// clock and prints, as Markdown table rows, how long each exchange took against its minimum (the
// pauses it sleeps; a pseudo-terminal adds no line time) and how evenly the bytes of each frame
// reached the simulator against the pause after each byte: the span of each frame from its first
// to its last byte against the sum of its pauses, and the gaps between its bytes. "Answered"
// counts the exchanges whose reply arrived within the pause before the read and was accepted.
//   tavex-exchange-runner [RUNS]      (default 20 runs of each exchange)
#include <sys/eventfd.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <thread>
#include <vector>

#include "clocklink/ClockExchange.h"
#include "clocksim/clock_sim.h"
#include "clocksim/sim_line.h"
#include "platform/registry.h"
#include "support/recording_panel.h"

namespace {

using namespace tavex;
using Steady = std::chrono::steady_clock;

double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const auto index = static_cast<std::size_t>(p * static_cast<double>(values.size() - 1) + 0.5);
  return values[std::min(index, values.size() - 1)];
}

struct Kind {
  const char* name;
  const ExchangeParams* params;
  int bytesOnLine;
};

// Arrival times (steady clock, ns) of the bytes the simulator received, from its log.
std::vector<std::int64_t> ReceivedTimes(const std::string& logPath) {
  std::vector<std::int64_t> times;
  std::ifstream in(logPath);
  std::string line;
  while (std::getline(in, line)) {
    if (line.find("\"dir\":\"rx\"") == std::string::npos) continue;
    times.push_back(std::stoll(line.substr(5)));  // {"t":NNN,...
  }
  return times;
}

// The received bytes between `from` and `to`, cut into frames where the line was quiet for longer
// than any pause within a frame.
using FrameTimes = std::vector<std::vector<std::int64_t>>;
FrameTimes FramesWithin(const std::vector<std::int64_t>& received, Steady::time_point from,
                        Steady::time_point to) {
  const auto ns = [](Steady::time_point t) {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(t.time_since_epoch()).count();
  };
  constexpr std::int64_t kQuietNs = 100000000;  // 100 ms: transmissions lie further apart
  FrameTimes frames;
  for (const std::int64_t t : received) {
    if (t < ns(from) || t > ns(to)) continue;
    if (frames.empty() || t - frames.back().back() > kQuietNs) frames.emplace_back();
    frames.back().push_back(t);
  }
  return frames;
}

}  // namespace

int main(int argc, char** argv) {
  const int runs = argc > 1 ? std::atoi(argv[1]) : 20;
  char dirTemplate[] = "/tmp/tavex-exchange-runner-XXXXXX";
  if (::mkdtemp(dirTemplate) == nullptr) return 1;
  const std::string dir = dirTemplate;
  ::setenv("TAVEX_REGISTRY_DIR", dir.c_str(), 1);
  const std::string logPath = dir + "/clocksim.jsonl";

  clocksim::SimLine line;
  if (line.OpenPseudoTerminal() != 0) {
    std::fprintf(stderr, "exchange-runner: no pseudo-terminal\n");
    return 1;
  }
  platform::RegistryKey key;
  platform::RegistryKey::Create(platform::RegRoot::LocalMachine, "Software\\TAVEX\\ComPort", key);
  key.SetString("Port", line.PortPath());
  key.SetString("BaudRate", "4800");

  clocksim::Options options;
  options.logFile = logPath;
  clocksim::Simulator simulator(options, platform::SystemClock());
  const int stopFd = ::eventfd(0, EFD_CLOEXEC);
  std::thread simulatorThread([&] { simulator.Run(line.Fd(), stopFd); });

  TComPort port;
  port.SetName("ComPort");
  port.SetDiscardNull(true);
  port.SetEvents(kAllComEvents);
  test::RecordingPanel panel;
  panel.keepRecords = false;
  std::fill(std::begin(panel.durations), std::end(panel.durations), 5);
  panel.brightness = 9;
  panel.onStatus = [](const std::string& text) {
    if (!text.empty()) std::fprintf(stderr, "exchange-runner: %s\n", text.c_str());
  };

  // The bytes on the line: the leading 0x00 and the frame.
  const Kind kinds[] = {
      {"time setting (clock 2)", &TimeSettingExchange(2), static_cast<int>(kTimeFrameLength) + 1},
      {"configuration (clock 1)", &ConfigurationExchange(),
       static_cast<int>(kConfigFrameLength) + 1},
      {"read-back (clock 1)", &ReadBackExchange(), static_cast<int>(kReadRequest.size()) + 1}};
  struct Span {
    Steady::time_point from, to;
  };
  std::vector<Span> spans;
  std::vector<std::vector<double>> durations(3);
  int refused[3] = {0, 0, 0};
  for (std::size_t k = 0; k < 3; ++k) {
    const Span span{Steady::now(), {}};
    for (int i = 0; i < runs; ++i) {
      const auto start = Steady::now();
      const ExchangeOutcome outcome =
          RunClockExchange(*kinds[k].params, panel, port, platform::SystemClock());
      durations[k].push_back(
          std::chrono::duration<double, std::milli>(Steady::now() - start).count());
      if (outcome != ExchangeOutcome::Accepted) ++refused[k];
      // Transmissions apart, as the window's timers keep them: the simulator finds frames by gaps.
      std::this_thread::sleep_for(std::chrono::milliseconds(150));
    }
    spans.push_back({span.from, Steady::now()});
  }

  const std::uint64_t one = 1;
  [[maybe_unused]] const ssize_t woke = ::write(stopFd, &one, sizeof one);
  simulatorThread.join();
  ::close(stopFd);

  const std::vector<std::int64_t> received = ReceivedTimes(logPath);
  std::printf(
      "| exchange | runs (answered) | minimum (pauses) | median | p95 | max | median over minimum "
      "|\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  for (std::size_t k = 0; k < 3; ++k) {
    const ExchangeParams& p = *kinds[k].params;
    const double minimum = kinds[k].bytesOnLine * p.pauseAfterByteMs + p.pauseBeforeReadMs;
    std::printf("| %s | %d (%d) | %.0f ms | %.1f ms | %.1f ms | %.1f ms | +%.1f ms |\n",
                kinds[k].name, runs, runs - refused[k], minimum, Percentile(durations[k], 0.5),
                Percentile(durations[k], 0.95), Percentile(durations[k], 1.0),
                Percentile(durations[k], 0.5) - minimum);
  }
  std::printf(
      "\n| frame of | bytes | frames | nominal span | median span | p95 span | max span | "
      "smallest gap |\n");
  std::printf("|---|---|---|---|---|---|---|---|\n");
  std::vector<std::vector<double>> gapsOf(3);
  for (std::size_t k = 0; k < 3; ++k) {
    const FrameTimes frames = FramesWithin(received, spans[k].from, spans[k].to);
    std::vector<double> frameSpans;
    for (const std::vector<std::int64_t>& f : frames) {
      if (static_cast<int>(f.size()) != kinds[k].bytesOnLine) continue;  // a frame split or merged
      frameSpans.push_back(static_cast<double>(f.back() - f.front()) / 1e6);
      for (std::size_t i = 1; i < f.size(); ++i) {
        gapsOf[k].push_back(static_cast<double>(f[i] - f[i - 1]) / 1e6);
      }
    }
    const int pause = kinds[k].params->pauseAfterByteMs;
    std::printf("| %s | %d | %zu | %d ms | %.2f ms | %.2f ms | %.2f ms | %.2f ms |\n",
                kinds[k].name, kinds[k].bytesOnLine, frameSpans.size(),
                (kinds[k].bytesOnLine - 1) * pause, Percentile(frameSpans, 0.5),
                Percentile(frameSpans, 0.95), Percentile(frameSpans, 1.0),
                Percentile(gapsOf[k], 0));
  }
  std::printf("\n| frame bytes of | nominal gap | gaps | min | median | p99 | max |\n");
  std::printf("|---|---|---|---|---|---|---|\n");
  for (std::size_t k = 0; k < 3; ++k) {
    const std::vector<double>& gaps = gapsOf[k];
    std::printf("| %s | %d ms | %zu | %.2f ms | %.2f ms | %.2f ms | %.2f ms |\n", kinds[k].name,
                kinds[k].params->pauseAfterByteMs, gaps.size(), Percentile(gaps, 0),
                Percentile(gaps, 0.5), Percentile(gaps, 0.99), Percentile(gaps, 1.0));
  }
  std::error_code ignored;
  std::filesystem::remove_all(dir, ignored);
  return 0;
}
