#include "tools/postgres_store.h"

#include <libpq-fe.h>

#include <algorithm>
#include <cstdlib>

namespace talvo::tool {
namespace {

using std::chrono::milliseconds;

constexpr milliseconds kFirstRetry{1000};
constexpr milliseconds kLongestRetry{30000};
// Collectors that start together create the tables one after the other.
constexpr const char* kTablesLock = "SELECT pg_advisory_xact_lock(7361626)";

struct ResultDeleter {
  void operator()(PGresult* r) const { PQclear(r); }
};
using Result = std::unique_ptr<PGresult, ResultDeleter>;

// The length of the valid UTF-8 sequence at `at`, 0 when there is none (NUL
// counts as none).
std::size_t Utf8Sequence(std::string_view s, std::size_t at) {
  const auto c = static_cast<unsigned char>(s[at]);
  if (c < 0x80) return c == 0 ? 0 : 1;
  std::size_t n = 0;
  unsigned char low = 0x80, high = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) {
    n = 2;
  } else if (c >= 0xE0 && c <= 0xEF) {
    n = 3;
    if (c == 0xE0) low = 0xA0;   // no overlong forms
    if (c == 0xED) high = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    n = 4;
    if (c == 0xF0) low = 0x90;
    if (c == 0xF4) high = 0x8F;  // nothing beyond U+10FFFF
  } else {
    return 0;
  }
  if (at + n > s.size()) return 0;
  for (std::size_t i = 1; i < n; ++i) {
    const auto b = static_cast<unsigned char>(s[at + i]);
    if (b < (i == 1 ? low : 0x80) || b > (i == 1 ? high : 0xBF)) return 0;
  }
  return n;
}

// Appends one field of COPY's text format.
void AppendCopyField(std::string& out, std::string_view value) {
  if (!out.empty() && out.back() != '\n') out += '\t';
  for (const char c : ValidUtf8(value)) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\t': out += "\\t"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      default: out += c;
    }
  }
}

void AppendCopyField(std::string& out, int64_t value) {
  if (!out.empty() && out.back() != '\n') out += '\t';
  out += std::to_string(value);
}


// The server's words on one line: libpq ends them with a line end and
// indents its hints with tabs.
std::string OneLine(std::string_view words) {
  std::string out;
  for (const char c : words) {
    const bool blank = c == '\n' || c == '\t' || c == ' ';
    if (!blank) {
      out += c;
    } else if (!out.empty() && out.back() != ' ') {
      out += ' ';
    }
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

}  // namespace

std::string ValidUtf8(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (std::size_t at = 0; at < text.size();) {
    const std::size_t n = Utf8Sequence(text, at);
    if (n > 0) {
      out.append(text, at, n);
      at += n;
      continue;
    }
    const auto b = static_cast<unsigned char>(text[at++]);
    if (b == 0) {
      out += "\xEF\xBF\xBD";
    } else {
      out += static_cast<char>(0xC0 | (b >> 6));
      out += static_cast<char>(0x80 | (b & 0x3F));
    }
  }
  return out;
}

void PostgresStore::ConnectionCloser::operator()(pg_conn* c) const { PQfinish(c); }

PostgresStore::PostgresStore(const std::string& connection, std::string site, bool read_only)
    : site_(std::move(site)) {
  // Defaults first: what the connection string says overrides them. A
  // database host that stops answering fails a TCP connection within about
  // a minute rather than holding the collector for the system's long
  // retransmission timeout.
  const char* const keys[] = {"connect_timeout", "keepalives_idle", "keepalives_interval", "keepalives_count",
                              "tcp_user_timeout", "application_name", "client_encoding", "dbname", nullptr};
  const char* const values[] = {"10", "30", "10", "3", "60000", "talvo", "UTF8", connection.c_str(), nullptr};
  conn_.reset(PQconnectdbParams(keys, values, 1));
  if (conn_ == nullptr) throw IoError("PostgreSQL: out of memory");
  if (PQstatus(conn_.get()) != CONNECTION_OK) Fail("cannot connect");
  PQsetNoticeProcessor(conn_.get(), [](void*, const char*) {}, nullptr);
  if (read_only) {
    if (const int64_t version = TablesVersion(); version != kSchemaVersion) {
      throw IoError(Describe() + (version == 0 ? std::string(": no calls stored yet")
                                               : ": tables of version " + std::to_string(version) +
                                                     ", this talvo reads " + std::to_string(kSchemaVersion)));
    }
    return;
  }
  CreateTables();
}

PostgresStore::~PostgresStore() = default;

std::string PostgresStore::Describe() const {
  const char* db = PQdb(conn_.get());
  const char* host = PQhost(conn_.get());
  return std::string("database '") + (db != nullptr ? db : "") + "'" +
         (host != nullptr && *host != '\0' ? std::string(" on ") + host : std::string());
}

void PostgresStore::Fail(const std::string& what, const PGresult* result) {
  const std::string words = OneLine(result != nullptr ? PQresultErrorMessage(result) : PQerrorMessage(conn_.get()));
  throw IoError(Describe() + ": " + what + (words.empty() ? std::string() : ": " + words));
}

void PostgresStore::Exec(const std::string& sql) {
  const Result r(PQexec(conn_.get(), sql.c_str()));
  const ExecStatusType status = PQresultStatus(r.get());
  if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
    Fail("cannot run " + sql.substr(0, sql.find_first_of(" (")), r.get());
  }
}

