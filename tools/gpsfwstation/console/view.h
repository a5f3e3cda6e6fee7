#pragma once

#include <cstdio>
#include <memory>
#include <string>

#include "tools/gpsfwstation/run/board.h"

namespace gpsfw::station {

// What the operator sees while the station runs.
class View {
 public:
  virtual ~View() = default;
  virtual void Started(const Board& board, const Unit& unit) = 0;
  virtual void PhaseChanged(const Board& board, const Unit& unit) = 0;
  virtual void Ended(const Board& board, const Unit& unit) = 0;
  // A line of the station's own (a port that appeared, a stop asked for).
  virtual void Note(const Board& board, const std::string& text) = 0;
  // Called on every turn of the station's loop; draws when it is time.
  virtual void Refresh(const Board& board, Clock::time_point now) = 0;
  // When the view wants to draw next, if nothing happens before.
  virtual Clock::time_point NextRefresh(Clock::time_point now) const = 0;
  // Draws the last state, before the summary.
  virtual void Finish(const Board& board, Clock::time_point now) = 0;
  // The board no longer keeps `unit` (an old ended one): whatever the view keeps of it goes.
  virtual void Forget(const Unit&) {}
};

// The rewritten table on a terminal (written to `fd`).
std::unique_ptr<View> MakeLiveView(int fd);
// One line per port per phase change, for logs and pipes.
std::unique_ptr<View> MakePlainView(std::FILE* out);

}  // namespace gpsfw::station
