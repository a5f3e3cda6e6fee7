#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <vector>

#include "sim/line.h"
#include "sim/receiver.h"
#include "sim/wire_log.h"
#include "tools/gpsfwsim/pty_link.h"

namespace gpsfw::simtool {

enum class ServeEnd { kCompleted, kTimeLimit, kSignal };

struct ServeOptions {
  bool once = false;
  double timeLimitSeconds = 0;  // 0: none
  // Called with each receiver event as it happens.
  std::function<void(const sim::SimEvent&)> onEvent;
};

// Serves the receiver model on the pty in real time. Simulated time is the time since the
// server started. A byte the host writes is taken to start when it is read from the master
// (or behind the host's previous byte) and to take 10 bit times at the rate the host has set
// at that moment; the receiver's bytes are written to the master when their stop bit ends,
// garbled when the host listens at another rate.
class PtyServer {
 public:
  PtyServer(PtyLink& link, sim::Receiver& receiver);

  // Runs until a stop signal, the time limit, or (with `once`) the first completed
  // update has been read by the host.
  ServeEnd Run(const ServeOptions& options);

  // The line's bytes so far, in runs.
  const std::vector<sim::WireRun>& Runs() const { return runs_; }
  sim::SimTime Now() const;

 private:
  void ReadHost();
  void Advance(const ServeOptions& options);
  void WriteToHost(const std::vector<sim::HostByte>& bytes);
  bool CompletionDelivered(sim::SimTime completedAt);

  PtyLink& link_;
  sim::Line line_;
  std::chrono::steady_clock::time_point start_;
  std::vector<sim::HostByte> toHost_;
  std::vector<sim::WireRun> runs_;
  size_t eventsSeen_ = 0;
  sim::SimTime completionSeenAt_ = sim::kNever;
};

// Makes SIGINT, SIGTERM and SIGHUP end Run, so that the link is removed; call before the
// link is made.
void CatchStopSignals();

}  // namespace gpsfw::simtool
