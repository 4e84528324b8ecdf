#include "tools/explain_command.h"

#include <unistd.h>

#include <CLI/CLI.hpp>

#include <algorithm>
#include <cstdlib>
#include <optional>

#include "tools/field_spans.h"
#include "tools/layouts_command.h"
#include "tools/record_rows.h"
#include "tools/report_run.h"

namespace talvo::tool {
namespace {

// How far from its column a marker's text is looked for when it is missing:
// columns a few off are the common slip.
constexpr int kShiftSearch = 3;
// The widest part of a line shown, when no field lies further right.
constexpr std::size_t kShownColumns = 400;

struct Paint {
  bool on;
  std::string_view Green() const { return on ? "\x1b[32m" : ""; }
  std::string_view Red() const { return on ? "\x1b[31m" : ""; }
  std::string_view Dim() const { return on ? "\x1b[2m" : ""; }
  std::string_view Bold() const { return on ? "\x1b[1m" : ""; }
  std::string_view Reset() const { return on ? "\x1b[0m" : ""; }
};

std::string_view LayoutWords(CallLayout layout) {
  switch (layout) {
    case CallLayout::kNormal: return "call";
    case CallLayout::kLocal: return "local call";
    case CallLayout::kDuty: return "duty call";
  }
  return "call";
}

std::string_view Trimmed(std::string_view s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
  while (!s.empty() && s.back() == ' ') s.remove_suffix(1);
  return s;
}

void Quote(std::string& out, std::string_view text) {
  out += '"';
  AppendReadable(out, text, 60);
  out += '"';
}

void PadTo(std::string& out, std::size_t start, std::size_t width) {
  const std::size_t used = out.size() - start;
  out.append(used < width ? width - used : 1, ' ');
}

// The column where a missing marker's text stands within kShiftSearch
// columns of its own, nearest first; 0 when it is not there.
unsigned FindNearby(std::string_view line, const FieldSpan& span) {
  for (int d = 1; d <= kShiftSearch; ++d) {
    for (const int sign : {1, -1}) {
      const int column = static_cast<int>(span.column) + sign * d;
      if (column < 1) continue;
      FieldSpan moved = span;
      moved.column = static_cast<unsigned>(column);
      if (SpanMatches(line, moved)) return moved.column;
    }
  }
  return 0;
}

class Explainer {
 public:
  Explainer(const ExplainOptions& options, const ReportRun& run, Output& out)
      : options_(options), run_(run), out_(out), paint_{options.colour}, spans_(ConfiguredSpans(run.settings)),
        reasons_(run.settings) {}

  void Write() {
    std::string& o = out_.buffer();
    o += "settings: " + options_.settings + "; a call spans " + std::to_string(run_.settings.line_count) +
         (run_.settings.line_count == 1 ? " line" : " lines") + "; " + reasons_.CallStartWords() + "\n";
    out_.EndRow();
    // Which stretch every line went into.
    std::vector<std::size_t> stretch_of(run_.lines.size() + 1, SIZE_MAX);
    for (std::size_t i = 0; i < run_.stretches.size(); ++i) {
      const LineSpan& span = run_.stretches[i].lines;
      for (uint64_t n = span.first; n != 0 && n <= span.last && n < stretch_of.size(); ++n) stretch_of[n] = i;
    }
    const uint64_t last = std::min<uint64_t>(options_.last_line, run_.lines.size());
    for (uint64_t n = options_.first_line; n <= last; ++n) {
      const std::size_t at = stretch_of[n];
      if (at == SIZE_MAX) continue;
      const Stretch& s = run_.stretches[at];
      Line(n, s);
      if (n == s.lines.last || n == last) Outcome(s);
      out_.EndRow();
    }
    out_.Flush();
  }

