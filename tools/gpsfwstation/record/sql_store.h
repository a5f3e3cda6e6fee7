#pragma once

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "tools/gpsfwstation/record/record_store.h"

namespace gpsfw::station::record {

using SqlValue = std::optional<std::string>;  // nullopt is SQL NULL
using SqlRow = std::vector<SqlValue>;

// The record's statements, once for both databases: a store gives the few primitives below,
// and its statements use $1, $2... for their parameters (SQLite reads them as ?1, ?2...).
class SqlStore : public RecordStore {
 public:
  bool Begin(const UpdateRow& row, std::string& error) override;
  bool Finish(const UpdateRow& row, std::string& error) override;
  bool Amend(const UpdateRow& row, std::string& error) override;
  bool Refuse(const UpdateRow& row, std::string& error) override;
  int MarkInterrupted(const std::string& host, const std::set<std::string>& adopted,
                      std::string& error) override;
  bool SetHookStatus(const std::string& id, const std::string& status, std::string& error) override;
  std::vector<UpdateRow> HookBacklog(const std::string& station, const std::string& host, int limit,
                                     std::string& error) override;
  std::vector<UpdateRow> History(const HistoryFilter& filter, std::string& error) override;
  bool Unit(const std::string& id, UpdateRow& row, std::string& error) override;
  std::vector<StatsRow> Stats(StatsBy by, std::string& error) override;

  bool Prepare(const std::string& host, const std::string& station, std::string& error) override;
  bool Heartbeat(std::string& error) override;
  std::vector<StationRow> Stations(std::string& error) override;

 protected:
  virtual bool Exec(const std::string& sql, const SqlRow& params, std::string& error) = 0;
  virtual bool Query(const std::string& sql, const SqlRow& params, std::vector<SqlRow>& rows,
                     std::string& error) = 0;
  // Runs `body` in one transaction that takes the write lock at once; commits when it
  // returns true, rolls back otherwise.
  virtual bool Transaction(const std::function<bool(std::string&)>& body, std::string& error) = 0;
  // A statement that serialises schema changes between stations inside a transaction.
  virtual const char* SchemaLockSql() const = 0;

 private:
  bool Migrate(std::string& error);
  bool StationSummary(StationRow& station, std::string& error);

  // This station's row in station_starts, once Prepare has noted it.
  std::string startHost_, startPid_, startUtc_;
};

// Whether the process `pid` on this host is still a running station (rows of a live
// station are not stale, whoever looks at them).
bool StationAlive(int pid);

}  // namespace gpsfw::station::record
