#include "parse/layout_plan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <string_view>

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

}  // namespace
}  // namespace talvo