 private:
  void Line(uint64_t n, const Stretch& s) {
    std::string& o = out_.buffer();
    const std::string_view text = run_.lines[n - 1];
    const bool skipped = !s.is_record && s.reject_kind == RejectKind::kSkipped;
    o += "\n";
    o += paint_.Bold();
    o += "line " + std::to_string(n);
    o += paint_.Reset();
    if (skipped && Trimmed(text).empty()) {
      o += ": blank line, skipped\n";
      return;
    }
    const std::optional<CallLayout> layout = StartedLayout(reasons_.KindStartedBy(run_.lines[s.lines.first - 1]));
    const unsigned call_line = static_cast<unsigned>(n - s.lines.first + 1);
    if (skipped || !layout) {
      o += ": starts no call, skipped\n";
    } else {
      o += ": line " + std::to_string(call_line) + " of a " + std::string(LayoutWords(*layout));
      if (s.lines.count() > 1) o += " on lines " + std::to_string(s.lines.first) + "-" + std::to_string(s.lines.last);
      o += "\n";
    }
    // The spans shown: those of this line of the call; on a line that starts
    // nothing, the line-1 tests of every kind of call.
    std::vector<const FieldSpan*> shown;
    for (const FieldSpan& span : spans_) {
      if (!span.in_force) continue;
      if (skipped || !layout) {
        const bool start_test = span.line == 1 && span.role != SpanRole::kField && span.switched_by != "IN_CALLS" &&
                                span.switched_by != "PRV_CALLS";
        if (start_test) shown.push_back(&span);
      } else if (span.layout == *layout && span.line == call_line) {
        shown.push_back(&span);
      }
    }
    std::stable_sort(shown.begin(), shown.end(),
                     [](const FieldSpan* a, const FieldSpan* b) { return a->column < b->column; });
    Ruler(text, shown);
    for (const FieldSpan* span : shown) SpanRow(text, *span);
    if (skipped || !layout) ShiftNote(text, shown);
  }

  void Ruler(std::string_view text, const std::vector<const FieldSpan*>& shown) {
    // A line without ends (a binary file) is cut: the ruler stops past the
    // last field and at most kShownColumns.
    std::size_t width = std::clamp<std::size_t>(text.size(), 10, kShownColumns);
    for (const FieldSpan* span : shown) width = std::max<std::size_t>(width, span->last_column());
    std::string& o = out_.buffer();
    o += paint_.Dim();
    o += "  ";
    for (std::size_t c = 1; c <= width; ++c) o += c % 10 == 0 ? static_cast<char>('0' + (c / 10) % 10) : ' ';
    o += "\n  ";
    for (std::size_t c = 1; c <= width; ++c) o += static_cast<char>('0' + c % 10);
    o += paint_.Reset();
    o += "\n  ";
    AppendReadable(o, text, width);
    o += "\n";
    // Under the text: [..] for a field, ^ for a marker's text, _ for a column
    // that must be blank.
    std::string marks(width, ' ');
    for (const FieldSpan* span : shown) {
      const std::size_t first = span->column - 1;
      const std::size_t last = span->last_column() - 1;
      for (std::size_t c = first; c <= last; ++c) {
        if (span->role == SpanRole::kMarker) {
          marks[c] = '^';
        } else if (span->role == SpanRole::kBlank) {
          marks[c] = '_';
        } else {
          marks[c] = c == first && c == last ? '|' : c == first ? '[' : c == last ? ']' : '-';
        }
      }
    }
    while (!marks.empty() && marks.back() == ' ') marks.pop_back();
    o += "  " + marks + "\n";
  }

  void SpanRow(std::string_view text, const FieldSpan& span) {
    std::string& o = out_.buffer();
    const std::size_t start = o.size();
    o += "    " + SpanName(span);
    PadTo(o, start, 26);
    const std::string_view found = SpanText(text, span);
    if (span.role != SpanRole::kField) {
      const bool ok = SpanMatches(text, span);
      Quote(o, found);
      o += ' ';
      o += ok ? paint_.Green() : paint_.Red();
      o += ok ? "matched" : "not matched";
      o += paint_.Reset();
      if (!ok) {
        o += ": wants ";
        Quote(o, span.role == SpanRole::kBlank ? std::string_view(" ") : std::string_view(span.marker));
        if (const unsigned at = FindNearby(text, span); at != 0) {
          o += ", which stands at column " + std::to_string(at);
        }
      }
      o += '\n';
      return;
    }
    if (span.width == 0) {
      o += "reads nothing: " + span.width_key + " is 0\n";
      return;
    }
    if (span.column > text.size()) {
      o += "past the end of the line\n";
      return;
    }
    o += "-> ";
    Quote(o, Trimmed(found));
    if (Trimmed(found).empty()) {
      o += " blank";
    } else if (span.digits && !IsDigitsOrBlanks(found)) {
      o += ' ';
      o += paint_.Red();
      o += "not digits";
      o += paint_.Reset();
    }
    o += '\n';
  }

