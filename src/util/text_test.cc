#include "util/text.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <regex>
#include <string>
#include <vector>

namespace talvo {
namespace {

using std::string_literals::operator""s;

TEST(TextTrim, DropsEveryControlCharacterAndSpaceAtBothEnds) {
  struct Case {
    std::string in;
    std::string want;
  } cases[] = {
      {"\t12\r", "12"},
      {"      ", ""},
      {"", ""},
      {" a b ", "a b"},
      {"\x01\x1F x\x20\n", "x"},
      {"\0" "7\0"s, "7"},
      {"\x7F", "\x7F"},    // DEL is above 32: kept
      {"\xA0z\xA0", "\xA0z\xA0"},  // bytes above 127 are not blanks
  };
  for (const Case& c : cases) EXPECT_EQ(TrimBlanks(c.in), c.want) << c.in;
}

TEST(TextCut, FollowsTheOneBasedRules) {
  struct Case {
    std::string in;
    int32_t start, count;
    std::string want;
  } cases[] = {
      {"ABCDEF", 0, 2, "AB"},   // start below 1 counts as 1, count kept
      {"ABCDEF", -5, 2, "AB"},
      {"ABCDEF", INT32_MIN, 3, "ABC"},
      {"ABCDEF", 5, 10, "EF"},
      {"ABCDEF", 6, 1, "F"},
      {"ABCDEF", 7, 1, ""},
      {"ABCDEF", INT32_MAX, INT32_MAX, ""},
      {"ABCDEF", 2, -1, ""},
      {"ABCDEF", 2, 0, ""},
      {"ABCDEF", 1, INT32_MAX, "ABCDEF"},
      {"", 1, 1, ""},
      {"", 0, 0, ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CutText(c.in, c.start, c.count), c.want) << c.in << " " << c.start << " " << c.count;
  }
}

TEST(TextUpper, ChangesOnlyAsciiLowerCase) {
  EXPECT_EQ(UpperText("abc xyz 09 AZ"), "ABC XYZ 09 AZ");
  EXPECT_EQ(UpperText("`{\xE4\xFF"), "`{\xE4\xFF");  // neighbours of a..z and high bytes
  EXPECT_EQ(UpperText(""), "");
}

struct IntCase {
  std::string in;
  int32_t value;
  int32_t error_pos;
};

void ExpectIntegers(const std::vector<IntCase>& cases) {
  for (const IntCase& c : cases) {
    const IntegerParse r = ParseInteger(c.in);
    EXPECT_EQ(r.error_pos, c.error_pos) << '"' << c.in << '"';
    EXPECT_EQ(r.value, c.value) << '"' << c.in << '"';
  }
}

TEST(TextParseInteger, ReadsDecimalWithSignAndLeadingSpaces) {
  ExpectIntegers({
      {"0", 0, 0},
      {"7", 7, 0},
      {"+7", 7, 0},
      {"-7", -7, 0},
      {" 7", 7, 0},
      {"   -12", -12, 0},
      {"007", 7, 0},
      {"-0", 0, 0},
      {"2147483647", 2147483647, 0},
      {"-2147483648", INT32_MIN, 0},
      {"00000000002147483647", 2147483647, 0},  // leading zeros do not count
  });
}

TEST(TextParseInteger, ReadsHexadecimalAfterEachPrefix) {
  ExpectIntegers({
      {"0x1A", 26, 0},
      {"0X1a", 26, 0},
      {"x1A", 26, 0},
      {"X1a", 26, 0},
      {"$1F", 31, 0},
      {"$0A", 10, 0},
      {"  $ff", 255, 0},
      {"$7FFFFFFF", INT32_MAX, 0},
      {"$80000000", INT32_MIN, 0},
      {"$FFFFFFFF", -1, 0},
      {"0x0FFFFFFFF", -1, 0},  // a leading zero is not a significant digit
      {"$000000000001", 1, 0},
  });
}

TEST(TextParseInteger, ReportsThePositionAndTheMagnitudeReadOnError) {
  ExpectIntegers({
      {"", 0, 1},
      {"   ", 0, 4},         // only spaces: just past the end
      {"-", 0, 2},
      {"+", 0, 2},
      {"  -", 0, 4},
      {"$", 0, 2},
      {"x", 0, 2},
      {"0x", 0, 3},
      {" 0X", 0, 4},
      {"7 ", 7, 2},          // trailing blank
      {"12a", 12, 3},
      {"-12a", 12, 4},       // the magnitude, without the sign
      {"- 5", 0, 2},
      {"\t7", 0, 1},         // only spaces are skipped
      {"7\t", 7, 2},
      {"-$5", 0, 2},         // hexadecimal has no sign
      {"+$5", 0, 2},
      {"-x5", 0, 2},
      {"-0x5", 0, 3},        // decimal 0, then a stray x
      {"00x1", 0, 3},
      {"$G", 0, 2},
      {"0x1G", 1, 4},
      {"$12 ", 18, 4},
      {"1,5", 1, 2},
      {"1.0", 1, 2},
      {"1e3", 1, 2},
      {"--1", 0, 2},
      {"0xx1", 0, 3},
  });
}

TEST(TextParseInteger, RejectsValuesBeyond32BitsWithoutOverflowing) {
  ExpectIntegers({
      // Final range check: error just past the end, the magnitude's 32 bits kept.
      {"2147483648", INT32_MIN, 11},
      {"2147483649", -2147483647, 11},
      {"-2147483649", -2147483647, 12},
      {"+2147483648", INT32_MIN, 12},
      // A value above 214748364 cannot take another digit.
      {"21474836470", 2147483647, 11},
      {"99999999999999999999", 999999999, 10},
      {"-99999999999", 999999999, 11},
      {"4294967296", 429496729, 10},
      // At most 8 significant hexadecimal digits.
      {"$100000000", 268435456, 10},
      {"0x123456789", 305419896, 11},
      {"$FFFFFFFF0", -1, 10},
      {"xFFFFFFFFFFFFFFFF", -1, 10},
  });
}

// A second opinion on the integer syntax, written as a pattern.
bool MatchesIntegerSyntax(const std::string& text, int64_t* value) {
  static const std::regex decimal("^ *([+-]?)([0-9]+)$");
  static const std::regex hex("^ *(\\$|x|X|0x|0X)([0-9A-Fa-f]+)$");
  std::smatch m;
  if (std::regex_match(text, m, decimal)) {
    const int64_t v = std::stoll(m[2].str());
    *value = m[1] == "-" ? -v : v;
    return true;
  }
  if (std::regex_match(text, m, hex)) {
    *value = static_cast<int32_t>(static_cast<uint32_t>(std::stoul(m[2].str(), nullptr, 16)));
    return true;
  }
  return false;
}

TEST(TextParseInteger, AgreesWithThePatternOverEveryShortText) {
  const std::string alphabet = " -+$xX0x19Fa\t.";
  std::vector<std::string> texts = {""};
  for (std::size_t begin = 0, length = 1; length <= 4; ++length) {
    const std::size_t end = texts.size();
    for (std::size_t i = begin; i < end; ++i) {
      for (char c : alphabet) texts.push_back(texts[i] + c);
    }
    begin = end;
  }
  int integers = 0;
  for (const std::string& t : texts) {
    int64_t want = 0;
    const bool is_integer = MatchesIntegerSyntax(t, &want);
    const IntegerParse r = ParseInteger(t);
    ASSERT_EQ(IsIntegerText(t), is_integer) << '"' << t << '"';
    ASSERT_EQ(r.error_pos == 0, is_integer) << '"' << t << '"';
    if (is_integer) {
      ++integers;
      ASSERT_EQ(r.value, want) << '"' << t << '"';
    } else {
      ASSERT_GE(r.error_pos, 1) << '"' << t << '"';
      ASSERT_LE(static_cast<std::size_t>(r.error_pos), t.size() + 1) << '"' << t << '"';
      ASSERT_GE(r.value, 0) << '"' << t << '"';  // short texts: a magnitude
    }
  }
  EXPECT_GT(integers, 1000);
}

TEST(TextIsIntegerText, AllowsLeadingButNotTrailingBlanks) {
  struct Case {
    std::string in;
    bool want;
  } cases[] = {
      {" 12", true}, {"12 ", false}, {"$0A", true}, {"", false}, {" ", false},
      {"-5", true},  {"\t5", false}, {"5\r", false}, {"x", false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsIntegerText(c.in), c.want) << '"' << c.in << '"';
}

TEST(TextIsAlphanumeric, AcceptsOnlyAsciiLettersAndDigits) {
  struct Case {
    std::string in;
    bool want;
  } cases[] = {
      {"A1b2", true}, {"A-1", false}, {"\xC4", false}, {"", true},  {"Zz09", true},
      {"a b", false}, {"@", false},   {"[", false},    {"`", false}, {"{", false},
      {"/", false},   {":", false},   {"\xFF", false}, {"\0"s, false},
  };
  for (const Case& c : cases) EXPECT_EQ(IsAlphanumericText(c.in), c.want) << '"' << c.in << '"';
}

TEST(TextToIntDef, TrimsAndFallsBackToZero) {
  struct Case {
    std::string in;
    int32_t want;
  } cases[] = {
      {" 12 ", 12}, {"12a", 0},    {"-3", -3},  {"", 0},           {"   ", 0},
      {"\t7\r\n", 7}, {"$1F", 31}, {"- 3", 0}, {"2147483648", 0}, {"99999999999", 0},
  };
  for (const Case& c : cases) EXPECT_EQ(TextToIntDef(c.in), c.want) << '"' << c.in << '"';
}

TEST(TextToIntDef, ReadsBackEveryWrittenValue) {
  std::vector<int32_t> values = {0, 1, -1, 9, 10, -10, INT32_MAX, INT32_MIN, INT32_MAX - 1,
                                 INT32_MIN + 1, 214748364, 214748365, -214748365};
  uint32_t x = 12345;
  for (int i = 0; i < 20000; ++i) {
    x = x * 1664525u + 1013904223u;
    values.push_back(static_cast<int32_t>(x));
    values.push_back(static_cast<int32_t>(x >> (x % 31)));  // short ones too
  }
  for (int32_t v : values) {
    const std::string text = Int64ToText(v);
    ASSERT_EQ(TextToIntDef(text), v) << text;
    ASSERT_EQ(ParseInteger(text).error_pos, 0) << text;
  }
}

TEST(TextNumbersToText, WritesPlainAndAlignedDecimals) {
  EXPECT_EQ(Int64ToText(0), "0");
  EXPECT_EQ(Int64ToText(-7), "-7");
  EXPECT_EQ(Int64ToText(1234567890123), "1234567890123");
  EXPECT_EQ(Int64ToText(INT64_MAX), "9223372036854775807");
  EXPECT_EQ(Int64ToText(INT64_MIN), "-9223372036854775808");

  struct Case {
    int32_t value, width;
    std::string spaces, zeros;
  } cases[] = {
      {5, 2, " 5", "05"},
      {123, 2, "123", "123"},
      {-5, 3, " -5", "0-5"},
      {2026, 4, "2026", "2026"},
      {0, 0, "0", "0"},
      {7, -3, "7", "7"},
      {0, 3, "  0", "000"},
      {INT32_MIN, 12, " -2147483648", "0-2147483648"},
      {INT32_MAX, 1, "2147483647", "2147483647"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IntToTextWidth(c.value, c.width), c.spaces) << c.value << " in " << c.width;
    EXPECT_EQ(IntToTextZeroPad(c.value, c.width), c.zeros) << c.value << " in " << c.width;
  }
}

TEST(TextRepeatAndPad, NeverCutAndIgnoreNegativeCounts) {
  EXPECT_EQ(RepeatChar(-3, 'x'), "");
  EXPECT_EQ(RepeatChar(0, 'x'), "");
  EXPECT_EQ(RepeatChar(INT32_MIN, 'x'), "");
  EXPECT_EQ(RepeatChar(3, '*'), "***");
  EXPECT_EQ(PadRight("0521", 16, ' '), "0521            ");
  EXPECT_EQ(PadRight("0521", 4, ' '), "0521");
  EXPECT_EQ(PadRight("052123", 4, ' '), "052123");
  EXPECT_EQ(PadRight("05", -1, ' '), "05");
  EXPECT_EQ(PadRight("", 2, '0'), "00");
}

TEST(TextCompare, OrdersUnsignedBytesWithPrefixFirst) {
  struct Case {
    std::string a, b;
    int sign;
  } cases[] = {
      {"", "", 0},           {"", " ", -1},       {"abc", "abc", 0},  {"ab", "abc", -1},
      {"abd", "abc", 1},     {"\x80", "z", 1},    {"\xFF", "\x7F", 1}, {"        ", "       1", -1},
      {"\t", "        ", -1}, {"0\0"s, "0", 1},
  };
  for (const Case& c : cases) {
    const int got = CompareText(c.a, c.b);
    EXPECT_EQ((got > 0) - (got < 0), c.sign) << '"' << c.a << "\" vs \"" << c.b << '"';
    const int back = CompareText(c.b, c.a);
    EXPECT_EQ((back > 0) - (back < 0), -c.sign) << '"' << c.b << "\" vs \"" << c.a << '"';
  }
}

TEST(TextParseReal, ReadsTheDecimalSyntax) {
  struct Case {
    std::string in;
    double want;
  } cases[] = {
      {"0", 0.0},         {"1.5", 1.5},       {".5", 0.5},     {"5.", 5.0},
      {".", 0.0},         {"-.", 0.0},        {"+2", 2.0},     {"-2.25", -2.25},
      {"  3", 3.0},       {"1e3", 1000.0},    {"1E3", 1000.0}, {"1.5e+2", 150.0},
      {"25e-1", 2.5},     {".5e1", 5.0},      {"5.e1", 50.0},  {"007.50", 7.5},
      {"0.1", 0.1},       {"123456789012345678901234567890", 1.2345678901234568e29},
      {"9007199254740993", 9007199254740992.0},   // halfway: to even
      {"9007199254740995", 9007199254740996.0},
      {"2.2250738585072011e-308", 2.2250738585072011e-308},
      {"1.7976931348623157e308", std::numeric_limits<double>::max()},
      {"4.9406564584124654e-324", std::numeric_limits<double>::denorm_min()},
      {"0.000000000000000000000000000001", 1e-30},
      {"100000000000000000000000000000e-28", 10.0},
      {"0e999999999999999999", 0.0},
  };
  for (const Case& c : cases) {
    const RealParse r = ParseReal(c.in);
    EXPECT_EQ(r.error_pos, 0) << '"' << c.in << '"';
    EXPECT_EQ(r.value, c.want) << '"' << c.in << '"';
  }
  EXPECT_TRUE(std::signbit(ParseReal("-0").value));
  EXPECT_FALSE(std::signbit(ParseReal("+0.0").value));
}

TEST(TextParseReal, KeepsValuesOutOfRangeAsInfinityOrZero) {
  struct Case {
    std::string in;
    double want;
  } cases[] = {
      {"1e309", HUGE_VAL},
      {"-1.8e308", -HUGE_VAL},
      {"1e99999999999999999999", HUGE_VAL},
      {"1e-400", 0.0},
      {"2e-324", 0.0},
      {"1e-99999999999999999999", 0.0},
      {"0." + std::string(400, '0') + "1e400", 0.1},  // leading zeros are no magnitude
      {"1" + std::string(400, '0') + "e-400", 1.0},
  };
  for (const Case& c : cases) {
    const RealParse r = ParseReal(c.in);
    EXPECT_EQ(r.error_pos, 0) << '"' << c.in << '"';
    EXPECT_EQ(r.value, c.want) << '"' << c.in << '"';
  }
}

TEST(TextParseReal, ReportsTheFirstCharacterThatDoesNotFit) {
  struct Case {
    std::string in;
    int32_t error_pos;
  } cases[] = {
      {"", 1},      {" ", 2},      {"+", 2},      {"-", 2},      {"  -", 4},
      {"1,5", 2},   {"1.5 ", 4},   {"1.2.3", 4},  {"inf", 1},    {"-inf", 2},
      {"nan", 1},   {"0x1p3", 2},  {"1e", 3},     {"1e+", 4},    {"1E-", 4},
      {"1ex", 3},   {"1e5.", 4},   {"1e 5", 3},   {"e5", 1},     {"+e5", 2},
      {"\t1", 1},   {"1\r", 2},    {"--1", 2},    {"1-", 2},     {"$5", 1},
  };
  for (const Case& c : cases) {
    const RealParse r = ParseReal(c.in);
    EXPECT_EQ(r.error_pos, c.error_pos) << '"' << c.in << '"';
    EXPECT_EQ(r.value, 0.0) << '"' << c.in << '"';
  }
}

}  // namespace
}  // namespace talvo
