// `talvo settings FILE`: what the driver will make of a settings file. Every
// key of section "pbx" in the order the driver reads it, with its text as
// read and the value the driver uses after its rule; the call's line count and
// time layout in words; and warnings about likely mistakes.
//
// This is the one place where the tool reaches past the exports: it loads
// the settings with the core's own loader, so the report cannot drift from
// what DrvInitDriver does.
#ifndef TALVO_TOOLS_SETTINGS_REPORT_H_
#define TALVO_TOOLS_SETTINGS_REPORT_H_

#include <string>
#include <string_view>
#include <vector>

#include "tools/output.h"

namespace talvo::tool {

// The keys of the first section named `section` (letter case ignored) of a
// settings file's text, in file order, as the profile reader finds them:
// lines end at CR or LF, blanks around a line are ignored, ';' starts a
// comment line, a key line is "key=value". A UTF-16LE text (FF FE first) is
// read by the low byte of each character.
struct SectionKeys {
  bool found = false;
  std::vector<std::string> keys;
};
SectionKeys ListSectionKeys(std::string_view content, std::string_view section);

// Every key the driver reads from section "pbx", in its order of reading.
std::vector<std::string> KnownSettingsKeys();

// The warnings the report on `file` ends with, in the same order. Throws
// IoError when the file cannot be read.
std::vector<std::string> SettingsWarnings(const std::string& file);

// Writes each of SettingsWarnings(file) once to `err`, as "talvo: warning:
// FILE: ...", and returns how many there were.
std::size_t WriteSettingsWarnings(const std::string& file, Output& err);

// Writes the report on `file` to `out`; returns the number of warnings.
// Throws IoError when the file cannot be read.
int WriteSettingsReport(const std::string& file, Output& out);

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_SETTINGS_REPORT_H_
