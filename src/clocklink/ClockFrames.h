// SPDX-License-Identifier: GPL-3.0-or-later
// The bytes the program puts on the clock line and the judgement of the clocks' replies: pure
// functions over byte strings (a checksum byte may be 0x00, a line feed or "e").
#pragma once

#include <cstddef>
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

// A field of a frame or a reply: its first position (1-based, as the clocks count) and length.
struct FieldSpan {
  std::size_t first;
  std::size_t length;
  constexpr std::size_t End() const { return first + length - 1; }  // its last position
};

// The frames: the address, the corrected date and time (hh nn ss dd mm yy), for the
// configuration the four display durations and the brightness, then the checksum of all before
// it and "e". The line carries a 0x00 before each frame.
inline constexpr FieldSpan kFrameAddress{1, 6};
inline constexpr FieldSpan kFrameDateTime{7, 12};
inline constexpr FieldSpan kFrameDurations{19, 4};
inline constexpr FieldSpan kFrameBrightness{23, 1};
inline constexpr std::size_t kTimeFrameLength = kFrameDateTime.End() + 2;      // 20
inline constexpr std::size_t kConfigFrameLength = kFrameBrightness.End() + 2;  // 25

// The replies: the clock's time (hh nn ss), of which hour and minute judge the reply, then its
// temperature; a status reply goes on with the four display durations, two characters the
// program does not read, and the pressure.
inline constexpr FieldSpan kReplyTime{1, 6};
inline constexpr FieldSpan kReplyHourMinute{1, 4};
inline constexpr FieldSpan kReplyTemperature{7, 4};
inline constexpr FieldSpan kReplyDurations{11, 4};
inline constexpr FieldSpan kReplyPressure{17, 3};
inline constexpr std::size_t kTimeReplyLength = kReplyTemperature.End();  // 10
inline constexpr std::size_t kStatusReplyLength = kReplyPressure.End();   // 19

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
std::string ClockTimeText(const ClockInstant& t);       // Windows-1251 bytes
std::string TemperatureText(const std::string& reply);  // Windows-1251 bytes (0xB0 degree)
std::string PressureText(const std::string& reply);
// The digit at `position` (11..14) of a status reply; throws EConvertError for a non-digit.
int DurationDigit(const StatusReply& reply, int position);
// A reply of full length whose duration positions all hold digits: its durations can be taken
// without a conversion error.
bool HasDurationDigits(const StatusReply& reply);

// An adapter that hears its own frame puts the line image it was sent in front of the reply.
// EchoOf gives that image as the port receives it (without its 0x00 bytes when the port drops
// them); WithoutEcho gives what was read after such a copy when it begins with an exact one, and
// what was read otherwise.
std::string EchoOf(const std::string& lineImage, bool nulsDropped);
std::string WithoutEcho(const std::string& received, const std::string& echo);

// The conversion error of a reply digit, translated through the text domain "default"; %s is
// the character.
inline constexpr const char* kBadDigitText = "'%s' is not a valid floating point value";
class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace tavex
