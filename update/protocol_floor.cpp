#include "update/protocol_floor.h"

#include "protocol/host_timing.h"
#include "protocol/link_codes.h"
#include "protocol/record_packet.h"

namespace gpsfw {
namespace {

// The host's line speeds and pauses are those of protocol/host_timing.h, which the session
// and the stages wait on.

// A record exchange besides its frame: SYNC_CODE out, REC_WAIT_CODE in, the verdict in.
constexpr uint64_t kExchangeBytes = 3;
// The shortest replies the host acts on: "$VER" and one separator; 0x91 and the type byte.
constexpr uint64_t kVersionReplyBytes = 5;
constexpr uint64_t kTypeReplyBytes = 2;

FloorStep Step(const char* name, uint64_t bytes, uint32_t baud, uint32_t pauseMs) {
  return {name, bytes, WireSeconds(bytes, baud), pauseMs};
}

// Each wake-up burst: the wake sequence at its rate, a change to the polling rate, the wake
// SYNC_CODE bytes with their spacing; a change of rate before each sequence too.
FloorStep WakeStep() {
  FloorStep step{"wake-up", 0, 0, 0};
  for (uint32_t baud : kWakeBauds) {
    step.bytes += sizeof WAKE_SEQUENCE + kWakeSyncs;
    step.wireSeconds +=
        WireSeconds(sizeof WAKE_SEQUENCE, baud) + WireSeconds(kWakeSyncs, kPollBaud);
    step.pauseMs += 2 * kBaudSettleMs + (kWakeSyncs - 1) * kWakeSyncSpacingMs;
  }
  return step;
}

// Data records and the end record, each with its exchange and its settle pause.
FloorStep RecordStep(const char* name, uint32_t baud, const RecordCensus& census) {
  const uint64_t exchanges = census.records + 1ull;
  return Step(name, census.frameBytes + kExchangeBytes * exchanges, baud,
              static_cast<uint32_t>(kRecordSettleMs * exchanges));
}

uint64_t EraseFrameBytes() {
  RecordPacket packet{};
  MakeEraseRecord(packet, PFLD_BASE, PFLD_BASE);
  return packet.length;
}

}  // namespace

double ProtocolFloor::Seconds() const {
  double total = 0;
  for (const FloorStep& step : steps) total += step.Seconds();
  return total;
}

ProtocolFloor FloorOfUpdate(const RecordCensus& sfld, const RecordCensus& flash, bool pfldMode) {
  const uint64_t bootModeBytes = pfldMode ? 2 : 0;  // BOOT_MODE_CODE and its echo
  return ProtocolFloor{{
      WakeStep(),
      // The boot loader asks for the SFLD at the first poll.
      Step("first poll", 2, kPollBaud, kReplyPauseMs),
      RecordStep("SFLD upload", kPollBaud, sfld),
      // The SYNC_CODE bytes a reply pause apart, then the poll the SFLD answers; then the
      // flash rate.
      Step("SFLD start", kSyncsAfterUpload + 2, kPollBaud,
           (kSyncsAfterUpload + 1) * kReplyPauseMs + kBaudSettleMs),
      Step("flash queries", 2 + kVersionReplyBytes + kTypeReplyBytes + bootModeBytes, kFlashBaud,
           kVersionReplyPauseMs + kTypeReplyPauseMs),
      // SYNC_CODE and ERASE_CODE out, SYNC_CODE in; the erase record; SYNC_CODE at the end.
      Step("erase", 3 + kExchangeBytes + EraseFrameBytes() + 1, kFlashBaud,
           kEraseCommandGapMs + kRecordSettleMs),
      RecordStep("programming", kFlashBaud, flash),
  }};
}

}  // namespace gpsfw
