#include "driver/driver.h"

#include "config/load_settings.h"
#include "parse/assembly.h"
#include "parse/recognition.h"

namespace talvo {

std::optional<int32_t> Driver::LoadSettings(int32_t handle, std::string_view file) {
  DriverSettings* settings = handles_.Find(handle);
  if (settings == nullptr) return std::nullopt;
  DriverSettings loaded;
  const int32_t index_base = LoadDriverSettings(env_, file, loaded);
  *settings = loaded;
  return index_base;
}

void Driver::StartRun() {
  conversion_table_.reset();
  conversion_table_ = ReadConversionTable(env_);
}

int32_t Driver::ProcessLine(int32_t handle, RecordLines& lines, LineOutputs& out) {
  const DriverSettings* settings = handles_.Find(handle);
  if (settings == nullptr) return TALVO_RESULT_NO_RECORD;
  record_buffer_.BeginCall();
  const Recognition r = Recognize(*settings, lines, record_buffer_, parser_state_, out.error_code);
  switch (r.outcome) {
    case Recognition::kIncomplete:
      return TALVO_RESULT_INCOMPLETE;
    case Recognition::kNoRecord:
      return TALVO_RESULT_NO_RECORD;
    case Recognition::kComplete:
      break;
  }
  if (!record_buffer_.Load(lines, r.record_lines)) return TALVO_RESULT_NO_RECORD;
  return AssembleRecord(*settings, record_buffer_, parser_state_, env_, conversion_table_.get(), out);
}

}  // namespace talvo
