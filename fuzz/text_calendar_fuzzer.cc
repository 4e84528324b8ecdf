// The text and calendar routines against plain readings written here.
//
// Input: bytes 0..3 and 4..7 are two 32-bit numbers (little-endian), bytes
// 8..15 a 64-bit number, the rest a text; a short input is padded with zeros.
//
// Checked:
//  - ParseInteger and IsIntegerText agree with a reading of the integer syntax
//    (value included), and TextToIntDef with both;
//  - ParseReal succeeds exactly on its syntax, and gives the value of
//    std::from_chars wherever both define one;
//  - DayNumberToDate and DateToDayNumber invert each other over the
//    calendar's range, and agree with std::chrono on civil dates;
//  - TrimBlanks, CutText, PadRight, UpperText, IsAlphanumericText,
//    CompareText, RepeatChar and the number-to-text routines keep their
//    contracts.
#include <algorithm>
#include <charconv>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <optional>
#include <string>
#include <string_view>

#include "fuzz_check.h"
#include "util/calendar.h"
#include "util/text.h"

namespace {

constexpr char kFuzzTarget[] = "text_calendar_fuzzer";

bool Digit(char c) { return c >= '0' && c <= '9'; }
bool HexDigit(char c) { return Digit(c) || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'); }
int HexValue(char c) { return Digit(c) ? c - '0' : (c | 0x20) - 'a' + 10; }

// Spaces (0x20 only), then "+"/"-" and decimal digits within the 32-bit
// range, or "$", "x", "X", "0x", "0X" and hexadecimal digits of at most 8
// significant digits read as 32 signed bits.
std::optional<int32_t> ReferenceInteger(std::string_view t) {
  while (!t.empty() && t.front() == ' ') t.remove_prefix(1);
  if (t.empty()) return std::nullopt;
  std::string_view digits;
  bool hex = true;
  if (t[0] == '$' || t[0] == 'x' || t[0] == 'X') {
    digits = t.substr(1);
  } else if (t.size() >= 2 && t[0] == '0' && (t[1] == 'x' || t[1] == 'X')) {
    digits = t.substr(2);
  } else {
    hex = false;
    digits = (t[0] == '+' || t[0] == '-') ? t.substr(1) : t;
  }
  if (digits.empty()) return std::nullopt;
  if (!std::all_of(digits.begin(), digits.end(), hex ? HexDigit : Digit)) return std::nullopt;
  const std::size_t first = std::min(digits.find_first_not_of('0'), digits.size());
  const std::string_view significant = digits.substr(first);
  if (hex) {
    if (significant.size() > 8) return std::nullopt;
    uint32_t v = 0;
    for (char c : significant) v = v * 16u + static_cast<uint32_t>(HexValue(c));
    return static_cast<int32_t>(v);
  }
  if (significant.size() > 10) return std::nullopt;
  int64_t v = 0;
  for (char c : significant) v = v * 10 + (c - '0');
  if (t[0] == '-') v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(v);
}

// Spaces, an optional sign, digits, an optional point and digits (a digit or
// the point present), an optional exponent with at least one digit.
bool ReferenceRealSyntax(std::string_view t) {
  std::size_t i = 0;
  const std::size_t n = t.size();
  while (i < n && t[i] == ' ') ++i;
  if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
  bool mantissa = false;
  while (i < n && Digit(t[i])) ++i, mantissa = true;
  if (i < n && t[i] == '.') {
    mantissa = true;
    for (++i; i < n && Digit(t[i]); ++i) {
    }
  }
  if (!mantissa) return false;
  if (i < n && (t[i] == 'e' || t[i] == 'E')) {
    ++i;
    if (i < n && (t[i] == '+' || t[i] == '-')) ++i;
    if (i == n || !Digit(t[i])) return false;
    while (i < n && Digit(t[i])) ++i;
  }
  return i == n;
}

void CheckNumbers(std::string_view text) {
  const std::optional<int32_t> want = ReferenceInteger(text);
  const talvo::IntegerParse got = talvo::ParseInteger(text);
  FUZZ_CHECK(talvo::IsIntegerText(text) == want.has_value());
  FUZZ_CHECK((got.error_pos == 0) == want.has_value());
  if (want) FUZZ_CHECK(got.value == *want);
  if (!want) FUZZ_CHECK(got.error_pos >= 1 && static_cast<std::size_t>(got.error_pos) <= text.size() + 1);
  const std::optional<int32_t> trimmed = ReferenceInteger(talvo::TrimBlanks(text));
  FUZZ_CHECK(talvo::TextToIntDef(text) == trimmed.value_or(0));

  const talvo::RealParse real = talvo::ParseReal(text);
  const bool syntax = ReferenceRealSyntax(text);
  FUZZ_CHECK((real.error_pos == 0) == syntax);
  if (!syntax) {
    FUZZ_CHECK(real.value == 0);
    return;
  }
  // from_chars takes no spaces and no "+", and no mantissa without a digit.
  std::string normal(text.substr(std::min(text.find_first_not_of(' '), text.size())));
  if (!normal.empty() && normal[0] == '+') normal.erase(0, 1);
  const std::size_t mantissa_start = (!normal.empty() && normal[0] == '-') ? 1 : 0;
  const bool has_digit =
      std::any_of(normal.begin() + static_cast<std::ptrdiff_t>(mantissa_start),
                  std::find_if(normal.begin(), normal.end(), [](char c) { return c == 'e' || c == 'E'; }), Digit);
  if (!has_digit) {
    FUZZ_CHECK(real.value == 0);  // "." and ".e5" read as zero
    return;
  }
  double value = 0;
  const auto r = std::from_chars(normal.data(), normal.data() + normal.size(), value);
  if (r.ec == std::errc() && r.ptr == normal.data() + normal.size()) {
    FUZZ_CHECK(std::memcmp(&value, &real.value, sizeof value) == 0);  // the sign of zero included
  }
}

bool LeapYear(int32_t year) { return year % 4 == 0; }

int32_t DaysInMonth(int32_t year, int32_t month) {
  static constexpr int32_t kDays[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return month == 2 && LeapYear(year) ? 29 : kDays[month - 1];
}

// Day 730135 is 1 January 2000; the civil calendar agrees from 1901 to 2099.
int32_t CivilDayNumber(int32_t year, int32_t month, int32_t day) {
  using namespace std::chrono;
  const sys_days d{year_month_day{std::chrono::year{year}, std::chrono::month{static_cast<unsigned>(month)},
                                  std::chrono::day{static_cast<unsigned>(day)}}};
  const sys_days base{year_month_day{std::chrono::year{2000}, January, std::chrono::day{1}}};
  return static_cast<int32_t>((d - base).count()) + 730135;
}

int32_t Pair(std::string_view t, std::size_t at) { return (t[at] - '0') * 10 + (t[at + 1] - '0'); }

void CheckCalendar(std::string_view text, int32_t day_number) {
  // Day number -> text -> day number.
  const std::string written = talvo::DayNumberToDate(day_number);
  FUZZ_CHECK(written.size() == 6);
  if (day_number < talvo::kFirstWritableDay || day_number > talvo::kLastWritableDay) {
    FUZZ_CHECK(written == "      ");
  } else {
    FUZZ_CHECK(std::all_of(written.begin(), written.end(), Digit));
    const int32_t yy = Pair(written, 0);
    const int32_t year = yy >= 60 && yy <= 89 ? 1900 + yy : (yy <= 89 ? 2000 + yy : 1900 + yy);
    const int32_t month = Pair(written, 2);
    const int32_t day = Pair(written, 4);
    FUZZ_CHECK(month >= 1 && month <= 12);
    FUZZ_CHECK(day >= 1 && day <= DaysInMonth(year, month));
    FUZZ_CHECK(CivilDayNumber(year, month, day) == day_number);
    // 1960..1989 are written with two digits and read back a century later.
    const int32_t century = yy >= 60 && yy <= 89 ? 36525 : 0;
    FUZZ_CHECK(talvo::DateToDayNumber(written) == day_number + century);
  }

  // Text -> day number -> text.
  const int32_t n = talvo::DateToDayNumber(text);
  FUZZ_CHECK(n >= 0);
  if (text.size() >= 6 && std::all_of(text.begin(), text.begin() + 6, Digit)) {
    const int32_t yy = Pair(text, 0);
    const int32_t year = yy <= 89 ? 2000 + yy : 1900 + yy;
    const int32_t month = Pair(text, 2);
    const int32_t day = Pair(text, 4);
    if (month < 1 || month > 12 || day < 1 || day > 31) {
      FUZZ_CHECK(n == 0);
    } else if (day <= DaysInMonth(year, month)) {
      FUZZ_CHECK(n == CivilDayNumber(year, month, day));
      if (year <= 2059) FUZZ_CHECK(talvo::DayNumberToDate(n) == text.substr(0, 6));
    }
  }
}

void CheckTexts(std::string_view text, int32_t a, int32_t b, int64_t c) {
  const auto blank = [](char ch) { return static_cast<unsigned char>(ch) <= 32; };
  const std::string_view trimmed = talvo::TrimBlanks(text);
  FUZZ_CHECK(trimmed.empty() || (!blank(trimmed.front()) && !blank(trimmed.back())));
  if (trimmed.empty()) FUZZ_CHECK(std::all_of(text.begin(), text.end(), blank));
  if (!trimmed.empty()) {
    FUZZ_CHECK(std::all_of(text.begin(), text.begin() + static_cast<std::ptrdiff_t>(trimmed.data() - text.data()), blank));
    FUZZ_CHECK(std::all_of(trimmed.data() + trimmed.size(), text.data() + text.size(), blank));
  }

  // CutText: 1-based start (below 1 counts as 1), a negative count is empty.
  std::string_view want_cut;
  const int64_t from = a < 1 ? 0 : int64_t{a} - 1;
  if (b >= 0 && from < static_cast<int64_t>(text.size())) {
    want_cut = text.substr(static_cast<std::size_t>(from), static_cast<std::size_t>(b));
  }
  FUZZ_CHECK(talvo::CutText(text, a, b) == want_cut);

  const int32_t width = a % 300;
  const std::string padded = talvo::PadRight(text, width, '*');
  FUZZ_CHECK(padded.compare(0, text.size(), text) == 0);
  FUZZ_CHECK(padded.size() == std::max<std::size_t>(text.size(), width > 0 ? static_cast<std::size_t>(width) : 0));
  FUZZ_CHECK(talvo::RepeatChar(width, 'z') == (width > 0 ? std::string(static_cast<std::size_t>(width), 'z') : ""));

  const std::string upper = talvo::UpperText(text);
  FUZZ_CHECK(upper.size() == text.size());
  for (std::size_t i = 0; i < text.size(); ++i) {
    const char ch = text[i];
    FUZZ_CHECK(upper[i] == (ch >= 'a' && ch <= 'z' ? static_cast<char>(ch - 32) : ch));
  }
  const bool alnum = std::all_of(text.begin(), text.end(), [](char ch) {
    return Digit(ch) || (ch >= 'a' && ch <= 'z') || (ch >= 'A' && ch <= 'Z');
  });
  FUZZ_CHECK(talvo::IsAlphanumericText(text) == alnum);

  const std::string_view half = text.substr(text.size() / 2);
  const std::string_view head = text.substr(0, text.size() / 2);
  const int cmp = talvo::CompareText(head, half);
  const int want_cmp = std::lexicographical_compare(head.begin(), head.end(), half.begin(), half.end(),
                                                    [](char x, char y) {
                                                      return static_cast<unsigned char>(x) <
                                                             static_cast<unsigned char>(y);
                                                    })
                           ? -1
                           : (head == half ? 0 : 1);
  FUZZ_CHECK((cmp < 0) == (want_cmp < 0) && (cmp == 0) == (want_cmp == 0));

  FUZZ_CHECK(talvo::Int64ToText(c) == std::to_string(c));
  const std::string spaced = talvo::IntToTextWidth(a, b % 40);
  FUZZ_CHECK(spaced.size() == std::max<std::size_t>(std::to_string(a).size(),
                                                    b % 40 > 0 ? static_cast<std::size_t>(b % 40) : 0));
  FUZZ_CHECK(talvo::TextToIntDef(spaced) == a);
  const std::string zeros = talvo::IntToTextZeroPad(a, b % 40);
  FUZZ_CHECK(zeros.size() == spaced.size());
  if (a >= 0) FUZZ_CHECK(talvo::ParseInteger(zeros).value == a && talvo::IsIntegerText(zeros));
}

template <typename T>
T Read(const uint8_t* p) {
  T v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
  uint8_t head[16] = {};
  std::memcpy(head, data, std::min<std::size_t>(size, sizeof head));
  const auto a = Read<int32_t>(head);
  const auto b = Read<int32_t>(head + 4);
  const auto c = Read<int64_t>(head + 8);
  const std::string_view text =
      size > sizeof head ? std::string_view(reinterpret_cast<const char*>(data) + sizeof head, size - sizeof head)
                         : std::string_view();

  CheckNumbers(text);
  CheckCalendar(text, a);
  // Day numbers near the calendar's range are the interesting ones.
  CheckCalendar(text, talvo::kFirstWritableDay - 2 +
                          static_cast<int32_t>(static_cast<uint32_t>(b) %
                                               static_cast<uint32_t>(talvo::kLastWritableDay -
                                                                     talvo::kFirstWritableDay + 5)));
  CheckTexts(text, a, b, c);
  return 0;
}
