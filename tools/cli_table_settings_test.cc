// talvo table build/dump and talvo settings, run as a program.
#include <algorithm>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/settings_report.h"
#include "tools/tool_test_support.h"

namespace talvo::tool::testing {
namespace {

TEST(TalvoTable, BuildThenDumpGivesBackTheList) {
  ScratchDir dir;
  const std::string list =
      "prefix,extension\r\n"
      "0521,300\r\n"
      "\r\n"
      " 05 , 400 \r\n"
      "\"00,44\",A1\r\n"
      "0123456789ABCDEF,12345678\r\n";
  const std::string table = dir.path() + "/QUORCNVT.INT";
  const RunResult build = RunTool({"table", "build", dir.Write("list.csv", list), "-o", table});
  ASSERT_EQ(build.exit_code, 0) << build.err;
  EXPECT_EQ(build.err, "talvo: wrote 4 entries to " + table + "\n");
  EXPECT_EQ(dir.Read("QUORCNVT.INT").size(), 5u * 26u);

  const RunResult dump = RunTool({"table", "dump", "--strict", table});
  EXPECT_EQ(dump.exit_code, 0) << dump.err;
  EXPECT_EQ(dump.out,
            "entry,prefix,extension,problem\n"
            "1,0521,300,\n"
            "2,05,400,\n"
            "3,\"00,44\",A1,\n"
            "4,0123456789ABCDEF,12345678,\n");
}

TEST(TalvoTable, BuildRefusesWhatCannotBeATable) {
  std::string many;
  for (int i = 0; i < 501; ++i) many += std::to_string(1000 + i) + ",1\n";
  struct Case {
    std::string in;
    std::string want;  // the message after "list.csv:"
  } cases[] = {
      {"0521,300\n01234567890123456,1\n", "2: prefix '01234567890123456' has 17 characters; at most 16 fit"},
      {"0521,123456789\n", "1: extension '123456789' has 9 characters; at most 8 fit"},
      {many, "501: more than 500 entries; the table holds 500"},
      {"0521,300\n,301\n", "2: the prefix is empty"},
      {"0521,\n", "1: the extension is empty"},
      {"0521,3-0\n", "1: extension '3-0' is not letters and digits"},
      {"0521,300\n\n0521,301\n", "3: prefix '0521' is already given on line 1"},
      {"0521,300,x\n", "1: expected 2 fields (prefix,extension), found 3"},
      {"0521\n", "1: expected 2 fields (prefix,extension), found 1"},
      {"\"0521,300\n", "1: a quoted field is not closed"},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    dir.Write("list.csv", c.in);
    const RunResult got = RunTool({"table", "build", "list.csv", "-o", "out.INT"}, {}, dir.path());
    EXPECT_EQ(got.exit_code, 2) << c.in.substr(0, 40);
    EXPECT_EQ(got.err, "talvo: list.csv:" + c.want + "; nothing written\n") << c.in.substr(0, 40);
    EXPECT_EQ(dir.Read("out.INT"), "") << "no table is written";
  }
}

TEST(TalvoTable, DumpFlagsMalformedEntries) {
  ScratchDir dir;
  auto entry = [](int key_length, std::string key, int ext_length, std::string ext) {
    std::string r(26, '\0');
    r[0] = static_cast<char>(key_length);
    key.resize(16, ' ');
    r.replace(1, 16, key);
    r[17] = static_cast<char>(ext_length);
    ext.resize(8, '\0');
    r.replace(18, 8, ext);
    return r;
  };
  std::string bytes(26, '\0');
  bytes[0] = 6;  // one entry more than the file holds
  bytes += entry(16, "0521", 3, "300");
  bytes += entry(4, "0522", 3, "301");
  bytes += entry(17, "0523", 3, "302");
  bytes += entry(16, "0524", 9, "30312345");
  bytes += entry(16, "0521", 3, "304");
  const std::string file = dir.Write("bad.INT", bytes);
  const RunResult r = RunTool({"table", "dump", file});
  EXPECT_EQ(r.exit_code, 0);
  const auto rows = CsvRows(r.out);
  ASSERT_EQ(rows.size(), 7u) << r.out;
  struct Want {
    std::size_t row;
    std::string problem;
  } wants[] = {
      {1, ""},
      {2, "key length 4 is not 16 (keys are padded to 16): never matches"},
      {3, "key length 17 is above 16: malformed, never matches"},
      {4, "extension length 9 is above 8: malformed, read as 8"},
      {5, "same key as entry 1: never used"},
      {6, "missing: the file ends before this entry, which never matches"},
  };
  for (const Want& w : wants) EXPECT_EQ(rows[w.row][3], w.problem) << "entry " << w.row;
  EXPECT_NE(r.err.find("header count 6, 6 entries searched, 5 problem(s)"), std::string::npos) << r.err;
  EXPECT_EQ(RunTool({"table", "dump", "--strict", file}).exit_code, 1);
}

TEST(TalvoSettings, PrintsEveryKeyWithItsValue) {
  const RunResult r = RunTool({"settings", TestData("one_line.ini")});
  ASSERT_EQ(r.exit_code, 0) << r.err;
  const std::vector<std::string> keys = KnownSettingsKeys();
  EXPECT_EQ(keys.size(), 131u);
  for (const std::string& key : keys) {
    EXPECT_NE(r.out.find("\n" + key + " "), std::string::npos) << key;
  }
  struct Case {
    std::string in;  // the start of a line of the report
  } cases[] = {
      {"EXT_POS             \"26\"                    column 26, line 1\n"},
      {"EXT_LEN             \"4\"                     4\n"},
      {"TIMEMM_POS          \"11\"                    column 11, line 1 (of TIMEHH_POS)\n"},
      {"ORG_EXT_POS         -                       not in the report\n"},
      {"PULSES_MULT         -                       1\n"},
      {"DC_EXT_CHK          -                       no effect\n"},
      {"CHK1_STR            \":\"                     \":\"\n"},
      {"LineCount: 1 (a call spans 1 line)\n"},
      {"TimeLayout: 1 (start time and duration)\n"},
  };
  for (const Case& c : cases) EXPECT_NE(r.out.find(c.in), std::string::npos) << c.in << r.out;
}

TEST(TalvoSettings, WarnsOfLikelyMistakes) {
  struct Case {
    std::string in;  // lines added to section [pbx] of a working layout
    std::string want;
  } cases[] = {
      {"EXT_POS=226\n", "warning: EXT_POS: column 226 is past column 200"},
      {"TIMEMM_POS=11;2\n",
       "warning: TIMEMM_POS: \"11;2\" names line 2, which is ignored; the column is read on line 1, the line of "
       "TIMEHH_POS"},
      {"IN_CHK1_POS=40\nIN_CHK1_STR=IN\n", "warning: IN_CHK1_POS is set but IN_CALLS is off, so it is not tested"},
      {"DC_CHK2_POS=3\nDC_CHK2_STR=D\n", "warning: DC_CHK2_POS is set but DUTY_CALL is off, so it is not tested"},
      {"DATE_END=YES\n", "warning: DATE_END: \"YES\" is neither Y nor N; read as no"},
      {"EXTPOS=26\n", "warning: key EXTPOS is not a setting of the driver; it is ignored"},
      {"LCL_DAY_POS=15;2\n", "warning: LCL_DAY_POS: \"15;2\" is not an integer; 0 is used (this key takes no line)"},
      {"NUM_POS=31;9\n", "warning: NUM_POS: line 9 is outside 1..6; line 1 is used"},
      {"CHK2_POS=5;2\n", "warning: CHK2_STR is empty, so the marker CHK2 tests nothing"},
      {"EXT_LEN=12\n", "warning: EXT_LEN is above 8; 8 is used"},
      {"EXT_PREFIX=x\n", "warning: EXT_PREFIX \"x\" does not start with a digit or capital letter"},
  };
  for (const Case& c : cases) {
    ScratchDir dir;
    // Keys given twice: the first counts, so the case's lines go first.
    const std::string file = dir.Write("pbx.ini", "[pbx]\n" + c.in + "EXT_POS=26\nEXT_LEN=4\nTIMEHH_POS=8\n"
                                                  "CHK1_POS=10\nCHK1_STR=:\n");
    const RunResult r = RunTool({"settings", file});
    EXPECT_EQ(r.exit_code, 0);
    EXPECT_NE(r.out.find(c.want), std::string::npos) << c.in << r.out.substr(r.out.find("warning(s)"));
    EXPECT_EQ(RunTool({"settings", "--strict", file}).exit_code, 1) << c.in;
  }
}

TEST(TalvoSettings, AFileWithoutTheSectionOrNotThereAtAll) {
  ScratchDir dir;
  const RunResult empty = RunTool({"settings", dir.Write("other.ini", "[other]\nEXT_POS=5\n")});
  EXPECT_EQ(empty.exit_code, 0);
  EXPECT_NE(empty.out.find("section [pbx]: not found"), std::string::npos);
  EXPECT_NE(empty.out.find("has no section [pbx]: every key takes its default"), std::string::npos);
  const RunResult missing = RunTool({"settings", dir.path() + "/missing.ini"});
  EXPECT_EQ(missing.exit_code, 2);
  EXPECT_EQ(missing.err, "talvo: cannot read settings file '" + dir.path() + "/missing.ini': No such file or directory\n");
}

}  // namespace
}  // namespace talvo::tool::testing