  // On a line that starts no call: when every failed test of a call's first
  // line would match the same few columns over, say so.
  void ShiftNote(std::string_view text, const std::vector<const FieldSpan*>& shown) {
    std::vector<const FieldSpan*> failed;
    for (const FieldSpan* span : shown) {
      if (span->layout == CallLayout::kNormal && !SpanMatches(text, *span)) failed.push_back(span);
    }
    if (failed.empty()) return;
    for (int d = 1; d <= kShiftSearch; ++d) {
      for (const int shift : {d, -d}) {
        const bool all = std::all_of(shown.begin(), shown.end(), [&](const FieldSpan* span) {
          if (span->layout != CallLayout::kNormal) return true;
          FieldSpan moved = *span;
          moved.column = static_cast<unsigned>(std::max(1, static_cast<int>(span->column) + shift));
          return SpanMatches(text, moved);
        });
        if (!all) continue;
        out_.buffer() += "    every test of a call's first line matches " + std::to_string(d) +
                         (d == 1 ? " column" : " columns") + (shift > 0 ? " to the right" : " to the left") +
                         ": are the settings' columns " + std::to_string(d) + " off?\n";
        return;
      }
    }
  }

  void Outcome(const Stretch& s) {
    std::string& o = out_.buffer();
    if (s.is_record) {
      o += "  ";
      o += paint_.Green();
      o += "=> record, ";
      o.append(KindWord(s.record_kind));
      o += paint_.Reset();
      if (s.error_code != 0) {
        o += " (error " + std::to_string(s.error_code) + " recorded beside it, refusing nothing: ";
        o.append(ErrorWords(s.error_code));
        o += ")";
      }
      o += "\n     " + s.dump + "\n";
      return;
    }
    if (s.reject_kind == RejectKind::kSkipped) return;
    o += "  ";
    o += paint_.Red();
    o.append(RejectWriter::StatusWord(s.reject_kind));
    o += paint_.Reset();
    if (s.reject_kind == RejectKind::kRejected) {
      o += ", error " + std::to_string(s.error_code) + " (";
      o.append(ErrorWords(s.error_code));
      o += ")";
    }
    o += ": " + s.reason + "\n";
    if (!s.dump.empty()) o += "     ~ " + s.dump + "\n";
  }

  const ExplainOptions& options_;
  const ReportRun& run_;
  Output& out_;
  Paint paint_;
  std::vector<FieldSpan> spans_;
  RejectExplainer reasons_;
};

// "A-B", "A-" or "A": the lines shown.
std::string ReadLineRange(const std::string& text, ExplainOptions& options) {
  const std::size_t dash = text.find('-');
  const auto number = [](std::string_view s, uint64_t& n) {
    if (s.empty() || s.size() > 18 || !std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; })) {
      return false;
    }
    n = std::stoull(std::string(s));
    return n > 0;
  };
  uint64_t first = 0;
  uint64_t last = UINT64_MAX;
  const std::string_view view(text);
  const bool ok = number(view.substr(0, std::min(dash, text.size())), first) &&
                  (dash == std::string::npos ? (last = first, true)
                                             : dash + 1 == text.size() || number(view.substr(dash + 1), last));
  if (!ok || last < first) return "not a range of lines A-B (from 1, A <= B): " + text;
  options.first_line = first;
  options.last_line = last;
  return {};
}

}  // namespace

CLI::App* AddExplainCommand(CLI::App& app, ExplainOptions& options) {
  CLI::App* cmd = app.add_subcommand("explain", "Show each report line beside the settings: what every key reads, "
                                                "which markers match, and why a call was refused");
  cmd->add_option("--settings", options.settings, "Settings file (section [pbx])")->required()->type_name("FILE");
  cmd->add_option("report", options.report, "Report file; - for standard input")->required()->type_name("REPORT");
  cmd->add_option_function<std::string>(
         "--lines",
         [&options](const std::string& text) {
           if (const std::string problem = ReadLineRange(text, options); !problem.empty()) {
             throw CLI::ValidationError("--lines", problem);
           }
         },
         "Only these lines of the report (the driver still reads the lines before them)")
      ->type_name("A-B");
  AddLayoutOption(*cmd, "--settings", options.settings);
  return cmd;
}

int RunExplain(const ExplainOptions& options, Output& out) {
  // The lines after the last one shown are read as far as a call can reach,
  // so that the call on the last line shown is settled as the driver settles it.
  const uint64_t reach = options.last_line > UINT64_MAX - 8 ? UINT64_MAX : options.last_line + 7;
  const ReportRun run = RunReport(options.settings, options.report, reach);
  ExplainOptions shown = options;
  // Colour only on a terminal, and not when NO_COLOR is set.
  const char* term = std::getenv("TERM");
  shown.colour = ::isatty(1) == 1 && std::getenv("NO_COLOR") == nullptr &&
                 (term == nullptr || std::string_view(term) != "dumb");
  Explainer(shown, run, out).Write();
  return 0;
}

}  // namespace talvo::tool
