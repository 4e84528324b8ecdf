#include "parse/field_decoders.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

namespace talvo {
namespace {

TEST(ParseIntField, BlankIsZeroAndBadTextClearsTheFlag) {
  struct Case {
    std::string_view in;
    int32_t want;
    bool ok;
  } cases[] = {
      {"", 0, true},     {"   ", 0, true},  {" 42 ", 42, true}, {"-7", -7, true}, {"$1F", 31, true},
      {"12A", 12, false}, {"A12", 0, false}, {"-12x", 12, false}, {"\t5\r", 5, true},
  };
  for (const Case& c : cases) {
    bool ok = true;
    EXPECT_EQ(ParseIntField(c.in, ok), c.want) << '"' << c.in << '"';
    EXPECT_EQ(ok, c.ok) << '"' << c.in << '"';
  }
}

TEST(ParseRealField, FirstCommaIsTheDecimalPoint) {
  struct Case {
    std::string_view in;
    double want;
    bool ok;
  } cases[] = {
      {"1,5", 1.5, true}, {" 2.25 ", 2.25, true}, {"", 0.0, true}, {"  ", 0.0, true},
      {"1,5,0", 0.0, false}, {"1.5,0", 0.0, false}, {"abc", 0.0, false}, {",5", 0.5, true},
  };
  for (const Case& c : cases) {
    bool ok = true;
    const double got = ParseRealField(c.in, ok);
    EXPECT_EQ(ok, c.ok) << '"' << c.in << '"';
    if (c.ok) {
      EXPECT_DOUBLE_EQ(got, c.want) << '"' << c.in << '"';
    }
  }
}

TEST(ExtractDigits, KeepsDigitsUntilABlankAfterThem) {
  struct Case {
    std::string_view line;
    uint8_t column, width;
    std::string_view want;
  } cases[] = {
      {"  12-34 56", 1, 10, "1234"},  // the blank after "34" ends the field
      {"  12-34 56", 1, 3, "1"},      // only columns 1 to 3
      {"  12-34 56", 3, 3, "12"},
      {"ABC", 1, 3, ""},
      {"  12", 1, 0, ""},             // width 0 reads nothing
      {"12345", 0, 3, "12"},          // column 0 scans columns 1 to width - 1
      {"12345", 9, 3, ""},            // past the end of the line
      {"*0*5*2*1", 1, 8, "0521"},
      {std::string_view("1\x00" "2", 3), 1, 3, "12"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ExtractDigits(c.line, c.column, c.width).view(), c.want)
        << '"' << c.line << "\" col " << int{c.column} << " width " << int{c.width};
  }
}

TEST(ExtractDigits, KeepsAtMostTwentyFourDigits) {
  const std::string line = std::string(30, '7') + " 99";
  EXPECT_EQ(ExtractDigits(line, 1, 255).view(), std::string(24, '7'));
  // The field still ends at the first blank after its digits.
  EXPECT_EQ(ExtractDigits("1 " + std::string(30, '8'), 1, 255).view(), "1");
}

TEST(ExtractAlphanumerics, KeepsAsciiLettersAndDigits) {
  EXPECT_EQ(ExtractAlphanumerics("  Ab-1c 9", 1, 10).view(), "Ab1c");
  EXPECT_EQ(ExtractAlphanumerics("\xc4x\xe9y", 1, 4).view(), "xy");
}

TEST(ApplyTrunkBase, AddsAsNumberOrJoinsAsText) {
  struct Case {
    std::string_view base, trunk;
    bool as_text;
    std::string_view want;
  } cases[] = {
      {"100", "23", false, "123"},    {"100", "23", true, "10023"},
      {"12345", "678", true, "123456"}, {"A", "23", false, "23"},
      {"", "23", false, "23"},         {"", "23", true, "23"},
      {"100", "0", false, "100"},      {"100", "0", true, "1000"},
      {"100", "1x", false, "1x"}, {"100", "x1", false, "101"},      {"$10", "1", false, "17"},
      {"-5", "3", false, "-2"},        {"999999", "999999", false, "199999"},  // the sum is cut to 6
  };
  for (const Case& c : cases) {
    EXPECT_EQ(ApplyTrunkBase(c.base, c.trunk, c.as_text).view(), c.want)
        << "base \"" << c.base << "\" trunk \"" << c.trunk << "\" as_text " << c.as_text;
  }
}

TEST(ScalePulses, RoundsHalfToEvenAndRefusesWhatNoIntegerHolds) {
  struct Case {
    int32_t mult;
    double x;
    int32_t want;
    bool ok;
  } cases[] = {
      {3, 2.5, 8, true},  // 7.5 rounds to the even 8
      {1, 0.5, 0, true},  {1, 1.5, 2, true},  {1, -2.5, -2, true}, {1, 2.4999, 2, true},
      {2, 1e9, 2000000000, true},
      {1, 4294967296.0 + 5, 5, true},  // kept to 32 bits
      {1, std::numeric_limits<double>::infinity(), 0, false},
      {1, std::numeric_limits<double>::quiet_NaN(), 0, false},
      {1, 1e300, 0, false},
      {1, -1e19, 0, false},
  };
  for (const Case& c : cases) {
    bool ok = true;
    const int32_t got = ScalePulses(c.mult, c.x, ok);
    EXPECT_EQ(ok, c.ok) << c.mult << " x " << c.x;
    if (c.ok) {
      EXPECT_EQ(got, c.want) << c.mult << " x " << c.x;
    }
  }
}

}  // namespace
}  // namespace talvo