namespace talvo::tool {
namespace {

TEST(SectionKeys, FindsTheKeysOfTheFirstSectionOfThatName) {
  struct Case {
    std::string in;
    bool found;
    std::vector<std::string> keys;
  } cases[] = {
      {"", false, {}},
      {"[other]\nA=1\n", false, {}},
      {"[PBX]\r\nA=1\r\n ; B=2\r\n  C = 3 \r\nno equals\r\n[next]\r\nD=4", true, {"A", "C"}},
      {"E=0\n[ pbx ]x\nA=\n[pbx]\nB=1\n", true, {"A"}},
      {"[pbx\rA=1\rB=2", true, {"A", "B"}},
      {std::string("\xFF\xFE[\0p\0b\0x\0]\0\n\0A\0=\0" "1\0", 20), true, {"A"}},
  };
  for (const Case& c : cases) {
    const SectionKeys got = ListSectionKeys(c.in, "pbx");
    EXPECT_EQ(got.found, c.found) << c.in;
    EXPECT_EQ(got.keys, c.keys) << c.in;
  }
}

TEST(TalvoSettings, SampleShowsReadingsAndFieldsBlankOnEveryCall) {
  testing::ScratchDir dir;
  const std::string settings = dir.Write("pbx.ini",
                                         "[pbx]\nCHK1_POS=3\nCHK1_STR=/\nDAY_POS=1\nMONTH_POS=4\nYEAR_POS=7\n"
                                         "TIMEHH_POS=10\nTIMEMM_POS=13\nEXT_POS=20\nEXT_LEN=3\n"
                                         "NUM_POS=30\nNUM_LEN=10\nEXT_RANGE_ST=100\nEXT_RANGE_END=999\n");
  const std::string sample = dir.Write("r.txt",
                                       "DATE     TIME  EXT\n"
                                       "15/03/26 07:58 201\n"
                                       "15/03/26 0x:01 202\n");
  const testing::RunResult r = testing::RunTool({"settings", settings, "--sample", sample, "--strict"});
  EXPECT_EQ(r.exit_code, 1) << r.err;
  EXPECT_NE(r.out.find("sample: " + sample + ", 3 lines, 2 taken for calls\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("TIMEHH_POS 10-11        \"07\"                  \"0x\"\n"), std::string::npos) << r.out;
  EXPECT_NE(r.out.find("warning: NUM_POS 30-39 reads blanks on every one of the 2 calls of the sample\n"),
            std::string::npos) << r.out;
  EXPECT_EQ(r.out.find("warning: TIMEHH_POS"), std::string::npos) << r.out;  // digits on one call
}

}  // namespace
}  // namespace talvo::tool

