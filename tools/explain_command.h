// `talvo explain`: a report line by line beside its settings. Each line under
// a column ruler; beneath it the span of every key that reads on that line of
// the call, with the text found there; every marker and blank column, matched
// or not; and for each stretch of lines what the driver made of it: the
// record, or the step that refused it with its line, columns and text and the
// error code in words.
#ifndef TALVO_TOOLS_EXPLAIN_COMMAND_H_
#define TALVO_TOOLS_EXPLAIN_COMMAND_H_

#include <cstdint>
#include <string>

#include "tools/output.h"

namespace CLI {
class App;
}

namespace talvo::tool {

struct ExplainOptions {
  std::string settings;  // the settings file (or a layout's)
  std::string report;    // "-": standard input
  uint64_t first_line = 1;
  uint64_t last_line = UINT64_MAX;
  bool colour = false;   // ANSI colours for matched and failed tests (set by RunExplain: standard
                         // output is a terminal and NO_COLOR is not set)
};

// Adds `explain` to the command line, filling `options`.
CLI::App* AddExplainCommand(CLI::App& app, ExplainOptions& options);

// Writes the explanation to `out`, which is standard output; returns 0.
// Throws IoError.
int RunExplain(const ExplainOptions& options, Output& out);

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_EXPLAIN_COMMAND_H_
