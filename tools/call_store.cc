#include "tools/call_store.h"

#include <filesystem>

#include "tools/postgres_store.h"
#include "tools/sqlite_store.h"

namespace talvo::tool {

bool IsPostgresDatabase(std::string_view database) {
  if (database.starts_with("postgresql://") || database.starts_with("postgres://")) return true;
  std::error_code ec;
  return database.find('=') != std::string_view::npos && !std::filesystem::exists(database, ec);
}

std::unique_ptr<CallStore> OpenCallStore(const std::string& database, const std::string& site, bool read_only) {
  if (IsPostgresDatabase(database)) return std::make_unique<PostgresStore>(database, site, read_only);
  return std::make_unique<SqliteStore>(database, site, read_only);
}

std::string SchemaStatements(std::string_view id_column, std::string_view key_text) {
  const std::string id(id_column);
  const std::string key(key_text);
  return "CREATE TABLE calls (\n"
         "  id " + id + ",\n"
         "  site " + key + " NOT NULL,\n"
         "  date " + key + " NOT NULL,\n"
         "  start TEXT NOT NULL,\n"
         "  duration INTEGER NOT NULL,\n"
         "  ring INTEGER NOT NULL,\n"
         "  kind TEXT NOT NULL,\n"
         "  extension TEXT NOT NULL,\n"
         "  second_extension TEXT NOT NULL,\n"
         "  number TEXT NOT NULL,\n"
         "  trunk_group TEXT NOT NULL,\n"
         "  trunk TEXT NOT NULL,\n"
         "  account TEXT NOT NULL,\n"
         "  code TEXT NOT NULL,\n"
         "  pulses INTEGER NOT NULL,\n"
         "  call_index INTEGER NOT NULL,\n"
         "  flags TEXT NOT NULL,\n"
         "  source TEXT NOT NULL,\n"
         "  archive " + key + " NOT NULL,\n"
         "  first_byte BIGINT NOT NULL,\n"
         "  end_archive TEXT NOT NULL,\n"
         "  end_byte BIGINT NOT NULL,\n"
         "  part INTEGER NOT NULL,\n"
         "  received TEXT NOT NULL,\n"
         "  UNIQUE (site, archive, first_byte, part));\n"
         "CREATE INDEX calls_by_date ON calls (date);\n"
         "CREATE TABLE rejects (\n"
         "  id " + id + ",\n"
         "  site " + key + " NOT NULL,\n"
         "  status TEXT NOT NULL,\n"
         "  error_code INTEGER NOT NULL,\n"
         "  reason TEXT NOT NULL,\n"
         "  text TEXT NOT NULL,\n"
         "  source TEXT NOT NULL,\n"
         "  archive " + key + " NOT NULL,\n"
         "  first_byte BIGINT NOT NULL,\n"
         "  end_archive TEXT NOT NULL,\n"
         "  end_byte BIGINT NOT NULL,\n"
         "  received TEXT NOT NULL,\n"
         "  UNIQUE (site, archive, first_byte));\n"
         "CREATE TABLE events (\n"
         "  id " + id + ",\n"
         "  site " + key + " NOT NULL,\n"
         "  time TEXT NOT NULL,\n"
         "  level TEXT NOT NULL,\n"
         "  source TEXT NOT NULL,\n"
         "  event TEXT NOT NULL,\n"
         "  detail TEXT NOT NULL);\n"
         "CREATE TABLE position (\n"
         "  site " + key + " PRIMARY KEY,\n"
         "  archive " + key + " NOT NULL,\n"
         "  first_byte BIGINT NOT NULL,\n"
         "  after_cr INTEGER NOT NULL);\n"
         "CREATE TABLE schema_version (version INTEGER NOT NULL);\n"
         "INSERT INTO schema_version (version) VALUES (" + std::to_string(kSchemaVersion) + ");\n";
}

}  // namespace talvo::tool
