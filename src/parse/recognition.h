// Record recognition: does the newest buffered line start a record, continue
// the record in progress, or break it off; and is the record a normal, local
// or duty call.
#ifndef TALVO_PARSE_RECOGNITION_H_
#define TALVO_PARSE_RECOGNITION_H_

#include <cstdint>

#include "config/driver_settings.h"
#include "parse/layout_plan.h"
#include "parse/parser_state.h"
#include "parse/record_buffer.h"
#include "parse/record_lines.h"

namespace talvo {

struct Recognition {
  enum Outcome {
    kNoRecord,    // result 1: the lines do not start a record, or a continuation failed
    kIncomplete,  // result 4: a valid beginning; the host appends the next line
    kComplete,    // the first `record_lines` lines of the list form a record
  };
  Outcome outcome = kNoRecord;
  int32_t record_lines = 0;
};

// Judges the newest line of `lines`, which holds `n` lines (lines.Count()). When it starts the next record while
// older lines are buffered, hands it to the host as the carried-over line and
// deletes it from the list. Sets local_call_pending and duty_call_pending, and
// record_ok to true. Records marker codes (32..35, 101..106, 111..116) only
// while `error_code` is 0. A list that refuses a line gives kNoRecord. Reads
// the lines it looks at through `buffer` (after buffer.BeginCall()), where
// loading the record then finds them copied.
Recognition Recognize(const DriverSettings& s, RecordLines& lines, int32_t n, RecordBuffer& buffer,
                      ParserState& state, int32_t& error_code);

// Recognize by a plan's compiled tests, with the same outcome, state and
// codes for a list that gives every line it counts. (A list that refuses its
// first line while the newest starts a record: Recognize gives no record, as
// it reads the first line before its tests; this carries the newest over.)
// `newest` is the host's text of line n - 1 (0-based), valid until the next
// call on the list; nothing is copied. `first`, when not null, is a copy of
// line 0 kept from an earlier call of the same record (the host keeps a
// record's lines unchanged while it is incomplete), and the list is not asked
// for it. REQUIRES: plan.recognition_compiled(), n >= 1.
Recognition RecognizePlanned(const LayoutPlan& plan, RecordLines& lines, int32_t n, std::string_view newest,
                             const std::string_view* first, ParserState& state, int32_t& error_code);

}  // namespace talvo

#endif  // TALVO_PARSE_RECOGNITION_H_
