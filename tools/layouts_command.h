// `talvo layouts`: the settings files for common PBX families that come with
// talvo, and `--layout NAME` wherever a settings file is taken.
//
// A layout is a settings file VENDOR-MODEL-VARIANT.ini in the layouts folder.
// Its opening comment block (the lines starting with ';' at the top of the
// file, up to the first other line) holds fields in a fixed form:
//
//   ; models: Panasonic KX-TDA30, KX-TDA100,
//   ;   KX-TDA200                      a line with two or more blanks after
//   ;                                  the ';' continues the field before it
//   ; lines-per-call: 1
//   ; pbx-options: ...
//   ; source: ...
//   ; cannot-express: ...
//   ; sample-today: 2026-03-15         optional
//
// A line of just ';' separates fields. Any other line in the block is a
// problem, so that the listing and the sample test can rely on the fields.
#ifndef TALVO_TOOLS_LAYOUTS_COMMAND_H_
#define TALVO_TOOLS_LAYOUTS_COMMAND_H_

#include <string>
#include <string_view>
#include <vector>

#include "platform/env.h"
#include "tools/output.h"

namespace CLI {
class App;
}

namespace talvo::tool {

// The date a layout's sample report is decoded on when its header names none.
inline constexpr LocalDate kDefaultSampleToday{2026, 3, 15};

// The fields of a layout file's opening comment block; each text is the
// field's lines joined by one blank.
struct LayoutHeader {
  std::string models;          // the PBX models the layout covers
  std::string lines_per_call;  // as written
  std::string pbx_options;     // the PBX settings that produce this report
  std::string source;          // the vendor's document, with page or section
  std::string cannot_express;  // what the settings lose, and the approximation chosen
  std::string sample_today;    // as written; empty when not given
  int lines = 0;               // lines_per_call as a number, 0 when it is not 1..6
  LocalDate today = kDefaultSampleToday;  // sample_today as a date
  // "line N: what is wrong", in file order; empty for a sound header.
  std::vector<std::string> problems;
};

// Reads the opening comment block of a layout file's text.
LayoutHeader ReadLayoutHeader(std::string_view content);

// The layouts folder: $TALVO_LAYOUTS when set and not empty; otherwise
// ../share/talvo/layouts beside the running binary, if it is a folder;
// otherwise the source tree's layouts folder, if it is a folder. Empty when
// none applies.
std::string FindLayoutsFolder();

// The names of the layouts in `folder` (its *.ini files without the
// extension), sorted. Throws IoError when the folder cannot be read.
std::vector<std::string> ListLayouts(const std::string& folder);

// The path of the layout `name` in the layouts folder. Throws IoError when
// there is no layouts folder or no layout of that name.
std::string LayoutPath(std::string_view name);

// `talvo layouts`: one row per layout (name, lines per call, models) to
// `out`; problems of a header go to `err` as warnings. Returns 0. Throws
// IoError.
int RunLayoutsList(Output& out, Output& err);

// `talvo layouts show NAME`: the layout file as it stands. Returns 0. Throws
// IoError.
int RunLayoutsShow(const std::string& name, Output& out);

// Adds `layouts` and `layouts show NAME` to the command line; `name` receives
// the layout to show. Returns the `layouts` command and sets `*show` to its
// `show` subcommand.
CLI::App* AddLayoutsCommand(CLI::App& app, std::string& name, CLI::App** show);

// Adds `--layout NAME` to `command` beside its settings-file option
// `settings_option` (an option name such as "--settings", or a positional's
// name): exactly one of the two must be given. The layout's path is stored in
// `settings`, the variable of the settings-file option.
void AddLayoutOption(CLI::App& command, const std::string& settings_option, std::string& settings);

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_LAYOUTS_COMMAND_H_
