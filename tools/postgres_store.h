// The calls of many sites in one PostgreSQL database, through libpq. Each
// commit copies its rows into temporary tables (COPY) and moves them into the
// tables with ON CONFLICT DO NOTHING, in one transaction with the site's place.
//
// A lost connection is made again at the next commit, waiting longer after
// each failed attempt (1 s doubling to 30 s), so a database that is away costs
// the collector a connection attempt now and then, not one every tick.
#ifndef TALVO_TOOLS_POSTGRES_STORE_H_
#define TALVO_TOOLS_POSTGRES_STORE_H_

#include <chrono>
#include <memory>
#include <string>

#include "tools/call_store.h"

struct pg_conn;
struct pg_result;

namespace talvo::tool {

class PostgresStore final : public CallStore {
 public:
  // Connects to `connection` (any libpq connection string) and, unless
  // `read_only`, creates or checks the tables. Throws IoError.
  PostgresStore(const std::string& connection, std::string site, bool read_only);
  ~PostgresStore() override;
  PostgresStore(const PostgresStore&) = delete;
  PostgresStore& operator=(const PostgresStore&) = delete;

  std::optional<ArchivePlace> Position() override;
  void Commit(const StoreBatch& batch) override;
  void Query(std::string_view sql, const std::vector<std::string>& params, const RowCallback& row) override;

 private:
  // Connects again when the connection was lost and the wait is over; throws
  // IoError otherwise.
  void EnsureConnected();
  // Runs statements that return no rows. Throws IoError.
  void Exec(const std::string& sql);
  // COPY `table` (`columns`) from `rows`, text format. Throws IoError.
  void Copy(const std::string& table, const std::string& columns, const std::string& rows);
  // Adds `rows` to `table`; `tail` ends the INSERT (" ON CONFLICT DO
  // NOTHING"). Throws IoError.
  template <typename Row>
  void Insert(const char* table, const char* columns, const std::vector<Row>& rows, const std::string& source,
              const char* tail);
  // Throws IoError for `what`, in the words of `result` or the connection.
  [[noreturn]] void Fail(const std::string& what, const pg_result* result = nullptr);
  // "database 'calls' on db1", never the password a connection string may hold.
  std::string Describe() const;
  // 0: no tables; otherwise schema_version's. Throws IoError.
  int64_t TablesVersion();
  // Creates the tables unless they are there, one collector at a time.
  void CreateTables();
  // The temporary tables COPY fills, once per connection before its first
  // commit.
  void PrepareSession();

  struct ConnectionCloser {
    void operator()(pg_conn* c) const;
  };
  std::unique_ptr<pg_conn, ConnectionCloser> conn_;
  std::string site_;
  std::string copy_;  // the rows of one COPY
  bool session_ready_ = false;  // the temporary tables are there
  std::chrono::milliseconds retry_delay_{0};
  std::chrono::steady_clock::time_point next_attempt_{};
};

// `text` as valid UTF-8, which PostgreSQL requires of text: bytes that are
// no UTF-8 are read as Latin-1, NUL becomes U+FFFD. Valid UTF-8 is unchanged.
std::string ValidUtf8(std::string_view text);

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_POSTGRES_STORE_H_
