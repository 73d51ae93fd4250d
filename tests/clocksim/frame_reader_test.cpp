// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <vector>

#include "clocklink/ClockFrames.h"
#include "clocksim/clock_sim.h"

namespace tavex::clocksim {
namespace {

using namespace std::chrono_literals;
using namespace std::string_literals;

// Feeds bytes at a given pace from a fixed start, collecting every frame the reader gives.
class Stream {
 public:
  Stream() : reader_(100ms) {}
  Stream& Send(const std::string& bytes, std::chrono::milliseconds pace = 5ms) {
    for (char c : bytes) {
      now_ += pace;
      reader_.Feed(static_cast<std::uint8_t>(c), now_, frames_);
    }
    return *this;
  }
  Stream& Quiet(std::chrono::milliseconds gap) {
    now_ += gap;
    reader_.Expire(now_, frames_);
    return *this;
  }
  std::vector<ReceivedFrame> frames_;

 private:
  FrameReader reader_;
  SteadyTime now_{};
};

std::string Line(const std::string& frame) {
  return "\0"s + frame;
}

const ClockInstant kMorning{2026, 12, 7, 5, 54, 21};
// Frames whose checksum is 0x00 and "e": the reader must not cut them there.
const ClockInstant kNulChecksumTime{2000, 1, 1, 0, 0, 0};

TEST(FrameReaderTest, CutsFramesByLengthWhateverTheirChecksum) {
  const ClockFrame nulSum = BuildConfigFrame(kNulChecksumTime, 0, 0, 0, 0, 3);
  const ClockFrame eSum = BuildConfigFrame({2099, 12, 29, 1, 59, 59}, 9, 9, 9, 9, 9);
  ASSERT_EQ(nulSum[23], '\0');
  ASSERT_EQ(eSum[23], 'e');

  Stream s;
  s.Send(Line(BuildTimeFrame("clk002", kMorning)))
      .Send(Line(nulSum))
      .Send(Line(kReadRequest))
      .Send(Line(eSum), 0ms)  // all at once, as a fast sender would
      .Send(Line(BuildTimeFrame("clk004", kMorning)));
  ASSERT_EQ(s.frames_.size(), 5u);
  const FrameKind kinds[] = {FrameKind::Time, FrameKind::Config, FrameKind::ReadRequest,
                             FrameKind::Config, FrameKind::Time};
  const int clocks[] = {2, 1, 1, 1, 4};
  for (std::size_t i = 0; i < 5; ++i) {
    EXPECT_EQ(s.frames_[i].kind, kinds[i]) << i;
    EXPECT_EQ(s.frames_[i].clock, clocks[i]) << i;
    EXPECT_TRUE(s.frames_[i].Ok()) << i << ": " << s.frames_[i].problem;
  }
  EXPECT_EQ(s.frames_[1].bytes, nulSum);
}

TEST(FrameReaderTest, RejectsUnsoundFrames) {
  const ClockFrame good = BuildTimeFrame("clk003", kMorning);
  ClockFrame badSum = good;
  badSum[18] = static_cast<char>(badSum[18] + 1);
  ClockFrame badEnd = good;
  badEnd[19] = 'x';
  // Right checksum, impossible fields: 25 o'clock, 30 February, month 13.
  const ClockFrame badHour = BuildTimeFrame("clk002", {2026, 1, 1, 25, 0, 0});
  const ClockFrame badDay = BuildTimeFrame("clk002", {2026, 2, 30, 1, 0, 0});
  const ClockFrame badMonth = BuildConfigFrame({2026, 13, 1, 1, 0, 0}, 1, 1, 1, 1, 1);
  const ClockFrame leapDay = BuildTimeFrame("clk002", {2028, 2, 29, 1, 0, 0});
  ClockFrame letterDuration = BuildConfigFrame(kMorning, 5, 5, 3, 3, 9);
  letterDuration[20] = 'A';
  letterDuration[23] = static_cast<char>(FrameChecksum(letterDuration.substr(0, 23)));

  const struct {
    std::string frame;
    const char* problem;
  } cases[] = {
      {badSum, "checksum mismatch"},
      {badEnd, "no end letter"},
      {badHour, "time out of range"},
      {badDay, "date out of range"},
      {badMonth, "date out of range"},
      {letterDuration, "non-digit at position 21"},
      {leapDay, ""},
  };
  for (const auto& c : cases) {
    Stream s;
    s.Send(Line(c.frame));
    ASSERT_EQ(s.frames_.size(), 1u) << c.problem;
    EXPECT_EQ(s.frames_[0].problem, c.problem);
  }
}

TEST(FrameReaderTest, ResynchronisesOnlyOnZeroAfterQuiet) {
  const std::string read = Line(kReadRequest);
  {
    // Stray bytes, then a 0x00 that follows them closely: still discarded. Only a 0x00 after
    // the quiet gap starts a frame again.
    Stream s;
    s.Send("xyz").Send(read).Quiet(150ms).Send(read);
    ASSERT_EQ(s.frames_.size(), 2u);
    EXPECT_EQ(s.frames_[0].kind, FrameKind::Broken);
    EXPECT_EQ(s.frames_[0].bytes, "xyz\0R"s);
    EXPECT_EQ(s.frames_[1].kind, FrameKind::ReadRequest);
  }
  {
    // An unknown address, then the rest of its frame: one bad frame, nothing answered.
    Stream s;
    s.Send(Line(BuildTimeFrame("clk005", kMorning))).Quiet(150ms);
    ASSERT_EQ(s.frames_.size(), 1u);
    EXPECT_EQ(s.frames_[0].problem, "unknown address");
  }
  {
    // The sender stops mid-frame and starts again after a pause: the partial frame is dropped
    // and the new one read whole, though it begins inside the expected length.
    const std::string frame = Line(BuildTimeFrame("clk002", kMorning));
    Stream s;
    s.Send(frame.substr(0, 9)).Quiet(120ms).Send(frame);
    ASSERT_EQ(s.frames_.size(), 2u);
    EXPECT_EQ(s.frames_[0].problem, "incomplete frame");
    EXPECT_EQ(s.frames_[0].clock, 2);
    EXPECT_TRUE(s.frames_[1].Ok());
  }
  {
    // A frame cut short is only noticed at the gap: a 0x00 that arrives sooner is taken as a
    // frame byte, here the checksum position of the truncated frame.
    const std::string frame = Line(BuildTimeFrame("clk002", kMorning));
    Stream s;
    s.Send(frame.substr(0, 15)).Send(frame).Quiet(150ms);
    ASSERT_GE(s.frames_.size(), 1u);
    EXPECT_FALSE(s.frames_[0].Ok());
  }
  {
    // A repeated leading 0x00 is harmless; a frame that does not end in "e" makes the reader
    // distrust what follows it without a gap.
    ClockFrame noEnd = BuildTimeFrame("clk002", kMorning);
    noEnd.back() = 'E';
    Stream s;
    s.Send("\0"s + read).Send(Line(noEnd)).Send(read).Quiet(150ms).Send(read);
    ASSERT_EQ(s.frames_.size(), 4u);
    EXPECT_EQ(s.frames_[0].kind, FrameKind::ReadRequest);
    EXPECT_EQ(s.frames_[1].problem, "no end letter");
    EXPECT_EQ(s.frames_[2].kind, FrameKind::Broken);
    EXPECT_EQ(s.frames_[3].kind, FrameKind::ReadRequest);
  }
}

TEST(FaultParsingTest, AcceptsTheDocumentedFormsAndRefusesTheRest) {
  EXPECT_EQ(ParseFault("2:silent"), (std::vector<Fault>{{2, FaultKind::Silent, -1}}));
  EXPECT_EQ(ParseFault(" 1:late=300 "), (std::vector<Fault>{{1, FaultKind::Late, 300}}));
  EXPECT_EQ(ParseFault("all:noise").size(), 4u);
  EXPECT_EQ(ParseFault("1:bad-digit=14")[0].arg, 14);

  for (const char* bad : {"silent", "5:silent", "0:silent", "1:sleepy", "1:silent=3", "1:late",
                          "1:late=x", "1:bad-digit=15", "x:noise", "1:truncate=-1"}) {
    EXPECT_THROW(ParseFault(bad), std::invalid_argument) << bad;
  }
  const auto list = ParseFaultList("# demo\n\n2:no-temperature  # clock 2\r\n3:hangup=2\n");
  EXPECT_EQ(list,
            (std::vector<Fault>{{2, FaultKind::NoTemperature, -1}, {3, FaultKind::HangUp, 2}}));
}

}  // namespace
}  // namespace tavex::clocksim
