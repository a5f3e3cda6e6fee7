#include "sim/flash_eraser.h"

#include <algorithm>

#include "protocol/link_codes.h"
#include "sim/receiver_core.h"

namespace gpsfw::sim {

void FlashEraser::Start(uint32_t start, uint32_t end) {
  Flash& flash = core_.FlashMemory();
  EraseEntry entry;
  entry.start = start;
  entry.end = end;
  entry.timeNs = core_.Now();
  flash.SectorsOverlapping(start, end, &entry.firstSector, &entry.sectors);
  flash.BeginErase(start, end);
  target_ = entry.sectors;
  faultByte_ = -1;
  PlannedFault fault;
  if (core_.Plan().Take(FaultKind::kEraseFault, ReceiverPhase::kErasing, 0, &fault)) {
    target_ = static_cast<uint32_t>(std::min<int64_t>(fault.amount, entry.sectors));
    faultByte_ = fault.byte;
    entry.failed = true;
  }
  core_.Results().erases.push_back(entry);
  core_.SetMode(Mode::kErasing);
  sectorDoneAt_ = core_.TxIdleAt();
  ResetTo to = ResetTo::kApplication;
  if (core_.TakeResetAt(Mode::kErasing, 0, &to)) return core_.Reset(to);
  if (target_ == 0) return Finish();
  core_.Timers().Schedule(sectorDoneAt_ + UsToNs(core_.Times().eraseSectorUs),
                          [this] { EraseNextSector(); });
}

// One sector is done: the SFLD reports it, then starts on the next or ends the erase.
void FlashEraser::EraseNextSector() {
  EraseEntry& entry = core_.Results().erases.back();
  ResetTo to = ResetTo::kApplication;
  if (core_.TakeResetAt(Mode::kErasing, entry.sectorsErased, &to)) return core_.Reset(to);
  core_.FlashMemory().EraseSector(entry.firstSector + entry.sectorsErased);
  ++entry.sectorsErased;
  sectorDoneAt_ = core_.Now();
  core_.Send(&SECTOR_ERASED_CODE, 1, core_.Now());
  if (entry.sectorsErased == target_) return Finish();
  core_.Timers().Schedule(core_.Now() + UsToNs(core_.Times().eraseSectorUs),
                          [this] { EraseNextSector(); });
}

void FlashEraser::Finish() {
  const SimTime answerAt = sectorDoneAt_ + UsToNs(core_.Times().replyUs);
  if (faultByte_ >= 0) {
    const uint8_t byte = static_cast<uint8_t>(faultByte_);
    core_.Send(&byte, 1, answerAt);
    core_.Sfld().Fallback("erase abandoned after " +
                          std::to_string(core_.Results().erases.back().sectorsErased) + " sectors");
    return;
  }
  core_.Send(&SYNC_CODE, 1, answerAt);
  core_.Exchange().BeginAttempt();
  core_.Exchange().Restart();
  core_.SwitchAt(core_.TxIdleAt(), Mode::kFlashRecords, kFlashBaud, kPhaseProgramming,
                 Mode::kErasing);
}

}  // namespace gpsfw::sim
