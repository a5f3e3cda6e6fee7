#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "tools/gpsfwstation/run/image_check.h"
#include "tools/gpsfwstation/run/unit.h"
#include "tools/gpsfwstation/run/update_tally.h"

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
  std::string station;  // the station's name (--station, or the host's)
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
  // Record rows not yet in the database (in the spool or, when unkept, in memory alone).
  size_t recordWaiting = 0;
  // Ports whose receiver is there and whose loader has not started yet: settling after it
  // appeared, or waiting for the unit's serial (those counted in `awaitingSerial` too, and
  // among the running units of Count()).
  size_t waiting = 0;
  size_t awaitingSerial = 0;
  // Ended updates whose hook for the factory's systems failed and has not succeeded since.
  // Set on the station's loop by whatever runs the hooks; 0 while none does.
  size_t hooksFailing = 0;
  // Every ended update, as counts that outlive the units dropped above.
  UpdateTally tally;
  // Serials scanned at the dashboard for each port's next unit, by port.
  std::map<std::string, std::string> nextSerials;

  Totals Count() const;
  // Every unit of the run, also those no longer kept.
  size_t Updates() const { return units.size() + forgottenUnits; }
  // Drops the oldest ended units beyond kKeptEnded, counting them first; returns them so
  // that the views forget what they keep of them.
  std::vector<std::unique_ptr<Unit>> DropOldEnded();
};

}  // namespace gpsfw::station
