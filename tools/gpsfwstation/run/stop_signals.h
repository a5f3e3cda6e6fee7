#pragma once

#include "platform/unique_fd.h"

namespace gpsfw::station {

// SIGINT, SIGTERM, SIGHUP and SIGCHLD as bytes on a pipe (the signal number), so that the
// station's one poll sees them with its other descriptors. SIGPIPE is ignored: a reader of
// the station's output that goes away ends no update.
class StopSignals {
 public:
  StopSignals();
  ~StopSignals();  // the defaults again
  StopSignals(const StopSignals&) = delete;
  StopSignals& operator=(const StopSignals&) = delete;

  int Fd() const { return read_.Get(); }
  // The next signal caught, or 0 when none is waiting.
  int Next();

 private:
  platform::UniqueFd read_;
  platform::UniqueFd write_;
};

}  // namespace gpsfw::station
