#include "parse/check_marker.h"

#include <gtest/gtest.h>

namespace talvo {
namespace {

TEST(CheckMarker, ComparesTheTextAtItsColumn) {
  struct Case {
    std::string_view line;
    uint8_t column;
    std::string_view expected;
    bool want;
  } cases[] = {
      {"    CALL 12", 5, "CALL", true},
      {"    call 12", 5, "CALL", false},       // letter case matters
      {"    CAL", 5, "CALL", false},           // the line ends inside the text
      {"CALL", 1, "CALL", true},
      {"xCALL", 1, "CALL", false},
      {"", 1, "C", false},
      {"0123456789ABCDEF", 1, "0123456789XYZ", true},  // cut to 10 characters
      {"ab", 0, "zz", true},                 // column 0 tests nothing
      {"ab", 1, "", true},                   // empty text tests nothing
      {std::string_view("  \xff\x00z", 5), 3, std::string_view("\xff\x00", 2), true},
  };
  for (const Case& c : cases) {
    bool ok = true;
    CheckMarker(c.line, c.column, c.expected, ok);
    EXPECT_EQ(ok, c.want) << '"' << c.line << "\" col " << int{c.column} << " \"" << c.expected << '"';
  }
}

TEST(CheckMarker, NeverSetsAClearedFlag) {
  bool ok = false;
  CheckMarker("CALL", 1, "CALL", ok);
  EXPECT_FALSE(ok);
  CheckMarker("CALL", 0, "CALL", ok);  // unconfigured: unchanged either way
  EXPECT_FALSE(ok);
}

TEST(HasBlankAt, NeedsASpaceInsideTheLine) {
  EXPECT_TRUE(HasBlankAt("a b", 2));
  EXPECT_FALSE(HasBlankAt("a\tb", 2));  // only the space counts as a blank here
  EXPECT_FALSE(HasBlankAt("ab", 3));    // too short
  EXPECT_FALSE(HasBlankAt(" ", 0));
}

}  // namespace
}  // namespace talvo
