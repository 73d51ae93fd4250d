// SPDX-License-Identifier: GPL-3.0-or-later
// The pacing of a frame on the clock line. The clocks take a frame one byte at a time, each after
// a fixed pause. Counting each pause from the end of the previous write would add the write's own
// time and every late wake-up to the frame; here byte k is due k pauses after the first byte went
// out, on the monotonic clock, so the frame spans its pauses and no more.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "platform/wall_clock.h"

namespace tavex {

// A byte is never due sooner than this short of a whole pause after the previous write began: a
// write that stalled moves the rest of the frame on rather than bunching its bytes together.
inline constexpr std::int64_t kPacingToleranceNs = 100000;  // 0.1 ms

// Writes the bytes of `lineImage` one by one with `writeByte`, paced `pauseMs` apart, and returns
// when the pause after the last byte is over.
void SendPaced(const std::string& lineImage, int pauseMs, platform::WallClock& clock,
               const std::function<void(char)>& writeByte);

}  // namespace tavex
