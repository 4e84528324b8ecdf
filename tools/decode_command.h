// `talvo decode`: feeds report lines to the driver through its exports, as a
// host does, and writes one row per call record. Every input line ends up in
// a record or in a reject row; a summary on standard error counts them.
#ifndef TALVO_TOOLS_DECODE_COMMAND_H_
#define TALVO_TOOLS_DECODE_COMMAND_H_

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include <memory>

#include "platform/env.h"
#include "tools/files.h"
#include "tools/host_session.h"
#include "tools/output.h"
#include "tools/record_rows.h"

namespace talvo::tool {

struct DecodeOptions {
  std::string settings;             // the settings file (section "pbx")
  std::string table;                // conversion table; empty: QUORCNVT.INT of the current directory
  std::vector<std::string> inputs;  // report files, "-" for standard input; none: standard input
  RowFormat format = RowFormat::kCsv;
  std::string output;               // empty: standard output
  std::string rejects;              // empty: none (standard error gets readable lines only)
  bool with_skipped = false;        // the reject file lists the skipped lines too
  bool follow = false;              // keep reading the last input as it grows
  int poll_ms = 200;
  bool trace = false;               // every line's result and every record's dump on standard error
  bool strict = false;              // exit 1 when any line was rejected or the settings have warnings
  bool line_numbers = false;        // add input, first_line, last_line to the record rows
  bool quiet = false;               // no summary
  // The day yearless and day-of-year dates are resolved against; none: the
  // system's clock.
  std::optional<LocalDate> today;
  std::string state;                // with --follow: where the run is kept (--state)
};

// A date written YYYY-MM-DD within 1990-01-01..2089-12-31, the years a
// two-digit year can stand for; nothing for any other text.
std::optional<LocalDate> ParseIsoDay(std::string_view text);

// At most this many rejected stretches are told on standard error; the
// reject file lists them all.
inline constexpr uint64_t kReadableRejectLimit = 20;

// The longest settings file name the driver takes; a longer name reaches it
// through a copy of the file under a short name.
inline constexpr std::size_t kDriverNameLimit = 80;

// A session on `env` with the settings file `settings` (whose content is
// `settings_bytes`) loaded. The driver takes names of at most
// kDriverNameLimit characters: a longer one reaches it through a copy of the
// file under a short name in `temp`. Throws IoError.
std::unique_ptr<HostSession> OpenSession(Env& env, const std::string& settings, const std::string& settings_bytes,
                                         LazyTempDir& temp);

// Runs the decode; returns the exit code (0; 1 under strict; 2 when an input
// could not be read to its end or the run was interrupted, and then no output
// file is replaced). `err` receives warnings, one readable line per rejected
// stretch (at most kReadableRejectLimit), the trace and the summary. Throws
// IoError when a file needed before the first line (settings, table, an
// input, an output) cannot be used, or when an output would overwrite another
// output or an input.
int RunDecode(const DecodeOptions& options, Output& err);

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_DECODE_COMMAND_H_
