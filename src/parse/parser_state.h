// The parser's working state. A Driver holds one for all its handles: the
// host makes one call at a time and does not interleave the lines of two
// handles' runs, so the flags carried from one call to the next belong to the
// run in progress, whichever handle it uses.
#ifndef TALVO_PARSE_PARSER_STATE_H_
#define TALVO_PARSE_PARSER_STATE_H_

#include "util/short_text.h"

namespace talvo {

struct ParserState {
  // Carried from one DrvProcessLine call to the next:
  bool local_call_pending = false;  // the buffered record is a local call; also the
                                  // success flag of the local-call steps
  bool duty_call_pending = false;   // the buffered record is a duty call

  // Reset or recomputed by every record's decoding:
  bool record_ok = false;          // the record decodes; failing steps clear it
  bool incoming_call = false;      // the incoming-call markers matched
  bool private_call = false;       // the private-call markers matched
  bool foreign_extension = false;  // extension outside the range, kept by SAVE_TRNK_EXT
  ShortText<24> dialled;          // becomes the record's Number
  ShortText<10> code;             // the TCODE text

  // The newest line starts a normal call: nothing pending, the record sound.
  void StartNormalCall() {
    local_call_pending = false;
    duty_call_pending = false;
    record_ok = true;
  }
};

}  // namespace talvo

#endif  // TALVO_PARSE_PARSER_STATE_H_
