#include "tools/collector.h"

#include <sys/stat.h>
#include <time.h>

#include <cerrno>
#include <cstring>
#include <stdexcept>

#include "config/load_settings.h"
#include "tools/record_rows.h"

namespace talvo::tool {
namespace {

constexpr const char* kSchema = R"sql(
CREATE TABLE IF NOT EXISTS calls (
  id INTEGER PRIMARY KEY,
  date TEXT NOT NULL,
  start TEXT NOT NULL,
  duration INTEGER NOT NULL,
  ring INTEGER NOT NULL,
  kind TEXT NOT NULL,
  extension TEXT NOT NULL,
  second_extension TEXT NOT NULL,
  number TEXT NOT NULL,
  trunk_group TEXT NOT NULL,
  trunk TEXT NOT NULL,
  account TEXT NOT NULL,
  code TEXT NOT NULL,
  pulses INTEGER NOT NULL,
  call_index INTEGER NOT NULL,
  flags TEXT NOT NULL,
  source TEXT NOT NULL,
  archive TEXT NOT NULL,
  first_byte INTEGER NOT NULL,
  end_archive TEXT NOT NULL,
  end_byte INTEGER NOT NULL,
  part INTEGER NOT NULL,
  received TEXT NOT NULL,
  UNIQUE (archive, first_byte, part));
CREATE INDEX IF NOT EXISTS calls_by_date ON calls (date);
CREATE TABLE IF NOT EXISTS rejects (
  id INTEGER PRIMARY KEY,
  status TEXT NOT NULL,
  error_code INTEGER NOT NULL,
  reason TEXT NOT NULL,
  text TEXT NOT NULL,
  source TEXT NOT NULL,
  archive TEXT NOT NULL,
  first_byte INTEGER NOT NULL,
  end_archive TEXT NOT NULL,
  end_byte INTEGER NOT NULL,
  received TEXT NOT NULL,
  UNIQUE (archive, first_byte));
CREATE TABLE IF NOT EXISTS events (
  id INTEGER PRIMARY KEY,
  time TEXT NOT NULL,
  level TEXT NOT NULL,
  source TEXT NOT NULL,
  event TEXT NOT NULL,
  detail TEXT NOT NULL);
CREATE TABLE IF NOT EXISTS position (
  id INTEGER PRIMARY KEY CHECK (id = 1),
  archive TEXT NOT NULL,
  offset INTEGER NOT NULL,
  after_cr INTEGER NOT NULL);
)sql";

// At most this many events wait for a database that fails; older ones are
// still on standard error.
constexpr std::size_t kEventLimit = 1000;

}  // namespace

std::string LocalTimeText() {
  const time_t now = ::time(nullptr);
  struct tm local {};
  ::localtime_r(&now, &local);
  char text[32];
  std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%S", &local);
  return text;
}

struct Collector::CallRow {
  std::string date, start, kind, extension, second_extension, number, trunk_group, trunk, account, code, flags;
  int64_t duration = 0, ring = 0, pulses = 0, index = -1;
  StreamPosition first, end;
  int64_t part = 0;
  std::string received;
};

struct Collector::RejectRow {
  std::string status, reason, text;
  int64_t error_code = 0;
  StreamPosition first, end;
  std::string received;
};

class Collector::Sink final : public HostSink {
 public:
  explicit Sink(Collector& c) : c_(c) {}

  void OnRecord(const DecodedRecord& d) override {
    const CallRecord& r = *d.record;
    CallRow row;
    AppendIsoDate(row.date, d.call_date);
    AppendStartTime(row.start, r);
    row.duration = r.Duration;
    row.ring = r.RingSeconds;
    row.kind = KindWord(d.kind);
    row.extension = RecordFieldText(r.Extension);
    row.second_extension = RecordFieldText(r.SecondExtension);
    row.number = RecordFieldText(r.Number);
    row.trunk_group = RecordFieldText(r.TrunkGroup);
    row.trunk = RecordFieldText(r.Trunk);
    row.account = RecordFieldText(r.Account);
    row.code = RecordFieldText(r.TCode);
    row.pulses = r.Pulses;
    row.index = d.call_index;
    AppendFlagWords(row.flags, r.Flags, '+');
    row.first = c_.Entry(d.lines.first).start;
    row.end = c_.Entry(d.lines.last).end;
    // Records that share their first line are told apart by their order.
    row.part = !c_.calls_.empty() && c_.calls_.back().first == row.first ? c_.calls_.back().part + 1 : 0;
    row.received = c_.received_;
    c_.calls_.push_back(std::move(row));
    ++c_.counts_.calls;
  }

  void OnReject(const Reject& r) override {
    if (r.kind == RejectKind::kSkipped) {
      ++c_.counts_.skipped;
      return;
    }
    const RejectExplanation why = c_.explainer_->Explain(r);
    RejectRow row;
    row.status = RejectWriter::StatusWord(r.kind);
    row.reason = RejectExplainer::RowReason(r, why);
    row.error_code = r.kind == RejectKind::kRejected ? r.error_code : 0;
    for (const std::string& line : r.texts) {
      if (!row.text.empty()) row.text += '\n';
      row.text += line;
    }
    row.first = c_.Entry(r.lines.first).start;
    row.end = c_.Entry(r.lines.last).end;
    row.received = c_.received_;
    c_.rejects_.push_back(std::move(row));
    ++c_.counts_.rejects;
  }

