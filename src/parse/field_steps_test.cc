#include "parse/field_steps.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "support/fake_env.h"

namespace talvo {
namespace {

// One record's decoding over settings and lines set up by each test.
class FieldStepsTest : public ::testing::Test {
 protected:
  FieldStepsTest() { state.record_ok = true; }

  RecordDecode Decode() { return RecordDecode{s, lines, state, rec, out, env, nullptr, {}, {}}; }
  std::string Ext() const { return std::string(TextOf(rec.Extension)); }
  std::string Ext2() const { return std::string(TextOf(rec.SecondExtension)); }

  testing::FakeEnv env;
  DriverSettings s;
  RecordBuffer lines;
  ParserState state;
  CallRecord rec{};
  LineOutputs out;
};

TEST_F(FieldStepsTest, IndexIsParsedUntrimmed) {
  struct Case {
    std::string_view field;
    int32_t index;
    bool ok;
  } cases[] = {{" 12", 12, true}, {"12 ", -1, false}, {"   ", -1, false}, {"-3 ", -1, false}, {"$1F", 31, true}};
  s.index_column = 1;
  s.index_width = 3;
  for (const Case& c : cases) {
    state.record_ok = true;
    out.error_code = 0;
    out.call_index = -1;
    lines.Assign({c.field});
    RecordDecode d = Decode();
    DecodeIndex(d);
    EXPECT_EQ(out.call_index, c.index) << '"' << c.field << '"';
    EXPECT_EQ(state.record_ok, c.ok) << '"' << c.field << '"';
    EXPECT_EQ(out.error_code, c.ok ? 0 : TALVO_ERR_INDEX) << '"' << c.field << '"';
  }
}

TEST_F(FieldStepsTest, AnEarlierCodeSurvivesALaterFailure) {
  s.index_column = 1;
  s.index_width = 3;
  lines.Assign({"12 "});
  out.error_code = TALVO_ERR_CALL_DATE;
  state.record_ok = false;
  RecordDecode d = Decode();
  DecodeIndex(d);
  EXPECT_EQ(out.error_code, TALVO_ERR_CALL_DATE);
}

TEST_F(FieldStepsTest, PulsesAreMultipliedAndRoundedToEven) {
  struct Case {
    std::string_view field;
    int32_t mult;
    int32_t pulses;
    int32_t code;
  } cases[] = {{"2,5", 3, 8, 0}, {"0,5", 1, 0, 0}, {"   ", 5, 0, 0}, {"1.25", 4, 5, 0}, {"x", 1, 0, TALVO_ERR_PULSES},
               {"9e999", 1, 0, TALVO_ERR_PULSES}};
  s.pulses_column = 1;
  s.pulses_width = 5;
  for (const Case& c : cases) {
    state.record_ok = true;
    out.error_code = 0;
    rec.Pulses = 0;
    s.pulses_multiplier = c.mult;
    lines.Assign({c.field});
    RecordDecode d = Decode();
    DecodePulses(d);
    EXPECT_EQ(int32_t{rec.Pulses}, c.pulses) << '"' << c.field << '"';
    EXPECT_EQ(out.error_code, c.code) << '"' << c.field << '"';
  }
}

TEST_F(FieldStepsTest, PulsesAreSkippedAfterAFailure) {
  s.pulses_column = 1;
  s.pulses_width = 1;
  lines.Assign({"7"});
  state.record_ok = false;
  RecordDecode d = Decode();
  DecodePulses(d);
  EXPECT_EQ(int32_t{rec.Pulses}, 0);
}

TEST_F(FieldStepsTest, TrunkGroupTakesItsPlainFormAndTheBase) {
  struct Case {
    std::string_view field;
    std::string_view base;
    bool as_text;
    std::string_view want;
  } cases[] = {
      {"     ", "100", false, "100"},  // empty becomes "0", then 100 + 0
      {"     ", "100", true, "1000"},
      {" 007 ", "", false, "7"},     {" +5  ", "", false, "5"},   {" $1F ", "", false, "31"},
      {"  23 ", "100", false, "123"}, {" AB  ", "100", false, "AB"}, {"123456789", "", false, "123456"},
  };
  s.trunk_group_column = 1;
  s.trunk_group_width = 9;
  for (const Case& c : cases) {
    std::memset(&rec, 0, sizeof rec);
    s.trunk_group_base.assign(c.base);
    s.trunk_group_base_as_text = c.as_text;
    lines.Assign({c.field});
    RecordDecode d = Decode();
    DecodeTrunkGroup(d);
    EXPECT_EQ(TextOf(rec.TrunkGroup), c.want) << '"' << c.field << "\" base \"" << c.base << '"';
  }
}

TEST_F(FieldStepsTest, TrunkWithoutItsLineIsZero) {
  s.trunk_column = 1;
  s.trunk_width = 2;
  s.trunk_line = 2;
  lines.Assign({"12"});
  RecordDecode d = Decode();
  DecodeTrunk(d);
  EXPECT_EQ(TextOf(rec.Trunk), "0");
}

TEST_F(FieldStepsTest, AccountDigitsOrTheCallingExtension) {
  s.account_column = 1;
  s.account_width = 10;
  lines.Assign({" 12-345 xx"});
  {
    RecordDecode d = Decode();
    DecodeAccount(d);
    EXPECT_EQ(TextOf(rec.Account), "12345");
  }
  lines.Assign({"  --  "});  // no digits: the account stays as it was
  {
    RecordDecode d = Decode();
    DecodeAccount(d);
    EXPECT_EQ(TextOf(rec.Account), "12345");
  }

  s.account_is_extension = true;
  s.account_drops_leading_zeros = true;
  struct Case {
    std::string_view field;
    std::string_view ext;
  } cases[] = {{"00123", "123"}, {"AB12", "0"}, {"0000", "0"}, {"123456789012", "12345678"}};
  for (const Case& c : cases) {
    std::memset(&rec, 0, sizeof rec);
    StoreText(rec.Extension, "old");
    lines.Assign({c.field});
    RecordDecode d = Decode();
    DecodeAccount(d);
    EXPECT_EQ(Ext(), c.ext) << c.field;
    EXPECT_EQ(Ext2(), "old") << c.field;
  }
}

TEST_F(FieldStepsTest, ExtensionRangeRejectsOrMarksForeign) {
  struct Case {
    std::string_view field;
    bool save;
    bool ok;
    bool foreign;
    int32_t code;
  } cases[] = {
      {"  12A ", false, true, false, 0},  // reads as 12: in range
      {"  150 ", false, false, false, TALVO_ERR_EXT_RANGE},
      {"  150 ", true, true, true, 0},
      {"  A12 ", false, false, false, TALVO_ERR_EXT_RANGE},  // reads as 0
      {"   99 ", false, true, false, 0},
      {"   10 ", false, true, false, 0},
  };
  s.extension_column = 1;
  s.extension_width = 6;
  s.extension_range_first = 10;
  s.extension_range_last = 99;
  for (const Case& c : cases) {
    std::memset(&rec, 0, sizeof rec);
    state = ParserState{};
    state.record_ok = true;
    out.error_code = 0;
    s.keep_foreign_extensions = c.save;
    lines.Assign({c.field});
    RecordDecode d = Decode();
    DecodeExtension(d);
    EXPECT_EQ(Ext(), TrimBlanks(c.field)) << c.field;
    EXPECT_EQ(state.record_ok, c.ok) << c.field;
    EXPECT_EQ(state.foreign_extension, c.foreign) << c.field;
    EXPECT_EQ(out.error_code, c.code) << c.field;
  }
}

TEST_F(FieldStepsTest, AccountExtensionCarriesThePrefixTwice) {
  s.account_column = 1;
  s.account_width = 3;
  s.account_is_extension = true;
  s.extension_column = 5;
  s.extension_width = 3;
  s.extension_prefix.assign("9");
  s.extension_range_first = 0;
  s.extension_range_last = 99999;
  lines.Assign({"123 456"});
  RecordDecode d = Decode();
  DecodeAccount(d);
  EXPECT_EQ(Ext(), "9123");
  DecodeExtension(d);  // the extension field goes to SecondExtension; the range sees "9123"
  EXPECT_EQ(Ext2(), "456");
  EXPECT_TRUE(state.record_ok);
  RequireExtension(d);
  EXPECT_EQ(Ext(), "99123");
}

TEST_F(FieldStepsTest, FinishingAddsZerosThenThePrefix) {
  struct Case {
    std::string_view ext;
    uint8_t len;
    bool zeros;
    std::string_view prefix;
    std::string_view want;
  } cases[] = {
      {"12", 4, true, "", "0012"},        {"12", 4, false, "", "12"},      {"12345", 4, true, "", "12345"},
      {"12", 4, true, "7", "70012"},      {"12345678", 8, true, "X", "X1234567"},
      {"1", 8, true, "", "00000001"},
  };
  for (const Case& c : cases) {
    StoreText(rec.Extension, c.ext);
    s.extension_width = c.len;
    s.extension_leading_zeros = c.zeros;
    s.extension_prefix.assign(c.prefix);
    RecordDecode d = Decode();
    FinishExtension(d);
    EXPECT_EQ(Ext(), c.want) << c.ext << " len " << int{c.len} << " prefix " << c.prefix;
  }
}

TEST_F(FieldStepsTest, MissingExtensionFailsWithCode20) {
  s.extension_column = 1;
  s.extension_width = 4;
  lines.Assign({"    "});
  RecordDecode d = Decode();
  DecodeExtension(d);
  RequireExtension(d);
  EXPECT_FALSE(state.record_ok);
  EXPECT_EQ(out.error_code, TALVO_ERR_EXTENSION);
}

TEST_F(FieldStepsTest, OriginatingExtensionWithADashIsEmptied) {
  s.originating_extension_column = 1;
  s.originating_extension_width = 6;
  for (auto [field, want] : {std::pair<std::string_view, std::string_view>{"12-3", ""}, {" 345 ", "345"}}) {
    lines.Assign({field});
    RecordDecode d = Decode();
    DecodeOriginatingExtension(d);
    EXPECT_EQ(d.org_ext.view(), want) << field;
  }
}

TEST_F(FieldStepsTest, ExtensionCheckWantsLettersAndDigits) {
  struct Case {
    std::string_view ext, ext2;
    bool ok;
  } cases[] = {{"215", "", true}, {"A1b", "300", true}, {"", "", false}, {"12-3", "", false},
               {"215", "3 0", false}, {"2\xe9", "", false}};
  for (const Case& c : cases) {
    state.record_ok = true;
    out.error_code = 0;
    StoreText(rec.Extension, c.ext);
    StoreText(rec.SecondExtension, c.ext2);
    RecordDecode d = Decode();
    CheckExtensions(d);
    EXPECT_EQ(state.record_ok, c.ok) << '"' << c.ext << "\" / \"" << c.ext2 << '"';
    EXPECT_EQ(out.error_code, c.ok ? 0 : TALVO_ERR_EXTENSION) << c.ext;
  }
}

TEST_F(FieldStepsTest, CodeAndDisaFields) {
  s.code_column = 1;
  s.code_width = 12;
  s.disa_column = 14;
  s.disa_width = 3;
  lines.Assign({"AB-12 CD99XYZ y "});
  RecordDecode d = Decode();
  DecodeCode(d);
  EXPECT_EQ(state.code.view(), "AB12");
  DecodeDisa(d);
  EXPECT_EQ(uint32_t{rec.Flags}, TALVO_FLAG_CONVERTED);

  lines.Assign({"AB12          YES"});
  rec.Flags = 0;
  DecodeDisa(d);
  EXPECT_EQ(uint32_t{rec.Flags}, 0u);  // only a lone "Y" counts
}

TEST_F(FieldStepsTest, LocalCallWithoutItsLinesFailsOnItsNumber) {
  s.local_caller_column = 1;
  s.local_caller_width = 3;
  s.local_called_column = 5;
  s.local_called_width = 3;
  s.local_called_line = 3;  // not buffered: read as empty
  s.extension_prefix.assign("8");
  lines.Assign({"215 300"});
  state.local_call_pending = true;
  RecordDecode d = Decode();
  DecodeLocalCallParties(d);
  EXPECT_EQ(Ext(), "8215");
  EXPECT_FALSE(state.local_call_pending);
  EXPECT_EQ(out.error_code, TALVO_ERR_LOCAL_NUMBER);

  s.local_called_line = 1;
  state.local_call_pending = true;
  out.error_code = 0;
  DecodeLocalCallParties(d);
  EXPECT_EQ(state.dialled.view(), "300");
  EXPECT_TRUE(state.local_call_pending);
  EXPECT_EQ(out.error_code, 0);
}

TEST_F(FieldStepsTest, DutyCallTakesItsExtensionAndCodeCharacters) {
  s.duty_extension_column = 1;
  s.duty_extension_width = 4;
  s.duty_second_extension_characters[0] = {6, 1};
  s.duty_second_extension_characters[2] = {8, 1};
  s.duty_second_extension_characters[3] = {9, 2};  // line 2 is not buffered: no character
  lines.Assign({"215  A B"});
  RecordDecode d = Decode();
  DecodeDutyCallParties(d);
  EXPECT_EQ(Ext(), "215 ");  // untrimmed
  EXPECT_EQ(Ext2(), "AB");
  EXPECT_TRUE(state.record_ok);

  std::memset(&rec, 0, sizeof rec);
  lines.Assign({""});
  DecodeDutyCallParties(d);
  EXPECT_FALSE(state.record_ok);
  EXPECT_EQ(out.error_code, TALVO_ERR_DUTY_EXTENSION);
}

}  // namespace
}  // namespace talvo
