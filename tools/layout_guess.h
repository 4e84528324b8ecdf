// `talvo layout guess`: proposes a settings file from a sample report alone.
//
// The lines that start calls are found by the columns of their first date
// and time of day; markers are the punctuation that stands at the same
// column on nine in ten of them. The lines that follow a call line until the
// next one, when they recur with a text of their own, make the call's further
// lines. On each line of a call, the columns that are blank on every line
// split it into fields, and each field is placed by the shape of what it
// holds (a date, a time, a duration, digits that repeat, digits that count
// up, long digit runs, a letter or two) and by the column titles above it
// when the report prints them. Lines of another shape that start with a word
// such as LOCAL or DUTY are taken as local and duty calls.
//
// Nothing is guessed silently: every key comes with its evidence and a
// confidence, and the fields it could not place are listed, in the file and
// on standard error.
#ifndef TALVO_TOOLS_LAYOUT_GUESS_H_
#define TALVO_TOOLS_LAYOUT_GUESS_H_

#include <string>
#include <vector>

#include "tools/output.h"

namespace CLI {
class App;
}

namespace talvo::tool {

struct LayoutGuess {
  bool placed = false;             // a shape of call line was found; nothing else holds without it
  std::string settings;            // the commented settings file
  std::vector<std::string> doubts;  // what it is unsure of or could not place, one line each
};

// Guesses the settings of the report whose lines are `lines`; `source` names
// it in the file's heading.
LayoutGuess GuessLayout(const std::vector<std::string>& lines, const std::string& source);

struct GuessOptions {
  std::string report;  // "-": standard input
  std::string output;  // empty: standard output
};

// Adds `layout guess REPORT [-o FILE]`; returns the `guess` command.
CLI::App* AddLayoutGuessCommand(CLI::App& app, GuessOptions& options);

// Writes the guessed settings; the doubts go to `err`. Returns 0, or 1 when
// no call line could be placed (nothing is written then). Throws IoError.
int RunLayoutGuess(const GuessOptions& options, Output& out, Output& err);

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_LAYOUT_GUESS_H_
