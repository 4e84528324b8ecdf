// Record assembly: decodes a complete record's fields in their fixed order
// into the working record, classifies the call and appends it.
#ifndef TALVO_PARSE_ASSEMBLY_H_
#define TALVO_PARSE_ASSEMBLY_H_

#include <cstdint>

#include "config/driver_settings.h"
#include "parse/parser_state.h"
#include "parse/record_buffer.h"
#include "parse/record_lines.h"

namespace talvo {

// Assembles the record held in `lines`; returns a TALVO_RESULT_* value.
// REQUIRES: out.records points at TALVO_RECORD_ENTRIES records.
int32_t AssembleRecord(const DriverSettings& s, const RecordBuffer& lines, ParserState& state, LineOutputs& out);

}  // namespace talvo

#endif  // TALVO_PARSE_ASSEMBLY_H_
