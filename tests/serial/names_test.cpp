// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include "serial/ComNames.h"

namespace tavex {
namespace {

// Every value of every table goes to its text and back, and the texts are the stored ones.
TEST(SettingNames, EveryTableValueRoundTrips) {
  const char* baud[] = {"Custom", "110",   "300",   "600",   "1200",  "2400",   "4800",   "9600",
                        "14400",  "19200", "38400", "56000", "57600", "115200", "128000", "256000"};
  for (int i = 0; i < 16; ++i) {
    auto v = static_cast<TBaudRate>(i);
    EXPECT_EQ(BaudRateToText(v), baud[i]);
    EXPECT_EQ(TextToBaudRate(BaudRateToText(v)), v);
  }
  for (int i = 0; i < 3; ++i) {
    auto v = static_cast<TStopBits>(i);
    EXPECT_EQ(TextToStopBits(StopBitsToText(v)), v);
  }
  for (int i = 0; i < 4; ++i) {
    auto v = static_cast<TDataBits>(i);
    EXPECT_EQ(TextToDataBits(DataBitsToText(v)), v);
    EXPECT_EQ(DataBitsToText(v), std::to_string(5 + i));
  }
  for (int i = 0; i < 5; ++i) {
    auto v = static_cast<TParityBits>(i);
    EXPECT_EQ(TextToParity(ParityToText(v)), v);
  }
  for (int i = 0; i < 4; ++i) {
    auto v = static_cast<TFlowControl>(i);
    EXPECT_EQ(TextToFlowControl(FlowControlToText(v)), v);
  }
  for (int i = 0; i < 3; ++i) {
    auto v = static_cast<TDTRFlowControl>(i);
    EXPECT_EQ(TextToDTRControl(DTRControlToText(v)), v);
  }
  for (int i = 0; i < 4; ++i) {
    auto v = static_cast<TRTSFlowControl>(i);
    EXPECT_EQ(TextToRTSControl(RTSControlToText(v)), v);
  }
  EXPECT_EQ(StopBitsToText(sbOne5StopBits), "1.5");
  EXPECT_EQ(ParityToText(prSpace), "Space");
  EXPECT_EQ(FlowControlToText(fcCustom), "Custom");
  EXPECT_EQ(DTRControlToText(dtrHandshake), "Handshake");
  EXPECT_EQ(RTSControlToText(rtsToggle), "Toggle");
  EXPECT_TRUE(TextToBool(BoolToText(true)));
  EXPECT_FALSE(TextToBool(BoolToText(false)));
}

TEST(SettingNames, TextsMatchWholeAndCaseBlindOrFallBack) {
  EXPECT_EQ(TextToBaudRate("custom"), brCustom);
  EXPECT_EQ(TextToBaudRate("9601"), br9600);
  EXPECT_EQ(TextToBaudRate(" 4800"), br9600);
  EXPECT_EQ(TextToBaudRate("4800 "), br9600);
  EXPECT_EQ(TextToBaudRate(""), br9600);
  EXPECT_EQ(TextToFlowControl("none"), fcNone);
  EXPECT_EQ(TextToFlowControl("Off"), fcCustom);
  EXPECT_EQ(TextToFlowControl(""), fcCustom);
  EXPECT_EQ(TextToDataBits("9"), dbEight);
  EXPECT_EQ(TextToStopBits("1,5"), sbOneStopBit);
  EXPECT_EQ(TextToStopBits("2"), sbTwoStopBits);
  EXPECT_EQ(TextToParity("eVEN"), prEven);
  EXPECT_EQ(TextToRTSControl("toggle"), rtsToggle);
  EXPECT_EQ(TextToDTRControl("Toggle"), dtrDisable);  // the DTR table has no such entry
  EXPECT_EQ(TextToDTRControl("ENABLE"), dtrEnable);
  EXPECT_TRUE(TextToBool("yes"));
  EXPECT_TRUE(TextToBool("YES"));
  for (const char* no : {"True", "Y", "1", "", " Yes", "yes "}) EXPECT_FALSE(TextToBool(no)) << no;
  // Upper-casing is ASCII only: a Cyrillic byte is not folded into something that matches.
  EXPECT_EQ(TextToParity("N\xCEne"), prNone);
}

TEST(SettingNames, EveryCharacterCodeRoundTrips) {
  for (int code = 0; code < 256; ++code) {
    auto c = static_cast<std::uint8_t>(code);
    const std::string text = CharToText(c);
    EXPECT_EQ(TextToChar(text), c) << code;
    if (code >= 33 && code <= 127) {
      EXPECT_EQ(text, std::string(1, static_cast<char>(code)));
    } else {
      EXPECT_EQ(text, "#" + std::to_string(code));
    }
  }
}

TEST(SettingNames, CharacterTextsParse) {
  struct Case {
    const char* text;
    int code;
  } cases[] = {
      {"", 0},
      {"#17", 17},
      {"#x", 0},
      {"#300", 44},
      {"AB", 'A'},
      {"#", '#'},
      {"#-1", 255},
      {"#$41", 0x41},
      {"#0x41", 0x41},
      {"#0X41", 0x41},
      {"#x41", 0x41},
      {"#X7f", 0x7F},
      {"#  17", 17},
      {"#+17", 17},
      {"#17 ", 0},
      {"#1 7", 0},
      {"#0x", 0},
      {"#-", 0},
      {"#$", 0},
      {"#2147483647", 255},
      {"#-2147483648", 0},
      {"#2147483648", 0},
      {"#$80000000", 0},
      {"#$7FFFFFFF", 255},
      {"##", 0},
      {"#1.5", 0},
      {"#\t9", 9},
      {"#0x0x1", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(TextToChar(c.text), c.code) << c.text;
}

TEST(SettingNames, IntegerTextsParseOrRefuse) {
  std::int32_t v = 7;
  EXPECT_TRUE(TextToInt32("-1", v));
  EXPECT_EQ(v, -1);
  EXPECT_TRUE(TextToInt32("$20", v));
  EXPECT_EQ(v, 32);
  EXPECT_TRUE(TextToInt32("-0x10", v));
  EXPECT_EQ(v, -16);
  EXPECT_TRUE(TextToInt32("-2147483648", v));
  EXPECT_EQ(v, INT32_MIN);
  v = 7;
  for (const char* bad : {"", "abc", " ", "12a", "2147483648", "99999999999999999999", "0x", "--1",
                          "1e3", "0xFFFFFFFF"}) {
    EXPECT_FALSE(TextToInt32(bad, v)) << bad;
  }
  EXPECT_EQ(v, 7);  // untouched by a refusal
}

}  // namespace
}  // namespace tavex
