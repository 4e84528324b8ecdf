// The protocol's floor: a driver that does nothing but take the newest line
// through the host's Count and Get, copy it, and answer with one fixed record
// (result 2) for every line. Linked into the command-line host in place of
// the real driver's calls (talvo_copy_host), so that the host's own cost per
// line -- reading, splitting, the line list, the rows, the output -- can be
// timed and counted on its own, on the same report as the real driver.
//
// These definitions take the place of those of driver_calls.cc: the linker
// takes a symbol from a static library only when no object file given
// before it defines it.
#include <cstring>
#include <string>

#include "driver/driver_calls.h"

namespace talvo::calls {
namespace {

// One record for every line: an outgoing call of 1 minute 5 seconds.
CallRecord FixedRecord() {
  CallRecord r;
  std::memset(&r, 0, sizeof r);
  const auto put = [](auto& field, const char* text) {
    field.length = static_cast<uint8_t>(std::strlen(text));
    std::memcpy(field.chars, text, field.length);
  };
  put(r.Extension, "215");
  put(r.Number, "0521820227");
  put(r.TrunkGroup, "1");
  put(r.Trunk, "10");
  r.StartMinute = 8 * 60 + 51;
  r.StartSecond = 17;
  r.Duration = 65;
  r.RingSeconds = 4;
  r.Flags = TALVO_FLAG_OUTGOING;
  return r;
}

// The copy a driver makes of the line it decodes.
std::string& LineCopy() {
  static std::string copy;
  return copy;
}

}  // namespace

int32_t GetHandle(Driver&) { return 1; }

void InitDriver(Driver&, int32_t, const unsigned char* settings_file, int32_t* index_base) {
  if (settings_file != nullptr && index_base != nullptr) *index_base = 0;
}

uint8_t ProcessStart(Driver&, const unsigned char*) { return 1; }

int32_t ProcessLine(Driver&, int32_t, LineList* lines, HostText*, CallRecord* records, unsigned char* call_date,
                    int32_t* record_count, int32_t* call_index, int32_t*) {
  static const CallRecord kRecord = FixedRecord();
  const int32_t count = lines->ops->Count(lines);
  const char* text = nullptr;
  int32_t length = 0;
  if (count < 1 || lines->ops->Get(lines, count - 1, &text, &length) != 0 || length < 0) {
    return TALVO_RESULT_NO_RECORD;
  }
  LineCopy().assign(text, static_cast<std::size_t>(length));
  records[0] = kRecord;
  *record_count = 1;
  std::memcpy(call_date, "\x06" "260315", 7);
  *call_index = -1;
  return TALVO_RESULT_RECORD;
}

void ProcessEnd(Driver&, const unsigned char*) {}

void ProcessClose(Driver&, int32_t) {}

void ProcessVer(unsigned char* result) {
  static const char kName[] = "COPYONLY";
  result[0] = sizeof kName - 1;
  std::memcpy(result + 1, kName, sizeof kName - 1);
}

}  // namespace talvo::calls
