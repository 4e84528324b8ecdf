#include "parse/date_time.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <limits>
#include <string>
#include <string_view>

#include "platform/env.h"
#include "support/fake_driver.h"

namespace talvo {
namespace {

std::string DateText(const ShortText<6>& date) { return std::string(date.view()); }

// ---- DecodeCallDate ---------------------------------------------------------

TEST(DateTimeCallDate, YearMonthDayColumns) {
  struct Case {
    std::string_view in;  // the line; year at 12, month at 14, day at 16
    std::string_view want;
    bool ok;
  } cases[] = {
      {"CALL       991231", "991231", true},
      {"CALL       99 331", "990331", true},  // a blank in the month becomes "0"
      {"CALL        91231", "091231", true},
      {"CALL       990231", "990231", true},  // the day is not held against the month
      {"CALL       991331", "991331", false},
      {"CALL       990031", "990031", false},
      {"CALL       991200", "991200", false},
      {"CALL       991232", "991232", false},
      {"CALL       99A231", "99A231", false},
      {"CALL       99-131", "99-131", false},
      {"CALL       9912", "9912", false},  // the day lies past the end of the line
      {"CALL", "", false},
  };
  for (const Case& c : cases) {
    bool ok = true;
    ShortText<6> date;
    DecodeCallDate(c.in, 12, 14, 16, LocalDate{}, ok, date);
    EXPECT_EQ(DateText(date), c.want) << '"' << c.in << '"';
    EXPECT_EQ(ok, c.ok) << '"' << c.in << '"';
  }
}

TEST(DateTimeCallDate, AFailedFlagIsNotRaisedAndBlanksStay) {
  bool ok = false;
  ShortText<6> date;
  DecodeCallDate("99 331", 1, 3, 5, LocalDate{}, ok, date);
  EXPECT_EQ(DateText(date), "99 331");
  EXPECT_FALSE(ok);
}

TEST(DateTimeCallDate, WithoutAYearAMonthAfterTodaysIsLastYears) {
  struct Case {
    LocalDate today;
    std::string_view in;  // month, day
    std::string_view want;
  } cases[] = {
      {{2026, 3, 15}, "1224", "251224"}, {{2026, 3, 15}, "0301", "260301"}, {{2026, 3, 15}, "0401", "250401"},
      {{2026, 3, 15}, "0228", "260228"}, {{2026, 3, 15}, " 401", "250401"},  // " 4" is April, after March
      {{2026, 1, 10}, " 215", "250215"}, {{2026, 1, 10}, "0215", "250215"}, {{2026, 2, 10}, " 215", "260215"},
      {{2026, 1, 10}, " 110", "260110"}, {{2026, 10, 1}, "11 1", "251101"}, {{2026, 10, 1}, "1 01", "261001"},
      {{2000, 1, 10}, "0505", "990505"}, {{2000, 1, 10}, "0105", "000105"}, {{2000, 1, 10}, "1231", "991231"},
      {{2009, 3, 15}, "1231", "081231"},  // one-digit year: its blank becomes "0"
      {{2026, 12, 31}, "1231", "261231"},
  };
  for (const Case& c : cases) {
    bool ok = true;
    ShortText<6> date;
    DecodeCallDate(c.in, 0, 1, 3, c.today, ok, date);
    EXPECT_EQ(DateText(date), c.want) << '"' << c.in << "\" on " << c.today.year << '-' << c.today.month;
    EXPECT_TRUE(ok) << '"' << c.in << '"';
  }
}

// ---- DateFromDayOfYear --------------------------------------------------------

TEST(DateTimeDayOfYear, ThisYearUpToTodaysMonthElseLastYear) {
  struct Case {
    LocalDate today;
    int32_t in;
    std::string_view want;  // empty: fails
  } cases[] = {
      {{2026, 3, 15}, 1, "260101"},   {{2026, 3, 15}, 74, "260315"},  {{2026, 3, 15}, 75, "260316"},
      {{2026, 3, 15}, 100, "250410"}, {{2026, 3, 15}, 365, "251231"}, {{2026, 3, 15}, 366, ""},
      {{2026, 3, 15}, 0, ""},         {{2026, 3, 15}, 367, ""},       {{2026, 3, 15}, -1, ""},
      {{2024, 3, 15}, 60, "240229"},  {{2024, 3, 15}, 366, ""},  // 31 December 2024 is ahead; 2023 has 365 days
      // Last year's days are counted in last year's calendar.
      {{2025, 1, 10}, 60, "240229"},  {{2025, 1, 10}, 61, "240301"},  {{2025, 1, 10}, 366, "241231"},
      {{2025, 3, 1}, 60, "250301"},   {{2025, 2, 28}, 60, "240229"},  {{2024, 1, 1}, 366, ""},
      {{2025, 12, 31}, 365, "251231"}, {{2026, 1, 1}, 1, "260101"},   {{2026, 1, 1}, 365, "251231"},
      {{2000, 1, 10}, 40, "990209"},  {{2000, 1, 10}, 10, "000110"},
      {{1995, 6, 1}, 1, "950101"},    {{2060, 6, 1}, 1, ""},  // beyond the calendar's last year
  };
  for (const Case& c : cases) {
    ShortText<6> date;
    date.assign("KEEP");
    const bool ok = DateFromDayOfYear(c.in, c.today, date);
    EXPECT_EQ(ok, !c.want.empty()) << c.in << " in " << c.today.year;
    EXPECT_EQ(DateText(date), c.want.empty() ? "KEEP" : c.want) << c.in << " in " << c.today.year;
  }
}

// ---- DecodeTimeOfDay ------------------------------------------------------------

TEST(DateTimeTimeOfDay, HoursMinutesAndAmPm) {
  struct Case {
    std::string_view in;  // hour at 1, minute at 3, AM/PM at 5
    uint16_t want;
    bool ok;
  } cases[] = {
      {"2359", 1439, true},  {"2400", 1440, false},  {"1260", 780, false},  {"    ", 0, true},
      {"0930", 570, true},   {" 930", 570, true},    {"$F00", 900, true},   {"1x00", 60, false},
      {"1159PM", 1439, true}, {"1200AM", 0, true},   {"1200pm", 720, true}, {"0030PM", 750, true},
      {"1230PM", 750, true}, {"1230AM", 30, true},   {"0130PM", 810, true}, {"1300PM", 780, true},
      {"1300am", 60, true},  {"0130P ", 90, true},   {"0130XM", 90, true},  {"0130", 90, true},
      {"0130P", 90, true},   {"1230pM", 750, true},
      // A negative hour is a large unsigned one: (65535 * 60) wraps to 65476.
      {"-100", 65476, false},
  };
  for (const Case& c : cases) {
    bool ok = true;
    EXPECT_EQ(DecodeTimeOfDay(c.in, 1, 2, 3, 2, 5, ok), c.want) << '"' << c.in << '"';
    EXPECT_EQ(ok, c.ok) << '"' << c.in << '"';
  }
}

TEST(DateTimeTimeOfDay, RangeTestsSeeSixteenBits) {
  struct Case {
    std::string_view in;  // hour at 1 (6 wide), minute at 7 (6 wide)
    uint16_t want;
    bool ok;
  } cases[] = {
      {"65559     0", 1380, true},  // 65559 is 23 in 16 bits
      {"65560     0", 1440, false},
      {"    23 65595", 1439, true},  // 65595 is 59
      {"-65513    0", 1380, true},   // -65513 is 23
  };
  for (const Case& c : cases) {
    bool ok = true;
    EXPECT_EQ(DecodeTimeOfDay(c.in, 1, 6, 7, 6, 0, ok), c.want) << '"' << c.in << '"';
    EXPECT_EQ(ok, c.ok) << '"' << c.in << '"';
  }
}

// ---- DecodeDuration -----------------------------------------------------------

TEST(DateTimeDuration, PartsAddWithoutRangeTests) {
  struct Case {
    std::string_view in;  // hours at 1 (2 wide), minutes at 3 (3 wide), seconds at 6 (2 wide)
    int32_t want;
    bool ok;
  } cases[] = {
      {"0103015", 5415, true},  {"00 9000", 5400, true}, {"       ", 0, true},   {"00001-5", 55, true},
      {"-1  0 0", -3600, true}, {"9909999", 362439, true}, {"01 x 00", 3600, false}, {"0100", 3600, true},
  };
  for (const Case& c : cases) {
    bool ok = true;
    EXPECT_EQ(DecodeDuration(c.in, 1, 2, 3, 3, 6, 2, ok), c.want) << '"' << c.in << '"';
    EXPECT_EQ(ok, c.ok) << '"' << c.in << '"';
  }
}

TEST(DateTimeDuration, SumsWrapAtThirtyTwoBits) {
  struct Case {
    std::string_view in;  // hours at 1 (11 wide), minutes at 12 (11 wide)
    int32_t want;
  } cases[] = {
      {"99         2147483647", 356340},  // 356400 + 2147483647 * 60, kept to 32 bits
      {"-2147483648          0", 0},      // -2^31 * 3600 is a multiple of 2^32
      {"2147483647 2147483647", static_cast<int32_t>(2147483647u * 3600u + 2147483647u * 60u)},
  };
  for (const Case& c : cases) {
    bool ok = true;
    EXPECT_EQ(DecodeDuration(c.in, 1, 11, 12, 11, 0, 0, ok), c.want) << '"' << c.in << '"';
    EXPECT_TRUE(ok) << '"' << c.in << '"';
  }
}

// ---- DateMinusDays --------------------------------------------------------------

TEST(DateTimeMinusDays, MovesThroughTheDayNumber) {
  constexpr int32_t kMax = std::numeric_limits<int32_t>::max();
  constexpr int32_t kMin = std::numeric_limits<int32_t>::min();
  struct Case {
    std::string_view in;
    int32_t days;
    std::string_view want;
  } cases[] = {
      {"990301", 1, "990228"},   {"000301", 1, "000229"},   {"000101", 1, "991231"},
      {"990231", 0, "990303"},   {"991231", 0, "991231"},   {"000101", -366, "010101"},
      {"260315", 30, "260213"},  {"600101", 0, "      "},   {"591231", -1, "      "},
      {"600102", 1, "      "}, {"600102", 2, "591231"},   {"", 0, "      "},         {"ABCDEF", 0, "      "},
      {"991301", 0, "      "},   {"000101", kMax, "      "}, {"000101", kMin, "      "},
      {"", kMin, "      "},      {"", kMax, "      "},
  };
  for (const Case& c : cases) {
    ShortText<6> date;
    date.assign(c.in);
    DateMinusDays(date, c.days);
    EXPECT_EQ(DateText(date), c.want) << '"' << c.in << "\" - " << c.days;
  }
}

// ---- Steps over one record ------------------------------------------------------

// One record's decoding over settings and lines set up by each test. The call
// date starts as "990310".
class DateTimeStep : public ::testing::Test {
 protected:
  DateTimeStep() {
    state.record_ok = true;
    out.call_date.assign("990310");
  }

