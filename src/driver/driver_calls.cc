#include "driver/driver_calls.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <string_view>

namespace talvo::calls {
namespace {

constexpr std::size_t kTextParameterCapacity = 80;

#define TALVO_STRINGIZE_(x) #x
#define TALVO_STRINGIZE(x) TALVO_STRINGIZE_(x)
// "TALVO" and the major and minor version, from the project's one version.
constexpr char kIdentification[] =
    "TALVO " TALVO_STRINGIZE(TALVO_VERSION_MAJOR) TALVO_STRINGIZE(TALVO_VERSION_MINOR);

// A text passed by value: the host's short string, cut to 80 characters.
std::string CopyTextParameter(const unsigned char* text) {
  if (text == nullptr) return {};
  const std::size_t n = std::min<std::size_t>(text[0], kTextParameterCapacity);
  return std::string(reinterpret_cast<const char*>(text + 1), n);
}

// The host's line list and carried-over line variable, seen through RecordLines.
class HostLines final : public RecordLines {
 public:
  HostLines(LineList* list, HostText* carry) : RecordLines(list), list_(list), carry_(carry) {}

  int32_t Count() override { return list_->ops->Count(list_); }

  bool Get(int32_t i, std::string* out) override {
    std::string_view line;
    if (!View(i, &line)) return false;
    out->assign(line);
    return true;
  }

  bool View(int32_t i, std::string_view* out) override {
    const char* text = nullptr;
    int32_t length = 0;
    if (list_->ops->Get(list_, i, &text, &length) != 0) return false;
    if (length < 0 || (text == nullptr && length > 0)) return false;
    *out = text == nullptr ? std::string_view() : std::string_view(text, static_cast<std::size_t>(length));
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
  return list != nullptr && list->ops != nullptr && list->ops->Count != nullptr && list->ops->Get != nullptr &&
         list->ops->Delete != nullptr;
}

}  // namespace

int32_t GetHandle(Driver& driver) {
  try {
    return driver.AcquireHandle();
  } catch (...) {
    return 0;
  }
}

void InitDriver(Driver& driver, int32_t handle, const unsigned char* settings_file, int32_t* index_base) {
  if (settings_file == nullptr || index_base == nullptr) return;
  try {
    const std::optional<int32_t> loaded = driver.LoadSettings(handle, CopyTextParameter(settings_file));
    if (loaded) *index_base = *loaded;
  } catch (...) {
    // Configuration never fails towards the host: the handle keeps its settings.
  }
}

uint8_t ProcessStart(Driver& driver, const unsigned char* text) {
  try {
    (void)CopyTextParameter(text);
    driver.StartRun();
  } catch (...) {
    // An unusable table is an empty one; the run still starts.
  }
  return 1;
}

int32_t ProcessLine(Driver& driver, int32_t index, LineList* lines, HostText* carry_over_line, CallRecord* records,
                    unsigned char* call_date, int32_t* record_count, int32_t* call_index, int32_t* error_code) {
  if (!ListUsable(lines) || carry_over_line == nullptr || carry_over_line->Assign == nullptr || records == nullptr ||
      call_date == nullptr || record_count == nullptr || call_index == nullptr || error_code == nullptr) {
    return TALVO_RESULT_NO_RECORD;
  }
  try {
    // A handle that is not taken and an empty list give no record, with
    // nothing written.
    HostLines host_lines(lines, carry_over_line);

    LineOutputs out;
    out.records = records;
    out.record_count = *record_count;
    out.call_index = *call_index;
    out.error_code = *error_code;
    const int32_t result = driver.ProcessLine(index, host_lines, out);

    *record_count = out.record_count;
    *error_code = out.error_code;
    if (out.call_date_written) {
      *call_index = out.call_index;
      call_date[0] = out.call_date.length;
      const std::string_view date = TextOf(out.call_date);
      MoveSmall(reinterpret_cast<char*>(call_date) + 1, date.data(), date.size());
    }
    return result;
  } catch (...) {
    return TALVO_RESULT_NO_RECORD;
  }
}

void ProcessEnd(Driver& driver, const unsigned char* text) {
  try {
    (void)CopyTextParameter(text);
    driver.EndRun();
  } catch (...) {
  }
}

void ProcessClose(Driver& driver, int32_t handle) { driver.ReleaseHandle(handle); }

void ProcessVer(unsigned char* result) {
  if (result == nullptr) return;
  constexpr std::size_t n = sizeof(kIdentification) - 1;
  result[0] = static_cast<unsigned char>(n);
  std::memcpy(result + 1, kIdentification, n);
}

}  // namespace talvo::calls
