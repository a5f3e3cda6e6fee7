#pragma once

#include <string>
#include <vector>

#include "tools/gpsfwstation/run/board.h"

namespace gpsfw::station {

// The lines of the live view: two header lines, the column titles and one row per unit,
// each line at most `width` bytes. When the rows do not fit in `height` lines, completed
// rows go first, then the oldest, and a last line tells how many are not shown.
std::vector<std::string> LiveLines(const Board& board, Clock::time_point now, size_t width,
                                   size_t height);

}  // namespace gpsfw::station
