#pragma once

#include <string>
#include <vector>

namespace gpsfw::station {

// `gpsfwstation history ...` and `gpsfwstation stats ...`: questions answered from the record.
// `args` follow the command's name. Returns the exit status; a usage error is 2, a record
// that cannot be read 1.
int RunHistoryCommand(const std::vector<std::string>& args);
int RunStatsCommand(const std::vector<std::string>& args);

}  // namespace gpsfw::station
