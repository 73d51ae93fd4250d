#include <gtest/gtest.h>

#include "platform/text_codec.h"

namespace tavex::platform {
namespace {

TEST(TextCodec, EveryByteRoundTripsExceptTheUnassignedOne) {
  for (int b = 0; b < 256; ++b) {
    std::string one(1, static_cast<char>(b));
    std::string back;
    bool ok = Utf8ToCp1251(Cp1251ToUtf8(one), back);
    if (b == 0x98) {
      EXPECT_EQ(Cp1251ToUtf8(one), "\xEF\xBF\xBD");
      continue;
    }
    ASSERT_TRUE(ok) << b;
    EXPECT_EQ(back, one) << b;
  }
}

TEST(TextCodec, KnownReadings) {
  EXPECT_EQ(Cp1251ToUtf8("\xB0"), "\xC2\xB0");            // degree sign
  EXPECT_EQ(Cp1251ToUtf8("\xD7\xE0\xF1\xFB"), "Часы");  // the window's own words
  std::string bytes;
  EXPECT_FALSE(Utf8ToCp1251("\xE4\xB8\xAD", bytes));  // a character with no Windows-1251 byte
  EXPECT_FALSE(Utf8ToCp1251("\xFF", bytes));          // not UTF-8
}

}  // namespace
}  // namespace tavex::platform
