// A report decoded as `talvo decode` decodes it, kept whole for the commands
// that show a report beside its settings (`talvo explain`, `talvo settings
// --sample`): the lines, the settings as the driver loaded them, and what
// became of every stretch of lines.
#ifndef TALVO_TOOLS_REPORT_RUN_H_
#define TALVO_TOOLS_REPORT_RUN_H_

#include <cstdint>
#include <limits>
#include <optional>
#include <string>
#include <vector>

#include "config/driver_settings.h"
#include "tools/field_spans.h"
#include "tools/host_session.h"
#include "tools/reject_reasons.h"

namespace talvo::tool {

// Lines that went into one record, or into no record together.
struct Stretch {
  LineSpan lines;
  bool is_record = false;
  RecordKind record_kind = RecordKind::kOutgoing;  // is_record
  RejectKind reject_kind = RejectKind::kRejected;  // !is_record
  int32_t error_code = 0;
  RejectExplanation why;  // !is_record: the reason, as talvo decode words it
  std::string reason;     // !is_record: the reason with the field's text and columns
  std::string dump;       // the record's canonical dump; for a rejected call that went through
                          // assembly, the fields it filled; else empty
};

struct ReportRun {
  DriverSettings settings;
  std::vector<std::string> lines;  // report line k is lines[k - 1]
  std::vector<Stretch> stretches;  // in the order the driver settled them
};

// The layout of call a line starts (RejectExplainer::KindStartedBy);
// nothing for a line that starts none.
std::optional<CallLayout> StartedLayout(RejectExplainer::CallKind kind);

// The lines of the report `report` ("-": standard input), at most
// `last_line` of them, without their ends. Throws IoError.
std::vector<std::string> ReadReportLines(const std::string& report,
                                         uint64_t last_line = std::numeric_limits<uint64_t>::max());

// Decodes the report `report` ("-": standard input) with the settings file
// `settings`, reading at most `last_line` lines. Throws IoError when a file
// cannot be read.
ReportRun RunReport(const std::string& settings, const std::string& report,
                    uint64_t last_line = std::numeric_limits<uint64_t>::max());

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_REPORT_RUN_H_
