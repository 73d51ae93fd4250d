// SPDX-License-Identifier: GPL-3.0-or-later
#include "platform/journal.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/journal_files.h"

namespace tavex::platform {
namespace {

constexpr std::string_view kFilePrefix = "tavex-";
constexpr std::string_view kFileSuffix = ".log";
constexpr int kMostDays = 3650;

std::string Env(const char* name) {
  const char* value = std::getenv(name);
  return value != nullptr ? value : "";
}

std::string DateText(int year, int month, int day) {
  char text[16];
  std::snprintf(text, sizeof text, "%04d-%02d-%02d", year, month, day);
  return text;
}

// The name of the day `back` days before `today`.
std::string FileNameDaysBefore(const CivilTime& today, int back) {
  using namespace std::chrono;
  const sys_days then = sys_days{year{today.year} / month{static_cast<unsigned>(today.month)} /
                                 day{static_cast<unsigned>(today.day)}} -
                        days{back};
  const year_month_day ymd{then};
  return std::string(kFilePrefix) +
         DateText(static_cast<int>(ymd.year()),
                  static_cast<int>(static_cast<unsigned>(ymd.month())),
                  static_cast<int>(static_cast<unsigned>(ymd.day()))) +
         std::string(kFileSuffix);
}

// "tavex-YYYY-MM-DD.log", digits where the date goes: one of ours, and its date sorts as text.
bool IsJournalFileName(const std::string& name) {
  const std::string_view pattern = "tavex-dddd-dd-dd.log";
  if (name.size() != pattern.size()) return false;
  for (std::size_t i = 0; i < name.size(); ++i) {
    const bool digit = name[i] >= '0' && name[i] <= '9';
    if (pattern[i] == 'd' ? !digit : name[i] != pattern[i]) return false;
  }
  return true;
}

void ToStandardError(const std::string& line) {
  std::fprintf(stderr, "%s\n", line.c_str());
}

}  // namespace

JournalSettings JournalSettingsFromEnvironment(
    const std::function<void(const std::string&)>& warn) {
  JournalSettings settings;
  if (std::string dir = Env("TAVEX_JOURNAL_DIR"); !dir.empty()) {
    settings.folder = dir;
  } else if (std::string state = Env("XDG_STATE_HOME"); !state.empty() && state[0] == '/') {
    settings.folder = state + "/tavex";
  } else if (std::string home = Env("HOME"); !home.empty()) {
    settings.folder = home + "/.local/state/tavex";
  }
  if (const std::string days = Env("TAVEX_JOURNAL_DAYS"); !days.empty()) {
    char* end = nullptr;
    const long value = std::strtol(days.c_str(), &end, 10);
    if (*end == '\0' && value >= 0 && value <= kMostDays) {
      settings.keepDays = static_cast<int>(value);
    } else {
      const std::string text = "tavex: journal: TAVEX_JOURNAL_DAYS=" + days +
                               " is not a number of days from 0 to " + std::to_string(kMostDays) +
                               "; keeping " + std::to_string(settings.keepDays);
      if (warn) {
        warn(text);
      } else {
        ToStandardError(text);
      }
    }
  }
  if (settings.keepDays == 0) settings.folder.clear();
  return settings;
}

std::string JournalFileName(const CivilTime& day) {
  return FileNameDaysBefore(day, 0);
}

std::string JournalLine(const CivilTime& at, std::string_view text) {
  char stamp[32];
  std::snprintf(stamp, sizeof stamp, "%s %02d:%02d:%02d.%03d ",
                DateText(at.year, at.month, at.day).c_str(), at.hour, at.minute, at.second,
                at.millisecond);
  std::string line = stamp;
  for (const char c : text) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte == 0x7F) {
      // U+2400 + the code, U+2421 for DEL: three bytes of UTF-8.
      const unsigned picture = byte == 0x7F ? 0x2421 : 0x2400 + byte;
      line += static_cast<char>(0xE0 | (picture >> 12));
      line += static_cast<char>(0x80 | ((picture >> 6) & 0x3F));
      line += static_cast<char>(0x80 | (picture & 0x3F));
    } else {
      line += c;
    }
  }
  line += '\n';
  return line;
}

Journal::Journal(JournalSettings settings, WallClock& clock, Report report)
    : settings_(std::move(settings)),
      clock_(clock),
      report_(report ? std::move(report) : Report(ToStandardError)) {}

Journal::~Journal() = default;

void Journal::Append(std::string_view text) noexcept {
  if (settings_.folder.empty()) return;
  try {
    const CivilTime now = clock_.LocalNow();
    if (!OpenDay(now)) return;
    const std::string path = settings_.folder + "/" + openName_;
    if (const int error = journal_files::AppendWhole(file_, JournalLine(now, text)); error != 0) {
      Fail("cannot write to " + path, error);
      return;
    }
    failing_ = false;
  } catch (...) {
    // Out of memory while formatting: the line is lost, the caller goes on.
  }
}

// Opens the day's file when the day is new (removing the files of days no longer kept), or again
// after a failure to open it.
bool Journal::OpenDay(const CivilTime& now) {
  const std::string name = JournalFileName(now);
  if (file_ && name == openName_) return true;
  file_.Reset();
  openName_ = name;
  if (const int error = journal_files::MakeFolders(settings_.folder); error != 0) {
    Fail("cannot make the folder " + settings_.folder, error);
    return false;
  }
  const std::string path = settings_.folder + "/" + name;
  if (const int error = journal_files::OpenForAppend(path, file_); error != 0) {
    Fail("cannot open " + path, error);
    return false;
  }
  RemoveOldFiles(now);
  return true;
}

void Journal::RemoveOldFiles(const CivilTime& today) {
  const std::string oldestKept = FileNameDaysBefore(today, settings_.keepDays - 1);
  std::vector<std::string> names;
  if (journal_files::ListNames(settings_.folder, names) != 0) return;
  for (const std::string& name : names) {
    // The date in the name sorts as text; a file of a later date (the clock was set back) stays.
    if (IsJournalFileName(name) && name < oldestKept) {
      journal_files::RemoveFile(settings_.folder + "/" + name);
    }
  }
}

void Journal::Fail(const std::string& what, int error) {
  if (failing_) return;
  failing_ = true;
  report_("tavex: journal: " + what + ": " + journal_files::ErrorText(error) +
          "; log lines are not kept on disk until it can be written");
}

}  // namespace tavex::platform
