#include "tools/decode_command.h"

#include <signal.h>
#include <unistd.h>

#include <array>
#include <csignal>
#include <map>
#include <memory>
#include <optional>

#include "driver/record_dump.h"
#include "tools/files.h"
#include "tools/host_session.h"
#include "tools/line_reader.h"
#include "tools/settings_report.h"
#include "tools/table_file.h"

namespace talvo::tool {
namespace {

volatile std::sig_atomic_t g_stop = 0;

extern "C" void OnStopSignal(int) { g_stop = 1; }

// SIGINT and SIGTERM end the run cleanly: reading stops, the lines still
// buffered and the summary are reported. No SA_RESTART, so a waiting read
// returns at once.
void CatchStopSignals() {
  struct sigaction sa {};
  sa.sa_handler = OnStopSignal;
  sigemptyset(&sa.sa_mask);
  sa.sa_flags = 0;
  ::sigaction(SIGINT, &sa, nullptr);
  ::sigaction(SIGTERM, &sa, nullptr);
}

struct Stats {
  uint64_t lines_read = 0;
  uint64_t lines_in_records = 0;
  uint64_t lines_reported = 0;
  std::array<uint64_t, 4> records{};  // by RecordKind
  struct Tally {
    uint64_t rows = 0;
    uint64_t lines = 0;
  };
  // By status and error code.
  std::map<std::pair<int, int32_t>, Tally> rejects;
};

class DecodeSink final : public HostSink {
 public:
  DecodeSink(const DecodeOptions& options, Output& records, Output& rejects, Output& err, Stats& stats)
      : options_(options),
        record_writer_(records, options.format, options.line_numbers),
        reject_writer_(rejects, options.format),
        err_(err),
        stats_(stats),
        reject_header_due_(options.format == RowFormat::kCsv) {
    record_writer_.Header();
    // A reject file always starts with its header; on standard error the
    // header waits for the first reject.
    if (!options.rejects.empty()) WriteRejectHeader();
  }

  void set_input(const std::string& name) { input_ = name; }

  void OnLine(const LineCall& call) override {
    if (!options_.trace) return;
    std::string& o = err_.buffer();
    o += "trace: " + input_ + ":" + std::to_string(call.line) + ": result " + std::to_string(call.result) + " (";
    o.append(ResultWords(call.result));
    o += "), error " + std::to_string(call.error_code) + " (";
    o.append(ErrorWords(call.error_code));
    o += ")";
    if (call.carried) o += ", carried over to the next record";
    o += '\n';
    err_.EndRow();
  }

  void OnRecord(const DecodedRecord& r) override {
    stats_.records[static_cast<std::size_t>(r.kind)]++;
    stats_.lines_in_records += r.lines.count();
    record_writer_.Write(r, input_);
    if (options_.trace) Dump("=", *r.record, r.call_date, r.call_index);
  }

  void OnReject(const Reject& r) override {
    auto& tally = stats_.rejects[{static_cast<int>(r.kind), r.kind == RejectKind::kRejected ? r.error_code : 0}];
    tally.rows++;
    tally.lines += r.lines.count();
    stats_.lines_reported += r.lines.count();
    if (options_.trace && r.record != nullptr) Dump("~", *r.record, r.call_date, r.call_index);
    if (reject_header_due_) WriteRejectHeader();
    reject_writer_.Write(r, input_);
  }

 private:
  void WriteRejectHeader() {
    reject_writer_.Header();
    reject_header_due_ = false;
  }
  void Dump(std::string_view mark, const CallRecord& record, std::string_view date, int32_t index) {
    std::string& o = err_.buffer();
    o += "trace:   ";
    o.append(mark);
    o += ' ';
    o += DumpRecord(record, date, index);
    o += '\n';
    err_.EndRow();
  }

  const DecodeOptions& options_;
  RecordWriter record_writer_;
  RejectWriter reject_writer_;
  Output& err_;
  Stats& stats_;
  std::string input_;
  bool reject_header_due_;
};

// Open input descriptors, closed at the end.
class Inputs {
 public:
  explicit Inputs(const std::vector<std::string>& names) {
    for (const std::string& name : names) fds_.push_back(OpenInput(name));
  }
  ~Inputs() {
    for (int fd : fds_) {
      if (fd > 2) ::close(fd);
    }
  }
  Inputs(const Inputs&) = delete;
  Inputs& operator=(const Inputs&) = delete;
  int fd(std::size_t i) const { return fds_[i]; }

