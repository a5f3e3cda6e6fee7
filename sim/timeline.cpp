#include "sim/timeline.h"

#include <algorithm>

namespace gpsfw::sim {

Timeline::TimerId Timeline::Schedule(SimTime at, Action action) {
  const TimerId id{std::max(at, now_), nextSequence_++};
  timers_.emplace(id, std::move(action));
  return id;
}

void Timeline::Cancel(TimerId& id) {
  timers_.erase(id);
  id = kNoTimer;
}

void Timeline::AdvanceTo(SimTime t) {
  while (!timers_.empty() && timers_.begin()->first.first <= t) {
    auto node = timers_.extract(timers_.begin());
    now_ = std::max(now_, node.key().first);
    node.mapped()();
  }
  now_ = std::max(now_, t);
}

}  // namespace gpsfw::sim
