#include "tools/gpsfwstation/http/event_stream.h"

#include <algorithm>
#include <cstring>

namespace gpsfw::station {
namespace {

constexpr int kLooksPerWait = 4;

}  // namespace

long EventStream::Read(char* out, size_t max) {
  while (sent_ == pending_.size()) {
    if (closed_) return kEnded;
    Next();
    if (left_) return kGone;
  }
  const size_t count = std::min(max, pending_.size() - sent_);
  std::memcpy(out, pending_.data() + sent_, count);
  sent_ += count;
  return static_cast<long>(count);
}

void EventStream::Next() {
  pending_.clear();
  sent_ = 0;
  DashboardHub::Snapshot now;
  if (first_) {
    first_ = false;
    pending_ = "retry: 2000\n\n";
    now = hub_.Current();
  } else {
    now = Wait();
    if (left_) return;
  }
  if (now.state && now.stateVersion != seen_.stateVersion) {
    pending_ += "event: state\ndata: " + *now.state + "\n\n";
  }
  if (now.history && now.historyVersion != seen_.historyVersion) {
    pending_ += "event: history\ndata: " + *now.history + "\n\n";
  }
  if (now.stations && now.stationsVersion != seen_.stationsVersion) {
    pending_ += "event: stations\ndata: " + *now.stations + "\n\n";
  }
  // The station's last word (its final state) still goes out as the stream ends.
  if (pending_.empty() && !closed_) pending_ = ": keepalive\n\n";
  seen_ = now;
}

DashboardHub::Snapshot EventStream::Wait() {
  DashboardHub::Snapshot now;
  for (int look = 0; look < kLooksPerWait; ++look) {
    now = hub_.WaitNewer(seen_, quiet_ / kLooksPerWait, closed_);
    const bool newer = now.stateVersion != seen_.stateVersion ||
                       now.historyVersion != seen_.historyVersion ||
                       now.stationsVersion != seen_.stationsVersion;
    if (closed_ || newer) break;
    if (gone_ && gone_()) {
      left_ = true;
      break;
    }
  }
  return now;
}

}  // namespace gpsfw::station
