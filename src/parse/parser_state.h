// The parser's working state. It lives once per loaded module and is shared
// by every handle: the host makes one call at a time and does not interleave
// the lines of two handles' runs.
#ifndef TALVO_PARSE_PARSER_STATE_H_
#define TALVO_PARSE_PARSER_STATE_H_

#include "util/short_text.h"

namespace talvo {

struct ParserState {
  // Carried from one DrvProcessLine call to the next:
  bool LocalCallPending = false;  // the buffered record is a local call; also the
                                  // success flag of the local-call steps
  bool DutyCallPending = false;   // the buffered record is a duty call

  // Reset or recomputed by every record's decoding:
  bool RecordOk = false;          // the record decodes; failing steps clear it
  bool IncomingCall = false;      // the incoming-call markers matched
  bool PrivateCall = false;       // the private-call markers matched
  bool ForeignExtension = false;  // extension outside the range, kept by SAVE_TRNK_EXT
  ShortText<24> Dialled;          // becomes the record's Number
  ShortText<10> Code;             // the TCODE text
};

// The module-wide instance.
ParserState& SharedParserState();

}  // namespace talvo

#endif  // TALVO_PARSE_PARSER_STATE_H_
