// SPDX-License-Identifier: GPL-3.0-or-later
#include <string>

#include "clocksim/clock_sim.h"
#include "clocksim/frame_layout.h"

namespace tavex::clocksim {
namespace {

using namespace layout;

// What a broken record keeps of the discarded bytes: enough to see what went wrong.
constexpr std::size_t kBrokenKeep = 64;

}  // namespace

void FrameReader::Abandon(std::string problem, std::vector<ReceivedFrame>& out) {
  ReceivedFrame frame;
  frame.kind = FrameKind::Broken;
  frame.bytes = std::move(buffer_);
  frame.problem = std::move(problem);
  if (frame.bytes.size() >= kAddressLength &&
      frame.bytes.compare(0, kAddressPrefix.size(), kAddressPrefix) == 0) {
    const char digit = At(frame.bytes, kClockDigit);
    if (digit >= '1' && digit <= '4') frame.clock = digit - '0';
  }
  out.push_back(std::move(frame));
  buffer_.clear();
  state_ = State::Idle;
}

void FrameReader::Hunt(std::string problem) {
  huntProblem_ = std::move(problem);
  state_ = State::Hunting;
}

void FrameReader::Expire(SteadyTime now, std::vector<ReceivedFrame>& out) {
  if (state_ == State::Idle || !last_ || now - *last_ < resyncGap_) return;
  if (state_ == State::Hunting) {
    Abandon(huntProblem_, out);
  } else {
    Abandon(buffer_.empty() ? "a lone 0x00" : "incomplete frame", out);
  }
}

std::optional<SteadyTime> FrameReader::Deadline() const {
  if (state_ == State::Idle || !last_) return std::nullopt;
  return *last_ + resyncGap_;
}

void FrameReader::Feed(std::uint8_t byte, SteadyTime at, std::vector<ReceivedFrame>& out) {
  Expire(at, out);
  last_ = at;
  const char c = static_cast<char>(byte);
  switch (state_) {
    case State::Idle:
      FeedIdle(c);
      return;
    case State::Start:
      FeedStart(c, out);
      return;
    case State::Address:
      FeedAddress(c);
      return;
    case State::Body:
      FeedBody(c, out);
      return;
    case State::Hunting:
      if (buffer_.size() < kBrokenKeep) buffer_.push_back(c);
      return;
  }
}

// Between frames only a 0x00 is welcome.
void FrameReader::FeedIdle(char c) {
  if (c == '\0') {
    state_ = State::Start;
  } else {
    buffer_.assign(1, c);
    Hunt("stray bytes outside a frame");
  }
}

// The byte after the 0x00: a read request, the address's first letter, or a repeated 0x00.
void FrameReader::FeedStart(char c, std::vector<ReceivedFrame>& out) {
  if (c == 'R') {
    out.push_back(ReceivedFrame{FrameKind::ReadRequest, "R", 1, {}});
    state_ = State::Idle;
  } else if (c == '\0') {
    // A repeated leading 0x00: the sender began again.
  } else {
    buffer_.assign(1, c);
    if (c == kAddressPrefix[0]) {
      state_ = State::Address;
    } else {
      Hunt("unknown frame start");
    }
  }
}

// The rest of "clk00N"; the clock's digit fixes the frame's length.
void FrameReader::FeedAddress(char c) {
  buffer_.push_back(c);
  const std::size_t at_index = buffer_.size() - 1;
  if (at_index < kAddressPrefix.size()) {
    if (c != kAddressPrefix[at_index]) Hunt("unknown address");
    return;
  }
  if (c < '1' || c > '4') {
    Hunt("unknown address");
    return;
  }
  expected_ = c == '1' ? kConfigFrameLength : kTimeFrameLength;
  state_ = State::Body;
}

// The frame's body up to its full length, then the frame is checked and handed out.
void FrameReader::FeedBody(char c, std::vector<ReceivedFrame>& out) {
  buffer_.push_back(c);
  if (buffer_.size() < expected_) return;
  ReceivedFrame frame;
  frame.kind = expected_ == kConfigFrameLength ? FrameKind::Config : FrameKind::Time;
  frame.clock = At(buffer_, kClockDigit) - '0';
  frame.bytes = std::move(buffer_);
  buffer_.clear();
  CheckFrame(frame);
  // A frame that does not end in "e" was most likely cut in the wrong place: hunt for the next
  // transmission rather than trusting the byte that follows.
  const bool endsWell = frame.bytes.back() == kEndLetter;
  out.push_back(std::move(frame));
  if (endsWell) {
    state_ = State::Idle;
  } else {
    Hunt("stray bytes after a frame without end letter");
  }
}

namespace {

bool IsDigit(char c) {
  return c >= '0' && c <= '9';
}
int TwoDigits(const std::string& s, std::size_t position) {
  return (At(s, position) - '0') * 10 + (At(s, position + 1) - '0');
}

int DaysInMonth(int year, int month) {
  static constexpr int kDays[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = (year % 4 == 0 && year % 100 != 0) || year % 400 == 0;
  return month == 2 && leap ? 29 : kDays[month - 1];
}

}  // namespace

bool CheckFrame(ReceivedFrame& frame) {
  const std::string& b = frame.bytes;
  const std::size_t bodyLength = b.size() - kTrailerLength;
  if (b.back() != kEndLetter) {
    frame.problem = "no end letter";
    return false;
  }
  unsigned sum = 0;
  for (std::size_t i = 0; i < bodyLength; ++i) sum += static_cast<unsigned char>(b[i]);
  if (static_cast<unsigned char>(b[bodyLength]) != (sum & 0xFFu)) {
    frame.problem = "checksum mismatch";
    return false;
  }
  for (std::size_t i = kAddressLength; i < bodyLength; ++i) {
    if (!IsDigit(b[i])) {
      frame.problem = "non-digit at position " + std::to_string(i + 1);
      return false;
    }
  }
  const int hour = TwoDigits(b, kHour), minute = TwoDigits(b, kMinute);
  const int second = TwoDigits(b, kSecond);
  const int day = TwoDigits(b, kDay), month = TwoDigits(b, kMonth), yy = TwoDigits(b, kYear);
  if (hour > 23 || minute > 59 || second > 59) {
    frame.problem = "time out of range";
  } else if (month < 1 || month > 12 || day < 1 || day > DaysInMonth(2000 + yy, month)) {
    frame.problem = "date out of range";
  }
  return frame.problem.empty();
}

}  // namespace tavex::clocksim
