#include "platform/deadline_poll.h"

#include <poll.h>

#include <cerrno>
#include <climits>

namespace gpsfw::platform {
namespace {

// poll() counts whole milliseconds; rounding the time left up keeps a wait from ending
// early and from spinning on a time-out of zero just before the deadline.
int MsUntil(Deadline deadline) {
  const auto left = deadline - std::chrono::steady_clock::now();
  if (left <= left.zero()) return 0;
  const auto ms = std::chrono::ceil<std::chrono::milliseconds>(left).count();
  return ms > INT_MAX ? INT_MAX : static_cast<int>(ms);
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
    pollfd entry{fd, events, 0};
    const int ready = ::poll(&entry, 1, MsUntil(deadline));
    if (ready > 0) return entry.revents;
    if (ready == 0) return 0;
    if (errno != EINTR) return -1;
  }
}

}  // namespace gpsfw::platform
