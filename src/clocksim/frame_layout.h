// SPDX-License-Identifier: GPL-3.0-or-later
// Where each field sits in the frames the clocks receive and in the replies they send. The
// simulator keeps its own copy of these positions rather than sharing the operator program's, so
// that the two sides check each other. A position counts characters from 1, as the clocks'
// manual and the operator program's frame layout do (and the fault arguments); At() reads one.
#pragma once

#include <cstddef>
#include <string_view>

namespace tavex::clocksim::layout {

// The character at `position` (from 1) of `text`.
inline char At(std::string_view text, std::size_t position) {
  return text[position - 1];
}

// A frame as received, without its leading 0x00.
inline constexpr std::string_view kAddressPrefix = "clk00";  // followed by the clock's digit
inline constexpr std::size_t kClockDigit = 6;
inline constexpr std::size_t kAddressLength = 6;
// Time and date, two digits each: hour, minute, second, day, month, year of the century.
inline constexpr std::size_t kHour = 7;
inline constexpr std::size_t kMinute = 9;
inline constexpr std::size_t kSecond = 11;
inline constexpr std::size_t kDay = 13;
inline constexpr std::size_t kMonth = 15;
inline constexpr std::size_t kYear = 17;
// Clock 1's configuration frame goes on with four display durations and the brightness.
inline constexpr std::size_t kDurations = 19;
inline constexpr std::size_t kDurationCount = 4;
inline constexpr std::size_t kBrightness = 23;
// Every frame ends with its checksum byte and the end letter "e".
inline constexpr std::size_t kTimeFrameLength = 20;
inline constexpr std::size_t kConfigFrameLength = 25;
inline constexpr std::size_t kTrailerLength = 2;
inline constexpr char kEndLetter = 'e';

// A reply. A time-setting frame is answered with time and temperature; a configuration frame and
// a read request with the whole status reply.
inline constexpr std::size_t kReplyTime = 1;  // hhnnss
inline constexpr std::size_t kReplyTemperature = 7;
inline constexpr std::size_t kReplyTemperatureLength = 4;
inline constexpr std::size_t kReplyDurations = 11;  // as in the configuration frame
inline constexpr std::size_t kReplyBrightness = 15;
inline constexpr std::size_t kReplyPressure = 17;  // after one '0'
inline constexpr std::size_t kReplyPressureLength = 3;
inline constexpr std::size_t kStatusReplyLength = 19;

}  // namespace tavex::clocksim::layout
