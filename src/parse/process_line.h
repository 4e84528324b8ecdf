// DrvProcessLine's work: recognise the buffered lines and assemble a record.
#ifndef TALVO_PARSE_PROCESS_LINE_H_
#define TALVO_PARSE_PROCESS_LINE_H_

#include <cstdint>

#include "config/driver_settings.h"
#include "parse/record_lines.h"

namespace talvo {

// Looks at the host's buffered lines under `settings`; returns a
// TALVO_RESULT_* value. REQUIRES: lines.Count() >= 1.
int32_t ProcessLine(const DriverSettings& settings, RecordLines& lines, LineOutputs& out);

}  // namespace talvo

#endif  // TALVO_PARSE_PROCESS_LINE_H_
