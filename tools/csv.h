// Comma-separated values as RFC 4180 writes them: a field holding a comma, a
// quote, CR or LF is enclosed in quotes, and a quote inside it is doubled.
// Rows end with LF. Bytes are written as they are; no code page is involved.
#ifndef TALVO_TOOLS_CSV_H_
#define TALVO_TOOLS_CSV_H_

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace talvo::tool {

// Appends `field` to `out`, quoted iff it needs quotes.
void AppendCsvField(std::string& out, std::string_view field);

// The most bytes WriteCsvField writes for a field of `n` bytes.
constexpr std::size_t CsvFieldMaxSize(std::size_t n) { return 2 * n + 2; }

namespace csv_internal {
// `field` in quotes, its quotes doubled.
char* WriteQuotedCsvField(char* dest, std::string_view field);
}  // namespace csv_internal

// Writes `field` at `dest` as AppendCsvField appends it; returns the end.
// REQUIRES: room for CsvFieldMaxSize(field.size()) bytes at `dest`.
// (Inline: a record row has a dozen fields, nearly all needing no quotes.)
inline char* WriteCsvField(char* dest, std::string_view field) {
  // Copied as it stands until a byte turns out to need quotes.
  char* p = dest;
  for (char c : field) {
    if (c == ',' || c == '"' || c == '\r' || c == '\n') return csv_internal::WriteQuotedCsvField(dest, field);
    *p++ = c;
  }
  return p;
}

// A malformed CSV text; `line` is the 1-based line where the row starts.
class CsvError : public std::runtime_error {
 public:
  CsvError(std::size_t line, const std::string& message)
      : std::runtime_error(message), line_(line) {}
  std::size_t line() const { return line_; }

 private:
  std::size_t line_;
};

struct CsvRow {
  std::size_t line = 0;  // 1-based line where the row starts
  std::vector<std::string> fields;
  // True iff the row's line is empty or holds only blanks (no field at all).
  bool blank() const;
};

// Reads the rows of a CSV text. Lines may end with LF, CRLF or CR, and the
// last one needs no end. A quoted field may hold commas, quotes (doubled) and
// line ends.
class CsvReader {
 public:
  explicit CsvReader(std::string_view text) : text_(text) {}
  // Reads the next row into `row`; false at the end of the text. Throws
  // CsvError for a quote that is never closed or text after a closing quote.
  bool Next(CsvRow& row);

 private:
  // Consumes a line end at pos_ (LF, CR or CRLF); true iff there was one.
  bool SkipLineEnd();
  std::string_view text_;
  std::size_t pos_ = 0;
  std::size_t line_ = 1;
};

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_CSV_H_
