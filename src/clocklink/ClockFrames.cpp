// SPDX-License-Identifier: GPL-3.0-or-later
#include "clocklink/ClockFrames.h"

#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/catalog.h"
#include "platform/text_codec.h"

namespace tavex {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

// Days since 1970-01-01 of a proleptic Gregorian date (valid for any year, negative included).
std::int64_t DaysFromCivil(std::int64_t year, int month, int day) {
  year -= month <= 2 ? 1 : 0;
  const std::int64_t era = (year >= 0 ? year : year - 399) / 400;
  const std::int64_t yearOfEra = year - era * 400;
  const std::int64_t shiftedMonth = month > 2 ? month - 3 : month + 9;  // March = 0
  const std::int64_t dayOfYear = (153 * shiftedMonth + 2) / 5 + day - 1;
  const std::int64_t dayOfEra = yearOfEra * 365 + yearOfEra / 4 - yearOfEra / 100 + dayOfYear;
  return era * 146097 + dayOfEra - 719468;
}

struct CivilDate {
  std::int64_t year;
  int month;
  int day;
};

CivilDate CivilFromDays(std::int64_t days) {
  days += 719468;
  const std::int64_t era = (days >= 0 ? days : days - 146096) / 146097;
  const std::int64_t dayOfEra = days - era * 146097;
  const std::int64_t yearOfEra =
      (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
  const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
  const std::int64_t shiftedMonth = (5 * dayOfYear + 2) / 153;
  const int day = static_cast<int>(dayOfYear - (153 * shiftedMonth + 2) / 5 + 1);
  const int month = static_cast<int>(shiftedMonth < 10 ? shiftedMonth + 3 : shiftedMonth - 9);
  return {yearOfEra + era * 400 + (month <= 2 ? 1 : 0), month, day};
}

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  std::int64_t q = a / b;
  if ((a % b != 0) && ((a < 0) != (b < 0))) --q;
  return q;
}

void AppendTwoDigits(std::string& out, int value) {
  // Every field is written as exactly two digits, so a frame keeps its fixed length.
  const int v = ((value % 100) + 100) % 100;
  out.push_back(static_cast<char>('0' + v / 10));
  out.push_back(static_cast<char>('0' + v % 10));
}

std::string TimeDigits(const ClockInstant& t) {
  std::string s;
  AppendTwoDigits(s, t.hour);
  AppendTwoDigits(s, t.minute);
  AppendTwoDigits(s, t.second);
  return s;
}

std::string DateTimeDigits(const ClockInstant& t) {
  std::string s = TimeDigits(t);
  AppendTwoDigits(s, t.day);
  AppendTwoDigits(s, t.month);
  AppendTwoDigits(s, t.year);
  return s;
}

char SingleDigit(int value, const char* what) {
  if (value < 0 || value > 9) {
    throw std::out_of_range(std::string(what) + " must be a single digit 0-9, got " +
                            std::to_string(value));
  }
  return static_cast<char>('0' + value);
}

// Positions `first`..`first+count-1` (1-based) of a reply, as far as the reply reaches.
std::string ReplyPart(const std::string& reply, FieldSpan field) {
  if (reply.size() < field.first) return {};
  return reply.substr(field.first - 1, field.length);
}

constexpr char kDegreeSign = static_cast<char>(0xB0);  // Windows-1251

// The frames are built field after field; their positions follow one another.
static_assert(kFrameDateTime.first == kFrameAddress.End() + 1);
static_assert(kFrameDurations.first == kFrameDateTime.End() + 1);
static_assert(kFrameBrightness.first == kFrameDurations.End() + 1);
static_assert(kReplyTemperature.first == kReplyTime.End() + 1);
static_assert(kReplyDurations.first == kReplyTemperature.End() + 1);

}  // namespace

ClockInstant CorrectedInstant(const platform::CivilTime& now, int correctionHours) {
  const std::int64_t seconds = DaysFromCivil(now.year, now.month, now.day) * kSecondsPerDay +
                               std::int64_t{now.hour} * 3600 + std::int64_t{now.minute} * 60 +
                               now.second + std::int64_t{correctionHours} * 3600;
  const std::int64_t days = FloorDiv(seconds, kSecondsPerDay);
  const std::int64_t secondOfDay = seconds - days * kSecondsPerDay;
  const CivilDate date = CivilFromDays(days);
  ClockInstant t;
  t.year = static_cast<int>(date.year);
  t.month = date.month;
  t.day = date.day;
  t.hour = static_cast<int>(secondOfDay / 3600);
  t.minute = static_cast<int>(secondOfDay / 60 % 60);
  t.second = static_cast<int>(secondOfDay % 60);
  return t;
}

