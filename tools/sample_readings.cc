#include "tools/sample_readings.h"

#include <algorithm>
#include <optional>

#include "tools/field_spans.h"
#include "tools/record_rows.h"
#include "tools/report_run.h"

namespace talvo::tool {
namespace {

// A call of the sample: the lines of a stretch that the driver took for a
// call (a record, or a call it refused), and its kind.
struct SampleCall {
  LineSpan lines;
  CallLayout layout;
};

std::string_view LayoutHeading(CallLayout layout) {
  switch (layout) {
    case CallLayout::kNormal: return "calls";
    case CallLayout::kLocal: return "local calls";
    case CallLayout::kDuty: return "duty calls";
  }
  return "calls";
}

bool IsBlankText(std::string_view text) {
  return std::all_of(text.begin(), text.end(), [](char c) { return c == ' '; });
}

void Pad(std::string& out, std::size_t start, std::size_t width) {
  const std::size_t used = out.size() - start;
  out.append(used < width ? width - used : 1, ' ');
}

}  // namespace

int WriteSampleReadings(const std::string& settings, const std::string& sample, Output& out) {
  const ReportRun run = RunReport(settings, sample);
  const RejectExplainer reasons(run.settings);
  const std::vector<FieldSpan> spans = ConfiguredSpans(run.settings);
  std::vector<SampleCall> calls;
  for (const Stretch& s : run.stretches) {
    if (s.lines.count() == 0 || (!s.is_record && s.reject_kind == RejectKind::kSkipped)) continue;
    if (const auto layout = StartedLayout(reasons.KindStartedBy(run.lines[s.lines.first - 1]))) {
      calls.push_back({s.lines, *layout});
    }
  }

  std::string& o = out.buffer();
  o += "\nsample: " + sample + ", " + std::to_string(run.lines.size()) + " lines, " + std::to_string(calls.size()) +
       " taken for calls\n";
  std::vector<std::string> warnings;
  for (const CallLayout layout : {CallLayout::kNormal, CallLayout::kLocal, CallLayout::kDuty}) {
    std::vector<const SampleCall*> of_layout;
    for (const SampleCall& c : calls) {
      if (c.layout == layout) of_layout.push_back(&c);
    }
    if (of_layout.empty()) continue;
    const std::size_t shown = std::min(of_layout.size(), kSampleCallsShown);
    std::size_t start = o.size();
    o += "\n";
    o.append(LayoutHeading(layout));
    Pad(o, start, 24);
    for (std::size_t i = 0; i < shown; ++i) {
      const std::size_t cell = o.size();
      const LineSpan& lines = of_layout[i]->lines;
      o += lines.count() == 1 ? "line " + std::to_string(lines.first)
                              : "lines " + std::to_string(lines.first) + "-" + std::to_string(lines.last);
      Pad(o, cell, 22);
    }
    o += "\n";
    for (const FieldSpan& span : spans) {
      if (span.layout != layout || !span.in_force || span.role != SpanRole::kField) continue;
      start = o.size();
      o += SpanName(span);
      Pad(o, start, 24);
      std::size_t read = 0, blank = 0, not_digits = 0;
      for (std::size_t i = 0; i < of_layout.size(); ++i) {
        const SampleCall& c = *of_layout[i];
        const bool has_line = span.line <= c.lines.count();
        const std::string_view text = has_line ? SpanText(run.lines[c.lines.first + span.line - 2], span) : "";
        if (has_line) {
          ++read;
          blank += IsBlankText(text) ? 1u : 0u;
          not_digits += span.digits && !IsDigitsOrBlanks(text) ? 1u : 0u;
        }
        if (i >= shown) continue;
        const std::size_t cell = o.size();
        if (has_line) {
          // Blanks before a value count, blanks after it do not.
          std::string_view value = text;
          while (!value.empty() && value.back() == ' ') value.remove_suffix(1);
          o += '"';
          AppendReadable(o, value, 16);
          o += '"';
        } else {
          o += "(no line " + std::to_string(span.line) + ")";
        }
        Pad(o, cell, 22);
      }
      while (!o.empty() && o.back() == ' ') o.pop_back();
      o += "\n";
      out.EndRow();
      const std::string every = std::string(" on every one of the ") + std::to_string(read) + " " +
                                std::string(LayoutHeading(layout)) + " of the sample";
      if (read > 0 && blank == read) {
        warnings.push_back(SpanName(span) + " reads blanks" + every);
      } else if (read > 0 && not_digits == read) {
        warnings.push_back(SpanName(span) + " reads something other than digits" + every);
      }
    }
  }
  o += "\n" + std::to_string(warnings.size()) + " sample warning(s)\n";
  for (const std::string& w : warnings) o += "warning: " + w + "\n";
  out.Flush();
  return static_cast<int>(warnings.size());
}

}  // namespace talvo::tool
