#pragma once

#include <condition_variable>
#include <mutex>
#include <string>
#include <thread>

#include "tools/gpsfwstation/http/dashboard_hub.h"
#include "tools/gpsfwstation/http/dashboard_json.h"

namespace gpsfw::station {

// Reads the record's last updates and each port's yield on a thread of its own, when a unit
// has ended and every few seconds (other stations write to a shared record too), and hands
// them to the hub. However many browsers look, the database is asked once per change; a slow
// or unreachable database delays the history, never the station.
class HistoryReader {
 public:
  // With `serveInfo`, also the page's state of a `serve` (no station, totals from the record).
  HistoryReader(std::string where, DashboardHub& hub, const DashboardInfo* serveInfo = nullptr);
  ~HistoryReader();

  void Changed();  // a unit has ended: read again now

 private:
  void Loop();
  void ReadOnce();

  std::string where_;
  DashboardHub& hub_;
  bool serve_;
  DashboardInfo info_;
  std::chrono::steady_clock::time_point start_ = std::chrono::steady_clock::now();
  std::mutex mutex_;
  std::condition_variable wake_;
  bool changed_ = true;
  bool stop_ = false;
  std::string lastError_;
  std::thread thread_;
};

}  // namespace gpsfw::station
