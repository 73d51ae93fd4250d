#include <algorithm>
#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include "clocksim/clock_sim.h"
#include "clocksim/event_log.h"

namespace tavex::clocksim {
namespace {

std::int64_t CivilSeconds(int year, int month, int day, int hour, int minute, int second) {
  tm fields{};
  fields.tm_year = year - 1900;
  fields.tm_mon = month - 1;
  fields.tm_mday = day;
  fields.tm_hour = hour;
  fields.tm_min = minute;
  fields.tm_sec = second;
  // timegm reads the fields as civil time without a zone: no daylight-saving jumps.
  return static_cast<std::int64_t>(timegm(&fields));
}

// hh nn ss of a civil time given as seconds.
std::string TimeDigits(std::int64_t seconds) {
  const auto t = static_cast<time_t>(seconds);
  tm fields{};
  gmtime_r(&t, &fields);
  char text[8];
  std::snprintf(text, sizeof text, "%02d%02d%02d", fields.tm_hour, fields.tm_min, fields.tm_sec);
  return text;
}

int Digit(char c) {
  return c - '0';
}

const Fault* Find(const std::vector<Fault>& faults, FaultKind kind) {
  // The last one given wins, so a control file can override the command line.
  const auto it = std::find_if(faults.rbegin(), faults.rend(),
                               [kind](const Fault& f) { return f.kind == kind; });
  return it == faults.rend() ? nullptr : &*it;
}

int ArgOr(const Fault* fault, int fallback) {
  return fault != nullptr && fault->arg >= 0 ? fault->arg : fallback;
}

}  // namespace

Simulator::Simulator(Options options, platform::WallClock& wallClock)
    : options_(std::move(options)),
      wallClock_(wallClock),
      reader_(options_.resyncGap),
      offset_(options_.offsetSeconds),
      durations_(options_.durations),
      brightness_(options_.brightness) {
  if (!options_.logFile.empty()) {
    log_ = std::make_unique<EventLog>();
    if (int error = log_->Open(options_.logFile); error != 0) {
      throw std::runtime_error("cannot open log file " + options_.logFile + ": " +
                               std::to_string(error));
    }
  }
  ReloadControlFile();
}

Simulator::~Simulator() = default;

std::string Simulator::SummaryLine() const {
  return std::to_string(counts_.frames) + " frames, " + std::to_string(counts_.badFrames) +
         " bad frames, " + std::to_string(counts_.replies) + " replies, " +
         std::to_string(counts_.bytesIn) + " bytes in, " + std::to_string(counts_.bytesOut) +
         " bytes out";
}

void Simulator::LogEvent(const std::string& name, const std::string& detail) {
  if (log_) log_->Event(SteadyClock::now(), name, detail);
}

std::int64_t Simulator::LocalSeconds() const {
  const platform::CivilTime now = wallClock_.LocalNow();
  return CivilSeconds(now.year, now.month, now.day, now.hour, now.minute, now.second);
}

// The time a sound frame carries. The year has two digits: take the one nearest to today.
std::int64_t Simulator::FrameSeconds(const std::string& f) const {
  const auto two = [&f](std::size_t i) { return Digit(f[i]) * 10 + Digit(f[i + 1]); };
  const int thisYear = wallClock_.LocalNow().year;
  int year = thisYear - thisYear % 100 + two(16);
  if (year > thisYear + 50) year -= 100;
  if (year < thisYear - 50) year += 100;
  return CivilSeconds(year, two(14), two(12), two(6), two(8), two(10));
}

std::vector<Fault> Simulator::ActiveFaults(int clock) const {
  std::vector<Fault> active;
  for (const auto* list : {&options_.faults, &fileFaults_}) {
    std::copy_if(list->begin(), list->end(), std::back_inserter(active),
                 [clock](const Fault& f) { return f.clock == clock; });
  }
  return active;
}

void Simulator::ReloadControlFile() {
  if (options_.controlFile.empty()) return;
  std::error_code error;
  const auto written = std::filesystem::last_write_time(options_.controlFile, error);
  const auto size = error ? 0 : std::filesystem::file_size(options_.controlFile, error);
  if (error) {
    if (controlStamp_) LogEvent("control", "file removed: no faults from it");
    controlStamp_.reset();
    fileFaults_.clear();
    return;
  }
  const std::pair<std::int64_t, std::int64_t> stamp{
      static_cast<std::int64_t>(written.time_since_epoch().count()),
      static_cast<std::int64_t>(size)};
  if (controlStamp_ == stamp) return;
  controlStamp_ = stamp;
  std::ifstream in(options_.controlFile, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  try {
    fileFaults_ = ParseFaultList(text.str());
    LogEvent("control", "loaded " + std::to_string(fileFaults_.size()) + " faults");
  } catch (const std::invalid_argument& e) {
    // A half-written or mistyped file keeps the faults that were in force.
    LogEvent("control", std::string("ignored: ") + e.what());
    std::fprintf(stderr, "tavex-clocksim: control file %s: %s\n", options_.controlFile.c_str(),
                 e.what());
  }
}

void Simulator::Handle(const ReceivedFrame& frame, SteadyTime at) {
  if (log_) log_->Frame(at, frame);
  if (!frame.Ok()) {
    ++counts_.badFrames;
    return;
  }
  ++counts_.frames;
  ReloadControlFile();
  Answer(frame.clock, frame, at);
}

void Simulator::Answer(int clock, const ReceivedFrame& frame, SteadyTime at) {
  const auto index = static_cast<std::size_t>(clock - 1);
  const std::uint64_t count = ++framesPerClock_[index];
  const std::vector<Fault> faults = ActiveFaults(clock);
  const auto fault = [&faults](FaultKind kind) { return Find(faults, kind); };

  // A sound frame sets the clock; a configuration frame also sets what clock 1 shows.
  if (frame.kind != FrameKind::ReadRequest) {
    offset_[index] = FrameSeconds(frame.bytes) - LocalSeconds();
  }
  if (frame.kind == FrameKind::Config) {
    for (std::size_t i = 0; i < 4; ++i) durations_[i] = Digit(frame.bytes[18 + i]);
    brightness_ = Digit(frame.bytes[22]);
  }

  if (const Fault* f = fault(FaultKind::HangUp);
      f != nullptr && count == static_cast<std::uint64_t>(ArgOr(f, 1))) {
    LogEvent("hangup", "clock " + std::to_string(clock) + ", frame " + std::to_string(count));
    hangUpNow_ = true;
    return;
  }
  if (fault(FaultKind::Silent) != nullptr) {
    LogEvent("silent", "clock " + std::to_string(clock));
    return;
  }

  std::string applied;
  const auto note = [&applied](const char* name) {
    if (!applied.empty()) applied += ',';
    applied += name;
  };

  std::int64_t seconds =
      frame.kind == FrameKind::Time ? FrameSeconds(frame.bytes) : LocalSeconds() + offset_[index];
  if (fault(FaultKind::WrongMinute) != nullptr) {
    seconds -= 60;
    note("wrong-minute");
  }
  std::string reply = TimeDigits(seconds);

  std::string temperature = options_.temperature[index];
  if (const Fault* f = fault(FaultKind::BelowZero)) {
    char field[8];
    std::snprintf(field, sizeof field, "-%2do", ArgOr(f, 12) % 100);
    temperature = field;
    note("below-zero");
  }
  if (fault(FaultKind::DegreeLetters) != nullptr) {
    temperature.resize(4, ' ');
    temperature[2] = temperature[3] = 'o';
    note("degree-letters");
  }
  if (fault(FaultKind::NoTemperature) != nullptr) {
    temperature = "6666";
    note("no-temperature");
  }
  reply += temperature;

  const bool status = frame.kind != FrameKind::Time;
  if (status) {
    for (int d : durations_) reply.push_back(static_cast<char>('0' + d));
    reply.push_back(static_cast<char>('0' + brightness_));
    reply.push_back('0');
    reply += options_.pressure;
    if (const Fault* f = fault(FaultKind::BadDigit)) {
      const auto position = static_cast<std::size_t>(ArgOr(f, 11));
      if (position <= reply.size()) reply[position - 1] = 'x';
      note("bad-digit");
    }
  }
  if (const Fault* f = fault(FaultKind::Drift);
      f != nullptr && count == static_cast<std::uint64_t>(ArgOr(f, 1))) {
    // Takes effect from the next answer on, as if someone had pressed the clock's buttons.
    for (int& d : durations_) d = (d + 1) % 10;
    LogEvent("drift", "clock " + std::to_string(clock) + " durations changed");
  }
  if (const Fault* f = fault(FaultKind::NulBytes)) {
    const auto first = std::min<std::size_t>(6, reply.size());
    const auto n = std::min(static_cast<std::size_t>(ArgOr(f, 1)), reply.size() - first);
    std::fill_n(reply.begin() + static_cast<std::ptrdiff_t>(first), n, '\0');
    note("nul");
  }
  if (const Fault* f = fault(FaultKind::Truncate)) {
    const int keep = ArgOr(f, static_cast<int>(reply.size()) - 1);
    reply.resize(std::min(reply.size(), static_cast<std::size_t>(std::max(keep, 0))));
    note("truncate");
  }
  if (const Fault* f = fault(FaultKind::Noise)) {
    std::string noise;
    for (int i = 0; i < ArgOr(f, 3); ++i) {
      // xorshift32: varied bytes, never 0x00 (the receiving port would drop those unseen).
      noiseState_ ^= noiseState_ << 13;
      noiseState_ ^= noiseState_ >> 17;
      noiseState_ ^= noiseState_ << 5;
      noise.push_back(static_cast<char>(1 + noiseState_ % 255));
    }
    reply = noise + reply;
    note("noise");
  }

  std::chrono::nanoseconds delay = options_.answerDelay;
  if (const Fault* f = fault(FaultKind::Late)) {
    delay = std::chrono::milliseconds(ArgOr(f, 0));
    note("late");
  }
  if (log_) log_->Reply(at, clock, reply, applied);
  outgoing_.push_back(Pending{std::move(reply), at + delay, clock});
}

}  // namespace tavex::clocksim
