#include "parse/date_time.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>

#include "parse/field_decoders.h"
#include "util/calendar.h"
#include "util/text.h"

namespace talvo {
namespace {

// 32-bit arithmetic of the seconds values: wraps like the record's signed
// 32-bit fields, without signed overflow.
int32_t Add32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
int32_t Sub32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
int32_t Mul32(int32_t a, int32_t b) {
  return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

// Today's date when a date printed without a year needs it; the clock is not
// read for a report that prints the year.
LocalDate TodayIfYearless(Env& env, uint8_t year_col) { return year_col == 0 ? env.Today() : LocalDate{}; }

// Whether the month text of a date printed without a year lies after
// `today_month`. The month is read as the date will be, its blanks as "0"
// (" 2" is February, after January, though " " sorts before "0"); a text
// that is not two digits then is compared in text order, and fails the
// date's digit test anyway.
bool MonthAfter(std::string_view month, int today_month) {
  std::string digits(month);
  std::replace(digits.begin(), digits.end(), ' ', '0');
  if (digits.size() == 2 && IsDigit(digits[0]) && IsDigit(digits[1])) {
    return (digits[0] - '0') * 10 + (digits[1] - '0') > today_month;
  }
  return CompareText(month, IntToTextZeroPad(today_month, 2)) > 0;
}

// Day `day_of_year` of the year whose last two digits are `yy`, as YYMMDD, or
// an empty text when that year has no such day.
std::string NthDayOfYear(int32_t yy, int32_t day_of_year) {
  const std::string year = IntToTextZeroPad(yy, 2);
  std::string date = DayNumberToDate(DateToDayNumber(year + "0101") + day_of_year - 1);
  if (CutText(date, 1, 2) != year) date.clear();
  return date;
}

// Seconds since midnight of a time held as minutes and seconds.
int32_t SecondsOf(uint16_t minutes, uint8_t seconds) { return int32_t{minutes} * 60 + int32_t{seconds}; }

// Stores a seconds-since-midnight value as the record's start minute and
// second, each kept to the width of its field.
void StoreStart(CallRecord& rec, int32_t start) {
  rec.StartMinute = static_cast<uint16_t>(static_cast<uint32_t>(start / 60));
  rec.StartSecond = static_cast<uint8_t>(static_cast<uint32_t>(start % 60));
}

// Error codes of one time layout.
struct LayoutCodes {
  int32_t start;
  int32_t duration;
  int32_t end;
  int32_t end_seconds;
};

LayoutCodes CodesOf(TimeLayoutKind layout) {
  switch (layout) {
    case TimeLayoutKind::kStartAndDuration:
      return {TALVO_ERR_START_TIME_L1, TALVO_ERR_DURATION_L1, 0, 0};
    case TimeLayoutKind::kStartOnly:
      return {TALVO_ERR_START_TIME_L2, 0, 0, 0};
    case TimeLayoutKind::kStartAndEnd:
      return {TALVO_ERR_START_TIME_L3, 0, TALVO_ERR_END_TIME_L3, TALVO_ERR_END_SECONDS_L3};
    case TimeLayoutKind::kEndAndDuration:
      return {0, TALVO_ERR_DURATION_L4, TALVO_ERR_END_TIME_L4, TALVO_ERR_END_SECONDS_L4};
    case TimeLayoutKind::kNone:
      break;
  }
  return {0, 0, 0, 0};
}

// The start time of layouts 1..3 into StartMinute and StartSecond. Returns
// the start seconds, or nothing when the start line is not buffered.
std::optional<int32_t> DecodeStart(RecordDecode& d, int32_t code) {
  auto line = d.lines.Line(d.s.start_line);
  if (!line) return std::nullopt;
  d.rec.StartMinute =
      DecodeTimeOfDay(*line, d.s.start_hour_column, 2, d.s.start_minute_column, 2, d.s.am_pm_column, d.state.record_ok);
  d.Record(code);
  if (d.s.start_second_column != 0) {
    const int32_t ss = ParseIntField(CutText(*line, d.s.start_second_column, 2), d.state.record_ok);
    d.rec.StartSecond = static_cast<uint8_t>(static_cast<uint32_t>(ss));
    d.Record(code);
  }
  return SecondsOf(d.rec.StartMinute, d.rec.StartSecond);
}

// The duration of layouts 1 and 4 into Duration. Returns it, or nothing when
// the duration line is not buffered.
std::optional<int32_t> DecodeCallDuration(RecordDecode& d, int32_t code) {
  auto line = d.lines.Line(d.s.duration_line);
  if (!line) return std::nullopt;
  int32_t duration = DecodeDuration(*line, d.s.duration_hours_column, 2, d.s.duration_minutes_column, d.s.duration_minutes_width, d.s.duration_seconds_column,
                                    d.s.duration_seconds_width, d.state.record_ok);
  if (d.s.duration_seconds_in_tenths) {
    // The seconds part counts tenths of a minute. Division truncates toward
    // zero, so a negative duration keeps its sign in both parts.
    duration = Add32((duration / 60) * 60, (duration % 60) * 6);
  }
  d.rec.Duration = duration;
  // A call cannot last less than nothing: a minus sign in a part, or parts
  // that overflow, fail the duration.
  if (duration < 0) d.state.record_ok = false;
  d.Record(code);
  return duration;
}

// The end time of layouts 3 and 4 in seconds since midnight, or nothing when
// the end line is not buffered.
std::optional<int32_t> DecodeEnd(RecordDecode& d, int32_t code, int32_t seconds_code) {
  auto line = d.lines.Line(d.s.end_line);
  if (!line) return std::nullopt;
  const uint16_t minutes = DecodeTimeOfDay(*line, d.s.end_hour_column, 2, d.s.end_minute_column, 2, 0, d.state.record_ok);
  d.Record(code);
  int32_t end = int32_t{minutes} * 60;
  if (d.s.end_second_column != 0) {
    end = Add32(end, ParseIntField(CutText(*line, d.s.end_second_column, 2), d.state.record_ok));
    d.Record(seconds_code);
  }
  return end;
}

}  // namespace

void DecodeCallDate(std::string_view line, uint8_t year_col, uint8_t month_col, uint8_t day_col,
                    const LocalDate& today, bool& ok, ShortText<6>& call_date) {
  // The usual case first: the year printed, all six digits on the line.
  if (ok && year_col != 0 && month_col != 0 && day_col != 0 && std::size_t{year_col} + 1 <= line.size() &&
      std::size_t{month_col} + 1 <= line.size() && std::size_t{day_col} + 1 <= line.size()) {
    const char* y = line.data() + year_col - 1;
    const char* m = line.data() + month_col - 1;
    const char* dd = line.data() + day_col - 1;
    if (IsDigit(y[0]) && IsDigit(y[1]) && IsDigit(m[0]) && IsDigit(m[1]) && IsDigit(dd[0]) && IsDigit(dd[1])) {
      const char date[6] = {y[0], y[1], m[0], m[1], dd[0], dd[1]};
      std::memcpy(call_date.chars, date, sizeof date);
      call_date.length = 6;
      const int month_number = (m[0] - '0') * 10 + (m[1] - '0');
      const int day_number = (dd[0] - '0') * 10 + (dd[1] - '0');
      ok = month_number >= 1 && month_number <= 12 && day_number >= 1 && day_number <= 31;
      return;
    }
  }
  const std::string_view month = CutText(line, month_col, 2);
  // Year, month and day joined, of which the date keeps six characters.
  char date[6];
  std::size_t n = 0;
  const auto append = [&](std::string_view part) {
    for (char c : part) {
      if (n < sizeof date) date[n++] = c;
    }
  };
  if (year_col != 0) {
    append(CutText(line, year_col, 2));
  } else {
    int32_t year = today.year % 100;
    // A month later in the year than today's is last year's.
    if (MonthAfter(month, today.month)) year = year == 0 ? 99 : year - 1;
    append(IntToTextWidth(year, 2));
  }
  append(month);
  append(CutText(line, day_col, 2));
  for (std::size_t i = 0; i < n; ++i) call_date.chars[i] = date[i];
  call_date.length = static_cast<uint8_t>(n);

  if (!ok) return;
  bool digits = true;  // a local flag, kept in a register, rather than `ok` through its reference
  for (std::size_t i = 0; i < n && digits; ++i) {
    if (date[i] == ' ') call_date.chars[i] = date[i] = '0';
    digits = IsDigit(date[i]);
  }
  ok = digits && n == 6;
  if (!ok) return;
  // Six digits: month 01..12, day 01..31.
  const auto two = [&](std::size_t i) { return (date[i] - '0') * 10 + (date[i + 1] - '0'); };
  const int month_number = two(2);
  const int day_number = two(4);
  ok = month_number >= 1 && month_number <= 12 && day_number >= 1 && day_number <= 31;
}

bool DateFromDayOfYear(int32_t day_of_year, const LocalDate& today, ShortText<6>& call_date) {
  if (day_of_year < 1 || day_of_year > 366) return false;
  const int32_t year = today.year % 100;
  // Outside the calendar's years there is no date to give.
  if (NthDayOfYear(year, 1).empty()) return false;
  std::string date = NthDayOfYear(year, day_of_year);
  // A day in a month after the current one, or past the end of this year
  // (366 in a common year), is last year's, and is counted in last year's
  // calendar: day 60 read in January 2025 is 29 February 2024.
  if (date.empty() || TextToIntDef(CutText(date, 3, 2)) > today.month) {
    date = NthDayOfYear(year == 0 ? 99 : year - 1, day_of_year);
    if (date.empty()) return false;
  }
  call_date.assign(date);
  return true;
}

uint16_t DecodeTimeOfDay(std::string_view line, uint8_t hour_col, uint8_t hour_width, uint8_t minute_col,
                         uint8_t minute_width, uint8_t ampm_col, bool& ok) {
  // Unsigned 16-bit throughout: a negative hour or minute is a large number.
  const auto hour = static_cast<uint16_t>(ParseIntField(CutText(line, hour_col, hour_width), ok));
  ok = ok && hour < 24;
  auto result = static_cast<uint16_t>(uint32_t{hour} * 60u);
  const auto minute = static_cast<uint16_t>(ParseIntField(CutText(line, minute_col, minute_width), ok));
  ok = ok && minute < 60;
  result = static_cast<uint16_t>(uint32_t{result} + uint32_t{minute});
  if (ampm_col != 0) {
    const std::string ampm = UpperText(CutText(line, ampm_col, 2));
    if (ampm == "PM" && result < 720) {
      result = static_cast<uint16_t>(result + 720);
    } else if (ampm == "AM" && result >= 720) {
      result = static_cast<uint16_t>(result - 720);
    }
  }
  ok = ok && result < 1440;
  return result;
}

int32_t DecodeDuration(std::string_view line, uint8_t hours_col, uint8_t hours_width, uint8_t minutes_col,
                       uint8_t minutes_width, uint8_t seconds_col, uint8_t seconds_width, bool& ok) {
  int32_t seconds = 0;
  if (hours_col != 0) seconds = Mul32(ParseIntField(CutText(line, hours_col, hours_width), ok), 3600);
  if (minutes_col != 0) {
    seconds = Add32(seconds, Mul32(ParseIntField(CutText(line, minutes_col, minutes_width), ok), 60));
  }
  if (seconds_col != 0) seconds = Add32(seconds, ParseIntField(CutText(line, seconds_col, seconds_width), ok));
  return seconds;
}

void DateMinusDays(ShortText<6>& call_date, int32_t days) {
  // Day numbers are signed 32-bit; a wrapped result lies outside the
  // calendar's range and so gives six blanks, as the exact one would.
  call_date.assign(DayNumberToDate(Sub32(DateToDayNumber(call_date.view()), days)));
}

void DecodeDateStep(RecordDecode& d) {
  if (d.s.month_column != 0) {
    if (auto line = d.lines.Line(d.s.date_line)) {
      DecodeCallDate(*line, d.s.year_column, d.s.month_column, d.s.day_column, TodayIfYearless(d.env, d.s.year_column),
                     d.state.record_ok, d.out.call_date);
      d.Record(TALVO_ERR_CALL_DATE);
    }
    return;
  }
  if (d.s.day_of_year_column == 0) return;
  auto field = d.Field(d.s.day_of_year_line, d.s.day_of_year_column, 3);
  if (!field) return;
  const int32_t day = ParseIntField(*field, d.state.record_ok);
  // The conversion is not tried after a failure.
  d.state.record_ok = d.state.record_ok && DateFromDayOfYear(day, d.env.Today(), d.out.call_date);
  d.Record(TALVO_ERR_CALL_DATE);
}

void DecodeTimesStep(RecordDecode& d) {
  const TimeLayoutKind layout = d.s.time_layout;
  const LayoutCodes codes = CodesOf(layout);
  switch (layout) {
    case TimeLayoutKind::kStartAndDuration: {
      const std::optional<int32_t> start = DecodeStart(d, codes.start);
      const std::optional<int32_t> duration = DecodeCallDuration(d, codes.duration);
      if (duration && d.s.dated_by_end) {
        // The report dates the call by its end. Without a start line the call
        // is taken to start at midnight.
        const int32_t end = Add32(*duration, start.value_or(0));
        DateMinusDays(d.out.call_date, end / kSecondsPerDay);
      }
      break;
    }
    case TimeLayoutKind::kStartOnly:
      DecodeStart(d, codes.start);
      break;
    case TimeLayoutKind::kStartAndEnd: {
      const std::optional<int32_t> start = DecodeStart(d, codes.start);
      const std::optional<int32_t> end = DecodeEnd(d, codes.end, codes.end_seconds);
      if (!start || !end) break;
      int32_t duration = 0;
      if (*end >= *start) {
        duration = *end - *start;  // both non-negative here: no overflow
      } else {
        // Over midnight. Beyond 20 hours the two times do not describe one
        // call: no duration, and the date stays.
        duration = Sub32(Add32(*end, kSecondsPerDay), *start);
        if (duration > kLongestCallOverMidnight) {
          duration = 0;
        } else if (d.s.dated_by_end) {
          DateMinusDays(d.out.call_date, 1);
        }
      }
      d.rec.Duration = duration;
      break;
    }
    case TimeLayoutKind::kEndAndDuration: {
      const std::optional<int32_t> duration = DecodeCallDuration(d, codes.duration);
      const std::optional<int32_t> end = DecodeEnd(d, codes.end, codes.end_seconds);
      if (!duration || !end) break;
      // The report dates the call by its end, whatever DATE_END says.
      int32_t start = 0;
      if (*duration <= *end) {
        start = Sub32(*end, *duration);
      } else {
        // Began on an earlier day: count the midnights between start and end.
        const int32_t before = Sub32(*duration, *end);
        const int32_t midnights = before / kSecondsPerDay + (before % kSecondsPerDay != 0 ? 1 : 0);
        DateMinusDays(d.out.call_date, midnights);
        start = Sub32(Mul32(midnights, kSecondsPerDay), before);
      }
      StoreStart(d.rec, start);
      break;
    }
    case TimeLayoutKind::kNone:
      break;
  }
}

void DecodeRingTimeStep(RecordDecode& d) {
  auto line = d.lines.Line(d.s.ring_line);
  if (!line) return;
  const int32_t ring =
      DecodeDuration(*line, 0, 0, d.s.ring_minutes_column, d.s.ring_minutes_width, d.s.ring_seconds_column, d.s.ring_seconds_width, d.state.record_ok);
  // A phone cannot ring less than nothing: a minus sign in a broken field
  // fails the ring time. Held to the 16-bit field all the same, so that a
  // ring time far below zero cut to 16 bits never reads as a long one.
  if (ring < 0) d.state.record_ok = false;
  d.Record(TALVO_ERR_RING_TIME);
  d.rec.RingSeconds = static_cast<int16_t>(std::clamp<int32_t>(ring, INT16_MIN, 255));
}

void DecodeLocalCallDateTime(RecordDecode& d) {
  bool& ok = d.state.local_call_pending;
  DecodeCallDate(d.lines.LineOrEmpty(d.s.local_date_line), d.s.local_year_column, d.s.local_month_column, d.s.local_day_column,
                 TodayIfYearless(d.env, d.s.local_year_column), ok, d.out.call_date);
  RecordCode(ok, TALVO_ERR_LOCAL_DATE, d.out.error_code);
  d.rec.StartMinute =
      DecodeTimeOfDay(d.lines.LineOrEmpty(d.s.local_time_line), d.s.local_hour_column, 2, d.s.local_minute_column, 2, 0, ok);
  RecordCode(ok, TALVO_ERR_LOCAL_TIME, d.out.error_code);
}

void DecodeDutyCallDateTime(RecordDecode& d) {
  DecodeCallDate(d.lines.LineOrEmpty(d.s.duty_date_line), d.s.duty_year_column, d.s.duty_month_column, d.s.duty_day_column,
                 TodayIfYearless(d.env, d.s.duty_year_column), d.state.record_ok, d.out.call_date);
  d.Record(TALVO_ERR_DUTY_DATE);
  d.rec.StartMinute = DecodeTimeOfDay(d.lines.LineOrEmpty(d.s.duty_time_line), d.s.duty_hour_column, 2,
                                      d.s.duty_minute_column, 2, 0, d.state.record_ok);
  d.Record(TALVO_ERR_DUTY_TIME);
}

}  // namespace talvo
