#include "front/protocol_names.h"

#include "platform/serial_driver.h"
#include "protocol/link_codes.h"

namespace gpsfw {
namespace {

struct ByteName {
  uint8_t byte;
  const char* name;
};

constexpr ByteName kVerdicts[] = {
    {BAD_CSUM, "BAD_CSUM"},       {BAD_LENGTH, "BAD_LENGTH"},
    {BAD_COMMAND, "BAD_COMMAND"}, {RECORD_TIMEOUT, "RECORD_TIMEOUT"},
    {NO_REC_END, "NO_REC_END"},
};

struct FlagName {
  uint32_t flag;
  const char* name;
};

constexpr FlagName kLineErrors[kLineErrorKinds] = {
    {platform::kCeBreak, "CE_BREAK"},       {platform::kCeFrame, "CE_FRAME"},
    {platform::kCeOverrun, "CE_OVERRUN"},   {platform::kCeRxOver, "CE_RXOVER"},
    {platform::kCeRxParity, "CE_RXPARITY"}, {platform::kCeTxFull, "CE_TXFULL"},
};

}  // namespace

const char* PhaseName(UpdatePhase phase) {
  switch (phase) {
    case UpdatePhase::kPreparing:
      return "preparing";
    case UpdatePhase::kWaking:
      return "waking";
    case UpdatePhase::kPolling:
      return "polling";
    case UpdatePhase::kSfldUpload:
      return "sfld_upload";
    case UpdatePhase::kWaitingForSfld:
      return "waiting_for_sfld";
    case UpdatePhase::kFlashQueries:
      return "flash_queries";
    case UpdatePhase::kErasing:
      return "erasing";
    case UpdatePhase::kProgramming:
      return "programming";
    case UpdatePhase::kPortLost:
      return "port_lost";
    case UpdatePhase::kDone:
      return "done";
  }
  return "unknown";
}

const char* VerdictName(uint8_t byte) {
  for (const ByteName& verdict : kVerdicts) {
    if (verdict.byte == byte) return verdict.name;
  }
  return nullptr;
}

const char* OutcomeName(const RecordReport& record) {
  switch (record.outcome) {
    case RecordOutcome::kAccepted:
      return "accepted";
    case RecordOutcome::kRejected: {
      const char* name = VerdictName(record.verdict);
      return name != nullptr ? name : "rejected";
    }
    case RecordOutcome::kNoRequest:
      return "no_request";
    case RecordOutcome::kNoVerdict:
      return "no_verdict";
  }
  return "unknown";
}

const char* RecordKindName(int index) {
  if (index == kEndRecordIndex) return "end";
  if (index == kEraseRecordIndex) return "erase";
  return "data";
}

size_t LineErrorNames(uint32_t flags, const char* names[kLineErrorKinds]) {
  size_t count = 0;
  for (const FlagName& error : kLineErrors) {
    if ((flags & error.flag) != 0) names[count++] = error.name;
  }
  return count;
}

}  // namespace gpsfw
