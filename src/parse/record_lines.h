// The host's buffered report lines as the parser sees them.
#ifndef TALVO_PARSE_RECORD_LINES_H_
#define TALVO_PARSE_RECORD_LINES_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "talvo/driver.h"
#include "util/short_text.h"

namespace talvo {

// The lines of the record in progress, oldest first, the newest last.
class RecordLines {
 public:
  virtual ~RecordLines() = default;
  // Number of buffered lines.
  virtual int32_t Count() = 0;
  // Copies line i (0-based) into *out. Returns false when the list refuses.
  virtual bool Get(int32_t i, std::string* out) = 0;
  // Line i (0-based) as the host holds it, without a copy: valid until the
  // next call on the list. Returns false when the list refuses.
  virtual bool View(int32_t i, std::string_view* out) = 0;
  // Removes line i. Returns false when the list refuses.
  virtual bool Delete(int32_t i) = 0;
  // Hands `line` to the host as the first line of the next record.
  virtual void CarryOver(std::string_view line) = 0;
  // The host's list behind these lines, the same from call to call for as
  // long as the host keeps it; null when that is not known.
  const void* Source() const { return source_; }

 protected:
  RecordLines() = default;
  explicit RecordLines(const void* source) : source_(source) {}

 private:
  const void* source_ = nullptr;
};

// The outputs of one DrvProcessLine call, other than the record array.
struct LineOutputs {
  CallRecord* records = nullptr;  // TALVO_RECORD_ENTRIES entries; entry 0 is the working record
  ShortText<6> call_date;         // YYMMDD, valid when call_date_written
  bool call_date_written = false;
  int32_t record_count = 0;       // in/out
  int32_t call_index = -1;        // valid when call_date_written (assembly ran)
  int32_t error_code = 0;         // in/out
};

}  // namespace talvo

#endif  // TALVO_PARSE_RECORD_LINES_H_
