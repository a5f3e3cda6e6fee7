#pragma once

#include <cstdint>
#include <vector>

#include "sim/receiver_config.h"
#include "sim/sim_time.h"

namespace gpsfw::sim {

// What a planned fault does, and the point at which the receiver asks for it.
enum class FaultKind {
  kReject,                // a frame is complete: answered with `byte` instead of SYNC_CODE
  kFlood,                 // a frame is complete: `amount` REC_WAIT_CODE instead of a verdict
  kSilenceBeforeRecWait,  // a record is announced: deaf and mute for `amount` ms first
  kSilenceBeforeVerdict,  // a record is accepted: deaf and mute for `amount` ms first
  kResetAfterVerdict,     // a verdict has left: the receiver restarts into `to`
  kResetAt,               // a byte is taken in a role, or the role begins: restart into `to`
  kStraySync,             // the boot loader is polled: a lone SYNC_CODE instead of its answer
  kEraseFault,            // an erase begins: `amount` sectors, then `byte` and the erase ends
  kNoBootModeEcho,        // a boot-mode command arrives: no answer, the SFLD falls back
  kNoEraseSync,           // an erase command arrives: no SYNC_CODE, the SFLD falls back
};

// Any position: the fault strikes at the next point of its kind and phase.
inline constexpr int64_t kAnyPosition = INT64_MIN;

// One fault: its kind, where it strikes (the role, and the record number, byte count, poll
// number or sector count within it) and what it does there.
struct PlannedFault {
  FaultKind kind = FaultKind::kReject;
  ReceiverPhase phase = ReceiverPhase::kApplication;
  int64_t position = kAnyPosition;
  int64_t amount = 0;  // ms, bytes or sectors, by kind
  uint8_t byte = 0;
  ResetTo to = ResetTo::kApplication;
  bool always = false;  // strikes at every attempt instead of once
};

// The faults the receiver has still to show. It asks at each point whether one strikes there;
// a fault that struck is gone unless it strikes always.
class FaultPlan {
 public:
  FaultPlan() = default;
  // The event faults of a configuration. The garbage, the late power-on and the unplugs are
  // conditions, not events: the receiver and the transports read them from the configuration.
  explicit FaultPlan(const Faults& faults);

  void Add(const PlannedFault& fault) { faults_.push_back(fault); }
  // The first fault of `kind` for `position` in `phase`, taken from the plan (unless it
  // strikes always) into `fault`. False when none strikes there.
  bool Take(FaultKind kind, ReceiverPhase phase, int64_t position, PlannedFault* fault);
  bool Take(FaultKind kind, ReceiverPhase phase, int64_t position) {
    PlannedFault ignored;
    return Take(kind, phase, position, &ignored);
  }
  bool Empty() const { return faults_.empty(); }
  // Drops every fault once `now` has reached the end of the plan's time (Faults::faultsForMs).
  void ExpireAt(SimTime now);

 private:
  std::vector<PlannedFault> faults_;
  SimTime endNs_ = kNever;
};

// The role in which the records of `point` are taken: the boot loader's upload, or the SFLD's
// erase record or programming.
ReceiverPhase RecordPhase(const RecordPoint& point);

}  // namespace gpsfw::sim
