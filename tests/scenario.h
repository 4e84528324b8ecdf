// Scenario files: a settings file, the report lines as the host hands them,
// and the expected outcome of every DrvProcessLine call.
//
//   # Why the case exists (any number of comment lines).
//   @today 2026-03-15          the local date (default 2026-03-15)
//   @table 0521=300            a conversion-table entry (one per line, in order)
//   [pbx]                      the settings file, verbatim, up to [report]
//   EXT_POS=1
//   [report]
//   > a report line            one line handed to the driver; a final '|' is
//                              dropped, so trailing blanks can be shown
//   < 2 err=0                  the result, the error code, " carry" when the
//                              line was carried over to the next record
//   = ext=215 ...              after result 2 or 5: the working record's dump
//   @count 20                  RecordCount on entry to the next new record; the
//                              next "<" line then also shows " count=N"
//   @error 7                   ErrorCode passed in on the next call
#ifndef TALVO_TESTS_SCENARIO_H_
#define TALVO_TESTS_SCENARIO_H_

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/env.h"

namespace talvo::testing {

struct ScenarioStep {
  int line_number = 0;  // in the scenario file
  std::string input;
  std::string want_outcome;
  std::optional<std::string> want_dump;
  std::optional<int32_t> count_on_entry;
  std::optional<int32_t> error_on_entry;
};

struct Scenario {
  std::string name;
  LocalDate today{2026, 3, 15};
  std::vector<std::pair<std::string, std::string>> table;  // prefix, extension
  std::string settings;
  std::vector<ScenarioStep> steps;
};

// Parses a scenario file's text; throws std::runtime_error naming the line
// of a malformed scenario.
Scenario ParseScenario(const std::string& name, const std::string& text);

// The bytes of a QUORCNVT.INT file with these entries, keys padded to 16.
std::string BuildConversionTable(const std::vector<std::pair<std::string, std::string>>& entries);

}  // namespace talvo::testing

#endif  // TALVO_TESTS_SCENARIO_H_
