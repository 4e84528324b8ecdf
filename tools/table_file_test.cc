#include "tools/table_file.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace talvo::tool {
namespace {

TEST(PrefixList, ReadsRowsWithTheirLines) {
  const auto entries = ParsePrefixList("Prefix,Extension\n\n0521,300\r\n  05\t, 400 \n\"0,44\",A1");
  ASSERT_EQ(entries.size(), 3u);
  EXPECT_EQ(entries[0].prefix, "0521");
  EXPECT_EQ(entries[0].line, 3u);
  EXPECT_EQ(entries[1].prefix, "05");
  EXPECT_EQ(entries[1].extension, "400");
  EXPECT_EQ(entries[2].prefix, "0,44");
  EXPECT_EQ(entries[2].line, 5u);
}

TEST(PrefixList, AHeaderCountsOnlyOnTheFirstRow) {
  try {
    ParsePrefixList("0521,300\nprefix,extension\n");
    ADD_FAILURE() << "a second header row is no entry";
  } catch (const TableInputError& e) {
    EXPECT_EQ(e.line(), 2u);
  }
}

TEST(PrefixList, RefusesWithTheLine) {
  struct Case {
    std::string in;
    std::size_t line;
  } cases[] = {
      {"12345678901234567,1", 1},
      {"1234567890123456,123456789", 1},
      {"1,\n", 1},
      {"\n\n,1", 3},
      {std::string("0\x01", 2) + ",1", 1},
      {"1,2\n1,3", 2},
      {"1,x y", 1},
      {"1", 1},
  };
  for (const Case& c : cases) {
    try {
      ParsePrefixList(c.in);
      ADD_FAILURE() << "accepted " << c.in;
    } catch (const TableInputError& e) {
      EXPECT_EQ(e.line(), c.line) << c.in;
    }
  }
}

TEST(PrefixList, FiveHundredRowsFitAndOneMoreDoesNot) {
  std::string text;
  for (int i = 0; i < 500; ++i) text += std::to_string(10000 + i) + ",1\n";
  EXPECT_EQ(ParsePrefixList(text).size(), 500u);
  EXPECT_THROW(ParsePrefixList(text + "99,1\n"), TableInputError);
}

TEST(TableBytes, EntriesArePaddedToTheDriversLayout) {
  const std::string bytes = EncodeTable({{"0521", "300", 1}, {"0123456789ABCDEF", "12345678", 2}});
  ASSERT_EQ(bytes.size(), 3u * 26u);
  EXPECT_EQ(bytes.substr(0, 26), std::string("\x02\x00", 2) + std::string(24, '\0'));
  EXPECT_EQ(bytes.substr(26, 26), std::string("\x10" "0521            \x03" "300\0\0\0\0\0", 26));
  EXPECT_EQ(bytes.substr(52, 26), "\x10" "0123456789ABCDEF\x08" "12345678");
}

TEST(TableBytes, InspectGivesBackWhatWasEncoded) {
  std::vector<TablePrefix> entries;
  for (int i = 0; i < 500; ++i) {
    std::string extension = "E";
    extension += std::to_string(i);  // not "E" + ...: GCC 12 -O3 warns falsely (-Wrestrict)
    entries.push_back({std::to_string(7000000 + i * 13), extension, 0});
  }
  const TableInfo info = InspectTable(EncodeTable(entries));
  EXPECT_EQ(info.header_count, 500);
  EXPECT_TRUE(info.problems.empty());
  ASSERT_EQ(info.entries.size(), 500u);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    EXPECT_EQ(info.entries[i].prefix, entries[i].prefix) << i;
    EXPECT_EQ(info.entries[i].extension, entries[i].extension) << i;
    EXPECT_TRUE(info.entries[i].problems.empty()) << i;
  }
}

TEST(TableBytes, ProblemsOfTheWholeFile) {
  auto header = [](int16_t count) {
    std::string h(26, '\0');
    h[0] = static_cast<char>(static_cast<uint16_t>(count) & 0xFF);
    h[1] = static_cast<char>(static_cast<uint16_t>(count) >> 8);
    return h;
  };
  const std::string one = EncodeTable({{"1", "2", 1}}).substr(26);
  struct Case {
    std::string in;
    std::string want;  // the first problem
    std::size_t entries;
  } cases[] = {
      {"", "the file has no header record (0 bytes): the table is empty", 0},
      {header(0) + one, "the header counts 0 entries: the table is empty", 0},
      {header(-2) + one, "the header counts -2 entries: the table is empty", 0},
      {header(501), "the header counts 501 entries: only the first 500 are used", 500},
      {header(1) + one + one, "1 record(s) after the last counted entry are not used", 1},
      {header(1) + one + "xx", "the size, 54 bytes, is not a whole number of 26-byte records", 1},
  };
  for (const Case& c : cases) {
    const TableInfo info = InspectTable(c.in);
    ASSERT_FALSE(info.problems.empty()) << c.want;
    EXPECT_EQ(info.problems[0], c.want);
    EXPECT_EQ(info.entries.size(), c.entries) << c.want;
  }
}

TEST(TableBytes, EntriesThatNeverMatch) {
  auto record = [](std::string r) {
    r.resize(26, '\0');
    return r;
  };
  const std::string header = std::string("\x04\x00", 2) + std::string(24, '\0');
  const std::string bytes = header + record(std::string("\x10") + std::string(16, ' ') + "\x01" "1") +
                            record(std::string("\x10") + " 052            " + "\x01" "1") +
                            record(std::string("\x10") + "052             " + std::string("\x00", 1)) +
                            record(std::string("\x00", 1));
  const TableInfo info = InspectTable(bytes);
  ASSERT_EQ(info.entries.size(), 4u);
  EXPECT_EQ(info.entries[0].problems.at(0), "the key is all blanks: never matches");
  EXPECT_EQ(info.entries[1].problems.at(0), "the key starts with a blank or control byte: never matches");
  EXPECT_EQ(info.entries[2].problems.at(0), "the extension is empty: a match would blank the call's extension");
  EXPECT_EQ(info.entries[3].problems.at(0), "key length 0 is not 16 (keys are padded to 16): never matches");
}

}  // namespace
}  // namespace talvo::tool
