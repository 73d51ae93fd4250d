// SPDX-License-Identifier: GPL-3.0-or-later
// tavex-clocksim: clocks 1 to 4 on a pseudo-terminal (or a serial device), for the operator
// program, its tests and demonstrations on a machine without clocks.
#include <CLI/CLI.hpp>
#include <cstdio>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include "clocksim/clock_sim.h"
#include "clocksim/frame_layout.h"
#include "clocksim/port_presence.h"
#include "clocksim/sim_line.h"
#include "clocksim/stop_signals.h"

namespace {

using tavex::clocksim::kClockCount;

// "[CLOCK:]VALUE": the clocks it names (all four without a prefix) and the value.
std::pair<std::vector<int>, std::string> SplitClockPrefix(const std::string& text) {
  if (text.size() >= 2 && text[1] == ':' && text[0] >= '1' && text[0] <= '4') {
    return {{text[0] - '0'}, text.substr(2)};
  }
  return {{1, 2, 3, 4}, text};
}

// The command line as given, before it is checked.
struct CommandLine {
  std::string device, link, registerDir, logFile, controlFile, durations;
  int byteTimeUs = 2083, answerDelayMs = 20, resyncGapMs = 100, reconnectMs = -1;
  int brightness = 9;
  bool echo = false;
  std::string pressure = "745";
  std::vector<std::string> faults, temperatures, offsets;
};

// The line, its log and its pacing.
void AddLineOptions(CLI::App& app, CommandLine& cl) {
  app.add_option("--device", cl.device,
                 "serve this serial device (raw 4800 8N1) instead of a new pseudo-terminal")
      ->type_name("PATH");
  app.add_option("--link", cl.link,
                 "make a symbolic link with this name to the line (e.g. /tmp/COM6)")
      ->type_name("PATH");
  app.add_option("--register", cl.registerDir,
                 "register the line under HKEY_LOCAL_MACHINE\\HARDWARE\\DEVICEMAP\\SERIALCOMM in "
                 "the registry hive directory DIR (value tavexsim<pid>, data the --link path or "
                 "else the line's path); removed on exit")
      ->type_name("DIR");
  app.add_option("--log", cl.logFile,
                 "write every byte received and sent, every frame, reply and event as JSON "
                 "lines with monotonic timestamps in ns")
      ->type_name("FILE");
  app.add_option("--byte-time-us", cl.byteTimeUs,
                 "time per sent byte, microseconds (4800 bit/s 8N1: 2083; 0: no pacing)")
      ->type_name("US")
      ->check(CLI::Range(0, 1000000))
      ->capture_default_str();
  app.add_option("--answer-delay-ms", cl.answerDelayMs, "pause between a frame and its answer")
      ->type_name("MS")
      ->check(CLI::Range(0, 60000))
      ->capture_default_str();
  app.add_option("--resync-gap-ms", cl.resyncGapMs,
                 "quiet time after which a partial frame is dropped and a 0x00 starts a new one")
      ->type_name("MS")
      ->check(CLI::Range(1, 60000))
      ->capture_default_str();
}

// Faults, and whether a line that went away comes back.
void AddFaultOptions(CLI::App& app, CommandLine& cl) {
  app.add_option("--fault", cl.faults, "make a clock misbehave (repeatable; kinds below)")
      ->type_name("CLOCK:KIND[=ARG]");
  app.add_option("--control", cl.controlFile,
                 "file of faults, one CLOCK:KIND[=ARG] a line ('#' comments), re-read whenever "
                 "it changes; adds to --fault and overrides it for the same kind")
      ->type_name("FILE");
  app.add_flag("--echo", cl.echo,
               "a line fault of no one clock: every byte received goes back on the line, before "
               "any answer, as a 2-wire adapter that hears its own frames sends it");
  app.add_option("--reconnect-ms", cl.reconnectMs,
                 "after a hangup fault (or a failed device), bring the line back after this many "
                 "ms: a new pseudo-terminal behind the same --link; default: exit")
      ->type_name("MS")
      ->check(CLI::Range(0, 3600000));
}

// What the clocks show at start.
void AddClockOptions(CLI::App& app, CommandLine& cl) {
  app.add_option("--temperature", cl.temperatures,
                 "temperature field, 4 characters, e.g. ' 21o', '-12o' (repeatable; CLOCK: "
                 "prefix for one clock)")
      ->type_name("[CLOCK:]FIELD");
  app.add_option("--pressure", cl.pressure, "clock 1's pressure text, 3 characters")
      ->type_name("TEXT")
      ->capture_default_str();
  app.add_option("--offset", cl.offsets,
                 "start a clock this many seconds off the computer's time (repeatable)")
      ->type_name("[CLOCK:]SECONDS");
  app.add_option("--durations", cl.durations,
                 "clock 1's display durations at start: four digits, time, date, temperature, "
                 "pressure (default 5533)")
      ->type_name("DDDD");
  app.add_option("--brightness", cl.brightness, "clock 1's brightness at start")
      ->type_name("DIGIT")
      ->check(CLI::Range(0, 9))
      ->capture_default_str();
}

// The simulator's options from the command line. Throws std::invalid_argument (or what std::stoll
// throws) for a value the options' own checks let through.
tavex::clocksim::Options ToOptions(const CommandLine& cl) {
  using namespace tavex::clocksim;
  Options options;
  options.byteTime = std::chrono::microseconds(cl.byteTimeUs);
  options.answerDelay = std::chrono::milliseconds(cl.answerDelayMs);
  options.resyncGap = std::chrono::milliseconds(cl.resyncGapMs);
  options.logFile = cl.logFile;
  options.controlFile = cl.controlFile;
  options.brightness = cl.brightness;
  options.echo = cl.echo;
  for (const std::string& f : cl.faults) {
    for (const Fault& parsed : ParseFault(f)) options.faults.push_back(parsed);
  }
  for (const std::string& t : cl.temperatures) {
    const auto [clocks, field] = SplitClockPrefix(t);
    if (field.size() != layout::kReplyTemperatureLength) {
      throw std::invalid_argument("temperature must be 4 characters");
    }
    for (int c : clocks) options.temperature[static_cast<std::size_t>(c - 1)] = field;
  }
  for (const std::string& o : cl.offsets) {
    const auto [clocks, value] = SplitClockPrefix(o);
    std::size_t used = 0;
    const long long seconds = std::stoll(value, &used);
    if (used != value.size()) throw std::invalid_argument("offset must be whole seconds");
    for (int c : clocks) options.offsetSeconds[static_cast<std::size_t>(c - 1)] = seconds;
  }
  if (cl.pressure.size() != layout::kReplyPressureLength) {
    throw std::invalid_argument("pressure must be 3 characters");
  }
  options.pressure = cl.pressure;
  const std::string& durations = cl.durations;
  if (!durations.empty()) {
    if (durations.size() != layout::kDurationCount ||
        durations.find_first_not_of("0123456789") != std::string::npos) {
      throw std::invalid_argument("durations must be four digits");
    }
    for (std::size_t i = 0; i < layout::kDurationCount; ++i) {
      options.durations[i] = durations[i] - '0';
    }
  }
  return options;
}

// Serves one line after another (a new one after a hang-up, with --reconnect-ms) until a signal
// or an end without reconnecting; gives the exit status.
int ServeLines(tavex::clocksim::Simulator& simulator, tavex::clocksim::PortPresence& presence,
               const CommandLine& cl, int signalFd) {
  using namespace tavex::clocksim;
  const std::string& device = cl.device;
  bool firstLine = true;
  for (;;) {
    SimLine line;
    const int error = device.empty() ? line.OpenPseudoTerminal() : line.OpenDevice(device);
    if (error != 0) {
      std::fprintf(stderr, "tavex-clocksim: cannot open %s: %s\n",
                   device.empty() ? "a pseudo-terminal" : device.c_str(), std::strerror(error));
      if (firstLine || cl.reconnectMs < 0) return 1;
      if (!QuietWait(signalFd, cl.reconnectMs)) return 0;
      continue;
    }
    firstLine = false;
    if (const std::string problem = presence.Publish(line.PortPath()); !problem.empty()) {
      std::fprintf(stderr, "tavex-clocksim: %s\n", problem.c_str());
      return 1;
    }
    std::printf("%s\n", line.PortPath().c_str());
    std::fflush(stdout);
    simulator.LogEvent("line", "up at " + line.PortPath());

    const RunEnd end = simulator.Run(line.Fd(), signalFd);
    presence.Withdraw();
    line.Close();
    if (end == RunEnd::Stopped) return 0;
    if (end == RunEnd::LineGone) {
      std::fprintf(stderr, "tavex-clocksim: line failed: %s\n",
                   std::strerror(simulator.LastError()));
      simulator.LogEvent("line", "failed");
      if (cl.reconnectMs < 0) return 1;
    } else {
      simulator.LogEvent("line", "hung up");
      if (cl.reconnectMs < 0) return 0;
    }
    if (!QuietWait(signalFd, cl.reconnectMs)) return 0;
  }
}

// Runs the simulator until it ends, then prints its summary; gives the exit status.
int Serve(const CommandLine& cl, tavex::clocksim::Options options, int signalFd) {
  using namespace tavex::clocksim;
  try {
    Simulator simulator(std::move(options), tavex::platform::SystemClock());
    PortPresence presence(cl.link, cl.registerDir, "tavexsim" + std::to_string(ProcessId()));
    const int status = ServeLines(simulator, presence, cl, signalFd);
    std::fprintf(stderr, "tavex-clocksim: %s\n", simulator.SummaryLine().c_str());
    return status;
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tavex-clocksim: %s\n", e.what());
    return 1;
  }
}

}  // namespace

