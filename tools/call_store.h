// Where `talvo collect` keeps its calls: one interface with two stores, an
// SQLite file for one site and a PostgreSQL database shared by many sites.
// The collector does not know which one it writes to.
//
// Both hold the same tables (calls, rejects, events, position and
// schema_version), every row marked with its site. A call is keyed by (site,
// archive file, offset of its first byte, part) and stored with ON CONFLICT DO
// NOTHING, so rows decoded twice are stored once. A commit stores its rows and
// the site's place in the archive in one transaction: all or nothing.
#ifndef TALVO_TOOLS_CALL_STORE_H_
#define TALVO_TOOLS_CALL_STORE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "tools/output.h"

namespace talvo::tool {

// The place in the archive where decoding of a site resumes.
struct ArchivePlace {
  std::string archive;    // the archive file's name (YYYY-MM-DD.raw)
  uint64_t offset = 0;    // the first byte not settled
  bool after_cr = false;  // the byte before it was a CR that ended a line (an LF there ends nothing)
};

// One call record, in the columns of `talvo decode`'s record rows.
struct CallRow {
  std::string date, start, kind, extension, second_extension, number, trunk_group, trunk, account, code, flags;
  int64_t duration = 0, ring = 0, pulses = 0, index = -1;
  std::string archive;      // where its first line starts
  uint64_t first_byte = 0;
  std::string end_archive;  // the byte after its last line
  uint64_t end_byte = 0;
  int64_t part = 0;         // 0; 1 and up for further records made from the same lines
  std::string received;     // local time of decoding
};

// One stretch of lines that went into no call.
struct RejectRow {
  std::string status, reason, text;
  int64_t error_code = 0;
  std::string archive;
  uint64_t first_byte = 0;
  std::string end_archive;
  uint64_t end_byte = 0;
  std::string received;
};

struct EventRow {
  std::string time, level, event, detail;
};

// What one commit stores.
struct StoreBatch {
  const std::string& source;  // the link in words, on every row
  const std::vector<CallRow>& calls;
  const std::vector<RejectRow>& rejects;
  const std::vector<EventRow>& events;
  const ArchivePlace& place;
};

// The columns each store writes, and the values of a row in that order
// (texts and 64-bit integers) handed to `value`.
inline constexpr const char* kCallColumns =
    "site, date, start, duration, ring, kind, extension, second_extension, number, trunk_group, trunk, account, "
    "code, pulses, call_index, flags, source, archive, first_byte, end_archive, end_byte, part, received";
inline constexpr const char* kRejectColumns =
    "site, status, error_code, reason, text, source, archive, first_byte, end_archive, end_byte, received";
inline constexpr const char* kEventColumns = "site, time, level, source, event, detail";

template <typename Visit>
void VisitFields(const CallRow& r, const std::string& site, const std::string& source, Visit&& value) {
  for (const std::string* text : {&site, &r.date, &r.start}) value(*text);
  value(r.duration);
  value(r.ring);
  for (const std::string* text : {&r.kind, &r.extension, &r.second_extension, &r.number, &r.trunk_group, &r.trunk,
                                  &r.account, &r.code}) {
    value(*text);
  }
  value(r.pulses);
  value(r.index);
  for (const std::string* text : {&r.flags, &source, &r.archive}) value(*text);
  value(static_cast<int64_t>(r.first_byte));
  value(r.end_archive);
  value(static_cast<int64_t>(r.end_byte));
  value(r.part);
  value(r.received);
}

template <typename Visit>
void VisitFields(const RejectRow& r, const std::string& site, const std::string& source, Visit&& value) {
  value(site);
  value(r.status);
  value(r.error_code);
  for (const std::string* text : {&r.reason, &r.text, &source, &r.archive}) value(*text);
  value(static_cast<int64_t>(r.first_byte));
  value(r.end_archive);
  value(static_cast<int64_t>(r.end_byte));
  value(r.received);
}

template <typename Visit>
void VisitFields(const EventRow& e, const std::string& site, const std::string& source, Visit&& value) {
  for (const std::string* text : {&site, &e.time, &e.level, &source, &e.event, &e.detail}) value(*text);
}

// The current version of the tables; schema_version holds it. Version 1
// (single-site SQLite files) had no site column and no version table.
inline constexpr int kSchemaVersion = 2;

// The statements both stores run for a site's place ($1 the site).
inline constexpr const char* kLoadPositionSql = "SELECT archive, first_byte, after_cr FROM position WHERE site = $1";
inline constexpr const char* kSavePositionSql =
    "INSERT INTO position (site, archive, first_byte, after_cr) VALUES ($1, $2, $3, $4) ON CONFLICT (site) DO "
    "UPDATE SET archive = excluded.archive, first_byte = excluded.first_byte, after_cr = excluded.after_cr";

class CallStore {
 public:
  virtual ~CallStore() = default;

  // The site's place from its last commit; nothing before the first one.
  // Throws IoError.
  virtual std::optional<ArchivePlace> Position() = 0;

  // Stores the batch and the site's place in one transaction. Throws IoError
  // when nothing was stored; a later call may succeed (a database that comes
  // back is connected to again).
  virtual void Commit(const StoreBatch& batch) = 0;

  // Runs `sql`, whose parameters are written $1, $2, ..., with `params` as
  // text, and hands each row's columns as text (NULL as "") to `row`, which
  // may keep them until it returns. Throws IoError.
  using RowCallback = std::function<void(const std::vector<std::string_view>& columns)>;
  virtual void Query(std::string_view sql, const std::vector<std::string>& params, const RowCallback& row) = 0;
};

// True iff `database` names a PostgreSQL database: a postgresql:// or
// postgres:// URI, or a libpq key=value string ("host=db1 dbname=calls")
// that names no existing file. Anything else is an SQLite file.
bool IsPostgresDatabase(std::string_view database);

// Opens the store `database` names for `site`. Unless `read_only`, the tables
// are created or upgraded to the current version. Read only, a store whose
// tables are missing or of another version is refused. Throws IoError.
std::unique_ptr<CallStore> OpenCallStore(const std::string& database, const std::string& site, bool read_only);

// The statements that create the current tables. The two databases spell
// some types differently: `id_column` is the type of the row numbers,
// `key_text` that of the texts in keys and indexes (site, archive, date),
// which compare byte by byte.
std::string SchemaStatements(std::string_view id_column, std::string_view key_text);

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_CALL_STORE_H_
