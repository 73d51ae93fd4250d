// SPDX-License-Identifier: GPL-3.0-or-later
// The window's memory and log cost over a long life: builds the operator window offscreen, then
// appends LINES exchange-log lines (default 1.3 million, months of polling) as the exchanges write
// them, and prints the resident memory at start and after the lines, and the cost of an append
// while the log fills, just after it is full (from then on each line also drops the oldest) and
// at the end of the run.
//   tavex-window-log-probe [LINES]
#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "operator/TForm1.h"

namespace {

long ResidentKb() {
  std::ifstream status("/proc/self/status");
  std::string word;
  while (status >> word) {
    if (word == "VmRSS:") {
      long kb = 0;
      status >> kb;
      return kb;
    }
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  const long lines = argc > 1 ? std::atol(argv[1]) : 1300000;
  ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
  // The window's first read-back finds no port here; keep its settings lookup away from the
  // user's registry.
  char dirTemplate[] = "/tmp/tavex-window-probe-XXXXXX";
  const bool ownRegistry = ::mkdtemp(dirTemplate) != nullptr;
  if (ownRegistry) ::setenv("TAVEX_REGISTRY_DIR", dirTemplate, 1);

  QApplication app(argc, argv);
  tavex::ui::TForm1 form;
  form.show();
  QApplication::processEvents();
  const long startKb = ResidentKb();

  // One read-back's lines, as the exchange writes them (the check text carries a degree letter).
  const std::string cycle[] = {"READ----", "R", "Часы1", "105421 21o", "105421 21o5533900745"};
  using Steady = std::chrono::steady_clock;
  const long window = 10000;
  double firstUs = 0, fullUs = 0, lastUs = 0;
  auto mark = Steady::now();
  for (long i = 0; i < lines; ++i) {
    form.AppendLog(cycle[i % 5]);
    if ((i + 1) % window == 0) {
      QApplication::processEvents();
      const auto now = Steady::now();
      const double us = std::chrono::duration<double, std::micro>(now - mark).count() /
                        static_cast<double>(window);
      if (i + 1 == window) firstUs = us;
      if (i + 1 == 2 * window) fullUs = us;
      lastUs = us;
      mark = now;
    }
  }
  const long endKb = ResidentKb();
  std::printf(
      "lines=%ld start_kb=%ld end_kb=%ld first_append_us=%.2f full_append_us=%.2f "
      "last_append_us=%.2f kept_lines=%d\n",
      lines, startKb, endKb, firstUs, fullUs, lastUs, form.Memo1->LineCount());
  if (ownRegistry) {
    std::error_code ignored;
    std::filesystem::remove_all(dirTemplate, ignored);
  }
  return 0;
}
