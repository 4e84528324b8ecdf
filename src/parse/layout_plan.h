// A layout compiled from a handle's settings when they are loaded.
//
// The general decoder asks, on every record, which of the 87 settings are
// configured, on which line each field stands and whether that line is
// buffered. The plan answers what can be answered once: it keeps the marker
// tests that are configured, with their texts and lines, the list of steps
// that can change anything under these settings, TG_BASE as a number, and
// the offsets of the fields its quick steps read (dates, times, ring times
// and trunks printed in their usual forms). A field in any other form is
// read by the general step, so plan and general path give the same record.
//
// A layout that prints a call on one line gains more: a line that starts a
// normal record is recognised by the compiled markers and decoded where the
// host holds it, without being copied.
#ifndef TALVO_PARSE_LAYOUT_PLAN_H_
#define TALVO_PARSE_LAYOUT_PLAN_H_

#include <algorithm>
#include <array>
#include <bit>
#include <cstring>
#include <cstdint>
#include <string_view>

#include "config/driver_settings.h"
#include "parse/record_buffer.h"

namespace talvo {

class LayoutPlan {
 public:
  // One configured marker test: `length` bytes of `text` at 0-based `offset`
  // of record line `line`.
  struct Marker {
    uint8_t line = 1;
    uint16_t offset = 0;
    uint8_t length = 0;
    std::array<char, 10> text{};
    uint64_t head = 0;       // the text's first eight bytes as a line holds them, lowest first
    uint64_t head_mask = 0;  // the bytes of `head` that the text has
    // Fills head and head_mask from text and length.
    void Seal() {
      head = 0;
      head_mask = 0;
      for (uint8_t i = 0; i < length && i < 8; ++i) {
        head |= uint64_t{static_cast<unsigned char>(text[i])} << (8 * i);
        head_mask |= uint64_t{0xFF} << (8 * i);
      }
    }
    bool Matches(std::string_view text_line) const {
      if (std::size_t{offset} + length > text_line.size()) return false;
      for (uint8_t i = 0; i < length; ++i) {
        if (text_line[offset + i] != text[i]) return false;
      }
      return true;
    }
    // As Matches, eight bytes at once where the line has them: for the
    // longer texts that mark the further lines of a call.
    bool MatchesByWord(std::string_view text_line) const {
      if (std::size_t{offset} + length > text_line.size()) return false;
      uint8_t i = 0;
      if (std::endian::native == std::endian::little && std::size_t{offset} + 8 <= text_line.size()) {
        uint64_t word;
        std::memcpy(&word, text_line.data() + offset, sizeof word);
        if (((word ^ head) & head_mask) != 0) return false;
        i = 8;
      }
      for (; i < length; ++i) {
        if (text_line[offset + i] != text[i]) return false;
      }
      return true;
    }
  };

  // Bytes that must stand at fixed offsets of one line: the markers' texts
  // and the blank columns, tested with one length check.
  struct FixedBytes {
    struct Byte {
      uint16_t offset = 0;
      char value = 0;
    };
    std::array<Byte, 66> bytes{};  // six markers of ten characters and six blanks
    uint8_t count = 0;
    uint16_t needs = 0;  // the shortest line that holds them all
    void Add(uint16_t offset, char value) {
      bytes[count++] = Byte{offset, value};
      needs = std::max<uint16_t>(needs, static_cast<uint16_t>(offset + 1));
    }
    bool HeldBy(std::string_view line) const {
      if (line.size() < needs) return false;
      for (uint8_t i = 0; i < count; ++i) {
        if (line[bytes[i].offset] != bytes[i].value) return false;
      }
      return true;
    }
  };

  // Marker tests that record a code: the first that fails records its code
  // (when no code is recorded yet; 0 records nothing) and ends the test.
  struct CodedTests {
    struct Test {
      Marker marker;
      int32_t code = 0;
    };
    std::array<Test, 12> tests{};  // six markers and six blank columns
    uint8_t count = 0;
    bool Pass(std::string_view line, int32_t& error_code) const {
      for (uint8_t i = 0; i < count; ++i) {
        if (!tests[i].marker.MatchesByWord(line)) {
          if (error_code == 0) error_code = tests[i].code;
          return false;
        }
      }
      return true;
    }
  };

  static LayoutPlan Compile(const DriverSettings& s);

  // True iff every position of the settings names line 1.
  bool one_line() const { return one_line_; }

  // True iff `line` starts a normal record: every configured marker of line 1
  // matching and every blank column of line 1 holding a blank.
  bool StartsNormalRecord(std::string_view line) const { return start_bytes_.HeldBy(line); }

  // For a one-line layout, what a line that starts no normal record starts
  // as recognition decides it: a local call (LOCAL_CALLS and its markers),
  // else a duty call (DUTY_CALL, its markers recording 31 + n as they fail,
  // and its blank column), else nothing.
  enum class OtherStart : uint8_t { kNone, kLocal, kDuty };
  OtherStart StartsOtherRecord(std::string_view line, int32_t& error_code) const;

  // False when a marker names a line beyond 6: recognition then tests the
  // settings themselves.
  bool recognition_compiled() const { return recognition_compiled_; }

