// SPDX-License-Identifier: GPL-3.0-or-later
// Saving and restoring the port's settings in the registry hive, as the setup command and every
// exchange do: one locked, atomic rewrite of the hive file per save, one read per restore.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "serial/ComPort.h"

namespace {

constexpr const char* kLocation = "HKEY_LOCAL_MACHINE\\Software\\TAVEX";

struct Registry {
  std::string dir;
  Registry() {
    char dirTemplate[] = "/tmp/tavex-settings-bench-XXXXXX";
    dir = ::mkdtemp(dirTemplate);
    ::setenv("TAVEX_REGISTRY_DIR", dir.c_str(), 1);
  }
  ~Registry() {
    std::error_code ignored;
    std::filesystem::remove_all(dir, ignored);
  }
};

void Configure(tavex::TComPort& port) {
  port.SetName("ComPort");
  port.SetPort("ttyUSB0");
  port.SetBaudRate(tavex::br4800);
}

void BM_SaveSettings(benchmark::State& state) {
  Registry registry;
  tavex::TComPort port;
  Configure(port);
  port.SavedGroups = tavex::TSettingsGroups::FromBits(static_cast<std::uint8_t>(state.range(0)));
  for (auto _ : state) port.SaveSettings(tavex::ssRegistry, kLocation);
}
// Basic settings only (what the program stores), then all six groups.
BENCHMARK(BM_SaveSettings)->Arg(0x01)->Arg(0x3F)->Unit(benchmark::kMicrosecond);

void BM_RestoreSettings(benchmark::State& state) {
  Registry registry;
  tavex::TComPort port;
  Configure(port);
  port.SavedGroups = tavex::TSettingsGroups::FromBits(static_cast<std::uint8_t>(state.range(0)));
  port.SaveSettings(tavex::ssRegistry, kLocation);
  for (auto _ : state) port.RestoreSettings(tavex::ssRegistry, kLocation);
}
BENCHMARK(BM_RestoreSettings)->Arg(0x01)->Arg(0x3F)->Unit(benchmark::kMicrosecond);

}  // namespace
