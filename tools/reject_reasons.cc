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
  if (marker.Col == 0 || marker.Text.empty()) return true;
  return Cut(line, marker.Col, static_cast<unsigned>(marker.Text.view().size())) == marker.Text.view();
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
  return std::string(name) + " " + Quoted(marker.Text.view()) + " is not at column " + std::to_string(marker.Col);
}

// The line-1 tests of `markers` in words ("\"/\" at column 3").
template <std::size_t N>
void MarkerWords(const std::array<CheckEntry, N>& markers, unsigned line, std::vector<std::string>& out) {
  for (const CheckEntry& m : markers) {
    if (m.Line == line && m.Col != 0 && !m.Text.empty()) {
      out.push_back(Quoted(m.Text.view()) + " at column " + std::to_string(m.Col));
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
  for (const CheckEntry& c : s_.Chk) normal = normal && (c.Line != 1 || Shows(line, c));
  for (const BlankEntry& b : s_.Spc) normal = normal && (b.Line != 1 || BlankAt(line, b.Col));
  if (normal) return CallKind::kNormal;
  if (s_.LocalCalls) {
    bool local = true;
    for (const CheckEntry& c : s_.LclChk) local = local && (c.Line != 1 || Shows(line, c));
    if (local) return CallKind::kLocal;
  }
  if (s_.DutyCall) {
    bool duty = s_.DcSpc1Line != 1 || BlankAt(line, s_.DcSpc1Col);
    for (const CheckEntry& c : s_.DcChk) duty = duty && (c.Line != 1 || Shows(line, c));
    if (duty) return CallKind::kDuty;
  }
  return CallKind::kNone;
}

RejectExplanation RejectExplainer::FailedContinuation(CallKind kind, std::size_t number,
                                                      std::string_view text) const {
  const auto markers = [&](std::string_view stem, const auto& entries) -> RejectExplanation {
    for (std::size_t n = 0; n < entries.size(); ++n) {
      const CheckEntry& c = entries[n];
      if (c.Line != number || Shows(text, c)) continue;
      return Field(MarkerFailure(std::string(stem) + std::to_string(n + 1), c), c.Line,
                   {{c.Col, static_cast<unsigned>(c.Text.view().size())}});
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
      out = markers("CHK", s_.Chk);
      for (std::size_t n = 0; n < s_.Spc.size() && out.reason.empty(); ++n) {
        out = blank("SPC" + std::to_string(n + 1), s_.Spc[n].Line, s_.Spc[n].Col);
      }
      break;
    case CallKind::kLocal:
      out = markers("LCL_CHK", s_.LclChk);
      break;
    case CallKind::kDuty:
      out = markers("DC_CHK", s_.DcChk);
      if (out.reason.empty()) out = blank("DC_SPC1", s_.DcSpc1Line, s_.DcSpc1Col);
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
                 s.ExtLine, {{s.ExtCol, s.ExtLen}});
  };
  switch (code) {
    case TALVO_ERR_CALL_DATE:
      if (s.MonthCol == 0) return Field("call date invalid (day of the year)", s.JulianLine, {{s.JulianCol, 3}});
      return Field("call date invalid", s.MonthLine, {{s.DayCol, 2}, {s.MonthCol, 2}, {s.YearCol, 2}});
    case TALVO_ERR_START_TIME_L1:
    case TALVO_ERR_START_TIME_L2:
    case TALVO_ERR_START_TIME_L3:
      return Field("start time invalid", s.TimeHhLine,
                   {{s.TimeHhCol, 2}, {s.TimeMmCol, 2}, {s.TimeSsCol, 2}, {s.AmPmCol, 2}});
    case TALVO_ERR_DURATION_L1:
    case TALVO_ERR_DURATION_L4:
      return Field("duration invalid", s.LenMmLine,
                   {{s.LenHhCol, 2}, {s.LenMmCol, std::max<unsigned>(s.LenMmLen, 1)},
                    {s.LenSsCol, std::max<unsigned>(s.LenSsLen, 1)}});
    case TALVO_ERR_END_TIME_L3:
    case TALVO_ERR_END_TIME_L4:
      return Field("end time invalid", s.EndHhLine, {{s.EndHhCol, 2}, {s.EndMmCol, 2}});
    case TALVO_ERR_END_SECONDS_L3:
    case TALVO_ERR_END_SECONDS_L4:
      return Field("end seconds invalid", s.EndHhLine, {{s.EndSsCol, 2}});
    case TALVO_ERR_INDEX:
      return Field("INDEX field is not an integer", s.IndexLine, {{s.IndexCol, s.IndexLen}});
    case TALVO_ERR_PULSES:
      return Field("PULSES field is not a number", s.PulsesLine, {{s.PulsesCol, s.PulsesLen}});
    case TALVO_ERR_EXTENSION:
      if (s.ExtCol == 0) return Words("no extension: EXT_POS is not set");
      return Field("no extension, or extension not letters and digits", s.ExtLine, {{s.ExtCol, s.ExtLen}});
    case TALVO_ERR_LOCAL_DATE:
      return Field("local call: date invalid", s.LclMonthLine,
                   {{s.LclDayCol, 2}, {s.LclMonthCol, 2}, {s.LclYearCol, 2}});
    case TALVO_ERR_LOCAL_TIME:
      return Field("local call: start time invalid", s.LclTimeHhLine, {{s.LclTimeHhCol, 2}, {s.LclTimeMmCol, 2}});
    case TALVO_ERR_LOCAL_NUMBER:
      return Field("local call: no called extension", s.LclTerLine, {{s.LclTerCol, s.LclTerLen}});
    case TALVO_ERR_DUTY_DATE:
      return Field("duty call: date invalid", s.DcMonthLine, {{s.DcDayCol, 2}, {s.DcMonthCol, 2}, {s.DcYearCol, 2}});
    case TALVO_ERR_DUTY_TIME:
      return Field("duty call: start time invalid", s.DcTimeHhLine, {{s.DcTimeHhCol, 2}, {s.DcTimeMmCol, 2}});
    case TALVO_ERR_DUTY_EXTENSION:
      return Field("duty call: no extension", s.DcExtLine, {{s.DcExtCol, s.DcExtLen}});
    case TALVO_ERR_DUTY_CODE:
      return Field("duty call: no code characters", s.DcTrn[0].Line,
                   {{s.DcTrn[0].Col, 1}, {s.DcTrn[1].Col, 1}, {s.DcTrn[2].Col, 1}, {s.DcTrn[3].Col, 1}});
    case TALVO_ERR_EXT_RANGE_OR_PRV_CHK1: {
      const std::string range = "EXT_RANGE_ST..EXT_RANGE_END (" + std::to_string(s.ExtRangeSt) + ".." +
                                std::to_string(s.ExtRangeEnd) + ")";
      const std::size_t at = s.ExtLine - 1u;
      const long n = at < r.texts.size() ? LeadingNumber(Trim(Cut(r.texts[at], s.ExtCol, s.ExtLen))) : 0;
      const bool outside = !s.SaveTrnkExt && (n < s.ExtRangeSt || n > s.ExtRangeEnd);
      if (!s.PrvCalls || outside) return Field("extension outside " + range, s.ExtLine, {{s.ExtCol, s.ExtLen}});
      return prv_refused(1);
    }
    case TALVO_ERR_PRV_CHK2:
    case TALVO_ERR_PRV_CHK3:
    case TALVO_ERR_PRV_CHK4:
      return prv_refused(code - TALVO_ERR_PRV_CHK2 + 2);
    case TALVO_ERR_RING_TIME:
      return Field("ring time invalid", s.RingSsLine,
                   {{s.RingMmCol, std::max<unsigned>(s.RingMmLen, 1)}, {s.RingSsCol, std::max<unsigned>(s.RingSsLen, 1)}});
    case TALVO_ERR_NONE:
      return Words("the call was refused without a recorded reason");
    default:
      break;
  }
  if (code >= TALVO_ERR_CHK1 && code <= TALVO_ERR_CHK6) {
    const CheckEntry& c = s.Chk[static_cast<std::size_t>(code - TALVO_ERR_CHK1)];
    return Field(MarkerFailure("CHK" + std::to_string(code - TALVO_ERR_CHK1 + 1), c), c.Line,
                 {{c.Col, static_cast<unsigned>(c.Text.view().size())}});
  }
  if (code >= TALVO_ERR_SPC1 && code <= TALVO_ERR_SPC6) {
    const BlankEntry& b = s.Spc[static_cast<std::size_t>(code - TALVO_ERR_SPC1)];
    return Field("SPC" + std::to_string(code - TALVO_ERR_SPC1 + 1) + ": column " + std::to_string(b.Col) +
                     " is not blank",
                 b.Line, {{b.Col, 1}});
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
  if (kind == CallKind::kNormal && n < s_.LineCount) {
    std::vector<std::string> wanted;
    MarkerWords(s_.Chk, static_cast<unsigned>(n + 1), wanted);
    std::string reason = "the input ended before line " + std::to_string(n + 1) + " of " +
                         std::to_string(s_.LineCount) + " of the call";
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
  MarkerWords(s_.Chk, 1, normal);
  for (const BlankEntry& b : s_.Spc) {
    if (b.Line == 1 && b.Col != 0) normal.push_back("a blank at column " + std::to_string(b.Col));
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
  if (s_.LocalCalls) other("local call", s_.LclChk);
  if (s_.DutyCall) other("duty call", s_.DcChk);
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
