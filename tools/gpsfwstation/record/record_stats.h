#pragma once

#include <vector>

#include "tools/gpsfwstation/record/update_row.h"

namespace gpsfw::station::record {

// A group stands out when its failure share is at least twice the share of all the other
// groups together, and it has failed at least twice: one failure proves nothing, and a
// fixture that fails more than the rest of the line is what a supervisor looks for.
inline constexpr double kOutlierFactor = 2.0;
inline constexpr int kOutlierMinFailures = 2;

// Yield, durations, retries and failure reasons per group, the groups in key order. Rows
// still running count in `total` only.
std::vector<StatsRow> StatsOf(const std::vector<UpdateRow>& rows, StatsBy by);

// Rows alike in every key and in their result and reason, counted together: what the
// database sums up, so that the statistics of a record of months are not read row by row.
struct RowTally {
  UpdateRow row;  // the keys, the result and the reason
  int count = 0;
  double seconds = 0;  // summed
  double slowest = 0;
  int retries = 0;  // summed
};
std::vector<StatsRow> StatsOf(const std::vector<RowTally>& tallies, StatsBy by);

}  // namespace gpsfw::station::record
