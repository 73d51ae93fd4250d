// SPDX-License-Identifier: GPL-3.0-or-later
// Where each field sits in the frames the clocks receive and in the replies they send. The
// simulator keeps its own copy of these positions rather than sharing the operator program's, so
// that the two sides check each other.
#pragma once

#include <cstddef>
#include <string_view>

namespace tavex::clocksim::layout {

// A frame as received, without its leading 0x00. Positions are 0-based indexes.
inline constexpr std::string_view kAddressPrefix = "clk00";  // followed by the clock's digit
inline constexpr std::size_t kClockDigit = 5;
inline constexpr std::size_t kAddressLength = 6;
// Time and date, two digits each: hour, minute, second, day, month, year of the century.
inline constexpr std::size_t kHour = 6;
inline constexpr std::size_t kMinute = 8;
inline constexpr std::size_t kSecond = 10;
inline constexpr std::size_t kDay = 12;
inline constexpr std::size_t kMonth = 14;
inline constexpr std::size_t kYear = 16;
// Clock 1's configuration frame goes on with four display durations and the brightness.
inline constexpr std::size_t kDurations = 18;
inline constexpr std::size_t kDurationCount = 4;
inline constexpr std::size_t kBrightness = 22;
// Every frame ends with its checksum byte and the end letter "e".
inline constexpr std::size_t kTimeFrameLength = 20;
inline constexpr std::size_t kConfigFrameLength = 25;
inline constexpr std::size_t kTrailerLength = 2;
inline constexpr char kEndLetter = 'e';

// A reply. A time-setting frame is answered with time and temperature; a configuration frame and
// a read request with the whole status reply. Positions are 0-based indexes.
inline constexpr std::size_t kReplyTime = 0;  // hhnnss
inline constexpr std::size_t kReplyTemperature = 6;
inline constexpr std::size_t kReplyTemperatureLength = 4;
inline constexpr std::size_t kReplyDurations = 10;  // as in the configuration frame
inline constexpr std::size_t kReplyBrightness = 14;
inline constexpr std::size_t kReplyPressure = 16;  // after one '0'
inline constexpr std::size_t kReplyPressureLength = 3;
inline constexpr std::size_t kStatusReplyLength = 19;

}  // namespace tavex::clocksim::layout
