#include "tools/gpsfwstation/run/update_tally.h"

#include <algorithm>

namespace gpsfw::station {
namespace {

void CountDuration(DurationCounts& counts, double seconds) {
  size_t bucket = 0;
  while (bucket < kDurationBounds.size() && seconds > kDurationBounds[bucket]) ++bucket;
  ++counts.counts[bucket];
  counts.sum += seconds;
  ++counts.count;
}

}  // namespace

void UpdateTally::Add(const Unit& unit) {
  if (unit.result == Result::kRunning) return;
  PortTally& port = ports[unit.port];
  ++port.ended[unit.result];
  if (unit.result != Result::kCompleted) {
    std::string reason = ReasonCode(unit);
    if (port.failures.count(reason) == 0 && port.failures.size() >= kMaxReasons) {
      reason = "other";
    }
    ++port.failures[reason];
  }
  // The loader's counts are never negative, whatever its stream said.
  port.retries += static_cast<uint64_t>(std::max(unit.progress.retries, 0));
  port.wakes += static_cast<uint64_t>(std::max(unit.progress.wakes, 0));
  CountDuration(durations[unit.result], unit.Seconds(unit.end));
}

}  // namespace gpsfw::station
