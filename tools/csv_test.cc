#include "tools/csv.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace talvo::tool {
namespace {

TEST(CsvField, QuotesOnlyWhatNeedsIt) {
  struct Case {
    std::string in;
    std::string want;
  } cases[] = {
      {"", ""},
      {"0521234567", "0521234567"},
      {" 215 ", " 215 "},
      {"a,b", "\"a,b\""},
      {"say \"hi\"", "\"say \"\"hi\"\"\""},
      {"\"", "\"\"\"\""},
      {"two\nlines", "\"two\nlines\""},
      {"cr\ronly", "\"cr\ronly\""},
      {std::string("nul\0here", 8), std::string("nul\0here", 8)},
      {"caf\xE9", "caf\xE9"},
  };
  for (const Case& c : cases) {
    std::string out = "x,";
    AppendCsvField(out, c.in);
    EXPECT_EQ(out, "x," + c.want) << c.in;
  }
}

std::vector<std::vector<std::string>> Read(const std::string& text, std::vector<std::size_t>* lines = nullptr) {
  std::vector<std::vector<std::string>> rows;
  CsvReader reader(text);
  CsvRow row;
  while (reader.Next(row)) {
    rows.push_back(row.fields);
    if (lines != nullptr) lines->push_back(row.line);
  }
  return rows;
}

TEST(CsvReader, ReadsWhatTheWriterWrites) {
  const std::vector<std::string> fields = {"", "plain", "a,b", "q\"q", "multi\r\nline", "lone\rcr", " pad "};
  std::string text;
  for (std::size_t i = 0; i < fields.size(); ++i) {
    if (i > 0) text += ',';
    AppendCsvField(text, fields[i]);
  }
  text += "\nlast,row";
  const auto rows = Read(text);
  ASSERT_EQ(rows.size(), 2u);
  EXPECT_EQ(rows[0], fields);
  EXPECT_EQ(rows[1], (std::vector<std::string>{"last", "row"}));
}

TEST(CsvReader, CountsLinesAcrossEveryLineEnd) {
  std::vector<std::size_t> lines;
  const auto rows = Read("a,b\r\nc\rd\n\"e\r\nf\",g\nh", &lines);
  ASSERT_EQ(rows.size(), 5u);
  EXPECT_EQ(lines, (std::vector<std::size_t>{1, 2, 3, 4, 6}));
  EXPECT_EQ(rows[3][0], "e\r\nf");
}

TEST(CsvReader, BlankRows) {
  CsvReader reader("\n  \nx\n");
  CsvRow row;
  ASSERT_TRUE(reader.Next(row));
  EXPECT_TRUE(row.blank());
  ASSERT_TRUE(reader.Next(row));
  EXPECT_TRUE(row.blank());
  ASSERT_TRUE(reader.Next(row));
  EXPECT_FALSE(row.blank());
  EXPECT_FALSE(reader.Next(row));
}

TEST(CsvReader, RefusesBrokenQuotesNamingTheLine) {
  struct Case {
    std::string in;
    std::size_t line;
  } cases[] = {
      {"a\nb\n\"open", 3},
      {"a\n\"x\"y,z\n", 2},
      {"\"spans\nlines", 1},
  };
  for (const Case& c : cases) {
    try {
      Read(c.in);
      ADD_FAILURE() << "accepted " << c.in;
    } catch (const CsvError& e) {
      EXPECT_EQ(e.line(), c.line) << c.in;
    }
  }
}

}  // namespace
}  // namespace talvo::tool
