#pragma once

#include <chrono>
#include <memory>
#include <vector>

#include "sim/sim_time.h"
#include "tools/gpsfwsim/pty_unit.h"

namespace gpsfw::simtool {

enum class ServeEnd { kCompleted, kTimeLimit, kSignal };

struct ServeOptions {
  bool once = false;
  double timeLimitSeconds = 0;  // 0: none
};

// Serves receivers, each on its own pty, in one loop in real time: it sleeps until a host
// writes or the next thing one of the receivers does by itself is due.
class PtyServer {
 public:
  explicit PtyServer(std::vector<std::unique_ptr<PtyUnit>>& units);

  // Runs until a stop signal, the time limit, or (with `once`) until every receiver has
  // completed an update and its host has let go of the port.
  ServeEnd Run(const ServeOptions& options);
  // The time since the server started; the receivers' simulated time.
  sim::SimTime Now() const;

 private:
  bool AnyCompleted() const;
  bool AllDone(sim::SimTime now);
  void Wait(sim::SimTime until);

  std::vector<std::unique_ptr<PtyUnit>>& units_;
  std::chrono::steady_clock::time_point start_;
  std::vector<bool> due_;  // the host of this receiver has written since it was served
};

// Makes SIGINT, SIGTERM and SIGHUP end Run, so that the links are removed; call before the
// links are made. The signals are taken only while the server waits.
void CatchStopSignals();

}  // namespace gpsfw::simtool
