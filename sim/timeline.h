#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <utility>

#include "sim/sim_time.h"

namespace gpsfw::sim {

// The receiver's own work: actions due at moments of simulated time, run in order of time
// and, at equal times, of creation, so that equal inputs always give equal runs.
class Timeline {
 public:
  using Action = std::function<void()>;
  using TimerId = std::pair<SimTime, uint64_t>;
  static constexpr TimerId kNoTimer{kNever, 0};

  SimTime Now() const { return now_; }
  // Never in the past: an action for an earlier moment runs now.
  TimerId Schedule(SimTime at, Action action);
  // Forgets the action, if it has not run, and sets `id` to kNoTimer.
  void Cancel(TimerId& id);
  void Clear() { timers_.clear(); }
  // Runs every action due by `t`, each at its own moment; the clock then stands at `t`.
  void AdvanceTo(SimTime t);
  // The moment of the next action; kNever when none waits.
  SimTime Next() const { return timers_.empty() ? kNever : timers_.begin()->first.first; }

 private:
  SimTime now_ = 0;
  uint64_t nextSequence_ = 0;
  std::map<TimerId, Action> timers_;
};

}  // namespace gpsfw::sim
