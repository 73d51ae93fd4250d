// SPDX-License-Identifier: GPL-3.0-or-later
// Repeats of an error on standard error: the rule on times the test gives, then the error
// handler itself while a box is open; what the journal learns of an error.
#include <gtest/gtest.h>

#include <QApplication>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

#include "operator/ErrorHandler.h"
#include "operator/RepeatFilter.h"
#include "serial/ComPort.h"
#include "support.h"
#include "support/scratch.h"

namespace tavex::ui {
namespace {

using Lines = std::vector<std::string>;

TEST(RepeatFilter, PrintsTheFirstAndSummarisesRepeatsEveryPeriodAndOnAChange) {
  struct Step {
    std::int64_t atMs;
    const char* text;  // nullptr: the summary due at this time
    Lines printed;
  };
  struct Case {
    const char* name;
    std::vector<Step> steps;
    Lines atEnd;
  };
  const Case cases[] = {
      {"one error", {{0, "A", {"A"}}}, {}},
      {"repeats within the period are counted",
       {{0, "A", {"A"}}, {100, "A", {}}, {200, "A", {}}, {9999, nullptr, {}}},
       {"… repeated 2 times"}},
      {"the period over: one summary, then counting again",
       {{0, "A", {"A"}},
        {100, "A", {}},
        {10000, "A", {"… repeated 2 times"}},
        {10100, "A", {}},
        {15000, nullptr, {}},
        {20000, nullptr, {"… repeated 1 time"}},
        {20001, nullptr, {}}},
       {}},
      {"another text: the summary first, then the text at once",
       {{0, "A", {"A"}}, {100, "A", {}}, {200, "B", {"… repeated 1 time", "B"}}, {300, "A", {"A"}}},
       {}},
      {"no repeats: no summary when the text changes",
       {{0, "A", {"A"}}, {10, "B", {"B"}}, {20000, nullptr, {}}},
       {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    RepeatFilter filter;
    for (const Step& step : c.steps) {
      SCOPED_TRACE(step.atMs);
      EXPECT_EQ(step.text ? filter.Add(step.text, step.atMs) : filter.Due(step.atMs), step.printed);
    }
    EXPECT_EQ(filter.Flush(), c.atEnd);
  }
}

TEST(RepeatFilter, AHundredFailuresInTenSecondsGiveAHandfulOfLines) {
  RepeatFilter filter;
  Lines printed;
  for (std::int64_t t = 0; t < 10000; t += 100) {
    for (const std::string& line : filter.Add("Failed to load settings.", t))
      printed.push_back(line);
  }
  for (const std::string& line : filter.Flush()) printed.push_back(line);
  EXPECT_EQ(printed, (Lines{"Failed to load settings.", "… repeated 99 times"}));
}

TEST(ErrorHandler, ErrorsWhileABoxIsOpenAreSummarisedOnStandardError) {
  test::App();
  test::MessageBoxCatcher catcher;
  ::testing::internal::CaptureStderr();
  ShowError(QStringLiteral("Failed to load settings"));  // the box; it opens from the loop
  for (int i = 0; i < 100; ++i) ShowError(QStringLiteral("Failed to load settings"));
  ShowError(QStringLiteral("Registry error"));
  test::Pump(200);
  // Qt's own remarks may come in between.
  std::istringstream err(::testing::internal::GetCapturedStderr());
  Lines ours;
  for (std::string line; std::getline(err, line);) {
    if (line.rfind("tavex: ", 0) == 0) ours.push_back(line);
  }
  EXPECT_EQ(ours, (Lines{"tavex: Failed to load settings.", "tavex: … repeated 99 times",
                         "tavex: Registry error."}));
  ASSERT_EQ(catcher.boxes.size(), 1u);
  EXPECT_EQ(catcher.boxes[0].text.toStdString(), "Failed to load settings.");
}

// The box keeps the port's own text; the journal also learns what failed in the store and the
// system's code of it.
TEST(ErrorHandler, TheJournalGetsAStoreFailureWithItsCause) {
  test::App();
  test::MessageBoxCatcher catcher;
  test::ScratchRegistry registry{"tavex-error-journal"};
  std::filesystem::create_directories(registry.Dir());
  test::WriteFile(registry.Dir() + "/HKEY_LOCAL_MACHINE.reg",
                  "Windows Registry Editor Version 5.00\r\n\r\n"
                  "[HKEY_LOCAL_MACHINE\\Software\\TAVEX\\ComPort]\r\n"
                  "\"BaudRate\"=\"Custom\"\r\n");
  Lines journal;
  SetErrorJournal([&journal](const std::string& line) { journal.push_back(line); });
  TComPort port;
  Guarded([&] { port.RestoreSettings(ssRegistry, "HKEY_LOCAL_MACHINE\\Software\\TAVEX"); });
  test::Pump(100);
  SetErrorJournal({});
  EXPECT_EQ(journal, (Lines{"Error: Failed to load settings: cannot read value "
                            "\"CustomBaudRate\" (registry result 2)"}));
  ASSERT_EQ(catcher.boxes.size(), 1u);
  // The box: the port's text, what the system reports and the file concerned.
  EXPECT_EQ(catcher.boxes[0].text.toStdString(),
            "Failed to load settings.\nThe system reports: The registry key or value does not "
            "exist.\nFile: " +
                registry.Dir() + "/HKEY_LOCAL_MACHINE.reg");
}

}  // namespace
}  // namespace tavex::ui
