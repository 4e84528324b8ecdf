// A compact canonical text form of a decoded call record, one line, used by
// the scenario tests and the command-line host's trace:
//   ext=215 ext2= tg=0 trunk=3 start=13:05:07 dur=95 ring=12 pulses=0
//   flags=out number=0521234567 account= tcode= date=260315 index=-1
// Bytes outside '!'..'~' and the backslash are written as \xNN, so a text
// with blanks still reads as one word.
#ifndef TALVO_DRIVER_RECORD_DUMP_H_
#define TALVO_DRIVER_RECORD_DUMP_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "talvo/driver.h"

namespace talvo {

// The flags as words joined by '+': out, in, converted, foreign, internal,
// private, orig; "-" when none is set.
std::string FlagWords(uint32_t flags);

// The record with the call's date text and index.
std::string DumpRecord(const CallRecord& record, std::string_view call_date, int32_t call_index);

// `text` with bytes outside '!'..'~' and the backslash escaped as \xNN.
std::string EscapeText(std::string_view text);

}  // namespace talvo

#endif  // TALVO_DRIVER_RECORD_DUMP_H_
