#pragma once

#include <nlohmann/json.hpp>
#include <string>

#include "tools/gpsfwstation/run/board.h"

namespace gpsfw::station {

// The station's exit status for the board: 0 only when every unit completed and every port
// named had its unit.
int ExitStatusOf(const Board& board);

// The table printed at the end: one row per unit (port, result, exit status, duration,
// retries, bytes, log), the totals, and the failed ports with their codes and what their
// loaders said on standard error.
std::string SummaryText(const Board& board, Clock::time_point now);

// The same as JSON, for --report.
nlohmann::ordered_json ReportJson(const Board& board, Clock::time_point now);
// Writes beside the target and renames, so that a reader never sees half a report. Throws
// std::runtime_error when it cannot.
void WriteReport(const std::string& path, const nlohmann::ordered_json& report);
// Throws std::runtime_error when a report could not be written at `path`: the folder is
// checked before any port is touched.
void CheckReportPath(const std::string& path);

// "2026-12-08T16:14:56.123Z".
std::string IsoTime(WallClock::time_point time);

}  // namespace gpsfw::station
