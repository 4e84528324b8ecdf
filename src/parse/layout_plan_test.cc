#include "parse/layout_plan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#include "support/fake_driver.h"
#include "support/test_host.h"

namespace talvo {
namespace {

DriverSettings OneLine() {
  DriverSettings s;
  s.markers[0] = {1, 3, {}};
  s.markers[0].text.assign("/");
  s.markers[2] = {1, 12, {}};
  s.markers[2].text.assign("AB");
  s.blank_columns[4] = {1, 9};
  return s;
}

TEST(LayoutPlan, TellsLayoutsOfOneLine) {
  EXPECT_TRUE(LayoutPlan::Compile(OneLine()).one_line());
  DriverSettings two_lines = OneLine();
  two_lines.line_count = 2;
  two_lines.number_line = 2;
  EXPECT_FALSE(LayoutPlan::Compile(two_lines).one_line());
  // A marker on a later line is enough, whatever the line count says.
  DriverSettings marker_below = OneLine();
  marker_below.duty_markers[3].line = 2;
  EXPECT_FALSE(LayoutPlan::Compile(marker_below).one_line());
}

TEST(LayoutPlan, StartsARecordOnEveryConfiguredMarkerAndBlank) {
  const LayoutPlan plan = LayoutPlan::Compile(OneLine());
  const struct {
    std::string_view line;
    bool starts;
  } cases[] = {
      {"01/02/26 10AB", true},
      {"01/02/26 10A", false},    // the marker runs past the end of the line
      {"01-02/26 10AB", false},   // first marker
      {"01/02/26x10AB", false},   // blank column
      {"01/02/26 10ab", false},   // letter case counts
      {"", false},
  };
  for (const auto& c : cases) EXPECT_EQ(plan.StartsNormalRecord(c.line), c.starts) << c.line;
}

// A host need not clear the working record: what it left there, length
// bytes beyond a text's capacity included, must come out of the plan as it
// comes out of the general path.
TEST(LayoutPlan, AWorkingRecordLeftFilledDecodesAsByTheGeneralPath) {
  std::ifstream file(std::string(TALVO_SOURCE_DIR) + "/examples/pbx.ini");
  std::stringstream settings;
  settings << file.rdbuf();
  std::ifstream report_file(std::string(TALVO_SOURCE_DIR) + "/examples/report.txt");
  std::vector<std::string> report;
  for (std::string line; std::getline(report_file, line);) report.push_back(line);
  ASSERT_GT(report.size(), 20u);

  for (const int fill : {0x00, 0x09, 0xFF}) {
    testing::FakeDriver drivers[2];
    CallRecord records[2][TALVO_RECORD_ENTRIES];
    for (int k = 0; k < 2; ++k) {
      drivers[k].driver.set_use_plans(k == 0);
      drivers[k].env.today = LocalDate{2026, 3, 15};
      drivers[k].env.profile_files["pbx.ini"] = settings.str();
      ASSERT_EQ(drivers[k].GetHandle(), 1);
      int32_t index_base = 0;
      const auto name = testing::ShortString("pbx.ini");
      drivers[k].InitDriver(1, name.data(), &index_base);
    }
    for (const std::string& line : report) {
      unsigned char dates[2][7] = {};
      int32_t counts[2] = {}, indexes[2] = {}, errors[2] = {}, results[2] = {};
      for (int k = 0; k < 2; ++k) {
        std::memset(records[k], fill, sizeof records[k]);
        testing::HostLineList list;
        list.lines = {line};
        testing::HostCarry carry;
        results[k] = drivers[k].ProcessLine(1, list.list(), carry.text(), records[k], dates[k], &counts[k],
                                            &indexes[k], &errors[k]);
      }
      EXPECT_EQ(results[0], results[1]) << line;
      EXPECT_EQ(errors[0], errors[1]) << line;
      EXPECT_EQ(std::memcmp(dates[0], dates[1], sizeof dates[0]), 0) << line;
      EXPECT_EQ(std::memcmp(records[0], records[1], sizeof records[0]), 0) << fill << " " << line;
    }
  }
}

// The driver keeps copies of an incomplete call's lines rather than reading
// them from the host's list again. A host that hands over another list, or
// the list under another handle, or appends more than one line, must still
// get the record of the lines it holds, as the general path reads them; and
// a line too long for the kept buffers is kept whole.
TEST(LayoutPlan, LinesOfAnIncompleteCallAreReadAgainFromAnotherList) {
  std::ifstream file(std::string(TALVO_SOURCE_DIR) + "/bench/data/three_line.ini");
  std::stringstream settings;
  settings << file.rdbuf();
  const std::string first = "CALL 15/03/26 09:02:05 00:06:10 2150 02 010 O";
  const std::string other = "CALL 16/03/26 10:12:15 00:01:00 2377 01 003 O";
  const std::string second = "     DIALLED 0317654321           CALLER 0612345000";
  const std::string third = "     METER    6 RING 00:08 ACCOUNT 4711   ORIGIN 2150 P Y";
  const std::string first_long = first + std::string(300, ' ') + "END";
  const std::string second_long = second + std::string(300, ' ') + "END";
  struct Step {
    int list;  // which of the host's two lists the call gets
    int32_t handle;
    std::vector<std::string> lines;
  };
  const struct {
    const char* name;
    std::vector<Step> steps;
  } cases[] = {
      {"one list", {{0, 1, {first}}, {0, 1, {first, second}}, {0, 1, {first, second, third}}}},
      {"long lines",
       {{0, 1, {first_long}}, {0, 1, {first_long, second_long}}, {0, 1, {first_long, second_long, third}}}},
      {"another list", {{0, 1, {first}}, {1, 1, {other, second}}, {1, 1, {other, second, third}}}},
      {"another handle", {{0, 1, {first}}, {0, 2, {other, second}}, {0, 2, {other, second, third}}}},
      {"two lines at once", {{0, 1, {first}}, {0, 1, {first, second, third}}}},
  };
  for (const auto& c : cases) {
    testing::FakeDriver drivers[2];
    testing::HostLineList lists[2][2];
    CallRecord records[2][TALVO_RECORD_ENTRIES] = {};
    for (int k = 0; k < 2; ++k) {
      drivers[k].driver.set_use_plans(k == 0);
      drivers[k].env.profile_files["three.ini"] = settings.str();
      for (int32_t handle : {1, 2}) {
        ASSERT_EQ(drivers[k].GetHandle(), handle);
        int32_t index_base = 0;
        const auto name = testing::ShortString("three.ini");
        drivers[k].InitDriver(handle, name.data(), &index_base);
      }
    }
    int32_t results[2] = {};
    for (const Step& step : c.steps) {
      for (int k = 0; k < 2; ++k) {
        lists[k][step.list].lines = step.lines;
        testing::HostCarry carry;
        unsigned char date[7] = {};
        int32_t count = 0, index = 0, error = 0;
        results[k] = drivers[k].ProcessLine(step.handle, lists[k][step.list].list(), carry.text(), records[k], date,
                                            &count, &index, &error);
      }
      EXPECT_EQ(results[0], results[1]) << c.name;
    }
    EXPECT_EQ(results[0], TALVO_RESULT_RECORD) << c.name;
    EXPECT_EQ(std::memcmp(records[0], records[1], sizeof records[0]), 0) << c.name;
  }
}

}  // namespace
}  // namespace talvo
