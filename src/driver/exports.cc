// The seven exports: check the arguments, find the handle, call the core.
// No parsing happens here, and no C++ exception crosses this file.
#include <cstring>
#include <exception>
#include <string>
#include <string_view>

#include "config/load_settings.h"
#include "convert/conversion_table.h"
#include "driver/handle_table.h"
#include "parse/process_line.h"
#include "talvo/driver.h"

namespace talvo {
namespace {

constexpr std::size_t kTextParameterCapacity = 80;
constexpr char kIdentification[] = "TALVO 21";

// A text passed by value: the host's short string, cut to 80 characters.
std::string CopyTextParameter(const unsigned char* text) {
  if (text == nullptr) return {};
  const std::size_t n = std::min<std::size_t>(text[0], kTextParameterCapacity);
  return std::string(reinterpret_cast<const char*>(text + 1), n);
}

// The host's line list and carried-over line variable, seen through RecordLines.
class HostLines final : public RecordLines {
 public:
  HostLines(LineList* list, HostText* carry) : list_(list), carry_(carry) {}

  int32_t Count() override { return list_->ops->Count(list_); }

  bool Get(int32_t i, std::string* out) override {
    const char* text = nullptr;
    int32_t length = 0;
    if (list_->ops->Get(list_, i, &text, &length) != 0) return false;
    if (length < 0 || (text == nullptr && length > 0)) return false;
    out->assign(text == nullptr ? "" : text, static_cast<std::size_t>(length));
    return true;
  }

  bool Delete(int32_t i) override { return list_->ops->Delete(list_, i) == 0; }

  void CarryOver(std::string_view line) override {
    carry_->Assign(carry_, line.data(), static_cast<int32_t>(line.size()));
  }

 private:
  LineList* list_;
  HostText* carry_;
};

bool ListUsable(const LineList* list) {
  return list != nullptr && list->ops != nullptr && list->ops->Count != nullptr &&
         list->ops->Get != nullptr && list->ops->Delete != nullptr;
}

}  // namespace
}  // namespace talvo

using talvo::Handles;

extern "C" {

TALVO_EXPORT int32_t TALVO_CALL DrvGetHandle(void) {
  try {
    return Handles().Acquire();
  } catch (...) {
    return 0;
  }
}

TALVO_EXPORT void TALVO_CALL DrvInitDriver(int32_t handle, const unsigned char* settingsFile,
                                           int32_t* indexBase) {
  if (settingsFile == nullptr || indexBase == nullptr) return;
  try {
    const std::string file = talvo::CopyTextParameter(settingsFile);
    talvo::DriverSettings* settings = Handles().Find(handle);
    if (settings == nullptr) return;
    talvo::DriverSettings loaded;
    const int32_t index_base = talvo::LoadDriverSettings(file, loaded);
    *settings = loaded;
    *indexBase = index_base;
  } catch (...) {
    // Configuration never fails towards the host: the handle keeps its settings.
  }
}

TALVO_EXPORT uint8_t TALVO_CALL DrvProcessStart(const unsigned char* text) {
  try {
    (void)talvo::CopyTextParameter(text);
    talvo::LoadConversionTable();
  } catch (...) {
    // An unusable table is an empty one; the run still starts.
  }
  return 1;
}

#if defined(TALVO_REGISTER_ABI)
// The stack arguments in reverse, so that GCC reads them where the host pushed
// them (see TALVO_REGISTER_ABI in talvo/driver.h).
TALVO_EXPORT int32_t TALVO_CALL DrvProcessLine(int32_t index, LineList* lines, HostText* carryOverLine,
                                               int32_t* errorCode, int32_t* callIndex,
                                               int32_t* recordCount, unsigned char* callDate,
                                               CallRecord* records) {
#else
TALVO_EXPORT int32_t TALVO_CALL DrvProcessLine(int32_t index, LineList* lines, HostText* carryOverLine,
                                               CallRecord* records, unsigned char* callDate,
                                               int32_t* recordCount, int32_t* callIndex,
                                               int32_t* errorCode) {
#endif
  if (!talvo::ListUsable(lines) || carryOverLine == nullptr || carryOverLine->Assign == nullptr ||
      records == nullptr || callDate == nullptr || recordCount == nullptr || callIndex == nullptr ||
      errorCode == nullptr) {
    return TALVO_RESULT_NO_RECORD;
  }
  try {
    const talvo::DriverSettings* settings = Handles().Find(index);
    if (settings == nullptr) return TALVO_RESULT_NO_RECORD;
    talvo::HostLines host_lines(lines, carryOverLine);
    if (host_lines.Count() < 1) return TALVO_RESULT_NO_RECORD;

    talvo::LineOutputs out;
    out.records = records;
    out.record_count = *recordCount;
    out.call_index = *callIndex;
    out.error_code = *errorCode;
    const int32_t result = talvo::ProcessLine(*settings, host_lines, out);

    *recordCount = out.record_count;
    *errorCode = out.error_code;
    if (out.call_date_written) {
      *callIndex = out.call_index;
      callDate[0] = out.call_date.length;
      std::memcpy(callDate + 1, out.call_date.chars, out.call_date.length);
    }
    return result;
  } catch (...) {
    return TALVO_RESULT_NO_RECORD;
  }
}

TALVO_EXPORT void TALVO_CALL DrvProcessEnd(const unsigned char* text) {
  try {
    (void)talvo::CopyTextParameter(text);
    talvo::ReleaseConversionTable();
  } catch (...) {
  }
}

TALVO_EXPORT void TALVO_CALL DrvProcessClose(int32_t handle) { Handles().Release(handle); }

TALVO_EXPORT void TALVO_CALL DrvProcessVer(unsigned char* result) {
  if (result == nullptr) return;
  constexpr std::size_t n = sizeof(talvo::kIdentification) - 1;
  result[0] = static_cast<unsigned char>(n);
  std::memcpy(result + 1, talvo::kIdentification, n);
}

}  // extern "C"
