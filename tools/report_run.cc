#include "tools/report_run.h"

#include <unistd.h>

#include <memory>

#include "config/load_settings.h"
#include "driver/record_dump.h"
#include "tools/decode_command.h"
#include "tools/files.h"
#include "tools/line_reader.h"

namespace talvo::tool {
namespace {

class Collector final : public HostSink {
 public:
  Collector(const RejectExplainer& explainer, std::string_view input, std::vector<Stretch>& out)
      : explainer_(explainer), input_(input), out_(out) {}

  void OnRecord(const DecodedRecord& r) override {
    Stretch s;
    s.lines = r.lines;
    s.is_record = true;
    s.record_kind = r.kind;
    s.error_code = r.error_code;
    s.dump = DumpRecord(*r.record, r.call_date, r.call_index);
    out_.push_back(std::move(s));
  }

  void OnReject(const Reject& r) override {
    Stretch s;
    s.lines = r.lines;
    s.reject_kind = r.kind;
    s.error_code = r.error_code;
    s.why = explainer_.Explain(r);
    s.reason = RejectExplainer::ReadableLine(r, s.why, input_);
    if (r.record != nullptr) s.dump = DumpRecord(*r.record, r.call_date, r.call_index);
    out_.push_back(std::move(s));
  }

 private:
  const RejectExplainer& explainer_;
  std::string_view input_;
  std::vector<Stretch>& out_;
};

}  // namespace

std::optional<CallLayout> StartedLayout(RejectExplainer::CallKind kind) {
  switch (kind) {
    case RejectExplainer::CallKind::kNormal: return CallLayout::kNormal;
    case RejectExplainer::CallKind::kLocal: return CallLayout::kLocal;
    case RejectExplainer::CallKind::kDuty: return CallLayout::kDuty;
    case RejectExplainer::CallKind::kNone: break;
  }
  return std::nullopt;
}

std::vector<std::string> ReadReportLines(const std::string& report, uint64_t last_line) {
  std::vector<std::string> lines;
  const int fd = OpenInput(report);
  LineReader reader(fd, report);
  std::string_view line;
  try {
    while (lines.size() < last_line && reader.Next(&line)) lines.emplace_back(line);
  } catch (...) {
    if (fd > 2) ::close(fd);
    throw;
  }
  if (fd > 2) ::close(fd);
  return lines;
}

ReportRun RunReport(const std::string& settings, const std::string& report, uint64_t last_line) {
  const std::string settings_bytes = ReadWholeFile(settings, "settings file");
  ReportRun run;
  run.lines = ReadReportLines(report, last_line);

  const std::unique_ptr<Env> env = NewSystemEnv();
  LoadDriverSettings(*env, settings, run.settings);
  const RejectExplainer explainer(run.settings);
  LazyTempDir temp;
  std::unique_ptr<HostSession> session = OpenSession(*env, settings, settings_bytes, temp);
  session->Start();
  Collector sink(explainer, report, run.stretches);
  for (std::size_t i = 0; i < run.lines.size(); ++i) session->Feed(run.lines[i], i + 1, sink);
  session->EndOfInput(sink);
  session->End();
  return run;
}

}  // namespace talvo::tool
