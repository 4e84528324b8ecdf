// Loading the report layout: position values, the kind of every key, limits,
// the time layout, the order of reads, and DrvInitDriver as a host calls it.
#include "config/load_settings.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <initializer_list>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "config/settings_keys.h"
#include "support/fake_driver.h"
#include "support/test_host.h"
#include "talvo/driver.h"

namespace talvo {
namespace {

constexpr char kFile[] = "/site/pbx.ini";

using Field = std::function<int(const DriverSettings&)>;
#define FIELD(f) [](const DriverSettings& s) -> int { return static_cast<int>(s.f); }


class LoadSettingsTest : public ::testing::Test {
 protected:
  // Writes section pbx with `lines` ("KEY=value") and loads it.
  DriverSettings Load(std::initializer_list<std::string> lines) {
    return LoadLines(std::vector<std::string>(lines));
  }
  DriverSettings LoadLines(const std::vector<std::string>& lines) {
    std::string content = "; layout of the test PBX\r\n[pbx]\r\n";
    for (const std::string& line : lines) content += line + "\r\n";
    fake.env.profile_files[kFile] = content;
    DriverSettings s;
    index_base = LoadDriverSettings(fake.env, kFile, s);
    return s;
  }
  testing::FakeDriver fake;
  int32_t index_base = -1;
};

// --- position values -------------------------------------------------------

TEST_F(LoadSettingsTest, PairReadsColumnSemicolonLine) {
  struct Case {
    std::optional<std::string> in;  // nullopt: key absent
    int col, line;
  };
  const Case cases[] = {
      {"12;3", 12, 3},  {"12", 12, 1},     {"12;7", 12, 1},   {"12;0", 12, 1},
      {"0;3", 0, 1},    {std::nullopt, 0, 1},                 {"", 0, 1},
      {"12;9", 12, 1},  {"12;6", 12, 6},   {"1;1", 1, 1},     {"12;", 12, 1},
      {";3", 0, 1},     {"abc;3", 0, 1},   {"12;x", 12, 1},   {"12;2;3", 12, 1},
      {"12 ; 3", 12, 3},                   // blanks around the numbers do not count
      {"300;2", 44, 2},                    // low 8 bits
      {"-1;2", 255, 2}, {"256;2", 0, 1},   {"$0C;$2", 12, 2}, {"0x0C;2", 12, 2},
      {"12;-3", 12, 1}, {"12;259", 12, 3},  // 259 is 3 in 8 bits
      // Only the first 20 characters count...
      {std::string(16, '0') + "12;3", 12, 3},   // exactly 20
      {std::string(17, '0') + "12;3", 12, 1},   // the line is cut off
      {std::string(18, '0') + "12;3", 12, 1},   // the separator is cut off
      {std::string(16, '0') + "12;34", 12, 3},
      {std::string(25, '0') + "7;3", 0, 1},     // 20 zeros
      // ...and at most 10 after the separator.
      {"1;0000000003", 1, 3},
      {"1;00000000003", 1, 1},
  };
  for (const Case& c : cases) {
    Load({c.in ? "EXT_POS=" + *c.in : "OTHER=1"});
    uint8_t col = 99, line = 99, line_count = 1;
    ReadSettingPair(fake.env, "EXT_POS", kFile, col, line, &line_count);
    const std::string in = c.in ? *c.in : "absent";
    EXPECT_EQ(col, c.col) << in;
    EXPECT_EQ(line, c.line) << in;
    EXPECT_EQ(line_count, c.line) << in;
  }
}

TEST_F(LoadSettingsTest, PairRaisesLineCountButNeverLowersIt) {
  Load({"A=5;2", "B=5;4"});
  uint8_t col = 0, line = 0, line_count = 3;
  ReadSettingPair(fake.env, "A", kFile, col, line, &line_count);
  EXPECT_EQ(line_count, 3);
  ReadSettingPair(fake.env, "B", kFile, col, line, &line_count);
  EXPECT_EQ(line_count, 4);
  ReadSettingPair(fake.env, "B", kFile, col, line);  // no LineCount passed: nothing to raise
  EXPECT_EQ(line, 4);
}

// --- every key: its form and its field ---------------------------------------

// The byte a key fills (a text's length for NAMEn_STR), and its line.
int FieldOf(const FileKey& k, DriverSettings s) {
  const SettingsKey& row = *k.row;
  if (row.entry != nullptr) {
    const GroupEntry e = row.entry(s, k.entry);
    return k.is_text ? e.text->length : *e.column;
  }
  switch (row.form) {
    case KeyForm::kNumber: return s.*row.number;
    case KeyForm::kYesNo: return s.*row.flag ? 1 : 0;
    case KeyForm::kTrunkGroupBase: return s.trunk_group_base.length;
    default: return s.*row.column;
  }
}
int LineOf(const FileKey& k, DriverSettings s) {
  return k.row->entry != nullptr ? *k.row->entry(s, k.entry).line : s.*k.row->line;
}

TEST_F(LoadSettingsTest, EveryKeyFillsItsFieldByItsForm) {
  const std::vector<FileKey> keys = FileKeys();
  ASSERT_EQ(keys.size(), 131u);
  for (const FileKey& c : keys) {
    const DriverSettings absent = Load({});
    const DriverSettings pos = Load({c.name + "=7;3"});
    const DriverSettings plain = Load({c.name + "=5"});
    KeyForm form = c.row->form;
    if (form == KeyForm::kMarkers || form == KeyForm::kBlanks || form == KeyForm::kCharacters) {
      form = c.is_text ? KeyForm::kTrunkGroupBase : KeyForm::kPosition;
    }
    switch (form) {
      case KeyForm::kPosition:
        EXPECT_EQ(absent.line_count, 1) << c.name;
        EXPECT_EQ(FieldOf(c, pos), 7) << c.name;
        EXPECT_EQ(LineOf(c, pos), 3) << c.name;
        EXPECT_EQ(pos.line_count, 3) << c.name << " raises the line count";
        EXPECT_EQ(LineOf(c, plain), 1) << c.name;
        EXPECT_EQ(LineOf(c, absent), 1) << c.name;
        EXPECT_EQ(FieldOf(c, absent), 0) << c.name;
        break;
      case KeyForm::kColumn:
      case KeyForm::kWidth:
        EXPECT_EQ(FieldOf(c, pos), 7) << c.name;
        EXPECT_EQ(pos.line_count, 1) << c.name << " must not raise the line count";
        EXPECT_EQ(FieldOf(c, absent), 0) << c.name;
        break;
      case KeyForm::kByteColumn:
      case KeyForm::kByteWidth:
        EXPECT_EQ(FieldOf(c, pos), 0) << c.name << ": 7;3 is not an integer";
        EXPECT_EQ(FieldOf(c, plain), 5) << c.name;
        EXPECT_EQ(FieldOf(c, Load({c.name + "=0x1F"})), 31) << c.name;
        EXPECT_EQ(FieldOf(c, Load({c.name + "=261"})), 5) << c.name << " keeps the low 8 bits";
        EXPECT_EQ(pos.line_count, 1) << c.name;
        EXPECT_EQ(FieldOf(c, absent), 0) << c.name;
        break;
      case KeyForm::kNumber:
        EXPECT_EQ(FieldOf(c, plain), 5) << c.name;
        EXPECT_EQ(FieldOf(c, Load({c.name + "=100000"})), 100000) << c.name << " is kept whole";
        EXPECT_EQ(pos.line_count, 1) << c.name;
        break;
      case KeyForm::kYesNo: {
        const int default_flag = c.row->default_flag ? 1 : 0;
        EXPECT_EQ(FieldOf(c, absent), default_flag) << c.name;
        EXPECT_EQ(FieldOf(c, Load({c.name + "=Y"})), 1) << c.name;
        EXPECT_EQ(FieldOf(c, Load({c.name + "=n"})), 0) << c.name;
        EXPECT_EQ(FieldOf(c, Load({c.name + "=yes"})), default_flag) << c.name;
        break;
      }
      case KeyForm::kTrunkGroupBase:
        EXPECT_EQ(FieldOf(c, absent), 0) << c.name;
        EXPECT_EQ(FieldOf(c, pos), 3) << c.name;  // "7;3" kept as text
        EXPECT_EQ(pos.line_count, 1) << c.name;
        break;
      case KeyForm::kIgnored:
        EXPECT_EQ(std::memcmp(&pos, &absent, sizeof pos), 0) << c.name << " changes nothing";
        break;
      default:  // EXT_PREFIX and INDEX_BASE have tests of their own
        break;
    }
  }
}

TEST_F(LoadSettingsTest, ReadsAllKeysOnceInTheirOrder) {
  std::vector<std::string> want = {
      "EXT_POS",     "EXT_LEN",    "ORG_EXT_POS", "ORG_EXT_LEN", "EXT_RANGE_ST",  "EXT_RANGE_END",
      "SAVE_TRNK_EXT", "EXT_PREFIX", "EXT_LEAD_ZERO", "ACCOUNT_POS", "ACCOUNT_LEN",
      "ACCOUNT_LZERO", "ACCOUNT_EXT", "YEAR_POS", "MONTH_POS", "DAY_POS", "JULIAN_POS",
      "DATE_END", "TIMEHH_POS", "TIMEMM_POS", "TIMESS_POS", "AMPM_POS", "ENDHH_POS",
      "ENDMM_POS", "ENDSS_POS", "LENHH_POS", "LENMM_POS", "LENMM_LEN", "LENSS_POS",
      "LENSS_LEN", "PEGS_COUNT", "RINGMM_POS", "RINGMM_LEN", "RINGSS_POS", "RINGSS_LEN",
      "CHK1_POS", "CHK1_STR", "CHK2_POS", "CHK2_STR", "CHK3_POS", "CHK3_STR",
      "CHK4_POS", "CHK4_STR", "CHK5_POS", "CHK5_STR", "CHK6_POS", "CHK6_STR",
      "SPC1_POS", "SPC2_POS", "SPC3_POS", "SPC4_POS", "SPC5_POS", "SPC6_POS",
      "NUM_POS", "NUM_LEN", "CLI_POS", "CLI_LEN", "ALUMA_POS", "ALUMA_LEN", "OREK_POS",
      "OREK_LEN", "TG_BASE", "USE_TG_BASE_AS_STR", "PULSES_POS", "PULSES_LEN", "PULSES_MULT",
      "INDEX_POS", "INDEX_LEN", "INDEX_BASE", "TCODE_POS", "TCODE_LEN", "DISA_POS", "DISA_LEN",
      "IN_CALLS", "IN_CHK1_POS", "IN_CHK1_STR", "IN_CHK2_POS", "IN_CHK2_STR", "IN_CHK3_POS",
      "IN_CHK3_STR", "IN_CHK4_POS", "IN_CHK4_STR", "PRV_CALLS", "PRV_CHK1_POS", "PRV_CHK1_STR",
      "PRV_CHK2_POS", "PRV_CHK2_STR", "PRV_CHK3_POS", "PRV_CHK3_STR", "PRV_CHK4_POS",
      "PRV_CHK4_STR", "LOCAL_CALLS", "LCL_CHK1_POS", "LCL_CHK1_STR", "LCL_CHK2_POS",
      "LCL_CHK2_STR", "LCL_CHK3_POS", "LCL_CHK3_STR", "LCL_CHK4_POS", "LCL_CHK4_STR",
      "LCL_YEAR_POS", "LCL_MONTH_POS", "LCL_DAY_POS", "LCL_TIMEHH_POS", "LCL_TIMEMM_POS",
      "LCL_ORG_POS", "LCL_ORG_LEN", "LCL_TER_POS", "LCL_TER_LEN", "DUTY_CALL", "DC_CHK1_POS",
      "DC_CHK1_STR", "DC_CHK2_POS", "DC_CHK2_STR", "DC_CHK3_POS", "DC_CHK3_STR", "DC_CHK4_POS",
      "DC_CHK4_STR", "DC_SPC1_POS", "DC_YEAR_POS", "DC_MONTH_POS", "DC_DAY_POS", "DC_TIMEHH_POS",
      "DC_TIMEMM_POS", "DC_EXT_POS", "DC_EXT_LEN", "DC_TRN_D1", "DC_TRN_D2", "DC_TRN_D3",
      "DC_TRN_D4",
  };
  ASSERT_EQ(want.size(), 130u);  // DC_EXT_CHK has no effect and is not read
  Load({"EXT_POS=3;2"});
  EXPECT_EQ(fake.env.profile_keys_read, want);
  EXPECT_EQ(fake.env.profile_flushes, 130);  // a fresh reader for every key
  EXPECT_TRUE(fake.env.sleeps.empty());
}

TEST_F(LoadSettingsTest, MissingFileGivesEveryDefault) {
  DriverSettings s;
  s.line_count = 5;
  s.extension_column = 9;
  s.pulses_multiplier = 40;
  s.markers[2].text.assign("STALE");
  s.time_layout = TimeLayoutKind::kStartOnly;
  EXPECT_EQ(LoadDriverSettings(fake.env, "/no/such/file.ini", s), 0);
  EXPECT_EQ(fake.env.profile_reads, 130);
  EXPECT_TRUE(fake.env.sleeps.empty());  // "N" and "Y" defaults come back at once
  EXPECT_EQ(s.line_count, 1);
  EXPECT_EQ(s.extension_column, 0);
  EXPECT_EQ(s.extension_line, 1);
  EXPECT_EQ(s.pulses_multiplier, 1);
  EXPECT_TRUE(s.markers[2].text.empty());
  EXPECT_FALSE(s.duty_calls);
  EXPECT_EQ(s.time_layout, TimeLayoutKind::kNone);
  for (const BlankEntry& e : s.blank_columns) EXPECT_EQ(e.line, 1);
  for (const CharEntry& e : s.duty_second_extension_characters) EXPECT_EQ(e.line, 1);
}

TEST_F(LoadSettingsTest, LineCountIsTheHighestLineOfAnyPairKey) {
  struct Case {
    std::vector<std::string> in;
    int want;
  };
  const Case cases[] = {
      {{}, 1},
      {{"EXT_POS=12;3"}, 3},
      {{"EXT_POS=12;3", "NUM_POS=1;2"}, 3},
      {{"EXT_POS=12;3", "DC_TRN_D4=1;5"}, 5},
      {{"LCL_TER_POS=4;6"}, 6},
      {{"CHK6_POS=4;4", "IN_CHK1_POS=4;2"}, 4},
      {{"EXT_POS=12;9"}, 1},
      {{"TIMEMM_POS=20;4", "EXT_LEN=5;3", "LENMM_LEN=2;5", "RINGMM_POS=1;6"}, 1},
      {{"LCL_DAY_POS=15;2", "DC_EXT_LEN=4;5"}, 1},  // integer keys: no line at all
  };
  for (const Case& c : cases) {
    std::string in;
    for (const std::string& line : c.in) in += line + " ";
    EXPECT_EQ(LoadLines(c.in).line_count, c.want) << in;
  }
}

// --- limits and rules applied as keys are read ------------------------------

TEST_F(LoadSettingsTest, LengthsAndTheirLimits) {
  struct Case {
    std::vector<std::string> in;
    Field field;
    int want;
  };
  const Case cases[] = {
      {{"EXT_LEN=10"}, FIELD(extension_width), 8},
      {{"EXT_LEN=8"}, FIELD(extension_width), 8},
      {{"EXT_LEN=5;3"}, FIELD(extension_width), 5},
      {{"EXT_LEN=265"}, FIELD(extension_width), 8},  // 9 in 8 bits
      {{"EXT_LEN=256"}, FIELD(extension_width), 0},
      {{"ORG_EXT_LEN=9"}, FIELD(originating_extension_width), 8},
      {{"ORG_EXT_LEN=4"}, FIELD(originating_extension_width), 4},
      {{"ACCOUNT_LEN=200"}, FIELD(account_width), 200},
      {{"LENMM_POS=20;2"}, FIELD(duration_minutes_width), 2},
      {{"LENMM_POS=20;2", "LENMM_LEN=3"}, FIELD(duration_minutes_width), 3},
      {{"LENMM_POS=20;2", "LENMM_LEN=0"}, FIELD(duration_minutes_width), 2},
      {{}, FIELD(duration_minutes_width), 0},
      {{"LENMM_LEN=3;1"}, FIELD(duration_minutes_width), 3},
      {{"LENSS_POS=30", "LENSS_LEN=3;1"}, FIELD(duration_seconds_width), 2},
      {{"LENSS_LEN=3;1"}, FIELD(duration_seconds_width), 0},
      {{"LENSS_POS=30", "LENSS_LEN=4"}, FIELD(duration_seconds_width), 4},
      {{"LENHH_POS=30"}, FIELD(duration_seconds_width), 0},
      {{"RINGMM_POS=5"}, FIELD(ring_minutes_width), 2},
      {{"RINGMM_POS=5", "RINGMM_LEN=1"}, FIELD(ring_minutes_width), 1},
      {{"RINGSS_POS=5"}, FIELD(ring_minutes_width), 0},
      {{"RINGSS_POS=8;2"}, FIELD(ring_seconds_width), 2},
      {{"RINGSS_POS=8;2", "RINGSS_LEN=3"}, FIELD(ring_seconds_width), 3},
      {{"RINGMM_POS=5"}, FIELD(ring_seconds_width), 0},
      {{"PULSES_MULT=0"}, FIELD(pulses_multiplier), 1},
      {{"PULSES_MULT=-3"}, FIELD(pulses_multiplier), 1},
      {{"PULSES_MULT=5"}, FIELD(pulses_multiplier), 5},
      {{"PULSES_MULT=0x10"}, FIELD(pulses_multiplier), 16},
      {{"PULSES_MULT=2;1"}, FIELD(pulses_multiplier), 1},
      {{}, FIELD(pulses_multiplier), 1},
      {{"EXT_RANGE_ST=-100", "EXT_RANGE_END=$7FFFFFFF"}, FIELD(extension_range_first), -100},
      {{"EXT_RANGE_ST=-100", "EXT_RANGE_END=$7FFFFFFF"}, FIELD(extension_range_last), INT32_MAX},
  };
  for (const Case& c : cases) {
    std::string in;
    for (const std::string& line : c.in) in += line + " ";
    EXPECT_EQ(c.field(LoadLines(c.in)), c.want) << in;
  }
}

TEST_F(LoadSettingsTest, ExtensionPrefixIsOneDigitOrCapital) {
  struct Case {
    std::optional<std::string> in;
    std::string want;
  };
  const Case cases[] = {
      {"9", "9"},   {"X1", "X"}, {"Z", "Z"},   {"0", "0"},         {"x", ""},
      {"+", ""},    {"-1", ""},  {"", ""},     {std::nullopt, ""}, {"\"  7 \"", "7"},
      {"\xC4", ""}, {"\t", ""},  {"@", ""},    {"[", ""},
  };
  for (const Case& c : cases) {
    const DriverSettings s = Load({c.in ? "EXT_PREFIX=" + *c.in : "OTHER=1"});
    EXPECT_EQ(s.extension_prefix.view(), c.want) << (c.in ? *c.in : "absent");
  }
}

TEST_F(LoadSettingsTest, MarkerTextsKeepTheirFirstTenCharactersAsRead) {
  struct Case {
    std::string in;
    std::string want;
  };
  const Case cases[] = {
      {"CALL", "CALL"},
      {"\"  OUT \"", "  OUT "},  // quoted to keep the blanks
      {"ABCDEFGHIJKLM", "ABCDEFGHIJ"},
      {"\" ABCDEFGHIJ\"", " ABCDEFGHI"},
      {"a;b=c", "a;b=c"},
  };
  for (const Case& c : cases) {
    const DriverSettings s =
        Load({"CHK2_STR=" + c.in, "IN_CHK4_STR=" + c.in, "DC_CHK1_STR=" + c.in});
    EXPECT_EQ(s.markers[1].text.view(), c.want) << c.in;
    EXPECT_EQ(s.incoming_markers[3].text.view(), c.want) << c.in;
    EXPECT_EQ(s.duty_markers[0].text.view(), c.want) << c.in;
    EXPECT_TRUE(s.markers[0].text.empty()) << c.in;
  }
}

TEST_F(LoadSettingsTest, TrunkGroupBaseKeepsItsFirstSixCharacters) {
  EXPECT_EQ(Load({"TG_BASE=1000"}).trunk_group_base.view(), "1000");
  EXPECT_EQ(Load({"TG_BASE=ABCDEFGH"}).trunk_group_base.view(), "ABCDEF");
  EXPECT_EQ(Load({"TG_BASE=\" 12  \""}).trunk_group_base.view(), " 12  ");
}

TEST_F(LoadSettingsTest, IndexBaseIsHandedBack) {
  struct Case {
    std::optional<std::string> in;
    int32_t want;
  };
  const Case cases[] = {{"1000", 1000}, {"0x1F", 31}, {"-7", -7}, {"5;1", 0}, {"", 0},
                        {std::nullopt, 0}, {"12abc", 0}};
  for (const Case& c : cases) {
    Load({c.in ? "INDEX_BASE=" + *c.in : "OTHER=1"});
    EXPECT_EQ(index_base, c.want) << (c.in ? *c.in : "absent");
  }
}

TEST_F(LoadSettingsTest, TimeLayoutFollowsTheColumnsSet) {
  struct Case {
    std::vector<std::string> in;
    TimeLayoutKind want;
  };
  const Case cases[] = {
      {{}, TimeLayoutKind::kNone},
      {{"TIMEHH_POS=10"}, TimeLayoutKind::kStartOnly},
      {{"TIMEHH_POS=10", "TIMEMM_POS=13"}, TimeLayoutKind::kStartOnly},
      {{"TIMEHH_POS=10", "ENDMM_POS=20"}, TimeLayoutKind::kStartAndEnd},
      {{"TIMEHH_POS=10", "ENDHH_POS=20"}, TimeLayoutKind::kStartAndEnd},
      {{"TIMEHH_POS=10", "LENSS_POS=30"}, TimeLayoutKind::kStartAndDuration},
      {{"TIMEHH_POS=10", "LENSS_POS=30", "ENDHH_POS=20", "ENDSS_POS=26"},
       TimeLayoutKind::kStartAndDuration},
      {{"TIMEHH_POS=10", "LENHH_POS=30"}, TimeLayoutKind::kStartAndDuration},
      {{"ENDHH_POS=20", "LENMM_POS=30"}, TimeLayoutKind::kEndAndDuration},
      {{"ENDSS_POS=20", "LENHH_POS=30"}, TimeLayoutKind::kEndAndDuration},
      {{"TIMEMM_POS=13", "ENDHH_POS=20", "LENMM_POS=30"}, TimeLayoutKind::kNone},
      {{"TIMESS_POS=16", "ENDHH_POS=20", "LENMM_POS=30"}, TimeLayoutKind::kNone},
      {{"ENDHH_POS=20"}, TimeLayoutKind::kNone},
      {{"LENMM_POS=30"}, TimeLayoutKind::kNone},
      {{"AMPM_POS=18", "ENDHH_POS=20", "LENMM_POS=30"}, TimeLayoutKind::kEndAndDuration},
      {{"TIMEHH_POS=0;2", "ENDHH_POS=20"}, TimeLayoutKind::kNone},
  };
  for (const Case& c : cases) {
    std::string in;
    for (const std::string& line : c.in) in += line + " ";
    EXPECT_EQ(LoadLines(c.in).time_layout, c.want) << in;
  }
}

TEST_F(LoadSettingsTest, ReloadSeesTheFileAsItIsNow) {
  DriverSettings s = Load({"EXT_POS=12;3", "CHK1_STR=CALL", "DUTY_CALL=Y"});
  EXPECT_EQ(s.line_count, 3);
  s = Load({"EXT_POS=4"});
  EXPECT_EQ(s.extension_column, 4);
  EXPECT_EQ(s.line_count, 1);
  EXPECT_TRUE(s.markers[0].text.empty());
  EXPECT_FALSE(s.duty_calls);
}

// A read that fails with an empty default counts as an absent key: the load
// goes on and makes no pauses.
TEST_F(LoadSettingsTest, FailedReadOfAPositionGivesItsDefault) {
  fake.env.profile_failures = {kErrorAccessDenied};
  const DriverSettings s = Load({"EXT_POS=12;3", "EXT_LEN=4"});
  EXPECT_EQ(s.extension_column, 0);
  EXPECT_EQ(s.line_count, 1);
  EXPECT_EQ(s.extension_width, 4);
  EXPECT_EQ(fake.env.profile_reads, 130);
  EXPECT_TRUE(fake.env.sleeps.empty());
}

// --- DrvInitDriver as the host calls it -------------------------------------

class InitDriverTest : public LoadSettingsTest {
 protected:
  void TearDown() override { fake.ProcessClose(handle); }
  int32_t handle = fake.GetHandle();
};

TEST_F(InitDriverTest, UsesTheFirst80CharactersOfTheFileName) {
  std::string name = "/settings/";
  while (name.size() < 100) name += static_cast<char>('a' + name.size() % 26);
  fake.env.profile_files[name.substr(0, 80)] = "[pbx]\r\nINDEX_BASE=42\r\nEXT_POS=5;2\r\n";
  fake.env.profile_files[name] = "[pbx]\r\nINDEX_BASE=7\r\n";
  ASSERT_NE(handle, 0);
  int32_t index = -1;
  fake.InitDriver(handle, testing::ShortString(name).data(), &index);
  EXPECT_EQ(index, 42);
  const DriverSettings* s = fake.driver.Settings(handle);
  ASSERT_NE(s, nullptr);
  EXPECT_EQ(s->extension_column, 5);
  EXPECT_EQ(s->line_count, 2);
  EXPECT_EQ(fake.env.profile_reads, 130);
}

TEST_F(InitDriverTest, SecondInitRewritesEveryField) {
  fake.env.profile_files[kFile] = "[pbx]\r\nINDEX_BASE=3\r\nCHK1_POS=1;4\r\nCHK1_STR=X\r\n";
  int32_t index = -1;
  fake.InitDriver(handle, testing::ShortString(kFile).data(), &index);
  EXPECT_EQ(fake.driver.Settings(handle)->line_count, 4);
  fake.env.profile_files[kFile] = "[PBX]\r\nchk1_pos=1\r\n";  // names in any case
  fake.InitDriver(handle, testing::ShortString(kFile).data(), &index);
  EXPECT_EQ(index, 0);
  const DriverSettings* s = fake.driver.Settings(handle);
  EXPECT_EQ(s->line_count, 1);
  EXPECT_EQ(s->markers[0].column, 1);
  EXPECT_TRUE(s->markers[0].text.empty());
}

// --- real settings files on disk, read by the system layer -----------------

class SettingsOnDiskTest : public ::testing::Test {
 protected:
  SettingsOnDiskTest() {
    fake.env.use_system_profiles = true;
    path_ = ::testing::TempDir() + "talvo_settings_" +
            ::testing::UnitTest::GetInstance()->current_test_info()->name() + "_" +
            std::to_string(std::random_device{}()) + ".ini";
  }
  ~SettingsOnDiskTest() override { std::remove(path_.c_str()); }
  void Write(const std::string& content) {
    std::ofstream out(path_, std::ios::binary | std::ios::trunc);
    out << content;
  }
  testing::FakeDriver fake;
  std::string path_;
};

TEST_F(SettingsOnDiskTest, TwoLineSampleLoads) {
  const std::string sample = std::string(TALVO_SOURCE_DIR) + "/src/config/testdata/two_line_pbx.ini";
  DriverSettings s;
  EXPECT_EQ(LoadDriverSettings(fake.env, sample, s), 0);
  EXPECT_EQ(s.line_count, 2);
  EXPECT_EQ(s.time_layout, TimeLayoutKind::kStartAndDuration);
  EXPECT_EQ(s.markers[0].column, 9);
  EXPECT_EQ(s.markers[0].text.view(), "/");
  EXPECT_EQ(s.markers[2].line, 2);
  EXPECT_EQ(s.markers[2].text.view(), "ACCOUNT ");
  EXPECT_EQ(s.markers[3].column, 0);
  EXPECT_EQ(s.blank_columns[1].column, 1);
  EXPECT_EQ(s.blank_columns[1].line, 2);
  EXPECT_EQ(s.extension_column, 1);
  EXPECT_EQ(s.extension_width, 4);
  EXPECT_EQ(s.extension_range_first, 100);
  EXPECT_EQ(s.extension_range_last, 899);
  EXPECT_TRUE(s.extension_leading_zeros);
  EXPECT_EQ(s.month_column, 10);
  EXPECT_EQ(s.day_column, 7);
  EXPECT_EQ(s.year_column, 13);
  EXPECT_EQ(s.duration_minutes_column, 30);
  EXPECT_EQ(s.duration_seconds_width, 2);
  EXPECT_EQ(s.ring_minutes_column, 46);
  EXPECT_EQ(s.ring_seconds_column, 49);
  EXPECT_EQ(s.ring_line, 2);
  EXPECT_EQ(s.account_column, 13);
  EXPECT_EQ(s.account_line, 2);
  EXPECT_EQ(s.caller_line, 2);
  EXPECT_EQ(s.number_width, 20);
  EXPECT_EQ(s.pulses_multiplier, 1);
  EXPECT_FALSE(s.local_calls);
  EXPECT_EQ(fake.env.profile_reads, 130);
  EXPECT_TRUE(fake.env.sleeps.empty()) << "a readable file never needs a second attempt";
}

TEST_F(SettingsOnDiskTest, FileFormatAsAnEditorWritesIt) {
  Write("; settings\r\n"
        "[other]\r\nEXT_POS=99;6\r\n"
        "[ PBX ]\r\n"
        "  ext_pos = 12 ; 3  \r\n"
        ";EXT_LEN=2\r\n"
        "Chk1_Str=\"  IN \"\r\n"
        "CHK2_STR=  OUT  \r\n"
        "duty_call=y\r\n"
        "EXT_POS=1;1\r\n"  // the first of two equal keys counts
        "INDEX_BASE=0x10");  // no final line end
  DriverSettings s;
  EXPECT_EQ(LoadDriverSettings(fake.env, path_, s), 16);
  EXPECT_EQ(s.extension_column, 12);
  EXPECT_EQ(s.extension_line, 3);
  EXPECT_EQ(s.line_count, 3);
  EXPECT_EQ(s.extension_width, 0);
  EXPECT_EQ(s.markers[0].text.view(), "  IN ");
  EXPECT_EQ(s.markers[1].text.view(), "OUT");
  EXPECT_TRUE(s.duty_calls);
}

TEST_F(SettingsOnDiskTest, ChangedFileIsSeenByTheNextLoad) {
  Write("[pbx]\nEXT_POS=12;3\nPULSES_MULT=4\n");
  DriverSettings s;
  LoadDriverSettings(fake.env, path_, s);
  EXPECT_EQ(s.extension_column, 12);
  EXPECT_EQ(s.pulses_multiplier, 4);
  Write("[pbx]\nEXT_POS=7\n");
  LoadDriverSettings(fake.env, path_, s);
  EXPECT_EQ(s.extension_column, 7);
  EXPECT_EQ(s.line_count, 1);
  EXPECT_EQ(s.pulses_multiplier, 1);
}

TEST_F(SettingsOnDiskTest, MissingFileGivesDefaultsWithoutPauses) {
  DriverSettings s;
  EXPECT_EQ(LoadDriverSettings(fake.env, path_ + ".absent", s), 0);
  EXPECT_EQ(s.line_count, 1);
  EXPECT_FALSE(s.duty_calls);
  EXPECT_EQ(fake.env.profile_reads, 130);
  EXPECT_TRUE(fake.env.sleeps.empty());
}

}  // namespace
}  // namespace talvo
