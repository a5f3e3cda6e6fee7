#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "tools/gpsfwstation/http/dashboard_hub.h"

namespace gpsfw::station {

// One browser's Server-Sent Events: the latest state and history as they change, the newest
// only when the browser falls behind. Read from the connection's own thread, which it holds
// while nothing changes.
class EventStream {
 public:
  static constexpr long kEnded = -1;
  static constexpr long kGone = -2;

  // `quiet` bounds each wait: when nothing changed for that long, a comment goes out, so that
  // a quiet stream keeps moving bytes and only a browser that takes nothing looks idle to the
  // server's idle bound. `gone` tells, several times within it, whether the browser closed the
  // connection, so that its place is given to the next one at once.
  EventStream(DashboardHub& hub, std::chrono::milliseconds quiet, std::function<bool()> gone)
      : hub_(hub), quiet_(quiet), gone_(std::move(gone)) {}

  // Up to `max` bytes of the stream; kEnded once the station closed the hub and its final
  // state has been handed out, kGone once the browser went. Never 0: there is always
  // something after a wait.
  long Read(char* out, size_t max);

 private:
  void Next();
  DashboardHub::Snapshot Wait();

  DashboardHub& hub_;
  std::chrono::milliseconds quiet_;
  std::function<bool()> gone_;
  DashboardHub::Snapshot seen_;
  std::string pending_;
  size_t sent_ = 0;
  bool first_ = true;
  bool closed_ = false;
  bool left_ = false;  // the browser went
};

}  // namespace gpsfw::station
