#include "tools/record_rows.h"

#include <poll.h>
#include <unistd.h>

#include <cstring>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "tools/csv.h"
#include "tools/json.h"

namespace talvo::tool {
namespace {

using namespace std::string_literals;

TEST(IsoDate, TwoDigitYearsPivotAtNinety) {
  struct Case {
    std::string in;
    std::string want;
  } cases[] = {
      {"260315", "2026-03-15"}, {"000101", "2000-01-01"}, {"891231", "2089-12-31"},
      {"900101", "1990-01-01"}, {"991231", "1999-12-31"},
      // Not six digits: passed on as it stands.
      {"", ""}, {"26031", "26031"}, {"2603a5", "2603a5"}, {"2603150", "2603150"},
  };
  for (const Case& c : cases) {
    std::string out;
    AppendIsoDate(out, c.in);
    EXPECT_EQ(out, c.want) << c.in;
  }
}

TEST(FlagWords, OnlyTheFlagsTheKindDoesNotSay) {
  struct Case {
    uint32_t in;
    std::string want;
  } cases[] = {
      {0, ""},
      {TALVO_FLAG_OUTGOING | TALVO_FLAG_INCOMING | TALVO_FLAG_INTERNAL, ""},
      {TALVO_FLAG_PRIVATE, "private"},
      {TALVO_FLAG_ORIGINATING | TALVO_FLAG_CONVERTED, "converted+originating-extension"},
      {TALVO_FLAG_FOREIGN | TALVO_FLAG_PRIVATE | TALVO_FLAG_CONVERTED | TALVO_FLAG_ORIGINATING,
       "private+converted+foreign+originating-extension"},
  };
  for (const Case& c : cases) {
    std::string out;
    AppendFlagWords(out, c.in, '+');
    EXPECT_EQ(out, c.want) << c.in;
  }
}

TEST(ErrorWords, EveryCodeHasWordsOfItsOwn) {
  // Each code of the table has its own words, none the fallback's.
  std::set<std::string_view> seen;
#define CHECK_WORDS_(code, name, text)                                  \
  EXPECT_NE(ErrorWords(code), "unknown error code") << code;             \
  EXPECT_TRUE(seen.insert(ErrorWords(code)).second) << code << " shares its words";
  TALVO_ERROR_CODES(CHECK_WORDS_)
#undef CHECK_WORDS_
  EXPECT_EQ(ErrorWords(TALVO_ERR_CALL_DATE), "call date invalid");
  EXPECT_EQ(ErrorWords(TALVO_ERR_EXTENSION), "no extension, or extension not letters and digits");
  EXPECT_EQ(ErrorWords(1), "unknown error code");
  EXPECT_EQ(ErrorWords(-7), "unknown error code");
  EXPECT_TRUE(IsNonRejectingTest(32));
  EXPECT_TRUE(IsNonRejectingTest(45));
  EXPECT_FALSE(IsNonRejectingTest(20));
  EXPECT_FALSE(IsNonRejectingTest(46));
}

TEST(VisibleText, EscapesBytesAndCutsLongLines) {
  struct Case {
    std::string in;
    std::string want;
  } cases[] = {
      {"CALL 215", "CALL 215"},
      {std::string("a\0\t\\", 4), "a\\x00\\x09\\x5C"},
      {"\xE9\x7F", "\\xE9\\x7F"},
      {"abcdefghi", "abcdefgh..."},
      // Escapes at both ends, side by side, and as the last byte kept.
      {"\x01" "ab\x02\x03", "\\x01ab\\x02\\x03"},
      {"abcdefg\x1Bz", "abcdefg\\x1B..."},
  };
  for (const Case& c : cases) {
    std::string out;
    AppendVisible(out, c.in, 8);
    EXPECT_EQ(out, c.want) << c.in;
  }
}

// A record whose texts need quoting and escaping.
CallRecord AwkwardRecord() {
  CallRecord r;
  std::memset(&r, 0, sizeof r);
  auto put = [](auto& field, const std::string& text) {
    field.length = static_cast<uint8_t>(text.size());
    std::memcpy(field.chars, text.data(), text.size());
  };
  put(r.Extension, "2,15");
  put(r.SecondExtension, "a\"b");
  put(r.Number, "05\xE9");
  put(r.TrunkGroup, "0");
  put(r.Trunk, "12");
  put(r.TCode, std::string("x\0y", 3));
  r.StartMinute = 23 * 60 + 59;
  r.StartSecond = 7;
  r.Duration = 3600;
  r.RingSeconds = 255;
  r.Pulses = -3;
  r.Flags = TALVO_FLAG_INCOMING | TALVO_FLAG_FOREIGN;
  r.Account.length = 200;  // a length byte past the field: read as the field's 12 characters
  std::memcpy(r.Account.chars, "123456789012", 12);
  return r;
}

// An Output into a pipe, read back after Flush().
struct Captured {
  Captured() {
    EXPECT_EQ(::pipe(fds), 0);
    out = std::make_unique<Output>(fds[1], "pipe");
  }
  ~Captured() {
    ::close(fds[0]);
    ::close(fds[1]);
  }
  std::string Text() {
    out->Flush();
    std::string text;
    char buf[4096];
    pollfd readable{fds[0], POLLIN, 0};
    while (::poll(&readable, 1, 0) > 0) {
      const ssize_t n = ::read(fds[0], buf, sizeof buf);
      if (n <= 0) break;
      text.append(buf, static_cast<std::size_t>(n));
    }
    return text;
  }
  int fds[2];
  std::unique_ptr<Output> out;
};

TEST(RecordWriter, CsvRow) {
  const CallRecord r = AwkwardRecord();
  DecodedRecord d{RecordKind::kIncoming, &r, "991231", 17, 0, {4, 5}};
  Captured c;
  RecordWriter w(*c.out, RowFormat::kCsv, true);
  w.Write(d, "in,put");
  EXPECT_EQ(c.Text(),
            "1999-12-31,23:59:07,3600,255,incoming,\"2,15\",\"a\"\"b\",05\xE9,0,12,"
            "123456789012,x\0y,-3,17,foreign,\"in,put\",4,5\n"s);
}

TEST(RecordWriter, JsonRow) {
  const CallRecord r = AwkwardRecord();
  DecodedRecord d{RecordKind::kDuty, &r, "", -1, 0, {1, 1}};
  Captured c;
  RecordWriter w(*c.out, RowFormat::kJsonl, false);
  w.Header();
  w.Write(d, "-");
  EXPECT_EQ(c.Text(),
            "{\"date\":\"\",\"start\":\"23:59:07\",\"duration\":3600,\"ring\":255,\"kind\":\"duty\","
            "\"extension\":\"2,15\",\"second_extension\":\"a\\\"b\",\"number\":\"05\\u00E9\",\"trunk_group\":\"0\","
            "\"trunk\":\"12\",\"account\":\"123456789012\",\"code\":\"x\\u0000y\",\"pulses\":-3,\"index\":-1,"
            "\"flags\":[\"foreign\"]}\n");
}

// The record's text fields are tested eight bytes at a time: a byte that
// needs quotes or an escape is found in every place of a field, and the
// bytes past its length are not looked at.
TEST(RecordWriter, TextFieldsAsTheByteByByteWriters) {
  std::vector<std::string> texts = {"", "0521820227", std::string(24, '7')};
  for (const char special : {',', '"', '\n', '\r', ' ', '\\', '\x7F', '\xE9', '\x1F', '\0'}) {
    for (const std::size_t at : {0u, 7u, 8u, 15u, 16u, 23u}) {
      std::string text(24, '5');
      text[at] = special;
      texts.push_back(text);
      texts.push_back(text.substr(0, at + 1));
    }
  }
  CallRecord r;
  std::memset(&r, 0, sizeof r);
  const auto row = [&](RowFormat format, const std::string& number) {
    std::memset(r.Number.chars, '"', sizeof r.Number.chars);  // past the length: bytes to quote and escape
    std::memcpy(r.Number.chars, number.data(), number.size());
    r.Number.length = static_cast<uint8_t>(number.size());
    DecodedRecord d{RecordKind::kOutgoing, &r, "260315", 3, 0, {1, 1}};
    Captured c;
    RecordWriter(*c.out, format, false).Write(d, "-");
    return c.Text();
  };
  // The rows with an empty number, and where the number goes in them: the
  // eighth CSV field.
  const std::string csv = row(RowFormat::kCsv, "");
  std::size_t csv_at = 0;
  for (int i = 0; i < 7; ++i) csv_at = csv.find(',', csv_at) + 1;
  const std::string json = row(RowFormat::kJsonl, "");
  const std::size_t json_at = json.find("\"number\":") + 9;
  for (const std::string& text : texts) {
    std::string field;
    AppendCsvField(field, text);
    EXPECT_EQ(row(RowFormat::kCsv, text), csv.substr(0, csv_at) + field + csv.substr(csv_at)) << text;
    field.clear();
    AppendJsonString(field, text);
    EXPECT_EQ(row(RowFormat::kJsonl, text), json.substr(0, json_at) + field + json.substr(json_at + 2)) << text;
  }
}

TEST(RejectWriter, Rows) {
  struct Case {
    Reject in;
    std::string want_csv;
  } cases[] = {
      {{RejectKind::kRejected, {3, 4}, 102, "CALL,1", nullptr, "", -1, {}},
       "f,3,4,rejected,102,CHK2 marker did not match,\"CALL,1\"\n"},
      {{RejectKind::kRejected, {7, 7}, 0, "--", nullptr, "", -1, {}},
       "f,7,7,rejected,0,no call record (no reason recorded),--\n"},
      {{RejectKind::kBuffered, {9, 10}, 0, "CALL", nullptr, "", -1, {}},
       "f,9,10,incomplete,,\"still buffered at the end of the input: an incomplete record, or a local or "
       "duty-call record waiting for its next line\",CALL\n"},
  };
  for (const Case& c : cases) {
    Captured csv;
    RejectWriter(*csv.out, RowFormat::kCsv).Write(c.in, "f");
    EXPECT_EQ(csv.Text(), c.want_csv);
  }
  Captured json;
  RejectWriter(*json.out, RowFormat::kJsonl).Write(cases[2].in, "f");
  EXPECT_EQ(json.Text().find(
                "{\"input\":\"f\",\"first_line\":9,\"last_line\":10,\"status\":\"incomplete\",\"error\":null,"),
            0u);
}

// A reject's text is made visible and quoted in one pass, and its reason is
// written once and kept: the rows are those the byte-by-byte writers make,
// also for more reasons than are kept.
TEST(RejectWriter, TextsAndReasonsAsTheByteByByteWriters) {
  const std::string texts[] = {"plain", "a,b", "say \"hi\"\x01\\", std::string(250, 'x'),
                               std::string(199, 'y') + "\"\xE9,"};
  Captured csv;
  Captured json;
  RejectWriter csv_writer(*csv.out, RowFormat::kCsv);
  RejectWriter json_writer(*json.out, RowFormat::kJsonl);
  std::string want_csv;
  std::string want_json;
  for (uint64_t i = 0; i < 140; ++i) {
    const std::string& text = texts[i % 5];
    const std::string reason = "reason, " + std::to_string(i / 2 % 67);  // each twice in a row
    const Reject r{RejectKind::kRejected, {i + 1, i + 1}, 6, text, nullptr, "", -1, {}};
    csv_writer.Write(r, "in", reason);
    json_writer.Write(r, "in", reason);
    const std::string n = std::to_string(i + 1);
    std::string visible;
    AppendVisible(visible, text, kRejectTextLimit);
    want_csv += "in," + n + "," + n + ",rejected,6,";
    AppendCsvField(want_csv, reason);
    want_csv += ',';
    AppendCsvField(want_csv, visible);
    want_csv += '\n';
    want_json += "{\"input\":\"in\",\"first_line\":" + n + ",\"last_line\":" + n +
                 ",\"status\":\"rejected\",\"error\":6,\"reason\":";
    AppendJsonString(want_json, reason);
    want_json += ",\"text\":";
    AppendJsonString(want_json, text.substr(0, kRejectTextLimit) + (text.size() > kRejectTextLimit ? "..." : ""));
    want_json += "}\n";
  }
  EXPECT_EQ(csv.Text(), want_csv);
  EXPECT_EQ(json.Text(), want_json);
}

}  // namespace
}  // namespace talvo::tool
