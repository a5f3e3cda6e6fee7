#include "sim/sim_result.h"

#include "protocol/link_codes.h"

namespace gpsfw::sim {

int SimResult::Accepted(Stage stage) const {
  int count = 0;
  for (const RecordEntry& record : records) {
    if (record.stage == stage && record.verdict == SYNC_CODE) ++count;
  }
  return count;
}

int SimResult::Rejected(Stage stage) const {
  int count = 0;
  for (const RecordEntry& record : records) {
    if (record.stage == stage && record.verdict != SYNC_CODE) ++count;
  }
  return count;
}

const char* StageName(Stage stage) {
  return stage == Stage::kSfld ? "sfld" : "flash";
}

const char* FlashFaultName(FlashFaultKind kind) {
  switch (kind) {
    case FlashFaultKind::kNotErased:
      return "programmed over bytes that were not erased";
    case FlashFaultKind::kOutsideFlash:
      return "data outside the flash";
    case FlashFaultKind::kOutsideEraseRange:
      return "data outside the erase range";
  }
  return "unknown";
}

}  // namespace gpsfw::sim
