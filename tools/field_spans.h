// Where each key of a settings file reads on a report line: the columns of a
// field, of a marker text or of a column that must be blank, on which line of
// which kind of call. Built from the one table of keys
// (config/settings_keys.h) and the settings as the driver loaded them, for
// the commands that show a report beside its settings (`talvo explain`,
// `talvo settings --sample`).
#ifndef TALVO_TOOLS_FIELD_SPANS_H_
#define TALVO_TOOLS_FIELD_SPANS_H_

#include <string>
#include <string_view>
#include <vector>

#include "config/driver_settings.h"

namespace talvo::tool {

// The kind of call whose lines a key describes: the keys LCL_* are read on
// local-call lines, DC_* on duty-call lines, every other key on a normal call.
enum class CallLayout { kNormal, kLocal, kDuty };

enum class SpanRole {
  kField,   // the driver reads a value there
  kMarker,  // a text that must stand there (CHKn, IN_CHKn, PRV_CHKn, LCL_CHKn, DC_CHKn)
  kBlank,   // a column that must hold a blank (SPCn, DC_SPC1)
};

struct FieldSpan {
  std::string key;        // the key that gives the column: "EXT_POS", "TIMEMM_POS", "CHK1_POS"
  std::string width_key;  // the key that gives the width ("EXT_LEN"); empty for a fixed width
  SpanRole role = SpanRole::kField;
  CallLayout layout = CallLayout::kNormal;
  std::string_view switched_by;  // the yes/no key that puts the span in force; empty: always
  bool in_force = true;          // its switch is on
  unsigned line = 1;             // of the call, 1..6
  unsigned column = 0;           // 1-based, never 0
  unsigned width = 0;            // columns read; 0 when its width key is 0
  std::string marker;            // kMarker: the text that must stand there
  bool digits = false;           // the driver wants digits here: part of a date, time, duration, ring
                                 // time, day of the year, the index or the pulses
  unsigned last_column() const { return column + (width > 0 ? width : 1) - 1; }
};

// Every span the settings set (column not 0), in the order the driver reads
// the keys.
std::vector<FieldSpan> ConfiguredSpans(const DriverSettings& settings);

// Columns column..last_column() of `line`, shorter or empty past its end.
std::string_view SpanText(std::string_view line, const FieldSpan& span);

// True iff a marker's text stands at its column, or a blank column holds a
// blank (a line too short fails both); always true for a field.
bool SpanMatches(std::string_view line, const FieldSpan& span);

// True iff every character of `text` is a digit or a blank.
bool IsDigitsOrBlanks(std::string_view text);

// "EXT_POS 28-31", "CHK1_POS 3".
std::string SpanName(const FieldSpan& span);

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_FIELD_SPANS_H_