  // The tests of recognition, compiled; each as recognition makes it, codes
  // included. Line `n` of a record is 1-based; past line 6 nothing is tested.
  // A local call starts by the local markers of line 1 on the record's first line.
  bool StartsLocalRecord(std::string_view first) const { return local_bytes_[0].HeldBy(first); }
  // A duty call starts by the duty markers of line 1 on the first line and the
  // blank column of line 1 on the newest.
  bool StartsDutyRecord(std::string_view first, std::string_view newest, int32_t& error_code) const {
    return StartsDutyMarkers(first, error_code) && DutyBlankHeld(newest, 1);
  }
  bool StartsDutyMarkers(std::string_view first, int32_t& error_code) const {
    return duty_tests_[0].Pass(first, error_code);
  }
  // The duty blank column, when it is on line `n`, holds a blank.
  bool DutyBlankHeld(std::string_view line, int32_t n) const {
    return duty_blank_line_ != n || (duty_blank_offset_ < line.size() && line[duty_blank_offset_] == ' ');
  }
  // Report lines per call: the highest line any position of the settings names.
  uint8_t line_count() const { return line_count_; }
  // Line `n` (2 or more) continues a normal, a local or a duty call.
  bool ContinuesNormalRecord(std::string_view newest, int32_t n, int32_t& error_code) const {
    return n > 6 || normal_tests_[static_cast<std::size_t>(n - 1)].Pass(newest, error_code);
  }
  bool ContinuesLocalRecord(std::string_view newest, int32_t n) const {
    return n > 6 || local_bytes_[static_cast<std::size_t>(n - 1)].HeldBy(newest);
  }
  bool ContinuesDutyRecord(std::string_view newest, int32_t n, int32_t& error_code) const {
    if (n > 6) return true;
    return duty_tests_[static_cast<std::size_t>(n - 1)].Pass(newest, error_code) && DutyBlankHeld(newest, n);
  }
  bool local_calls() const { return local_calls_; }
  bool duty_calls() const { return duty_calls_; }

  // The incoming-call test: IN_CALLS, then every configured marker whose
  // line is buffered.
  bool IncomingCall(const RecordBuffer& lines) const;

  // The private-call test and its codes: PRV_CALLS, then each entry whose
  // line is buffered in turn, the first that fails (or PRV_CALLS=N) recording
  // 42 + its number.
  bool PrivateCall(const RecordBuffer& lines, int32_t& error_code) const;

  // The steps of a normal call that can change anything under the settings.
  // The others read an unconfigured field and leave everything as it was.
  struct Steps {
    bool date = false;
    bool dialled = false;
    bool caller = false;
    bool times = false;
    bool index = false;
    bool pulses = false;
    bool account = false;
    bool originating = false;
    bool code = false;
    bool disa = false;
  };
  const Steps& steps() const { return steps_; }

  // A field of two characters that a quick step reads at a fixed offset.
  struct TwoCharacters {
    bool printed = false;  // false: the field is not in the report and reads as 0
    uint16_t offset = 0;
  };
  // The start time and duration of layout 1 without AM/PM or DATE_END, every
  // part two characters wide.
  struct QuickTimes {
    bool usable = false;
    uint8_t start_line = 1, duration_line = 1;
    // The shortest start and duration lines that hold every printed part.
    uint16_t start_needs = 0, duration_needs = 0;
    // All three parts printed as HH?MM?SS: read in one go.
    bool start_clock = false, duration_clock = false;
    TwoCharacters hour, minute, second, duration_hours, duration_minutes, duration_seconds;
  };
  const QuickTimes& quick_times() const { return quick_times_; }
  // The ring time, both parts two characters wide (or not printed).
  struct QuickRing {
    bool usable = false;
    uint8_t line = 1;
    uint16_t line_needs = 0;  // the shortest line that holds both parts
    TwoCharacters minutes, seconds;
  };
  const QuickRing& quick_ring() const { return quick_ring_; }
  // The date with its year printed: offsets of year, month and day.
  struct QuickDate {
    bool usable = false;
    uint8_t line = 1;
    uint16_t year = 0, month = 0, day = 0;
    uint16_t line_needs = 0;  // the shortest line that holds all three
  };
  const QuickDate& quick_date() const { return quick_date_; }

  // TG_BASE as the trunk group's step adds it: nothing (empty), a plain
  // number, or anything else (text, or a base that is no plain number),
  // which the step reads as the general path does.
  enum class TrunkGroupBase : uint8_t { kNone, kNumber, kOther };
  TrunkGroupBase trunk_group_base() const { return trunk_group_base_; }
  uint32_t trunk_group_base_value() const { return trunk_group_base_value_; }

 private:
  bool one_line_ = false;
  FixedBytes start_bytes_;  // line 1's markers and blank columns
  uint8_t line_count_ = 1;
  bool recognition_compiled_ = true;
  std::array<CodedTests, 6> normal_tests_{};  // by line; line 1's are start_bytes_
  bool local_calls_ = false;
  std::array<FixedBytes, 6> local_bytes_{};  // the local markers, by line
  bool duty_calls_ = false;
  std::array<CodedTests, 6> duty_tests_{};  // the duty markers, by line
  int32_t duty_blank_line_ = 0;             // 0: no blank column
  uint16_t duty_blank_offset_ = 0;
  bool incoming_calls_ = false;
  bool incoming_on_line_one_ = true;  // every configured marker on line 1
  FixedBytes incoming_bytes_;         // then these are the markers
  std::array<Marker, 4> incoming_markers_{};
  uint8_t incoming_marker_count_ = 0;
  bool private_calls_ = false;
  std::array<Marker, 4> private_markers_{};  // each entry, with its line
  std::array<bool, 4> private_configured_{};
  Steps steps_;
  QuickTimes quick_times_;
  QuickRing quick_ring_;
  QuickDate quick_date_;
  TrunkGroupBase trunk_group_base_ = TrunkGroupBase::kNone;
  uint32_t trunk_group_base_value_ = 0;
};

}  // namespace talvo

#endif  // TALVO_PARSE_LAYOUT_PLAN_H_
