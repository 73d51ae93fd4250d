// SPDX-License-Identifier: GPL-3.0-or-later
#include <gtest/gtest.h>

#include <set>
#include <string>

#include "serial/ComNames.h"

namespace tavex {
namespace {

// Walks a setting's values from the first to `last`: each has a text of its own, and that text
// reads back as the value, so whatever a port holds is stored and restored unchanged.
template <typename Value>
void ExpectOwnTextsThatReadBack(Value last, std::string (*toText)(Value),
                                Value (*fromText)(const std::string&)) {
  std::set<std::string> seen;
  for (int i = 0; i <= static_cast<int>(last); ++i) {
    const auto value = static_cast<Value>(i);
    const std::string text = toText(value);
    EXPECT_FALSE(text.empty()) << "value " << i;
    EXPECT_TRUE(seen.insert(text).second) << "two values are stored as " << text;
    EXPECT_EQ(fromText(text), value) << text;
  }
}

TEST(SettingNames, EveryValueIsStoredUnderATextOfItsOwnThatReadsBackAsIt) {
  ExpectOwnTextsThatReadBack(br256000, BaudRateToText, TextToBaudRate);
  ExpectOwnTextsThatReadBack(sbTwoStopBits, StopBitsToText, TextToStopBits);
  ExpectOwnTextsThatReadBack(dbEight, DataBitsToText, TextToDataBits);
  ExpectOwnTextsThatReadBack(prSpace, ParityToText, TextToParity);
  ExpectOwnTextsThatReadBack(fcCustom, FlowControlToText, TextToFlowControl);
  ExpectOwnTextsThatReadBack(dtrHandshake, DTRControlToText, TextToDTRControl);
  ExpectOwnTextsThatReadBack(rtsToggle, RTSControlToText, TextToRTSControl);
  EXPECT_TRUE(TextToBool(BoolToText(true)));
  EXPECT_FALSE(TextToBool(BoolToText(false)));

  // A rate other than Custom is stored as its number of bits per second, in ascending order
  // (the order the setup dialog lists them in).
  long previous = 0;
  for (int i = br110; i <= br256000; ++i) {
    const std::string text = BaudRateToText(static_cast<TBaudRate>(i));
    ASSERT_EQ(text.find_first_not_of("0123456789"), std::string::npos) << text;
    EXPECT_GT(std::stol(text), previous) << text;
    previous = std::stol(text);
  }
  // The texts a settings file from Windows holds, as the README shows them.
  EXPECT_EQ(BaudRateToText(brCustom), "Custom");
  EXPECT_EQ(BaudRateToText(br4800), "4800");
  EXPECT_EQ(DataBitsToText(dbFive), "5");
  EXPECT_EQ(DataBitsToText(dbEight), "8");
  EXPECT_EQ(StopBitsToText(sbOne5StopBits), "1.5");
  EXPECT_EQ(ParityToText(prNone), "None");
  EXPECT_EQ(ParityToText(prSpace), "Space");
  EXPECT_EQ(FlowControlToText(fcNone), "None");
  EXPECT_EQ(FlowControlToText(fcCustom), "Custom");
  EXPECT_EQ(DTRControlToText(dtrHandshake), "Handshake");
  EXPECT_EQ(RTSControlToText(rtsToggle), "Toggle");
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
