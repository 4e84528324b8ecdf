// A small RAII face over SQLite's C API: one connection, prepared statements,
// and transactions that roll back unless committed. Every failure throws a
// SqliteError naming the database file and SQLite's own words.
#ifndef TALVO_TOOLS_SQLITE_DB_H_
#define TALVO_TOOLS_SQLITE_DB_H_

#include <cstdint>
#include <string>
#include <string_view>

#include "tools/output.h"

struct sqlite3;
struct sqlite3_stmt;

namespace talvo::tool {

class SqliteError : public IoError {
 public:
  SqliteError(const std::string& message, int code) : IoError(message), code_(code) {}
  // SQLite's primary result code (SQLITE_FULL, SQLITE_IOERR, ...).
  int code() const { return code_; }

 private:
  int code_;
};

class SqliteStatement;

class SqliteDb {
 public:
  // Opens `path`, creating it unless `read_only`. Throws SqliteError.
  explicit SqliteDb(const std::string& path, bool read_only = false);
  ~SqliteDb();
  SqliteDb(const SqliteDb&) = delete;
  SqliteDb& operator=(const SqliteDb&) = delete;

  // Runs one or more statements that return no rows. Throws SqliteError.
  void Exec(const std::string& sql);
  // The first column of the first row of `sql`, as an integer; `otherwise`
  // when there is no row.
  int64_t QueryInt(const std::string& sql, int64_t otherwise = 0);

  const std::string& path() const { return path_; }
  sqlite3* handle() { return db_; }
  // Throws SqliteError for result `code` of an operation described by `what`.
  [[noreturn]] void Fail(std::string_view what, int code);

 private:
  sqlite3* db_ = nullptr;
  std::string path_;
};

// A prepared statement; valid while its database is.
class SqliteStatement {
 public:
  SqliteStatement(SqliteDb& db, std::string_view sql);
  ~SqliteStatement();
  SqliteStatement(const SqliteStatement&) = delete;
  SqliteStatement& operator=(const SqliteStatement&) = delete;

  // Binds parameter `i` (1-based). The text is copied.
  void Bind(int i, std::string_view text);
  // Binds parameter `i` to `text` without a copy. REQUIRES: `text` stays as
  // it is until the parameter is bound again or the statement goes; so every
  // run binds it anew.
  void BindView(int i, std::string_view text);
  void Bind(int i, int64_t value);
  void BindNull(int i);
  // Steps once: true iff a row is ready to be read. Throws SqliteError.
  bool Step();
  // Steps to the end of a statement that returns no rows, then resets it
  // for the next use. Throws SqliteError.
  void Run();
  // Resets for new bindings.
  void Reset();

  // Columns of the current row (0-based); a NULL reads as "" or 0.
  std::string_view Text(int i);
  int64_t Int(int i);
  bool IsNull(int i);
  int ColumnCount();
  int ParameterCount();

 private:
  SqliteDb& db_;
  sqlite3_stmt* stmt_ = nullptr;
};

// BEGIN IMMEDIATE on construction; ROLLBACK on destruction unless Commit()
// succeeded.
class SqliteTransaction {
 public:
  explicit SqliteTransaction(SqliteDb& db);
  ~SqliteTransaction();
  SqliteTransaction(const SqliteTransaction&) = delete;
  SqliteTransaction& operator=(const SqliteTransaction&) = delete;
  void Commit();

 private:
  SqliteDb& db_;
  bool open_ = true;
};

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_SQLITE_DB_H_
