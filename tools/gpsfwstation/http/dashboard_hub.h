#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

namespace gpsfw::station {

// The one place where the station's loop and the web server meet. The loop (or the history
// reader) hands over finished JSON texts; the server's threads take the latest ones. Neither
// side ever waits on the other for longer than a copy of two pointers: a browser, however
// slow, cannot hold up an update.
class DashboardHub {
 public:
  struct Snapshot {
    uint64_t stateVersion = 0;
    uint64_t historyVersion = 0;
    std::shared_ptr<const std::string> state;
    std::shared_ptr<const std::string> history;
    // The station's figures for Prometheus; null where there is no station (a `serve`).
    std::shared_ptr<const std::string> metrics;
    uint64_t stationsVersion = 0;
    std::shared_ptr<const std::string> stations;  // the record's stations; null without one
  };

  void SetState(std::string json);
  void SetHistory(std::string json);
  // Wakes no stream: the page does not show them.
  void SetMetrics(std::string text);
  void SetStations(std::string json);
  Snapshot Current() const;
  // Waits until any text is newer than `seen`, the hub is closed or `timeout` passed.
  // Returns the snapshot then; `closed` tells a server thread to end its stream.
  Snapshot WaitNewer(const Snapshot& seen, std::chrono::milliseconds timeout, bool& closed);
  // Ends every waiting stream: the station is going.
  void Close();

 private:
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Snapshot now_;
  bool closed_ = false;
};

}  // namespace gpsfw::station
