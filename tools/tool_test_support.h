// Helpers for the tests that run the built talvo binary.
#ifndef TALVO_TOOLS_TOOL_TEST_SUPPORT_H_
#define TALVO_TOOLS_TOOL_TEST_SUPPORT_H_

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/csv.h"

namespace talvo::tool::testing {

struct RunResult {
  int exit_code = -1;
  std::string out;
  std::string err;
};

// Runs talvo with `args`, feeding `input` on standard input, in directory
// `cwd` (a new empty one when not given). A decode's summary is checked with
// ExpectTallyAddsUp.
RunResult RunTool(const std::vector<std::string>& args, std::string_view input = {},
                  const std::string& cwd = {});

// When `err` holds a decode summary, expects its first line to add up: lines
// read = lines in records + rejected + skipped. Returns the four numbers, or
// nothing without a summary.
struct Tally {
  uint64_t read = 0, in_records = 0, rejected = 0, skipped = 0;
};
std::optional<Tally> ExpectTallyAddsUp(std::string_view err);

// A path under tools/testdata.
std::string TestData(std::string_view name);

// A directory of the test's own, removed with everything in it.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;
  const std::string& path() const { return path_; }
  // Writes `bytes` to `name` in the directory; returns its path.
  std::string Write(const std::string& name, std::string_view bytes) const;
  std::string Read(const std::string& name) const;

 private:
  std::string path_;
};

// The rows of a CSV text, fields only (the header is row 0).
std::vector<std::vector<std::string>> CsvRows(std::string_view text);

// The rows of `text` (header included) whose field `column` equals `value`.
std::vector<std::vector<std::string>> RowsWhere(std::string_view text, std::size_t column, std::string_view value);

// Number of lines in `bytes` as the tool counts them (LF, CRLF or CR end a
// line; a last line without an end counts).
std::size_t CountLines(std::string_view bytes);

}  // namespace talvo::tool::testing

#endif  // TALVO_TOOLS_TOOL_TEST_SUPPORT_H_
