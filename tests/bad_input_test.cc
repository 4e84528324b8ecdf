// Bad input of every kind a host meets: report lines off a noisy serial line,
// settings files typed by hand, conversion tables written by other programs,
// and host calls out of order or with broken arguments. Every case goes
// through the exports. None may crash the driver, read or write outside what
// it was given, or lose a record that the lines still hold; the cases pin
// what the driver does instead.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <climits>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <numeric>
#include <string>
#include <vector>

#include "config/driver_settings.h"
#include "driver/record_dump.h"
#include "support/fake_driver.h"
#include "support/test_host.h"
#include "talvo/driver.h"

namespace talvo::testing {
namespace {

namespace fs = std::filesystem;

// One call on one line: date, start time, duration, extension, dialled number
// and trunk.
constexpr char kOneLine[] =
    "[pbx]\n"
    "YEAR_POS=1\nMONTH_POS=3\nDAY_POS=5\n"
    "TIMEHH_POS=8\nTIMEMM_POS=11\nTIMESS_POS=14\n"
    "LENHH_POS=17\nLENMM_POS=20\nLENSS_POS=23\n"
    "EXT_POS=26\nEXT_LEN=4\nEXT_RANGE_ST=100\nEXT_RANGE_END=999\n"
    "NUM_POS=31\nNUM_LEN=20\nOREK_POS=52\nOREK_LEN=3\n"
    "CHK1_POS=10\nCHK1_STR=:\nSPC1_POS=7\n";

//                          1         2         3         4         5
//                 1234567890123456789012345678901234567890123456789012345
constexpr char kCall[] = "260315 13:05:07 00:01:35 215  0521234567           003";
constexpr char kCallDump[] =
    "ext=215 ext2= tg=0 trunk=3 start=13:05:07 dur=95 ring=0 pulses=0 flags=out "
    "number=0521234567 account= tcode= date=260315 index=-1";

// A call on six lines: the three-line layout of the scenarios, then a DISA
// field on line 6.
constexpr char kSixLines[] =
    "[pbx]\n"
    "CHK1_POS=1;1\nCHK1_STR=CALL\nSPC1_POS=5;1\n"
    "CHK2_POS=3;2\nCHK2_STR=DIAL\nCHK3_POS=3;3\nCHK3_STR=TRUNK\n"
    "EXT_POS=6;1\nEXT_LEN=4\nEXT_RANGE_ST=200\nEXT_RANGE_END=299\n"
    "DAY_POS=12\nMONTH_POS=15;1\nYEAR_POS=18\n"
    "TIMEHH_POS=21;1\nTIMEMM_POS=24\nTIMESS_POS=27\n"
    "NUM_POS=8;2\nNUM_LEN=20\nLENHH_POS=33\nLENMM_POS=36;2\nLENSS_POS=39\n"
    "OREK_POS=9;3\nOREK_LEN=3\n"
    "DISA_POS=1;6\nDISA_LEN=1\n";
constexpr char kSixCall[] = "CALL 215   15.03.26 13:05:07";
constexpr char kSixDial[] = "  DIAL 0521234567           DUR 00:01:35";
constexpr char kSixTrunk[] = "  TRUNK 003";

template <typename Text>
bool Within(const Text& t) {
  return t.length <= sizeof t.chars;
}

// What every call must give, whatever the input.
void ExpectSound(const LineOutcome& o, const std::string& in) {
  EXPECT_TRUE(o.result == TALVO_RESULT_NO_RECORD || o.result == TALVO_RESULT_RECORD ||
              o.result == TALVO_RESULT_INCOMPLETE || o.result == TALVO_RESULT_DUTY)
      << o.result << " for " << EscapeText(in.substr(0, 80));
  const CallRecord& r = o.record;
  EXPECT_TRUE(Within(r.Extension) && Within(r.SecondExtension) && Within(r.TrunkGroup) && Within(r.Trunk) &&
              Within(r.Number) && Within(r.Account) && Within(r.TCode))
      << EscapeText(in.substr(0, 80));
  EXPECT_LE(o.call_date.size(), 6u);
}

std::string Outcome(const LineOutcome& o) {
  std::string s = std::to_string(o.result) + " err=" + std::to_string(o.error_code);
  if (!o.carried.empty()) s += " carry";
  return s;
}

std::string Dump(const LineOutcome& o) { return DumpRecord(o.record, o.call_date, o.call_index); }

class BadInputTest : public ::testing::Test {
 protected:
  void SetUp() override {
    fake.env.profile_files["one_line.ini"] = kOneLine;
    fake.env.profile_files["six_lines.ini"] = kSixLines;
  }

  // Feeds `line` and checks what every call must give.
  static LineOutcome Feed(TestHost& host, const std::string& line) {
    const LineOutcome o = host.Feed(line);
    ExpectSound(o, line);
    return o;
  }

