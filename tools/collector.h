// The heart of `talvo collect`: what happens to the bytes a link delivers.
//
// Raw first: received bytes are appended to the archive before anything else
// looks at them, and the decoder reads them back from the archive, never from
// the link. Records are stored (in SQLite or PostgreSQL, see call_store.h) in
// transactions that also store the place in the archive where decoding stands; the archive is made durable
// (fdatasync) before each such transaction. So the database never holds a call
// whose bytes could be lost, and a collector stopped at any instant goes on
// from the last committed place and decodes the same lines again. Each call is
// keyed by the archive file and offset of its first byte, so a line decoded
// twice is stored once.
//
// Nothing here waits: the link layer hands over bytes (Receive) and calls
// Tick() at least once a second.
#ifndef TALVO_TOOLS_COLLECTOR_H_
#define TALVO_TOOLS_COLLECTOR_H_

#include <chrono>
#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "config/driver_settings.h"
#include "tools/call_store.h"
#include "platform/env.h"
#include "tools/host_session.h"
#include "tools/output.h"
#include "tools/raw_archive.h"
#include "tools/reject_reasons.h"
#include "tools/report_stream.h"

namespace talvo::tool {

struct CollectorOptions {
  std::string settings;     // the settings file (section "pbx")
  std::string database;     // the SQLite file or PostgreSQL connection string
  std::string archive;      // the archive folder
  std::string source;       // the link in words ("tcp 192.0.2.7:2300"), in rows and log lines
  bool telnet = false;      // the link is TCP: telnet commands are taken out before decoding
  std::string site = "";    // the site's name on every row
  std::size_t batch_calls = 4000;  // a transaction holds at most this many calls
  // Received bytes the archive could not take are held in memory up to this
  // much; beyond it backlogged() asks the link to stop reading.
  std::size_t hold_limit = 64 << 20;
};

// Counts since the collector started.
struct CollectorCounts {
  uint64_t bytes_received = 0;
  uint64_t lines = 0;
  uint64_t calls = 0;         // stored (or waiting to be), replayed ones included
  uint64_t rejects = 0;       // stretches of lines rejected
  uint64_t skipped = 0;       // blank lines, headers
  uint64_t archive_errors = 0;
  uint64_t database_errors = 0;
  uint64_t commits = 0;
};

class Collector {
 public:
  // Opens the database (creating or upgrading its tables) and the archive
  // folder. REQUIRES: `env`, `files` and `log` outlive the collector. Throws
  // IoError when the database cannot be opened or set up.
  Collector(const CollectorOptions& options, Env& env, ArchiveFileLayer& files, Output& log);
  ~Collector();
  Collector(const Collector&) = delete;
  Collector& operator=(const Collector&) = delete;

  // Decodes the archive from the last committed place to its end and
  // commits: a collector stopped at any instant ends as one that never
  // stopped. Records a "resumed" event.
  void Recover();

  // Bytes from the link: archived (or held while the archive cannot take
  // them), then decoded.
  void Receive(std::string_view bytes);

  // At least once a second: retries held bytes, makes the archive durable,
  // commits what was decoded. Failures are logged and retried next time.
  void Tick();

  // Logs one line on standard error and stores an event row with the next
  // commit. `level`: "info", "warning", "error".
  void Event(std::string_view level, std::string_view event, const std::string& detail);

  // SIGHUP: the archive file is opened again by name.
  void ReopenArchive() { writer_.Reopen(); }

  // True iff so many received bytes wait for the archive that the link
  // should stop reading for now.
  bool backlogged() const { return writer_.held() > options_.hold_limit; }
  // Received bytes that wait in memory for the archive.
  uint64_t held_bytes() const { return writer_.held(); }

  const CollectorCounts& counts() const { return counts_; }
  // True iff every byte received is archived and everything decoded is
  // committed.
  bool settled() const {
    return writer_.held() == 0 && calls_.empty() && rejects_.empty() && events_.empty() && !position_moved_;
  }
  // The store, for tests that make it fail.
  CallStore& store() { return *store_; }

 private:
  struct LineEntry {
    uint64_t number;
    StreamPosition start, end;
  };
  class Sink;

  // Starts decoding afresh at the committed place.
  void StartDecoding();
  // Decodes what the archive holds beyond the decoder, committing whenever a
  // batch is full; stops early when a commit fails.
  void CatchUp();
  // Commits what is pending; false when the archive or the database failed.
  bool Commit();
  void OnLine(std::string_view text, StreamPosition start, StreamPosition end);
  const LineEntry& Entry(uint64_t number) const;
  // The place to start again from.
  StreamPosition ResumePosition(bool* after_cr) const;

  CollectorOptions options_;
  Env& env_;
  Output& log_;
  std::unique_ptr<CallStore> store_;
  DriverSettings settings_;
  std::unique_ptr<RejectExplainer> explainer_;
  ArchiveWriter writer_;
  ArchiveReader reader_;
  std::unique_ptr<Sink> sink_;
  std::optional<HostSession> session_;
  ReportSplitter splitter_;

  uint64_t next_line_ = 1;
  std::deque<LineEntry> lines_;  // lines fed whose place may still be needed
  std::vector<CallRow> calls_;   // decoded, not committed
  std::vector<RejectRow> rejects_;
  std::vector<EventRow> events_;
  std::string committed_file_;
  uint64_t committed_offset_ = 0;
  bool committed_after_cr_ = false;
  bool position_moved_ = false;
  std::string received_;      // the time the bytes being decoded were decoded
  int archive_error_ = 0;      // the errno of the archive failure in progress
  bool database_failing_ = false;
  CollectorCounts counts_;
  std::string chunk_;
};

// The local time as YYYY-MM-DDTHH:MM:SS.
std::string LocalTimeText();

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_COLLECTOR_H_