  RecordDecode Decode() { return RecordDecode{s, lines, state, rec, out, env, nullptr, {}, {}}; }
  // The record is packed: its fields are read by value, never bound to a reference.
  uint16_t Minute() const { return rec.StartMinute; }
  uint8_t Second() const { return rec.StartSecond; }
  int32_t Duration() const { return rec.Duration; }
  int16_t Ring() const { return rec.RingSeconds; }
  void Reset(std::string_view date = "990310") {
    rec = CallRecord{};
    state.record_ok = true;
    out.error_code = 0;
    out.call_date.assign(date);
  }
  // Buffers the first `held` of lines `a` and `b`.
  void Hold(int held, std::string_view a, std::string_view b) {
    if (held == 2) {
      lines.Assign({a, b});
    } else if (held == 1) {
      lines.Assign({a});
    } else {
      lines.Assign({});
    }
  }
  void RunTimes() {
    RecordDecode d = Decode();
    DecodeTimesStep(d);
  }

  // Start "HHMMSS" on line 1, end "HHMMSS" on line 2, duration "HHMMSS" on
  // line 3, all at columns 1, 3 and 5.
  void UseLayout(TimeLayoutKind layout) {
    s.time_layout = layout;
    s.start_line = 1;
    s.end_line = 2;
    s.duration_line = 3;
    if (layout != TimeLayoutKind::kEndAndDuration) {
      s.start_hour_column = 1;
      s.start_minute_column = 3;
      s.start_second_column = 5;
    }
    if (layout == TimeLayoutKind::kStartAndEnd || layout == TimeLayoutKind::kEndAndDuration) {
      s.end_hour_column = 1;
      s.end_minute_column = 3;
      s.end_second_column = 5;
    }
    if (layout == TimeLayoutKind::kStartAndDuration || layout == TimeLayoutKind::kEndAndDuration) {
      s.duration_hours_column = 1;
      s.duration_minutes_column = 3;
      s.duration_minutes_width = 2;
      s.duration_seconds_column = 5;
      s.duration_seconds_width = 2;
    }
  }

