#include "tools/decode_command.h"

#include <errno.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <csignal>
#include <map>
#include <memory>
#include <optional>
#include <tuple>

#include "config/load_settings.h"
#include "driver/record_dump.h"
#include "tools/files.h"
#include "tools/follow_state.h"
#include "tools/host_session.h"
#include "tools/line_reader.h"
#include "tools/reject_reasons.h"
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
  uint64_t lines_rejected = 0;  // rejected, incomplete and dropped
  uint64_t blank_skipped = 0;
  uint64_t other_skipped = 0;
  uint64_t readable_shown = 0;  // rejected stretches told on standard error
  uint64_t readable_held = 0;   // and those beyond the limit
  std::array<uint64_t, 4> records{};  // by RecordKind
  struct Tally {
    uint64_t rows = 0;
    uint64_t lines = 0;
  };
  // By status, error code and reason.
  std::map<std::tuple<int, int32_t, std::string>, Tally> rejects;
};

class DecodeSink final : public HostSink {
 public:
  DecodeSink(const DecodeOptions& options, const RejectExplainer& explainer, Output& records, Output* rejects,
             Output& err, Stats& stats)
      : HostSink(options.trace),
        options_(options),
        explainer_(explainer),
        record_writer_(records, options.format, options.line_numbers),
        err_(err),
        stats_(stats) {
    // A file that a followed run appends to has its header already.
    if (!records.appending()) record_writer_.Header();
    if (rejects != nullptr) {
      reject_writer_.emplace(*rejects, options.format);
      if (!rejects->appending()) reject_writer_->Header();
    }
  }

  void set_input(const std::string& name) { input_ = name; }

  void OnLine(const LineCall& call) override {
    if (!options_.trace) return;
    std::string& o = err_.buffer();
    o += "trace: " + input_ + ":" + std::to_string(call.line) + ": result " + std::to_string(call.result) + " (";
    o.append(ResultWords(call.result));
    o += "), error " + std::to_string(call.error_code) + " (";
    o.append(ErrorWords(call.error_code));
    // A record or a duty call was accepted: a code it carries was left by a
    // test that refuses nothing by itself, not by a failure.
    if (call.error_code != 0 && (call.result == TALVO_RESULT_RECORD || call.result == TALVO_RESULT_DUTY)) {
      o += "; left by a test that refused nothing: the call was accepted";
    }
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
    const RejectExplanation why = explainer_.Explain(r);
    if (r.kind == RejectKind::kSkipped) {
      (why.reason == "blank line" ? stats_.blank_skipped : stats_.other_skipped)++;
      if (reject_writer_ && options_.with_skipped) reject_writer_->Write(r, input_, why.reason);
      return;
    }
    auto& tally = stats_.rejects[{static_cast<int>(r.kind), r.kind == RejectKind::kRejected ? r.error_code : 0,
                                  why.reason}];
    tally.rows++;
    tally.lines += r.lines.count();
    stats_.lines_rejected += r.lines.count();
    if (options_.trace && r.record != nullptr) Dump("~", *r.record, r.call_date, r.call_index);
    if (reject_writer_) reject_writer_->Write(r, input_, RejectExplainer::RowReason(r, why));
    if (stats_.readable_shown < kReadableRejectLimit) {
      ++stats_.readable_shown;
      err_.Write(RejectExplainer::ReadableLine(r, why, input_) + "\n");
      err_.EndRow();
    } else {
      ++stats_.readable_held;
    }
  }

 private:
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
  const RejectExplainer& explainer_;
  RecordWriter record_writer_;
  std::optional<RejectWriter> reject_writer_;
  Output& err_;
  Stats& stats_;
  std::string input_;
};

// Watches the first 64 KB of an input for signs that it is no report at all
// (a binary file given by mistake): no line end, or many NUL bytes.
class BinarySniffer {
 public:
  // Looks at the next line; returns the words of the warning once, when the
  // input's first 64 KB (or all of it, `at_end`) look binary, else "".
  std::string Look(std::string_view line) {
    if (decided_) return {};
    const std::size_t room = kWindow - std::min<uint64_t>(seen_, kWindow);
    nuls_ += static_cast<uint64_t>(std::count(line.begin(), line.begin() + std::min(room, line.size()), '\0'));
    seen_ += line.size() + 1;
    ++lines_;
    return seen_ >= kWindow ? Decide() : std::string();
  }
  std::string AtEnd() { return decided_ ? std::string() : Decide(); }

