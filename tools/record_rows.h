// The rows `talvo decode` writes: one per call record, one per stretch of
// lines that went into no record. CSV (a header row, then RFC 4180 rows) or
// JSON Lines (one object per line).
//
// Record columns: date (YYYY-MM-DD), start (HH:MM:SS), duration and ring
// (seconds), kind, extension, second_extension, number, trunk_group, trunk,
// account, code, pulses, index, flags; with line numbers also input,
// first_line and last_line.
//
// Reject columns: input, first_line, last_line, status, error, reason, text.
#ifndef TALVO_TOOLS_RECORD_ROWS_H_
#define TALVO_TOOLS_RECORD_ROWS_H_

#include <algorithm>
#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <string>
#include <string_view>
#include <vector>

#include "tools/host_session.h"
#include "tools/output.h"

namespace talvo::tool {

enum class RowFormat { kCsv, kJsonl };

// The meaning of a driver error code, from the header's table;
// "unknown error code" for a code the table does not hold.
std::string_view ErrorWords(int32_t code);

// True iff `code` is one the driver records for a test that did not match
// without rejecting the record (32..35, 42..45): beside result 1 it may not
// be the cause of the rejection.
bool IsNonRejectingTest(int32_t code);

// ErrorWords(code) with that caution added, for codes IsNonRejectingTest.
std::string_view NonRejectingReason(int32_t code);

// The meaning of a DrvProcessLine result: "no record", "record",
// "incomplete", "duty call"; "unknown result" otherwise.
std::string_view ResultWords(int32_t result);

// Appends the call date YYMMDD as YYYY-MM-DD, two-digit years 00..89 read as
// 2000..2089 and 90..99 as 1990..1999. Any text that is not six digits
// (an empty date, a date field the report lacks) is appended unchanged.
void AppendIsoDate(std::string& out, std::string_view yymmdd);

// The characters of a text field of the record (Extension, Number, ...).
template <typename T>
std::string_view RecordFieldText(const T& field) {
  return std::string_view(field.chars, std::min<std::size_t>(field.length, sizeof field.chars));
}

// Appends the record's start time HH:MM:SS.
void AppendStartTime(std::string& out, const CallRecord& record);

// Appends the flags that the kind does not already say, as words joined by
// `separator` in this order: private, converted, foreign,
// originating-extension.
void AppendFlagWords(std::string& out, uint32_t flags, char separator);

// Appends `text` cut to `limit` bytes ("..." marks a cut) with every byte
// outside ' '..'~' and the backslash written as \xNN.
void AppendVisible(std::string& out, std::string_view text, std::size_t limit);

// Appends `text` cut to `limit` bytes ("..." marks a cut) for a person to
// read, one column per byte: control bytes (0x00..0x1F, 0x7F..0x9F) become
// a middle dot, bytes 0xA0..0xFF are read as Latin-1; all written as UTF-8.
void AppendReadable(std::string& out, std::string_view text, std::size_t limit);

// Texts written as CSV fields or JSON strings once, for texts that come back
// row after row: an input's name, a reject's reason.
class FieldCache {
 public:
  explicit FieldCache(RowFormat format) : format_(format) {}
  // `text` as a field of the format; valid until the next call.
  std::string_view Field(std::string_view text);

 private:
  // Texts beyond this many are written afresh every time.
  static constexpr std::size_t kMostTexts = 64;
  RowFormat format_;
  std::map<std::string, std::string, std::less<>> fields_;
  bool has_last_ = false;  // the text of the last call, and its field: kept in fields_
  std::string_view last_text_;
  std::string_view last_field_;
  std::string spare_;  // a field not kept
};

// A row is written whole into a buffer of the writer's, then appended to the
// output.
class RecordWriter {
 public:
  RecordWriter(Output& out, RowFormat format, bool line_numbers)
      : out_(out), format_(format), line_numbers_(line_numbers), inputs_(format) {}
  // The CSV header row; nothing for JSON Lines.
  void Header();
  void Write(const DecodedRecord& record, std::string_view input);

 private:
  Output& out_;
  RowFormat format_;
  bool line_numbers_;
  FieldCache inputs_;
  std::vector<char> row_;
  // The call date of the last row with a YYMMDD date, and its YYYY-MM-DD.
  bool has_last_date_ = false;
  std::array<char, 6> last_date_{};
  std::array<char, 10> last_iso_{};
};

class RejectWriter {
 public:
  RejectWriter(Output& out, RowFormat format) : out_(out), format_(format), inputs_(format), reasons_(format) {}
  void Header();
  // Writes the row with `reason`, or with Reason(reject) when it is empty.
  void Write(const Reject& reject, std::string_view input, std::string_view reason = {});

  // The status and reason words of a reject.
  static std::string_view StatusWord(RejectKind kind);
  static std::string_view Reason(const Reject& reject);

 private:
  Output& out_;
  RowFormat format_;
  FieldCache inputs_;
  FieldCache reasons_;
  std::vector<char> row_;
};

// Longest part of a line written into a reject row.
inline constexpr std::size_t kRejectTextLimit = 200;

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_RECORD_ROWS_H_
