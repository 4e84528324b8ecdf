#include "util/calendar.h"

#include "util/text.h"

namespace talvo {
namespace {

// Days before each month in a common year, January to December.
constexpr int32_t kDaysBeforeMonth[12] = {0, 31, 59, 90, 120, 151, 181, 212, 243, 273, 304, 334};

// Days in a cycle of three common years and one leap year.
constexpr int32_t kDaysPerCycle = 4 * 365 + 1;

// Day within a cycle (1-based) of 29 February of the cycle's fourth year, less one.
constexpr int32_t kLastDayBeforeLeapDay = 3 * 365 + 31 + 28;

// The value of a two-character date piece, or -1 when it is not an integer.
int32_t DatePiece(std::string_view text, int32_t start) {
  const IntegerParse r = ParseInteger(CutText(text, start, 2));
  return r.error_pos == 0 ? r.value : -1;
}

}  // namespace

int32_t DateToDayNumber(std::string_view date) {
  const std::string_view text = date.substr(0, 8);
  if (CompareText(text, "        ") <= 0) return 0;

  const IntegerParse yy = ParseInteger(CutText(text, 1, 2));
  if (yy.error_pos != 0) return 0;
  // Two characters give -9..99 (hexadecimal "$F" is 15, a sign is allowed).
  const int32_t year = yy.value <= 89 ? 2000 + yy.value : 1900 + yy.value;

  const int32_t month = DatePiece(text, 3);
  if (month < 1 || month > 12) return 0;
  const int32_t day = DatePiece(text, 5);
  if (day < 1 || day > 31) return 0;

  int32_t n = kDaysBeforeMonth[month - 1] + day;
  if (year % 4 == 0 && month > 2) n += 1;
  const int32_t y = year - 1;
  return n + y * 365 + y / 4;
}

std::string DayNumberToDate(int32_t day) {
  if (day < kFirstWritableDay || day > kLastWritableDay) return "      ";

  const int32_t cycles = (day - 1) / kDaysPerCycle;
  int32_t r = day - cycles * kDaysPerCycle;  // 1..1461
  int32_t year = 4 * cycles;
  // From 29 February of the leap year on, one day more than a common year.
  int32_t leap = r > kLastDayBeforeLeapDay ? 1 : 0;
  const int32_t y = (r - leap - 1) / 365;  // 0..3
  r -= y * 365;
  year += y + 1;

  int32_t month = 1;
  for (int32_t m = 12; m >= 1; --m) {
    if (kDaysBeforeMonth[m - 1] < r - leap) {
      month = m;
      break;
    }
  }
  // January and February of the leap year (29 February included) need no
  // correction: the extra day comes after them.
  if (r < 61 && y == 3) leap = 0;
  const int32_t day_of_month = r - leap - kDaysBeforeMonth[month - 1];

  return IntToTextZeroPad(year % 100, 2) + IntToTextZeroPad(month, 2) +
         IntToTextZeroPad(day_of_month, 2);
}

}  // namespace talvo
