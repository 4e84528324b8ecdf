#include "util/calendar.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "util/text.h"

namespace talvo {
namespace {

constexpr int32_t kJan1st1990 = 726483;
constexpr int32_t kJan1st2000 = 730135;
constexpr int32_t kHundredYears = 36525;  // every fourth year a leap year

TEST(CalendarDateToDayNumber, CountsDaysFromYearOne) {
  struct Case {
    std::string in;
    int32_t want;
  } cases[] = {
      {"000101", kJan1st2000},
      {"991231", kJan1st2000 - 1},
      {"900101", kJan1st1990},
      {"600101", kLastWritableDay + 1},  // 2060
      {"891231", kJan1st2000 + 90 * 365 + 23 - 1},
      {"000229", kJan1st2000 + 59},
      {"000301", kJan1st2000 + 60},
      {"010301", kJan1st2000 + 366 + 59},
      {"000101XY", kJan1st2000},      // only the first six of eight count
      {"000101 12:00", kJan1st2000},
      {" 00101", kJan1st2000},        // a leading space is skipped
      {"00 101", kJan1st2000},
      {"0001 1", kJan1st2000},
  };
  for (const Case& c : cases) EXPECT_EQ(DateToDayNumber(c.in), c.want) << '"' << c.in << '"';
}

TEST(CalendarDateToDayNumber, LetsADayRunIntoTheNextMonth) {
  EXPECT_EQ(DateToDayNumber("990229"), DateToDayNumber("990301"));
  EXPECT_EQ(DateToDayNumber("990231"), DateToDayNumber("990303"));
  EXPECT_EQ(DateToDayNumber("000231"), DateToDayNumber("000302"));
  EXPECT_EQ(DateToDayNumber("990431"), DateToDayNumber("990501"));
  EXPECT_EQ(DateToDayNumber(" 91231"), DateToDayNumber("091231"));  // 2009, not 1999
}

TEST(CalendarDateToDayNumber, GivesZeroForTextsThatAreNoDate) {
  const std::string not_dates[] = {
      "",       "      ", "        ", "\t00101", "9912",           "991301",
      "990001", "990100", "990132", "99010",   "0 0101",         "0001 ",
      "00-101", "ab0101", "        000101",    std::string("\0" "00101", 6),
  };
  for (const std::string& t : not_dates) EXPECT_EQ(DateToDayNumber(t), 0) << '"' << t << '"';
}

TEST(CalendarDayNumberToDate, WritesTheRangeFrom1960To2059) {
  struct Case {
    int32_t in;
    std::string want;
  } cases[] = {
      {kFirstWritableDay, "600101"},
      {kLastWritableDay, "591231"},
      {kFirstWritableDay - 1, "      "},
      {kLastWritableDay + 1, "      "},
      {0, "      "},
      {INT32_MIN, "      "},
      {INT32_MAX, "      "},
      {kJan1st2000, "000101"},
      {kJan1st2000 - 1, "991231"},
      {kJan1st2000 + 59, "000229"},
      {kJan1st2000 + 60, "000301"},
      {kJan1st2000 + 365, "001231"},
      {kJan1st2000 + 366, "010101"},
      {kJan1st2000 - 3 * 365 + 59, "970301"},
  };
  for (const Case& c : cases) EXPECT_EQ(DayNumberToDate(c.in), c.want) << c.in;
}

// The civil calendar as a second opinion: it agrees from 1901 to 2099.
std::string CivilDate(int32_t day_number) {
  using namespace std::chrono;
  const year_month_day d{sys_days{year{2000} / January / 1} + days{day_number - kJan1st2000}};
  return IntToTextZeroPad(static_cast<int>(d.year()) % 100, 2) +
         IntToTextZeroPad(static_cast<int32_t>(static_cast<unsigned>(d.month())), 2) +
         IntToTextZeroPad(static_cast<int32_t>(static_cast<unsigned>(d.day())), 2);
}

TEST(CalendarDayNumberToDate, AgreesWithTheCivilCalendarAndReadsBack) {
  for (int32_t n = kFirstWritableDay; n <= kLastWritableDay; ++n) {
    const std::string date = DayNumberToDate(n);
    ASSERT_EQ(date, CivilDate(n)) << n;
    // 1960..1989 are written with two digits and read back as 2060..2089.
    const int32_t want = n < kJan1st1990 ? n + kHundredYears : n;
    ASSERT_EQ(DateToDayNumber(date), want) << n << " " << date;
  }
}

}  // namespace
}  // namespace talvo
