// Dates, times of day, durations and ring time of a call, and the steps that
// decode them for each call kind.
//
// Conventions:
//  1. Dates are six-character texts YYMMDD (two-digit years 00..89 are
//     2000..2089, 90..99 are 1990..1999).
//  2. Decoders that take a success flag only ever clear it; a bad date or
//     time never stops the decode, and whatever was read is still written.
//  3. Arithmetic wraps as the record's fields do: minutes of a time of day
//     are unsigned 16-bit, seconds are signed 32-bit.
//  4. "Today" is the local date of the platform layer the Driver was given;
//     the pure decoders take it as an argument.
#ifndef TALVO_PARSE_DATE_TIME_H_
#define TALVO_PARSE_DATE_TIME_H_

#include <cstdint>
#include <string_view>

#include "parse/record_decode.h"
#include "util/calendar.h"
#include "util/short_text.h"

namespace talvo {

// Seconds in a day, and the longest a call over midnight may run (20 hours)
// before its start and end times are taken to be inconsistent.
inline constexpr int32_t kSecondsPerDay = 86400;
inline constexpr int32_t kLongestCallOverMidnight = 72000;

// ---- Pure decoders ----------------------------------------------------------

// Writes year + month + day (two characters each, cut at the given 1-based
// columns of `line`) into `call_date`, kept to 6, whether or not the date is
// valid. A `year_col` of 0 means the report prints no year: the year is
// `today`'s, or last year's when the report's month comes after today's (a
// December call read in January; months of digits are compared as numbers,
// so " 2" is February). `today` is not used when the year is printed. While
// `ok` is true, blanks in the date
// become "0"; `ok` is cleared unless the text is six digits with a month
// 01..12 and a day 01..31. The day is not tested against the month's length
// ("990231" passes) and the year is not tested at all.
void DecodeCallDate(std::string_view line, uint8_t year_col, uint8_t month_col, uint8_t day_col,
                    const LocalDate& today, bool& ok, ShortText<6>& call_date);

// The date of day `day_of_year` (1 = 1 January) of `today`'s year, or of last
// year when that day falls in a month after today's month or past the end of
// this year; last year's date is counted in last year's calendar. Returns
// false, leaving `call_date` untouched, for a day outside 1..366, a day past
// the end of the year it belongs to, or a year outside the calendar's
// 1960..2059.
bool DateFromDayOfYear(int32_t day_of_year, const LocalDate& today, ShortText<6>& call_date);

// Minutes since midnight of the hour and minute fields of `line`. An
// `ampm_col` other than 0 names a two-character field: "PM" (any case) adds
// 12 hours to a time before noon, "AM" takes 12 hours off a time from noon
// on, anything else changes nothing. Blank fields read as 0. Clears `ok` when
// a field is not an integer, the hour is not below 24, the minute not below
// 60, or the result not below 1440 (all taken as unsigned 16-bit).
uint16_t DecodeTimeOfDay(std::string_view line, uint8_t hour_col, uint8_t hour_width, uint8_t minute_col,
                         uint8_t minute_width, uint8_t ampm_col, bool& ok);

// Seconds of a duration given as hours, minutes and seconds fields of `line`;
// a column of 0 leaves that part out. No part is range-tested (90 minutes is
// 5400 seconds, a negative part is subtracted); the sum wraps at 32 bits.
// Clears `ok` when a part is not an integer. The steps below fail a call
// duration or ring time whose sum is below zero.
int32_t DecodeDuration(std::string_view line, uint8_t hours_col, uint8_t hours_width, uint8_t minutes_col,
                       uint8_t minutes_width, uint8_t seconds_col, uint8_t seconds_width, bool& ok);

// Moves `call_date` back by `days` (forward when negative). The date always
// passes through its day number, so with 0 days a day past the end of its
// month rolls over ("990231" becomes "990303"), and a text that is not a date,
// or a result outside 1960..2059, becomes six blanks.
void DateMinusDays(ShortText<6>& call_date, int32_t days);

// ---- Steps over one record --------------------------------------------------
// Each writes d.out.call_date (the call date) and the working record d.rec.

// The call date: the MONTH_POS form when its column is set, else the
// day-of-year form (JULIAN_POS, three characters). A line that is not
// buffered is skipped. Code 6.
void DecodeDateStep(RecordDecode& d);

// Start time, duration and end time by the settings' TimeLayout, then the
// values one derives from the others and the date of a call that ran over
// midnight. Codes 7..15 by layout and field.
void DecodeTimesStep(RecordDecode& d);

// Ring time in seconds, stored as 255 when longer. Code 46.
void DecodeRingTimeStep(RecordDecode& d);

// A local call's date (code 29) and start time (code 30), with
// local_call_pending as the success flag. A line that is not buffered reads as
// empty: a missing date fails, a missing time is 00:00.
void DecodeLocalCallDateTime(RecordDecode& d);

// A duty call's date (code 37) and start time (code 38), with record_ok. A
// line that is not buffered reads as empty, as for a local call.
void DecodeDutyCallDateTime(RecordDecode& d);

}  // namespace talvo

#endif  // TALVO_PARSE_DATE_TIME_H_
