#include "parse/assembly.h"

#include "parse/record_decode.h"

namespace talvo {

int32_t AssembleRecord(const DriverSettings& s, const RecordBuffer& lines, ParserState& state, LineOutputs& out) {
  RecordDecode d{s, lines, state, out.records[0], out, {}, {}};
  out.call_date.clear();
  out.call_date_written = true;
  out.error_code = 0;
  out.call_index = -1;
  state.RecordOk = true;
  state.ForeignExtension = false;
  state.Dialled.clear();
  state.Code.clear();
  (void)d;
  return TALVO_RESULT_NO_RECORD;
}

}  // namespace talvo
