#include "tools/gpsfwstation/record/station_liveness.h"

#include "tools/gpsfwstation/record/sql_store.h"
#include "tools/gpsfwstation/record/utc_time.h"

namespace gpsfw::station::record {

Liveness LivenessOf(const StationRow& station, std::chrono::system_clock::time_point now,
                    const std::string& thisHost) {
  Liveness live;
  std::chrono::system_clock::time_point heard;
  const bool beat = ParseUtc(station.heartbeatUtc, heard);
  if (beat) live.heardSecondsAgo = std::chrono::duration<double>(now - heard).count();
  if (station.host == thisHost && station.pid > 0) {
    live.alive = StationAlive(station.pid);
  } else {
    live.alive = beat && live.heardSecondsAgo < static_cast<double>(kAliveWithin.count());
  }
  return live;
}

}  // namespace gpsfw::station::record
