// The stations of a line as the record knows them: their starts, heartbeats and latest rows.
#include <map>
#include <utility>

#include "tools/gpsfwstation/record/sql_store.h"
#include "tools/gpsfwstation/record/utc_time.h"

namespace gpsfw::station::record {
namespace {

int Count(const SqlValue& v) {
  return v && !v->empty() ? std::stoi(*v) : 0;
}

}  // namespace

bool SqlStore::Heartbeat(std::string& error) {
  if (startUtc_.empty()) {
    error = "this station's start is not in the record";
    return false;
  }
  return Exec(
      "UPDATE station_starts SET heartbeat_utc = $1 WHERE host = $2 AND pid = $3 AND "
      "start_utc = $4",
      {UtcNow(), startHost_, startPid_, startUtc_}, error);
}

// Each station's latest start, whatever the number of its starts (a service restarted in a
// loop): one pass over the starts, grouped by the database.
std::vector<StationRow> SqlStore::Stations(std::string& error) {
  std::vector<SqlRow> rows;
  // A start noted without a name (by a station from before names) goes by its host's.
  if (!Query("SELECT COALESCE(s.station, s.host), s.host, s.pid, s.start_utc, s.heartbeat_utc "
             "FROM station_starts s JOIN (SELECT COALESCE(station, host) AS name, host, "
             "MAX(start_utc) AS latest FROM station_starts GROUP BY COALESCE(station, host), "
             "host) m ON COALESCE(s.station, s.host) = m.name AND s.host = m.host AND "
             "s.start_utc = m.latest",
             {}, rows, error)) {
    return {};
  }
  std::map<std::pair<std::string, std::string>, StationRow> latest;  // two starts in one ms: one
  for (const SqlRow& c : rows) {
    StationRow s;
    s.station = c[0].value_or("");
    s.host = c[1].value_or("");
    s.pid = Count(c[2]);
    s.startUtc = c[3].value_or("");
    s.heartbeatUtc = c[4].value_or("");
    latest[{s.station, s.host}] = s;
  }
  std::vector<StationRow> stations;
  for (auto& entry : latest) {
    if (!StationSummary(entry.second, error)) return {};
    stations.push_back(std::move(entry.second));
  }
  return stations;
}

// What the station's rows say: its latest row, and its yield since its latest start (what its
// own dashboard shows). Both are read along the start time's index.
bool SqlStore::StationSummary(StationRow& s, std::string& error) {
  std::vector<SqlRow> last;
  if (!Query("SELECT operator, image_path, image_sha256, start_utc, end_utc, result FROM updates "
             "WHERE station = $1 AND host = $2 ORDER BY start_utc DESC, id LIMIT 1",
             {s.station, s.host}, last, error)) {
    return false;
  }
  if (!last.empty()) {
    s.operatorName = last[0][0].value_or("");
    s.imagePath = last[0][1].value_or("");
    s.imageSha256 = last[0][2].value_or("");
    s.lastStartUtc = last[0][3].value_or("");
    s.lastEndUtc = last[0][4].value_or("");
    s.lastResult = last[0][5].value_or("");
  }
  std::vector<SqlRow> counts;
  if (!Query("SELECT result, count(*) FROM updates WHERE station = $1 AND host = $2 AND "
             "start_utc >= $3 GROUP BY result",
             {s.station, s.host, s.startUtc}, counts, error)) {
    return false;
  }
  for (const SqlRow& c : counts) {
    const std::string result = c[0].value_or("");
    const int n = Count(c[1]);
    if (result == "running") {
      s.running += n;
      continue;
    }
    s.ended += n;
    if (result == "completed") s.completed += n;
  }
  return true;
}

}  // namespace gpsfw::station::record