  testing::FakeEnv env;
  DriverSettings s;
  RecordBuffer lines;
  ParserState state;
  CallRecord rec{};
  LineOutputs out;
};

TEST_F(DateTimeStep, DateFromMonthColumns) {
  s.date_line = 2;
  s.year_column = 1;
  s.month_column = 3;
  s.day_column = 5;
  struct Case {
    std::string_view in;
    std::string_view want;
    int32_t code;
  } cases[] = {{"991231", "991231", 0}, {"991331", "991331", TALVO_ERR_CALL_DATE}, {"99", "99", TALVO_ERR_CALL_DATE}};
  for (const Case& c : cases) {
    Reset("");
    lines.Assign({"header", c.in});
    RecordDecode d = Decode();
    DecodeDateStep(d);
    EXPECT_EQ(DateText(out.call_date), c.want) << '"' << c.in << '"';
    EXPECT_EQ(out.error_code, c.code) << '"' << c.in << '"';
  }
  // The date line is not buffered: nothing is decoded.
  Reset("");
  lines.Assign({"991231"});
  RecordDecode d = Decode();
  DecodeDateStep(d);
  EXPECT_EQ(DateText(out.call_date), "");
  EXPECT_TRUE(state.record_ok);
}

TEST_F(DateTimeStep, DateFromDayOfYear) {
  s.day_of_year_column = 4;
  s.day_of_year_line = 1;
  struct Case {
    std::string_view in;
    std::string_view want;
    int32_t code;
  } cases[] = {{"ABC074", "260315", 0},
               {"ABC 75", "260316", 0},
               {"ABC100", "250410", 0},
               {"ABC366", "", TALVO_ERR_CALL_DATE},
               {"ABC000", "", TALVO_ERR_CALL_DATE},
               {"ABC7x4", "", TALVO_ERR_CALL_DATE}};
  for (const Case& c : cases) {
    Reset("");
    lines.Assign({c.in});
    RecordDecode d = Decode();
    DecodeDateStep(d);
    EXPECT_EQ(DateText(out.call_date), c.want) << '"' << c.in << '"';
    EXPECT_EQ(out.error_code, c.code) << '"' << c.in << '"';
    EXPECT_EQ(state.record_ok, c.code == 0) << '"' << c.in << '"';
  }
}

TEST_F(DateTimeStep, DayOfYearIsNotConvertedAfterAFailure) {
  s.day_of_year_column = 1;
  lines.Assign({"074"});
  state.record_ok = false;
  out.error_code = TALVO_ERR_INDEX;
  out.call_date.clear();
  RecordDecode d = Decode();
  DecodeDateStep(d);
  EXPECT_EQ(DateText(out.call_date), "");
  EXPECT_EQ(out.error_code, TALVO_ERR_INDEX);
}

TEST_F(DateTimeStep, Layout1DateEndMovesBackByWholeDays) {
  UseLayout(TimeLayoutKind::kStartAndDuration);
  struct Case {
    std::string_view start;
    std::string_view duration;
    bool date_end;
    std::string_view date;
    std::string_view want_date;
    int32_t want_duration;
  } cases[] = {
      {"230000", "020000", true, "990310", "990309", 7200},
      {"010000", "010000", true, "990310", "990310", 3600},
      {"230000", "020000", false, "990310", "990310", 7200},
      {"120000", "490000", true, "990310", "990308", 176400},  // ends two midnights later
      {"000000", "000000", true, "990231", "990303", 0},       // no midnight: the date still rolls over
      {"235959", "000001", true, "000301", "000229", 1},
  };
  for (const Case& c : cases) {
    Reset(c.date);
    s.dated_by_end = c.date_end;
    lines.Assign({c.start, "", c.duration});
    RunTimes();
    EXPECT_EQ(DateText(out.call_date), c.want_date) << c.start << " + " << c.duration;
    EXPECT_EQ(Duration(), c.want_duration) << c.start << " + " << c.duration;
    EXPECT_EQ(out.error_code, 0) << c.start << " + " << c.duration;
  }
}

// A call cannot last less than nothing: a total below zero fails the
// duration's step with its layout's code, whatever its parts.
TEST_F(DateTimeStep, NegativeDurationFailsItsStep) {
  struct Case {
    TimeLayoutKind layout;
    bool pegs_count;
    std::string_view duration;
    int32_t want_code;
  } cases[] = {
      {TimeLayoutKind::kStartAndDuration, false, "00-100", TALVO_ERR_DURATION_L1},  // 00:-1:00
      {TimeLayoutKind::kStartAndDuration, false, "-10000", TALVO_ERR_DURATION_L1},
      {TimeLayoutKind::kStartAndDuration, false, "0000-1", TALVO_ERR_DURATION_L1},
      {TimeLayoutKind::kStartAndDuration, false, "01-100", 0},  // 1 hour less a minute is no fault
      {TimeLayoutKind::kStartAndDuration, false, "000000", 0},
      {TimeLayoutKind::kStartAndDuration, true, "0000-5", TALVO_ERR_DURATION_L1},
      {TimeLayoutKind::kEndAndDuration, false, "00-100", TALVO_ERR_DURATION_L4},
  };
  for (const Case& c : cases) {
    Reset();
    UseLayout(c.layout);
    s.duration_seconds_in_tenths = c.pegs_count;
    lines.Assign({"120000", "130000", c.duration});
    RunTimes();
    EXPECT_EQ(out.error_code, c.want_code) << c.duration;
    EXPECT_EQ(state.record_ok, c.want_code == 0) << c.duration;
  }
}

TEST_F(DateTimeStep, Layout1WithoutAStartLineCountsFromMidnight) {
  s.time_layout = TimeLayoutKind::kStartAndDuration;
  s.start_line = 3;  // not buffered
  s.start_hour_column = 1;
  s.start_minute_column = 3;
  s.duration_line = 1;
  s.duration_hours_column = 1;
  s.duration_minutes_column = 3;
  s.duration_minutes_width = 2;
  s.dated_by_end = true;
  struct Case {
    std::string_view duration;
    std::string_view want;
  } cases[] = {{"2359", "990310"}, {"2400", "990309"}, {"4800", "990308"}};
  for (const Case& c : cases) {
    Reset();
    rec.StartMinute = 1439;  // not read: the start is taken as midnight
    lines.Assign({c.duration});
    RunTimes();
    EXPECT_EQ(DateText(out.call_date), c.want) << c.duration;
  }
}

TEST_F(DateTimeStep, Layout1StartAndDurationCodes) {
  UseLayout(TimeLayoutKind::kStartAndDuration);
  struct Case {
    std::string_view start;
    std::string_view duration;
    int32_t code;
  } cases[] = {{"250000", "000100", TALVO_ERR_START_TIME_L1},
               {"1200Q0", "000100", TALVO_ERR_START_TIME_L1},
               {"120000", "00Q100", TALVO_ERR_DURATION_L1},
               {"250000", "00Q100", TALVO_ERR_START_TIME_L1}};
  for (const Case& c : cases) {
    Reset();
    lines.Assign({c.start, "", c.duration});
    RunTimes();
    EXPECT_EQ(out.error_code, c.code) << c.start << " + " << c.duration;
    EXPECT_FALSE(state.record_ok);
  }
}

TEST_F(DateTimeStep, PegsCountReadsSecondsAsTenthsOfAMinute) {
  UseLayout(TimeLayoutKind::kStartAndDuration);
  s.duration_seconds_in_tenths = true;
  struct Case {
    std::string_view duration;
    int32_t want;
  } cases[] = {
      {"000305", 210},  {"000205", 150},   {"000000", 0}, {"010009", 3654},
      {"0000-5", -30},  // truncating division: -5 is 0 minutes and -5 tenths
      {"00-1-5", -90},  // -65 seconds: -1 minute and -5 tenths
  };
  for (const Case& c : cases) {
    Reset();
    lines.Assign({"120000", "", c.duration});
    RunTimes();
    EXPECT_EQ(Duration(), c.want) << c.duration;
  }
}

TEST_F(DateTimeStep, PegsCountWrapsAtThirtyTwoBits) {
  UseLayout(TimeLayoutKind::kStartAndDuration);
  s.duration_seconds_in_tenths = true;
  s.duration_hours_column = 0;
  s.duration_minutes_column = 0;
  s.duration_seconds_column = 1;
  s.duration_seconds_width = 11;
  struct Case {
    std::string_view duration;
    int32_t want;
  } cases[] = {
      {"2147483647", -2147483614},  // 2147483640 + 42, kept to 32 bits
      {"-2147483648", 2147483608},  // -2147483640 - 48, kept to 32 bits
  };
  for (const Case& c : cases) {
    Reset();
    lines.Assign({"120000", "", c.duration});
    RunTimes();
    EXPECT_EQ(Duration(), c.want) << c.duration;
  }
}

TEST_F(DateTimeStep, Layout2DecodesTheStartOnly) {
  UseLayout(TimeLayoutKind::kStartOnly);
  s.duration_minutes_column = 3;  // no duration is read in this layout
  struct Case {
    std::string_view start;
    uint16_t minute;
    uint8_t second;
    int32_t code;
  } cases[] = {{"124530", 765, 30, 0},
               {"124575", 765, 75, 0},  // seconds are not range-tested
               {"1245-1", 765, 255, 0},  // kept to 8 bits
               {"12xx00", 720, 0, TALVO_ERR_START_TIME_L2},
               {"1245Q0", 765, 0, TALVO_ERR_START_TIME_L2}};
  for (const Case& c : cases) {
    Reset();
    rec.Duration = 77;
    lines.Assign({c.start, "", "000100"});
    RunTimes();
    EXPECT_EQ(Minute(), c.minute) << c.start;
    EXPECT_EQ(Second(), c.second) << c.start;
    EXPECT_EQ(Duration(), 77) << c.start;
    EXPECT_EQ(out.error_code, c.code) << c.start;
  }
}

TEST_F(DateTimeStep, Layout3OverMidnightWithinTwentyHours) {
  UseLayout(TimeLayoutKind::kStartAndEnd);
  struct Case {
    std::string_view start;
    std::string_view end;
    bool date_end;
    int32_t duration;
    std::string_view date;
  } cases[] = {
      {"235000", "001000", true, 1200, "990309"},   {"235000", "001000", false, 1200, "990310"},
      {"100000", "050000", true, 68400, "990309"},  {"100000", "060000", true, 72000, "990309"},
      {"100000", "060001", true, 0, "990310"},  // one second over 20 hours
      {"100000", "090000", true, 0, "990310"},      {"100000", "100000", true, 0, "990310"},
      {"080000", "170030", true, 32430, "990310"},
  };
  for (const Case& c : cases) {
    Reset();
    s.dated_by_end = c.date_end;
    lines.Assign({c.start, c.end});
    RunTimes();
    EXPECT_EQ(Duration(), c.duration) << c.start << " to " << c.end;
    EXPECT_EQ(DateText(out.call_date), c.date) << c.start << " to " << c.end;
    EXPECT_EQ(out.error_code, 0) << c.start << " to " << c.end;
  }
}

TEST_F(DateTimeStep, Layout3NeedsBothLinesAndRecordsItsCodes) {
  UseLayout(TimeLayoutKind::kStartAndEnd);
  Reset();
  rec.Duration = 77;
  lines.Assign({"100000"});
  RunTimes();
  EXPECT_EQ(Duration(), 77);

  struct Case {
    std::string_view start;
    std::string_view end;
    int32_t code;
  } cases[] = {{"Q00000", "110000", TALVO_ERR_START_TIME_L3},
               {"100000", "116000", TALVO_ERR_END_TIME_L3},
               {"100000", "1100Q0", TALVO_ERR_END_SECONDS_L3}};
  for (const Case& c : cases) {
    Reset();
    lines.Assign({c.start, c.end});
    RunTimes();
    EXPECT_EQ(out.error_code, c.code) << c.start << " to " << c.end;
  }
}

TEST_F(DateTimeStep, Layout4StartFromEndAndDuration) {
  UseLayout(TimeLayoutKind::kEndAndDuration);
  struct Case {
    std::string_view end;
    std::string_view duration;
    uint16_t minute;
    uint8_t second;
    std::string_view date;
  } cases[] = {
      {"000500", "001000", 1435, 0, "990309"},  // 600 s ending at 00:05 began at 23:55 the day before
      {"000140", "240140", 0, 0, "990309"},     // 86500 s ending at 00:01:40
      {"001000", "001000", 0, 0, "990310"},     // duration equal to the end: midnight, same day
      {"120000", "013015", 629, 45, "990310"},
      {"010000", "500000", 1380, 0, "990307"},  // three midnights back
      {"000000", "480000", 0, 0, "990308"},     // exactly two days
      {"000001", "000002", 1439, 59, "990309"},
  };
  for (const Case& c : cases) {
    Reset();
    s.dated_by_end = false;  // the date moves whatever DATE_END says
    lines.Assign({"", c.end, c.duration});
    RunTimes();
    EXPECT_EQ(Minute(), c.minute) << c.end << " - " << c.duration;
    EXPECT_EQ(Second(), c.second) << c.end << " - " << c.duration;
    EXPECT_EQ(DateText(out.call_date), c.date) << c.end << " - " << c.duration;
    EXPECT_EQ(out.error_code, 0) << c.end << " - " << c.duration;
  }
}

TEST_F(DateTimeStep, Layout4Codes) {
  UseLayout(TimeLayoutKind::kEndAndDuration);
  struct Case {
    std::string_view end;
    std::string_view duration;
    int32_t code;
  } cases[] = {{"120000", "00Q000", TALVO_ERR_DURATION_L4},
               {"250000", "000100", TALVO_ERR_END_TIME_L4},
               {"1200xx", "000100", TALVO_ERR_END_SECONDS_L4}};
  for (const Case& c : cases) {
    Reset();
    lines.Assign({"", c.end, c.duration});
    RunTimes();
    EXPECT_EQ(out.error_code, c.code) << c.end << " - " << c.duration;
  }
}

TEST_F(DateTimeStep, NoLayoutDecodesNoTimes) {
  UseLayout(TimeLayoutKind::kStartAndDuration);
  s.time_layout = TimeLayoutKind::kNone;
  s.dated_by_end = true;
  lines.Assign({"230000", "", "020000"});
  RunTimes();
  EXPECT_EQ(Minute(), 0);
  EXPECT_EQ(Duration(), 0);
  EXPECT_EQ(DateText(out.call_date), "990310");
}

TEST_F(DateTimeStep, ExtremeTimesWrapWithoutOverflow) {
  // Duration 2^31 - 1 s ending one second before midnight (end seconds "-1"):
  // the gap wraps to -2^31, -24854 midnights move the date out of the
  // calendar, and the start is 98048 s (-24854 * 86400 + 2^31).
  UseLayout(TimeLayoutKind::kEndAndDuration);
  s.duration_hours_column = 0;
  s.duration_minutes_column = 0;
  s.duration_seconds_column = 1;
  s.duration_seconds_width = 11;
  lines.Assign({"", "0000-1", "2147483647"});
  RunTimes();
  EXPECT_EQ(DateText(out.call_date), "      ");
  EXPECT_EQ(Minute(), 1634);
  EXPECT_EQ(Second(), 8);

  // A negative duration gives a start after the end, on the same day.
  Reset();
  lines.Assign({"", "000000", "-86400"});
  RunTimes();
  EXPECT_EQ(Minute(), 1440);
  EXPECT_EQ(DateText(out.call_date), "990310");
}

TEST_F(DateTimeStep, RingTimeIsCappedAt255) {
  s.ring_line = 2;
  s.ring_minutes_column = 1;
  s.ring_minutes_width = 2;
  s.ring_seconds_column = 3;
  s.ring_seconds_width = 2;
  struct Case {
    std::string_view in;
    int16_t want;
    int32_t code;
  } cases[] = {{"0430", 255, 0}, {"0205", 125, 0},  {"0415", 255, 0}, {"0414", 254, 0}, {"    ", 0, 0},
               {"-100", -60, TALVO_ERR_RING_TIME}, {"00-1", -1, TALVO_ERR_RING_TIME}, {"Q105", 5, TALVO_ERR_RING_TIME}};
  for (const Case& c : cases) {
    Reset();
    lines.Assign({"", c.in});
    RecordDecode d = Decode();
    DecodeRingTimeStep(d);
    EXPECT_EQ(Ring(), c.want) << '"' << c.in << '"';
    EXPECT_EQ(out.error_code, c.code) << '"' << c.in << '"';
  }
  // Not buffered: the ring time stays as it was.
  Reset();
  rec.RingSeconds = 9;
  lines.Assign({"0205"});
  RecordDecode d = Decode();
  DecodeRingTimeStep(d);
  EXPECT_EQ(Ring(), 9);
}

TEST_F(DateTimeStep, LocalCallDateAndTimeAgainstTheLocalFlag) {
  s.local_date_line = 1;
  s.local_year_column = 1;
  s.local_month_column = 3;
  s.local_day_column = 5;
  s.local_time_line = 2;
  s.local_hour_column = 1;
  s.local_minute_column = 3;
  struct Case {
    int held;  // lines buffered of the two below
    std::string_view date_line;
    std::string_view time_line;
    std::string_view label;
    std::string_view date;
    uint16_t minute;
    bool pending;
    int32_t code;
  } cases[] = {
      {2, "991231", "1230", "both", "991231", 750, true, 0},
      {2, "991331", "1230", "bad date", "991331", 750, false, TALVO_ERR_LOCAL_DATE},
      {2, "991231", "2430", "bad time", "991231", 1470, false, TALVO_ERR_LOCAL_TIME},
      {1, "991231", "", "no time line", "991231", 0, true, 0},
      {0, "", "", "no lines", "", 0, false, TALVO_ERR_LOCAL_DATE},
  };
  for (const Case& c : cases) {
    Reset("");
    state.local_call_pending = true;
    Hold(c.held, c.date_line, c.time_line);
    RecordDecode d = Decode();
    DecodeLocalCallDateTime(d);
    EXPECT_EQ(DateText(out.call_date), c.date) << c.label;
    EXPECT_EQ(Minute(), c.minute) << c.label;
    EXPECT_EQ(state.local_call_pending, c.pending) << c.label;
    EXPECT_EQ(out.error_code, c.code) << c.label;
    EXPECT_TRUE(state.record_ok) << c.label;
  }
}

TEST_F(DateTimeStep, DutyCallDateAndTimeAgainstRecordOk) {
  s.duty_date_line = 2;
  s.duty_year_column = 0;  // no year: today is 15 March 2026
  s.duty_month_column = 1;
  s.duty_day_column = 3;
  s.duty_time_line = 1;
  s.duty_hour_column = 1;
  s.duty_minute_column = 4;
  struct Case {
    int held;  // lines buffered of the two below
    std::string_view time_line;
    std::string_view date_line;
    std::string_view label;
    std::string_view date;
    uint16_t minute;
    int32_t code;
  } cases[] = {
      {2, "08:15", "1224", "both", "251224", 495, 0},
      {2, "08:15", "0230", "30 February passes", "260230", 495, 0},
      {2, "08:15", "1232", "bad date", "251232", 495, TALVO_ERR_DUTY_DATE},
      {2, "08:75", "0301", "bad time", "260301", 555, TALVO_ERR_DUTY_TIME},
      {1, "08:15", "", "no date line", "26", 495, TALVO_ERR_DUTY_DATE},
  };
  for (const Case& c : cases) {
    Reset("");
    Hold(c.held, c.time_line, c.date_line);
    RecordDecode d = Decode();
    DecodeDutyCallDateTime(d);
    EXPECT_EQ(DateText(out.call_date), c.date) << c.label;
    EXPECT_EQ(Minute(), c.minute) << c.label;
    EXPECT_EQ(state.record_ok, c.code == 0) << c.label;
    EXPECT_EQ(out.error_code, c.code) << c.label;
  }
}

}  // namespace
}  // namespace talvo
