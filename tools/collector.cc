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
    SetPlace(row, d.lines);
    // Records that share their first line are told apart by their order.
    const bool same_first = !c_.calls_.empty() && c_.calls_.back().first_byte == row.first_byte &&
                            c_.calls_.back().archive == row.archive;
    row.part = same_first ? c_.calls_.back().part + 1 : 0;
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
    SetPlace(row, r.lines);
    row.received = c_.received_;
    c_.rejects_.push_back(std::move(row));
    ++c_.counts_.rejects;
  }

 private:
  // Where the row's lines stand in the archive.
  template <typename Row>
  void SetPlace(Row& row, const LineSpan& lines) const {
    const StreamPosition first = c_.Entry(lines.first).start;
    const StreamPosition end = c_.Entry(lines.last).end;
    row.archive = c_.reader_.name(first.file);
    row.first_byte = first.offset;
    row.end_archive = c_.reader_.name(end.file);
    row.end_byte = end.offset;
  }

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
  store_ = OpenCallStore(options.database, options.site, false);
  if (const std::optional<ArchivePlace> place = store_->Position()) {
    committed_file_ = place->archive;
    committed_offset_ = place->offset;
    committed_after_cr_ = place->after_cr;
  }
  LoadDriverSettings(env, options.settings, settings_);
  explainer_ = std::make_unique<RejectExplainer>(settings_);
  sink_ = std::make_unique<Sink>(*this);
}

Collector::~Collector() = default;

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
  const ArchivePlace place{reader_.name(at.file), at.offset, after_cr};
  try {
    store_->Commit({options_.source, calls_, rejects_, events_, place});
  } catch (const IoError& e) {
    ++counts_.database_errors;
    if (!database_failing_) {
      database_failing_ = true;
      Event("error", "database-error",
            std::string(e.what()) + "; decoding waits, the archive goes on, the commit is retried");
    }
    return false;
  }
  ++counts_.commits;
  committed_file_ = place.archive;
  committed_offset_ = place.offset;
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
