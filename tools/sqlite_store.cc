#include "tools/sqlite_store.h"

#include <algorithm>
#include <string>
#include <type_traits>

namespace talvo::tool {
namespace {

// Version 1 to 2: the tables gain a site column, the site of the collector
// that upgrades them, and the keys include it. SQLite cannot change a table's
// keys, so the tables are built again and the rows copied.
constexpr const char* kRenameVersion1 = R"sql(
DROP INDEX IF EXISTS calls_by_date;
ALTER TABLE calls RENAME TO calls_version1;
ALTER TABLE rejects RENAME TO rejects_version1;
ALTER TABLE events RENAME TO events_version1;
ALTER TABLE position RENAME TO position_version1;
)sql";

constexpr const char* kCopyVersion1 = R"sql(
INSERT INTO calls (id, site, date, start, duration, ring, kind, extension, second_extension, number, trunk_group,
  trunk, account, code, pulses, call_index, flags, source, archive, first_byte, end_archive, end_byte, part, received)
  SELECT id, ?1, date, start, duration, ring, kind, extension, second_extension, number, trunk_group, trunk, account,
  code, pulses, call_index, flags, source, archive, first_byte, end_archive, end_byte, part, received
  FROM calls_version1;
INSERT INTO rejects (id, site, status, error_code, reason, text, source, archive, first_byte, end_archive, end_byte,
  received)
  SELECT id, ?1, status, error_code, reason, text, source, archive, first_byte, end_archive, end_byte, received
  FROM rejects_version1;
INSERT INTO events (id, site, time, level, source, event, detail)
  SELECT id, ?1, time, level, source, event, detail FROM events_version1;
INSERT INTO position (site, archive, first_byte, after_cr)
  SELECT ?1, archive, offset, after_cr FROM position_version1;
DROP TABLE calls_version1;
DROP TABLE rejects_version1;
DROP TABLE events_version1;
DROP TABLE position_version1;
)sql";

// `sql` with its parameters $N written as SQLite's ?N.
std::string SqliteParameters(std::string_view sql) {
  std::string out(sql);
  std::replace(out.begin(), out.end(), '$', '?');
  return out;
}

}  // namespace

SqliteStore::SqliteStore(const std::string& path, std::string site, bool read_only)
    : db_(path, read_only), site_(std::move(site)) {
  if (!read_only) {
    CreateOrUpgrade();
    return;
  }
  if (const int version = TablesVersion(); version != kSchemaVersion) {
    throw SqliteError("database '" + path + "': " +
                          (version == 0 ? std::string("no calls stored yet")
                                        : "tables of version " + std::to_string(version) + ", this talvo reads " +
                                              std::to_string(kSchemaVersion) + (version < kSchemaVersion
                                                                                    ? "; a collector started on "
                                                                                      "it upgrades them"
                                                                                    : "")),
                      0);
  }
}

int SqliteStore::TablesVersion() {
  const auto has = [this](const char* table) {
    SqliteStatement st(db_, "SELECT 1 FROM sqlite_master WHERE type = 'table' AND name = ?1");
    st.Bind(1, std::string_view(table));
    return st.Step();
  };
  if (has("schema_version")) return static_cast<int>(db_.QueryInt("SELECT max(version) FROM schema_version"));
  return has("calls") ? 1 : 0;
}

void SqliteStore::CreateOrUpgrade() {
  // WAL: readers (export, stats) never block the collector. NORMAL: a
  // commit is not waited onto the disk. The archive is, before every commit,
  // and the calls commit together with the place to restart from; so a
  // commit that a power loss takes back only moves the restart place back,
  // and the calls are decoded again from the archive, once. The database
  // stays whole either way (WAL with NORMAL never corrupts).
  db_.Exec("PRAGMA journal_mode=WAL");
  db_.Exec("PRAGMA synchronous=NORMAL");
  SqliteTransaction txn(db_);
  const int version = TablesVersion();
  if (version > kSchemaVersion) {
    throw SqliteError("database '" + db_.path() + "': tables of version " + std::to_string(version) +
                          ", newer than this talvo's " + std::to_string(kSchemaVersion),
                      0);
  }
  if (version == kSchemaVersion) return;
  if (version == 1) db_.Exec(kRenameVersion1);
  db_.Exec(SchemaStatements("INTEGER PRIMARY KEY", "TEXT"));
  if (version == 1) {
    // One statement at a time: the copies bind the site.
    std::string_view rest = kCopyVersion1;
    while (rest.find(';') != std::string_view::npos) {
      const std::size_t end = rest.find(';');
      SqliteStatement st(db_, rest.substr(0, end));
      if (st.ParameterCount() > 0) st.Bind(1, site_);
      st.Run();
      rest.remove_prefix(end + 1);
    }
  }
  txn.Commit();
}

std::optional<ArchivePlace> SqliteStore::Position() {
  SqliteStatement st(db_, SqliteParameters(kLoadPositionSql));
  st.Bind(1, site_);
  if (!st.Step()) return std::nullopt;
  return ArchivePlace{std::string(st.Text(0)), static_cast<uint64_t>(st.Int(1)), st.Int(2) != 0};
}

template <typename Row>
void SqliteStore::Insert(const char* table, const char* columns, const std::vector<Row>& rows,
                         const std::string& source, const char* tail) {
  if (rows.empty()) return;
  std::string values;
  for (const char* c = columns; *c != '\0'; ++c) {
    if (*c == ',') values += "?,";
  }
  SqliteStatement st(db_, std::string("INSERT INTO ") + table + " (" + columns + ") VALUES (" + values + "?)" + tail);
  // The rows' texts, the site and the source stay as they are while the
  // statement runs, and every run binds every column: no copy is needed.
  for (const Row& row : rows) {
    int i = 0;
    VisitFields(row, site_, source, [&st, &i](const auto& value) {
      if constexpr (std::is_same_v<std::decay_t<decltype(value)>, std::string>) {
        st.BindView(++i, value);
      } else {
        st.Bind(++i, value);
      }
    });
    st.Run();
  }
}

void SqliteStore::Commit(const StoreBatch& batch) {
  SqliteTransaction txn(db_);
  Insert("calls", kCallColumns, batch.calls, batch.source, " ON CONFLICT DO NOTHING");
  Insert("rejects", kRejectColumns, batch.rejects, batch.source, " ON CONFLICT DO NOTHING");
  Insert("events", kEventColumns, batch.events, batch.source, "");
  SqliteStatement position(db_, SqliteParameters(kSavePositionSql));
  position.Bind(1, site_);
  position.Bind(2, batch.place.archive);
  position.Bind(3, static_cast<int64_t>(batch.place.offset));
  position.Bind(4, int64_t{batch.place.after_cr ? 1 : 0});
  position.Run();
  txn.Commit();
}

void SqliteStore::Query(std::string_view sql, const std::vector<std::string>& params, const RowCallback& row) {
  SqliteStatement st(db_, SqliteParameters(sql));
  for (std::size_t i = 0; i < params.size(); ++i) st.Bind(static_cast<int>(i + 1), params[i]);
  std::vector<std::string_view> columns;
  while (st.Step()) {
    columns.resize(static_cast<std::size_t>(st.ColumnCount()));
    for (std::size_t i = 0; i < columns.size(); ++i) columns[i] = st.Text(static_cast<int>(i));
    row(columns);
  }
}

}  // namespace talvo::tool
