// `talvo decode`: feeds report lines to the driver through its exports, as a
// host does, and writes one row per call record. Every input line ends up in
// a record or in a reject row; a summary on standard error counts them.
#ifndef TALVO_TOOLS_DECODE_COMMAND_H_
#define TALVO_TOOLS_DECODE_COMMAND_H_

#include <string>
#include <vector>

#include "tools/output.h"
#include "tools/record_rows.h"

namespace talvo::tool {

struct DecodeOptions {
  std::string settings;             // the settings file (section "pbx")
  std::string table;                // conversion table; empty: QUORCNVT.INT of the current directory
  std::vector<std::string> inputs;  // report files, "-" for standard input; none: standard input
  RowFormat format = RowFormat::kCsv;
  std::string output;               // empty: standard output
  std::string rejects;              // empty: standard error
  bool follow = false;              // keep reading the last input as it grows
  int poll_ms = 200;
  bool trace = false;               // every line's result and every record's dump on standard error
  bool strict = false;              // exit 1 when any line went into no record
  bool line_numbers = false;        // add input, first_line, last_line to the record rows
  bool quiet = false;               // no summary
};

// The longest settings file name the driver takes; a longer name reaches it
// through a copy of the file under a short name.
inline constexpr std::size_t kDriverNameLimit = 80;

// Runs the decode; returns the exit code (0, 1 under strict, 2 when an input
// could not be read to its end). `err` receives messages, the trace, the
// summary and, by default, the reject rows. Throws IoError when a file needed
// before the first line (settings, table, an input, an output) cannot be used.
int RunDecode(const DecodeOptions& options, Output& err);

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_DECODE_COMMAND_H_
