#pragma once

#include <nlohmann/json.hpp>

#include "tools/gpsfwstation/record/update_row.h"

namespace gpsfw::station::record {

// A row as JSON: the spool's lines, `history --json` and the dashboard's API share it.
nlohmann::ordered_json RowJson(const UpdateRow& row, bool withLog);
// Throws nlohmann::json::exception on a line that is no row.
UpdateRow RowFromJson(const nlohmann::json& j);

// Text as both databases take it: valid UTF-8 passes, any other byte is read as Latin-1,
// and NUL bytes go (a PostgreSQL text holds none).
std::string CleanText(const std::string& text);

}  // namespace gpsfw::station::record