 private:
  Collector& c_;
};

Collector::Collector(const CollectorOptions& options, Env& env, ArchiveFileLayer& files, Output& log)
    : options_(options),
      env_(env),
      log_(log),
      writer_(options.archive, files),
      reader_(options.archive),
      splitter_(options.telnet) {
  if (::mkdir(options.archive.c_str(), 0755) != 0 && errno != EEXIST) {
    throw IoError(DescribeError("cannot create the archive folder", options.archive, errno));
  }
  struct stat st {};
  if (::stat(options.archive.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
    throw IoError("the archive '" + options.archive + "' is not a folder");
  }
  db_ = std::make_unique<SqliteDb>(options.database);
  CreateTables();
  LoadDriverSettings(env, options.settings, settings_);
  explainer_ = std::make_unique<RejectExplainer>(settings_);
  sink_ = std::make_unique<Sink>(*this);
}

Collector::~Collector() = default;

void Collector::CreateTables() {
  // WAL: readers (export, stats) never block the collector. NORMAL: a
  // commit is not waited onto the disk. The archive is, before every commit,
  // and the calls commit together with the place to restart from; so a
  // commit that a power loss takes back only moves the restart place back,
  // and the calls are decoded again from the archive, once. The database
  // stays whole either way (WAL with NORMAL never corrupts).
  db_->Exec("PRAGMA journal_mode=WAL");
  db_->Exec("PRAGMA synchronous=NORMAL");
  db_->Exec(kSchema);
  SqliteStatement st(*db_, "SELECT archive, offset, after_cr FROM position WHERE id = 1");
  if (st.Step()) {
    committed_file_ = std::string(st.Text(0));
    committed_offset_ = static_cast<uint64_t>(st.Int(1));
    committed_after_cr_ = st.Int(2) != 0;
  }
}

void Collector::StartDecoding() {
  session_.reset();
  session_.emplace(env_, options_.settings);
  session_->Start();
  const uint32_t file = reader_.Seek(committed_file_, committed_offset_);
  splitter_.Reset({file, reader_.offset()}, committed_after_cr_ && reader_.offset() == committed_offset_);
  lines_.clear();
}

void Collector::Recover() {
  const std::vector<std::string> files = ListArchive(options_.archive);
  if (!files.empty()) writer_.ContinueAfter(files.back());
  StartDecoding();
  const std::string from = committed_file_.empty()
                               ? std::string("the start of the archive")
                               : committed_file_ + " byte " + std::to_string(committed_offset_);
  received_ = LocalTimeText();
  CatchUp();
  Event("info", "resumed",
        "decoded the archive from " + from + " on: " + std::to_string(counts_.calls) + " calls");
  Commit();
}

void Collector::Receive(std::string_view bytes) {
  counts_.bytes_received += bytes.size();
  const int error = writer_.Append(bytes, env_.Today());
  if (error != 0 && archive_error_ == 0) {
    ++counts_.archive_errors;
    Event("error", "archive-error",
          std::string("cannot write the archive: ") + std::strerror(error) + "; the bytes are held in memory and retried");
  }
  if (error == 0 && archive_error_ != 0) Event("info", "archive-resumed", "the archive takes writes again");
  archive_error_ = error;
  received_ = LocalTimeText();
  CatchUp();
}

void Collector::Tick() {
  Receive({});
  Commit();
}

void Collector::OnLine(std::string_view text, StreamPosition start, StreamPosition end) {
  const uint64_t number = next_line_++;
  lines_.push_back({number, start, end});
  ++counts_.lines;
  session_->Feed(text, number, *sink_);
  // Lines before the oldest one the driver holds are settled.
  const uint64_t keep = session_->first_buffered_line();
  while (!lines_.empty() && (keep == 0 || lines_.front().number < keep)) lines_.pop_front();
  position_moved_ = true;
}

const Collector::LineEntry& Collector::Entry(uint64_t number) const {
  // Lines are numbered in order and only settled ones leave the front.
  const uint64_t first = lines_.front().number;
  return lines_[static_cast<std::size_t>(number - first)];
}

StreamPosition Collector::ResumePosition(bool* after_cr) const {
  if (!lines_.empty()) {
    *after_cr = false;
    return lines_.front().start;
  }
  *after_cr = splitter_.after_cr();
  return splitter_.line_start();
}

void Collector::CatchUp() {
  if (database_failing_) return;  // decoding waits until the database takes rows again
  uint32_t file = 0;
  uint64_t offset = 0;
  while (reader_.Read(chunk_, writer_.newest(), &file, &offset)) {
    splitter_.Consume(file, offset, chunk_,
                      [this](std::string_view text, StreamPosition start, StreamPosition end) {
                        OnLine(text, start, end);
                      });
    // A whole chunk was read; a batch that grew beyond its size is committed
    // before reading on, so memory stays flat however long the archive.
    if (calls_.size() >= options_.batch_calls && !Commit()) return;
  }
}

bool Collector::Commit() {
  // The archive is made durable every time, so that it is at least once a
  // second even when nothing is decoded.
  if (const int error = writer_.Sync(); error != 0) {
    ++counts_.archive_errors;
    Event("error", "archive-error", std::string("cannot make the archive durable: ") + std::strerror(error));
    return false;
  }
  if (calls_.empty() && rejects_.empty() && events_.empty() && !position_moved_) return true;
  if (const int error = reader_.Sync(); error != 0) {
    ++counts_.archive_errors;
    Event("error", "archive-error", std::string("cannot make the archive durable: ") + std::strerror(error));
    return false;
  }
  bool after_cr = false;
  const StreamPosition at = ResumePosition(&after_cr);
  try {
    SqliteTransaction txn(*db_);
    SqliteStatement call(*db_,
                         "INSERT OR IGNORE INTO calls (date, start, duration, ring, kind, extension, "
                         "second_extension, number, trunk_group, trunk, account, code, pulses, call_index, flags, "
                         "source, archive, first_byte, end_archive, end_byte, part, received) VALUES "
                         "(?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?,?)");
    for (const CallRow& r : calls_) {
      int i = 0;
      call.BindView(++i, r.date);
      call.BindView(++i, r.start);
      call.Bind(++i, r.duration);
      call.Bind(++i, r.ring);
      call.BindView(++i, r.kind);
      call.BindView(++i, r.extension);
      call.BindView(++i, r.second_extension);
      call.BindView(++i, r.number);
      call.BindView(++i, r.trunk_group);
      call.BindView(++i, r.trunk);
      call.BindView(++i, r.account);
      call.BindView(++i, r.code);
      call.Bind(++i, r.pulses);
      call.Bind(++i, r.index);
      call.BindView(++i, r.flags);
      call.BindView(++i, options_.source);
      call.BindView(++i, reader_.name(r.first.file));
      call.Bind(++i, static_cast<int64_t>(r.first.offset));
      call.BindView(++i, reader_.name(r.end.file));
      call.Bind(++i, static_cast<int64_t>(r.end.offset));
      call.Bind(++i, r.part);
      call.BindView(++i, r.received);
      call.Run();
    }
    SqliteStatement reject(*db_,
                           "INSERT OR IGNORE INTO rejects (status, error_code, reason, text, source, archive, "
                           "first_byte, end_archive, end_byte, received) VALUES (?,?,?,?,?,?,?,?,?,?)");
    for (const RejectRow& r : rejects_) {
      int i = 0;
      reject.Bind(++i, r.status);
      reject.Bind(++i, r.error_code);
      reject.Bind(++i, r.reason);
      reject.Bind(++i, r.text);
      reject.Bind(++i, options_.source);
      reject.Bind(++i, reader_.name(r.first.file));
      reject.Bind(++i, static_cast<int64_t>(r.first.offset));
      reject.Bind(++i, reader_.name(r.end.file));
      reject.Bind(++i, static_cast<int64_t>(r.end.offset));
      reject.Bind(++i, r.received);
      reject.Run();
    }
    SqliteStatement event(*db_, "INSERT INTO events (time, level, source, event, detail) VALUES (?,?,?,?,?)");
    for (const EventRow& e : events_) {
      event.Bind(1, e.time);
      event.Bind(2, e.level);
      event.Bind(3, options_.source);
      event.Bind(4, e.event);
      event.Bind(5, e.detail);
      event.Run();
    }
    SqliteStatement position(*db_,
                             "INSERT INTO position (id, archive, offset, after_cr) VALUES (1, ?, ?, ?) "
                             "ON CONFLICT (id) DO UPDATE SET archive = excluded.archive, offset = excluded.offset, "
                             "after_cr = excluded.after_cr");
    position.Bind(1, reader_.name(at.file));
    position.Bind(2, static_cast<int64_t>(at.offset));
    position.Bind(3, int64_t{after_cr ? 1 : 0});
    position.Run();
    txn.Commit();
  } catch (const SqliteError& e) {
    ++counts_.database_errors;
    if (!database_failing_) {
      database_failing_ = true;
      Event("error", "database-error",
            std::string(e.what()) + "; decoding waits, the archive goes on, the commit is retried");
    }
    return false;
  }
  ++counts_.commits;
  committed_file_ = reader_.name(at.file);
  committed_offset_ = at.offset;
  committed_after_cr_ = after_cr;
  calls_.clear();
  rejects_.clear();
  events_.clear();
  position_moved_ = false;
  if (database_failing_) {
    database_failing_ = false;
    Event("info", "database-resumed", "the database takes rows again");
  }
  return true;
}

void Collector::Event(std::string_view level, std::string_view event, const std::string& detail) {
  log_.Write(std::string(level) + ": " + options_.source + ": " + std::string(event) + ": " + detail + "\n");
  log_.Flush();
  if (events_.size() >= kEventLimit) events_.erase(events_.begin());
  events_.push_back({LocalTimeText(), std::string(level), std::string(event), detail});
}

}  // namespace talvo::tool
