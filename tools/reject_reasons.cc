#include "tools/reject_reasons.h"

#include <algorithm>
#include <initializer_list>
#include <vector>

#include "tools/record_rows.h"

namespace talvo::tool {
namespace {

// One stretch of columns of a field: `width` columns from `column` (0: not in
// the report).
struct Piece {
  unsigned column;
  unsigned width;
};

// A field made of pieces on line `line` (1..6) of the call.
RejectExplanation Field(std::string reason, unsigned line, std::initializer_list<Piece> pieces) {
  RejectExplanation out;
  out.reason = std::move(reason);
  out.line = line > 0 ? line - 1 : 0;
  for (const Piece& p : pieces) {
    if (p.column == 0 || p.width == 0) continue;
    if (out.first_column == 0 || p.column < out.first_column) out.first_column = p.column;
    out.last_column = std::max(out.last_column, p.column + p.width - 1);
  }
  return out;
}

RejectExplanation Words(std::string reason) {
  RejectExplanation out;
  out.reason = std::move(reason);
  return out;
}

// Columns column..column+width-1 (1-based) of `line`; shorter or empty past
// its end.
std::string_view Cut(std::string_view line, unsigned column, unsigned width) {
  if (column == 0 || column > line.size()) return {};
  return line.substr(column - 1, width);
}

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsBlankText(std::string_view text) { return std::all_of(text.begin(), text.end(), IsBlank); }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
  return s;
}

// The number a field starts with, as the driver reads an extension: "12A"
// reads as 12, a text without leading digits as 0.
long LeadingNumber(std::string_view text) {
  long n = 0;
  std::size_t i = 0;
  const bool negative = !text.empty() && text[0] == '-';
  if (!text.empty() && (text[0] == '-' || text[0] == '+')) i = 1;
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9' && n < 1'000'000'000; ++i) n = n * 10 + (text[i] - '0');
  return negative ? -n : n;
}

// True iff the marker passes on `line`: it tests nothing, or its text stands
// at its column, letter case significant.
bool Shows(std::string_view line, const CheckEntry& marker) {
  if (marker.column == 0 || marker.text.empty()) return true;
  return Cut(line, marker.column, static_cast<unsigned>(marker.text.view().size())) == marker.text.view();
}

bool BlankAt(std::string_view line, unsigned column) {
  return column == 0 || (column <= line.size() && line[column - 1] == ' ');
}

std::string Quoted(std::string_view text) {
  std::string out = "\"";
  AppendVisible(out, text, 20);
  return out + "\"";
}

std::string Columns(unsigned first, unsigned last) {
  return first == last ? "column " + std::to_string(first)
                       : "columns " + std::to_string(first) + "-" + std::to_string(last);
}

std::string MarkerFailure(std::string_view name, const CheckEntry& marker) {
  return std::string(name) + " " + Quoted(marker.text.view()) + " is not at column " + std::to_string(marker.column);
}

// The line-1 tests of `markers` in words ("\"/\" at column 3").
template <std::size_t N>
void MarkerWords(const std::array<CheckEntry, N>& markers, unsigned line, std::vector<std::string>& out) {
  for (const CheckEntry& m : markers) {
    if (m.line == line && m.column != 0 && !m.text.empty()) {
      out.push_back(Quoted(m.text.view()) + " at column " + std::to_string(m.column));
    }
  }
}

std::string JoinWords(const std::vector<std::string>& words) {
  std::string out;
  for (std::size_t i = 0; i < words.size(); ++i) {
    if (i > 0) out += i + 1 == words.size() ? " and " : ", ";
    out += words[i];
  }
  return out;
}

}  // namespace

RejectExplainer::CallKind RejectExplainer::KindStartedBy(std::string_view line) const {
  bool normal = true;
  for (const CheckEntry& c : s_.markers) normal = normal && (c.line != 1 || Shows(line, c));
  for (const BlankEntry& b : s_.blank_columns) normal = normal && (b.line != 1 || BlankAt(line, b.column));
  if (normal) return CallKind::kNormal;
  if (s_.local_calls) {
    bool local = true;
    for (const CheckEntry& c : s_.local_markers) local = local && (c.line != 1 || Shows(line, c));
    if (local) return CallKind::kLocal;
  }
  if (s_.duty_calls) {
    bool duty = s_.duty_blank_line != 1 || BlankAt(line, s_.duty_blank_column);
    for (const CheckEntry& c : s_.duty_markers) duty = duty && (c.line != 1 || Shows(line, c));
    if (duty) return CallKind::kDuty;
  }
  return CallKind::kNone;
}

