#include "parse/layout_plan.h"

#include <algorithm>
#include <cstring>
#include <initializer_list>
#include <optional>

#include "parse/field_decoders.h"
#include "util/text.h"

namespace talvo {
namespace {

// A marker entry that tests something: a column and a text (cut to 10).
bool Configured(const CheckEntry& e) { return e.column != 0 && !e.text.empty(); }

LayoutPlan::Marker CompileMarker(const CheckEntry& e) {
  LayoutPlan::Marker m;
  m.line = e.line;
  if (!Configured(e)) return m;
  const std::string_view text = e.text.view().substr(0, m.text.size());
  m.offset = static_cast<uint16_t>(e.column - 1);
  m.length = static_cast<uint8_t>(text.size());
  std::memcpy(m.text.data(), text.data(), text.size());
  m.Seal();
  return m;
}

void AddMarker(const LayoutPlan::Marker& m, LayoutPlan::FixedBytes& bytes) {
  for (uint8_t i = 0; i < m.length; ++i) bytes.Add(static_cast<uint16_t>(m.offset + i), m.text[i]);
}

bool OnLine(uint8_t line) { return line >= 1 && line <= 6; }

void AddTest(const LayoutPlan::Marker& m, int32_t code, LayoutPlan::CodedTests& tests) {
  tests.tests[tests.count++] = LayoutPlan::CodedTests::Test{m, code};
}

// A blank column as a marker of one blank.
LayoutPlan::Marker BlankMarker(uint8_t line, uint8_t column) {
  LayoutPlan::Marker m;
  m.line = line;
  m.offset = static_cast<uint16_t>(column - 1);
  m.length = 1;
  m.text[0] = ' ';
  m.Seal();
  return m;
}

// True iff every position of the settings names line 1.
bool AllOnLineOne(const DriverSettings& s) {
  for (const CheckEntry& e : s.markers) {
    if (e.line != 1) return false;
  }
  for (const BlankEntry& e : s.blank_columns) {
    if (e.line != 1) return false;
  }
  for (const auto* group : {&s.incoming_markers, &s.private_markers, &s.local_markers, &s.duty_markers}) {
    for (const CheckEntry& e : *group) {
      if (e.line != 1) return false;
    }
  }
  for (const CharEntry& e : s.duty_second_extension_characters) {
    if (e.line != 1) return false;
  }
  for (uint8_t line :
       {s.start_line, s.end_line, s.duration_line, s.ring_line, s.date_line, s.day_of_year_line, s.number_line,
        s.caller_line, s.trunk_group_line, s.trunk_line, s.extension_line, s.originating_extension_line,
        s.account_line, s.pulses_line, s.index_line, s.code_line, s.disa_line, s.local_date_line,
        s.local_time_line, s.local_caller_line, s.local_called_line, s.duty_blank_line, s.duty_date_line,
        s.duty_time_line, s.duty_extension_line}) {
    if (line != 1) return false;
  }
  return true;
}

// A part of a time at `column`, `width` wide, when the quick steps can read it.
bool TwoCharacterPart(uint8_t column, uint8_t width, LayoutPlan::TwoCharacters& part) {
  part.printed = column != 0;
  part.offset = column == 0 ? 0 : static_cast<uint16_t>(column - 1);
  return column == 0 || width == 2;
}

// Three parts printed as HH?MM?SS.
bool IsClock(const LayoutPlan::TwoCharacters& h, const LayoutPlan::TwoCharacters& m,
             const LayoutPlan::TwoCharacters& s) {
  return h.printed && m.printed && s.printed && m.offset == h.offset + 3 && s.offset == h.offset + 6;
}

// The shortest line that holds every printed part.
uint16_t LineNeeds(std::initializer_list<LayoutPlan::TwoCharacters> parts) {
  uint16_t needs = 0;
  for (const LayoutPlan::TwoCharacters& part : parts) {
    if (part.printed) needs = std::max<uint16_t>(needs, static_cast<uint16_t>(part.offset + 2));
  }
  return needs;
}

}  // namespace

LayoutPlan LayoutPlan::Compile(const DriverSettings& s) {
  LayoutPlan plan;
  plan.one_line_ = s.line_count == 1 && AllOnLineOne(s);
  plan.line_count_ = s.line_count;
  for (const CheckEntry& e : s.markers) {
    if (Configured(e) && e.line == 1) AddMarker(CompileMarker(e), plan.start_bytes_);
  }
  for (const BlankEntry& e : s.blank_columns) {
    if (e.column != 0 && e.line == 1) plan.start_bytes_.Add(static_cast<uint16_t>(e.column - 1), ' ');
  }
  const auto check_lines = [&plan](const auto& entries) {
    for (const CheckEntry& e : entries) {
      if (Configured(e) && !OnLine(e.line)) plan.recognition_compiled_ = false;
    }
  };
  check_lines(s.markers);
  check_lines(s.local_markers);
  check_lines(s.duty_markers);
  for (const BlankEntry& e : s.blank_columns) {
    if (e.column != 0 && !OnLine(e.line)) plan.recognition_compiled_ = false;
  }
  // Codes of recognition: CHKn 100 + n, SPCn 110 + n, DC_CHKn 31 + n.
  for (std::size_t i = 0; i < s.markers.size(); ++i) {
    const CheckEntry& e = s.markers[i];
    if (Configured(e) && OnLine(e.line)) {
      AddTest(CompileMarker(e), 101 + static_cast<int32_t>(i), plan.normal_tests_[e.line - 1u]);
    }
  }
  for (std::size_t i = 0; i < s.blank_columns.size(); ++i) {
    const BlankEntry& e = s.blank_columns[i];
    if (e.column != 0 && OnLine(e.line)) {
      AddTest(BlankMarker(e.line, e.column), 111 + static_cast<int32_t>(i), plan.normal_tests_[e.line - 1u]);
    }
  }
  plan.local_calls_ = s.local_calls;
  for (const CheckEntry& e : s.local_markers) {
    if (Configured(e) && OnLine(e.line)) AddMarker(CompileMarker(e), plan.local_bytes_[e.line - 1u]);
  }
  plan.duty_calls_ = s.duty_calls;
  for (std::size_t i = 0; i < s.duty_markers.size(); ++i) {
    const CheckEntry& e = s.duty_markers[i];
    if (Configured(e) && OnLine(e.line)) {
      AddTest(CompileMarker(e), 32 + static_cast<int32_t>(i), plan.duty_tests_[e.line - 1u]);
    }
  }
  if (s.duty_blank_column != 0) {
    plan.duty_blank_line_ = s.duty_blank_line;
    plan.duty_blank_offset_ = static_cast<uint16_t>(s.duty_blank_column - 1);
  }
  plan.incoming_calls_ = s.incoming_calls;
  for (const CheckEntry& e : s.incoming_markers) {
    if (!Configured(e)) continue;
    const Marker m = CompileMarker(e);
    plan.incoming_markers_[plan.incoming_marker_count_++] = m;
    if (m.line == 1) {
      AddMarker(m, plan.incoming_bytes_);
    } else {
      plan.incoming_on_line_one_ = false;
    }
  }
  plan.private_calls_ = s.private_calls;
  for (std::size_t i = 0; i < s.private_markers.size(); ++i) {
    plan.private_configured_[i] = Configured(s.private_markers[i]);
    plan.private_markers_[i] = CompileMarker(s.private_markers[i]);
  }
  const std::string_view base = s.trunk_group_base.view();
  if (s.trunk_group_base_as_text) {
    plan.trunk_group_base_ = TrunkGroupBase::kOther;
  } else if (base.empty()) {
    plan.trunk_group_base_ = TrunkGroupBase::kNone;
  } else if (base.size() <= 6 && IsShortDigitRun(base)) {
    plan.trunk_group_base_ = TrunkGroupBase::kNumber;
    plan.trunk_group_base_value_ = DigitRunValue(base);
  } else {
    plan.trunk_group_base_ = TrunkGroupBase::kOther;
  }
  QuickTimes& times = plan.quick_times_;
  times.start_line = s.start_line;
  times.duration_line = s.duration_line;
  times.usable = s.time_layout == TimeLayoutKind::kStartAndDuration && s.am_pm_column == 0 && !s.dated_by_end &&
                 s.start_hour_column != 0 && s.start_minute_column != 0;
  times.usable = TwoCharacterPart(s.start_hour_column, 2, times.hour) && times.usable;
  times.usable = TwoCharacterPart(s.start_minute_column, 2, times.minute) && times.usable;
  times.usable = TwoCharacterPart(s.start_second_column, 2, times.second) && times.usable;
  times.usable = TwoCharacterPart(s.duration_hours_column, 2, times.duration_hours) && times.usable;
  times.usable =
      TwoCharacterPart(s.duration_minutes_column, s.duration_minutes_width, times.duration_minutes) && times.usable;
  times.usable =
      TwoCharacterPart(s.duration_seconds_column, s.duration_seconds_width, times.duration_seconds) && times.usable;
  times.start_clock = IsClock(times.hour, times.minute, times.second);
  times.duration_clock = IsClock(times.duration_hours, times.duration_minutes, times.duration_seconds);
  times.start_needs = LineNeeds({times.hour, times.minute, times.second});
  times.duration_needs = LineNeeds({times.duration_hours, times.duration_minutes, times.duration_seconds});
  QuickRing& ring = plan.quick_ring_;
  ring.line = s.ring_line;
  ring.usable = TwoCharacterPart(s.ring_minutes_column, s.ring_minutes_width, ring.minutes);
  ring.usable = TwoCharacterPart(s.ring_seconds_column, s.ring_seconds_width, ring.seconds) && ring.usable;
  ring.line_needs = LineNeeds({ring.minutes, ring.seconds});
  QuickDate& date = plan.quick_date_;
  date.line = s.date_line;
  date.usable = s.year_column != 0 && s.month_column != 0 && s.day_column != 0;
  if (date.usable) {
    date.year = static_cast<uint16_t>(s.year_column - 1);
    date.month = static_cast<uint16_t>(s.month_column - 1);
    date.day = static_cast<uint16_t>(s.day_column - 1);
    date.line_needs = static_cast<uint16_t>(std::max({date.year, date.month, date.day}) + 2);
  }
  Steps& st = plan.steps_;
  st.date = s.month_column != 0 || s.day_of_year_column != 0;
  // A width of 0 reads nothing; a column of 0 with a width reads from column 1.
  st.dialled = s.number_width != 0;
  st.caller = s.caller_width != 0;
  st.times = s.time_layout != TimeLayoutKind::kNone;
  st.index = s.index_column != 0;
  st.pulses = s.pulses_column != 0;
  st.account = s.account_column != 0 && s.account_width != 0;
  st.originating = s.originating_extension_column != 0;
  st.code = s.code_column != 0 && s.code_width != 0;
  st.disa = s.disa_width != 0;
  return plan;
}

LayoutPlan::OtherStart LayoutPlan::StartsOtherRecord(std::string_view line, int32_t& error_code) const {
  if (local_calls_ && StartsLocalRecord(line)) return OtherStart::kLocal;
  if (duty_calls_ && StartsDutyRecord(line, line, error_code)) return OtherStart::kDuty;
  return OtherStart::kNone;
}

bool LayoutPlan::PrivateCall(const RecordBuffer& lines, int32_t& error_code) const {
  constexpr int32_t kFirstCode = 42;  // PRV_CHK1
  bool private_call = private_calls_;
  for (std::size_t i = 0; i < private_markers_.size(); ++i) {
    const Marker& m = private_markers_[i];
    const std::string_view* line = lines.Held(m.line);
    if (line == nullptr) continue;  // an entry on a line not buffered tests nothing
    if (private_configured_[i] && private_call) private_call = m.Matches(*line);
    if (!private_call) {
      if (error_code == 0) error_code = kFirstCode + static_cast<int32_t>(i);
      return false;
    }
  }
  return private_call;
}

bool LayoutPlan::IncomingCall(const RecordBuffer& lines) const {
  if (!incoming_calls_) return false;
  if (incoming_on_line_one_) {
    const std::string_view* line = lines.Held(1);
    return line == nullptr || incoming_bytes_.HeldBy(*line);
  }
  for (uint8_t i = 0; i < incoming_marker_count_; ++i) {
    const Marker& m = incoming_markers_[i];
    const std::string_view* line = lines.Held(m.line);
    if (line != nullptr && !m.Matches(*line)) return false;
  }
  return true;
}

}  // namespace talvo
