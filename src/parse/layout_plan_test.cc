#include "parse/layout_plan.h"

#include <gtest/gtest.h>

#include <string_view>

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

}  // namespace
}  // namespace talvo
