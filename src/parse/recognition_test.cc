// Recognition over a list that behaves as the host's: one line appended per
// call, the list cleared after any result but 4, the carried-over line kept as
// the first line of the next record.
#include "parse/recognition.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace talvo {
namespace {

class VectorLines final : public RecordLines {
 public:
  int32_t Count() override { return static_cast<int32_t>(lines.size()); }
  bool Get(int32_t i, std::string* out) override {
    if (i < 0 || i >= Count()) return false;
    *out = lines[static_cast<std::size_t>(i)];
    return true;
  }
  bool View(int32_t i, std::string_view* out) override {
    if (i < 0 || i >= Count()) return false;
    *out = lines[static_cast<std::size_t>(i)];
    return true;
  }
  bool Delete(int32_t i) override {
    if (i < 0 || i >= Count()) return false;
    lines.erase(lines.begin() + i);
    return true;
  }
  void CarryOver(std::string_view line) override { carried = std::string(line); }

  std::vector<std::string> lines;
  std::string carried;
};

// What one call gave: "4", "1", "1/102", "rec:2" (complete with 2 lines),
// with "+carry" when a line was carried over.
struct Step {
  std::string line;
  std::string want;
};

class RecognitionTest : public ::testing::Test {
 protected:
  Recognition RecognizeNewest(RecordLines& lines, int32_t& error) {
    buffer.BeginCall();
    return Recognize(s, lines, lines.Count(), buffer, state, error);
  }

  void Run(const std::vector<Step>& steps) {
    for (const Step& step : steps) {
      list.lines.push_back(step.line);
      list.carried.clear();
      int32_t error = 0;
      const Recognition r = RecognizeNewest(list, error);
      std::string got;
      switch (r.outcome) {
        case Recognition::kIncomplete: got = "4"; break;
        case Recognition::kNoRecord: got = "1"; break;
        case Recognition::kComplete: got = "rec:" + std::to_string(r.record_lines); break;
      }
      if (error != 0) got += "/" + std::to_string(error);
      if (!list.carried.empty()) got += "+carry";
      if (state.local_call_pending) got += " local";
      if (state.duty_call_pending) got += " duty";
      EXPECT_EQ(got, step.want) << "line \"" << step.line << '"';
      if (r.outcome == Recognition::kComplete) {
        EXPECT_EQ(list.Count(), r.record_lines);
      }
      if (r.outcome != Recognition::kIncomplete) {
        list.lines.clear();
        if (!list.carried.empty()) list.lines.push_back(list.carried);
      }
    }
  }

  void Marker(CheckEntry& e, uint8_t line, uint8_t col, std::string_view text) {
    e.line = line;
    e.column = col;
    e.text.assign(text);
  }

  DriverSettings s;
  ParserState state;
  RecordBuffer buffer;
  VectorLines list;
};

TEST_F(RecognitionTest, SingleLineRecords) {
  Marker(s.markers[0], 1, 3, "/");
  s.blank_columns[0] = {1, 1};
  Run({
      {"  /call one", "rec:1"},
      {"  x not a call", "1"},
      {"x /starts with a letter", "1"},  // SPC1 wants a blank in column 1
      {"  /call two", "rec:1"},
  });
}

TEST_F(RecognitionTest, ThreeLineRecordsAndContinuationCodes) {
  s.line_count = 3;
  Marker(s.markers[0], 1, 1, "C");
  Marker(s.markers[1], 2, 1, "2");
  Marker(s.markers[2], 3, 1, "3");
  s.blank_columns[1] = {3, 2};
  Run({
      {"C first", "4"},
      {"2 second", "4"},
      {"3 third", "rec:3"},
      {"C first", "4"},
      {"x second", "1/102"},
      {"C first", "4"},
      {"2 second", "4"},
      {"3xthird", "1/112"},  // SPC2 wants a blank in column 2 of line 3
  });
}

TEST_F(RecognitionTest, NewStartCarriesOverAndEndsTheBufferedRecord) {
  s.line_count = 2;
  Marker(s.markers[0], 1, 1, "C");
  Run({
      {"C one", "4"},
      {"C two", "rec:1+carry"},  // the single older line is assembled
      {"more", "rec:2"},          // the carried line and this one
  });
}

TEST_F(RecognitionTest, LocalCallEndsWithTheNextLine) {
  s.line_count = 2;
  Marker(s.markers[0], 1, 1, "C");
  s.local_calls = true;
  Marker(s.local_markers[0], 1, 1, "L");
  Run({
      {"L local", "4 local"},
      {"x anything", "rec:1+carry local"},  // line 1 still passes the local markers
  });
}

TEST_F(RecognitionTest, NormalStartClearsThePendingLocalCall) {
  s.line_count = 2;
  Marker(s.markers[0], 1, 1, "C");
  s.local_calls = true;
  Marker(s.local_markers[0], 1, 1, "L");
  Run({
      {"L local", "4 local"},
      {"C normal", "rec:1+carry"},  // assembled as a normal call
  });
}

TEST_F(RecognitionTest, DutyStartsRecordTheirMarkerCodes) {
  Marker(s.markers[0], 1, 1, "C");
  s.duty_calls = true;
  Marker(s.duty_markers[0], 1, 1, "D");
  Marker(s.duty_markers[1], 1, 2, "C");
  s.duty_blank_line = 1;
  s.duty_blank_column = 3;
  Run({
      {"DC 215", "rec:1 duty"},
      {"DX 215", "1/33"},
      {"X  215", "1/32"},
      {"DCx215", "1"},  // the blank column fails without a code
  });
}

TEST_F(RecognitionTest, ANonZeroCodeOnEntrySuppressesRecognitionCodes) {
  s.line_count = 2;
  Marker(s.markers[0], 1, 1, "C");
  Marker(s.markers[1], 2, 1, "2");
  list.lines = {"C first", "x second"};
  int32_t error = 7;
  EXPECT_EQ(RecognizeNewest(list, error).outcome, Recognition::kNoRecord);
  EXPECT_EQ(error, 7);
}

TEST_F(RecognitionTest, AListThatRefusesItsLinesGivesNoRecord) {
  class Refusing final : public RecordLines {
   public:
    int32_t Count() override { return 2; }
    bool Get(int32_t, std::string*) override { return false; }
    bool View(int32_t, std::string_view*) override { return false; }
    bool Delete(int32_t) override { return false; }
    void CarryOver(std::string_view) override {}
  } refusing;
  int32_t error = 0;
  EXPECT_EQ(RecognizeNewest(refusing, error).outcome, Recognition::kNoRecord);
}

}  // namespace
}  // namespace talvo
