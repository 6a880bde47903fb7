#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>

#include "os/DecimalParse.h"

using namespace os;

namespace {

constexpr int64_t kMax = std::numeric_limits<int64_t>::max();
constexpr int64_t kMin = std::numeric_limits<int64_t>::min();

std::u16string Widened(const std::string& text) { return std::u16string(text.begin(), text.end()); }

}  // namespace

// Narrow and UTF-16 text read alike.
TEST(DecimalParse, ReadsASignedPrefixAndSaturates) {
  struct Case {
    const char* text;
    int64_t value;
  } cases[] = {
      {"42", 42},
      {" \t\n\v\f\r7", 7},
      {"+5", 5},
      {"-5", -5},
      {"-0", 0},
      {"007", 7},
      {"12abc", 12},
      {"1 2", 1},
      {"3.9", 3},
      {"", 0},
      {"abc", 0},
      {"-", 0},
      {"+-3", 0},
      {"- 3", 0},
      {"0x1f", 0},
      {"9223372036854775807", kMax},
      {"9223372036854775808", kMax},
      {"99999999999999999999999", kMax},
      {"-9223372036854775807", kMin + 1},
      {"-9223372036854775808", kMin},
      {"-9223372036854775809", kMin},
      {"-99999999999999999999999", kMin},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ParseDecimalPrefix(c.text), c.value) << "[" << c.text << "]";
    EXPECT_EQ(ParseDecimalPrefix(Widened(c.text)), c.value) << "[" << c.text << "] as UTF-16";
  }
}

// Code units beyond ASCII are never digits, even where their low byte is one.
TEST(DecimalParse, Utf16UnitsBeyondAsciiEndTheNumber) {
  EXPECT_EQ(ParseDecimalPrefix(u"\u0131"), 0);
  EXPECT_EQ(ParseDecimalPrefix(u"4\u0132"), 4);
  EXPECT_EQ(ParseDecimalPrefix(u"\u0661"), 0);   // a digit of another script
  EXPECT_EQ(ParseDecimalPrefix(u"\u012b5"), 0);  // low byte '+'
}

TEST(DecimalParse, ClampsToNarrowerTypes) {
  EXPECT_EQ(ClampTo<int32_t>(kMax), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(ClampTo<int32_t>(kMin), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(ClampTo<int32_t>(int64_t{1} << 31), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(ClampTo<int32_t>(-(int64_t{1} << 31)), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(ClampTo<int32_t>(-7), -7);
  EXPECT_EQ(ClampTo<int16_t>(40000), 32767);
  EXPECT_EQ(ClampTo<int64_t>(kMin), kMin);
}