 private:
  static constexpr uint64_t kWindow = 64 * 1024;
  std::string Decide() {
    decided_ = true;
    if (lines_ == 1 && seen_ > kWindow) return "no line end in its first 64 KB";
    const uint64_t window = std::min(seen_, kWindow);
    if (window >= 256 && nuls_ * 10 >= window) {
      return std::to_string(nuls_ * 100 / window) + " % of its first " + std::to_string(window / 1024) +
             " KB are NUL bytes";
    }
    return {};
  }
  uint64_t seen_ = 0;
  uint64_t nuls_ = 0;
  uint64_t lines_ = 0;
  bool decided_ = false;
};

// The system's platform layer with another day for today: yearless and
// day-of-year dates of an archived report resolve against the day it was
// printed up to.
class FixedTodayEnv final : public Env {
 public:
  FixedTodayEnv(Env& base, LocalDate today) : base_(base), today_(today) {}
  ProfileResult ReadProfileString(std::string_view file, std::string_view section, std::string_view key,
                                  std::string_view default_value, std::size_t size) override {
    return base_.ReadProfileString(file, section, key, default_value, size);
  }
  void FlushProfile(std::string_view file) override { base_.FlushProfile(file); }
  SharedReadResult ReadFileShared(std::string_view path, std::size_t max_bytes) override {
    return base_.ReadFileShared(path, max_bytes);
  }
  LocalDate Today() override { return today_; }
  void SleepMs(uint32_t milliseconds) override { base_.SleepMs(milliseconds); }

