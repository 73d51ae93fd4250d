// SPDX-License-Identifier: GPL-3.0-or-later
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
#include "clocksim/frame_layout.h"

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

int ArgOr(const Fault* fault, int fallback) {
  return fault != nullptr && fault->arg >= 0 ? fault->arg : fallback;
}

// The faults in force for one answer, and the names of those applied to it, for the log.
class AnswerFaults {
 public:
  explicit AnswerFaults(std::vector<Fault> faults) : faults_(std::move(faults)) {}

  // The fault of this kind, if any. The last one given wins, so a control file can override the
  // command line.
  const Fault* Find(FaultKind kind) const {
    const auto it = std::find_if(faults_.rbegin(), faults_.rend(),
                                 [kind](const Fault& f) { return f.kind == kind; });
    return it == faults_.rend() ? nullptr : &*it;
  }
  // As Find, and a fault found is noted as applied under `name`.
  const Fault* Apply(FaultKind kind, const char* name) {
    const Fault* fault = Find(kind);
    if (fault != nullptr) {
      if (!applied_.empty()) applied_ += ',';
      applied_ += name;
    }
    return fault;
  }
  // Whether a fault that fires on one frame fires on the `count`th.
  bool FiresOn(FaultKind kind, std::uint64_t count) const {
    const Fault* fault = Find(kind);
    return fault != nullptr && count == static_cast<std::uint64_t>(ArgOr(fault, 1));
  }
  const std::string& Applied() const { return applied_; }

 private:
  std::vector<Fault> faults_;
  std::string applied_;
};

// The reply's temperature field: the clock's own, or what the faults make of it.
std::string TemperatureField(std::string temperature, AnswerFaults& faults) {
  if (const Fault* f = faults.Apply(FaultKind::BelowZero, "below-zero")) {
    char field[8];
    std::snprintf(field, sizeof field, "-%2do", ArgOr(f, 12) % 100);
    temperature = field;
  }
  if (faults.Apply(FaultKind::DegreeLetters, "degree-letters") != nullptr) {
    temperature.resize(layout::kReplyTemperatureLength, ' ');
    temperature[2] = temperature[3] = 'o';
  }
  if (faults.Apply(FaultKind::NoTemperature, "no-temperature") != nullptr) temperature = "6666";
  return temperature;
}

// The rest of a status reply: durations, brightness, a '0' and the pressure.
void AppendStatus(std::string& reply, const std::array<int, 4>& durations, int brightness,
                  const std::string& pressure, AnswerFaults& faults) {
  for (int d : durations) reply.push_back(static_cast<char>('0' + d));
  reply.push_back(static_cast<char>('0' + brightness));
  reply.push_back('0');
  reply += pressure;
  if (const Fault* f = faults.Apply(FaultKind::BadDigit, "bad-digit")) {
    // The argument counts from 1, as the clock's manual numbers the reply's characters.
    const auto position =
        static_cast<std::size_t>(ArgOr(f, static_cast<int>(layout::kReplyDurations)));
    if (position <= reply.size()) reply[position - 1] = 'x';
  }
}

// 0x00 bytes inside the reply, then a reply cut short.
void Damage(std::string& reply, AnswerFaults& faults) {
  if (const Fault* f = faults.Apply(FaultKind::NulBytes, "nul")) {
    // From the temperature's first character on (an index here: its position less one).
    const auto first = std::min<std::size_t>(layout::kReplyTemperature - 1, reply.size());
    const auto n = std::min(static_cast<std::size_t>(ArgOr(f, 1)), reply.size() - first);
    std::fill_n(reply.begin() + static_cast<std::ptrdiff_t>(first), n, '\0');
  }
  if (const Fault* f = faults.Apply(FaultKind::Truncate, "truncate")) {
    const int keep = ArgOr(f, static_cast<int>(reply.size()) - 1);
    reply.resize(std::min(reply.size(), static_cast<std::size_t>(std::max(keep, 0))));
  }
}

// `count` varied bytes from an xorshift32 generator, never 0x00 (the receiving port would drop
// those unseen).
std::string NoiseBytes(int count, std::uint32_t& state) {
  std::string noise;
  for (int i = 0; i < count; ++i) {
    state ^= state << 13;
    state ^= state >> 17;
    state ^= state << 5;
    noise.push_back(static_cast<char>(1 + state % 255));
  }
  return noise;
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
         " bytes out" +
         (options_.echo ? " (" + std::to_string(counts_.echoed) + " of them echoed)" : "");
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
  using namespace layout;
  const auto two = [&f](std::size_t p) { return Digit(At(f, p)) * 10 + Digit(At(f, p + 1)); };
  const int thisYear = wallClock_.LocalNow().year;
  int year = thisYear - thisYear % 100 + two(kYear);
  if (year > thisYear + 50) year -= 100;
  if (year < thisYear - 50) year += 100;
  return CivilSeconds(year, two(kMonth), two(kDay), two(kHour), two(kMinute), two(kSecond));
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
  AnswerFaults faults(ActiveFaults(clock));
  TakeSettings(index, frame);

  if (faults.FiresOn(FaultKind::HangUp, count)) {
    LogEvent("hangup", "clock " + std::to_string(clock) + ", frame " + std::to_string(count));
    hangUpNow_ = true;
    return;
  }
  if (faults.Find(FaultKind::Silent) != nullptr) {
    LogEvent("silent", "clock " + std::to_string(clock));
    return;
  }

  std::int64_t seconds =
      frame.kind == FrameKind::Time ? FrameSeconds(frame.bytes) : LocalSeconds() + offset_[index];
  if (faults.Apply(FaultKind::WrongMinute, "wrong-minute") != nullptr) seconds -= 60;
  std::string reply = TimeDigits(seconds);
  reply += TemperatureField(options_.temperature[index], faults);
  if (frame.kind != FrameKind::Time) {
    AppendStatus(reply, durations_, brightness_, options_.pressure, faults);
  }
  if (faults.FiresOn(FaultKind::Drift, count)) {
    // Takes effect from the next answer on, as if someone had pressed the clock's buttons.
    for (int& d : durations_) d = (d + 1) % 10;
    LogEvent("drift", "clock " + std::to_string(clock) + " durations changed");
  }
  Damage(reply, faults);
  if (const Fault* f = faults.Apply(FaultKind::Noise, "noise")) {
    reply = NoiseBytes(ArgOr(f, 3), noiseState_) + reply;
  }

  std::chrono::nanoseconds delay = options_.answerDelay;
  if (const Fault* f = faults.Apply(FaultKind::Late, "late"))
    delay = std::chrono::milliseconds(ArgOr(f, 0));
  if (log_) log_->Reply(at, clock, reply, faults.Applied());
  outgoing_.push_back(Pending{std::move(reply), at + delay, clock});
}

// A sound frame sets the clock; a configuration frame also sets what clock 1 shows.
void Simulator::TakeSettings(std::size_t index, const ReceivedFrame& frame) {
  if (frame.kind != FrameKind::ReadRequest) {
    offset_[index] = FrameSeconds(frame.bytes) - LocalSeconds();
  }
  if (frame.kind == FrameKind::Config) {
    for (std::size_t i = 0; i < layout::kDurationCount; ++i) {
      durations_[i] = Digit(layout::At(frame.bytes, layout::kDurations + i));
    }
    brightness_ = Digit(layout::At(frame.bytes, layout::kBrightness));
  }
}

}  // namespace tavex::clocksim
