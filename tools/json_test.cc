#include "tools/json.h"

#include <string>

#include <gtest/gtest.h>

namespace talvo::tool {
namespace {

TEST(JsonString, EscapesEverythingThatIsNotPlainAscii) {
  struct Case {
    std::string in;
    std::string want;
  } cases[] = {
      {"", "\"\""},
      {"215", "\"215\""},
      {"a\"b\\c", "\"a\\\"b\\\\c\""},
      {"\n\r\t", "\"\\n\\r\\t\""},
      {std::string("\0", 1), "\"\\u0000\""},
      {"\x01\x1F\x7F", "\"\\u0001\\u001F\\u007F\""},
      {"caf\xE9", "\"caf\\u00E9\""},          // Latin-1 e-acute
      {"\x80\xFF", "\"\\u0080\\u00FF\""},
      {"\xC3\xA9", "\"\\u00C3\\u00A9\""},      // bytes, not decoded as UTF-8
      {"/ <>", "\"/ <>\""},
  };
  for (const Case& c : cases) {
    std::string out;
    AppendJsonString(out, c.in);
    EXPECT_EQ(out, c.want) << c.in;
    for (char ch : out) EXPECT_LT(static_cast<unsigned char>(ch), 0x80) << c.in;
  }
}

}  // namespace
}  // namespace talvo::tool
