#pragma once

#include <cstdint>

#include "sim/sim_time.h"

namespace gpsfw::sim {

class ReceiverCore;

// The SFLD erasing the range of an erase record: one sector at a time, each reported with
// SECTOR_ERASED_CODE, then SYNC_CODE and the programming of records. A planned erase fault
// ends it early with another byte, and the SFLD falls back.
class FlashEraser {
 public:
  explicit FlashEraser(ReceiverCore& core) : core_(core) {}

  void Start(uint32_t start, uint32_t end);

 private:
  void EraseNextSector();
  void Finish();

  ReceiverCore& core_;
  uint32_t target_ = 0;       // sectors this erase gets through before it ends or fails
  SimTime sectorDoneAt_ = 0;  // when the latest sector of the erase was done
  int faultByte_ = -1;        // what ends this erase instead of SYNC_CODE, -1 for nothing
};

}  // namespace gpsfw::sim
