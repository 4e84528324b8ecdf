// Dates as six-character texts YYMMDD and as day numbers.
//
// Two-digit years 00..89 are 2000..2089, 90..99 are 1990..1999.
// A day number counts days from 1 January of year 1 (day 1) in a calendar
// where every year divisible by 4 is a leap year; from 1901 to 2099 it agrees
// with the civil calendar. 1 January 2000 is day 730135.
#ifndef TALVO_UTIL_CALENDAR_H_
#define TALVO_UTIL_CALENDAR_H_

#include <cstdint>
#include <string>
#include <string_view>

namespace talvo {

// A calendar date of the local clock.
struct LocalDate {
  int year = 2000;  // four digits
  int month = 1;    // 1..12
  int day = 1;      // 1..31
};

// Day number of 1 January 1960 and of 31 December 2059: the range that
// DayNumberToDate writes.
inline constexpr int32_t kFirstWritableDay = 715525;
inline constexpr int32_t kLastWritableDay = 752049;

// The day number of a date text YYMMDD (only the first 6 of its first 8
// characters count), or 0 when the text is not a date: empty, blank, starting
// with a control character, a year, month or day that is not an integer, a
// month outside 1..12 or a day outside 1..31. The day is not checked against
// the month's length, so "990231" is 3 March 1999.
int32_t DateToDayNumber(std::string_view date);

// The date text YYMMDD of a day number from kFirstWritableDay to
// kLastWritableDay, or six spaces outside. Years 1960..1989 are written with
// two digits and so read back as 2060..2089.
std::string DayNumberToDate(int32_t day);

}  // namespace talvo

#endif  // TALVO_UTIL_CALENDAR_H_
