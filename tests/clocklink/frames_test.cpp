// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "clocklink/ClockFrames.h"

namespace tavex {
namespace {

using namespace std::string_literals;

// The bytes as they go on the line: the leading 0x00 and then the frame.
std::vector<int> LineImage(const std::string& frame) {
  std::vector<int> bytes{0};
  for (char c : frame) bytes.push_back(static_cast<unsigned char>(c));
  return bytes;
}

const ClockInstant kMorning{2026, 12, 7, 5, 54, 21};

TEST(FramesTest, WorkedExamplesByteForByte) {
  EXPECT_EQ(LineImage(BuildTimeFrame(ClockAddress(2), kMorning)),
            (std::vector<int>{0x00, 0x63, 0x6C, 0x6B, 0x30, 0x30, 0x32, 0x30, 0x35, 0x35, 0x34,
                              0x32, 0x31, 0x30, 0x37, 0x31, 0x32, 0x32, 0x36, 0x2F, 0x65}));
  EXPECT_EQ(LineImage(BuildConfigFrame(kMorning, 5, 5, 3, 3, 9)),
            (std::vector<int>{0x00, 0x63, 0x6C, 0x6B, 0x30, 0x30, 0x31, 0x30, 0x35,
                              0x35, 0x34, 0x32, 0x31, 0x30, 0x37, 0x31, 0x32, 0x32,
                              0x36, 0x35, 0x35, 0x33, 0x33, 0x39, 0x37, 0x65}));
}

TEST(FramesTest, ChecksumIsPlainSumModulo256) {
  EXPECT_EQ(FrameChecksum(""), 0);
  EXPECT_EQ(FrameChecksum("clk002055421071226"), 0x2F);
  EXPECT_EQ(FrameChecksum("\xFF\x01"s), 0x00);  // wraps, no complement
  EXPECT_EQ(FrameChecksum("\x80\x80\x80"s), 0x80);
}

// Configurations whose checksum is a control byte or looks like an end letter: the frame keeps
// the byte unchanged and keeps its 25 characters.
TEST(FramesTest, ConfigChecksumKeepsAwkwardBytes) {
  const struct {
    ClockInstant t;
    int duration;
    int brightness;
    std::uint8_t checksum;
  } cases[] = {
      {{2000, 1, 1, 0, 0, 0}, 0, 3, 0x00},  {{2000, 1, 1, 0, 0, 0}, 1, 9, '\n'},
      {{2026, 12, 7, 0, 0, 0}, 0, 0, '\r'}, {{2099, 12, 29, 1, 59, 59}, 9, 9, 'e'},
      {{2026, 12, 7, 0, 0, 0}, 9, 6, '7'},
  };
  for (const auto& c : cases) {
    const int d = c.duration;
    const ClockFrame frame = BuildConfigFrame(c.t, d, d, d, d, c.brightness);
    ASSERT_EQ(frame.size(), 25u);
    EXPECT_EQ(static_cast<std::uint8_t>(frame[23]), c.checksum);
    EXPECT_EQ(frame[24], 'e');
  }
}

TEST(FramesTest, FieldsAreTwoDigitsAndAddressesFixed) {
  EXPECT_EQ(ClockAddress(1), "clk001");
  EXPECT_EQ(ClockAddress(4), "clk004");
  EXPECT_THROW(ClockAddress(0), std::out_of_range);
  EXPECT_THROW(ClockAddress(5), std::out_of_range);
  const ClockFrame f = BuildTimeFrame("clk003", ClockInstant{2000, 1, 2, 0, 3, 4});
  EXPECT_EQ(f.substr(0, 18), "clk003000304020100");
  EXPECT_EQ(f.size(), 20u);
  // A value that is not one digit would lengthen the frame and shift its checksum.
  EXPECT_THROW(BuildConfigFrame(kMorning, 10, 0, 0, 0, 0), std::out_of_range);
  EXPECT_THROW(BuildConfigFrame(kMorning, 0, 0, 0, 0, -1), std::out_of_range);
}

struct CorrectionCase {
  platform::CivilTime now;
  int hours;
  ClockInstant expected;
};

TEST(FramesTest, CorrectedInstantCrossesCalendarBoundaries) {
  const CorrectionCase cases[] = {
      {{2026, 12, 31, 22, 30, 0, 999}, 3, {2027, 1, 1, 1, 30, 0}},
      {{2026, 6, 15, 5, 0, 0, 0}, -12, {2026, 6, 14, 17, 0, 0}},
      {{2027, 1, 1, 5, 0, 0, 0}, -12, {2026, 12, 31, 17, 0, 0}},
      {{2028, 2, 28, 23, 0, 0, 0}, 1, {2028, 2, 29, 0, 0, 0}},  // leap year
      {{2027, 2, 28, 23, 0, 0, 0}, 1, {2027, 3, 1, 0, 0, 0}},   // common year
      {{2028, 3, 1, 2, 15, 7, 0}, -3, {2028, 2, 29, 23, 15, 7}},
      {{2100, 2, 28, 23, 59, 59, 0}, 1, {2100, 3, 1, 0, 59, 59}},  // century, not leap
      {{2026, 4, 30, 20, 0, 0, 0}, 9, {2026, 5, 1, 5, 0, 0}},
      {{2026, 7, 1, 0, 0, 0, 0}, 0, {2026, 7, 1, 0, 0, 0}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(CorrectedInstant(c.now, c.hours), c.expected)
        << c.now.year << "-" << c.now.month << "-" << c.now.day << " " << c.now.hour << "h "
        << c.hours;
  }
  const ClockFrame f = BuildTimeFrame("clk002", CorrectedInstant({2026, 12, 31, 22, 30, 0}, 3));
  EXPECT_EQ(f.substr(6, 12), "013000010127");
}

struct ReplyCase {
  const char* name;
  std::string reply;
  bool timeAccepted;
  bool statusAccepted;
};

TEST(FramesTest, ReplyAcceptance) {
  const ReplyCase cases[] = {
      {"exact time reply", "055421 21o", true, true},
      {"nine characters", "055421 21", false, true},
      {"eleven characters", "055421 21oX", false, true},
      {"twelve characters", "055421 21oXY", false, true},
      {"wrong seconds digit", "055422 21o", false, true},
      {"wrong minute", "055321 21o", false, false},
      {"wrong hour", "065421 21o", false, false},
      {"status reply", "0554996666553300745", false, true},
      {"three characters", "055", false, false},
      {"four characters", "0554", false, true},
      {"empty", "", false, false},
      {"status fallback", kStatusFallbackReply, false, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(AcceptTimeReply(kMorning, c.reply), c.timeAccepted) << c.name;
    EXPECT_EQ(AcceptStatusReply(kMorning, c.reply), c.statusAccepted) << c.name;
  }
  // The time fallback counts as an answer exactly at 12:34:56.
  EXPECT_TRUE(AcceptTimeReply({2026, 1, 1, 12, 34, 56}, kTimeFallbackReply));
  EXPECT_FALSE(AcceptTimeReply({2026, 1, 1, 12, 34, 57}, kTimeFallbackReply));
}

struct EchoCase {
  const char* name;
  std::string echo;
  std::string received;
  std::string reply;  // what is judged
};

TEST(FramesTest, AnExactEchoOfTheLineImageIsDroppedAndNothingElse) {
  // The port drops 0x00 on receipt, so the echo of 0x00 "R" arrives as "R"; a configuration
  // frame whose checksum is 0x00 arrives a byte short as well.
  const std::string readImage = std::string(1, '\0') + kReadRequest;
  EXPECT_EQ(EchoOf(readImage, true), "R");
  EXPECT_EQ(EchoOf(readImage, false), readImage);
  const std::string config = std::string(1, '\0') + "clk001" + std::string(1, '\0') + "e";
  EXPECT_EQ(EchoOf(config, true), "clk001e");

  const std::string status = "0554216666553390745";
  const ClockFrame frame = BuildTimeFrame(ClockAddress(2), kMorning);
  const std::string read = EchoOf(readImage, true);
  const std::string time = EchoOf(std::string(1, '\0') + frame, true);
  const EchoCase cases[] = {
      {"echo then reply", read, "R" + status, status},
      {"echo only: the clock is silent", read, "R", ""},
      {"no echo", read, status, status},
      {"nothing", read, "", ""},
      {"echo twice: only one copy is the adapter's", read, "RR" + status, "R" + status},
      {"a time frame's echo", time, frame + "055421 21o", "055421 21o"},
      {"part of an echo is not an echo", time, frame.substr(0, 5) + "055421 21o",
       frame.substr(0, 5) + "055421 21o"},
      {"nothing sent, nothing dropped", "", status, status},
  };
  for (const EchoCase& c : cases) {
    EXPECT_EQ(WithoutEcho(c.received, c.echo), c.reply) << c.name;
  }
}

TEST(FramesTest, CheckTextTakesWhatTheReplyHas) {
  EXPECT_EQ(ReplyCheckText(kMorning, "055421-12o"), "055421-12o");
  EXPECT_EQ(ReplyCheckText(kMorning, "0554996666553300745"), "0554216666");
  EXPECT_EQ(ReplyCheckText(kMorning, "0554219"), "0554219");
  EXPECT_EQ(ReplyCheckText(kMorning, ""), "055421");
  EXPECT_EQ(ReplyCheckText({2026, 1, 1, 12, 34, 56}, kTimeFallbackReply), "1234567890");
}

TEST(FramesTest, LabelTexts) {
  EXPECT_EQ(ClockTimeText(kMorning), " 5:54");
  EXPECT_EQ(ClockTimeText({2026, 1, 1, 0, 7, 0}), " 0:07");
  EXPECT_EQ(ClockTimeText({2026, 1, 1, 10, 0, 0}), "10:00");
  EXPECT_EQ(ClockTimeText({2026, 1, 1, 23, 59, 0}), "23:59");

  const struct {
    std::string field;
    std::string label;
  } temperatures[] = {
      {"-12o", " -12\xB0"},
      {" 23o", "+ 23\xB0"},
      {"6666", "-----"},
      {"-6666", " -666"},  // only positions 7-10 count
      {"12oo", "+12\xB0\xB0"},
      {"1o2o", "+1o2\xB0"},
      {"o123", "+o123"},
      {"7890", "+7890"},
      {"", "+"},
      {"-5", " -5"},
  };
  for (const auto& t : temperatures) {
    EXPECT_EQ(TemperatureText("055421" + t.field), t.label) << t.field;
  }
  EXPECT_EQ(TemperatureText("0554996666553300745"), "-----");
  EXPECT_EQ(PressureText("0554996666553300745"), "745");
  EXPECT_EQ(PressureText("055499666655330074"), "74");
  EXPECT_EQ(PressureText("0554"), "");
}

TEST(FramesTest, DurationDigits) {
  const std::string reply = "0554992o 12049x 745";
  EXPECT_EQ(DurationDigit(reply, 11), 2);
  EXPECT_EQ(DurationDigit(reply, 12), 0);
  EXPECT_EQ(DurationDigit(reply, 13), 4);
  EXPECT_EQ(DurationDigit(reply, 14), 9);

  const struct {
    std::string reply;
    int position;
    const char* message;
  } refused[] = {
      {"0554996666 5533xx745", 11, "' ' is not a valid floating point value"},
      {"0554996666A533xx745", 11, "'A' is not a valid floating point value"},
      {"05549966665-33xx745", 12, "'-' is not a valid floating point value"},
      {"0554996666553+xx745", 14, "'+' is not a valid floating point value"},
      {"05549966665", 12, "'' is not a valid floating point value"},  // past the end
      {"0554", 11, "'' is not a valid floating point value"},
  };
  for (const auto& r : refused) {
    try {
      DurationDigit(r.reply, r.position);
      ADD_FAILURE() << r.reply << " position " << r.position << " read as a digit";
    } catch (const EConvertError& e) {
      EXPECT_STREQ(e.what(), r.message);
    }
  }
}

}  // namespace
}  // namespace tavex
