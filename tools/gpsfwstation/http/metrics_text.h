#pragma once

#include <string>

#include "tools/gpsfwstation/run/board.h"

namespace gpsfw::station {

// What a Prometheus server reads: the text exposition format, version 0.0.4.
inline constexpr char kMetricsContentType[] = "text/plain; version=0.0.4; charset=utf-8";

// The station's figures, every name prefixed gpsfwstation_: the updates ended by result and
// port, the failures by reason, the duration histogram by result, the retries and wake-ups
// by port, the units running and waiting, the record's rows waiting and unkept, the hooks
// failing, the image's checksum and the start time. The counters come from the board's tally
// and only grow for as long as the station runs.
std::string MetricsText(const Board& board);

// A label's value as the format quotes it: backslash, double quote and newline escaped, and
// any byte that is no UTF-8 read as Latin-1 (a scrape with one bad label is refused whole).
std::string MetricsLabelValue(const std::string& value);

}  // namespace gpsfw::station
