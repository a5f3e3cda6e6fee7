#pragma once

#include <memory>
#include <set>
#include <string>
#include <vector>

#include "tools/gpsfwstation/record/update_row.h"

namespace gpsfw::station::record {

// Where the station keeps one row per update: SQLite on one station, PostgreSQL for many.
// Each call is one transaction. A call that fails says why in `error` and changes nothing.
class RecordStore {
 public:
  virtual ~RecordStore() = default;

  // The row of an update that has just started, as "running".
  virtual bool Begin(const UpdateRow& row, std::string& error) = 0;
  // The row of an ended update, with its outcome; also inserts it when Begin never reached
  // the store (a row written from the spool).
  virtual bool Finish(const UpdateRow& row, std::string& error) = 0;
  // The unit's serial, learnt while its update runs, set in its row while that is "running"
  // (a row already ended is left as it is).
  virtual bool Amend(const UpdateRow& row, std::string& error) = 0;
  // The station's one row for an image it refused, unless the latest row of the same station,
  // host and operator is already a refusal of the same image (a service restarted in a loop).
  virtual bool Refuse(const UpdateRow& row, std::string& error) = 0;
  // Rows a dead station of `host` left "running" become "interrupted" (or take the outcome
  // their logs give); returns how many. The rows in `adopted` are left alone: their loaders
  // still run, and the station that adopted them ends their rows itself.
  virtual int MarkInterrupted(const std::string& host, const std::set<std::string>& adopted,
                              std::string& error) = 0;
  // Sets what the factory's hook made of the row `id` (its "hook_status"), nothing else.
  virtual bool SetHookStatus(const std::string& id, const std::string& status,
                             std::string& error) = 0;
  // The ended rows of `station` (or, while it has no name, of `host`) whose hook never
  // succeeded: neither "" (no hook was set) nor "ok". Oldest first, at most `limit`, without
  // their logs; the rows of another station that is still alive are left to it.
  virtual std::vector<UpdateRow> HookBacklog(const std::string& station, const std::string& host,
                                             int limit, std::string& error) = 0;

  virtual std::vector<UpdateRow> History(const HistoryFilter& filter, std::string& error) = 0;
  virtual bool Unit(const std::string& id, UpdateRow& row, std::string& error) = 0;
  virtual std::vector<StatsRow> Stats(StatsBy by, std::string& error) = 0;
  // Creates or migrates the schema and notes this station's start (a real write, so that a
  // record that cannot be written is found before any port is touched).
  virtual bool Prepare(const std::string& host, const std::string& station, std::string& error) = 0;
  // Marks this station alive: the heartbeat of the start that Prepare noted. A liveness hint
  // for those who watch the line, not data.
  virtual bool Heartbeat(std::string& error) = 0;
  // Every station that started on the record, by name and host, in name order.
  virtual std::vector<StationRow> Stations(std::string& error) = 0;
};

// Opens (and creates or migrates) the record named by `where`: a "postgresql://..." or
// "postgres://..." URL or a libpq "key=value" string, or else the path of an SQLite file.
// nullptr with the reason in `error` when it cannot be opened or written.
std::unique_ptr<RecordStore> OpenRecordStore(const std::string& where, std::string& error);
// The same for a reader (history, stats, serve): an SQLite file that is missing is an error,
// never made. The schema is not touched.
std::unique_ptr<RecordStore> OpenRecordForReading(const std::string& where, std::string& error);
// True when `where` names a PostgreSQL server rather than a file.
bool IsServerAddress(const std::string& where);

}  // namespace gpsfw::station::record
