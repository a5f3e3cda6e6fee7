#include "sim/fault_plan.h"

namespace gpsfw::sim {
namespace {

PlannedFault AtRecord(FaultKind kind, const RecordPoint& point) {
  PlannedFault fault;
  fault.kind = kind;
  fault.phase = RecordPhase(point);
  fault.position = point.index;
  return fault;
}

void AddRecordFaults(const Faults& faults, FaultPlan& plan) {
  for (const RecordFault& f : faults.rejects) {
    PlannedFault fault = AtRecord(FaultKind::kReject, f.at);
    fault.byte = f.errorByte;
    fault.always = f.always;
    plan.Add(fault);
  }
  for (const FloodFault& f : faults.floods) {
    PlannedFault fault = AtRecord(FaultKind::kFlood, f.at);
    fault.amount = f.count;
    plan.Add(fault);
  }
  for (const SilenceFault& f : faults.silences) {
    const bool early = f.when == SilenceWhen::kBeforeRecWait;
    PlannedFault fault =
        AtRecord(early ? FaultKind::kSilenceBeforeRecWait : FaultKind::kSilenceBeforeVerdict, f.at);
    fault.amount = f.ms;
    plan.Add(fault);
  }
  for (const ResetFault& f : faults.resets) {
    PlannedFault fault = AtRecord(FaultKind::kResetAfterVerdict, f.at);
    fault.to = f.to;
    plan.Add(fault);
  }
}

void AddRoleFaults(const Faults& faults, FaultPlan& plan) {
  for (const ResetAtFault& f : faults.resetsAt) {
    plan.Add({FaultKind::kResetAt, f.phase, f.position, 0, 0, f.to, false});
  }
  for (uint32_t poll : faults.straySyncPolls) {
    plan.Add({FaultKind::kStraySync, ReceiverPhase::kBootPoll, poll, 0, 0, {}, false});
  }
  for (const EraseFault& f : faults.eraseFaults) {
    plan.Add({FaultKind::kEraseFault,
              ReceiverPhase::kErasing,
              kAnyPosition,
              f.afterSectors,
              f.byte,
              {},
              false});
  }
  for (int i = 0; i < faults.missingBootModeEchoes; ++i) {
    plan.Add(
        {FaultKind::kNoBootModeEcho, ReceiverPhase::kFlashCommands, kAnyPosition, 0, 0, {}, false});
  }
  for (int i = 0; i < faults.missingEraseSyncs; ++i) {
    plan.Add(
        {FaultKind::kNoEraseSync, ReceiverPhase::kFlashCommands, kAnyPosition, 0, 0, {}, false});
  }
}

}  // namespace

ReceiverPhase RecordPhase(const RecordPoint& point) {
  if (point.stage == Stage::kSfld) return ReceiverPhase::kSfldUpload;
  return point.index == kEraseRecord ? ReceiverPhase::kEraseRecord : ReceiverPhase::kProgramming;
}

FaultPlan::FaultPlan(const Faults& faults) {
  AddRecordFaults(faults, *this);
  AddRoleFaults(faults, *this);
  if (faults.faultsForMs != 0) endNs_ = MsToNs(faults.faultsForMs);
}

void FaultPlan::ExpireAt(SimTime now) {
  if (now >= endNs_) faults_.clear();
}

bool FaultPlan::Take(FaultKind kind, ReceiverPhase phase, int64_t position, PlannedFault* fault) {
  for (auto it = faults_.begin(); it != faults_.end(); ++it) {
    if (it->kind != kind || it->phase != phase) continue;
    if (it->position != kAnyPosition && it->position != position) continue;
    *fault = *it;
    if (!it->always) faults_.erase(it);
    return true;
  }
  return false;
}

}  // namespace gpsfw::sim
