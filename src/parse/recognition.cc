#include "parse/recognition.h"

#include <string>

#include "parse/check_marker.h"
#include "parse/record_decode.h"

namespace talvo {
namespace {

constexpr int32_t kDutyMarkerCodeBase = 31;   // DC_CHKn: 31 + n
constexpr int32_t kNormalMarkerCodeBase = 100; // CHKn: 100 + n
constexpr int32_t kBlankCodeBase = 110;        // SPCn: 110 + n

// The line-1 entries of a normal record on the newest line.
bool StartsNormalRecord(const DriverSettings& s, std::string_view newest) {
  bool start = true;
  for (const CheckEntry& chk : s.markers) {
    if (chk.line == 1) CheckMarker(newest, chk, start);
  }
  for (const BlankEntry& spc : s.blank_columns) {
    if (spc.line == 1 && spc.column != 0 && start) start = HasBlankAt(newest, spc.column);
  }
  return start;
}

bool StartsLocalRecord(const DriverSettings& s, std::string_view first) {
  bool start = true;
  for (const CheckEntry& chk : s.local_markers) {
    if (chk.line == 1) CheckMarker(first, chk, start);
  }
  return start;
}

// Duty markers on line 1 of the buffer, the blank column on the newest line.
bool StartsDutyRecord(const DriverSettings& s, std::string_view first, std::string_view newest,
                      int32_t& error_code) {
  bool start = true;
  for (std::size_t i = 0; i < s.duty_markers.size(); ++i) {
    if (s.duty_markers[i].line != 1) continue;
    CheckMarker(first, s.duty_markers[i], start);
    RecordCode(start, kDutyMarkerCodeBase + static_cast<int32_t>(i) + 1, error_code);
  }
  if (s.duty_blank_line == 1 && s.duty_blank_column != 0 && start) start = HasBlankAt(newest, s.duty_blank_column);
  return start;
}

bool ContinuesLocalRecord(const DriverSettings& s, std::string_view newest, int32_t n) {
  bool ok = true;
  for (const CheckEntry& chk : s.local_markers) {
    if (chk.line == n) CheckMarker(newest, chk, ok);
  }
  return ok;
}

bool ContinuesDutyRecord(const DriverSettings& s, std::string_view newest, int32_t n, int32_t& error_code) {
  bool ok = true;
  for (std::size_t i = 0; i < s.duty_markers.size(); ++i) {
    if (s.duty_markers[i].line != n) continue;
    CheckMarker(newest, s.duty_markers[i], ok);
    RecordCode(ok, kDutyMarkerCodeBase + static_cast<int32_t>(i) + 1, error_code);
  }
  if (s.duty_blank_line == n && s.duty_blank_column != 0 && ok) ok = HasBlankAt(newest, s.duty_blank_column);
  return ok;
}

bool ContinuesNormalRecord(const DriverSettings& s, std::string_view newest, int32_t n, int32_t& error_code) {
  bool ok = true;
  for (std::size_t i = 0; i < s.markers.size(); ++i) {
    if (s.markers[i].line != n) continue;
    CheckMarker(newest, s.markers[i], ok);
    RecordCode(ok, kNormalMarkerCodeBase + static_cast<int32_t>(i) + 1, error_code);
  }
  for (std::size_t i = 0; i < s.blank_columns.size(); ++i) {
    if (s.blank_columns[i].line != n) continue;
    if (s.blank_columns[i].column != 0 && ok) ok = HasBlankAt(newest, s.blank_columns[i].column);
    RecordCode(ok, kBlankCodeBase + static_cast<int32_t>(i) + 1, error_code);
  }
  return ok;
}

// A record started by the only line: complete, or waiting for its further lines.
Recognition LoneLineStarts(int32_t line_count) {
  return line_count > 1 ? Recognition{Recognition::kIncomplete, 0} : Recognition{Recognition::kComplete, 1};
}

}  // namespace

Recognition Recognize(const DriverSettings& s, RecordLines& lines, int32_t n, RecordBuffer& buffer,
                      ParserState& state, int32_t& error_code) {
  if (n < 1) return {};
  const std::string_view* newest_copy = buffer.Fetch(lines, n - 1);
  if (newest_copy == nullptr) return {};
  const std::string_view newest = *newest_copy;
  std::string_view first = newest;
  const bool need_first = n > 1 && (s.local_calls || s.duty_calls);
  if (need_first) {
    const std::string_view* first_copy = buffer.Fetch(lines, 0);
    if (first_copy == nullptr) return {};
    first = *first_copy;
  }

  bool start = StartsNormalRecord(s, newest);
  if (start) {
    state.local_call_pending = false;
    state.duty_call_pending = false;
  }
  if (!start && s.local_calls) {
    start = StartsLocalRecord(s, first);
    state.local_call_pending = start;
  }
  if (!start && s.duty_calls) {
    start = StartsDutyRecord(s, first, newest, error_code);
    state.duty_call_pending = start;
  }
  state.record_ok = true;

  if (start) {
    if (n == 1) {
      if (1 < s.line_count) return {Recognition::kIncomplete, 0};
      return {Recognition::kComplete, 1};
    }
    // The newest line starts the next record: the lines before it are complete.
    lines.CarryOver(newest);
    if (!lines.Delete(n - 1)) return {};
    return {Recognition::kComplete, n - 1};
  }

  if (n == 1) return {};
  bool ok = true;
  if (state.local_call_pending) {
    ok = ContinuesLocalRecord(s, newest, n);
    state.local_call_pending = ok;
  } else if (state.duty_call_pending) {
    ok = ContinuesDutyRecord(s, newest, n, error_code);
    state.duty_call_pending = ok;
  } else {
    ok = ContinuesNormalRecord(s, newest, n, error_code);
  }
  if (ok && n < s.line_count) return {Recognition::kIncomplete, 0};
  if (ok) return {Recognition::kComplete, n};
  return {};
}

Recognition RecognizePlanned(const LayoutPlan& plan, RecordLines& lines, int32_t n, std::string_view newest,
                             const std::string_view* first, ParserState& state, int32_t& error_code) {
  if (plan.StartsNormalRecord(newest)) {
    state.StartNormalCall();
    if (n == 1) return LoneLineStarts(plan.line_count());
    lines.CarryOver(newest);
    if (!lines.Delete(n - 1)) return {};
    return {Recognition::kComplete, n - 1};
  }
  // Everything that is tested on the newest line is tested now, while the
  // host's text of it is valid: reading the first line ends that. The tests
  // of a local or duty start, when they fail, leave these pending flags.
  const bool local_after = plan.local_calls() ? false : state.local_call_pending;
  const bool duty_after = plan.duty_calls() ? false : state.duty_call_pending;
  const bool duty_blank_held = plan.DutyBlankHeld(newest, 1);
  bool continues = false;
  int32_t continue_code = 0;
  if (n > 1) {
    if (local_after) {
      continues = plan.ContinuesLocalRecord(newest, n);
    } else if (duty_after) {
      continues = plan.ContinuesDutyRecord(newest, n, continue_code);
    } else {
      continues = plan.ContinuesNormalRecord(newest, n, continue_code);
    }
  }
  std::string_view oldest = newest;
  const bool read_oldest = n > 1 && first == nullptr && (plan.local_calls() || plan.duty_calls());
  if (read_oldest && !lines.View(0, &oldest)) return {};
  if (n > 1 && first != nullptr) oldest = *first;

  bool start = false;
  if (plan.local_calls()) {
    start = plan.StartsLocalRecord(oldest);
    state.local_call_pending = start;
  }
  if (!start && plan.duty_calls()) {
    start = plan.StartsDutyMarkers(oldest, error_code) && duty_blank_held;
    state.duty_call_pending = start;
  }
  state.record_ok = true;
  if (start) {
    if (n == 1) return LoneLineStarts(plan.line_count());
    // When line 0 was read from the list, that ended the newest line's text:
    // read it again.
    std::string_view again = newest;
    if (read_oldest && !lines.View(n - 1, &again)) return {};
    lines.CarryOver(again);
    if (!lines.Delete(n - 1)) return {};
    return {Recognition::kComplete, n - 1};
  }
  if (n == 1) return {};
  if (local_after) {
    state.local_call_pending = continues;
  } else if (duty_after) {
    state.duty_call_pending = continues;
  }
  if (!continues) {
    if (error_code == 0) error_code = continue_code;
    return {};
  }
  if (n < plan.line_count()) return {Recognition::kIncomplete, 0};
  return {Recognition::kComplete, n};
}

}  // namespace talvo
