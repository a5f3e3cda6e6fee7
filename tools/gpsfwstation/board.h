#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/gpsfwstation/image_check.h"
#include "tools/gpsfwstation/unit.h"

namespace gpsfw::station {

struct Totals {
  int completed = 0;
  int failed = 0;  // every ended unit that did not complete
  int running = 0;
};

// What the views and the summary show: the image, the units in the order they started, and
// the station's own state.
struct Board {
  ImageFacts image;
  Clock::time_point start;
  WallClock::time_point startWall;
  std::vector<std::unique_ptr<Unit>> units;
  bool watching = false;
  bool stopping = false;      // no new updates are started
  bool imageChanged = false;  // the image file changed on disk after the start
  int expected = 0;           // the ports to flash when not watching: each must have a unit
  // Record rows that neither the database nor the spool took: in this process alone.
  size_t recordUnkept = 0;

  Totals Count() const;
};

}  // namespace gpsfw::station
