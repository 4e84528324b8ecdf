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