RejectExplanation RejectExplainer::FailedContinuation(CallKind kind, std::size_t number,
                                                      std::string_view text) const {
  const auto markers = [&](std::string_view stem, const auto& entries) -> RejectExplanation {
    for (std::size_t n = 0; n < entries.size(); ++n) {
      const CheckEntry& c = entries[n];
      if (c.line != number || Shows(text, c)) continue;
      return Field(MarkerFailure(std::string(stem) + std::to_string(n + 1), c), c.line,
                   {{c.column, static_cast<unsigned>(c.text.view().size())}});
    }
    return {};
  };
  const auto blank = [&](std::string_view name, unsigned line, unsigned column) -> RejectExplanation {
    if (line != number || BlankAt(text, column)) return {};
    return Field(std::string(name) + ": column " + std::to_string(column) + " is not blank", line, {{column, 1}});
  };
  RejectExplanation out;
  switch (kind) {
    case CallKind::kNormal:
      out = markers("CHK", s_.markers);
      for (std::size_t n = 0; n < s_.blank_columns.size() && out.reason.empty(); ++n) {
        out = blank("SPC" + std::to_string(n + 1), s_.blank_columns[n].line, s_.blank_columns[n].column);
      }
      break;
    case CallKind::kLocal:
      out = markers("LCL_CHK", s_.local_markers);
      break;
    case CallKind::kDuty:
      out = markers("DC_CHK", s_.duty_markers);
      if (out.reason.empty()) out = blank("DC_SPC1", s_.duty_blank_line, s_.duty_blank_column);
      break;
    case CallKind::kNone:
      break;
  }
  if (!out.reason.empty()) out.reason = "line " + std::to_string(number) + " of the call: " + out.reason;
  return out;
}

