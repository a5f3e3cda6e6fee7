#pragma once

#include <chrono>

namespace gpsfw::platform {

using Deadline = std::chrono::steady_clock::time_point;

// A deadline `ms` milliseconds from now.
Deadline DeadlineAfterMs(long ms);

bool Passed(Deadline deadline);

// Events that mean the device is gone: the driver hung up, or the descriptor is no good.
short HangUpEvents();

// Waits until `fd` reports one of `events` or a hang-up, or until `deadline` passes. A stop
// signal ends the wait through CheckStop (stop_signals.h); any other signal resumes it with
// the time that is left. The events seen, 0 when the deadline passed first (or a stop
// signal ended the wait), -1 when poll() itself failed.
int PollUntil(int fd, short events, Deadline deadline);

}  // namespace gpsfw::platform
