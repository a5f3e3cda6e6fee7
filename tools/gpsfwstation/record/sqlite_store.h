#pragma once

#include <memory>
#include <string>

#include "tools/gpsfwstation/record/sql_store.h"

struct sqlite3;
struct sqlite3_stmt;

namespace gpsfw::station::record {

// The record in one SQLite file, for one station or a few on the same host. Write-ahead
// logging lets a reader (history, stats, a dashboard) look while a station writes, and
// synchronous=FULL makes every committed row survive a power cut, not only a crash.
class SqliteStore : public SqlStore {
 public:
  // nullptr with the reason when the file cannot be opened (or, unless `create`, is missing).
  static std::unique_ptr<SqliteStore> Open(const std::string& path, bool create,
                                           std::string& error);
  ~SqliteStore() override;

 protected:
  bool Exec(const std::string& sql, const SqlRow& params, std::string& error) override;
  bool Query(const std::string& sql, const SqlRow& params, std::vector<SqlRow>& rows,
             std::string& error) override;
  bool Transaction(const std::function<bool(std::string&)>& body, std::string& error) override;
  const char* SchemaLockSql() const override { return ""; }

 private:
  explicit SqliteStore(sqlite3* db, std::string path) : db_(db), path_(std::move(path)) {}
  bool Run(const std::string& sql, const SqlRow& params, std::vector<SqlRow>* rows,
           std::string& error);
  int StepOutsideLock(sqlite3_stmt* stmt);

  sqlite3* db_;
  std::string path_;
};

}  // namespace gpsfw::station::record
