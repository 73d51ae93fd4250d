// SPDX-License-Identifier: GPL-3.0-or-later
// Time and memory of the exchange log fed 1.3 million appends (a month of polling at a line every
// two seconds), in the window's size. A measurement run by bench/run-exchanges, not a test.
#include <QApplication>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <string>

#include "operator/Controls.h"

namespace {

long StatusKb(const char* field) {
  std::ifstream in("/proc/self/status");
  std::string line;
  while (std::getline(in, line)) {
    if (line.rfind(field, 0) == 0) return std::atol(line.c_str() + std::string(field).size());
  }
  return -1;
}

}  // namespace

int main(int argc, char** argv) {
  if (std::getenv("QT_QPA_PLATFORM") == nullptr) setenv("QT_QPA_PLATFORM", "offscreen", 1);
  QApplication app(argc, argv);
  const long appends = argc > 1 ? std::atol(argv[1]) : 1300000;
  tavex::ui::TLogMemo memo(nullptr);
  memo.resize(169, 465);
  memo.show();
  QApplication::processEvents();
  // What a read-back adds, the reply carrying a checksum-like control character now and then.
  const QString lines[] = {QStringLiteral("READ----"), QStringLiteral("R"), QStringLiteral("Часы1"),
                           QStringLiteral("120304 21o"),
                           QString::fromUtf8("120359 21o5533\n\x01"
                                             "745")};
  const long rssBefore = StatusKb("VmRSS:");
  const auto start = std::chrono::steady_clock::now();
  const std::clock_t cpuStart = std::clock();
  for (long i = 0; i < appends; ++i) {
    memo.Append(lines[i % 5]);
    // The window's loop runs between exchanges and repaints the log now and then.
    if (i % 1000 == 999) QApplication::processEvents();
  }
  const double cpu = static_cast<double>(std::clock() - cpuStart) / CLOCKS_PER_SEC;
  const double seconds =
      std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  std::printf("log appends: %ld in %.1f s (%.1f s CPU), %.1f us CPU per append\n", appends, seconds,
              cpu, cpu * 1e6 / static_cast<double>(appends));
  std::printf("log lines kept: %d; RSS %ld kB before, %ld kB after, peak %ld kB\n",
              memo.LineCount(), rssBefore, StatusKb("VmRSS:"), StatusKb("VmHWM:"));
  return 0;
}