  // Feeds `lines` in turn; the outcome of each, and the last one in `last`.
  static std::vector<std::string> FeedAll(TestHost& host, const std::vector<std::string>& lines,
                                          LineOutcome& last) {
    std::vector<std::string> got;
    for (const std::string& line : lines) {
      last = Feed(host, line);
      got.push_back(Outcome(last));
    }
    return got;
  }

  FakeDriver fake;
};

// ---- Report lines -------------------------------------------------------------

TEST_F(BadInputTest, LinesWithArbitraryBytes) {
  const std::string call = kCall;
  struct Case {
    std::string in;
    std::string want;       // result, error code and carry
    std::string want_dump;  // after result 2; empty otherwise
  };
  const Case cases[] = {
      // Bytes outside every field change nothing.
      {call + std::string("\0\xFF\r\x7F", 4) + "junk", "2 err=42", kCallDump},
      {call + "\r", "2 err=42", kCallDump},
      // A CR in the extension field, after its digits, is trimmed like a blank.
      {call.substr(0, 28) + "\r" + call.substr(29), "2 err=42", kCallDump},
      // A NUL or 0xFF inside the dialled number is skipped like any non-digit.
      {call.substr(0, 34) + std::string(1, '\0') + call.substr(35), "2 err=42",
       "ext=215 ext2= tg=0 trunk=3 start=13:05:07 dur=95 ring=0 pulses=0 flags=out "
       "number=052134567 account= tcode= date=260315 index=-1"},
      {call.substr(0, 34) + "\xFF" + call.substr(35), "2 err=42",
       "ext=215 ext2= tg=0 trunk=3 start=13:05:07 dur=95 ring=0 pulses=0 flags=out "
       "number=052134567 account= tcode= date=260315 index=-1"},
      // Broken bytes in the extension, the date and the time are refused.
      {call.substr(0, 26) + "\xFF" + call.substr(27), "1 err=42", ""},
      {call.substr(0, 26) + std::string(1, '\0') + call.substr(27), "1 err=42", ""},
      {std::string(1, '\0') + call.substr(1), "1 err=6", ""},
      {call.substr(0, 7) + "\xFF" + call.substr(8), "1 err=7", ""},
      // A control byte in a number field reads as a blank: minutes "\r5" are 5.
      {call.substr(0, 10) + "\r" + call.substr(11), "2 err=42", kCallDump},
      // Lines of nothing but control bytes or 0xFF start no call.
      {std::string(60, '\0'), "1 err=0", ""},
      {std::string(60, '\xFF'), "1 err=0", ""},
      {std::string(60, '\r'), "1 err=0", ""},
      {"\r\n", "1 err=0", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(EscapeText(c.in));
    TestHost host(fake.driver, "one_line.ini");
    const LineOutcome o = Feed(host, c.in);
    EXPECT_EQ(Outcome(o), c.want);
    if (!c.want_dump.empty()) {
      EXPECT_EQ(Dump(o), c.want_dump);
    }
    // The next good line is decoded as if nothing had come before.
    const LineOutcome next = Feed(host, kCall);
    EXPECT_EQ(Outcome(next), "2 err=42");
    EXPECT_EQ(Dump(next), kCallDump);
  }
}

TEST_F(BadInputTest, LinesOfZeroAndOneMegabyte) {
  const std::string megabyte(1 << 20, '7');
  struct Case {
    std::string name;
    std::vector<std::string> lines;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      {"empty line", {""}, {"1 err=0"}},
      {"empty lines around a call", {"", kCall, ""}, {"1 err=0", "2 err=42", "1 err=0"}},
      {"a call followed by a megabyte", {std::string(kCall) + megabyte}, {"2 err=42"}},
      {"a megabyte of digits", {megabyte}, {"1 err=0"}},
      {"a megabyte of NUL", {std::string(1 << 20, '\0')}, {"1 err=0"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestHost host(fake.driver, "one_line.ini");
    LineOutcome last;
    EXPECT_EQ(FeedAll(host, c.lines, last), c.want);
    if (last.result == TALVO_RESULT_RECORD) {
      EXPECT_EQ(Dump(last), kCallDump);
    }
  }

  // A multi-line call: an empty or a megabyte-long line where line 2 is due
  // breaks the call off with the line-2 marker's code.
  for (const std::string& line2 : {std::string(), megabyte}) {
    SCOPED_TRACE(line2.size());
    TestHost host(fake.driver, "six_lines.ini");
    EXPECT_EQ(Outcome(Feed(host, kSixCall)), "4 err=0");
    EXPECT_EQ(Outcome(Feed(host, line2)), "1 err=102");
  }
}

TEST_F(BadInputTest, PositionsAtColumn255AndLine6) {
  // Every position key of the settings, each given the same value.
  const std::vector<std::string> keys = [] {
    std::vector<std::string> k = {
        "EXT_POS", "ORG_EXT_POS", "ACCOUNT_POS", "YEAR_POS", "MONTH_POS", "DAY_POS", "JULIAN_POS",
        "TIMEHH_POS", "TIMEMM_POS", "TIMESS_POS", "AMPM_POS", "ENDHH_POS", "ENDMM_POS", "ENDSS_POS",
        "LENHH_POS", "LENMM_POS", "LENSS_POS", "RINGMM_POS", "RINGSS_POS", "NUM_POS", "CLI_POS",
        "ALUMA_POS", "OREK_POS", "PULSES_POS", "INDEX_POS", "TCODE_POS", "DISA_POS", "LCL_YEAR_POS",
        "LCL_MONTH_POS", "LCL_DAY_POS", "LCL_TIMEHH_POS", "LCL_TIMEMM_POS", "LCL_ORG_POS", "LCL_TER_POS",
        "DC_SPC1_POS", "DC_YEAR_POS", "DC_MONTH_POS", "DC_DAY_POS", "DC_TIMEHH_POS", "DC_TIMEMM_POS",
        "DC_EXT_POS"};
    for (int n = 1; n <= 6; ++n) {
      k.push_back("CHK" + std::to_string(n) + "_POS");
      k.push_back("SPC" + std::to_string(n) + "_POS");
    }
    for (int n = 1; n <= 4; ++n) {
      for (const char* group : {"IN_CHK", "PRV_CHK", "LCL_CHK", "DC_CHK"}) {
        k.push_back(group + std::to_string(n) + "_POS");
      }
      k.push_back("DC_TRN_D" + std::to_string(n));
    }
    return k;
  }();
  std::string switches = "IN_CALLS=Y\nPRV_CALLS=Y\nLOCAL_CALLS=Y\nDUTY_CALL=Y\nSAVE_TRNK_EXT=Y\n";
  for (const std::string& key : keys) {
    if (key.find("CHK") != std::string::npos) switches += key.substr(0, key.size() - 4) + "_STR=X\n";
  }

  const std::string line255 = std::string(254, ' ') + "X";
  struct Case {
    std::string value;
    std::vector<std::string> lines;
    std::vector<std::string> want;
  };
  const Case cases[] = {
      // Six lines to a call and every field on line 6. A second line that
      // starts a call closes the first with its one line: nothing of it is
      // on line 6, so there is no extension.
      {"255;6", {kCall, kCall, kCall}, {"4 err=0", "1 err=20 carry", "1 err=20 carry"}},
      {"255;6", {line255, line255, line255}, {"4 err=0", "1 err=20 carry", "1 err=20 carry"}},
      // All on line 1: the markers want "X" at column 255.
      // No line is a normal call (a column must both hold "X" and be blank)
      // nor a duty call (32); one with "X" at 255 is a local call whose date
      // stands past the end of the line (29).
      {"255", {kCall, line255, line255 + "7"}, {"1 err=32", "1 err=29", "1 err=29"}},
  };
  for (const Case& c : cases) {
    std::string settings = "[pbx]\n" + switches;
    for (const std::string& key : keys) settings += key + "=" + c.value + "\n";
    fake.env.profile_files["far.ini"] = settings;
    SCOPED_TRACE(c.value);
    TestHost host(fake.driver, "far.ini");
    std::vector<std::string> got;
    for (const std::string& line : c.lines) got.push_back(Outcome(Feed(host, line)));
    EXPECT_EQ(got, c.want);
  }
}

TEST_F(BadInputTest, LengthsOf255AreKeptToTheRecordsFields) {
  // Every field runs to the end of a long line; the first key of a name wins,
  // so the long lengths come before the one-line layout.
  const std::string long_fields =
      "[pbx]\nEXT_LEN=255\nEXT_RANGE_END=99999999\nNUM_LEN=255\nOREK_LEN=255\nALUMA_POS=52\nALUMA_LEN=255\n"
      "ACCOUNT_POS=56\nACCOUNT_LEN=255\nTCODE_POS=56\nTCODE_LEN=255\n";
  fake.env.profile_files["long.ini"] = long_fields + (kOneLine + 6);
  fake.env.profile_files["long_numbers.ini"] =
      long_fields + "INDEX_POS=60\nINDEX_LEN=255\nPULSES_POS=60\nPULSES_LEN=255\n" + (kOneLine + 6);
  const std::string line = std::string(kCall).substr(0, 25) + "215" + std::string(300, '5');

  TestHost host(fake.driver, "long.ini");
  const LineOutcome o = Feed(host, line);
  EXPECT_EQ(Outcome(o), "2 err=42");
  // Extension 8, number 24, trunk and group 6, account 8, code 10 characters.
  EXPECT_EQ(Dump(o),
            "ext=21555555 ext2= tg=555555 trunk=555555 start=13:05:07 dur=95 ring=0 pulses=0 flags=out "
            "number=555555555555555555555555 account=55555555 tcode=5555555555 date=260315 index=-1");

  // 241 digits are no 32-bit index (16); the pulses are not read after it.
  TestHost numbers(fake.driver, "long_numbers.ini");
  EXPECT_EQ(Outcome(Feed(numbers, line)), "1 err=16");
}

// Regression: a ring time far below zero was cut to 16 bits and stored as a
// ring time above 255 (-65000 seconds as 536).
TEST_F(BadInputTest, RingTimeBelowZeroFailsTheCallAndIsNeverALongRing) {
  fake.env.profile_files["ring.ini"] =
      std::string("[pbx]\nRINGMM_POS=55\nRINGMM_LEN=5\nRINGSS_POS=61\nRINGSS_LEN=3\n") + (kOneLine + 6);
  TestHost host(fake.driver, "ring.ini");
  struct Case {
    std::string in;
    int16_t want;
    std::string want_outcome;
  };
  const Case cases[] = {
      {"-1083 -20", INT16_MIN, "1 err=46"},  // -65000 seconds
      {"-0546 -08", INT16_MIN, "1 err=46"},  // -32768 seconds
      {"-0546 -07", -32767, "1 err=46"},
      {"-0001 -05", -65, "1 err=46"},
      {" 0000  00", 0, "2 err=42"},
      {" 0004  30", 255, "2 err=42"},
  };
  for (const Case& c : cases) {
    const LineOutcome o = Feed(host, kCall + c.in);
    EXPECT_EQ(Outcome(o), c.want_outcome) << c.in;
    const int16_t ring = o.record.RingSeconds;  // a packed field: read it by value
    EXPECT_EQ(ring, c.want) << c.in;
  }
}

TEST_F(BadInputTest, MarkersWithEmptyTextsTestNothing) {
  std::string settings = kOneLine;
  settings += "IN_CALLS=N\nPRV_CALLS=Y\nLOCAL_CALLS=Y\nDUTY_CALL=Y\n";
  for (int n = 1; n <= 6; ++n) settings += "CHK" + std::to_string(n) + "_POS=10\nCHK" + std::to_string(n) + "_STR=\n";
  for (int n = 1; n <= 4; ++n) {
    for (const char* group : {"IN_CHK", "PRV_CHK", "LCL_CHK", "DC_CHK"}) {
      settings += std::string(group) + std::to_string(n) + "_POS=1\n" + group + std::to_string(n) + "_STR=\n";
    }
  }
  // CHK1_STR=: comes first in kOneLine and wins; drop it for this file.
  const std::size_t at = settings.find("CHK1_STR=:\n");
  settings.erase(at, std::strlen("CHK1_STR=:\n"));
  fake.env.profile_files["empty_markers.ini"] = settings;

  TestHost host(fake.driver, "empty_markers.ini");
  const LineOutcome o = Feed(host, kCall);
  EXPECT_EQ(Outcome(o), "2 err=0");
  EXPECT_EQ(Dump(o),
            "ext=215 ext2= tg=0 trunk=3 start=13:05:07 dur=95 ring=0 pulses=0 flags=out+private "
            "number=0521234567 account= tcode= date=260315 index=-1");
  // A page header fails the blank column of a call line, and with no local
  // marker to test it is taken as a local call, which fails on its date.
  EXPECT_EQ(Outcome(Feed(host, "---- PAGE 2 ----")), "1 err=29");
}

TEST_F(BadInputTest, SixLineCallsCutShort) {
  struct Case {
    std::string name;
    std::vector<std::string> lines;
    std::vector<std::string> want;
    std::string want_dump;  // of the last outcome
  };
  const Case cases[] = {
      {"all six lines",
       {kSixCall, kSixDial, kSixTrunk, "", "", "Y"},
       {"4 err=0", "4 err=0", "4 err=0", "4 err=0", "4 err=0", "2 err=42"},
       "ext=215 ext2= tg=0 trunk=3 start=13:05:07 dur=95 ring=0 pulses=0 flags=out+converted "
       "number=0521234567 account= tcode= date=260315 index=-1"},
      {"cut after three lines",
       {kSixCall, kSixDial, kSixTrunk, kSixCall},
       {"4 err=0", "4 err=0", "4 err=0", "2 err=42 carry"},
       "ext=215 ext2= tg=0 trunk=3 start=13:05:07 dur=95 ring=0 pulses=0 flags=out "
       "number=0521234567 account= tcode= date=260315 index=-1"},
      {"cut after one line",
       {kSixCall, kSixCall},
       {"4 err=0", "2 err=42 carry"},
       "ext=215 ext2= tg=0 trunk=0 start=13:05:07 dur=0 ring=0 pulses=0 flags=out "
       "number= account= tcode= date=260315 index=-1"},
      {"a stray line where line 3 is due",
       {kSixCall, kSixDial, "garbage"},
       {"4 err=0", "4 err=0", "1 err=103"},
       ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    TestHost host(fake.driver, "six_lines.ini");
    LineOutcome last;
    EXPECT_EQ(FeedAll(host, c.lines, last), c.want);
    if (!c.want_dump.empty()) {
      EXPECT_EQ(Dump(last), c.want_dump);
    }
  }
}

// ---- Settings files -------------------------------------------------------------

// The settings fields that tell one load from another.
std::string Summary(const DriverSettings& s) {
  return "lines=" + std::to_string(s.line_count) + " ext=" + std::to_string(s.extension_column) + "/" +
         std::to_string(s.extension_width) + " num=" + std::to_string(s.number_column) + "/" + std::to_string(s.number_width) +
         " chk1=" + std::to_string(s.markers[0].column) + ":" + std::string(s.markers[0].text.view()) +
         " tg_base=" + std::string(s.trunk_group_base.view()) + " layout=" + std::to_string(static_cast<int>(s.time_layout)) +
         " mult=" + std::to_string(s.pulses_multiplier);
}

std::string LoadedSummary(Driver& driver, int32_t handle) {
  const DriverSettings* s = driver.Settings(handle);
  return s == nullptr ? "no handle" : Summary(*s);
}

class TempDir {
 public:
  TempDir() {
    char name[] = "/tmp/talvo-bad-input-XXXXXX";
    if (mkdtemp(name) == nullptr) throw std::runtime_error("mkdtemp");
    path_ = name;
  }
  ~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
  }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

TEST_F(BadInputTest, SettingsFilesThatCannotBeRead) {
  const std::string defaults = Summary(DriverSettings{});
  TempDir dir;
  const std::string empty_file = (dir.path() / "empty.ini").string();
  std::ofstream(empty_file).close();
  const std::string directory = (dir.path() / "settings.d").string();
  fs::create_directory(directory);

  struct Case {
    std::string name;
    std::string file;
    bool system_files;      // read through the real profile reader
    int failing_reads;      // reads that fail with access denied
    bool waits;             // the yes/no reads wait between their attempts
  };
  const Case cases[] = {
      {"missing", "/nonexistent/talvo/settings.ini", true, 0, false},
      {"empty", empty_file, true, 0, false},
      {"a directory", directory, true, 0, true},
      {"unreadable", "locked.ini", false, 100000, true},
      {"name of 80 blanks", std::string(80, ' '), true, 0, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake.env.use_system_profiles = c.system_files;
    fake.env.profile_failures.assign(static_cast<std::size_t>(c.failing_reads), kErrorAccessDenied);
    fake.env.sleeps.clear();
    const int32_t h = fake.GetHandle();
    ASSERT_NE(h, 0);
    int32_t index_base = 77;
    fake.InitDriver(h, ShortString(c.file).data(), &index_base);
    EXPECT_EQ(index_base, 0);
    EXPECT_EQ(LoadedSummary(fake.driver, h), defaults);
    // Waiting is bounded: every read gives up after its attempts.
    const uint32_t waited = std::accumulate(fake.env.sleeps.begin(), fake.env.sleeps.end(), 0u);
    if (c.waits) {
      EXPECT_GT(waited, 0u);
      EXPECT_LE(waited, 30000u);
    } else {
      EXPECT_EQ(waited, 0u);
    }
    fake.ProcessClose(h);
  }
}

TEST_F(BadInputTest, SettingsFilesTooBigForTheirKind) {
  std::string many = "[pbx]\n";
  for (int i = 0; i < 10000; ++i) many += "KEY" + std::to_string(i) + "=" + std::to_string(i) + "\n";
  many += std::string(kOneLine).substr(6);
  // A second section of the same name and later keys of the same name are not read.
  many += "EXT_POS=1\n[pbx]\nEXT_POS=2\n";

  std::string long_values = kOneLine;
  long_values += "TG_BASE=" + std::string(5000, '1') + "\n";
  long_values += "PULSES_MULT=" + std::string(5000, '9') + "\n";
  long_values += "ACCOUNT_POS=" + std::string(4998, ' ') + "12\n";
  long_values.insert(6, "NUM_LEN=20;" + std::string(4990, 'x') + "\n");

  struct Case {
    std::string name;
    std::string content;
    std::string want_summary;
    std::string want_dump;
  };
  const Case cases[] = {
      {"10,000 keys", many,
       "lines=1 ext=26/4 num=31/20 chk1=10:: tg_base= layout=1 mult=1", kCallDump},
      // Only the first 20 characters of a position count ("20" and blanks);
      // a text keeps its first 6; a number too long for 32 bits is 0, then 1.
      {"5,000-character values", long_values,
       "lines=1 ext=26/4 num=31/20 chk1=10:: tg_base=111111 layout=1 mult=1",
       "ext=215 ext2= tg=111111 trunk=3 start=13:05:07 dur=95 ring=0 pulses=0 flags=out "
       "number=0521234567 account= tcode= date=260315 index=-1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake.env.profile_files["big.ini"] = c.content;
    TestHost host(fake.driver, "big.ini");
    EXPECT_EQ(LoadedSummary(fake.driver, host.handle()), c.want_summary);
    const LineOutcome o = Feed(host, kCall);
    EXPECT_EQ(Outcome(o), "2 err=42");
    EXPECT_EQ(Dump(o), c.want_dump);
  }
}

// ---- Conversion tables ------------------------------------------------------------

struct TableEntry {
  std::string key;  // padded with spaces to 16
  std::string replacement;
  uint8_t key_length = 16;
  uint8_t replacement_length = 255;  // 255: the replacement's own length
};

std::string TableFile(int16_t count, const std::vector<TableEntry>& entries) {
  std::string bytes(26 * (entries.size() + 1), '\0');
  const auto bits = static_cast<uint16_t>(count);
  bytes[0] = static_cast<char>(bits & 0xFF);
  bytes[1] = static_cast<char>(bits >> 8);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    char* record = bytes.data() + 26 * (i + 1);
    std::string key = entries[i].key;
    key.resize(16, ' ');
    std::string replacement = entries[i].replacement;
    replacement.resize(8, '\0');
    record[0] = static_cast<char>(entries[i].key_length);
    std::memcpy(record + 1, key.data(), 16);
    record[17] = static_cast<char>(entries[i].replacement_length == 255
                                       ? std::min<std::size_t>(entries[i].replacement.size(), 8)
                                       : entries[i].replacement_length);
    std::memcpy(record + 18, replacement.data(), 8);
  }
  return bytes;
}

TEST_F(BadInputTest, DamagedConversionTables) {
  // 500 entries that never match, then the last one that does.
  std::vector<TableEntry> full(500, TableEntry{"9999", "111"});
  full.back() = TableEntry{"0521", "500"};
  std::vector<TableEntry> none(500, TableEntry{"9999", "111"});
  const std::string more = TableFile(1, {{"05", "999"}}).substr(26);

  struct Case {
    std::string name;
    std::string file;
    std::string want;  // "ext/ext2" after the call
  };
  const Case cases[] = {
      {"empty file", "", "215/"},
      {"header only", TableFile(0, {}), "215/"},
      {"one byte", std::string(1, '\x01'), "215/"},
      {"count 0 with an entry", TableFile(0, {{"05", "400"}}), "215/"},
      {"count -1", TableFile(-1, {{"05", "400"}}), "215/"},
      {"count -32768", TableFile(-32768, {{"05", "400"}}), "215/"},
      {"truncated mid-entry", TableFile(2, {{"0", "300"}, {"0521", "400"}}).substr(0, 26 * 2 + 10), "300/215"},
      {"truncated inside the key that matches", TableFile(1, {{"0521", "400"}}).substr(0, 26 + 3), "215/"},
      {"count 500, one entry in the file", TableFile(500, {{"05", "400"}}), "400/215"},
      {"count 32767, entry 500 matches", TableFile(32767, full), "500/215"},
      {"count 32767, entry 501 ignored", TableFile(32767, none) + more, "215/"},
      {"count 501, entry 501 ignored", TableFile(501, none) + more, "215/"},
      {"key length 17", TableFile(1, {{"0521", "400", 17}}), "215/"},
      {"key length 255", TableFile(1, {{"0521", "400", 255}}), "215/"},
      {"key length 4, key not padded", TableFile(1, {{"0521", "400", 4}}), "215/"},
      {"key length 0", TableFile(1, {{"", "400", 0}}), "215/"},
      {"replacement length 9", TableFile(1, {{"05", "12345678", 16, 9}}), "12345678/215"},
      {"replacement length 255", TableFile(1, {{"05", "87654321", 16, 254}}), "87654321/215"},
      {"replacement length 0", TableFile(1, {{"05", "400", 16, 0}}), "/215"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    fake.env.shared_files["QUORCNVT.INT"] = c.file;
    ASSERT_EQ(fake.ProcessStart(ShortString("run").data()), 1);
    {
      TestHost host(fake.driver, "one_line.ini");
      const LineOutcome o = Feed(host, kCall);
      EXPECT_EQ(o.result, TALVO_RESULT_RECORD);
      EXPECT_EQ(std::string(TextOf(o.record.Extension)) + "/" + std::string(TextOf(o.record.SecondExtension)),
                c.want);
    }
    fake.ProcessEnd(ShortString("run").data());
  }
}

// ---- Host calls ----------------------------------------------------------------------

TEST_F(BadInputTest, HandlesOutOfRangeClosedAndReopened) {
  const auto file = ShortString("one_line.ini");
  for (int32_t bad : {0, -1, 11, INT32_MIN, INT32_MAX}) {
    SCOPED_TRACE(bad);
    int32_t index_base = 77;
    fake.InitDriver(bad, file.data(), &index_base);
    EXPECT_EQ(index_base, 77);
    HostLineList list;
    list.lines = {kCall};
    HostCarry carry;
    CallRecord records[TALVO_RECORD_ENTRIES] = {};
    unsigned char date[7] = {};
    int32_t count = 0, index = 55, error = 0;
    EXPECT_EQ(fake.ProcessLine(bad, list.list(), carry.text(), records, date, &count, &index, &error),
              TALVO_RESULT_NO_RECORD);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(records[0].Extension.length, 0);
    fake.ProcessClose(bad);
  }

  // A closed handle is a handle not taken; taken again, it starts from the
  // settings of a missing file, not from those it had.
  int32_t h = 0;
  {
    TestHost host(fake.driver, "one_line.ini");
    h = host.handle();
    EXPECT_EQ(Outcome(Feed(host, kCall)), "2 err=42");
  }
  HostLineList list;
  list.lines = {kCall};
  HostCarry carry;
  CallRecord records[TALVO_RECORD_ENTRIES] = {};
  unsigned char date[7] = {};
  int32_t count = 0, index = 55, error = 0;
  EXPECT_EQ(fake.ProcessLine(h, list.list(), carry.text(), records, date, &count, &index, &error),
            TALVO_RESULT_NO_RECORD);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(fake.GetHandle(), h);
  EXPECT_EQ(LoadedSummary(fake.driver, h), Summary(DriverSettings{}));
  fake.ProcessClose(h);
  fake.ProcessClose(h);  // twice: nothing
  EXPECT_EQ(fake.GetHandle(), h);
}

// A list whose operations a test can spoil one at a time.
struct SpoiltList {
  LineList list{nullptr};
  LineListOps ops{};

  static int32_t TALVO_CALL Count(LineList*) { return count; }
  static int32_t TALVO_CALL Get(LineList*, int32_t, const char** text, int32_t* length) {
    *text = text_null ? nullptr : kCall;
    *length = length_override != 0 ? length_override : static_cast<int32_t>(std::strlen(kCall));
    return 0;
  }
  static int32_t TALVO_CALL Delete(LineList*, int32_t) { return 1; }

  static inline int32_t count = 1;
  static inline bool text_null = false;
  static inline int32_t length_override = 0;
};

TEST_F(BadInputTest, NullPointersAndBrokenListsWriteNothing) {
  const int32_t h = fake.GetHandle();
  fake.InitDriver(h, ShortString("one_line.ini").data(), nullptr);  // nothing to store INDEX_BASE in
  fake.InitDriver(h, nullptr, nullptr);
  EXPECT_EQ(fake.ProcessStart(nullptr), 1);
  fake.ProcessEnd(nullptr);
  DrvProcessVer(nullptr);
  int32_t index_base = 0;
  fake.InitDriver(h, ShortString("one_line.ini").data(), &index_base);

  struct Case {
    std::string name;
    bool count_null, get_null, delete_null;
    int32_t count;
    bool text_null;
    int32_t length;
  };
  const Case cases[] = {
      {"Count missing", true, false, false, 1, false, 0},
      {"Get missing", false, true, false, 1, false, 0},
      {"Delete missing", false, false, true, 1, false, 0},
      {"no lines", false, false, false, 0, false, 0},
      {"a negative count", false, false, false, -3, false, 0},
      {"a line at NULL with a length", false, false, false, 1, true, 5},
      {"a negative length", false, false, false, 1, false, -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    SpoiltList l;
    l.ops.Count = c.count_null ? nullptr : &SpoiltList::Count;
    l.ops.Get = c.get_null ? nullptr : &SpoiltList::Get;
    l.ops.Delete = c.delete_null ? nullptr : &SpoiltList::Delete;
    l.list.ops = &l.ops;
    SpoiltList::count = c.count;
    SpoiltList::text_null = c.text_null;
    SpoiltList::length_override = c.length;
    HostCarry carry;
    CallRecord records[TALVO_RECORD_ENTRIES];
    std::memset(records, 0x5A, sizeof records);
    unsigned char date[7] = {9, 9, 9, 9, 9, 9, 9};
    int32_t count = 3, index = 55, error = 0;
    EXPECT_EQ(fake.ProcessLine(h, &l.list, carry.text(), records, date, &count, &index, &error),
              TALVO_RESULT_NO_RECORD);
    EXPECT_EQ(count, 3);
    EXPECT_EQ(index, 55);
    EXPECT_EQ(date[0], 9);
    EXPECT_FALSE(carry.assigned);
  }
  SpoiltList::count = 1;
  SpoiltList::text_null = false;
  SpoiltList::length_override = 0;
}

TEST_F(BadInputTest, RecordCountsOutsideTheArray) {
  struct Case {
    int32_t in;
    int32_t want;
    int32_t copied_to;  // entry the record was copied to; 0 when none but the working one
  };
  const Case cases[] = {
      {-5, -4, 0}, {-1, 0, 0}, {0, 1, 0}, {1, 2, 1}, {19, 20, 19}, {20, 21, 0}, {21, 22, 0},
      {INT32_MAX, INT32_MIN, 0}, {INT32_MIN, INT32_MIN + 1, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.in);
    TestHost host(fake.driver, "one_line.ini");
    std::memset(host.records.data() + 1, 0x5A, sizeof(CallRecord) * (TALVO_RECORD_ENTRIES - 1));
    host.record_count = c.in;
    const LineOutcome o = Feed(host, kCall);
    EXPECT_EQ(o.result, TALVO_RESULT_RECORD);
    EXPECT_EQ(host.record_count, c.want);
    for (int32_t i = 1; i < TALVO_RECORD_ENTRIES; ++i) {
      const auto* bytes = reinterpret_cast<const unsigned char*>(&host.records[static_cast<std::size_t>(i)]);
      if (i == c.copied_to) {
        EXPECT_EQ(std::memcmp(bytes, &o.record, sizeof(CallRecord)), 0) << "entry " << i;
      } else {
        EXPECT_TRUE(std::all_of(bytes, bytes + sizeof(CallRecord), [](unsigned char b) { return b == 0x5A; }))
            << "entry " << i << " written";
      }
    }
  }
}

// One DrvProcessLine call with `line` alone in the list: its outcome and record.
std::string OneCall(FakeDriver& fake, int32_t handle, const std::string& line) {
  HostLineList list;
  list.lines = {line};
  HostCarry carry;
  CallRecord records[TALVO_RECORD_ENTRIES] = {};
  unsigned char date[7] = {};
  LineOutcome o;
  int32_t count = 0;
  o.result = fake.ProcessLine(handle, list.list(), carry.text(), records, date, &count, &o.call_index, &o.error_code);
  o.call_date.assign(reinterpret_cast<const char*>(date + 1), std::min<uint8_t>(date[0], 6));
  o.record = records[0];
  o.carried = carry.value;
  return Outcome(o) + " " + Dump(o);
}

TEST_F(BadInputTest, LinesBeforeInitDriverReadTheSettingsOfAMissingFile) {
  const std::vector<std::string> lines = {kCall, "", std::string(300, 'x'), "---- PAGE ----", kSixCall};
  const int32_t never_loaded = fake.GetHandle();
  ASSERT_NE(never_loaded, 0);
  EXPECT_EQ(LoadedSummary(fake.driver, never_loaded), Summary(DriverSettings{}));
  TestHost missing(fake.driver, "/nonexistent/settings.ini");
  for (const std::string& line : lines) {
    SCOPED_TRACE(line);
    EXPECT_EQ(OneCall(fake, never_loaded, line), OneCall(fake, missing.handle(), line));
  }
  EXPECT_EQ(OneCall(fake, never_loaded, kCall),
            "1 err=20 ext= ext2= tg=0 trunk=0 start=00:00:00 dur=0 ring=0 pulses=0 flags=out number= account= "
            "tcode= date= index=-1");
}

TEST_F(BadInputTest, RunsStartedTwiceOrEndedWithoutStart) {
  fake.env.shared_files["QUORCNVT.INT"] = TableFile(1, {{"05", "400"}});
  const auto label = ShortString("run");
  fake.ProcessEnd(label.data());  // no run yet: nothing
  {
    // Lines outside a run: no table, so no conversion, and no failure.
    TestHost host(fake.driver, "one_line.ini");
    EXPECT_EQ(Dump(Feed(host, kCall)), kCallDump);
  }
  EXPECT_EQ(fake.ProcessStart(label.data()), 1);
  fake.env.shared_files["QUORCNVT.INT"] = TableFile(1, {{"05", "401"}});
  EXPECT_EQ(fake.ProcessStart(label.data()), 1);  // the second start reads the file again
  {
    TestHost host(fake.driver, "one_line.ini");
    EXPECT_EQ(TextOf(Feed(host, kCall).record.Extension), "401");
  }
  fake.ProcessEnd(label.data());
  fake.ProcessEnd(label.data());
  {
    TestHost host(fake.driver, "one_line.ini");
    EXPECT_EQ(Dump(Feed(host, kCall)), kCallDump);
  }
}

}  // namespace
}  // namespace talvo::testing