namespace talvo::tool::testing {
namespace {

// The commands a --help text lists under "Subcommands:".
std::vector<std::string> SubcommandsIn(const std::string& help) {
  std::vector<std::string> names;
  const std::size_t at = help.find("\nSubcommands:\n");
  if (at == std::string::npos) return names;
  std::istringstream lines(help.substr(at + 14));
  for (std::string line; std::getline(lines, line) && line.rfind("  ", 0) == 0;) {
    std::istringstream words(line);
    std::string name;
    words >> name;
    names.push_back(name);
  }
  return names;
}

// The man page names every command and every long option that --help shows.
TEST(TalvoManual, NamesEveryCommandAndOption) {
  std::ifstream file(std::string(TALVO_SOURCE_DIR) + "/docs/talvo.1");
  std::stringstream text;
  text << file.rdbuf();
  const std::string manual = text.str();
  ASSERT_FALSE(manual.empty());
  std::vector<std::vector<std::string>> commands = {{}};
  for (std::size_t i = 0; i < commands.size(); ++i) {
    std::vector<std::string> args = commands[i];
    args.push_back("--help");
    const RunResult r = RunTool(args);
    for (const std::string& sub : SubcommandsIn(r.out)) {
      std::vector<std::string> next = commands[i];
      next.push_back(sub);
      commands.push_back(next);
      EXPECT_NE(manual.find(".B talvo " + (commands[i].empty() ? sub : commands[i][0] + " " + sub)),
                std::string::npos)
          << "talvo " << sub << " is missing from docs/talvo.1";
    }
    std::istringstream words(r.out);
    for (std::string word; words >> word;) {
      if (word.rfind("--", 0) != 0 || word == "--help") continue;
      const std::string option = word.substr(0, word.find_first_of(",=:)"));
      if (option == "--help") continue;
      std::string escaped;
      for (char c : option) escaped += c == '-' ? std::string("\\-") : std::string(1, c);
      EXPECT_NE(manual.find(escaped), std::string::npos) << option << " is missing from docs/talvo.1";
    }
  }
}

}  // namespace
}  // namespace talvo::tool::testing