RejectExplanation RejectExplainer::ForCode(const Reject& r) const {
  const DriverSettings& s = s_;
  const int32_t code = r.error_code;
  const auto prv_refused = [&](int32_t n) {
    // A private-call marker records its code without refusing anything; the
    // only check after it that refuses a call is the extension check.
    return Field("PRV_CHK" + std::to_string(n) +
                     " did not match, which refuses nothing; the call was refused by the extension check "
                     "(no extension, or not letters and digits)",
                 s.extension_line, {{s.extension_column, s.extension_width}});
  };
  switch (code) {
    case TALVO_ERR_CALL_DATE:
      if (s.month_column == 0) return Field("call date invalid (day of the year)", s.day_of_year_line, {{s.day_of_year_column, 3}});
      return Field("call date invalid", s.date_line, {{s.day_column, 2}, {s.month_column, 2}, {s.year_column, 2}});
    case TALVO_ERR_START_TIME_L1:
    case TALVO_ERR_START_TIME_L2:
    case TALVO_ERR_START_TIME_L3:
      return Field("start time invalid", s.start_line,
                   {{s.start_hour_column, 2}, {s.start_minute_column, 2}, {s.start_second_column, 2}, {s.am_pm_column, 2}});
    case TALVO_ERR_DURATION_L1:
    case TALVO_ERR_DURATION_L4:
      return Field("duration invalid", s.duration_line,
                   {{s.duration_hours_column, 2}, {s.duration_minutes_column, std::max<unsigned>(s.duration_minutes_width, 1)},
                    {s.duration_seconds_column, std::max<unsigned>(s.duration_seconds_width, 1)}});
    case TALVO_ERR_END_TIME_L3:
    case TALVO_ERR_END_TIME_L4:
      return Field("end time invalid", s.end_line, {{s.end_hour_column, 2}, {s.end_minute_column, 2}});
    case TALVO_ERR_END_SECONDS_L3:
    case TALVO_ERR_END_SECONDS_L4:
      return Field("end seconds invalid", s.end_line, {{s.end_second_column, 2}});
    case TALVO_ERR_INDEX:
      return Field("INDEX field is not an integer", s.index_line, {{s.index_column, s.index_width}});
    case TALVO_ERR_PULSES:
      return Field("PULSES field is not a number", s.pulses_line, {{s.pulses_column, s.pulses_width}});
    case TALVO_ERR_EXTENSION:
      if (s.extension_column == 0) return Words("no extension: EXT_POS is not set");
      return Field("no extension, or extension not letters and digits", s.extension_line, {{s.extension_column, s.extension_width}});
    case TALVO_ERR_LOCAL_DATE:
      return Field("local call: date invalid", s.local_date_line,
                   {{s.local_day_column, 2}, {s.local_month_column, 2}, {s.local_year_column, 2}});
    case TALVO_ERR_LOCAL_TIME:
      return Field("local call: start time invalid", s.local_time_line, {{s.local_hour_column, 2}, {s.local_minute_column, 2}});
    case TALVO_ERR_LOCAL_NUMBER:
      return Field("local call: no called extension", s.local_called_line, {{s.local_called_column, s.local_called_width}});
    case TALVO_ERR_DUTY_DATE:
      return Field("duty call: date invalid", s.duty_date_line, {{s.duty_day_column, 2}, {s.duty_month_column, 2}, {s.duty_year_column, 2}});
    case TALVO_ERR_DUTY_TIME:
      return Field("duty call: start time invalid", s.duty_time_line, {{s.duty_hour_column, 2}, {s.duty_minute_column, 2}});
    case TALVO_ERR_DUTY_EXTENSION:
      return Field("duty call: no extension", s.duty_extension_line, {{s.duty_extension_column, s.duty_extension_width}});
    case TALVO_ERR_DUTY_CODE:
      return Field("duty call: no code characters", s.duty_second_extension_characters[0].line,
                   {{s.duty_second_extension_characters[0].column, 1}, {s.duty_second_extension_characters[1].column, 1}, {s.duty_second_extension_characters[2].column, 1}, {s.duty_second_extension_characters[3].column, 1}});
    case TALVO_ERR_EXT_RANGE_OR_PRV_CHK1: {
      const std::string range = "EXT_RANGE_ST..EXT_RANGE_END (" + std::to_string(s.extension_range_first) + ".." +
                                std::to_string(s.extension_range_last) + ")";
      const std::size_t at = s.extension_line - 1u;
      const long n = at < r.texts.size() ? LeadingNumber(Trim(Cut(r.texts[at], s.extension_column, s.extension_width))) : 0;
      const bool outside = !s.keep_foreign_extensions && (n < s.extension_range_first || n > s.extension_range_last);
      if (!s.private_calls || outside) return Field("extension outside " + range, s.extension_line, {{s.extension_column, s.extension_width}});
      return prv_refused(1);
    }
    case TALVO_ERR_PRV_CHK2:
    case TALVO_ERR_PRV_CHK3:
    case TALVO_ERR_PRV_CHK4:
      return prv_refused(code - TALVO_ERR_PRV_CHK2 + 2);
    case TALVO_ERR_RING_TIME:
      return Field("ring time invalid", s.ring_line,
                   {{s.ring_minutes_column, std::max<unsigned>(s.ring_minutes_width, 1)}, {s.ring_seconds_column, std::max<unsigned>(s.ring_seconds_width, 1)}});
    case TALVO_ERR_NONE:
      return Words("the call was refused without a recorded reason");
    default:
      break;
  }
  if (code >= TALVO_ERR_CHK1 && code <= TALVO_ERR_CHK6) {
    const CheckEntry& c = s.markers[static_cast<std::size_t>(code - TALVO_ERR_CHK1)];
    return Field(MarkerFailure("CHK" + std::to_string(code - TALVO_ERR_CHK1 + 1), c), c.line,
                 {{c.column, static_cast<unsigned>(c.text.view().size())}});
  }
  if (code >= TALVO_ERR_SPC1 && code <= TALVO_ERR_SPC6) {
    const BlankEntry& b = s.blank_columns[static_cast<std::size_t>(code - TALVO_ERR_SPC1)];
    return Field("SPC" + std::to_string(code - TALVO_ERR_SPC1 + 1) + ": column " + std::to_string(b.column) +
                     " is not blank",
                 b.line, {{b.column, 1}});
  }
  return Words(std::string(ErrorWords(code)));
}

