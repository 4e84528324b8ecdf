#include "tools/sqlite_db.h"

#include <sqlite3.h>

namespace talvo::tool {

SqliteDb::SqliteDb(const std::string& path, bool read_only) : path_(path) {
  const int flags = read_only ? SQLITE_OPEN_READONLY : SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE;
  const int rc = sqlite3_open_v2(path.c_str(), &db_, flags | SQLITE_OPEN_NOMUTEX, nullptr);
  if (rc != SQLITE_OK) {
    const std::string words = db_ != nullptr ? sqlite3_errmsg(db_) : sqlite3_errstr(rc);
    sqlite3_close(db_);
    db_ = nullptr;
    throw SqliteError("database '" + path + "': cannot open: " + words, rc & 0xff);
  }
  sqlite3_extended_result_codes(db_, 0);
  // A reader of a database the collector is writing waits for its turn
  // rather than failing at once.
  sqlite3_busy_timeout(db_, 5000);
}

SqliteDb::~SqliteDb() { sqlite3_close_v2(db_); }

void SqliteDb::Fail(std::string_view what, int code) {
  throw SqliteError("database '" + path_ + "': " + std::string(what) + ": " + sqlite3_errmsg(db_), code & 0xff);
}

void SqliteDb::Exec(const std::string& sql) {
  const int rc = sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, nullptr);
  if (rc != SQLITE_OK) Fail("cannot run " + sql.substr(0, sql.find_first_of(" (")), rc);
}

int64_t SqliteDb::QueryInt(const std::string& sql, int64_t otherwise) {
  SqliteStatement st(*this, sql);
  return st.Step() ? st.Int(0) : otherwise;
}

SqliteStatement::SqliteStatement(SqliteDb& db, std::string_view sql) : db_(db) {
  const int rc = sqlite3_prepare_v2(db.handle(), sql.data(), static_cast<int>(sql.size()), &stmt_, nullptr);
  if (rc != SQLITE_OK) db.Fail("cannot prepare a statement", rc);
}

SqliteStatement::~SqliteStatement() { sqlite3_finalize(stmt_); }

void SqliteStatement::Bind(int i, std::string_view text) {
  const int rc = sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT);
  if (rc != SQLITE_OK) db_.Fail("cannot bind a value", rc);
}

void SqliteStatement::BindView(int i, std::string_view text) {
  const int rc = sqlite3_bind_text(stmt_, i, text.data(), static_cast<int>(text.size()), SQLITE_STATIC);
  if (rc != SQLITE_OK) db_.Fail("cannot bind a value", rc);
}

void SqliteStatement::Bind(int i, int64_t value) {
  const int rc = sqlite3_bind_int64(stmt_, i, value);
  if (rc != SQLITE_OK) db_.Fail("cannot bind a value", rc);
}

void SqliteStatement::BindNull(int i) { sqlite3_bind_null(stmt_, i); }

bool SqliteStatement::Step() {
  const int rc = sqlite3_step(stmt_);
  if (rc == SQLITE_ROW) return true;
  if (rc == SQLITE_DONE) return false;
  sqlite3_reset(stmt_);
  db_.Fail("cannot write or read", rc);
}

void SqliteStatement::Run() {
  while (Step()) {
  }
  // The bindings stay: a statement run again binds its parameters anew.
  sqlite3_reset(stmt_);
}

void SqliteStatement::Reset() {
  sqlite3_reset(stmt_);
  sqlite3_clear_bindings(stmt_);
}

std::string_view SqliteStatement::Text(int i) {
  const auto* p = reinterpret_cast<const char*>(sqlite3_column_text(stmt_, i));
  if (p == nullptr) return {};
  return std::string_view(p, static_cast<std::size_t>(sqlite3_column_bytes(stmt_, i)));
}

int64_t SqliteStatement::Int(int i) { return sqlite3_column_int64(stmt_, i); }

bool SqliteStatement::IsNull(int i) { return sqlite3_column_type(stmt_, i) == SQLITE_NULL; }

int SqliteStatement::ColumnCount() { return sqlite3_column_count(stmt_); }

int SqliteStatement::ParameterCount() { return sqlite3_bind_parameter_count(stmt_); }

SqliteTransaction::SqliteTransaction(SqliteDb& db) : db_(db) { db_.Exec("BEGIN IMMEDIATE"); }

SqliteTransaction::~SqliteTransaction() {
  if (open_) sqlite3_exec(db_.handle(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void SqliteTransaction::Commit() {
  db_.Exec("COMMIT");
  open_ = false;
}

}  // namespace talvo::tool