 private:
  Env& base_;
  LocalDate today_;
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

std::string InputName(const std::string& name) { return name == "-" ? "standard input" : name; }

void WriteSummary(const Stats& st, std::size_t inputs, const std::string& table_note, const RejectExplainer& explainer,
                  Output& err) {
  std::string& o = err.buffer();
  const uint64_t skipped = st.blank_skipped + st.other_skipped;
  o += "talvo: " + Plural(st.lines_read, "line", "lines") + " read from " + Plural(inputs, "input", "inputs") +
       " = " + std::to_string(st.lines_in_records) + " in records + " + std::to_string(st.lines_rejected) +
       " rejected + " + std::to_string(skipped) + " skipped\n";
  o += "talvo: records: ";
  uint64_t total = 0;
  for (std::size_t k = 0; k < st.records.size(); ++k) {
    if (k > 0) o += ", ";
    o += std::to_string(st.records[k]) + " ";
    o.append(KindWord(static_cast<RecordKind>(k)));
    total += st.records[k];
  }
  o += " (" + std::to_string(total) + " in all)\n";
  if (skipped > 0) {
    o += "talvo: skipped: ";
    if (st.blank_skipped > 0) o += Plural(st.blank_skipped, "blank line", "blank lines");
    if (st.blank_skipped > 0 && st.other_skipped > 0) o += ", ";
    if (st.other_skipped > 0) o += Plural(st.other_skipped, "line that starts no call", "lines that start no call");
    o += "\n";
  }
  // Most lines starting no call is the usual sign of columns that are off.
  if (st.other_skipped > st.lines_in_records) {
    o += "talvo: more lines started no call than went into records; " + explainer.CallStartWords() + "\n";
  }
  for (const auto& [key, tally] : st.rejects) {
    const auto& [kind, code, reason] = key;
    o += "talvo: ";
    o.append(RejectWriter::StatusWord(static_cast<RejectKind>(kind)));
    o += ": " + Plural(tally.lines, "line", "lines") + " in " + Plural(tally.rows, "row", "rows") + ", ";
    if (static_cast<RejectKind>(kind) == RejectKind::kRejected) o += "error " + std::to_string(code) + ", ";
    o += reason + "\n";
  }
  o += "talvo: " + table_note + "\n";
  err.Flush();
}

// Refuses, before anything is written, an output that would overwrite the
// other output or one of the files the run reads.
void CheckOutputsDiffer(const DecodeOptions& options, const std::vector<std::string>& inputs) {
  const FileIdentity records = options.output.empty() ? IdentifyDescriptor(1) : IdentifyPath(options.output);
  const std::string records_name = options.output.empty() ? "standard output" : options.output;
  struct Named {
    FileIdentity id;
    std::string name;
  };
  std::vector<Named> outputs = {{records, records_name}};
  if (!options.rejects.empty()) {
    const FileIdentity rejects = IdentifyPath(options.rejects);
    if (SameFile(records, rejects)) {
      throw IoError("the records (" + records_name + ") and the rejects (" + options.rejects +
                    ") would go to the same file; nothing was written");
    }
    outputs.push_back({rejects, options.rejects});
  }
  std::vector<Named> read = {{IdentifyPath(options.settings), options.settings}};
  if (!options.table.empty()) read.push_back({IdentifyPath(options.table), options.table});
  for (const std::string& name : inputs) {
    read.push_back({name == "-" ? IdentifyDescriptor(0) : IdentifyPath(name), InputName(name)});
  }
  for (const Named& out : outputs) {
    for (const Named& in : read) {
      if (SameFile(out.id, in.id)) {
        throw IoError("the output " + out.name + " is the file " + in.name + ", which is read; nothing was written");
      }
    }
  }
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

std::optional<LocalDate> ParseIsoDay(std::string_view text) {
  const auto digits = [&](std::size_t at, std::size_t n) {
    int v = 0;
    for (std::size_t i = at; i < at + n; ++i) {
      if (text[i] < '0' || text[i] > '9') return -1;
      v = v * 10 + (text[i] - '0');
    }
    return v;
  };
  if (text.size() != 10 || text[4] != '-' || text[7] != '-') return std::nullopt;
  const LocalDate d{digits(0, 4), digits(5, 2), digits(8, 2)};
  if (d.year < 1990 || d.year > 2089 || d.month < 1 || d.month > 12 || d.day < 1) return std::nullopt;
  static constexpr int kDays[12] = {31, 29, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  const bool leap = d.year % 4 == 0 && (d.year % 100 != 0 || d.year % 400 == 0);
  if (d.day > kDays[d.month - 1] || (d.month == 2 && d.day == 29 && !leap)) return std::nullopt;
  return d;
}

std::unique_ptr<HostSession> OpenSession(Env& env, const std::string& settings, const std::string& settings_bytes,
                                         LazyTempDir& temp) {
  // The driver cuts a settings file name to 80 characters: a longer name is
  // replaced by a copy of the file under a short one.
  if (settings.size() <= kDriverNameLimit) return std::make_unique<HostSession>(env, settings);
  const std::string copy = temp.get().Put("pbx.ini", settings_bytes);
  if (copy.size() <= kDriverNameLimit) return std::make_unique<HostSession>(env, copy);
  std::unique_ptr<HostSession> session;
  RunInDirectory(temp.get().path(), [&] { session = std::make_unique<HostSession>(env, "pbx.ini"); });
  return session;
}

namespace {

// Prints each warning `talvo settings` has about the settings, once. Returns
// true iff the run must stop (--strict and warnings).
bool WarnAboutSettings(const DecodeOptions& options, Output& err) {
  const std::size_t warnings = WriteSettingsWarnings(options.settings, err);
  if (options.strict && warnings > 0) {
    err.Write("talvo: --strict: the settings have warnings (see talvo settings " + options.settings +
              "); nothing was decoded\n");
    err.Flush();
    return true;
  }
  err.Flush();
  return false;
}

// The conversion table the run uses: --table, else QUORCNVT.INT in the
// current directory when there is one.
struct TableChoice {
  std::optional<std::string> bytes;
  std::string source;  // for the summary
};

TableChoice ReadTable(const DecodeOptions& options) {
  TableChoice table;
  if (!options.table.empty()) {
    table.bytes = ReadWholeFile(options.table, "conversion table");
    table.source = options.table;
  } else {
    table.source = std::string(kTableFileName) + " in the current directory";
    if (::access(kTableFileName, F_OK) == 0) table.bytes = ReadWholeFile(kTableFileName, "conversion table");
  }
  return table;
}

// A session on `env` with the settings loaded and the run started.
std::unique_ptr<HostSession> StartSession(const DecodeOptions& options, Env& env, const std::string& settings_bytes,
                                          const TableChoice& table, LazyTempDir& temp) {
  std::unique_ptr<HostSession> session = OpenSession(env, options.settings, settings_bytes, temp);
  // The driver loads QUORCNVT.INT from the current directory when the run
  // starts, and never again during the run.
  if (!options.table.empty()) {
    temp.get().Put(kTableFileName, *table.bytes);
    RunInDirectory(temp.get().path(), [&] { session->Start(); });
  } else {
    session->Start();
  }
  return session;
}

// Cuts the rows written after the saved position off the output, so that the
// calls they hold are written once, when they are decoded again.
void CutOutputBack(const std::string& output, uint64_t size, Output& err) {
  struct stat st {};
  if (::stat(output.c_str(), &st) != 0) return;
  const auto now = static_cast<uint64_t>(st.st_size);
  if (now > size) {
    if (::truncate(output.c_str(), static_cast<off_t>(size)) != 0) {
      throw IoError(DescribeError("cannot write", output, errno));
    }
    err.Write("talvo: " + output + ": " + std::to_string(now - size) +
              " bytes of rows written after the saved position cut off; their calls are decoded again\n");
  } else if (now < size) {
    err.Write("talvo: warning: " + output + " is shorter than the state says (" + std::to_string(now) + " of " +
              std::to_string(size) + " bytes): rows written by an earlier run are missing\n");
  }
  err.EndRow();
}

// Keeps --state up to date for the followed input.
class StateKeeper {
 public:
  StateKeeper(std::string path, LineReader& reader, HostSession& session, Output& records)
      : path_(std::move(path)), reader_(reader), session_(session), records_(records) {}

  // Resumes at the saved position when the file is the one the state names.
  void Resume(const FollowState& saved, int fd, Output& err) {
    struct stat st {};
    const bool same = ::fstat(fd, &st) == 0 && static_cast<uint64_t>(st.st_dev) == saved.device &&
                      static_cast<uint64_t>(st.st_ino) == saved.inode;
    if (same && static_cast<uint64_t>(st.st_size) >= saved.offset) {
      reader_.StartAt(saved.offset, saved.line);
      last_ = saved;
      return;
    }
    err.Write(std::string("talvo: ") + (same ? "the report is shorter than the saved position"
                                             : "the report is not the file the state names (replaced meanwhile)") +
              "; reading it from its start\n");
    err.EndRow();
  }

  void Line() { offsets_.Add(reader_.line_number(), reader_.line_offset()); }

  // Saves where the run is, once its rows are on disk.
  void Save() {
    FollowState s;
    s.device = reader_.device();
    s.inode = reader_.inode();
    const uint64_t held = session_.first_buffered_line();
    if (held == 0) {
      s.offset = reader_.unread_offset();
      s.line = reader_.line_number();
    } else if (const std::optional<uint64_t> at = offsets_.Find(held)) {
      s.offset = *at;
      s.line = held - 1;
    }  // else the call began in a file left behind: the current one from its start
    records_.Sync();
    s.output_size = records_.Size();
    if (s == last_) return;
    WriteFollowState(path_, s);
    last_ = s;
  }

 private:
  std::string path_;
  LineReader& reader_;
  HostSession& session_;
  Output& records_;
  LineOffsets offsets_;
  FollowState last_;
};

// Feeds every input to the session. Returns false when an input could not be
// read to its end.
bool DecodeInputs(const DecodeOptions& options, const std::vector<std::string>& names, Inputs& inputs,
                  HostSession& session, DecodeSink& sink, Output& records, Output* rejects, Output& err,
                  Stats& stats, const std::optional<FollowState>& resume) {
  bool read_failed = false;
  for (std::size_t i = 0; i < names.size() && g_stop == 0; ++i) {
    FollowOptions follow;
    follow.follow = options.follow && i + 1 == names.size();
    follow.poll_ms = options.poll_ms;
    follow.stop = &g_stop;
    if (follow.follow && names[i] != "-") {
      follow.path = names[i];
      follow.on_change = [&](const std::string& what) {
        err.Write("talvo: " + what + "\n");
        err.EndRow();
      };
    }
    LineReader reader(inputs.fd(i), names[i], follow);
    std::optional<StateKeeper> state;
    if (!options.state.empty() && follow.follow) {
      state.emplace(options.state, reader, session, records);
      if (resume) state->Resume(*resume, inputs.fd(i), err);
    }
    reader.set_before_wait([&] {
      records.FlushLive();
      if (rejects != nullptr) rejects->FlushLive();
      if (state) state->Save();
      err.FlushLive();
    });
    // The lines of a call in progress are copied only when the reader's
    // buffer moves, not after every line.
    reader.set_before_move([&session] { session.KeepLentLines(); });
    session.set_caller_keeps_lines(true);
    sink.set_input(names[i]);
    BinarySniffer sniffer;
    const auto warn_binary = [&](const std::string& why) {
      if (why.empty()) return;
      err.Write("talvo: warning: " + InputName(names[i]) + " does not look like a report (" + why +
                "); decoding it anyway\n");
      err.EndRow();
    };
    try {
      std::string_view line;
      // A followed input drains what has arrived before it stops.
      while ((follow.follow || g_stop == 0) && reader.Next(&line)) {
        ++stats.lines_read;
        warn_binary(sniffer.Look(line));
        if (state) state->Line();
        session.Feed(line, reader.line_number(), sink);
      }
      warn_binary(sniffer.AtEnd());
    } catch (const IoError& e) {
      err.Write(std::string("talvo: ") + e.what() + "\n");
      read_failed = true;
    }
    // The lines of a call not yet complete are read again by the next run.
    if (state && !read_failed) state->Save();
    session.EndOfInput(sink);
    session.set_caller_keeps_lines(false);
  }
  return !read_failed;
}

}  // namespace

int RunDecode(const DecodeOptions& options, Output& err) {
  // Everything named on the command line is opened or read before the driver
  // is touched, so a missing file stops the run before any output.
  const std::string settings_bytes = ReadWholeFile(options.settings, "settings file");
  if (WarnAboutSettings(options, err)) return 1;
  const TableChoice table = ReadTable(options);
  const std::vector<std::string> names = options.inputs.empty() ? std::vector<std::string>{"-"} : options.inputs;
  std::optional<FollowState> resume;
  if (!options.state.empty()) {
    if (names.size() != 1 || names[0] == "-") throw IoError("--state follows one report file, not standard input");
    resume = ReadFollowState(options.state);
  }
  Inputs inputs(names);
  CheckOutputsDiffer(options, names);
  if (resume) CutOutputBack(options.output, resume->output_size, err);
  std::optional<Output> output_file;
  if (!options.output.empty()) output_file.emplace(Output::OpenFile(options.output, options.follow));
  Output stdout_output(1, "standard output");
  Output& records = output_file ? *output_file : stdout_output;
  std::optional<Output> rejects_file;
  if (!options.rejects.empty()) rejects_file.emplace(Output::OpenFile(options.rejects, options.follow));
  Output* rejects = rejects_file ? &*rejects_file : nullptr;

  // The driver reads the system's platform layer, but for today's date
  // when --today names it.
  const std::unique_ptr<Env> system_env = NewSystemEnv();
  std::optional<FixedTodayEnv> today_env;
  if (options.today) today_env.emplace(*system_env, *options.today);
  Env& env = today_env ? static_cast<Env&>(*today_env) : *system_env;
  DriverSettings settings;
  LoadDriverSettings(env, options.settings, settings);
  const RejectExplainer explainer(settings);

  LazyTempDir temp;
  std::unique_ptr<HostSession> session = StartSession(options, env, settings_bytes, table, temp);
  Stats stats;
  DecodeSink sink(options, explainer, records, rejects, err, stats);
  CatchStopSignals();
  const bool read_all = DecodeInputs(options, names, inputs, *session, sink, records, rejects, err, stats, resume);
  session->End();
  session.reset();

  // A followed input ends with a signal; any other input ends by itself.
  const bool interrupted = g_stop != 0 && !options.follow;
  records.Flush();
  if (rejects != nullptr) rejects->Flush();
  if (stats.readable_held > 0) {
    err.Write("talvo: and " + std::to_string(stats.readable_held) + " more rejected " +
              (stats.readable_held == 1 ? "stretch" : "stretches") + ": " +
              (options.rejects.empty() ? std::string("--rejects FILE lists") : options.rejects + " lists") +
              " them all\n");
  }
  // A run that did not read its inputs to the end replaces no file.
  if (read_all && !interrupted) {
    if (output_file) output_file->Commit();
    if (rejects_file) rejects_file->Commit();
  }
  if (!options.quiet) WriteSummary(stats, names.size(), TableNote(table.source, table.bytes), explainer, err);
  if (interrupted) err.Write("talvo: interrupted before the end of the input\n");
  err.Flush();
  if (!read_all || interrupted) return 2;
  return options.strict && stats.lines_rejected > 0 ? 1 : 0;
}

}  // namespace talvo::tool
