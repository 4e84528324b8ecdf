// The context of one record's decoding, shared by the field, date and time
// steps and by assembly.
#ifndef TALVO_PARSE_RECORD_DECODE_H_
#define TALVO_PARSE_RECORD_DECODE_H_

#include <cstdint>
#include <optional>
#include <string_view>

#include "config/driver_settings.h"
#include "convert/conversion_table.h"
#include "parse/parser_state.h"
#include "parse/record_buffer.h"
#include "parse/record_lines.h"
#include "platform/env.h"
#include "talvo/driver.h"
#include "util/short_text.h"
#include "util/text.h"

namespace talvo {

// The one rule by which a step records its code: stored only if the step's
// success flag is now false and no earlier step stored a code.
inline void RecordCode(bool flag, int32_t code, int32_t& error_code) {
  if (!flag && error_code == 0) error_code = code;
}

struct RecordDecode {
  const DriverSettings& s;
  const RecordBuffer& lines;
  ParserState& state;
  CallRecord& rec;  // the working record, entry 0 of the host's array
  LineOutputs& out;
  Env& env;                                  // today's date, for dates printed without a year
  const ConversionTable* conversion_table;  // null while none is loaded
  ShortText<24> caller;   // the caller number
  ShortText<8> org_ext;   // the originating extension

  // Records `code` against record_ok.
  void Record(int32_t code) { RecordCode(state.record_ok, code, out.error_code); }

  // The field at (line, column, width), or nothing when its line is not buffered.
  std::optional<std::string_view> Field(uint8_t line, uint8_t column, uint8_t width) const {
    auto text = lines.Line(line);
    if (!text) return std::nullopt;
    return CutText(*text, column, width);
  }

  // The field, or the empty text when its line is not buffered.
  std::string_view FieldOrEmpty(uint8_t line, uint8_t column, uint8_t width) const {
    return Field(line, column, width).value_or(std::string_view());
  }
};

// Flags of the packed record, read and written by value.
inline void AddFlags(CallRecord& rec, uint32_t bits) {
  const uint32_t flags = rec.Flags;
  rec.Flags = flags | bits;
}

}  // namespace talvo

#endif  // TALVO_PARSE_RECORD_DECODE_H_
