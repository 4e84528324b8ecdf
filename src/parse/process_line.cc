#include "parse/process_line.h"

namespace talvo {

int32_t ProcessLine(const DriverSettings&, RecordLines&, LineOutputs&) {
  return TALVO_RESULT_NO_RECORD;  // recognition and assembly come next
}

}  // namespace talvo
