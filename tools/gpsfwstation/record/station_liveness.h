#pragma once

#include <chrono>
#include <string>

#include "tools/gpsfwstation/record/update_row.h"

namespace gpsfw::station::record {

// A running station notes that it is alive this often, and counts as gone when it has not
// for this long: three beats may be missed (a record that is busy for a moment) before a
// station is shown as gone.
inline constexpr std::chrono::seconds kHeartbeatEvery{10};
inline constexpr std::chrono::seconds kAliveWithin{30};

struct Liveness {
  bool alive = false;
  double heardSecondsAgo = -1;  // since its latest heartbeat; -1 when it never beat
};

// Whether `station` is alive at `now`. A station of this host (`thisHost`) is alive while
// its process is (StationAlive): a killed one is gone at once. One on another host is alive
// while its heartbeat is younger than kAliveWithin, by the hosts' clocks.
Liveness LivenessOf(const StationRow& station, std::chrono::system_clock::time_point now,
                    const std::string& thisHost);

}  // namespace gpsfw::station::record
