#pragma once

#include <cstdint>

namespace gpsfw {

// The long waits of the core (a verdict, a poll round, a quiet gap, an erase) tell the
// observer what they wait for, so that a view can show its clock running; at most about
// once a second, so that the wait's own timing stays as it is.

// When one run last reported a wait; the run's serial link keeps it.
struct WaitingPace {
  uint64_t lastReportUs = 0;
  bool reported = false;
};

// True when a report is due now: a second or more since the last one.
bool WaitingReportDue(WaitingPace& pace);
// Tells the observer that `what` is awaited since `sinceUs`, when a report is due.
void ReportWaiting(WaitingPace& pace, const char* what, uint64_t sinceUs);

}  // namespace gpsfw
