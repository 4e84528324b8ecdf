// The conversion table: loading QUORCNVT.INT with its retries, the key search,
// and re-charging a call by the prefix of its dialled number.
#include "convert/conversion_table.h"

#include <gtest/gtest.h>

#include <cstring>
#include <initializer_list>
#include <random>
#include <string>
#include <vector>

#include "support/fake_driver.h"
#include "talvo/driver.h"
#include "util/short_text.h"

namespace talvo {
namespace {

// ---- Building table files ---------------------------------------------------

// One entry record with its length bytes given outright; the key field holds
// `key` (at most 16 bytes), the replacement field `replacement` (at most 8).
std::string RawEntry(uint8_t key_length, std::string_view key, uint8_t replacement_length,
                     std::string_view replacement) {
  std::string r(kConversionRecordSize, '\0');
  r[0] = static_cast<char>(key_length);
  key.substr(0, 16).copy(&r[1], 16);
  r[17] = static_cast<char>(replacement_length);
  replacement.substr(0, 8).copy(&r[18], 8);
  return r;
}

// `key` padded with spaces to 16 characters, as a usable entry stores it.
std::string Padded(std::string_view key) {
  std::string padded(key);
  if (padded.size() < 16) padded.append(16 - padded.size(), ' ');
  return padded;
}

// A well-formed entry.
std::string Entry(std::string_view key, std::string_view replacement) {
  return RawEntry(16, Padded(key), static_cast<uint8_t>(replacement.size()), replacement);
}

std::string Header(int16_t count) {
  std::string h(kConversionRecordSize, '\0');
  const auto bits = static_cast<uint16_t>(count);
  h[0] = static_cast<char>(bits & 0xFF);
  h[1] = static_cast<char>(bits >> 8);
  return h;
}

std::string TableFile(int16_t count, const std::vector<std::string>& entries) {
  std::string file = Header(count);
  for (const std::string& e : entries) file += e;
  return file;
}

// A record as the parser hands it over: an outgoing call charged to `extension`.
CallRecord OutgoingCall(std::string_view extension) {
  CallRecord r;
  std::memset(&r, 0, sizeof r);
  StoreText(r.Extension, extension);
  StoreText(r.SecondExtension, "old");
  r.Flags = TALVO_FLAG_OUTGOING | TALVO_FLAG_PRIVATE;
  return r;
}

bool SameBytes(const CallRecord& a, const CallRecord& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

// The plain search the index must agree with: the first of entries
// 1..EntryCount() whose key has the length and the characters of `key`.
ConversionMatch FindByScan(const ConversionTable& table, std::string_view key) {
  key = key.substr(0, kConversionSearchKeyLimit);
  if (key.empty()) return {};
  for (int32_t i = 1; i <= table.EntryCount(); ++i) {
    if (table.Entry(i).key == key) return ConversionMatch{true, static_cast<int16_t>(i)};
  }
  return {};
}

ConversionMatch FindIndexed(const ConversionTable& table, std::string_view key) { return table.Find(key); }

class ConversionTableTest : public ::testing::Test {
 protected:
  void LoadFile(const std::string& bytes) {
    fake.env.shared_files[kConversionFileName] = bytes;
    fake.driver.StartRun();
    ASSERT_NE(fake.driver.conversion_table(), nullptr);
  }

  const ConversionTable& Table() { return *fake.driver.conversion_table(); }

  void ApplyConversionTable(CallRecord& record, std::string_view dialled) {
    ApplyConversion(fake.driver.conversion_table(), record, dialled);
  }

  testing::FakeDriver fake;
};

// ---- Loading ----------------------------------------------------------------

TEST_F(ConversionTableTest, MissingFileGivesPresentEmptyTableAndTheRunStarts) {
  EXPECT_EQ(fake.ProcessStart(nullptr), 1);
  ASSERT_NE(fake.driver.conversion_table(), nullptr);
  EXPECT_EQ(Table().EntryCount(), 0);
  for (uint8_t b : Table().Image()) ASSERT_EQ(b, 0);
  EXPECT_EQ(fake.env.shared_opens, 1) << "a missing file is not retried";
  EXPECT_TRUE(fake.env.sleeps.empty());

  CallRecord r = OutgoingCall("215");
  const CallRecord before = r;
  ApplyConversionTable(r, "0521234567");
  EXPECT_TRUE(SameBytes(r, before));

  fake.ProcessEnd(nullptr);
  EXPECT_EQ(fake.driver.conversion_table(), nullptr);
}

TEST_F(ConversionTableTest, ImageHoldsTheFileAsReadAndZeroBeyondIt) {
  // A file longer than the table: only its first 13026 bytes count.
  std::string longer(kConversionImageSize + 500, '\0');
  for (std::size_t i = 0; i < longer.size(); ++i) longer[i] = static_cast<char>((i * 7 + 3) & 0xFF);
  LoadFile(longer);
  EXPECT_EQ(std::memcmp(Table().Image().data(), longer.data(), kConversionImageSize), 0);

  // A short file: the rest of the table is zero.
  const std::string shorter = TableFile(3, {Entry("0521", "300"), Entry("0049", "401")});
  LoadFile(shorter);
  const auto& image = Table().Image();
  EXPECT_EQ(std::memcmp(image.data(), shorter.data(), shorter.size()), 0);
  for (std::size_t i = shorter.size(); i < image.size(); ++i) ASSERT_EQ(image[i], 0) << "byte " << i;
}

TEST_F(ConversionTableTest, HeaderCountDecidesHowManyEntriesAreSearched) {
  // 600 distinct entries in the file; entry i has key "9<i>" and replacement "<i>".
  std::vector<std::string> entries;
  for (int i = 1; i <= 600; ++i) entries.push_back(Entry("9" + std::to_string(i), std::to_string(i)));
  struct Case {
    int16_t in;
    int32_t want_entries;
  };
  const Case cases[] = {{0, 0},     {-1, 0},    {-32768, 0}, {1, 1},
                        {499, 499}, {500, 500}, {501, 500},  {32767, 500}};
  for (const Case& c : cases) {
    LoadFile(TableFile(c.in, entries));
    EXPECT_EQ(Table().HeaderCount(), c.in);
    EXPECT_EQ(Table().EntryCount(), c.want_entries) << c.in;
    for (int i : {1, 499, 500, 501, 600}) {
      const std::string key = Padded("9" + std::to_string(i));
      const ConversionMatch m = Table().Find(key);
      EXPECT_EQ(m.found, i <= c.want_entries) << "count " << c.in << ", entry " << i;
      if (m.found) {
        EXPECT_EQ(m.index, i) << "count " << c.in;
      }
      EXPECT_EQ(FindByScan(Table(), key).found, m.found) << "count " << c.in;
    }
  }
}

TEST_F(ConversionTableTest, HeaderOnlyConvertsNothing) {
  LoadFile(Header(0));
  CallRecord r = OutgoingCall("215");
  const CallRecord before = r;
  ApplyConversionTable(r, "0521234567");
  EXPECT_TRUE(SameBytes(r, before));
}

TEST_F(ConversionTableTest, CountBeyondTheEntriesInTheFile) {
  // The header promises three, the file has two: the third is all zero.
  LoadFile(TableFile(3, {Entry("0521", "300"), Entry("0049", "401")}));
  EXPECT_EQ(Table().EntryCount(), 3);
  EXPECT_TRUE(Table().Entry(3).key.empty());
  EXPECT_EQ(Table().Find("0521            ").index, 1);
  EXPECT_EQ(Table().Find("0049            ").index, 2);
  EXPECT_FALSE(Table().Find("").found);
  EXPECT_FALSE(FindByScan(Table(), "").found) << "the zero entry matches no empty key";
}

TEST_F(ConversionTableTest, RetriesOnlyWhileAWriterHoldsTheFile) {
  constexpr uint32_t kShare = kErrorSharingViolation;
  struct Case {
    const char* in;
    std::vector<uint32_t> failures;  // errors of the first opens, in order
    bool want_loaded;
    int want_opens;
  };
  const std::vector<Case> cases = {
      {"opens at once", {}, true, 1},
      {"sharing violation three times", {kShare, kShare, kShare}, true, 4},
      {"access denied, lock violation", {kErrorAccessDenied, kErrorLockViolation}, true, 3},
      {"file not found stops at once", {kErrorFileNotFound}, false, 1},
      {"path not found after a refusal", {kShare, kErrorPathNotFound}, false, 2},
      {"any other error stops at once", {kErrorMoreData}, false, 1},
      {"refused 49 times, opens on the last attempt", std::vector<uint32_t>(49, kShare), true, 50},
      {"refused on all 50 attempts", std::vector<uint32_t>(60, kShare), false, 50},
  };
  const std::string file = TableFile(1, {Entry("0521", "300")});
  for (const Case& c : cases) {
    testing::FakeDriver scope;
    scope.env.shared_files[kConversionFileName] = file;
    scope.env.open_failures.assign(c.failures.begin(), c.failures.end());
    scope.driver.StartRun();
    ASSERT_NE(scope.driver.conversion_table(), nullptr) << c.in;
    EXPECT_EQ(scope.driver.conversion_table()->EntryCount(), c.want_loaded ? 1 : 0) << c.in;
    EXPECT_EQ(scope.env.shared_opens, c.want_opens) << c.in;
    // A pause of 10 ms between two attempts, none after the last.
    EXPECT_EQ(scope.env.sleeps, std::vector<uint32_t>(static_cast<std::size_t>(c.want_opens - 1), 10u))
        << c.in;
  }
}

TEST_F(ConversionTableTest, SecondLoadReplacesTheFirst) {
  LoadFile(TableFile(1, {Entry("0521", "300")}));
  fake.env.shared_files[kConversionFileName] = TableFile(1, {Entry("0521", "999")});
  fake.driver.StartRun();
  CallRecord r = OutgoingCall("215");
  ApplyConversionTable(r, "0521234567");
  EXPECT_EQ(TextOf(r.Extension), "999");

  fake.driver.EndRun();
  fake.driver.EndRun();  // releasing an absent table changes nothing
  EXPECT_EQ(fake.driver.conversion_table(), nullptr);
}

TEST_F(ConversionTableTest, AbsentTableConvertsNothing) {
  fake.driver.EndRun();
  CallRecord r = OutgoingCall("215");
  const CallRecord before = r;
  ApplyConversionTable(r, "0521234567");
  ApplyConversion(nullptr, r, "0521234567");
  EXPECT_TRUE(SameBytes(r, before));
}

// ---- Entries and the key search -------------------------------------------------

TEST_F(ConversionTableTest, LowerRecordWinsAmongEqualKeys) {
  LoadFile(TableFile(4, {Entry("0049", "401"), Entry("0521", "300"), Entry("0521", "400"),
                         Entry("0049", "402")}));
  for (auto search : {FindIndexed, FindByScan}) {
    EXPECT_EQ(search(Table(), "0521            ").index, 2);
    EXPECT_EQ(search(Table(), "0049            ").index, 1);
  }
  // The entry found for a key is the first one: when it names the call's own
  // extension, a later entry with the same key is not looked at.
  CallRecord r = OutgoingCall("300");
  const CallRecord before = r;
  ApplyConversionTable(r, "0521234567");
  EXPECT_TRUE(SameBytes(r, before));
}

TEST_F(ConversionTableTest, MalformedLengthBytes) {
  struct Case {
    const char* in;
    std::string entry;
    bool want_match;          // does the dialled number 0521 find it
    std::string want_extension;
  };
  const std::string padded = "0521            ";
  const Case cases[] = {
      {"well formed", RawEntry(16, padded, 3, "300"), true, "300"},
      {"unpadded key of length 4", RawEntry(4, "0521", 3, "300"), false, "215"},
      {"key length 0", RawEntry(0, padded, 3, "300"), false, "215"},
      {"key length 17", RawEntry(17, padded, 3, "300"), false, "215"},
      {"key length 255", RawEntry(255, padded, 3, "300"), false, "215"},
      {"replacement length 8", RawEntry(16, padded, 8, "12345678"), true, "12345678"},
      {"replacement length 9 is cut to 8", RawEntry(16, padded, 9, "12345678"), true, "12345678"},
      {"replacement length 255 is cut to 8", RawEntry(16, padded, 255, "12345678"), true, "12345678"},
      {"replacement bytes past the length unused", RawEntry(16, padded, 2, "30XXXXXX"), true, "30"},
  };
  for (const Case& c : cases) {
    LoadFile(TableFile(1, {c.entry}));
    EXPECT_EQ(Table().Find(padded).found, c.want_match) << c.in;
    EXPECT_EQ(FindByScan(Table(), padded).found, c.want_match) << c.in;
    CallRecord r = OutgoingCall("215");
    ApplyConversionTable(r, "0521234567");
    EXPECT_EQ(TextOf(r.Extension), c.want_extension) << c.in;
  }
}

TEST_F(ConversionTableTest, KeysCompareByteForByte) {
  const std::string_view with_nul("0521\0\0          ", 16);
  LoadFile(TableFile(3, {Entry("abc", "1"), Entry("0123456789012345", "2"), RawEntry(16, with_nul, 1, "3")}));
  struct Case {
    std::string in;
    bool want_found;
  };
  const Case cases[] = {
      {"abc             ", true},
      {"ABC             ", false},  // no case folding
      {"abc", false},               // the length byte is compared too
      {"abc              ", false},
      {"0123456789012345", true},
      {"012345678901234 ", false},
      {std::string(with_nul), true},  // any byte, NUL included
      {"0521            ", false},
      {"", false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(Table().Find(c.in).found, c.want_found) << '"' << c.in << '"';
    EXPECT_EQ(FindByScan(Table(), c.in).found, c.want_found) << '"' << c.in << '"';
  }
}

// ---- Re-charging a call -----------------------------------------------------------

TEST_F(ConversionTableTest, LongestPrefixThatChangesTheExtensionWins) {
  LoadFile(TableFile(6, {Entry("0521", "300"), Entry("05", "400"), Entry("0777", ""),
                         Entry("07", "500"), Entry("0123456789012345", "600"), Entry("ABC", "700")}));
  struct Case {
    const char* in;  // the dialled number
    const char* extension;
    const char* want_extension;  // nullptr: the record is left as it was
  };
  const Case cases[] = {
      {"0521234567", "215", "300"},
      {"0521234567", "300", "400"},  // 0521 names the call's own extension; 05 wins
      {"0521234567", "400", "300"},
      {"0599", "400", nullptr},      // 05 names the own extension, nothing shorter
      {"05", "215", "400"},
      {"0", "215", nullptr},
      {"0621", "215", nullptr},
      {"  0521234567 \t", "215", "300"},
      {"\r\n0521234567\x01", "215", "300"},
      {"", "215", nullptr},
      {"    ", "215", nullptr},
      {"\t\r\n ", "215", nullptr},
      {"0521 234", "215", "300"},    // inner blanks are part of the number
      {"0 521", "215", nullptr},
      {"abc", "215", nullptr},
      {"ABCDEF", "215", "700"},
      // Cut to 24 characters before the blanks are trimmed.
      {"                    0521234567", "215", "300"},
      {"                       05", "215", nullptr},
      // 16 characters and more: the key is the number itself.
      {"0123456789012345", "215", "600"},
      {"01234567890123456789", "215", "600"},
      {"012345678901234567890123456789", "215", "600"},
      // An empty replacement empties the extension, unless it already is.
      {"0777123", "215", ""},
      {"0777123", "", "500"},
      {"0777123", "12345678", ""},
  };
  for (const Case& c : cases) {
    {
      const std::string where = c.in;
      CallRecord r = OutgoingCall(c.extension);
      const CallRecord before = r;
      ApplyConversion(fake.driver.conversion_table(), r, c.in);
      if (c.want_extension == nullptr) {
        EXPECT_TRUE(SameBytes(r, before)) << where;
        continue;
      }
      CallRecord want = before;
      StoreText(want.Extension, c.want_extension);
      StoreText(want.SecondExtension, c.extension);
      want.Flags = TALVO_FLAG_OUTGOING | TALVO_FLAG_PRIVATE | TALVO_FLAG_CONVERTED;
      EXPECT_EQ(TextOf(r.Extension), c.want_extension) << where;
      EXPECT_EQ(TextOf(r.SecondExtension), c.extension) << where;
      EXPECT_EQ(uint32_t{r.Flags}, uint32_t{want.Flags}) << where;
      EXPECT_TRUE(SameBytes(r, want)) << where << ": another field changed";
    }
  }
}

// ---- The index against the plain scan ------------------------------------------------

// The conversion exactly as the record-order search describes it: a fresh
// padded key per prefix, the plain scan, the first entry of a key only.
// Returns how many entries were passed over for naming the call's own extension.
int ReferenceConversion(const ConversionTable& table, CallRecord& record, std::string_view dialled) {
  int passed_over = 0;
  std::string_view copy = dialled.substr(0, 24);
  while (!copy.empty() && static_cast<unsigned char>(copy.front()) <= 32) copy.remove_prefix(1);
  while (!copy.empty() && static_cast<unsigned char>(copy.back()) <= 32) copy.remove_suffix(1);
  for (; !copy.empty(); copy.remove_suffix(1)) {
    const ConversionMatch m = FindByScan(table, Padded(copy));
    if (!m.found) continue;
    const std::string replacement(table.Entry(m.index).replacement);
    const std::string extension(TextOf(record.Extension));
    if (replacement == extension) {
      ++passed_over;
      continue;
    }
    StoreText(record.SecondExtension, extension);
    StoreText(record.Extension, replacement);
    record.Flags = record.Flags | TALVO_FLAG_CONVERTED;
    break;
  }
  return passed_over;
}

TEST_F(ConversionTableTest, IndexAnswersAsThePlainScan) {
  // Short keys over a small alphabet, so that keys are prefixes of each other
  // and repeat; replacements from a small set, so that many calls are already
  // charged where an entry points; some malformed entries among them.
  std::mt19937 rng(20260315);
  auto pick = [&rng](int n) { return static_cast<int>(rng() % static_cast<uint32_t>(n)); };
  const std::string digits = "01239#";
  const std::vector<std::string> extensions = {"", "200", "201", "300", "3000", "12345678"};
  auto random_number = [&](int min_length, int max_length) {
    std::string s;
    const int n = min_length + pick(max_length - min_length + 1);
    for (int i = 0; i < n; ++i) s += digits[static_cast<std::size_t>(pick(static_cast<int>(digits.size())))];
    return s;
  };

  std::vector<std::string> keys;
  std::vector<std::string> entries;
  for (int i = 0; i < kConversionCapacity; ++i) {
    std::string key = (i > 0 && pick(5) == 0) ? keys[static_cast<std::size_t>(pick(i))] : random_number(3, 8);
    if (pick(40) == 0) key = random_number(1, 16) + "0000000000000000";  // a full 16-character key
    key.resize(std::min<std::size_t>(key.size(), 16));
    keys.push_back(key);
    const std::string& replacement = extensions[static_cast<std::size_t>(pick(6))];
    switch (pick(30)) {
      case 0: entries.push_back(RawEntry(static_cast<uint8_t>(key.size()), key, 3, "300")); break;
      case 1: entries.push_back(RawEntry(static_cast<uint8_t>(17 + pick(200)), key + "      ", 3, "300")); break;
      case 2: entries.push_back(RawEntry(16, key + "                ", 12, "98765432")); break;
      default: entries.push_back(Entry(key, replacement)); break;
    }
  }
  LoadFile(TableFile(kConversionCapacity, entries));

  int converted = 0;
  int passed_over = 0;
  for (int n = 0; n < 2500; ++n) {
    std::string dialled;
    switch (pick(4)) {
      case 0: dialled = random_number(1, 12); break;
      case 1: dialled = keys[static_cast<std::size_t>(pick(kConversionCapacity))]; break;
      case 2: dialled = keys[static_cast<std::size_t>(pick(kConversionCapacity))] + random_number(1, 10); break;
      default: {
        const std::string& k = keys[static_cast<std::size_t>(pick(kConversionCapacity))];
        dialled = k.substr(0, static_cast<std::size_t>(pick(static_cast<int>(k.size()) + 1)));
      }
    }
    if (pick(8) == 0) dialled = "  " + dialled + " ";

    for (std::size_t len = 0; len <= dialled.size(); ++len) {
      const std::string k = Padded(dialled.substr(0, len));
      const ConversionMatch by_index = Table().Find(k);
      const ConversionMatch by_scan = FindByScan(Table(), k);
      ASSERT_EQ(by_index.found, by_scan.found) << '"' << k << '"';
      if (by_scan.found) {
        ASSERT_EQ(by_index.index, by_scan.index) << '"' << k << '"';
      }
    }

    const std::string& extension = extensions[static_cast<std::size_t>(pick(6))];
    CallRecord indexed = OutgoingCall(extension);
    CallRecord reference = OutgoingCall(extension);
    ApplyConversionTable(indexed, dialled);
    passed_over += ReferenceConversion(Table(), reference, dialled);
    ASSERT_TRUE(SameBytes(indexed, reference)) << '"' << dialled << "\" from " << extension;
    if ((indexed.Flags & TALVO_FLAG_CONVERTED) != 0) ++converted;
  }
  // The set is only worth something if it holds both outcomes in quantity.
  EXPECT_GT(converted, 800);
  EXPECT_LT(converted, 1800);
  EXPECT_GT(passed_over, 100);
}

}  // namespace
}  // namespace talvo
