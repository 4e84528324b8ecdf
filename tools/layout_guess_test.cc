// talvo layout guess, run as a program: the guessed settings must decode the
// report they were guessed from.
#include <string>

#include <gtest/gtest.h>

#include "tools/tool_test_support.h"

namespace talvo::tool::testing {
namespace {

std::string Two(int n) { return (n < 10 ? "0" : "") + std::to_string(n); }

// Guesses settings from `report`, then decodes it with them; returns the
// decode's record rows (header included).
std::vector<std::vector<std::string>> GuessThenDecode(const ScratchDir& dir, const std::string& report,
                                                      std::string* settings) {
  const std::string path = dir.Write("report.txt", report);
  const RunResult guess = RunTool({"layout", "guess", path, "-o", dir.path() + "/guessed.ini"});
  EXPECT_EQ(guess.exit_code, 0) << guess.err;
  *settings = dir.Read("guessed.ini");
  const RunResult decode = RunTool({"decode", "--settings", dir.path() + "/guessed.ini", "--today", "2026-03-20", path});
  EXPECT_EQ(decode.exit_code, 0) << decode.err;
  return CsvRows(decode.out);
}

TEST(TalvoLayoutGuess, TwelveHourReportWithHeadingsEvery50Lines) {
  std::string report;
  for (int i = 0; i < 120; ++i) {
    if (i % 47 == 0) report += "CALL REPORT                    PAGE " + std::to_string(i / 47 + 1) + "\nDATE     TIME      EXT  DIALLED       DURATION\n\n";
    const int hour = 1 + i % 12;
    report += "03/" + Two(13 + i % 5) + "/26 " + Two(hour) + ":" + Two(i % 60) + (i % 2 ? " PM" : " AM") + "  " +
              std::to_string(201 + i % 7) + "  06" + std::to_string(12345000 + i) + "    00:" + Two(i % 60) + ":" +
              Two(i % 50) + "\n";
  }
  ScratchDir dir;
  std::string settings;
  const auto rows = GuessThenDecode(dir, report, &settings);
  EXPECT_NE(settings.find("Date MM/DD/YY"), std::string::npos) << settings;
  EXPECT_NE(settings.find("AMPM_POS=16"), std::string::npos) << settings;
  ASSERT_EQ(rows.size(), 121u) << settings;
  // Call 3 (i = 3): 04:03 PM on 03/16/26, extension 204.
  EXPECT_EQ(rows[4][0], "2026-03-16");
  EXPECT_EQ(rows[4][1], "16:03:00");
  EXPECT_EQ(rows[4][5], "204");
  EXPECT_EQ(rows[4][7], "0612345003");
}

TEST(TalvoLayoutGuess, ThreeLineCalls) {
  std::string report = "OFFICE PBX CALL LOG\n\n";
  for (int i = 0; i < 30; ++i) {
    report += "CALL 15/03/26 " + Two(8 + i / 6) + ":" + Two(i * 2 % 60) + ":05 00:00:" + Two(10 + i) + " " + std::to_string(2150 + i % 4) + " 02 0" + Two(10 + i % 3) + (i % 3 ? " O" : " I") + "\n" +
              "     DIALLED 03176543" + Two(i) + "           CALLER 06123450" + Two(i) + "\n" +
              "     METER   " + Two(i % 20) + " RING 00:" + Two(i % 30) + "\n";
  }
  ScratchDir dir;
  std::string settings;
  const auto rows = GuessThenDecode(dir, report, &settings);
  EXPECT_NE(settings.find("A call spans 3 lines."), std::string::npos) << settings;
  EXPECT_NE(settings.find("_STR=\"DIALLED\""), std::string::npos) << settings;
  EXPECT_NE(settings.find("_STR=\"METER\""), std::string::npos) << settings;
  ASSERT_EQ(rows.size(), 31u) << settings;
  // Call 2 (i = 1): outgoing from 2151, 0317654301, 2 pulses... as printed.
  EXPECT_EQ(rows[2][1], "08:02:05");
  EXPECT_EQ(rows[2][4], "outgoing");
  EXPECT_EQ(rows[2][5], "2151");
  EXPECT_EQ(rows[2][7], "0317654301");
  EXPECT_EQ(rows[1][4], "incoming");
  EXPECT_EQ(rows[1][7], "0612345000");
}

// A sample sorted by time says nothing by its order; the call over midnight
// tells whether the printed time starts or ends the calls.
TEST(TalvoLayoutGuess, StartOrEndToldByTheCallOverMidnight) {
  struct Case {
    const char* name;
    const char* midnight_line;  // the one call that crosses midnight under the right reading
    const char* key;
    const char* date;           // of that call, decoded
    const char* start;
  };
  const Case cases[] = {
      {"printed at the start", "14/03/26 23:50:00 203 0612345099 00:20:00", "TIMEHH_POS=10;1", "2026-03-14", "23:50:00"},
      {"printed at the end", "15/03/26 00:10:00 203 0612345099 00:20:00", "ENDHH_POS=10;1", "2026-03-14", "23:50:00"},
  };
  for (const Case& c : cases) {
    std::string report = "DATE     TIME     EXT NUMBER     DURATION\n";
    for (int i = 0; i < 12; ++i) {
      report += "14/03/26 " + Two(10 + i) + ":00:00 " + std::to_string(201 + i % 4) + " 06123450" + Two(i) + " 00:0" +
                std::to_string(1 + i % 5) + ":00\n";
    }
    report += std::string(c.midnight_line) + "\n15/03/26 08:00:00 202 0612345098 00:03:00\n";
    ScratchDir dir;
    std::string settings;
    const auto rows = GuessThenDecode(dir, report, &settings);
    EXPECT_NE(settings.find(c.key), std::string::npos) << c.name << "\n" << settings;
    ASSERT_EQ(rows.size(), 15u) << c.name << "\n" << settings;
    EXPECT_EQ(rows[13][0], c.date) << c.name;
    EXPECT_EQ(rows[13][1], c.start) << c.name;
  }
}

// Fields printed with no blank between them: the date runs into the time,
// the extension into a ring time printed on incoming calls only, the
// duration into the number.
TEST(TalvoLayoutGuess, FieldsPrintedWithNoBlankBetweenThem) {
  std::string report;
  for (int i = 0; i < 20; ++i) {
    const bool incoming = i % 3 == 1;
    report += "15.03.26" + Two(8 + i / 4) + ":" + Two(i * 3 % 60) + ":05  " + std::to_string(1 + i % 3) + "   " +
              std::to_string(201 + i % 5) + (incoming ? "00:" + Two(5 + i) : std::string("     ")) + "00:" +
              Two(i % 60) + ":" + Two(10 + i) + "0" + Two(30 + i) + "1234567\n";
  }
  ScratchDir dir;
  std::string settings;
  const auto rows = GuessThenDecode(dir, report, &settings);
  ASSERT_EQ(rows.size(), 21u) << settings;
  // Call 2 (i = 1): incoming to 202 on trunk 2, rang 6 s, 1 min 11 s.
  EXPECT_EQ(rows[2][0], "2026-03-15") << settings;
  EXPECT_EQ(rows[2][1], "08:03:05");
  EXPECT_EQ(rows[2][2], "71");
  EXPECT_EQ(rows[2][3], "6");
  EXPECT_EQ(rows[2][4], "incoming");
  EXPECT_EQ(rows[2][5], "202");
  EXPECT_EQ(rows[2][9], "2");
  EXPECT_EQ(rows[1][4], "outgoing");
  EXPECT_EQ(rows[1][7], "0301234567");
}

// Regression: with the duration on a further line that only some calls
// have, the test of start against end read past the durations found.
TEST(TalvoLayoutGuess, DurationOnALineSomeCallsLackIsNoCrash) {
  std::string report;
  for (int i = 0; i < 40; ++i) {
    report += "15/03/26 " + Two(8 + i / 6) + ":" + Two(i * 7 % 60) + " " + std::to_string(201 + i % 4) + " 0" +
              Two(30 + i) + "1234567\n";
    if (i % 4 == 0) report += "   DURATION 00:" + Two(i % 60) + ":" + Two(10 + i % 40) + "\n";
  }
  ScratchDir dir;
  std::string settings;
  const auto rows = GuessThenDecode(dir, report, &settings);
  ASSERT_GE(rows.size(), 2u) << settings;
  EXPECT_EQ(rows[1][2], "10") << settings;  // 00:00:10 on the first call's line 2
}

// Regression: one garbled date whose second part passed 12 made a
// day-first report month-first.
TEST(TalvoLayoutGuess, AGarbledDateDoesNotTurnTheDateOrderRound) {
  std::string report;
  for (int i = 0; i < 30; ++i) {
    report += (i == 17 ? std::string("05/13/26") : Two(1 + i % 12) + "/01/26") + " 10:" + Two(i) + " " +
              std::to_string(201 + i % 4) + " 0" + Two(30 + i) + "1234567\n";
  }
  ScratchDir dir;
  std::string settings;
  const auto rows = GuessThenDecode(dir, report, &settings);
  EXPECT_NE(settings.find("Date DD/MM/YY"), std::string::npos) << settings;
  ASSERT_GE(rows.size(), 3u) << settings;
  EXPECT_EQ(rows[2][0], "2026-01-02");
}

TEST(TalvoLayoutGuess, SaysSoAndExitsOneWhenNoCallLineCanBePlaced) {
  ScratchDir dir;
  const RunResult r = RunTool({"layout", "guess", dir.Write("notes.txt", "shopping list\neggs\nmilk 2\n"), "-o",
                               dir.path() + "/out.ini"});
  EXPECT_EQ(r.exit_code, 1);
  EXPECT_NE(r.err.find("no line holds a date or a time of day HH:MM"), std::string::npos) << r.err;
  EXPECT_NE(r.err.find("no call line could be placed; nothing was written"), std::string::npos) << r.err;
  EXPECT_EQ(r.out, "");
}

}  // namespace
}  // namespace talvo::tool::testing
