#include "tools/gpsfwstation/board.h"

namespace gpsfw::station {

Totals Board::Count() const {
  Totals totals;
  for (const auto& unit : units) {
    if (unit->result == Result::kRunning) {
      ++totals.running;
    } else if (unit->result == Result::kCompleted) {
      ++totals.completed;
    } else {
      ++totals.failed;
    }
  }
  return totals;
}

}  // namespace gpsfw::station
