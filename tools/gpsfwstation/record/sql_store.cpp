#include "tools/gpsfwstation/record/sql_store.h"

#include <signal.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <fstream>

#include "tools/gpsfwstation/record/path_name.h"
#include "tools/gpsfwstation/record/record_stats.h"
#include "tools/gpsfwstation/record/row_json.h"
#include "tools/gpsfwstation/record/utc_time.h"

namespace gpsfw::station::record {
namespace {

// Each version's steps; a database is brought from its version to the last, one version per
// transaction. Append new versions; never change a step that has shipped.
const std::vector<std::vector<const char*>>& Migrations() {
  static const std::vector<std::vector<const char*>> steps = {
      // 1: one row per update, and the starts of the stations that wrote them.
      {"CREATE TABLE updates (id TEXT PRIMARY KEY, host TEXT NOT NULL, station_pid INTEGER, "
       "operator TEXT, port TEXT, port_by_id TEXT, port_by_path TEXT, usb_serial TEXT, "
       "image_path TEXT, image_size BIGINT, image_crc32 TEXT, image_sha256 TEXT, "
       "boot_loader TEXT, sfld TEXT, flash_type TEXT, start_utc TEXT NOT NULL, end_utc TEXT, "
       "duration DOUBLE PRECISION, result TEXT NOT NULL, return_code INTEGER, reason TEXT, "
       "message TEXT, retries INTEGER, wakes INTEGER, bytes BIGINT, log_path TEXT, log TEXT)",
       "CREATE INDEX updates_start ON updates (start_utc)",
       "CREATE INDEX updates_host_result ON updates (host, result)",
       "CREATE TABLE station_starts (host TEXT NOT NULL, pid INTEGER NOT NULL, "
       "start_utc TEXT NOT NULL)"},
      // 2: the station's name, the unit's own serial number and what the factory's hook made
      // of the row; a station's heartbeat. Rows from before keep their host as station name.
      {"ALTER TABLE updates ADD COLUMN station TEXT",
       "ALTER TABLE updates ADD COLUMN unit_serial TEXT",
       "ALTER TABLE updates ADD COLUMN hook_status TEXT",
       "UPDATE updates SET station = host WHERE station IS NULL",
       "CREATE INDEX updates_unit_serial ON updates (unit_serial)",
       "ALTER TABLE station_starts ADD COLUMN station TEXT",
       "ALTER TABLE station_starts ADD COLUMN heartbeat_utc TEXT",
       "UPDATE station_starts SET station = host WHERE station IS NULL"},
  };
  return steps;
}

constexpr const char* kColumns =
    "id, host, station_pid, operator, port, port_by_id, port_by_path, usb_serial, image_path, "
    "image_size, image_crc32, image_sha256, boot_loader, sfld, flash_type, start_utc, end_utc, "
    "duration, result, return_code, reason, message, retries, wakes, bytes, log_path, log, "
    "station, unit_serial, hook_status";
constexpr int kColumnCount = 30;

std::string Placeholders(int count) {
  std::string text;
  for (int i = 1; i <= count; ++i) text += (i > 1 ? ", $" : "$") + std::to_string(i);
  return text;
}

SqlValue Text(const std::string& value) {
  return value;
}

SqlRow ParamsOf(const UpdateRow& r) {
  const ReceiverIdentity& who = r.identity;
  SqlRow params = {r.id,
                   r.host,
                   std::to_string(r.stationPid),
                   r.operatorName,
                   r.port,
                   r.portById,
                   r.portByPath,
                   r.usbSerial,
                   r.imagePath,
                   std::to_string(r.imageSize),
                   r.imageCrc32,
                   r.imageSha256,
                   who.bootLoader,
                   who.sfld,
                   who.flashType,
                   r.startUtc,
                   r.endUtc.empty() ? SqlValue() : Text(r.endUtc),
                   std::to_string(r.durationSeconds),
                   r.result,
                   std::to_string(r.returnCode),
                   r.reason,
                   r.message,
                   std::to_string(r.retries),
                   std::to_string(r.wakes),
                   std::to_string(r.bytes),
                   r.logPath,
                   r.log,
                   r.station,
                   r.unitSerial,
                   r.hookStatus};
  for (SqlValue& p : params) {
    if (p) *p = CleanText(*p);
  }
  return params;
}

long long Number(const SqlValue& v) {
  return v && !v->empty() ? std::stoll(*v) : 0;
}

UpdateRow RowOf(const SqlRow& c) {
  auto s = [&](int i) { return c[i].value_or(""); };
  UpdateRow r;
  r.id = s(0);
  r.host = s(1);
  r.stationPid = static_cast<int>(Number(c[2]));
  r.operatorName = s(3);
  r.port = s(4);
  r.portById = s(5);
  r.portByPath = s(6);
  r.usbSerial = s(7);
  r.imagePath = s(8);
  r.imageSize = static_cast<uint64_t>(Number(c[9]));
  r.imageCrc32 = s(10);
  r.imageSha256 = s(11);
  r.identity = {s(12), s(13), s(14)};
  r.startUtc = s(15);
  r.endUtc = s(16);
  r.durationSeconds = c[17] && !c[17]->empty() ? std::stod(*c[17]) : 0;
  r.result = s(18);
  r.returnCode = static_cast<int>(Number(c[19]));
  r.reason = s(20);
  r.message = s(21);
  r.retries = static_cast<int>(Number(c[22]));
  r.wakes = static_cast<int>(Number(c[23]));
  r.bytes = static_cast<uint64_t>(Number(c[24]));
  r.logPath = s(25);
  r.log = s(26);
  r.station = s(27);
  r.unitSerial = s(28);
  r.hookStatus = s(29);
  return r;
}

std::string UpsertSql() {
  std::string sql = std::string("INSERT INTO updates (") + kColumns + ") VALUES (" +
                    Placeholders(kColumnCount) + ") ON CONFLICT (id) DO UPDATE SET ";
  const std::string columns = kColumns;
  size_t from = columns.find(", ") + 2;  // every column but the id
  bool first = true;
  while (from < columns.size()) {
    size_t to = columns.find(", ", from);
    if (to == std::string::npos) to = columns.size();
    const std::string name = columns.substr(from, to - from);
    sql += (first ? "" : ", ") + name + " = excluded." + name;
    first = false;
    from = to + 2;
  }
  return sql;
}

// A log as it lies on disk when the row is closed, within the record's bound.
std::string LogAsItIs(const std::string& path) {
  constexpr std::streamsize kMaxLog = 4 << 20;
  std::ifstream in(path, std::ios::binary);
  std::string text(kMaxLog, '\0');
  in.read(text.data(), kMaxLog);
  text.resize(static_cast<size_t>(in.gcount()));
  return text;
}

// A loader outlives a station killed outright and ends its update and its log: when the log
// says how the update ended, the row says so too. Otherwise the update was cut off.
void TakeOutcomeFromLog(UpdateRow& row) {
  const std::string tag = "RetCode: ";
  const size_t at = row.log.rfind(tag);
  row.result = "interrupted";
  row.message = "its station ended during the update";
  if (at == std::string::npos) return;
  row.returnCode = std::atoi(row.log.c_str() + at + tag.size());
  row.result = row.returnCode == 0 ? "completed" : "failed";
  row.reason = row.returnCode == 0 ? "" : "station_ended";
  row.message = "its station ended during the update; recorded from the loader's log";
}

}  // namespace

bool StationAlive(int pid) {
  if (pid <= 0) return false;
  if (kill(pid, 0) != 0 && errno == ESRCH) return false;
  // A pid taken again by another program is no station. A station run through an emulator
  // (qemu-user on a build machine) has the emulator's name, and its own path among the first
  // words of its command line.
  std::ifstream comm("/proc/" + std::to_string(pid) + "/comm");
  std::string name;
  if (!comm || !std::getline(comm, name)) return true;  // no /proc: trust the pid
  if (name.rfind("gpsfwstation", 0) == 0) return true;
  std::ifstream cmdline("/proc/" + std::to_string(pid) + "/cmdline", std::ios::binary);
  std::string word;
  for (int i = 0; i < 6 && std::getline(cmdline, word, '\0'); ++i) {
    if (BaseName(word).rfind("gpsfwstation", 0) == 0) return true;
  }
  return false;
}

bool SqlStore::Migrate(std::string& error) {
  return Transaction(
      [&](std::string& e) {
        if (*SchemaLockSql() != '\0' && !Exec(SchemaLockSql(), {}, e)) return false;
        if (!Exec("CREATE TABLE IF NOT EXISTS schema_version (version INTEGER NOT NULL)", {}, e)) {
          return false;
        }
        std::vector<SqlRow> rows;
        if (!Query("SELECT MAX(version) FROM schema_version", {}, rows, e)) return false;
        const long long at = rows.empty() ? 0 : Number(rows[0][0]);
        const auto& steps = Migrations();
        if (at > static_cast<long long>(steps.size())) {
          e = "the record's schema (version " + std::to_string(at) +
              ") is newer than this station's (version " + std::to_string(steps.size()) + ")";
          return false;
        }
        for (size_t v = static_cast<size_t>(at); v < steps.size(); ++v) {
          for (const char* step : steps[v]) {
            if (!Exec(step, {}, e)) return false;
          }
          if (!Exec("INSERT INTO schema_version (version) VALUES ($1)", {std::to_string(v + 1)},
                    e)) {
            return false;
          }
        }
        return true;
      },
      error);
}

bool SqlStore::Prepare(const std::string& host, const std::string& station, std::string& error) {
  if (!Migrate(error)) return false;
  const std::string pid = std::to_string(getpid());
  const std::string now = UtcNow();
  const bool noted = Transaction(
      [&](std::string& e) {
        return Exec(
            "INSERT INTO station_starts (host, pid, start_utc, station, heartbeat_utc) "
            "VALUES ($1, $2, $3, $4, $3)",
            {CleanText(host), pid, now, CleanText(station)}, e);
      },
      error);
  if (noted) {
    startHost_ = CleanText(host);
    startPid_ = pid;
    startUtc_ = now;
  }
  return noted;
}

bool SqlStore::Begin(const UpdateRow& row, std::string& error) {
  // A row that reached the record already (from the spool, ended) is never set back.
  const std::string sql = std::string("INSERT INTO updates (") + kColumns + ") VALUES (" +
                          Placeholders(kColumnCount) + ") ON CONFLICT (id) DO NOTHING";
  return Transaction([&](std::string& e) { return Exec(sql, ParamsOf(row), e); }, error);
}

bool SqlStore::Finish(const UpdateRow& row, std::string& error) {
  return Transaction([&](std::string& e) { return Exec(UpsertSql(), ParamsOf(row), e); }, error);
}

bool SqlStore::Amend(const UpdateRow& row, std::string& error) {
  return Transaction(
      [&](std::string& e) {
        return Exec("UPDATE updates SET unit_serial = $1 WHERE id = $2 AND result = 'running'",
                    {CleanText(row.unitSerial), row.id}, e);
      },
      error);
}

bool SqlStore::Refuse(const UpdateRow& row, std::string& error) {
  return Transaction(
      [&](std::string& e) {
        std::vector<SqlRow> last;
        // Told apart by the station's name: two stations on one host refuse each for itself.
        if (!Query("SELECT result, image_sha256 FROM updates WHERE host = $1 AND station = $2 "
                   "AND operator = $3 ORDER BY start_utc DESC, id LIMIT 1",
                   {CleanText(row.host), CleanText(row.station), CleanText(row.operatorName)}, last,
                   e)) {
          return false;
        }
        const bool repeated = !last.empty() && last[0][0].value_or("") == "refused" &&
                              last[0][1].value_or("") == row.imageSha256;
        return repeated || Exec(UpsertSql(), ParamsOf(row), e);
      },
      error);
}

int SqlStore::MarkInterrupted(const std::string& host, const std::set<std::string>& adopted,
                              std::string& error) {
  int marked = 0;
  const bool ok = Transaction(
      [&](std::string& e) {
        std::vector<SqlRow> rows;
        if (!Query(std::string("SELECT ") + kColumns +
                       " FROM updates WHERE host = $1 AND result = 'running'",
                   {host}, rows, e)) {
          return false;
        }
        for (const SqlRow& columns : rows) {
          UpdateRow row = RowOf(columns);
          if (StationAlive(row.stationPid) && row.stationPid != getpid()) continue;
          if (adopted.count(row.id) != 0) continue;
          row.endUtc = UtcNow();
          if (!row.logPath.empty()) row.log = LogAsItIs(row.logPath);
          TakeOutcomeFromLog(row);
          if (!Exec(UpsertSql(), ParamsOf(row), e)) return false;
          ++marked;
        }
        return true;
      },
      error);
  return ok ? marked : -1;
}

bool SqlStore::SetHookStatus(const std::string& id, const std::string& status, std::string& error) {
  return Transaction(
      [&](std::string& e) {
        return Exec("UPDATE updates SET hook_status = $2 WHERE id = $1", {id, CleanText(status)},
                    e);
      },
      error);
}

std::vector<UpdateRow> SqlStore::HookBacklog(const std::string& station, const std::string& host,
                                             int limit, std::string& error) {
  // The log stays in the record: the hook gets the row without it.
  std::string columns = kColumns;
  columns.replace(columns.find(", log, "), 7, ", '', ");
  const std::string sql = "SELECT " + columns + " FROM updates WHERE " +
                          (station.empty() ? "host" : "station") +
                          " = $1 AND result <> 'running' AND hook_status IS NOT NULL AND "
                          "hook_status <> '' AND hook_status <> 'ok' "
                          "ORDER BY end_utc, id LIMIT " +
                          std::to_string(limit);
  std::vector<SqlRow> rows;
  std::vector<UpdateRow> found;
  if (!Query(sql, {station.empty() ? host : station}, rows, error)) return found;
  for (const SqlRow& r : rows) {
    UpdateRow row = RowOf(r);
    // This station's own rows are in its hands already, a live neighbour's in its own.
    if (row.stationPid == getpid()) continue;
    if (row.host == host && StationAlive(row.stationPid)) continue;
    found.push_back(std::move(row));
  }
  return found;
}

std::vector<UpdateRow> SqlStore::History(const HistoryFilter& filter, std::string& error) {
  std::string sql = std::string("SELECT ") + kColumns + " FROM updates WHERE 1 = 1";
  SqlRow params;
  auto where = [&](const char* clause, const std::string& value) {
    params.push_back(value);
    std::string text = clause;
    text.replace(text.find('?'), 1, "$" + std::to_string(params.size()));
    sql += text;
  };
  if (filter.since) where(" AND start_utc >= ?", *filter.since);
  if (filter.until) where(" AND start_utc < ?", *filter.until);
  if (filter.port) where(" AND port = ?", *filter.port);
  if (filter.result) where(" AND result = ?", *filter.result);
  if (filter.unitSerial) where(" AND unit_serial = ?", *filter.unitSerial);
  if (filter.station) where(" AND station = ?", *filter.station);
  if (filter.image) {
    params.push_back(*filter.image);
    params.push_back(*filter.image + "%");
    const std::string n = std::to_string(params.size() - 1);
    const std::string m = std::to_string(params.size());
    sql += " AND (image_path = $" + n + " OR image_path LIKE '%/' || CAST($" + n + " AS TEXT)" +
           " OR image_sha256 LIKE $" + m + ")";
  }
  sql += " ORDER BY start_utc DESC, id";
  if (filter.limit > 0) sql += " LIMIT " + std::to_string(filter.limit);
  std::vector<SqlRow> rows;
  std::vector<UpdateRow> found;
  if (!Query(sql, params, rows, error)) return found;
  for (const SqlRow& r : rows) found.push_back(RowOf(r));
  return found;
}

bool SqlStore::Unit(const std::string& id, UpdateRow& row, std::string& error) {
  std::vector<SqlRow> rows;
  if (!Query(std::string("SELECT ") + kColumns + " FROM updates WHERE id = $1", {id}, rows,
             error)) {
    return false;
  }
  if (rows.empty()) {
    error = "no update " + id + " in the record";
    return false;
  }
  row = RowOf(rows[0]);
  return true;
}

// Summed up by the database: a record of months is a few rows per port, day and result here,
// not every update (a dashboard asks for this every few seconds).
std::vector<StatsRow> SqlStore::Stats(StatsBy by, std::string& error) {
  constexpr const char* kKeys =
      "port, substr(start_utc, 1, 10), image_sha256, image_path, host, result, reason, station";
  std::vector<SqlRow> rows;
  if (!Query(std::string("SELECT ") + kKeys +
                 ", count(*), sum(duration), max(duration), sum(retries) FROM updates GROUP BY " +
                 kKeys,
             {}, rows, error)) {
    return {};
  }
  std::vector<RowTally> tallies;
  for (const SqlRow& c : rows) {
    RowTally t;
    t.row.port = c[0].value_or("");
    t.row.startUtc = c[1].value_or("");
    t.row.imageSha256 = c[2].value_or("");
    t.row.imagePath = c[3].value_or("");
    t.row.host = c[4].value_or("");
    t.row.result = c[5].value_or("");
    t.row.reason = c[6].value_or("");
    t.count = static_cast<int>(Number(c[8]));
    t.seconds = c[9] && !c[9]->empty() ? std::stod(*c[9]) : 0;
    t.slowest = c[10] && !c[10]->empty() ? std::stod(*c[10]) : 0;
    t.retries = static_cast<int>(Number(c[11]));
    t.row.station = c[7].value_or("");
    tallies.push_back(std::move(t));
  }
  return StatsOf(tallies, by);
}

}  // namespace gpsfw::station::record