RejectExplanation RejectExplainer::AtBuffered(const Reject& r) const {
  const std::size_t n = r.texts.size();
  const CallKind kind = n > 0 ? KindStartedBy(r.texts[0]) : CallKind::kNone;
  if (kind == CallKind::kLocal || kind == CallKind::kDuty) {
    return Words(std::string("the input ended while this ") + (kind == CallKind::kLocal ? "local" : "duty") +
                 " call waited for the next line, which closes it");
  }
  if (kind == CallKind::kNormal && n < s_.line_count) {
    std::vector<std::string> wanted;
    MarkerWords(s_.markers, static_cast<unsigned>(n + 1), wanted);
    std::string reason = "the input ended before line " + std::to_string(n + 1) + " of " +
                         std::to_string(s_.line_count) + " of the call";
    if (!wanted.empty()) reason += " (a line that shows " + JoinWords(wanted) + ")";
    return Words(std::move(reason));
  }
  return Words(std::string(RejectWriter::Reason(r)));
}

RejectExplanation RejectExplainer::Explain(const Reject& r) const {
  switch (r.kind) {
    case RejectKind::kSkipped:
      return Words(IsBlankText(r.first_text) ? "blank line" : "starts no call");
    case RejectKind::kBuffered:
      return AtBuffered(r);
    case RejectKind::kDropped:
      return Words(std::string(RejectWriter::Reason(r)));
    case RejectKind::kRejected:
      break;
  }
  // Refused before assembly while a call of two or more lines was open: the
  // newest line did not continue it. The code is 0, or that of a duty marker
  // that was tested on the first line and rejected nothing.
  const bool before_assembly = r.record == nullptr && r.texts.size() >= 2;
  if (before_assembly && (r.error_code == 0 || IsNonRejectingTest(r.error_code))) {
    const std::size_t n = r.texts.size();
    RejectExplanation out = FailedContinuation(KindStartedBy(r.texts[0]), n, r.texts[n - 1]);
    if (out.reason.empty()) out = Words("line " + std::to_string(n) + " does not continue the call");
    return out;
  }
  return ForCode(r);
}

std::string RejectExplainer::CallStartWords() const {
  std::vector<std::string> normal;
  MarkerWords(s_.markers, 1, normal);
  for (const BlankEntry& b : s_.blank_columns) {
    if (b.line == 1 && b.column != 0) normal.push_back("a blank at column " + std::to_string(b.column));
  }
  std::string out = normal.empty() ? "every line starts a call (no CHK or SPC test on line 1)"
                                   : "a call line shows " + JoinWords(normal);
  const auto other = [&](std::string_view what, const auto& markers) {
    std::vector<std::string> words;
    MarkerWords(markers, 1, words);
    out += "; a ";
    out += what;
    out += words.empty() ? std::string(" line: any line") : " line shows " + JoinWords(words);
  };
  if (s_.local_calls) other("local call", s_.local_markers);
  if (s_.duty_calls) other("duty call", s_.duty_markers);
  return out;
}

std::string RejectExplainer::ReadableLine(const Reject& r, const RejectExplanation& why, std::string_view input) {
  std::string out(input == "-" ? std::string_view("standard input") : input);
  const uint64_t at = r.lines.first + why.line;
  if (r.lines.count() > 1) {
    out += ", lines " + std::to_string(r.lines.first) + "-" + std::to_string(r.lines.last);
    if (why.first_column != 0) out += " (line " + std::to_string(at) + ")";
  } else {
    out += ", line " + std::to_string(r.lines.first);
  }
  out += ": " + why.reason;
  if (why.first_column == 0 || why.line >= r.texts.size()) return out;
  const std::string_view text = r.texts[why.line];
  const std::string_view field = Cut(text, why.first_column, why.last_column - why.first_column + 1);
  if (IsBlankText(field)) {
    out += ": nothing in " + Columns(why.first_column, why.last_column);
  } else {
    out += ": \"";
    AppendReadable(out, field, 40);
    out += "\" in " + Columns(why.first_column, why.last_column);
  }
  return out;
}

std::string RejectExplainer::RowReason(const Reject& r, const RejectExplanation& why) {
  if (why.first_column == 0) return why.reason;
  std::string out = why.reason + ", " + Columns(why.first_column, why.last_column);
  if (r.lines.count() > 1) out += " of line " + std::to_string(r.lines.first + why.line);
  return out;
}

}  // namespace talvo::tool
