// The calls of one site in an SQLite file, written in WAL mode with
// synchronous=FULL: readers never block the collector, and a commit is on the
// disk when it returns.
#ifndef TALVO_TOOLS_SQLITE_STORE_H_
#define TALVO_TOOLS_SQLITE_STORE_H_

#include <string>

#include "tools/call_store.h"
#include "tools/sqlite_db.h"

namespace talvo::tool {

class SqliteStore final : public CallStore {
 public:
  // Opens (unless `read_only`, creates or upgrades) the file `path`. Throws
  // IoError.
  SqliteStore(const std::string& path, std::string site, bool read_only);

  std::optional<ArchivePlace> Position() override;
  void Commit(const StoreBatch& batch) override;
  void Query(std::string_view sql, const std::vector<std::string>& params, const RowCallback& row) override;

  // The connection, for tests that make the file fail (PRAGMA max_page_count).
  SqliteDb& db() { return db_; }

 private:
  // 0: no tables; 1: the tables of version 1; otherwise schema_version's.
  int TablesVersion();
  void CreateOrUpgrade();
  // Adds `rows` to `table`; `tail` ends the INSERT (" ON CONFLICT DO
  // NOTHING").
  template <typename Row>
  void Insert(const char* table, const char* columns, const std::vector<Row>& rows, const std::string& source,
              const char* tail);

  SqliteDb db_;
  std::string site_;
};

}  // namespace talvo::tool

#endif  // TALVO_TOOLS_SQLITE_STORE_H_
