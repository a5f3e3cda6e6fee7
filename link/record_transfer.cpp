#include "link/record_transfer.h"

#include <cstdio>

#include <cwchar>

#include "link/port_loss.h"
#include "platform/clock.h"
#include "protocol/host_timing.h"
#include "protocol/link_codes.h"
#include "report/progress_log.h"
#include "report/waiting.h"

namespace gpsfw {
namespace {

struct Verdict {
  uint8_t code;
  const wchar_t* message;
};

constexpr Verdict kRejections[] = {
    {BAD_CSUM, L"ERROR: BAD_CSUM"},       {BAD_LENGTH, L"ERROR: BAD_LENGTH"},
    {BAD_COMMAND, L"ERROR: BAD_COMMAND"}, {RECORD_TIMEOUT, L"ERROR: RECORD_TIMEOUT"},
    {NO_REC_END, L"ERROR: NO_REC_END"},
};

const wchar_t* RejectionMessage(uint8_t byte) {
  for (const Verdict& verdict : kRejections) {
    if (verdict.code == byte) return verdict.message;
  }
  return nullptr;
}

void DiscardBothDirections(SerialLink& link) {
  PurgePort(link, PURGE_RXABORT | PURGE_RXCLEAR);
  PurgePort(link, PURGE_TXABORT | PURGE_TXCLEAR);
}

void SendFrame(SerialLink& link, const RecordPacket& packet) {
  WriteBlock(link, packet.frame, packet.length);
}

void LogAccepted(const RecordPacket& packet) {
  wchar_t line[32];
  std::swprintf(line, sizeof line / sizeof line[0], L"Address:0x%08X.", packet.address);
  LogWide(line);
}

// The target keeps sending REC_WAIT_CODE while it still waits for the frame; past the
// tolerance the frame is taken as lost and sent again, once per further REC_WAIT_CODE.
void ResendAfterFlood(SerialLink& link, const RecordPacket& packet) {
  FlushPort(link);
  DiscardBothDirections(link);
  platform::SleepMs(kResendPauseMs);
  LogWide(L"REC_WAIT break");
  SendFrame(link, packet);
}

constexpr RecordVerdict kNoVerdict{RecordOutcome::kNoVerdict, 0};

void TellWaitingForVerdict(SerialLink& link, const RecordPacket& packet, uint64_t sinceUs) {
  if (!WaitingReportDue(link.waiting)) return;
  char what[48];
  std::snprintf(what, sizeof what, "the verdict on record 0x%08X",
                static_cast<unsigned>(packet.address));
  Observe().OnWaiting(what, sinceUs);
}

RecordVerdict AwaitVerdict(SerialLink& link, const RecordPacket& packet) {
  int recWaits = 0;
  const uint64_t deadline = platform::NowUs() + kVerdictLimitUs;
  for (;;) {
    uint8_t byte = 0;
    if (!ReadByte(link, byte)) {
      if (platform::NowUs() >= deadline || PortLossPending(link)) return kNoVerdict;
      TellWaitingForVerdict(link, packet, deadline - kVerdictLimitUs);
      platform::SleepMs(kEmptyReadPauseMs);
      continue;
    }
    if (byte == SYNC_CODE) {
      LogAccepted(packet);
      return RecordVerdict{RecordOutcome::kAccepted, byte};
    }
    if (const wchar_t* message = RejectionMessage(byte)) {
      LogWide(message);
      return RecordVerdict{RecordOutcome::kRejected, byte};
    }
    if (platform::NowUs() >= deadline) return kNoVerdict;
    if (byte == REC_WAIT_CODE && ++recWaits > kRecWaitTolerance) ResendAfterFlood(link, packet);
  }
}

// Brings the target back to waiting for a record: every byte but REC_WAIT_CODE is answered
// with SYNC_CODE. A line that stays silent ends the pass early, as does a lost port.
void RecoveryPass(SerialLink& link) {
  const uint64_t startUs = platform::NowUs();
  uint64_t lastHeardUs = startUs;
  for (int cycle = 0; cycle < kRecoveryCycles && !PortLossPending(link); ++cycle) {
    if (platform::NowUs() - startUs >= kRecoveryPassLimitUs) {
      link.talkedOverRecovery = true;
      return;
    }
    uint8_t byte = 0;
    if (ReadByte(link, byte)) {
      if (byte == REC_WAIT_CODE) return;
      lastHeardUs = platform::NowUs();
      wchar_t line[32];
      std::swprintf(line, sizeof line / sizeof line[0], L"Rcv:%d %lc", cycle,
                    static_cast<wint_t>(byte));
      LogWide(line);
      WriteByte(link, SYNC_CODE);
    } else if (platform::NowUs() - lastHeardUs >= kRecoverySilenceUs) {
      return;
    }
    platform::SleepMs(kRecoveryCycleMs);
  }
}

}  // namespace

RecordVerdict ExchangeRecord(SerialLink& link, const RecordPacket& packet) {
  DiscardBothDirections(link);
  platform::SleepMs(kRecordSettleMs);
  WriteByte(link, SYNC_CODE);
  if (!WaitForByte(link, REC_WAIT_CODE)) return RecordVerdict{RecordOutcome::kNoRequest, 0};
  SendFrame(link, packet);
  return AwaitVerdict(link, packet);
}

bool SendRecord(SerialLink& link, const RecordPacket& packet) {
  return ExchangeRecord(link, packet).Accepted();
}

RecordVerdict SendRecordChecked(SerialLink& link, const RecordPacket& packet) {
  const RecordVerdict verdict = ExchangeRecord(link, packet);
  if (verdict.Accepted()) return verdict;
  LogWide(L"Repeat Sending Record.");
  RecoveryPass(link);
  return verdict;
}

}  // namespace gpsfw
