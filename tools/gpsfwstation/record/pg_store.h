#pragma once

#include <memory>
#include <string>

#include "tools/gpsfwstation/record/sql_store.h"

struct pg_conn;

namespace gpsfw::station::record {

// The record on a PostgreSQL server shared by the stations of a line. A connection lost
// between two calls is made again by the next call, within a bounded connect time.
class PgStore : public SqlStore {
 public:
  static std::unique_ptr<PgStore> Open(const std::string& conninfo, std::string& error);
  ~PgStore() override;

 protected:
  bool Exec(const std::string& sql, const SqlRow& params, std::string& error) override;
  bool Query(const std::string& sql, const SqlRow& params, std::vector<SqlRow>& rows,
             std::string& error) override;
  bool Transaction(const std::function<bool(std::string&)>& body, std::string& error) override;
  const char* SchemaLockSql() const override;

 private:
  explicit PgStore(std::string conninfo) : conninfo_(std::move(conninfo)) {}
  bool Connect(std::string& error);
  bool AwaitAnswer(std::string& error);
  void Drop();
  bool Run(const std::string& sql, const SqlRow& params, std::vector<SqlRow>* rows,
           std::string& error);

  std::string conninfo_;
  pg_conn* conn_ = nullptr;
};

}  // namespace gpsfw::station::record