 private:
  std::vector<int> fds_;
};

std::string Plural(uint64_t n, std::string_view one, std::string_view many) {
  return std::to_string(n) + " " + std::string(n == 1 ? one : many);
}

void WriteSummary(const Stats& st, std::size_t inputs, const std::string& table_note, Output& err) {
  std::string& o = err.buffer();
  o += "talvo: " + Plural(st.lines_read, "line", "lines") + " read from " + Plural(inputs, "input", "inputs") +
       ": " + std::to_string(st.lines_in_records) + " in records, " + std::to_string(st.lines_reported) +
       " reported\n";
  o += "talvo: records: ";
  uint64_t total = 0;
  for (std::size_t k = 0; k < st.records.size(); ++k) {
    if (k > 0) o += ", ";
    o += std::to_string(st.records[k]) + " ";
    o.append(KindWord(static_cast<RecordKind>(k)));
    total += st.records[k];
  }
  o += " (" + std::to_string(total) + " in all)\n";
  for (const auto& [key, tally] : st.rejects) {
    const auto kind = static_cast<RejectKind>(key.first);
    Reject sample;
    sample.kind = kind;
    sample.error_code = key.second;
    o += "talvo: ";
    o.append(RejectWriter::StatusWord(kind));
    o += ": " + Plural(tally.lines, "line", "lines") + " in " + Plural(tally.rows, "row", "rows") + ", ";
    if (kind == RejectKind::kRejected) o += "error " + std::to_string(key.second) + ", ";
    o.append(RejectWriter::Reason(sample));
    o += '\n';
  }
  o += "talvo: " + table_note + "\n";
  err.Flush();
}

// Describes the conversion table the run uses, for the summary.
std::string TableNote(const std::string& source, const std::optional<std::string>& bytes) {
  if (!bytes) return "conversion table: none (" + source + " not found); no call is re-charged";
  const TableInfo info = InspectTable(*bytes);
  std::size_t bad = 0;
  for (const TableEntryInfo& e : info.entries) bad += e.problems.empty() ? 0u : 1u;
  return "conversion table: " + source + ", " + Plural(info.entries.size(), "entry", "entries") +
         (bad > 0 ? " (" + std::to_string(bad) + " unusable; see talvo table dump)" : "");
}

}  // namespace

int RunDecode(const DecodeOptions& options, Output& err) {
  // Everything named on the command line is opened or read before the driver
  // is touched, so a missing file stops the run before any output.
  const std::string settings_bytes = ReadWholeFile(options.settings, "settings file");
  if (!ListSectionKeys(settings_bytes, "pbx").found) {
    err.Write("talvo: warning: " + options.settings + " has no section [pbx]; every key takes its default\n");
  }
  std::optional<std::string> table_bytes;
  std::string table_source;
  if (!options.table.empty()) {
    table_bytes = ReadWholeFile(options.table, "conversion table");
    table_source = options.table;
  } else {
    table_source = std::string(kTableFileName) + " in the current directory";
    if (::access(kTableFileName, F_OK) == 0) table_bytes = ReadWholeFile(kTableFileName, "conversion table");
  }
  const std::vector<std::string> names = options.inputs.empty() ? std::vector<std::string>{"-"} : options.inputs;
  Inputs inputs(names);
  std::optional<Output> output_file;
  if (!options.output.empty()) output_file.emplace(Output::OpenFile(options.output));
  Output stdout_output(1, "standard output");
  Output& records = output_file ? *output_file : stdout_output;
  std::optional<Output> rejects_file;
  if (!options.rejects.empty()) rejects_file.emplace(Output::OpenFile(options.rejects));
  Output& rejects = rejects_file ? *rejects_file : err;

  std::unique_ptr<TempDir> temp;
  auto temp_dir = [&]() -> TempDir& {
    if (!temp) temp = std::make_unique<TempDir>();
    return *temp;
  };

  // The driver cuts a settings file name to 80 characters: a longer name is
  // replaced by a copy of the file under a short one.
  std::optional<HostSession> session;
  if (options.settings.size() <= kDriverNameLimit) {
    session.emplace(options.settings);
  } else {
    const std::string copy = temp_dir().Put("pbx.ini", settings_bytes);
    if (copy.size() <= kDriverNameLimit) {
      session.emplace(copy);
    } else {
      RunInDirectory(temp_dir().path(), [&] { session.emplace("pbx.ini"); });
    }
  }
  // The driver loads QUORCNVT.INT from the current directory when the run
  // starts, and never again during the run.
  if (!options.table.empty()) {
    temp_dir().Put(kTableFileName, *table_bytes);
    RunInDirectory(temp_dir().path(), [&] { session->Start(); });
  } else {
    session->Start();
  }

  Stats stats;
  DecodeSink sink(options, records, rejects, err, stats);
  CatchStopSignals();
  bool read_failed = false;
  for (std::size_t i = 0; i < names.size() && g_stop == 0; ++i) {
    FollowOptions follow;
    follow.follow = options.follow && i + 1 == names.size();
    follow.poll_ms = options.poll_ms;
    follow.stop = &g_stop;
    LineReader reader(inputs.fd(i), names[i], follow);
    reader.set_before_wait([&] {
      records.FlushLive();
      rejects.FlushLive();
      err.FlushLive();
    });
    sink.set_input(names[i]);
    try {
      std::string_view line;
      // A followed input drains what has arrived before it stops.
      while ((follow.follow || g_stop == 0) && reader.Next(&line)) {
        ++stats.lines_read;
        session->Feed(line, reader.line_number(), sink);
      }
    } catch (const IoError& e) {
      err.Write(std::string("talvo: ") + e.what() + "\n");
      read_failed = true;
    }
    session->EndOfInput(sink);
  }
  session->End();
  session.reset();

  records.Flush();
  rejects.Flush();
  if (!options.quiet) WriteSummary(stats, names.size(), TableNote(table_source, table_bytes), err);
  err.Flush();
  // A followed input ends with a signal; any other input ends by itself.
  const bool interrupted = g_stop != 0 && !options.follow;
  if (interrupted) err.Write("talvo: interrupted before the end of the input\n");
  err.Flush();
  if (read_failed || interrupted) return 2;
  return options.strict && stats.lines_reported > 0 ? 1 : 0;
}

}  // namespace talvo::tool
