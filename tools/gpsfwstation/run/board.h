#pragma once

#include <memory>
#include <string>
#include <vector>

#include "tools/gpsfwstation/run/image_check.h"
#include "tools/gpsfwstation/run/unit.h"

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
  // The running units and the latest ended ones, in the order they started. A station that
  // watches for weeks keeps only the last kKeptEnded ended units: the older ones live on in
  // the record and the logs, and in the totals below.
  std::vector<std::unique_ptr<Unit>> units;
  static constexpr size_t kKeptEnded = 200;
  Totals forgotten;  // the totals of the ended units no longer kept
  size_t forgottenUnits = 0;
  bool watching = false;
  bool stopping = false;      // no new updates are started
  bool imageChanged = false;  // the image file changed on disk after the start
  int expected = 0;           // the ports to flash when not watching: each must have a unit
  // Record rows that neither the database nor the spool took: in this process alone.
  size_t recordUnkept = 0;
  // Rows whose hook (--on-update-end) failed, timed out or could not start in this run.
  int hooksFailing = 0;

  Totals Count() const;
  // Every unit of the run, also those no longer kept.
  size_t Updates() const { return units.size() + forgottenUnits; }
  // Drops the oldest ended units beyond kKeptEnded, counting them first; returns them so
  // that the views forget what they keep of them.
  std::vector<std::unique_ptr<Unit>> DropOldEnded();
};

}  // namespace gpsfw::station