int64_t PostgresStore::TablesVersion() {
  bool there = false;
  Query("SELECT to_regclass('schema_version') IS NOT NULL", {},
        [&there](const std::vector<std::string_view>& c) { there = c[0] == "t"; });
  int64_t version = 0;
  if (there) {
    Query("SELECT max(version) FROM schema_version", {},
          [&version](const std::vector<std::string_view>& c) { version = std::atoll(std::string(c[0]).c_str()); });
  }
  return version;
}

void PostgresStore::CreateTables() {
  Exec("BEGIN");
  try {
    Exec(kTablesLock);
    const int64_t version = TablesVersion();
    if (version > kSchemaVersion) {
      throw IoError(Describe() + ": tables of version " + std::to_string(version) + ", newer than this talvo's " +
                    std::to_string(kSchemaVersion));
    }
    if (version == 0) Exec(SchemaStatements("BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY", "TEXT COLLATE \"C\""));
    Exec("COMMIT");
  } catch (const IoError&) {
    PQclear(PQexec(conn_.get(), "ROLLBACK"));
    throw;
  }
}

void PostgresStore::PrepareSession() {
  for (const auto& [table, columns] : {std::pair{"calls", kCallColumns}, std::pair{"rejects", kRejectColumns},
                                       std::pair{"events", kEventColumns}}) {
    Exec(std::string("CREATE TEMP TABLE IF NOT EXISTS incoming_") + table + " ON COMMIT DELETE ROWS AS SELECT " +
         columns + " FROM " + table + " WITH NO DATA");
  }
  session_ready_ = true;
}

template <typename Row>
void PostgresStore::Insert(const char* table, const char* columns, const std::vector<Row>& rows,
                           const std::string& source, const char* tail) {
  if (rows.empty()) return;
  copy_.clear();
  for (const Row& row : rows) {
    VisitFields(row, site_, source, [this](const auto& value) { AppendCopyField(copy_, value); });
    copy_ += '\n';
  }
  // Through a temporary table: ON CONFLICT needs an INSERT, and COPY cannot
  // write a table with row-level security (a site's role that sees only its
  // own rows).
  const std::string incoming = std::string("incoming_") + table;
  Copy(incoming, columns, copy_);
  Exec(std::string("INSERT INTO ") + table + " (" + columns + ") SELECT " + columns + " FROM " + incoming + tail);
}

void PostgresStore::EnsureConnected() {
  if (PQstatus(conn_.get()) == CONNECTION_OK) return;
  session_ready_ = false;  // a new connection has no temporary tables
  const auto now = std::chrono::steady_clock::now();
  if (retry_delay_.count() > 0 && now < next_attempt_) {
    throw IoError(Describe() + ": the connection is lost; the next attempt in " +
                  std::to_string(std::chrono::duration_cast<std::chrono::seconds>(next_attempt_ - now).count() + 1) +
                  "s");
  }
  PQreset(conn_.get());
  if (PQstatus(conn_.get()) != CONNECTION_OK) {
    retry_delay_ = retry_delay_.count() == 0 ? kFirstRetry : std::min(retry_delay_ * 2, kLongestRetry);
    next_attempt_ = now + retry_delay_;
    Fail("cannot connect again");
  }
  retry_delay_ = milliseconds{0};
}

