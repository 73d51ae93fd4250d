// The bytes the program puts on the clock line and the judgement of the clocks' replies: pure
// functions over byte strings (a checksum byte may be 0x00, a line feed or "e").
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>

#include "platform/wall_clock.h"

namespace tavex {

// The instant T of an exchange: six two-digit fields, the fraction of a second dropped.
struct ClockInstant {
  int year = 2000;  // full year; yy is year % 100
  int month = 1;
  int day = 1;
  int hour = 0;
  int minute = 0;
  int second = 0;
  friend bool operator==(const ClockInstant&, const ClockInstant&) = default;
};

// The local civil time plus a correction in whole hours, on the civil date and time (crosses
// midnight, month ends and years).
ClockInstant CorrectedInstant(const platform::CivilTime& now, int correctionHours);

using ClockFrame = std::string;
using TimeReply = std::string;
using StatusReply = std::string;

inline const std::string kReadRequest = "R";
inline const std::string kTimeFallbackReply = "1234567890";
inline const std::string kStatusFallbackReply = "999999999999999999999";  // 21 nines
inline const std::string kNoTimeText = "--:--";
inline const std::string kNoValueText = "-----";

std::string ClockAddress(int clockNumber);  // "clk001" .. "clk004"
std::uint8_t FrameChecksum(const std::string& body);
ClockFrame BuildTimeFrame(const std::string& address, const ClockInstant& t);
ClockFrame BuildConfigFrame(const ClockInstant& t, int timeDuration, int dateDuration,
                            int temperatureDuration, int pressureDuration, int brightness);
std::string ReplyCheckText(const ClockInstant& t, const std::string& reply);
bool AcceptTimeReply(const ClockInstant& t, const TimeReply& reply);
bool AcceptStatusReply(const ClockInstant& t, const StatusReply& reply);
std::string ClockTimeText(const ClockInstant& t);     // Windows-1251 bytes
std::string TemperatureText(const std::string& reply);  // Windows-1251 bytes (0xB0 degree)
std::string PressureText(const std::string& reply);
// The digit at `position` (11..14) of a status reply; throws EConvertError for a non-digit.
int DurationDigit(const StatusReply& reply, int position);

// The conversion error of a reply digit: "'%s' is not a valid floating point value".
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tavex
