// SPDX-License-Identifier: GPL-3.0-or-later
// The port's own costs on a pseudo-terminal: opening and closing (with the event thread of all ten
// events, as the operator program uses it), a one-byte write and a read of an empty queue.
#include <benchmark/benchmark.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

#include "platform/pseudo_terminal.h"
#include "serial/ComPort.h"

namespace {

using tavex::TComPort;

// A pty and a port configured like the operator program's.
struct Line {
  tavex::platform::PseudoTerminal pty;
  TComPort port;
  explicit Line(benchmark::State& state) {
    if (pty.Create() != 0) state.SkipWithError("no pseudo-terminal");
    port.SetPort(pty.SlavePath());
    port.SetBaudRate(tavex::br4800);
    port.SetDiscardNull(true);
  }
  void DrainMaster() {
    char buffer[4096];
    while (::read(pty.MasterFd(), buffer, sizeof buffer) > 0) {
    }
  }
};

void BM_OpenClose(benchmark::State& state) {
  Line line(state);
  for (auto _ : state) {
    line.port.Open();
    line.port.Close();
  }
}
BENCHMARK(BM_OpenClose)->Unit(benchmark::kMicrosecond);

void BM_WriteOneByte(benchmark::State& state) {
  Line line(state);
  line.port.Open();
  const std::string byte(1, 'R');
  std::int64_t written = 0;
  for (auto _ : state) {
    written += line.port.WriteStr(byte);
    if (written % 512 == 0) {
      // Keep the pty's queue from filling; not part of the measured write.
      state.PauseTiming();
      line.DrainMaster();
      state.ResumeTiming();
    }
  }
  line.port.Close();
  if (written != state.iterations()) state.SkipWithError("short write");
}
BENCHMARK(BM_WriteOneByte)->Unit(benchmark::kMicrosecond);

void BM_ReadEmptyQueue(benchmark::State& state) {
  Line line(state);
  line.port.Open();
  std::string reply;
  for (auto _ : state) {
    benchmark::DoNotOptimize(line.port.ReadStr(reply, 19));
  }
  line.port.Close();
}
BENCHMARK(BM_ReadEmptyQueue)->Unit(benchmark::kMicrosecond);

}  // namespace
