#include "platform/posix/deadline_poll.h"

#include <poll.h>

#include <cerrno>

#include "platform/stop_signals.h"

namespace gpsfw::platform {
namespace {

// A stop signal ends a poll at once (EINTR); should it arrive just before the poll begins,
// the wait still ends within one slice. The slice is long because each one is a
// wake-up of the host, and a station runs many loaders side by side.
constexpr long kStopCheckSliceMs = 1000;

// poll() counts whole milliseconds; rounding the time left up keeps a wait from ending
// early and from spinning on a time-out of zero just before the deadline.
int SliceMsUntil(Deadline deadline) {
  const auto left = deadline - std::chrono::steady_clock::now();
  if (left <= left.zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > kStopCheckSliceMs ? static_cast<int>(kStopCheckSliceMs) : static_cast<int>(ms);
}

}  // namespace

Deadline DeadlineAfterMs(long ms) {
  return std::chrono::steady_clock::now() + std::chrono::milliseconds(ms);
}

bool Passed(Deadline deadline) {
  return std::chrono::steady_clock::now() >= deadline;
}

short HangUpEvents() {
  return POLLHUP | POLLERR | POLLNVAL;
}

int PollUntil(int fd, short events, Deadline deadline) {
  for (;;) {
    if (CheckStop()) return 0;
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, SliceMsUntil(deadline));
    const int error = errno;
    if (CheckStop()) return 0;
    if (ready > 0) return entry.revents;
    if (ready == 0 && Passed(deadline)) return 0;
    if (ready < 0 && error != EINTR) return -1;
  }
}

}  // namespace gpsfw::platform
