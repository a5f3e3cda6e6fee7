#pragma once

#include <string>

#include "tools/gpsfwstation/record/update_row.h"
#include "tools/gpsfwstation/run/board.h"

namespace gpsfw::station {

// What every row of this station carries.
struct RecordContext {
  std::string host;
  std::string operatorName;
  std::string station;  // --station, or the host's name
};

// A new, unique row id: 128 random bits as hex.
std::string NewRowId();
// The loader's own return code (its "RetCode"), from the done event, or else from its exit
// status (the code modulo 256): -2, not 254.
int LoaderReturnCode(const Unit& unit);
// The row of `unit` as it stands: "running" until it has ended. Its log is left to the
// record's writer, which reads it from the unit's log file.
record::UpdateRow RowOf(const Unit& unit, const Board& board, const RecordContext& context);
// The login name of whoever runs the station, for --operator's default.
std::string LoginName();
std::string HostName();

}  // namespace gpsfw::station
