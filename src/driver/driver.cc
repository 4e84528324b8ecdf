#include "driver/driver.h"

#include "config/load_settings.h"
#include "parse/assembly.h"
#include "parse/recognition.h"

namespace talvo {
namespace {

// DrvProcessLine's result when recognition completes no record.
int32_t ResultWithoutRecord(Recognition::Outcome outcome) {
  return outcome == Recognition::kIncomplete ? TALVO_RESULT_INCOMPLETE : TALVO_RESULT_NO_RECORD;
}

}  // namespace

int32_t Driver::AcquireHandle() {
  const int32_t handle = handles_.Acquire();
  if (handle != 0) CompilePlan(handle);
  return handle;
}

void Driver::ReleaseHandle(int32_t handle) {
  handles_.Release(handle);
  if (handle >= 1 && handle <= HandleTable::kSlots) plans_[static_cast<std::size_t>(handle - 1)] = LayoutPlan();
}

bool Driver::ReplaceSettings(int32_t handle, const DriverSettings& settings) {
  DriverSettings* held = handles_.Find(handle);
  if (held == nullptr) return false;
  *held = settings;
  CompilePlan(handle);
  return true;
}

void Driver::CompilePlan(int32_t handle) {
  // REQUIRES: `handle` is taken.
  plans_[static_cast<std::size_t>(handle - 1)] = LayoutPlan::Compile(*handles_.Find(handle));
}

std::optional<int32_t> Driver::LoadSettings(int32_t handle, std::string_view file) {
  DriverSettings* settings = handles_.Find(handle);
  if (settings == nullptr) return std::nullopt;
  DriverSettings loaded;
  const int32_t index_base = LoadDriverSettings(env_, file, loaded);
  *settings = loaded;
  CompilePlan(handle);
  return index_base;
}

void Driver::StartRun() {
  kept_lines_ = 0;
  conversion_table_.reset();
  conversion_table_ = ReadConversionTable(env_);
}

int32_t Driver::ProcessLine(int32_t handle, RecordLines& lines, LineOutputs& out) {
  const DriverSettings* settings = handles_.Find(handle);
  if (settings == nullptr) return TALVO_RESULT_NO_RECORD;
  const LayoutPlan* plan = use_plans_ ? &plans_[static_cast<std::size_t>(handle - 1)] : nullptr;
  const int32_t n = lines.Count();
  if (n < 1) return TALVO_RESULT_NO_RECORD;
  const void* const source = lines.Source();
  // The lines kept by the last call serve this one only when this is the
  // same list with one line more.
  const int32_t kept_before = kept_lines_;
  kept_lines_ = 0;
  record_buffer_.BeginCall();
  if (n == 1) {
    // A lone line is read where the host holds it: nothing below calls on
    // the host's list again.
    std::string_view line;
    if (!lines.View(0, &line)) return TALVO_RESULT_NO_RECORD;
    if (plan != nullptr && plan->one_line()) {
      // What recognition decides for the line, by the compiled tests.
      if (plan->StartsNormalRecord(line)) {
        parser_state_.StartNormalCall();
      } else {
        const LayoutPlan::OtherStart start = plan->StartsOtherRecord(line, out.error_code);
        if (start != LayoutPlan::OtherStart::kLocal && plan->local_calls()) parser_state_.local_call_pending = false;
        if (start == LayoutPlan::OtherStart::kLocal) parser_state_.local_call_pending = true;
        if (plan->duty_calls() && start != LayoutPlan::OtherStart::kLocal) {
          parser_state_.duty_call_pending = start == LayoutPlan::OtherStart::kDuty;
        }
        if (start == LayoutPlan::OtherStart::kNone) {
          parser_state_.record_ok = true;
          return TALVO_RESULT_NO_RECORD;
        }
      }
      parser_state_.record_ok = true;
      record_buffer_.Lend(line);
      return AssembleRecord(*settings, plan, record_buffer_, parser_state_, env_, conversion_table_.get(), out);
    }
    if (plan != nullptr && plan->recognition_compiled() && plan->line_count() > 1 && plan->StartsNormalRecord(line)) {
      // The first line of a longer call, as recognition decides it.
      parser_state_.StartNormalCall();
      Keep(handle, source, 1, line);
      return TALVO_RESULT_INCOMPLETE;
    }
    record_buffer_.LendFirst(line);
    if (plan != nullptr && plan->recognition_compiled()) {
      return ProcessPlanned(*settings, *plan, handle, source, lines, 1, 0, line, out);
    }
  } else if (plan != nullptr && plan->recognition_compiled()) {
    std::string_view newest;
    if (!lines.View(n - 1, &newest)) return TALVO_RESULT_NO_RECORD;
    const int32_t kept = kept_before == n - 1 && handle == kept_handle_ && source == kept_source_ ? kept_before : 0;
    return ProcessPlanned(*settings, *plan, handle, source, lines, n, kept, newest, out);
  }
  const Recognition r = Recognize(*settings, lines, n, record_buffer_, parser_state_, out.error_code);
  if (r.outcome != Recognition::kComplete) return ResultWithoutRecord(r.outcome);
  if (!record_buffer_.Load(lines, r.record_lines)) return TALVO_RESULT_NO_RECORD;
  return AssembleRecord(*settings, plan, record_buffer_, parser_state_, env_, conversion_table_.get(), out);
}

inline int32_t Driver::ProcessPlanned(const DriverSettings& settings, const LayoutPlan& plan, int32_t handle,
                                      const void* source, RecordLines& lines, int32_t n, int32_t kept,
                                      std::string_view newest, LineOutputs& out) {
  const std::string_view first = kept > 0 ? record_buffer_.kept_copy(0) : std::string_view();
  const Recognition r =
      RecognizePlanned(plan, lines, n, newest, kept > 0 ? &first : nullptr, parser_state_, out.error_code);
  if (r.outcome == Recognition::kIncomplete) {
    // With its older lines kept (or none), recognition has made no other
    // call on the list since `newest` was read.
    if (kept == n - 1) Keep(handle, source, n, newest);
    return TALVO_RESULT_INCOMPLETE;
  }
  if (r.outcome != Recognition::kComplete) return TALVO_RESULT_NO_RECORD;
  if (n == 1 && r.record_lines == 1) {
    record_buffer_.Lend(newest);  // nothing has called on the list since it was read
  } else if (kept > 0) {
    record_buffer_.UseKept(r.record_lines, kept, newest);
  } else if (!record_buffer_.LoadLendingLast(lines, r.record_lines)) {
    return TALVO_RESULT_NO_RECORD;
  }
  return AssembleRecord(settings, &plan, record_buffer_, parser_state_, env_, conversion_table_.get(), out);
}

}  // namespace talvo
