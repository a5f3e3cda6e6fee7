#pragma once

#include <memory>
#include <set>
#include <string>

#include "tools/gpsfwstation/cli/station_options.h"
#include "tools/gpsfwstation/record/record_writer.h"
#include "tools/gpsfwstation/run/board.h"
#include "tools/gpsfwstation/run/unit_row.h"

namespace gpsfw::station {

// Opens the record that --db names, brings its schema up to date, notes this station's
// start and marks the rows that a dead station of this host left running as interrupted
// (except those in `adopted`, whose loaders still run).
// nullptr with the reason when the record cannot be opened or written: the station then
// ends before any port is touched. Rows the record could not take go to a spool in the log
// folder.
std::unique_ptr<record::RecordWriter> OpenStationRecord(const StationOptions& options,
                                                        const RecordContext& context,
                                                        const std::set<std::string>& adopted,
                                                        std::string& error);

// One row for the station, not one per port, for an image it refused.
void RecordRefusedImage(record::RecordWriter& writer, const Board& board,
                        const RecordContext& context, const std::string& why);

// Waits a bounded time for the rows to reach the database and says where they are.
std::string RecordSummary(record::RecordWriter& writer, const StationOptions& options,
                          bool stopping = false);

}  // namespace gpsfw::station
