// The steps that decode the fields of a call other than its date and times,
// each over the settings and the buffered lines of one record. A step that
// fails clears record_ok (or the flag it names) and records its code; the
// steps after it still run, so every decodable field is filled in.
#ifndef TALVO_PARSE_FIELD_STEPS_H_
#define TALVO_PARSE_FIELD_STEPS_H_

#include "parse/record_decode.h"

namespace talvo {

// Normal call, in the order assembly runs them.
void DecodeDialledNumber(RecordDecode& d);       // NUM_POS: digits into the dialled-number buffer
void DecodeCallerNumber(RecordDecode& d);        // CLI_POS: digits into the caller-number buffer
void DecodeIndex(RecordDecode& d);               // INDEX_POS: CallIndex; code 16
void DecodePulses(RecordDecode& d);              // PULSES_POS: Pulses; code 17
void DecodeTrunkGroup(RecordDecode& d);          // ALUMA_POS: TrunkGroup with TG_BASE
void DecodeTrunk(RecordDecode& d);               // OREK_POS: Trunk
void DecodeAccount(RecordDecode& d);             // ACCOUNT_POS: Account, or the extension
void DecodeExtension(RecordDecode& d);           // EXT_POS: Extension and its range; code 42
void DecodeOriginatingExtension(RecordDecode& d);// ORG_EXT_POS: the originating-extension buffer
void DecodeCode(RecordDecode& d);                // TCODE_POS: the code buffer
void DecodeDisa(RecordDecode& d);                // DISA_POS: "Y" sets the converted/DISA flag

// The extension read as `number`: outside EXT_RANGE_ST..EXT_RANGE_END it is
// foreign (SAVE_TRNK_EXT) or fails the call with code 42.
inline void CheckExtensionRange(RecordDecode& d, int32_t number) {
  if (number >= d.s.extension_range_first && number <= d.s.extension_range_last) return;
  if (d.s.keep_foreign_extensions) {
    d.state.foreign_extension = true;
  } else {
    d.state.record_ok = false;
    d.Record(TALVO_ERR_EXT_RANGE);
  }
}

// Leading zeros up to EXT_LEN (with EXT_LEAD_ZERO), then EXT_PREFIX in front.
void AddExtensionZerosAndPrefix(RecordDecode& d);
inline void FinishExtension(RecordDecode& d) {
  if (d.s.extension_leading_zeros || !d.s.extension_prefix.empty()) {
    AddExtensionZerosAndPrefix(d);
  } else if (d.rec.Extension.length > sizeof d.rec.Extension.chars) {
    // Nothing to add: the text stays, its length byte kept to eight.
    d.rec.Extension.length = sizeof d.rec.Extension.chars;
  }
}

// Extension present, then finished; code 20.
inline void RequireExtension(RecordDecode& d) {
  if (!TextOf(d.rec.Extension).empty()) {
    FinishExtension(d);
  } else {
    d.state.record_ok = false;
  }
  d.Record(TALVO_ERR_EXTENSION);
}

// Every call kind, last: Extension present and letters and digits only,
// SecondExtension empty or letters and digits only; code 20.
inline void CheckExtensions(RecordDecode& d) {
  const std::string_view ext = TextOf(d.rec.Extension);
  const std::string_view second = TextOf(d.rec.SecondExtension);
  d.state.record_ok = d.state.record_ok && !ext.empty() && IsAlphanumericText(ext) &&
                      (second.empty() || IsAlphanumericText(second));
  d.Record(TALVO_ERR_EXTENSION);
}

// Local call: the calling extension and the called number; code 31 against
// local_call_pending.
void DecodeLocalCallParties(RecordDecode& d);

// Duty call: the extension (code 39) and the code characters (code 40).
void DecodeDutyCallParties(RecordDecode& d);

}  // namespace talvo

#endif  // TALVO_PARSE_FIELD_STEPS_H_
