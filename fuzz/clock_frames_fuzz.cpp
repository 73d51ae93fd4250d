// SPDX-License-Identifier: GPL-3.0-or-later
// The reply functions on arbitrary bytes, against an instant taken from the input: none of them
// may crash or read past a short reply, and their results keep the shapes the window relies on.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "clocklink/ClockFrames.h"

namespace {

// Aborts with a message the fuzzer shows next to the input.
void Check(bool condition, const char* what) {
  if (!condition) {
    std::fprintf(stderr, "clock_frames_fuzz: %s\n", what);
    std::abort();
  }
}

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}

// The first input bytes pick the computer's time and a correction; every field is in range, as
// the system clock and the correction control give them.
tavex::ClockInstant InstantFrom(const std::uint8_t* data, int& correction) {
  tavex::platform::CivilTime now;
  now.year = 1990 + data[0] % 120;
  now.month = 1 + data[1] % 12;
  now.day = 1 + data[2] % 31;
  now.hour = data[3] % 24;
  now.minute = data[4] % 60;
  now.second = data[5] % 60;
  correction = data[6] % 25 - 12;
  return tavex::CorrectedInstant(now, correction);
}

void CheckInstant(const tavex::ClockInstant& t) {
  Check(t.hour >= 0 && t.hour <= 23, "hour out of range");
  Check(t.minute >= 0 && t.minute <= 59, "minute out of range");
  Check(t.second >= 0 && t.second <= 59, "second out of range");
  Check(t.month >= 1 && t.month <= 12, "month out of range");
  Check(t.day >= 1 && t.day <= 31, "day out of range");
}

void CheckFrames(const tavex::ClockInstant& t, const std::uint8_t* digits) {
  for (int clock = 2; clock <= 4; ++clock) {
    const tavex::ClockFrame frame = tavex::BuildTimeFrame(tavex::ClockAddress(clock), t);
    Check(frame.size() == 20 && frame.back() == 'e', "time frame shape");
    Check(static_cast<std::uint8_t>(frame[18]) == tavex::FrameChecksum(frame.substr(0, 18)),
          "time frame checksum");
  }
  const tavex::ClockFrame config = tavex::BuildConfigFrame(
      t, digits[0] % 10, digits[1] % 10, digits[2] % 10, digits[3] % 10, digits[4] % 10);
  Check(config.size() == 25 && config.back() == 'e', "configuration frame shape");
  Check(static_cast<std::uint8_t>(config[23]) == tavex::FrameChecksum(config.substr(0, 23)),
        "configuration frame checksum");
}

void CheckReply(const tavex::ClockInstant& t, const std::string& reply) {
  const std::string check = tavex::ReplyCheckText(t, reply);
  const std::size_t tail = reply.size() > 6 ? std::min<std::size_t>(reply.size() - 6, 4) : 0;
  Check(check.size() == 6 + tail, "check text length");
  Check(check.substr(6) == (tail > 0 ? reply.substr(6, tail) : std::string()), "check text tail");

  // A time reply counts exactly when it is its own check text.
  Check(tavex::AcceptTimeReply(t, reply) == (reply.size() == 10 && reply == check),
        "time reply judgement");
  const bool status = tavex::AcceptStatusReply(t, reply);
  Check(!status || (reply.size() >= 4 && reply.compare(0, 4, check, 0, 4) == 0),
        "status reply judgement");

  const std::string temperature = tavex::TemperatureText(reply);
  Check(temperature == tavex::kNoValueText || (temperature.size() >= 1 && temperature.size() <= 5),
        "temperature text length");
  Check(temperature == tavex::kNoValueText || temperature[0] == '+' || temperature[0] == ' ',
        "temperature sign");
  Check(tavex::PressureText(reply).size() <= 3, "pressure text length");

  const std::string time = tavex::ClockTimeText(t);
  Check(time.size() == 5 && time[2] == ':', "time text shape");

  for (int position = 11; position <= 14; ++position) {
    const auto index = static_cast<std::size_t>(position - 1);
    const bool digit = index < reply.size() && IsDigit(reply[index]);
    try {
      const int value = tavex::DurationDigit(reply, position);
      Check(digit && value == reply[index] - '0', "duration digit value");
    } catch (const tavex::EConvertError& error) {
      Check(!digit, "a digit refused");
      // A 0x00 at the position ends the C text of the message early; the port drops 0x00 on
      // receipt, so no reply of the program carries one.
      const bool nul = index < reply.size() && reply[index] == '\0';
      Check(nul || std::string(error.what()).find("is not a valid floating point value") !=
                       std::string::npos,
            "conversion error text");
    }
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  constexpr std::size_t kHeader = 12;
  if (size < kHeader) return 0;
  int correction = 0;
  const tavex::ClockInstant t = InstantFrom(data, correction);
  CheckInstant(t);
  CheckFrames(t, data + 7);
  const std::string reply(reinterpret_cast<const char*>(data + kHeader), size - kHeader);
  CheckReply(t, reply);
  return 0;
}
