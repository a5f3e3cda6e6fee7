#pragma once

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

#include "tools/gpsfwstation/record/update_row.h"
#include "tools/gpsfwstation/run/board.h"

namespace gpsfw::station {

// Who is serving the page: shown in its header.
struct DashboardInfo {
  std::string host;
  std::string operatorName;
  std::string mode;     // "watch", "ports" or "serve"
  std::string started;  // ISO 8601 UTC
  std::string station;  // the station's name; "" for a `serve`, which is none
};

// Every station of the record, with whether it is alive at `now` (as seen from `thisHost`).
nlohmann::ordered_json StationsJson(const std::vector<record::StationRow>& stations,
                                    std::chrono::system_clock::time_point now,
                                    const std::string& thisHost);

// The last lines of each ended unit's log, kept by the view (read once, as the unit ends).
using LogTails = std::map<const Unit*, std::vector<std::string>>;

// The page's live state: the station, the image, the totals and one entry per unit.
nlohmann::ordered_json StateJson(const Board& board, const DashboardInfo& info,
                                 const LogTails& tails, Clock::time_point now);
// The state of a `serve`: no image, no units; the totals come from the record.
nlohmann::ordered_json ServeStateJson(const DashboardInfo& info, double elapsed,
                                      const std::vector<record::StatsRow>& byStation);

struct PortYield {
  std::string port;
  int completed = 0;
  int failed = 0;
};

// The last updates (newest first) and each port's yield; `source` is "record" or "this run".
nlohmann::ordered_json HistoryJson(const std::vector<record::UpdateRow>& rows,
                                   const std::vector<PortYield>& perPort,
                                   const std::string& source);
// Each port's counts among `rows`.
std::vector<PortYield> YieldOf(const std::vector<record::UpdateRow>& rows);
// The same from the record's statistics.
std::vector<PortYield> YieldOf(const std::vector<record::StatsRow>& byPort);

// The last `count` lines of a text file, read from at most its last 16 KiB.
std::vector<std::string> LastLines(const std::string& path, size_t count);

}  // namespace gpsfw::station
