#pragma once

#include <string>
#include <vector>

namespace gpsfw::station {

// `gpsfwstation serve --db WHERE --http ADDR:PORT [--http-token TOKEN]`: the dashboard of a
// record (its last updates, each port's yield, the totals), without flashing anything. Pointed
// at a line's shared PostgreSQL it shows every station's work in one place. Runs until
// SIGINT or SIGTERM.
int RunServeCommand(const std::vector<std::string>& args);

}  // namespace gpsfw::station
