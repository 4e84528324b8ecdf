// talvo explain, run as a program.
#include <string>

#include <gtest/gtest.h>

#include "tools/tool_test_support.h"

namespace talvo::tool::testing {
namespace {

const std::string kExampleSettings = std::string(TALVO_EXAMPLES) + "/pbx.ini";

// The block of `out` that explains report line `n`: from its heading to the
// next one.
std::string Block(const std::string& out, int n) {
  const std::string heading = "\nline " + std::to_string(n) + ":";
  const std::size_t at = out.find(heading);
  if (at == std::string::npos) return {};
  return out.substr(at + 1, out.find("\nline ", at + 1) - at);
}

TEST(TalvoExplain, ShowsWhereColumnsAreOneOff) {
  ScratchDir dir;
  // The report one column to the right of the settings: every line starts
  // no call, and explain names the shift.
  const RunResult shifted = RunTool(
      {"explain", "--settings", kExampleSettings, dir.Write("r.txt", " 15/03/26 07:58:12 00:02:05 201  01 003 O 06\n")});
  ASSERT_EQ(shifted.exit_code, 0) << shifted.err;
  const std::string line = Block(shifted.out, 1);
  EXPECT_NE(line.find("starts no call, skipped"), std::string::npos) << line;
  EXPECT_NE(line.find("CHK1_POS 3            \"5\" not matched: wants \"/\", which stands at column 4"),
            std::string::npos) << line;
  EXPECT_NE(line.find("matches 1 column to the right: are the settings' columns 1 off?"), std::string::npos) << line;

  // The extension one column off: the line is a call, and the field shows
  // what it reads and why the call was refused.
  const std::string settings = dir.Write("pbx.ini", "[pbx]\nCHK1_POS=3\nCHK1_STR=/\nEXT_POS=29\nEXT_LEN=4\n"
                                                    "EXT_RANGE_ST=200\nEXT_RANGE_END=299\n");
  const std::string report = dir.Write("call.txt", "15/03/26 07:58:12 00:02:05 201  01 003 O 06\n");
  const RunResult field = RunTool({"explain", "--settings", settings, report}, {}, dir.path());
  EXPECT_NE(field.out.find("EXT_POS 29-32         -> \"01\""), std::string::npos) << field.out;
  EXPECT_NE(field.out.find("rejected, error 42"), std::string::npos) << field.out;
  EXPECT_NE(field.out.find("extension outside EXT_RANGE_ST..EXT_RANGE_END (200..299): \"01  \" in columns 29-32"),
            std::string::npos) << field.out;
}

TEST(TalvoExplain, FollowsTheLinesOfAThreeLineCall) {
  ScratchDir dir;
  const std::string report = dir.Write("r.txt",
      "CALL 15/03/26 09:02:05 00:06:10 2150 02 010 O\n"
      "     DIALLED 0317654321           CALLER 0612345000\n"
      "     METER    6 RING 00:08 ACCOUNT 4711   ORIGIN 2150 P Y\n"
      "CALL 15/03/26 09:10:00 00:01:00 2151 02 010 O\n"
      "     DIALED  0317654321\n");
  const RunResult r = RunTool(
      {"explain", "--settings", std::string(TALVO_EXAMPLES) + "/../bench/data/three_line.ini", report, "--lines", "2-5"});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  EXPECT_EQ(Block(r.out, 1), "");  // outside --lines
  const std::string third = Block(r.out, 3);
  EXPECT_NE(third.find("line 3 of a call on lines 1-3"), std::string::npos) << third;
  EXPECT_NE(third.find("PULSES_POS 12-15      -> \"6\""), std::string::npos) << third;
  EXPECT_NE(third.find("RINGSS_POS 25-26      -> \"08\""), std::string::npos) << third;
  EXPECT_NE(third.find("=> record, outgoing"), std::string::npos) << third;
  const std::string fifth = Block(r.out, 5);
  EXPECT_NE(fifth.find("CHK2_POS 6-12         \"DIALED \" not matched: wants \"DIALLED\""), std::string::npos)
      << fifth;
  EXPECT_NE(fifth.find("lines 4-5 (line 5): line 2 of the call: CHK2 \"DIALLED\" is not at column 6"),
            std::string::npos) << fifth;
}

TEST(TalvoExplain, ControlBytesKeepTheColumnsAligned) {
  ScratchDir dir;
  const std::string line("15/03/26\t07:58:12 00:02:05 201  01 003 O 06\0" "345678", 50);
  const RunResult r = RunTool({"explain", "--settings", kExampleSettings, dir.Write("r.txt", line + "\r\n")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  // The line under the ruler: one column per byte, the tab and the NUL as a
  // middle dot, and the marks of the tests under their columns.
  EXPECT_NE(r.out.find("\n  15/03/26\xC2\xB7" "07:58:12 00:02:05 201  01 003 O 06\xC2\xB7" "345678\n"
                       "  ^^^^^   _  ^     _\n"),
            std::string::npos) << r.out;
  EXPECT_NE(r.out.find("SPC1_POS 9            \"\xC2\xB7\" not matched"), std::string::npos) << r.out;
}

}  // namespace
}  // namespace talvo::tool::testing