void PostgresStore::Copy(const std::string& table, const std::string& columns, const std::string& rows) {
  {
    const Result r(PQexec(conn_.get(), ("COPY " + table + " (" + columns + ") FROM STDIN").c_str()));
    if (PQresultStatus(r.get()) != PGRES_COPY_IN) Fail("cannot copy into " + table, r.get());
  }
  constexpr std::size_t kPiece = 1 << 20;
  bool sent = true;
  for (std::size_t at = 0; sent && at < rows.size(); at += kPiece) {
    const std::size_t n = std::min(kPiece, rows.size() - at);
    sent = PQputCopyData(conn_.get(), rows.data() + at, static_cast<int>(n)) == 1;
  }
  if (PQputCopyEnd(conn_.get(), sent ? nullptr : "talvo could not send the rows") != 1) {
    Fail("cannot copy into " + table);
  }
  std::string error;
  while (PGresult* raw = PQgetResult(conn_.get())) {
    const Result r(raw);
    if (PQresultStatus(r.get()) != PGRES_COMMAND_OK && error.empty()) error = PQresultErrorMessage(r.get());
  }
  if (!error.empty() || !sent) {
    throw IoError(Describe() + ": cannot copy into " + table + ": " + OneLine(error));
  }
}

std::optional<ArchivePlace> PostgresStore::Position() {
  std::optional<ArchivePlace> place;
  Query(kLoadPositionSql, {site_}, [&place](const std::vector<std::string_view>& c) {
    place = ArchivePlace{std::string(c[0]), std::strtoull(std::string(c[1]).c_str(), nullptr, 10), c[2] == "1"};
  });
  return place;
}

void PostgresStore::Commit(const StoreBatch& batch) {
  EnsureConnected();
  if (!session_ready_) PrepareSession();
  try {
    Exec("BEGIN");
    Insert("calls", kCallColumns, batch.calls, batch.source, " ON CONFLICT DO NOTHING");
    Insert("rejects", kRejectColumns, batch.rejects, batch.source, " ON CONFLICT DO NOTHING");
    Insert("events", kEventColumns, batch.events, batch.source, "");
    const std::string offset = std::to_string(batch.place.offset);
    const std::string archive = ValidUtf8(batch.place.archive);
    const char* const params[] = {site_.c_str(), archive.c_str(), offset.c_str(), batch.place.after_cr ? "1" : "0"};
    const Result r(PQexecParams(conn_.get(), kSavePositionSql, 4, nullptr, params, nullptr, nullptr, 0));
    if (PQresultStatus(r.get()) != PGRES_COMMAND_OK) Fail("cannot store the place in the archive", r.get());
    Exec("COMMIT");
  } catch (const IoError&) {
    if (PQstatus(conn_.get()) == CONNECTION_OK) PQclear(PQexec(conn_.get(), "ROLLBACK"));
    throw;
  }
}

void PostgresStore::Query(std::string_view sql, const std::vector<std::string>& params, const RowCallback& row) {
  EnsureConnected();
  std::vector<const char*> values;
  for (const std::string& p : params) values.push_back(p.c_str());
  const std::string text(sql);
  if (PQsendQueryParams(conn_.get(), text.c_str(), static_cast<int>(values.size()), nullptr, values.data(), nullptr,
                        nullptr, 0) != 1) {
    Fail("cannot query");
  }
  PQsetSingleRowMode(conn_.get());  // an export of millions of calls is never held whole
  std::string error;
  std::vector<std::string_view> columns;
  while (PGresult* raw = PQgetResult(conn_.get())) {
    const Result r(raw);
    const ExecStatusType status = PQresultStatus(r.get());
    if (status == PGRES_SINGLE_TUPLE && error.empty()) {
      columns.resize(static_cast<std::size_t>(PQnfields(r.get())));
      for (std::size_t i = 0; i < columns.size(); ++i) {
        const int c = static_cast<int>(i);
        columns[i] = std::string_view(PQgetvalue(r.get(), 0, c), static_cast<std::size_t>(PQgetlength(r.get(), 0, c)));
      }
      row(columns);
    } else if (status != PGRES_TUPLES_OK && status != PGRES_SINGLE_TUPLE && status != PGRES_COMMAND_OK &&
               error.empty()) {
      error = PQresultErrorMessage(r.get());
    }
  }
  if (!error.empty()) {
    throw IoError(Describe() + ": cannot read: " + OneLine(error));
  }
}

}  // namespace talvo::tool
