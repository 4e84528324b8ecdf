#include "parse/process_line.h"

#include "parse/assembly.h"
#include "parse/parser_state.h"
#include "parse/recognition.h"
#include "parse/record_buffer.h"

namespace talvo {

ParserState& SharedParserState() {
  static ParserState state;
  return state;
}

int32_t ProcessLine(const DriverSettings& settings, RecordLines& lines, LineOutputs& out) {
  ParserState& state = SharedParserState();
  static RecordBuffer buffer;  // keeps its lines' capacity from call to call
  buffer.BeginCall();
  const Recognition r = Recognize(settings, lines, buffer, state, out.error_code);
  switch (r.outcome) {
    case Recognition::kIncomplete:
      return TALVO_RESULT_INCOMPLETE;
    case Recognition::kNoRecord:
      return TALVO_RESULT_NO_RECORD;
    case Recognition::kComplete:
      break;
  }
  if (!buffer.Load(lines, r.record_lines)) return TALVO_RESULT_NO_RECORD;
  return AssembleRecord(settings, buffer, state, out);
}

}  // namespace talvo
