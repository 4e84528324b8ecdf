// Record assembly: decodes a complete record's fields in their fixed order
// into the working record, classifies the call and appends it.
#ifndef TALVO_PARSE_ASSEMBLY_H_
#define TALVO_PARSE_ASSEMBLY_H_

#include <cstdint>

#include "config/driver_settings.h"
#include "convert/conversion_table.h"
#include "parse/one_line_plan.h"
#include "parse/parser_state.h"
#include "parse/record_buffer.h"
#include "parse/record_lines.h"
#include "platform/env.h"

namespace talvo {

// Assembles the record held in `lines`; returns a TALVO_RESULT_* value. `env`
// gives today's date to dates printed without a year; an outgoing call is
// re-charged by `conversion_table` (none when null).
// REQUIRES: out.records points at TALVO_RECORD_ENTRIES records.
int32_t AssembleRecord(const DriverSettings& s, const RecordBuffer& lines, ParserState& state, Env& env,
                       const ConversionTable* conversion_table, LineOutputs& out);

// AssembleRecord for a normal record of a one-line layout, decoded as `plan`
// says. The same record, result and codes as AssembleRecord.
// REQUIRES: `plan` compiled from `s`; `lines` holds the one line, which
// starts a normal record; no local or duty call pending.
int32_t AssemblePlannedRecord(const OneLinePlan& plan, const DriverSettings& s, const RecordBuffer& lines,
                              ParserState& state, Env& env, const ConversionTable* conversion_table,
                              LineOutputs& out);

}  // namespace talvo

#endif  // TALVO_PARSE_ASSEMBLY_H_
