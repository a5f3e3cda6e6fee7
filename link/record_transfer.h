#pragma once

#include "link/serial_port.h"
#include "protocol/record_packet.h"
#include "report/observer.h"

namespace gpsfw {

// How one record exchange ended, and the target's byte when it answered.
struct RecordVerdict {
  RecordOutcome outcome = RecordOutcome::kAccepted;
  uint8_t byte = 0;
  bool Accepted() const { return outcome == RecordOutcome::kAccepted; }
};

// One exchange: announce, wait for REC_WAIT_CODE, send the frame, wait for the verdict.
RecordVerdict ExchangeRecord(SerialLink& link, const RecordPacket& packet);
// ExchangeRecord, true when the target accepted the record.
bool SendRecord(SerialLink& link, const RecordPacket& packet);
// ExchangeRecord, and after a failure a recovery pass that brings the target back to waiting
// for a record. The record itself is not sent again.
RecordVerdict SendRecordChecked(SerialLink& link, const RecordPacket& packet);

}  // namespace gpsfw
