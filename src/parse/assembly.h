// Record assembly: decodes a complete record's fields in their fixed order
// into the working record, classifies the call and appends it.
#ifndef TALVO_PARSE_ASSEMBLY_H_
#define TALVO_PARSE_ASSEMBLY_H_

#include <cstdint>

#include "config/driver_settings.h"
#include "convert/conversion_table.h"
#include "parse/layout_plan.h"
#include "parse/parser_state.h"
#include "parse/record_buffer.h"
#include "parse/record_lines.h"
#include "platform/env.h"

namespace talvo {

// Assembles the record held in `lines`; returns a TALVO_RESULT_* value. `env`
// gives today's date to dates printed without a year; an outgoing call is
// re-charged by `conversion_table` (none when null). A normal call is
// decoded as `plan` (compiled from `s`) says when there is one, by the
// general steps when `plan` is null: the same record, result and codes.
// REQUIRES: out.records points at TALVO_RECORD_ENTRIES records.
int32_t AssembleRecord(const DriverSettings& s, const LayoutPlan* plan, const RecordBuffer& lines,
                       ParserState& state, Env& env, const ConversionTable* conversion_table, LineOutputs& out);

}  // namespace talvo

#endif  // TALVO_PARSE_ASSEMBLY_H_
