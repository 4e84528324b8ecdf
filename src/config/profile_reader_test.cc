// The settings reader: yes/no and number conversions, the retry rule, the
// cache flush after every one-shot read, and over-long texts.
#include "config/profile_reader.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "support/fake_env.h"

namespace talvo {
namespace {

constexpr char kFile[] = "/site/pbx.ini";

class ProfileReaderTest : public ::testing::Test {
 protected:
  // Makes `value` the only key K of section pbx; nullopt leaves the key out.
  void SetValue(const std::optional<std::string>& value) {
    std::string content = "[pbx]\r\nOTHER=1\r\n";
    if (value) content += "K=" + *value + "\r\n";
    env.profile_files[kFile] = content;
  }
  testing::FakeEnv env;
};

TEST_F(ProfileReaderTest, YesNoComparesTheWholeValue) {
  struct Case {
    std::optional<std::string> in;  // nullopt: key absent
    bool default_flag;
    bool want;
  };
  const Case cases[] = {
      {std::nullopt, false, false}, {std::nullopt, true, true},
      {"", true, true},             {"", false, false},  // empty is neither Y nor N
      {"Y", false, true},           {"y", false, true},
      {"N", true, false},           {"n", true, false},
      {"Y", true, true},            {"N", false, false},
      {"Yes", false, false},        {"YES", false, false},
      {"No", true, true},           {"NO", true, true},
      {"\" y\"", false, false},     {"1", false, false},
      {"0", true, true},            {"T", false, false},
  };
  for (const Case& c : cases) {
    SetValue(c.in);
    EXPECT_EQ(ReadSettingYesNo(env, "pbx", "K", c.default_flag, kFile), c.want)
        << (c.in ? "\"" + *c.in + "\"" : "absent") << " default " << c.default_flag;
  }
  EXPECT_TRUE(env.sleeps.empty());
}

TEST_F(ProfileReaderTest, NumberIsDecimalOrHexadecimalElseZero) {
  struct Case {
    std::optional<std::string> in;
    int32_t want;
  };
  const Case cases[] = {
      {"0x1F", 31},        {"0X1f", 31},        {"$1F", 31},          {"-5", -5},
      {"+7", 7},           {"12", 12},          {"2147483647", 2147483647},
      {"-2147483648", INT32_MIN},               {"$FFFFFFFF", -1},    {"0xFFFFFFFF", -1},
      {"12abc", 0},        {"", 0},             {std::nullopt, 0},    {"0x", 0},
      {"$", 0},            {"2147483648", 0},   {"$100000000", 0},    {"0x-5", 0},
      {"-0x5", 0},         {"12;3", 0},         {"1 2", 0},           {"\"12 \"", 0},
      {"\" 12\"", 12},  // leading spaces are part of the number syntax
  };
  for (const Case& c : cases) {
    SetValue(c.in);
    EXPECT_EQ(ReadSettingNumber(env, "pbx", "K", kFile), c.want) << (c.in ? *c.in : "absent");
  }
}

TEST_F(ProfileReaderTest, NumberUsesTheCallersDefaultOnlyWhenTheTextIsNoNumber) {
  SetValue("abc");
  {
    ProfileReader reader(env, kFile);
    EXPECT_EQ(reader.ReadNumber("pbx", "K", 77), 77);
    EXPECT_EQ(reader.ReadNumber("pbx", "MISSING", -4), -4);
    EXPECT_EQ(reader.ReadNumber("pbx", "OTHER", 77), 1);
  }
  EXPECT_EQ(env.profile_reads, 3);
  EXPECT_EQ(env.profile_flushes, 1);  // one reader, one flush
}

TEST_F(ProfileReaderTest, EveryOneShotReadFlushesOnce) {
  SetValue("Y");
  EXPECT_EQ(ReadSettingText(env, "pbx", "K", kFile), "Y");
  EXPECT_TRUE(ReadSettingYesNo(env, "pbx", "K", false, kFile));
  EXPECT_EQ(ReadSettingNumber(env, "pbx", "OTHER", kFile), 1);
  EXPECT_EQ(env.profile_reads, 3);
  EXPECT_EQ(env.profile_flushes, 3);
}

TEST_F(ProfileReaderTest, AbsentKeyWithEmptyDefaultIsReadOnce) {
  SetValue(std::nullopt);
  EXPECT_EQ(ReadSettingText(env, "pbx", "K", kFile), "");
  EXPECT_EQ(env.profile_reads, 1);
  EXPECT_TRUE(env.sleeps.empty());
}

TEST_F(ProfileReaderTest, MissingFileGivesEveryDefaultAtOnce) {
  EXPECT_EQ(ReadSettingText(env, "pbx", "K", "/no/such.ini"), "");
  EXPECT_EQ(ReadSettingNumber(env, "pbx", "K", "/no/such.ini"), 0);
  EXPECT_TRUE(ReadSettingYesNo(env, "pbx", "K", true, "/no/such.ini"));
  EXPECT_FALSE(ReadSettingYesNo(env, "pbx", "K", false, "/no/such.ini"));
  EXPECT_EQ(env.profile_reads, 4);
  EXPECT_TRUE(env.sleeps.empty());
}

// Failing reads: how many attempts, how many pauses, what comes back.
TEST_F(ProfileReaderTest, FailedReadsAreRetriedOnlyWithANonEmptyDefault) {
  struct Case {
    const char* in;            // what is read
    int failures;              // reads that fail before the file answers
    const char* default_value;
    const char* want;
    int want_reads;
    std::size_t want_pauses;
  };
  const Case cases[] = {
      {"value", 1, "", "", 1, 0},          // empty default: one attempt, failure reads as empty
      {"value", 0, "d", "value", 1, 0},
      {"value", 1, "d", "value", 2, 1},
      {"value", 19, "d", "value", 20, 19},  // the twentieth attempt still counts
      {"value", 20, "d", "d", 20, 20},      // twenty failures: the default
      {"value", 25, "d", "d", 20, 20},      // no twenty-first attempt
  };
  for (const Case& c : cases) {
    testing::FakeEnv scope;
    scope.profile_files[kFile] = std::string("[pbx]\r\nK=") + c.in + "\r\n";
    for (int i = 0; i < c.failures; ++i) scope.profile_failures.push_back(kErrorAccessDenied);
    {
      ProfileReader reader(scope, kFile);
      EXPECT_EQ(reader.ReadText("pbx", "K", c.default_value), c.want)
          << c.failures << " failures, default \"" << c.default_value << "\"";
    }
    EXPECT_EQ(scope.profile_reads, c.want_reads) << c.failures << " failures";
    ASSERT_EQ(scope.sleeps.size(), c.want_pauses) << c.failures << " failures";
    for (uint32_t ms : scope.sleeps) EXPECT_EQ(ms, kProfileRetryPauseMs);
    EXPECT_EQ(scope.profile_flushes, 1);
  }
}

TEST_F(ProfileReaderTest, YesNoFallsBackToItsDefaultAfterTwentyFailures) {
  SetValue("N");
  for (int i = 0; i < 20; ++i) env.profile_failures.push_back(kErrorSharingViolation);
  EXPECT_TRUE(ReadSettingYesNo(env, "pbx", "K", true, kFile));
  EXPECT_EQ(env.sleeps.size(), 20u);
  EXPECT_FALSE(ReadSettingYesNo(env, "pbx", "K", true, kFile));  // the file answers again
}

TEST_F(ProfileReaderTest, NumberReadIsNeverRetried) {
  SetValue("12");
  env.profile_failures = {kErrorAccessDenied, kErrorAccessDenied};
  EXPECT_EQ(ReadSettingNumber(env, "pbx", "K", kFile), 0);
  EXPECT_EQ(env.profile_reads, 1);
  EXPECT_EQ(ReadSettingNumber(env, "pbx", "K", kFile), 0);
  EXPECT_EQ(ReadSettingNumber(env, "pbx", "K", kFile), 12);
  EXPECT_TRUE(env.sleeps.empty());
}

TEST_F(ProfileReaderTest, ValueCutByThePlatformIsUsedAsItIs) {
  SetValue(std::string(3000, 'v'));
  EXPECT_EQ(ReadSettingText(env, "pbx", "K", kFile), std::string(kProfileTextMax, 'v'));
  EXPECT_EQ(env.profile_reads, 1);
}

// Texts handed to the platform end at their first NUL and hold at most 2047
// characters, as a zero-terminated 2048-byte buffer would.
TEST_F(ProfileReaderTest, OverLongTextsAreCutTo2047Characters) {
  const std::string long_name = "/" + std::string(3000, 'f');
  env.profile_files[long_name.substr(0, kProfileTextMax)] = "[pbx]\r\nK=cut\r\n";
  env.profile_files[long_name] = "[pbx]\r\nK=whole\r\n";
  EXPECT_EQ(ReadSettingText(env, "pbx", "K", long_name), "cut");

  SetValue("x");
  const std::string long_key = "K" + std::string(3000, 'k');
  EXPECT_EQ(ReadSettingText(env, "pbx", long_key, kFile), "");
  EXPECT_EQ(env.profile_keys_read.back().size(), kProfileTextMax);

  ProfileReader reader(env, kFile);
  EXPECT_EQ(reader.ReadText("pbx", "MISSING", std::string(3000, 'd')),
            std::string(kProfileTextMax, 'd'));
}

TEST_F(ProfileReaderTest, TextsEndAtTheirFirstNul) {
  env.profile_files["/a.ini"] = "[pbx]\r\nK=a\r\n";
  using namespace std::string_literals;
  EXPECT_EQ(ReadSettingText(env, "pbx", "K\0junk"s, "/a.ini\0/b.ini"s), "a");
  EXPECT_EQ(env.profile_keys_read.back(), "K");
  ProfileReader reader(env, "/a.ini\0/b.ini"s);
  EXPECT_EQ(reader.FileName(), "/a.ini");
}

}  // namespace
}  // namespace talvo
