// SPDX-License-Identifier: GPL-3.0-or-later
// The exchange journal in a scratch folder, on a clock the test sets: one file a day, whole
// stamped lines, old days removed, and failures that cost lines but never the caller.
#include "platform/journal.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>
#include <thread>
#include <vector>

#include "support/scratch.h"

namespace tavex::platform {
namespace {

namespace fs = std::filesystem;
using test::ReadFile;
using test::ScopedEnv;
using test::ScratchDir;

class SetClock final : public WallClock {
 public:
  CivilTime now{2026, 12, 8, 9, 5, 7, 42};
  CivilTime LocalNow() const override { return now; }
  void SleepMs(int) override {}
};

CivilTime DaysBefore(CivilTime from, int back) {
  using namespace std::chrono;
  const year_month_day d{sys_days{year{from.year} / month{static_cast<unsigned>(from.month)} /
                                  day{static_cast<unsigned>(from.day)}} -
                         days{back}};
  return {static_cast<int>(d.year()), static_cast<int>(static_cast<unsigned>(d.month())),
          static_cast<int>(static_cast<unsigned>(d.day()))};
}

std::vector<std::string> Lines(const std::string& path) {
  std::vector<std::string> lines;
  std::istringstream in(ReadFile(path));
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::set<std::string> Names(const std::string& folder) {
  std::set<std::string> names;
  for (const auto& entry : fs::directory_iterator(folder)) {
    names.insert(entry.path().filename().string());
  }
  return names;
}

TEST(JournalText, StampsEachLineAndShowsControlCharactersAsSymbols) {
  struct Case {
    const char* name;
    CivilTime at;
    std::string text, line;
  };
  const Case cases[] = {
      {"plain", {2026, 12, 8, 9, 5, 7, 42}, "READ----", "2026-12-08 09:05:07.042 READ----\n"},
      {"Cyrillic stays", {2026, 1, 2, 23, 59, 59, 999}, "Часы1", "2026-01-02 23:59:59.999 Часы1\n"},
      {"line feed and NUL in a frame",
       {2026, 12, 8, 0, 0, 0, 0},
       std::string("clk\n\0e", 6),
       "2026-12-08 00:00:00.000 clk\u240A\u2400e\n"},
      {"DEL and tab",
       {2026, 12, 8, 0, 0, 0, 0},
       "a\x7F\tb",
       "2026-12-08 00:00:00.000 a\u2421\u2409b\n"},
      {"empty", {2026, 12, 8, 0, 0, 0, 0}, "", "2026-12-08 00:00:00.000 \n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(JournalLine(c.at, c.text), c.line);
  }
  EXPECT_EQ(JournalFileName({2026, 3, 1, 0, 0, 0, 0}), "tavex-2026-03-01.log");
}

TEST(JournalSettings, FolderAndDaysComeFromTheEnvironment) {
  struct Case {
    const char* name;
    const char *dir, *state, *home, *days;
    std::string folder;
    int keepDays;
    bool warned;
  };
  const Case cases[] = {
      {"default", "", "", "/home/op", "", "/home/op/.local/state/tavex", 30, false},
      {"XDG state home", "", "/var/state", "/home/op", "", "/var/state/tavex", 30, false},
      {"a relative XDG state home is ignored", "", "state", "/home/op", "",
       "/home/op/.local/state/tavex", 30, false},
      {"own folder first", "/srv/journal", "/var/state", "/home/op", "7", "/srv/journal", 7, false},
      {"0 days: no journal", "", "", "/home/op", "0", "", 0, false},
      {"days not a number", "", "", "/home/op", "7x", "/home/op/.local/state/tavex", 30, true},
      {"too many days", "", "", "/home/op", "99999", "/home/op/.local/state/tavex", 30, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ScopedEnv dir("TAVEX_JOURNAL_DIR", c.dir), state("XDG_STATE_HOME", c.state),
        home("HOME", c.home), days("TAVEX_JOURNAL_DAYS", c.days);
    bool warned = false;
    const JournalSettings s =
        JournalSettingsFromEnvironment([&warned](const std::string&) { warned = true; });
    EXPECT_EQ(s.folder, c.folder);
    EXPECT_EQ(s.keepDays, c.keepDays);
    EXPECT_EQ(warned, c.warned);
  }
}

class JournalTest : public ::testing::Test {
 protected:
  std::unique_ptr<Journal> Make(const std::string& folder, int days = 30) {
    return std::make_unique<Journal>(JournalSettings{folder, days}, clock_,
                                     [this](const std::string& line) { reports_.push_back(line); });
  }
  ScratchDir scratch_{"tavex-journal"};
  SetClock clock_;
  std::vector<std::string> reports_;
};

TEST_F(JournalTest, LinesGoToTheFileOfTheirDayInAFolderMadeOnDemand) {
  const std::string folder = scratch_ / "state/tavex";
  auto journal = Make(folder);
  journal->Append("READ----");
  journal->Append("R");
  clock_.now = {2026, 12, 8, 23, 59, 59, 999};
  journal->Append("Часы1");
  clock_.now = {2026, 12, 9, 0, 0, 0, 1};
  journal->Append("055421 21o");

  EXPECT_EQ(
      Lines(folder + "/tavex-2026-12-08.log"),
      (std::vector<std::string>{"2026-12-08 09:05:07.042 READ----", "2026-12-08 09:05:07.042 R",
                                "2026-12-08 23:59:59.999 Часы1"}));
  EXPECT_EQ(Lines(folder + "/tavex-2026-12-09.log"),
            (std::vector<std::string>{"2026-12-09 00:00:00.001 055421 21o"}));
  EXPECT_EQ(fs::status(folder).permissions() & fs::perms::all, fs::perms::owner_all);
  EXPECT_TRUE(reports_.empty());

  // Appended, never overwritten: a second program (or a restart) adds to the same file.
  Make(folder)->Append("again");
  EXPECT_EQ(Lines(folder + "/tavex-2026-12-09.log").size(), 2u);
}

TEST_F(JournalTest, KeepsTheLastDaysAndLeavesOtherFilesAlone) {
  const std::string folder = scratch_.Path();
  // Forty days of files before 8 December, one of a later day, and files not of the journal.
  for (int back = 1; back <= 40; ++back) {
    test::WriteFile(folder + "/" + JournalFileName(DaysBefore({2026, 12, 8}, back)), "old\n");
  }
  for (const char* other :
       {"tavex-2027-01-01.log", "notes.txt", "tavex-2026-01-01.log.gz", "tavex-20xx-01-01.log"}) {
    test::WriteFile(folder + "/" + other, "x\n");
  }
  Make(folder)->Append("line");
  const std::set<std::string> names = Names(folder);
  EXPECT_TRUE(names.count("tavex-2026-12-08.log"));   // today
  EXPECT_TRUE(names.count("tavex-2026-11-09.log"));   // 29 days before: the 30th day kept
  EXPECT_FALSE(names.count("tavex-2026-11-08.log"));  // 30 days before
  EXPECT_FALSE(names.count("tavex-2026-10-29.log"));  // 40 days before
  for (const char* other :
       {"tavex-2027-01-01.log", "notes.txt", "tavex-2026-01-01.log.gz", "tavex-20xx-01-01.log"}) {
    EXPECT_TRUE(names.count(other)) << other;
  }
  EXPECT_EQ(names.size(), 30u + 4u);

  // Fewer days kept, and the turn of a day prunes too.
  auto three = Make(folder, 3);
  three->Append("line");
  EXPECT_TRUE(Names(folder).count("tavex-2026-12-06.log"));
  clock_.now = {2026, 12, 9, 0, 0, 0, 0};
  three->Append("next day");
  const std::set<std::string> after = Names(folder);
  EXPECT_FALSE(after.count("tavex-2026-12-06.log"));
  EXPECT_TRUE(after.count("tavex-2026-12-07.log"));
  EXPECT_TRUE(after.count("tavex-2026-12-09.log"));
}

TEST_F(JournalTest, AFolderThatCannotBeMadeGivesOneReportAndTheJournalRecovers) {
  // A file where the folder should be: refused even to root.
  test::WriteFile(scratch_ / "blocked", "");
  const std::string folder = scratch_ / "blocked/tavex";
  auto journal = Make(folder);
  for (int i = 0; i < 100; ++i) journal->Append("lost");
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_NE(reports_[0].find(folder), std::string::npos);
  EXPECT_NE(reports_[0].find("Not a directory"), std::string::npos);

  fs::remove(scratch_ / "blocked");
  journal->Append("kept");
  EXPECT_EQ(Lines(folder + "/tavex-2026-12-08.log"),
            (std::vector<std::string>{"2026-12-08 09:05:07.042 kept"}));
  // A new failure after the recovery is reported again.
  fs::remove_all(scratch_ / "blocked");
  test::WriteFile(scratch_ / "blocked", "");
  clock_.now.day = 9;
  journal->Append("lost again");
  EXPECT_EQ(reports_.size(), 2u);
}

TEST_F(JournalTest, AFullDiskGivesOneReportAndAppendGoesOn) {
  if (::access("/dev/full", W_OK) != 0) GTEST_SKIP() << "no /dev/full";
  fs::create_symlink("/dev/full", scratch_ / "tavex-2026-12-08.log");
  auto journal = Make(scratch_.Path());
  for (int i = 0; i < 50; ++i) journal->Append("lost");
  ASSERT_EQ(reports_.size(), 1u);
  EXPECT_NE(reports_[0].find("No space left on device"), std::string::npos);
}

TEST_F(JournalTest, LinesOfTwoWritersAtOnceStayWhole) {
  const std::string folder = scratch_.Path();
  constexpr int kLines = 2000;
  const std::string a(300, 'a'), b(300, 'b');
  auto first = Make(folder);
  auto second = Make(folder);
  std::thread one([&] {
    for (int i = 0; i < kLines; ++i) first->Append(a);
  });
  std::thread two([&] {
    for (int i = 0; i < kLines; ++i) second->Append(b);
  });
  one.join();
  two.join();
  const std::vector<std::string> lines = Lines(folder + "/tavex-2026-12-08.log");
  ASSERT_EQ(lines.size(), 2u * kLines);
  for (const std::string& line : lines) {
    const std::string text = line.substr(24);
    ASSERT_TRUE(text == a || text == b) << line;
  }
}

TEST_F(JournalTest, NoFolderNoFiles) {
  auto journal = Make("");
  journal->Append("nothing");
  EXPECT_TRUE(fs::is_empty(scratch_.Path()));
  EXPECT_TRUE(reports_.empty());
}

}  // namespace
}  // namespace tavex::platform