int main(int argc, char** argv) {
  using namespace tavex::clocksim;

  CLI::App app{
      "Clock network simulator: plays wall clocks 1 to 4 on a serial line for the TAVEX operator "
      "program. Creates a pseudo-terminal and prints its device path as the first line on "
      "standard output (or serves --device), answers time-setting frames (clocks 2-4), "
      "configuration frames and read requests (clock 1) as the clocks do, paced at the line's "
      "byte rate, and misbehaves on request.",
      "tavex-clocksim"};
  CommandLine cl;
  AddLineOptions(app, cl);
  AddFaultOptions(app, cl);
  AddClockOptions(app, cl);
  app.footer(FaultHelp() +
             "A frame starts with 0x00: \"R\", \"clk001\" + 19 characters or \"clk002\"-\"clk004\" "
             "+ 14. Frames that do not fit are dropped and counted; the reader then waits for a "
             "0x00 after --resync-gap-ms of quiet.\nSIGINT or SIGTERM ends the simulator; it "
             "prints a summary on standard error.");

  CLI11_PARSE(app, argc, argv);

  Options options;
  try {
    options = ToOptions(cl);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "tavex-clocksim: %s\n", e.what());
    return 2;
  }

  // SIGINT and SIGTERM arrive as readable data in the poll loop, never in the middle of a write.
  const StopSignals stopSignals;
  if (stopSignals.Error() != 0) {
    std::fprintf(stderr, "tavex-clocksim: signalfd: %s\n", std::strerror(stopSignals.Error()));
    return 1;
  }
  return Serve(cl, std::move(options), stopSignals.Fd());
}
