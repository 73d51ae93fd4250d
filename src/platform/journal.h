// SPDX-License-Identifier: GPL-3.0-or-later
// The exchange journal: every line of the window's log, with its local date and time, appended
// to one file a day in a folder of its own; the files of the last days are kept, older ones
// removed. Writing never throws and never stops the caller: a folder that cannot be written or a
// full disk costs the journal its lines and gives one line on standard error.
#pragma once

#include <functional>
#include <string>
#include <string_view>

#include "platform/unique_fd.h"
#include "platform/wall_clock.h"

namespace tavex::platform {

struct JournalSettings {
  std::string folder;  // empty: no journal
  int keepDays = 30;   // today and the days before it
};

inline constexpr int kJournalDefaultDays = 30;

// TAVEX_JOURNAL_DIR names the folder, else $XDG_STATE_HOME/tavex, else ~/.local/state/tavex;
// TAVEX_JOURNAL_DAYS the days kept (0 turns the journal off). `warn` hears of a value that
// cannot be used (by default, standard error).
JournalSettings JournalSettingsFromEnvironment(
    const std::function<void(const std::string&)>& warn = {});

// The file of one day's lines: "tavex-YYYY-MM-DD.log".
std::string JournalFileName(const CivilTime& day);

// A line as the journal stores it: "YYYY-MM-DD hh:mm:ss.mmm " and the text, its control
// characters shown as the symbols for them (a checksum byte may be a line feed), and a line end.
std::string JournalLine(const CivilTime& at, std::string_view text);

class Journal {
 public:
  using Report = std::function<void(const std::string&)>;
  // `report` gets the one line about a failure (by default it goes to standard error).
  Journal(JournalSettings settings, WallClock& clock, Report report = {});
  ~Journal();
  Journal(const Journal&) = delete;
  Journal& operator=(const Journal&) = delete;

  // Appends one line (UTF-8) in one write, so that lines stay whole even when two programs share
  // the folder.
  void Append(std::string_view text) noexcept;
  const JournalSettings& Settings() const { return settings_; }

 private:
  bool OpenDay(const CivilTime& now);
  void RemoveOldFiles(const CivilTime& today);
  void Fail(const std::string& what, int error);

  JournalSettings settings_;
  WallClock& clock_;
  Report report_;
  UniqueFd file_;
  std::string openName_;  // the day's file that file_ is
  bool failing_ = false;  // reported, not yet written again
};

}  // namespace tavex::platform
