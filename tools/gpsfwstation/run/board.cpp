#include "tools/gpsfwstation/run/board.h"

namespace gpsfw::station {

Totals Board::Count() const {
  Totals totals = forgotten;
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

std::vector<std::unique_ptr<Unit>> Board::DropOldEnded() {
  std::vector<std::unique_ptr<Unit>> dropped;
  size_t ended = 0;
  for (const auto& unit : units) ended += unit->result == Result::kRunning ? 0 : 1;
  for (auto it = units.begin(); it != units.end() && ended > kKeptEnded;) {
    if ((*it)->result == Result::kRunning) {
      ++it;
      continue;
    }
    ++((*it)->result == Result::kCompleted ? forgotten.completed : forgotten.failed);
    ++forgottenUnits;
    --ended;
    dropped.push_back(std::move(*it));
    it = units.erase(it);
  }
  return dropped;
}

}  // namespace gpsfw::station