std::string ClockAddress(int clockNumber) {
  if (clockNumber < 1 || clockNumber > 4) {
    throw std::out_of_range("clock number must be 1-4, got " + std::to_string(clockNumber));
  }
  return std::string("clk00") + static_cast<char>('0' + clockNumber);
}

std::uint8_t FrameChecksum(const std::string& body) {
  unsigned sum = 0;
  for (char c : body) sum += static_cast<unsigned char>(c);
  return static_cast<std::uint8_t>(sum & 0xFFu);
}

ClockFrame BuildTimeFrame(const std::string& address, const ClockInstant& t) {
  ClockFrame frame = address + DateTimeDigits(t);
  frame.push_back(static_cast<char>(FrameChecksum(frame)));
  frame.push_back('e');
  return frame;
}

ClockFrame BuildConfigFrame(const ClockInstant& t, int timeDuration, int dateDuration,
                            int temperatureDuration, int pressureDuration, int brightness) {
  ClockFrame frame = ClockAddress(1) + DateTimeDigits(t);
  frame.push_back(SingleDigit(timeDuration, "time duration"));
  frame.push_back(SingleDigit(dateDuration, "date duration"));
  frame.push_back(SingleDigit(temperatureDuration, "temperature duration"));
  frame.push_back(SingleDigit(pressureDuration, "pressure duration"));
  frame.push_back(SingleDigit(brightness, "brightness"));
  frame.push_back(static_cast<char>(FrameChecksum(frame)));
  frame.push_back('e');
  return frame;
}

std::string ReplyCheckText(const ClockInstant& t, const std::string& reply) {
  return TimeDigits(t) + ReplyPart(reply, kReplyTemperature);
}

bool AcceptTimeReply(const ClockInstant& t, const TimeReply& reply) {
  return reply.size() == kTimeReplyLength &&
         reply.compare(kReplyTime.first - 1, kReplyTime.length, TimeDigits(t)) == 0;
}

bool AcceptStatusReply(const ClockInstant& t, const StatusReply& reply) {
  const FieldSpan f = kReplyHourMinute;
  return reply.size() >= f.End() &&
         reply.compare(f.first - 1, f.length, TimeDigits(t), f.first - 1, f.length) == 0;
}

std::string ClockTimeText(const ClockInstant& t) {
  std::string text;
  AppendTwoDigits(text, t.hour);
  if (text[0] == '0') text[0] = ' ';
  text.push_back(':');
  AppendTwoDigits(text, t.minute);
  return text;
}

// A reply shorter than its temperature field contributes only the characters it has: the label then
// shows fewer characters rather than invented ones.
std::string TemperatureText(const std::string& reply) {
  std::string field = ReplyPart(reply, kReplyTemperature);
  if (field == "6666") return kNoValueText;
  if (field.size() >= 4 && field[3] == 'o') field[3] = kDegreeSign;
  if (field.size() >= 3 && field[2] == 'o') field[2] = kDegreeSign;
  const char sign = !field.empty() && field[0] == '-' ? ' ' : '+';
  return sign + field;
}

std::string PressureText(const std::string& reply) {
  return ReplyPart(reply, kReplyPressure);
}

// A position past the end of a short reply holds no character: it does not read as a number, and
// the error names the empty text, ''.
int DurationDigit(const StatusReply& reply, int position) {
  if (position < 1) throw std::out_of_range("reply position must be 1 or more");
  const auto index = static_cast<std::size_t>(position - 1);
  const std::string character = index < reply.size() ? reply.substr(index, 1) : std::string();
  if (character.size() == 1 && character[0] >= '0' && character[0] <= '9') {
    return character[0] - '0';
  }
  // In the operator's language (text domain "default"), the character as UTF-8 like the rest.
  std::string text = platform::Translate("default", kBadDigitText);
  const auto at = text.find("%s");
  if (at != std::string::npos) text.replace(at, 2, platform::Cp1251ToUtf8(character));
  throw EConvertError(text);
}

bool HasDurationDigits(const StatusReply& reply) {
  if (reply.size() != kStatusReplyLength) return false;
  for (std::size_t p = kReplyDurations.first; p <= kReplyDurations.End(); ++p) {
    if (reply[p - 1] < '0' || reply[p - 1] > '9') return false;
  }
  return true;
}

std::string EchoOf(const std::string& lineImage, bool nulsDropped) {
  std::string echo = lineImage;
  if (nulsDropped) std::erase(echo, '\0');
  return echo;
}

std::string WithoutEcho(const std::string& received, const std::string& echo) {
  if (echo.empty() || !received.starts_with(echo)) return received;
  return received.substr(echo.size());
}

}  // namespace tavex
